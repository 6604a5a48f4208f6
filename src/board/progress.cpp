#include "progress.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

bool dotsOnLine = false;
bool holding = false;
bool heldTold = false;

void print(const char *text) {
  std::fputs(text, stdout);
  std::fflush(stdout);  // a failed write changes nothing of the run
}

void tell_if_held() {
  if (!holding || heldTold || !platform_interrupted()) return;
  heldTold = true;
  if (dotsOnLine) progress_end_line();
  print("*** Interrupt held: the Flash is being rewritten, the run stops as soon as it is safe\n");
}

}  // namespace

void progress_dot() {
  tell_if_held();
  print(".");
  dotsOnLine = true;
}

void progress_end_line() {
  print("\n");
  dotsOnLine = false;
}

void progress_hold_begins() { holding = true; }

void progress_hold_ends() {
  tell_if_held();
  holding = false;
}
