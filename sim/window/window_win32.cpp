// Catching on Windows: the watched page has no access; a vectored exception
// handler takes the access violations in it and the single steps (the x86
// trap flag) that follow an access let through.
#include <windows.h>

#include "window_platform.h"

#if !defined(_M_IX86) && !defined(__i386__)
#error "catching mapped accesses is built for 32-bit Windows (x86) here"
#endif
static_assert(sizeof(DWORD) == sizeof(uintptr_t), "32-bit registers");

namespace ksim {

namespace {

constexpr DWORD TRAP_FLAG = 0x100;
constexpr ULONG_PTR ACCESS_WRITE = 1;

PVOID handler;

// The saved registers of 32-bit code, as the mechanism numbers them.
cpu_registers registers_of(CONTEXT *c) {
  auto at = [](DWORD *reg) { return reinterpret_cast<uintptr_t *>(reg); };
  return {{at(&c->Eax), at(&c->Ecx), at(&c->Edx), at(&c->Ebx), at(&c->Esp), at(&c->Ebp), at(&c->Esi),
           at(&c->Edi)},
          at(&c->Eip)};
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS *pointers) {
  const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
  CONTEXT *c = pointers->ContextRecord;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    cpu_registers cpu = registers_of(c);
    bool step = false;
    void *address = reinterpret_cast<void *>(record->ExceptionInformation[1]);
    if (!handle_fault(address, record->ExceptionInformation[0] == ACCESS_WRITE, &cpu, &step))
      return EXCEPTION_CONTINUE_SEARCH;
    if (step) c->EFlags |= TRAP_FLAG;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (record->ExceptionCode == EXCEPTION_SINGLE_STEP && handle_step()) {
    c->EFlags &= ~TRAP_FLAG;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

size_t page_bytes() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

void *reserve_window(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void release_window(void *base, size_t) { VirtualFree(base, 0, MEM_RELEASE); }

void set_page_access(uint8_t *page, size_t bytes, bool open) {
  DWORD previous = 0;
  VirtualProtect(page, bytes, open ? PAGE_READWRITE : PAGE_NOACCESS, &previous);
}

void install_fault_handlers() {
  if (handler == nullptr) handler = AddVectoredExceptionHandler(1, on_exception);
}

}  // namespace ksim
