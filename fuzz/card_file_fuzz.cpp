// Arbitrary bytes as a card file for the simulator.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "card_file/card_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<ksim::card_config> cards;
  std::string error;  // every refusal names the file
  if (!ksim::parse_card_text(std::string(reinterpret_cast<const char *>(data), size), "fuzz.ini", &cards,
                             &error) &&
      error.rfind("card file fuzz.ini ", 0) != 0)
    std::abort();
  return 0;
}
