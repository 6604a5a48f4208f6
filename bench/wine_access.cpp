// Under Wine (32-bit): a caught register access of the simulated card's
// mapped window against a bare access-violation round trip, measured in the
// same process. The round trip is a 16-bit store to a page without access,
// whose handler steps over the 3-byte instruction; the caught access is the
// same store to the flash data register through the card's window.
//   wine_access.exe COUNT     (KORVAN_SIM names a card with window = full)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "board/korvan_library.h"

namespace {

constexpr DWORD STORE_LENGTH = 3;  // 66 89 01: mov [ecx], ax

LONG CALLBACK step_over(EXCEPTION_POINTERS *pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return EXCEPTION_CONTINUE_SEARCH;
  pointers->ContextRecord->Eip += STORE_LENGTH;
  return EXCEPTION_CONTINUE_EXECUTION;
}

inline void store16(volatile void *at, uint16_t value) {
  asm volatile("movw %%ax, (%%ecx)" : : "c"(at), "a"(value) : "memory");
}

template <typename F>
double ns_each(long count, F access) {
  const auto start = std::chrono::steady_clock::now();
  for (long k = 0; k < count; ++k)
    access(k);
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / static_cast<double>(count);
}

}  // namespace

int main(int argc, char **argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 20000;
  void *page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
  korvan_card card = 0;
  space_info space{};
  if (!bind_korvan_library()) return 1;
  if (page == nullptr || korvan.KORVAN2_OpenCard(0, &card) != 0 ||
      korvan.KORVAN2_GetSpaceInfo(card, 1, &space) != 0 || space.VirtualBase == nullptr) {
    std::printf("needs KORVAN_SIM with a card whose window = full\n");
    return 1;
  }
  // The bare handler first in the chain while it is measured, then gone: each
  // fault meets exactly one handler in either measurement.
  PVOID handler = AddVectoredExceptionHandler(1, step_over);
  const double bare = ns_each(count, [page](long k) { store16(page, static_cast<uint16_t>(k)); });
  RemoveVectoredExceptionHandler(handler);
  volatile uint8_t *data = static_cast<uint8_t *>(space.VirtualBase) + 0x1C;
  const double caught = ns_each(count, [data](long k) { store16(data, static_cast<uint16_t>(k)); });
  korvan.KORVAN2_CloseCard(card);
  std::printf("bare access violation round trip: %.0f ns\ncaught register access: %.0f ns\nratio: %.2f\n",
              bare, caught, caught / bare);
  return 0;
}
