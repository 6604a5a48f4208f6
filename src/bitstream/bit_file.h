// A .bit file in memory: the first field, keyed records each behind a
// 2-byte length, then the "e" key, the data's 4-byte length and the data.
// Lengths are big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct bit_record {
  char key;
  std::vector<uint8_t> body;
};

inline std::vector<uint8_t> bit_body(const std::string &text, bool withNul = true) {
  return std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + (withNul ? 1 : 0));
}

std::vector<uint8_t> make_bit(const std::vector<bit_record> &records, const std::vector<uint8_t> &data);
