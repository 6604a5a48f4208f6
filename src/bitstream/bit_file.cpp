#include "bit_file.h"

std::vector<uint8_t> make_bit(const std::vector<bit_record> &records, const std::vector<uint8_t> &data) {
  std::vector<uint8_t> out = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
  for (const bit_record &r : records) {
    out.insert(out.end(), {static_cast<uint8_t>(r.key), static_cast<uint8_t>(r.body.size() >> 8),
                           static_cast<uint8_t>(r.body.size())});
    out.insert(out.end(), r.body.begin(), r.body.end());
  }
  const uint32_t n = static_cast<uint32_t>(data.size());
  out.insert(out.end(), {'e', static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                         static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  out.insert(out.end(), data.begin(), data.end());
  return out;
}
