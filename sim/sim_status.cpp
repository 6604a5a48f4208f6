#include "sim_status.h"

#include <set>

#include "korvan.h"

namespace ksim {

namespace {

// Texts handed out stay valid until the process ends: each is kept once.
const char *kept(const std::string &text) {
  static std::set<std::string> texts;
  return texts.insert(text).first->c_str();
}

const char *card_file_text = "card file cannot be read";
const char *file_text = "a file of the card cannot be read or written";

}  // namespace

void set_failure_text(sim_status status, const std::string &text) {
  if (status == SIM_CARD_FILE) card_file_text = kept(text);
  if (status == SIM_FILE) file_text = kept(text);
}

const char *status_text(uint32_t status) {
  switch (status) {
  case SIM_OK: return "success";
  case SIM_NO_CARD: return "no such card";
  case SIM_INJECTED: return "injected failure";
  case SIM_BAD_ARGUMENT: return "bad argument";
  case SIM_BAD_HANDLE: return "card is not open";
  case SIM_BAD_ACCESS: return "register access of an unsupported shape";
  case SIM_CARD_FILE: return card_file_text;
  case SIM_NO_WINDOW: return "address space cannot be mapped";
  case SIM_ALREADY_OPEN: return "card is already open";
  case SIM_FILE: return file_text;
  case BIT_NO_MEMORY: return "out of memory";
  case BIT_CANNOT_OPEN: return "file cannot be opened";
  case BIT_MALFORMED: return "file is unreadable or malformed";
  case BIT_WRONG_DEVICE: return "file is built for another device";
  default: break;
  }
  return kept("unknown status " + std::to_string(status));
}

}  // namespace ksim
