// What differs between Windows and the other systems: pauses, opening
// files, 64-bit file positions and loading the card-access library.
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
