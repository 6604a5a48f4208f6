// One sequence of accesses through a caught window, shared by the window's
// test and its 32-bit check: registers at 0x1C and 0x1E, each load
// presenting a value of its own, then byte accesses, plain memory in the
// watched page and memory outside it.
#pragma once

#include <string>
#include <vector>

#include "window/mapped_window.h"

namespace test {

struct window_outcome {
  bool opened = false;
  std::vector<int> values;          // what the program loaded
  std::vector<std::string> events;  // what reached the client, in order
};

// Every register access reaches the client once, in order, whether carried
// out by decoding or let through by a single step.
const std::vector<int> WINDOW_VALUES = {0x1230, 0x1231, 0x32, 0xABCD};
const std::vector<std::string> WINDOW_EVENTS = {"W 30 144",  "R 30 4656", "W 28 64",
                                                "R 28 4657", "R 30 4658", "W 30 4693"};

inline window_outcome run_window_sequence() {
  struct seen {
    std::vector<std::string> events;
    uint16_t next = 0x1230;
  } log;
  const ksim::window_client client{
      &log, [](void *, uint32_t offset) { return offset == 0x1C || offset == 0x1E; },
      [](void *context, uint32_t offset) {
        seen *s = static_cast<seen *>(context);
        s->events.push_back("R " + std::to_string(offset) + " " + std::to_string(s->next));
        return s->next++;
      },
      [](void *context, uint32_t offset, uint16_t value) {
        static_cast<seen *>(context)->events.push_back("W " + std::to_string(offset) + " " +
                                                       std::to_string(value));
      }};
  window_outcome out;
  ksim::mapped_window *window = ksim::window_open(0x3000, 0x1C, client);
  if (window == nullptr) return out;
  out.opened = true;
  volatile uint8_t *base = static_cast<uint8_t *>(ksim::window_base(window));
  auto reg = [base](uint32_t offset) { return reinterpret_cast<volatile uint16_t *>(base + offset); };
  *reg(0x1E) = 0x90;
  const uint16_t first = *reg(0x1E);
  *reg(0x1C) = 0x40;
  const uint16_t second = *reg(0x1C);
  const uint8_t byte = base[0x1E];  // a byte load and store: let through by a single step
  base[0x1E] = 0x55;                // the high byte as last presented
  *reg(0x100) = 0xABCD;             // plain memory in the watched page
  const uint16_t plain = *reg(0x100);
  *reg(0x2000) = 0x5555;  // outside the watched page
  ksim::window_close(window);
  out.values = {first, second, byte, plain};
  out.events = log.events;
  return out;
}

}  // namespace test
