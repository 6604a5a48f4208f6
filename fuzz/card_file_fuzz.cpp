// Arbitrary bytes as a card file for the simulator.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "card_file/card_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<ksim::card_config> cards;
  std::string error;
  const std::string text(reinterpret_cast<const char *>(data), size);
  if (!ksim::parse_card_text(text, "fuzz.ini", &cards, &error) &&
      error.compare(0, 19, "card file fuzz.ini ") != 0)
    std::abort();  // every refusal names the file
  return 0;
}
