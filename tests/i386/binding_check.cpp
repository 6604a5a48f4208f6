// The binding on 32-bit x86, over calls of this file in both conventions and
// under the underscored and both decorated spellings: arguments (a double
// as two words) and results come through on the first call (the thunk) and
// on later ones (direct). Built -m32 -msse2, so the callees keep SSE values
// on a stack they take to be 16-byte aligned, and run under an i386 emulator.
#include <emmintrin.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "board/korvan_library.h"
#include "platform/platform.h"

extern "C" {
__attribute__((stdcall)) korvan_status fake_clock(korvan_card c, uint32_t k, double hz, double *a) {
  volatile __m128d kept = _mm_set1_pd(hz);  // movapd to the stack: faults when it is not aligned
  return *a = _mm_cvtsd_f64(kept), c + k;
}
__attribute__((stdcall)) const char *fake_text(korvan_status s) { return s == 5 ? "five" : "other"; }
korvan_status fake_write(korvan_card c, uint32_t w, uint32_t f, uint32_t a, const void *b, uint32_t n) {
  return c * 100000 + w * 10000 + f * 1000 + a * 100 + n * 10 + *static_cast<const uint8_t *>(b);
}
korvan_status fake_close(korvan_card c) {
  volatile __m128i kept = _mm_set1_epi32(static_cast<int>(c));
  return static_cast<korvan_status>(_mm_cvtsi128_si32(kept)) * 2;
}
}

void say(const char *, ...) {}  // the binding's refusals are not checked here
void *platform_load_library(std::string *) { return &korvan; }
void *platform_library_entry(void *, const char *name) {  // the calls not checked are never made
  const std::pair<const char *, void *> entries[] = {
      {"KORVAN2_OpenCard@8", nullptr},
      {"_KORVAN2_OpenCardByIndex@8", nullptr},
      {"_KORVAN2_GetCardInfo@8", nullptr},
      {"_KORVAN2_GetSpaceInfo@12", nullptr},
      {"KORVAN2_SetClockRate@20", reinterpret_cast<void *>(&fake_clock)},
      {"KORVAN2_Read@24", nullptr},
      {"_KORVAN2_Write@24", reinterpret_cast<void *>(&fake_write)},
      {"_KORVAN2_GetStatusString@4", reinterpret_cast<void *>(&fake_text)},
      {"_KORVAN2_CloseCard", reinterpret_cast<void *>(&fake_close)}};
  for (const auto &entry : entries)
    if (std::strcmp(entry.first, name) == 0) return entry.second != nullptr ? entry.second : &korvan;
  return nullptr;
}

int main() {
  bool right = bind_korvan_library();
  for (int round = 0; round < 3; ++round) {
    double hz = 0;
    const uint8_t w = 6;
    right = right && korvan.KORVAN2_SetClockRate(1, 2, 33e6, &hz) == 3 && hz == 33e6 &&
            korvan.KORVAN2_Write(1, 2, 3, 4, &w, 5) == 123456 &&
            std::strcmp(korvan.KORVAN2_GetStatusString(5), "five") == 0 && korvan.KORVAN2_CloseCard(21) == 42;
    std::printf("round %d: %s\n", round, right ? "every call right" : "FAILED");
  }
  return right ? 0 : 1;
}
