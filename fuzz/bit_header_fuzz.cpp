// Arbitrary bytes as a .bit file: the header walk finds the data within the
// file or refuses it. The loader's use of it runs in every whole run.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bitstream/bitstream.h"
#include "platform/platform.h"

namespace {

std::string path;  // this process's own file

void make_file() {
  char name[] = "/tmp/sorvel-fuzz-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  path = name;
  std::atexit([] { std::remove(path.c_str()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (path.empty()) make_file();
  FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) std::abort();
  FILE *in = platform_open_for_reading(path.c_str());
  if (in == nullptr) std::abort();
  uint32_t length = 0, offset = 0;
  if (parse_bit_header(in, "fuzz.bit", &length, &offset) == 0 && uint64_t{offset} + length != size)
    std::abort();
  std::fclose(in);
  return 0;
}
