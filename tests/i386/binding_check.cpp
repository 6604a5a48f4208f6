// The binding on 32-bit x86 over calls of this file, in both conventions and
// under both decorated spellings (the plain one is the simulator's): each argument (the double as two words)
// and result comes through, on the first call (the thunk) and later (direct). Built with -m32, run under an
// i386 emulator (tests/i386/run.sh).
#include <cstdio>
#include <cstring>
#include <string>

#include "board/korvan_library.h"
#include "platform/platform.h"

#define CALLEE_POPS __attribute__((stdcall))

extern "C" {
CALLEE_POPS korvan_status fake_open(uint32_t id, korvan_card *c) { return *c = id + 1, 7; }
korvan_status fake_open_index(uint32_t index, korvan_card *c) { return *c = index + 2, 8; }
CALLEE_POPS korvan_status fake_card(korvan_card c, card_info *i) { return i->BoardType = c, 0; }
korvan_status fake_space(korvan_card c, uint32_t s, space_info *i) { return i->LocalBase = c + s, 3; }
CALLEE_POPS korvan_status fake_clock(korvan_card c, uint32_t k, double hz, double *a) {
  return *a = hz, c + k;
}
CALLEE_POPS korvan_status fake_read(korvan_card c, uint32_t w, uint32_t f, uint32_t a, void *b, uint32_t n) {
  return std::memcpy(b, &c, 4), c + w + f + a + n;
}
korvan_status fake_write(korvan_card c, uint32_t w, uint32_t f, uint32_t a, const void *b, uint32_t n) {
  return c * 100000 + w * 10000 + f * 1000 + a * 100 + n * 10 + *static_cast<const uint8_t *>(b);
}
CALLEE_POPS const char *fake_text(korvan_status s) { return s == 5 ? "five" : "other"; }
korvan_status fake_close(korvan_card c) { return c * 2; }
}

void *platform_load_library(std::string *) { return &korvan; }
void *platform_library_entry(void *, const char *name) {
  const std::pair<const char *, void *> entries[] = {
      {"KORVAN2_OpenCard@8", reinterpret_cast<void *>(&fake_open)},
      {"_KORVAN2_OpenCardByIndex@8", reinterpret_cast<void *>(&fake_open_index)},
      {"_KORVAN2_GetCardInfo@8", reinterpret_cast<void *>(&fake_card)},
      {"_KORVAN2_GetSpaceInfo@12", reinterpret_cast<void *>(&fake_space)},
      {"KORVAN2_SetClockRate@20", reinterpret_cast<void *>(&fake_clock)},
      {"KORVAN2_Read@24", reinterpret_cast<void *>(&fake_read)},
      {"_KORVAN2_Write@24", reinterpret_cast<void *>(&fake_write)},
      {"KORVAN2_GetStatusString@4", reinterpret_cast<void *>(&fake_text)},
      {"_KORVAN2_CloseCard@4", reinterpret_cast<void *>(&fake_close)}};
  for (const auto &entry : entries)
    if (std::strcmp(entry.first, name) == 0) return entry.second;
  return nullptr;
}

int main() {
  bool right = bind_korvan_library();
  for (int round = 0; round < 3; ++round) {
    korvan_card c = 0, d = 0, r = 0;
    card_info ci{};
    space_info si{};
    double hz = 0;
    const uint8_t w = 6;
    right = right && korvan.KORVAN2_OpenCard(41, &c) == 7 && c == 42 &&
            korvan.KORVAN2_OpenCardByIndex(3, &d) == 8 && d == 5 && korvan.KORVAN2_GetCardInfo(9, &ci) == 0 &&
            ci.BoardType == 9 && korvan.KORVAN2_GetSpaceInfo(6, 1, &si) == 3 && si.LocalBase == 7 &&
            korvan.KORVAN2_SetClockRate(1, 2, 33e6, &hz) == 3 && hz == 33e6 &&
            korvan.KORVAN2_Read(1, 2, 3, 4, &r, 5) == 15 && r == 1 &&
            korvan.KORVAN2_Write(1, 2, 3, 4, &w, 5) == 123456 &&
            std::strcmp(korvan.KORVAN2_GetStatusString(5), "five") == 0 && korvan.KORVAN2_CloseCard(21) == 42;
    std::printf("round %d: %s\n", round, right ? "every call right" : "FAILED");
  }
  return right ? 0 : 1;
}
