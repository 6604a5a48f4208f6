// Reading a .bit configuration file: the header walk, the device check and
// the bit-reversed configuration data.
#pragma once

#include <cstdint>
#include <cstdio>

#include "korvan.h"  // the reader's statuses are in the library's numbering

constexpr const char *BIT_DEVICE_NAME = "2v1500fg676";
constexpr uint32_t BIT_HEADER_WINDOW = 1024;

korvan_status load_bitstream(korvan_card card, const char *path, uint8_t **buffer, uint32_t *length);
// The open file's size, which must fit in 32 bits; the file at its start.
korvan_status measure_bit_file(FILE *file, uint64_t *fileSize);
// Where the data lies in a file measured at fileSize bytes, read no further;
// a file cut short of the length it declares is refused with a line that
// names it.
korvan_status parse_bit_header(FILE *file, uint64_t fileSize, const char *name, uint32_t *dataLength,
                               uint32_t *dataOffset);
void reverse_bits(uint8_t *bytes, uint32_t count);
