// Arbitrary bytes as a .bit file: the header walk and the loader, against
// the simulator's built-in card.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bitstream/bitstream.h"
#include "platform/platform.h"

static korvan_card card;
static const std::string path = "/tmp/sorvel-fuzz-" + std::to_string(std::rand()) + ".bit";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (card == 0 && KORVAN2_OpenCard(0, &card) != 0) std::abort();
  FILE *out = std::fopen(path.c_str(), "wb");
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  FILE *in = platform_open_for_reading(path.c_str());
  uint32_t length = 0, offset = 0;
  if (parse_bit_header(in, &length, &offset) == 0 && uint64_t{offset} + length != size) std::abort();
  std::fclose(in);
  uint8_t *buffer = nullptr;
  const korvan_status status = load_bitstream(card, path.c_str(), &buffer, &length);
  if (status == 0 ? length == 0 || length > size || buffer == nullptr : buffer != nullptr) std::abort();
  std::free(buffer);  // written only on success
  return 0;
}
