#include "progress.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace {

std::string firstError;
bool dotsOnLine = false;
bool quiet = false;
bool holding = false;
bool holdBegan = false;
bool heldTold = false;
constexpr const char *HELD =
    "*** Interrupt held: the Flash is being rewritten, the run stops as soon as it is safe\n";
constexpr const char *INTERRUPTED = "*** Interrupted before the Flash was touched\n";

void print(const char *text) {
  if (quiet) return;
  std::fputs(text, stdout);
  std::fflush(stdout);  // a failed write changes nothing of the run
}

void tell_if_held() {
  if (!holding || heldTold || !platform_interrupted()) return;
  heldTold = true;
  if (dotsOnLine) progress_end_line();
  print(HELD);
  if (platform_only_stderr_is_a_terminal()) std::fputs(HELD, stderr);
}

}  // namespace

void say(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::vector<char> text(n > 0 ? static_cast<size_t>(n) + 1 : 1u, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  const char *line = text.data();
  if (firstError.empty() &&
      (std::strncmp(line, "*** ", 4) == 0 || std::strncmp(line, "Failed to set LCLK", 18) == 0))
    firstError.assign(line, std::strcspn(line, "\n"));
  if (!quiet) std::fputs(line, stdout);
}

const std::string &first_error_line() { return firstError; }

void progress_quiet(bool on) { quiet = on; }
void progress_new_card() {
  firstError.clear();
  holding = holdBegan = heldTold = false;
}

void say_interrupted() {
  print(INTERRUPTED);
  firstError.assign(INTERRUPTED, std::strlen(INTERRUPTED) - 1);
}

void progress_announce(const char *phase) { print(phase); }

void progress_dot() {
  tell_if_held();
  print(".");
  dotsOnLine = true;
}

void progress_end_line() {
  print("\n");
  dotsOnLine = false;
}

void progress_hold_begins() { holding = holdBegan = true; }

bool progress_hold_began() { return holdBegan; }

void progress_hold_ends() {
  tell_if_held();
  holding = false;
}
