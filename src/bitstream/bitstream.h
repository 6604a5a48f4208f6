// Reading a .bit configuration file: the header walk, the device check and
// the bit-reversed configuration data.
#pragma once

#include <cstdint>
#include <cstdio>

#include "board/korvan.h"

// Statuses of the reader, in the card-access library's numbering.
#define BIT_NO_MEMORY 4097u
#define BIT_CANNOT_OPEN 4099u
#define BIT_MALFORMED 4100u
#define BIT_WRONG_DEVICE 4101u

#define BIT_DEVICE_NAME "2v1500fg676"
#define BIT_HEADER_WINDOW 1024u

korvan_status load_bitstream(korvan_card card, const char *path, uint8_t **buffer, uint32_t *length);
korvan_status parse_bit_header(FILE *file, uint32_t *dataLength, uint32_t *dataOffset);
void reverse_bits(uint8_t *bytes, uint32_t count);
