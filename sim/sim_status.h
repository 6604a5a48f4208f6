// Statuses of the simulated card-access library.
#pragma once

#include <cstdint>
#include <string>

#include "korvan.h"

namespace ksim {

enum sim_status : uint32_t {
  SIM_OK = KORVAN_OK,
  SIM_NO_CARD = 0x2001,
  SIM_INJECTED = 0x2002,
  SIM_BAD_ARGUMENT = 0x2003,
  SIM_BAD_HANDLE = 0x2004,
  SIM_BAD_ACCESS = 0x2005,
  SIM_CARD_FILE = 0x2006,  // text: the card file, line and key at fault
  SIM_NO_WINDOW = 0x2007,
  SIM_ALREADY_OPEN = 0x2008,
  SIM_FILE = 0x2009,  // text: the Flash image, trace or stats file at fault
};

// Keeps the text of the last card file or file failure for its status.
void set_failure_text(sim_status status, const std::string &text);
const char *status_text(uint32_t status);

}  // namespace ksim
