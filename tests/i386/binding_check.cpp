// The binding on 32-bit x86, over calls of this file in both conventions and
// under each export spelling: every argument (the double as two words) and
// every result comes through, on the first call (the thunk) and the later
// ones (direct). Built with -m32 and run under an i386 emulator where the
// machine runs no 32-bit code itself (tests/i386/run.sh).
#include <cstdio>
#include <cstring>
#include <string>

#include "board/korvan_library.h"
#include "platform/platform.h"

#define CALLEE_POPS __attribute__((stdcall))

extern "C" {
CALLEE_POPS korvan_status fake_open_id(uint32_t id, korvan_card *c) { return *c = id + 1, 7; }
korvan_status fake_open_index(uint32_t index, korvan_card *c) { return *c = index + 2, 8; }
CALLEE_POPS korvan_status fake_card(korvan_card c, card_info *i) { return i->BoardType = c, 0; }
korvan_status fake_space(korvan_card c, uint32_t s, space_info *i) {
  return i->LocalBase = c, i->LocalSize = s, 3;
}
CALLEE_POPS korvan_status fake_clock(korvan_card c, uint32_t k, double hz, double *a) {
  return *a = hz, c + k + (hz == 33e6 ? 100 : 0);
}
CALLEE_POPS korvan_status fake_read(korvan_card c, uint32_t w, uint32_t f, uint32_t a, void *b, uint32_t n) {
  const uint16_t v = static_cast<uint16_t>(c + w + f + a + n);
  return std::memcpy(b, &v, 2), 11;
}
korvan_status fake_write(korvan_card c, uint32_t w, uint32_t f, uint32_t a, const void *b, uint32_t n) {
  uint16_t v = 0;
  return std::memcpy(&v, b, 2), c * 10000 + w * 1000 + f * 100 + a * 10 + n + v;
}
CALLEE_POPS const char *fake_text(korvan_status s) { return s == 5 ? "five" : "other"; }
korvan_status fake_close(korvan_card c) { return c * 2; }
}

void *platform_load_library(std::string *) { return &korvan; }
void *platform_library_entry(void *, const char *name) {
  const std::pair<const char *, void *> entries[] = {
      {"KORVAN2_OpenCard@8", reinterpret_cast<void *>(&fake_open_id)},
      {"KORVAN2_OpenCardByIndex", reinterpret_cast<void *>(&fake_open_index)},
      {"_KORVAN2_GetCardInfo@8", reinterpret_cast<void *>(&fake_card)},
      {"_KORVAN2_GetSpaceInfo@12", reinterpret_cast<void *>(&fake_space)},
      {"KORVAN2_SetClockRate", reinterpret_cast<void *>(&fake_clock)},
      {"KORVAN2_Read@24", reinterpret_cast<void *>(&fake_read)},
      {"KORVAN2_Write", reinterpret_cast<void *>(&fake_write)},
      {"KORVAN2_GetStatusString", reinterpret_cast<void *>(&fake_text)},
      {"KORVAN2_CloseCard", reinterpret_cast<void *>(&fake_close)}};
  for (const auto &entry : entries)
    if (std::strcmp(entry.first, name) == 0) return entry.second;
  return nullptr;
}

int main() {
  int failed = !bind_korvan_library();
  for (int round = 0; round < 3; ++round) {
    korvan_card c = 0;
    card_info ci{};
    space_info si{};
    double hz = 0;
    uint16_t r = 0, w = 6;
    const bool right[] = {
        korvan.KORVAN2_OpenCard(41, &c) == 7 && c == 42,
        korvan.KORVAN2_OpenCardByIndex(3, &c) == 8 && c == 5,
        korvan.KORVAN2_GetCardInfo(9, &ci) == 0 && ci.BoardType == 9,
        korvan.KORVAN2_GetSpaceInfo(6, 1, &si) == 3 && si.LocalBase == 6 && si.LocalSize == 1,
        korvan.KORVAN2_SetClockRate(1, 2, 33e6, &hz) == 103 && hz == 33e6,
        korvan.KORVAN2_Read(1, 2, 3, 4, &r, 5) == 11 && r == 15,
        korvan.KORVAN2_Write(1, 2, 3, 4, &w, 5) == 12345 + 6,
        std::strcmp(korvan.KORVAN2_GetStatusString(5), "five") == 0,
        korvan.KORVAN2_CloseCard(21) == 42};
    for (size_t k = 0; k < sizeof right; ++k)
      if (!right[k]) {
        std::printf("round %d: call %u wrong\n", round, static_cast<unsigned>(k));
        failed = 1;
      }
  }
  std::printf(failed ? "FAILED\n" : "every call right, through the thunk and directly\n");
  return failed != 0;
}
