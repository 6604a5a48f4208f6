// The simulated cards as the card file named by KORVAN_SIM describes them,
// or the built-in one: a plain description, read before any model exists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "korvan.h"
#include "models/flash_params.h"
#include "models/waveform_params.h"

namespace ksim {

// The card file's words for the window of space 1: none (the library
// path), full (the mapped path), or one page shorter than the space.
enum class window_kind { none, full, one_page_short };
constexpr uint32_t WINDOW_PAGE = 0x1000;  // a mapped space is a whole number of them
// The calls that a card file can make fail.
enum class failing_call { open, card_info, space_info, clock, read, write };

// The nth operation of a kind (counted from 1 over the whole run).
struct operation_rule {
  flash_operation operation = flash_operation::none;
  uint32_t nth = 0;
};

struct fail_rule {
  failing_call call;
  uint32_t nth;  // 0: every call of the kind
};

// One card as the file describes it; the defaults are the built-in card.
struct card_config {
  uint32_t id = 0;
  uint32_t boardType = KORVAN_BOARD_HALCYRA;
  uint32_t logicRevision = 0x12;
  uint32_t buildTime = 0x09050700;
  uint32_t buildDate = 0x07E3061C;
  uint32_t localBase = 0;
  uint32_t localSize = 0x400000;
  window_kind window = window_kind::none;
  flash_params flash;
  std::string flashImage;
  std::vector<fail_rule> fail;
  operation_rule crash;      // the process ends as that operation begins, as in a power cut
  operation_rule interrupt;  // the process is interrupted as it begins, by interruptSignal
  interrupt_kind interruptSignal = interrupt_kind::ctrl_c;
  std::string trace;
  std::string waveform;
  uint32_t waveformLimit = waveform_params().limit;  // register accesses; 0: no limit
  std::string stats;
};

// Reads the cards of a card file's text; false with a message naming the
// file, line and key on anything it does not understand.
bool parse_card_text(const std::string &text, const std::string &fileName, std::vector<card_config> *cards,
                     std::string *error);

// The cards of the file named by KORVAN_SIM, or the built-in card.
bool load_cards(std::vector<card_config> *cards, std::string *error);

}  // namespace ksim
