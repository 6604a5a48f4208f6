// Makes the sample bitstream: a .bit file for the bridge device with a
// realistic header and the configuration size of the device, deterministic.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bit_file.h"

namespace {

constexpr uint32_t DEVICE_DATA_BYTES = 707916;  // one configuration of the bridge device

void put32(std::vector<uint8_t> &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

int main(int argc, char **argv) {
  unsigned long dataBytes = DEVICE_DATA_BYTES;
  char *end = nullptr;
  if (argc == 3) dataBytes = std::strtoul(argv[2], &end, 0);
  if (argc < 2 || argc > 3 || (argc == 3 && (*end != '\0' || dataBytes < 8 || dataBytes > 0x10000000))) {
    std::fprintf(stderr, "usage: make_sample_bit OUTPUT [DATA_BYTES, 8 or more]\n");
    return 2;
  }
  // Dummy word, sync word, then frames of deterministic words.
  std::vector<uint8_t> data;
  put32(data, 0xFFFFFFFF);
  put32(data, 0xAA995566);
  uint32_t state = 0x12345678;
  while (data.size() + 4 <= dataBytes) {
    state = state * 1664525u + 1013904223u;
    put32(data, state);
  }
  data.resize(dataBytes, 0x00);
  const std::vector<uint8_t> out = make_bit({{'a', bit_body("bridge_top.ncd;UserID=0xFFFFFFFF")},
                                             {'b', bit_body("2v1500fg676")},
                                             {'c', bit_body("2019/06/28")},
                                             {'d', bit_body("09:05:07")}},
                                            data);

  FILE *file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
