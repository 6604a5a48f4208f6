// The caught window, a plain program so that it also runs as 32-bit code (no
// 32-bit GoogleTest here): every access to the registers at 0x1C and 0x1E
// reaches the client once, in order, decoded or let through by a single step.
#include <cstdio>
#include <string>
#include <vector>

#include "window/mapped_window.h"

namespace {

std::vector<std::string> events;
uint16_t next = 0x1230;

uint16_t load(void *, uint32_t offset) {
  events.push_back("R " + std::to_string(offset) + " " + std::to_string(next));
  return next++;
}

void store(void *, uint32_t offset, uint16_t value) {
  events.push_back("W " + std::to_string(offset) + " " + std::to_string(value));
}

}  // namespace

int main() {
  const ksim::window_client client{
      nullptr, [](void *, uint32_t offset) { return offset == 0x1C || offset == 0x1E; }, load, store};
  ksim::mapped_window *window = ksim::window_open(0x3000, 0x1C, client);
  if (window == nullptr) return 1;
  volatile uint8_t *base = static_cast<uint8_t *>(ksim::window_base(window));
  auto reg = [base](uint32_t offset) { return reinterpret_cast<volatile uint16_t *>(base + offset); };
  *reg(0x1E) = 0x90;
  const int first = *reg(0x1E);
  *reg(0x1C) = 0x40;
  const int second = *reg(0x1C);
  const int byte = base[0x1E];  // the low byte of what the register presents
  base[0x1E] = 0x55;            // the high byte as last presented
  *reg(0x100) = 0xABCD;
  const int plain = *reg(0x100);
  *reg(0x2000) = 0x5555;  // outside the watched page
  ksim::window_close(window);
  const bool good =
      std::vector<int>{first, second, byte, plain} == std::vector<int>{0x1230, 0x1231, 0x32, 0xABCD} &&
      events ==
          std::vector<std::string>{"W 30 144", "R 30 4656", "W 28 64", "R 28 4657", "R 30 4658", "W 30 4693"};
  for (const std::string &event : events)
    std::printf("%s\n", event.c_str());
  std::printf("%s\n", good ? "every access reached the client in order" : "FAILED");
  return good ? 0 : 1;
}
