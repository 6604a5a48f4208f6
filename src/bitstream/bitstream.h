// Reading a .bit configuration file: the header walk, the device check and
// the bit-reversed configuration data.
#pragma once

#include <cstdint>
#include <cstdio>

#include "korvan.h"  // the reader's statuses are in the library's numbering

constexpr const char *BIT_DEVICE_NAME = "2v1500fg676";
constexpr uint32_t BIT_HEADER_WINDOW = 1024;

korvan_status load_bitstream(korvan_card card, const char *path, uint8_t **buffer, uint32_t *length);
// Where the data lies; a file cut short of the length it declares is
// refused with a line that names it.
korvan_status parse_bit_header(FILE *file, const char *name, uint32_t *dataLength, uint32_t *dataOffset);
void reverse_bits(uint8_t *bytes, uint32_t count);
