// Arbitrary bytes as a .bit file: the header walk and the loader, against
// the simulator's built-in card.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bitstream/bitstream.h"
#include "platform/platform.h"

namespace {

korvan_card card;
std::string path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  path = "/tmp/sorvel-fuzz-" + std::to_string(static_cast<long>(std::rand())) + ".bit";
  if (KORVAN2_OpenCard(0, &card) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::abort();
  std::fwrite(data, 1, size, out);
  std::fclose(out);

  FILE *in = platform_open_for_reading(path.c_str());
  uint32_t length = 0;
  uint32_t offset = 0;
  if (parse_bit_header(in, &length, &offset) == 0 && uint64_t{offset} + length != size) std::abort();
  std::fclose(in);

  uint8_t *buffer = nullptr;
  if (load_bitstream(card, path.c_str(), &buffer, &length) == 0) {
    if (length == 0 || length > size || buffer == nullptr) std::abort();
    std::free(buffer);
  } else if (buffer != nullptr) {
    std::abort();  // written only on success
  }
  return 0;
}
