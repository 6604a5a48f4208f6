// Arbitrary bytes as a .bit file: the header walk and the loader, against
// the simulator's built-in card.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bitstream/bitstream.h"
#include "board/korvan_library.h"
#include "platform/platform.h"

namespace {

korvan_card card;
std::string path;  // this process's own file

void open_card_and_file() {
  char name[] = "/tmp/sorvel-fuzz-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0 || !bind_korvan_library() || korvan.KORVAN2_OpenCard(0, &card) != 0) std::abort();
  close(fd);
  path = name;
  std::atexit([] { std::remove(path.c_str()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (card == 0) open_card_and_file();
  FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) std::abort();
  FILE *in = platform_open_for_reading(path.c_str());
  if (in == nullptr) std::abort();
  uint32_t length = 0, offset = 0;
  if (parse_bit_header(in, &length, &offset) == 0 && uint64_t{offset} + length != size) std::abort();
  std::fclose(in);
  uint8_t *buffer = nullptr;
  const korvan_status status = load_bitstream(card, path.c_str(), &buffer, &length);
  if (status == 0 ? length == 0 || length > size || buffer == nullptr : buffer != nullptr) std::abort();
  std::free(buffer);  // written only on success
  return 0;
}
