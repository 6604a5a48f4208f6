// What the simulated card needs of the system it runs on besides the
// window: a file mapped into memory as the Flash's non-volatile cells, the
// power cut that ends the process where it stands, and an interrupt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ksim {

struct mapped_file {
  uint8_t *bytes = nullptr;
  size_t size = 0;
};

// Maps the file, read and write and shared with the file, at exactly size
// bytes: a missing file is made and a shorter one extended, with 0x00
// bytes. False, with a message naming the file, when it cannot be opened or
// mapped or is larger than size.
bool map_file(const std::string &path, size_t size, mapped_file *file, std::string *error);
void unmap_file(mapped_file *file);

// The exit status of a power cut on every system: that of a process killed
// outright (128 + SIGKILL).
constexpr int POWER_CUT_STATUS = 137;

// Ends the process at once with a failing status, as a power cut would: no
// handler runs, no buffer is flushed.
[[noreturn]] void power_cut();

// What an interrupt is: SIGINT (Ctrl-C), SIGQUIT (Ctrl-\), SIGTERM,
// SIGHUP; on Windows the first is Ctrl-C and the others Ctrl-Break.
enum class interrupt_kind { ctrl_c, quit, terminate, hang_up };

// Interrupts the process as the terminal would, and returns once its
// handlers have run: the signal, or the console's Ctrl-C or Ctrl-Break.
void interrupt_process(interrupt_kind kind);

}  // namespace ksim
