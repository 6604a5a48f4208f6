// Catching on Windows: the watched page has no access. A vectored exception
// handler carries out a decoded register access and steps over it; any
// other access is let through with the trap flag set, and the page is taken
// back at the single step.
#include <windows.h>

#include <cstring>

#include "mapped_window.h"
#include "x86_access.h"

namespace ksim {

struct mapped_window {
  uint8_t *base;
  size_t size;
  uint8_t *page;  // null when nothing is watched
  window_client client;
};

namespace {

constexpr int MAX_WINDOWS = 8;
constexpr DWORD TRAP_FLAG = 0x100;
constexpr ULONG_PTR ACCESS_WRITE = 1;

mapped_window *windows[MAX_WINDOWS];
size_t page_size;
PVOID handler;

// The access being let through, between the fault and the single step.
struct {
  mapped_window *window;
  uint32_t offset;
  bool write;
} stepping;

mapped_window *window_at(const void *address) {
  for (mapped_window *window : windows) {
    if (window != nullptr && window->page != nullptr &&
        static_cast<const uint8_t *>(address) >= window->page &&
        static_cast<const uint8_t *>(address) < window->page + page_size)
      return window;
  }
  return nullptr;
}

// Carries out a register access of a form it knows; false for any other.
bool emulate(mapped_window *window, uint32_t offset, CONTEXT *context) {
  DWORD64 *const registers[16] = {&context->Rax, &context->Rcx, &context->Rdx, &context->Rbx,
                                  &context->Rsp, &context->Rbp, &context->Rsi, &context->Rdi,
                                  &context->R8,  &context->R9,  &context->R10, &context->R11,
                                  &context->R12, &context->R13, &context->R14, &context->R15};
  x86_access access;
  if (!decode_x86_access(reinterpret_cast<const uint8_t *>(context->Rip), &access)) return false;
  const window_client &client = window->client;
  if (access.store) {
    const uint64_t value = access.reg < 0 ? access.immediate : *registers[access.reg];
    client.store(client.context, offset, static_cast<uint16_t>(value));
  } else {
    DWORD64 *reg = registers[access.reg];
    *reg = loaded_register(*reg, client.load(client.context, offset), access.load);
  }
  context->Rip += access.length;
  return true;
}

void protect(uint8_t *page, DWORD protection) {
  DWORD previous = 0;
  VirtualProtect(page, page_size, protection, &previous);
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS *pointers) {
  const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2 &&
      stepping.window == nullptr) {
    void *address = reinterpret_cast<void *>(record->ExceptionInformation[1]);
    mapped_window *window = window_at(address);
    if (window == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    const uint32_t offset = static_cast<uint32_t>(static_cast<uint8_t *>(address) - window->base);
    const window_client &client = window->client;
    const bool reg = client.is_register(client.context, offset);
    if (reg && emulate(window, offset, pointers->ContextRecord)) return EXCEPTION_CONTINUE_EXECUTION;

    const bool write = record->ExceptionInformation[0] == ACCESS_WRITE;
    protect(window->page, PAGE_READWRITE);
    if (reg && !write) {
      const uint16_t value = client.load(client.context, offset);
      std::memcpy(window->base + offset, &value, sizeof value);
    }
    stepping.window = window;
    stepping.offset = offset;
    stepping.write = write && reg;
    pointers->ContextRecord->EFlags |= TRAP_FLAG;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (record->ExceptionCode == EXCEPTION_SINGLE_STEP && stepping.window != nullptr) {
    mapped_window *window = stepping.window;
    stepping.window = nullptr;
    pointers->ContextRecord->EFlags &= ~TRAP_FLAG;
    if (stepping.write) {
      uint16_t value = 0;
      std::memcpy(&value, window->base + stepping.offset, sizeof value);
      window->client.store(window->client.context, stepping.offset, value);
    }
    protect(window->page, PAGE_NOACCESS);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

mapped_window *window_open(uint32_t size, uint32_t watchOffset, const window_client &client) {
  if (page_size == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_size = info.dwPageSize;
  }
  int slot = 0;
  while (slot < MAX_WINDOWS && windows[slot] != nullptr)
    ++slot;
  if (slot == MAX_WINDOWS || size == 0) return nullptr;
  const size_t mapped = (static_cast<size_t>(size) + page_size - 1) / page_size * page_size;
  void *base = VirtualAlloc(nullptr, mapped, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base == nullptr) return nullptr;
  if (handler == nullptr) handler = AddVectoredExceptionHandler(1, on_exception);
  auto *window = new mapped_window{static_cast<uint8_t *>(base), mapped, nullptr, client};
  if (watchOffset < size) {
    window->page = window->base + watchOffset / page_size * page_size;
    protect(window->page, PAGE_NOACCESS);
  }
  windows[slot] = window;
  return window;
}

void *window_base(const mapped_window *window) { return window->base; }

void window_close(mapped_window *window) {
  if (window == nullptr) return;
  for (mapped_window *&slot : windows)
    if (slot == window) slot = nullptr;
  VirtualFree(window->base, 0, MEM_RELEASE);
  delete window;
}

}  // namespace ksim
