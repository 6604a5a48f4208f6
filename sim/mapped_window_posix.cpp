// Catching on POSIX systems: the watched page has no access. SIGSEGV
// carries out a decoded register access and steps over it; any other access
// is let through with the trap flag set, and SIGTRAP takes the page back.
#include "mapped_window.h"

#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>

#include "x86_access.h"

#if !defined(__x86_64__) && !defined(__i386__)
#error "catching mapped accesses needs the x86 trap flag"
#endif

namespace ksim {

struct mapped_window {
  uint8_t *base;
  size_t size;
  uint8_t *page;  // null when nothing is watched
  window_client client;
};

namespace {

constexpr int MAX_WINDOWS = 8;
constexpr greg_t TRAP_FLAG = 0x100;
constexpr greg_t PAGE_FAULT_WRITE = 0x2;

mapped_window *windows[MAX_WINDOWS];
size_t page_size;
struct sigaction previous_segv;
struct sigaction previous_trap;
bool handlers_installed;

// The access being let through, between the fault and the single step.
struct {
  mapped_window *window;
  uint32_t offset;
  bool write;
} stepping;

#if defined(__x86_64__)
const int REGISTERS[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                           REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};

// Carries out a register access of a form it knows; false for any other.
bool emulate(mapped_window *window, uint32_t offset, greg_t *gregs) {
  x86_access access;
  if (!decode_x86_access(reinterpret_cast<const uint8_t *>(gregs[REG_RIP]), &access)) return false;
  const window_client &client = window->client;
  if (access.store) {
    const uint64_t value =
        access.reg < 0 ? access.immediate : static_cast<uint64_t>(gregs[REGISTERS[access.reg]]);
    client.store(client.context, offset, static_cast<uint16_t>(value));
  } else {
    greg_t &reg = gregs[REGISTERS[access.reg]];
    const uint16_t value = client.load(client.context, offset);
    reg = static_cast<greg_t>(loaded_register(static_cast<uint64_t>(reg), value, access.load));
  }
  gregs[REG_RIP] += access.length;
  return true;
}
#else
bool emulate(mapped_window *, uint32_t, greg_t *) { return false; }
#endif

mapped_window *window_at(const void *address) {
  for (mapped_window *window : windows) {
    if (window != nullptr && window->page != nullptr &&
        static_cast<const uint8_t *>(address) >= window->page &&
        static_cast<const uint8_t *>(address) < window->page + page_size)
      return window;
  }
  return nullptr;
}

void pass_on(const struct sigaction &previous, int signal, siginfo_t *info, void *context) {
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
  } else {
    ::signal(signal, SIG_DFL);  // the access faults again, with the default action
  }
}

void on_fault(int signal, siginfo_t *info, void *context) {
  mapped_window *window = window_at(info->si_addr);
  if (window == nullptr || stepping.window != nullptr) return pass_on(previous_segv, signal, info, context);
  auto *uc = static_cast<ucontext_t *>(context);
  greg_t *gregs = uc->uc_mcontext.gregs;
  const uint32_t offset = static_cast<uint32_t>(static_cast<uint8_t *>(info->si_addr) - window->base);
  const window_client &client = window->client;
  const bool reg = client.is_register(client.context, offset);
  if (reg && emulate(window, offset, gregs)) return;

  const bool write = (gregs[REG_ERR] & PAGE_FAULT_WRITE) != 0;
  mprotect(window->page, page_size, PROT_READ | PROT_WRITE);
  if (reg && !write) {
    const uint16_t value = client.load(client.context, offset);
    std::memcpy(window->base + offset, &value, sizeof value);
  }
  stepping.window = window;
  stepping.offset = offset;
  stepping.write = write && reg;
  gregs[REG_EFL] |= TRAP_FLAG;
}

void on_trap(int signal, siginfo_t *info, void *context) {
  mapped_window *window = stepping.window;
  if (window == nullptr) return pass_on(previous_trap, signal, info, context);
  auto *uc = static_cast<ucontext_t *>(context);
  uc->uc_mcontext.gregs[REG_EFL] &= ~TRAP_FLAG;
  stepping.window = nullptr;
  if (stepping.write) {
    uint16_t value = 0;
    std::memcpy(&value, window->base + stepping.offset, sizeof value);
    window->client.store(window->client.context, stepping.offset, value);
  }
  mprotect(window->page, page_size, PROT_NONE);
}

void install_handlers() {
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

}  // namespace

mapped_window *window_open(uint32_t size, uint32_t watchOffset, const window_client &client) {
  if (page_size == 0) page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  int slot = 0;
  while (slot < MAX_WINDOWS && windows[slot] != nullptr)
    ++slot;
  if (slot == MAX_WINDOWS || size == 0) return nullptr;
  const size_t mapped = (static_cast<size_t>(size) + page_size - 1) / page_size * page_size;
  void *base =
      mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  auto *window = new mapped_window{static_cast<uint8_t *>(base), mapped, nullptr, client};
  if (watchOffset < size) {
    install_handlers();
    window->page = window->base + watchOffset / page_size * page_size;
    mprotect(window->page, page_size, PROT_NONE);
  }
  windows[slot] = window;
  return window;
}

void *window_base(const mapped_window *window) { return window->base; }

void window_close(mapped_window *window) {
  if (window == nullptr) return;
  for (mapped_window *&slot : windows)
    if (slot == window) slot = nullptr;
  munmap(window->base, window->size);
  delete window;
}

}  // namespace ksim
