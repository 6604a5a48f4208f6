// Arbitrary bytes as a .bit file: the header walk finds the data within the
// file or refuses it. The loader around it runs in every whole run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "bitstream/bitstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *file = std::tmpfile();
  if (file == nullptr || std::fwrite(data, 1, size, file) != size) std::abort();
  uint32_t length = 0, offset = 0;
  uint64_t measured = 0;
  if (measure_bit_file(file, &measured) != 0 || measured != size) std::abort();
  // Measured as it is, or as if it had grown since: the walk stays within.
  for (const uint64_t walked : {measured, measured / 2})
    if (std::fseek(file, 0, SEEK_SET) == 0 &&
        parse_bit_header(file, walked, "fuzz.bit", &length, &offset) == 0 &&
        uint64_t{offset} + length != walked)
      std::abort();
  std::fclose(file);
  return 0;
}
