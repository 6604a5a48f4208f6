// The simulated cards: the built-in one, or those of the card file named by
// KORVAN_SIM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksim {

enum class window_kind { none, full, short_ };
enum class stuck_kind { none, erase, program };

// Library calls that can be made to fail, and counted.
enum call_kind {
  CALL_OPEN,
  CALL_CARD_INFO,
  CALL_SPACE_INFO,
  CALL_CLOCK,
  CALL_READ,
  CALL_WRITE,
  CALL_CLOSE,
  CALL_KINDS
};
extern const char *const call_kind_names[CALL_KINDS];

struct fail_rule {
  call_kind call;
  uint32_t nth;  // 0: every call of the kind
};

struct card_config {
  uint32_t id = 0;
  uint32_t boardType = 4;
  uint32_t logicRevision = 0x12;
  uint32_t buildTime = 0x09050700;
  uint32_t buildDate = 0x07E3061C;
  uint32_t localBase = 0;
  uint32_t localSize = 0x400000;
  window_kind window = window_kind::none;
  uint32_t flashVendor = 0x89;
  uint32_t flashDevice = 0x17;
  uint32_t flashLock = 0;
  uint32_t flashBlocks = 64;
  uint32_t flashBlockSize = 0x20000;
  std::string flashImage;
  uint32_t busyReads = 1;
  stuck_kind stuck = stuck_kind::none;
  std::vector<uint32_t> weak;  // sorted
  std::vector<fail_rule> fail;
  std::string trace;
  std::string stats;
};

// Reads the cards of a card file's text; false with a message naming the
// file, line and key on anything it does not understand.
bool parse_card_text(const std::string &text, const std::string &fileName, std::vector<card_config> *cards,
                     std::string *error);

// The cards of the file named by KORVAN_SIM, or the built-in card.
bool load_cards(std::vector<card_config> *cards, std::string *error);

}  // namespace ksim
