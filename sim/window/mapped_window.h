// A window of process memory in which the accesses to one page are caught,
// one by one, in program order: every load and store there faults. An
// access to a register that is one of the usual 16-bit moves is carried
// out by the client and stepped over; any other access is let through by a
// single step (a register's value put in place before a load and taken
// after a store).
#pragma once

#include <cstdint>

namespace ksim {

struct window_client {
  void *context;
  bool (*is_register)(void *context, uint32_t offset);
  uint16_t (*load)(void *context, uint32_t offset);  // what the register presents
  void (*store)(void *context, uint32_t offset, uint16_t value);
};

struct mapped_window;

// size bytes of zeroed memory; the page holding watchOffset is watched when
// it lies inside. Null when the memory cannot be had.
mapped_window *window_open(uint32_t size, uint32_t watchOffset, const window_client &client);
void *window_base(const mapped_window *window);
void window_close(mapped_window *window);

}  // namespace ksim
