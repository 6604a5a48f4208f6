// What differs between Windows and the other systems: pauses, opening
// files, 64-bit file positions, files made whole or not at all, holding
// interrupts and loading the card-access library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

void platform_sleep_ms(uint32_t ms);

// Opens an existing file for reading only, without text translation and
// unbuffered: the reader asks for exactly what it needs, so the header is
// one read of at most 1024 bytes and the data one read into its buffer.
inline FILE *platform_open_for_reading(const char *path) {
  FILE *file = std::fopen(path, "rb");
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// 64-bit file positions; 0 or -1, and -1 for a position that cannot be had.
int platform_seek(FILE *file, int64_t offset, int origin);
int64_t platform_tell(FILE *file);

bool platform_file_exists(const char *path);
// Flushes the file to the disk and closes it; false when any step failed.
bool platform_close_on_disk(FILE *file);
// Gives the file at from the name to, which must not exist yet; false when
// it could not, from then left in place.
bool platform_rename_new(const char *from, const char *to);

// From here on, Ctrl-C and Ctrl-Break (Windows) or SIGINT, SIGTERM, SIGHUP
// and SIGQUIT (one that was ignored stays ignored) are noted, not acted on;
// the run decides when it stops. SIGPIPE and SIGXFSZ are ignored: a write
// to a closed output or past a file-size limit fails and the run goes on.
void platform_note_interrupts();
bool platform_interrupted();  // one has come since they were noted
// Ends the process as the first noted interrupt would have ended it: by
// that signal's default action, or with the status of a program ended by
// Ctrl-C. Returns when none came.
void platform_end_if_interrupted();

// The card-access library's file name on this system.
#if defined(_WIN32)
#define PLATFORM_CARD_LIBRARY "korvan.dll"
#else
#define PLATFORM_CARD_LIBRARY "libkorvan.so"
#endif

// Loads the card-access library, never from the current folder unless it
// is the program's own: the program's folder first, then the system's
// search. Null with the system's reason when it cannot be loaded.
void *platform_load_library(std::string *reason);
// An exported call of the loaded library by name, or null.
void *platform_library_entry(void *library, const char *name);
