// A window of process memory in which the accesses to one page are caught,
// one by one, in program order: every load and store there faults, is let
// through by a single step, and is handed to the client.
#pragma once

#include <cstdint>

namespace ksim {

struct window_client {
  void *context;
  // Before a load from the watched page: fill in what the registers present.
  void (*before_load)(void *context, uint8_t *base, uint32_t offset);
  // After a store to the watched page.
  void (*after_store)(void *context, uint8_t *base, uint32_t offset);
};

struct mapped_window;

// size bytes of zeroed memory; the page holding watchOffset is watched when
// it lies inside. Null when the memory cannot be had.
mapped_window *window_open(uint32_t size, uint32_t watchOffset, const window_client &client);
void *window_base(const mapped_window *window);
void window_close(mapped_window *window);

}  // namespace ksim
