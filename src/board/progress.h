// What the run says on the console: its lines, and the progress of the
// Flash sequences (the dots, the end of a progress line and, while the
// Flash is rewritten, the line that tells of an interrupt held).
#pragma once

#include <string>

// A line or lines of the run on standard output; the first error line (one
// that starts "*** ", or the clock's failure) is kept for the run's record.
void say(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
const std::string &first_error_line();  // without its line end; empty when none
// While quiet (a listing's checks and compares) nothing is shown; the
// first error line is still kept.
void progress_quiet(bool quiet);
// The first error line and the hold start anew: the next card's (+list, +all).
void progress_new_card();
// The run was interrupted before the Flash was touched: said on a line of
// its own, which is then the first error line, whatever was said before.
void say_interrupted();

void progress_announce(const char *phase);  // "Erasing Flash...\n", on the console at once
void progress_dot();
void progress_end_line();
// From the first erase to the end of the verification an interrupt is held:
// told once, on a line of its own, at the next dot or at the hold's end; also
// on standard error when only that is a terminal (a pipeline's reader may
// have gone with the interrupt).
void progress_hold_begins();
void progress_hold_ends();
bool progress_hold_began();  // the Flash has been touched
