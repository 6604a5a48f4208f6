// Arbitrary argument vectors (NUL-separated) through the utility's table.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "main/command_line.h"
#include "release_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static FILE *quiet = std::freopen("/dev/null", "w", stdout);
  if (quiet == nullptr) std::abort();
  std::vector<std::string> words = {"sorvel", ""};
  for (size_t k = 0; k < size && words.size() < 64; ++k)
    if (data[k] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[k]);
  std::vector<const char *> argv;
  for (const std::string &word : words)
    argv.push_back(word.c_str());
  argv.push_back(nullptr);
  command_line cl;
  declare_command_line(&cl);
  const int32_t result = parse_command_line("sorvel", static_cast<int>(words.size()), argv.data(), &cl.set);
  for (int32_t k = 0; result == 0 && k < cl.set.numValues; ++k)  // every value a parse stores is there
    if (cl.set.values[k].s == nullptr) std::abort();
  test::release_parse(&cl.set);
  return 0;
}
