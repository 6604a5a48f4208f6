#include "korvan_library.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>

#include "board/progress.h"
#include "platform/platform.h"

korvan_library korvan;

namespace {

// The nine calls in the contract's order, with the bytes of their arguments
// on a 32-bit stack: a stdcall library spells its exports with them.
struct call_name {
  const char *name;
  unsigned argumentBytes;
};
constexpr call_name CALLS[] = {
    {"KORVAN2_OpenCard", 8},      {"KORVAN2_OpenCardByIndex", 8}, {"KORVAN2_GetCardInfo", 8},
    {"KORVAN2_GetSpaceInfo", 12}, {"KORVAN2_SetClockRate", 20},   {"KORVAN2_Read", 24},
    {"KORVAN2_Write", 24},        {"KORVAN2_GetStatusString", 4}, {"KORVAN2_CloseCard", 4}};
constexpr size_t CALL_COUNT = std::size(CALLS);

void *entries[CALL_COUNT];  // where the library's calls are

// The plain name, the underscored one of some cdecl exports, then the two
// spellings of a stdcall export.
void *find_entry(void *library, const call_name &call) {
  const std::string plain = call.name;
  const std::string decorated = plain + "@" + std::to_string(call.argumentBytes);
  for (const std::string &name : {plain, "_" + plain, decorated, "_" + decorated})
    if (void *entry = platform_library_entry(library, name.c_str())) return entry;
  return nullptr;
}

#if defined(__i386__)
// On 32-bit x86 the library may pop its own arguments (stdcall) or leave
// them to the caller (cdecl), and its export names need not tell which. The
// first call of each entry goes through a thunk that keeps the stack pointer
// aside, so either works, and learns from the stack which it was; later
// calls go directly, in that convention.
extern "C" uint32_t korvan_call_words(void *entry, const uint32_t *words, uint32_t count, uint32_t *popped);

enum class popper : uint8_t { unknown, caller, callee };
popper poppers[CALL_COUNT];

inline void put_words(uint32_t *&at, uint32_t value) { *at++ = value; }
inline void put_words(uint32_t *&at, const void *pointer) {
  *at++ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}
inline void put_words(uint32_t *&at, double value) {  // two words, the low one first
  uint32_t halves[2];
  std::memcpy(halves, &value, sizeof halves);
  *at++ = halves[0];
  *at++ = halves[1];
}

template <typename R>
R from_word(uint32_t word) {
  if constexpr (std::is_pointer_v<R>)
    return reinterpret_cast<R>(static_cast<uintptr_t>(word));
  else
    return static_cast<R>(word);
}

template <size_t I, typename F>
struct bound_call;
template <size_t I, typename R, typename... A>
struct bound_call<I, R (*)(A...)> {
  static R call(A... args) {
    void *entry = entries[I];
    if (poppers[I] == popper::caller) return reinterpret_cast<R (*)(A...)>(entry)(args...);
    if (poppers[I] == popper::callee)
      return reinterpret_cast<R(__attribute__((stdcall)) *)(A...)>(entry)(args...);
    uint32_t words[8];
    uint32_t *end = words;
    (put_words(end, args), ...);
    const uint32_t count = static_cast<uint32_t>(end - words);
    uint32_t popped = 0;
    const uint32_t result = korvan_call_words(entry, words, count, &popped);
    if (popped == 0)
      poppers[I] = popper::caller;
    else if (popped == 4 * count)
      poppers[I] = popper::callee;
    return from_word<R>(result);
  }
};

template <size_t I, typename F>
void bind(F *member) {
  *member = &bound_call<I, F>::call;
}
#else
template <size_t I, typename F>
void bind(F *member) {
  *member = reinterpret_cast<F>(entries[I]);
}
#endif

enum class bound { not_yet, yes, no };
bound binding = bound::not_yet;

bool bind_all() {
  std::string reason;
  void *library = platform_load_library(&reason);  // never unloaded
  if (library == nullptr) {
    say("*** Cannot load %s: %s\n", PLATFORM_CARD_LIBRARY, reason.c_str());
    return false;
  }
  for (size_t k = 0; k < CALL_COUNT; ++k) {
    entries[k] = find_entry(library, CALLS[k]);
    if (entries[k] == nullptr) {
      say("*** %s has no %s\n", PLATFORM_CARD_LIBRARY, CALLS[k].name);
      return false;
    }
  }
  bind<0>(&korvan.KORVAN2_OpenCard);
  bind<1>(&korvan.KORVAN2_OpenCardByIndex);
  bind<2>(&korvan.KORVAN2_GetCardInfo);
  bind<3>(&korvan.KORVAN2_GetSpaceInfo);
  bind<4>(&korvan.KORVAN2_SetClockRate);
  bind<5>(&korvan.KORVAN2_Read);
  bind<6>(&korvan.KORVAN2_Write);
  bind<7>(&korvan.KORVAN2_GetStatusString);
  bind<8>(&korvan.KORVAN2_CloseCard);
  return true;
}

}  // namespace

bool bind_korvan_library() {
  if (binding == bound::not_yet) binding = bind_all() ? bound::yes : bound::no;
  return binding == bound::yes;
}
