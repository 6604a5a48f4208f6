// Makes the sample bitstream: a .bit file for the bridge device with a
// realistic header and the configuration size of the device, deterministic.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t DEVICE_DATA_BYTES = 707916;  // one configuration of the bridge device

void put16(std::vector<uint8_t> &out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void put32(std::vector<uint8_t> &out, uint32_t value) {
  put16(out, value >> 16);
  put16(out, value & 0xFFFF);
}

void record(std::vector<uint8_t> &out, char key, const std::string &text) {
  out.push_back(static_cast<uint8_t>(key));
  put16(out, static_cast<uint32_t>(text.size() + 1));
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
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
  std::vector<uint8_t> out;
  put16(out, 9);
  const uint8_t first[9] = {0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00};
  out.insert(out.end(), first, first + 9);
  put16(out, 1);
  record(out, 'a', "bridge_top.ncd;UserID=0xFFFFFFFF");
  record(out, 'b', "2v1500fg676");
  record(out, 'c', "2019/06/28");
  record(out, 'd', "09:05:07");
  out.push_back('e');
  put32(out, static_cast<uint32_t>(dataBytes));

  // Dummy word, sync word, then frames of deterministic words.
  const size_t start = out.size();
  put32(out, 0xFFFFFFFF);
  put32(out, 0xAA995566);
  uint32_t state = 0x12345678;
  while (out.size() - start + 4 <= dataBytes) {
    state = state * 1664525u + 1013904223u;
    put32(out, state);
  }
  while (out.size() - start < dataBytes)
    out.push_back(0x00);

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
