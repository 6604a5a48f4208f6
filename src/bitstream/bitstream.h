// Reading a .bit configuration file: the header walk, the device check and
// the bit-reversed configuration data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "korvan.h"  // the reader's statuses are in the library's numbering
#include "record/sha256.h"

constexpr const char *BIT_DEVICE_NAME = "2v1500fg676";
constexpr uint32_t BIT_HEADER_WINDOW = 1024;

// The .bit file as the run used it: its measured size, the SHA-256 of the
// header bytes as the walk consumed them and of the data before their
// reversal (the whole file, once), and the texts of its a, b, c and d records.
struct bit_facts {
  uint64_t fileBytes = 0;
  std::string sha256;
  std::optional<std::string> texts[4];  // design, part, date, time
};
// What a walk notes on its way: the bytes it consumed, hashed; the texts.
struct bit_notes {
  sha256_state sha;
  bit_facts facts;
};

// A .bit path that is not a regular file is refused before it is read. With
// facts, the file's facts from the same reads.
korvan_status load_bitstream(korvan_card card, const char *path, uint8_t **buffer, uint32_t *length,
                             bit_facts *facts = nullptr);
// The same without the card's question: the file alone.
korvan_status load_bit_file(const char *path, uint8_t **buffer, uint32_t *length, bit_facts *facts = nullptr);
// The open file's size, which must fit in 32 bits; the file at its start.
korvan_status measure_bit_file(FILE *file, uint64_t *fileSize);
// Where the data lies in a file measured at fileSize bytes, read no further;
// a file cut short of the length it declares is refused with a line that
// names it (none for a null name). With notes, what it consumed is noted.
korvan_status parse_bit_header(FILE *file, uint64_t fileSize, const char *name, uint32_t *dataLength,
                               uint32_t *dataOffset, bit_notes *notes = nullptr);
void reverse_bits(uint8_t *bytes, uint32_t count);
