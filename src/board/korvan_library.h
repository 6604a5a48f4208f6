// The card-access library as the utility reaches it: its nine calls in one
// table, bound at run time from korvan.dll (libkorvan.so on Linux). Every
// card call of the utility goes through the table.
#pragma once

#include "korvan.h"

struct korvan_library {
  decltype(&::KORVAN2_OpenCard) KORVAN2_OpenCard;
  decltype(&::KORVAN2_OpenCardByIndex) KORVAN2_OpenCardByIndex;
  decltype(&::KORVAN2_GetCardInfo) KORVAN2_GetCardInfo;
  decltype(&::KORVAN2_GetSpaceInfo) KORVAN2_GetSpaceInfo;
  decltype(&::KORVAN2_SetClockRate) KORVAN2_SetClockRate;
  decltype(&::KORVAN2_Read) KORVAN2_Read;
  decltype(&::KORVAN2_Write) KORVAN2_Write;
  decltype(&::KORVAN2_GetStatusString) KORVAN2_GetStatusString;
  decltype(&::KORVAN2_CloseCard) KORVAN2_CloseCard;
};

extern korvan_library korvan;

// The library's text for a status, for every failure message.
inline const char *status_text(korvan_status status) { return korvan.KORVAN2_GetStatusString(status); }

// Loads the library and binds the nine calls, once; a later call only says
// whether that succeeded. On failure it prints why ("*** Cannot load ..."
// or "*** ... has no KORVAN2_...") and the table must not be used.
bool bind_korvan_library();
