// Catching on POSIX systems: the watched page has no access; SIGSEGV
// reaches the mechanism, and SIGTRAP ends a single step (the x86 trap flag).
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>

#include "window_platform.h"

#if !defined(__x86_64__) && !defined(__i386__)
#error "catching mapped accesses is built for x86 here"
#endif

namespace ksim {

namespace {

constexpr greg_t TRAP_FLAG = 0x100;
constexpr greg_t PAGE_FAULT_WRITE = 0x2;

struct sigaction previous_segv;
struct sigaction previous_trap;
bool handlers_installed;

void pass_on(const struct sigaction &previous, int signal, siginfo_t *info, void *context) {
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
  } else {
    ::signal(signal, SIG_DFL);  // the access faults again, with the default action
  }
}

cpu_registers registers_of(greg_t *gregs) {
  auto at = [gregs](int index) { return reinterpret_cast<uintptr_t *>(&gregs[index]); };
#if defined(__x86_64__)
  return {
      {at(REG_RAX), at(REG_RCX), at(REG_RDX), at(REG_RBX), at(REG_RSP), at(REG_RBP), at(REG_RSI), at(REG_RDI),
       at(REG_R8), at(REG_R9), at(REG_R10), at(REG_R11), at(REG_R12), at(REG_R13), at(REG_R14), at(REG_R15)},
      at(REG_RIP)};
#else  // no r8-r15 in 32-bit code
  return {{at(REG_EAX), at(REG_ECX), at(REG_EDX), at(REG_EBX), at(REG_UESP), at(REG_EBP), at(REG_ESI),
           at(REG_EDI)},
          at(REG_EIP)};
#endif
}

void on_fault(int signal, siginfo_t *info, void *context) {
  greg_t *gregs = static_cast<ucontext_t *>(context)->uc_mcontext.gregs;
  const bool write = (gregs[REG_ERR] & PAGE_FAULT_WRITE) != 0;
  cpu_registers cpu = registers_of(gregs);
  bool step = false;
  if (!handle_fault(info->si_addr, write, &cpu, &step)) return pass_on(previous_segv, signal, info, context);
  if (step) gregs[REG_EFL] |= TRAP_FLAG;
}

void on_trap(int signal, siginfo_t *info, void *context) {
  if (!handle_step()) return pass_on(previous_trap, signal, info, context);
  static_cast<ucontext_t *>(context)->uc_mcontext.gregs[REG_EFL] &= ~TRAP_FLAG;
}

}  // namespace

size_t page_bytes() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

void *reserve_window(size_t bytes) {
  void *base =
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

void release_window(void *base, size_t bytes) { munmap(base, bytes); }

void set_page_access(uint8_t *page, size_t bytes, bool open) {
  mprotect(page, bytes, open ? PROT_READ | PROT_WRITE : PROT_NONE);
}

void install_fault_handlers() {
  if (handlers_installed) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO;
  action.sa_sigaction = on_fault;
  sigaction(SIGSEGV, &action, &previous_segv);
  action.sa_sigaction = on_trap;
  sigaction(SIGTRAP, &action, &previous_trap);
  handlers_installed = true;
}

}  // namespace ksim
