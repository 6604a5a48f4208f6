// The Flash kept in a .bit file before it is erased: a file that the
// utility itself programs back exactly.
#pragma once

// Reads the whole Flash and writes what it holds behind the lead-in, the
// trailing erased bytes dropped, to path (which must not exist yet), whole
// on disk before it bears that name. True when the run may go on: the file
// is written, or the Flash is wholly erased and there is nothing to keep.
// cardName ("card ID 0") goes into the file's first record.
bool back_up_flash(const char *path, const char *cardName);
