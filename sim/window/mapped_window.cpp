#include "mapped_window.h"

#include <cstring>

#include "window_platform.h"
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
constexpr x86_mode THIS_MODE = sizeof(void *) == 8 ? x86_mode::bits64 : x86_mode::bits32;

mapped_window *windows[MAX_WINDOWS];
size_t page_size;

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
bool emulate(const window_client &client, uint32_t offset, cpu_registers *cpu) {
  x86_access access;
  if (!decode_x86_access(reinterpret_cast<const uint8_t *>(*cpu->ip), THIS_MODE, &access) ||
      (access.reg >= 0 && cpu->reg[access.reg] == nullptr))
    return false;
  if (access.store) {
    const uintptr_t value = access.reg < 0 ? access.immediate : *cpu->reg[access.reg];
    client.store(client.context, offset, static_cast<uint16_t>(value));
  } else {
    uintptr_t *reg = cpu->reg[access.reg];
    *reg = static_cast<uintptr_t>(loaded_register(*reg, client.load(client.context, offset), access.load));
  }
  *cpu->ip += access.length;
  return true;
}

}  // namespace

bool handle_fault(void *address, bool write, cpu_registers *cpu, bool *step) {
  mapped_window *window = window_at(address);
  if (window == nullptr || stepping.window != nullptr) return false;
  const uint32_t offset = static_cast<uint32_t>(static_cast<uint8_t *>(address) - window->base);
  const window_client &client = window->client;
  const bool reg = client.is_register(client.context, offset);
  *step = !(reg && emulate(client, offset, cpu));
  if (!*step) return true;

  // Let it through: a register's value in place before a load, taken after a store.
  set_page_access(window->page, page_size, true);
  if (reg && !write) {
    const uint16_t value = client.load(client.context, offset);
    std::memcpy(window->base + offset, &value, sizeof value);
  }
  stepping.window = window;
  stepping.offset = offset;
  stepping.write = write && reg;
  return true;
}

bool handle_step() {
  mapped_window *window = stepping.window;
  if (window == nullptr) return false;
  stepping.window = nullptr;
  if (stepping.write) {
    uint16_t value = 0;
    std::memcpy(&value, window->base + stepping.offset, sizeof value);
    window->client.store(window->client.context, stepping.offset, value);
  }
  set_page_access(window->page, page_size, false);
  return true;
}

mapped_window *window_open(uint32_t size, uint32_t watchOffset, const window_client &client) {
  if (page_size == 0) page_size = page_bytes();
  int slot = 0;
  while (slot < MAX_WINDOWS && windows[slot] != nullptr)
    ++slot;
  if (slot == MAX_WINDOWS || size == 0) return nullptr;
  const size_t mapped = (static_cast<size_t>(size) + page_size - 1) / page_size * page_size;
  void *base = reserve_window(mapped);
  if (base == nullptr) return nullptr;
  auto *window = new mapped_window{static_cast<uint8_t *>(base), mapped, nullptr, client};
  if (watchOffset < size) {
    install_fault_handlers();
    window->page = window->base + watchOffset / page_size * page_size;
    set_page_access(window->page, page_size, false);
  }
  windows[slot] = window;
  return window;
}

void *window_base(const mapped_window *window) { return window->base; }

void window_close(mapped_window *window) {
  if (window == nullptr) return;
  for (mapped_window *&slot : windows)
    if (slot == window) slot = nullptr;
  release_window(window->base, window->size);
  delete window;
}

}  // namespace ksim
