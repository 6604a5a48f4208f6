// The caught window in 32-bit x86 code: built with -m32 and run under
// qemu-i386, named explicitly, so that it runs whether or not the kernel
// runs 32-bit code. The sequence is the window test's own.
#include <cstdio>

#include "window_sequence.h"

int main() {
  const test::window_outcome out = test::run_window_sequence();
  const bool good = out.opened && out.values == test::WINDOW_VALUES && out.events == test::WINDOW_EVENTS;
  std::printf("%s\n", good ? "window i386: every access reached the client in order" : "window i386: FAILED");
  for (const std::string &event : out.events)
    std::printf("  %s\n", event.c_str());
  return good ? 0 : 1;
}
