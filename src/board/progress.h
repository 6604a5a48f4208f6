// The console progress of the Flash sequences: the dots, the end of a
// progress line, and, while the Flash is rewritten, the line that tells of
// an interrupt held.
#pragma once

void progress_dot();
void progress_end_line();
// From the first erase to the end of the verification an interrupt is held:
// told once, on a line of its own, at the next dot or at the hold's end.
void progress_hold_begins();
void progress_hold_ends();
