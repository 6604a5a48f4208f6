// What differs between Windows and the other systems: pauses, opening
// files and 64-bit file positions.
#pragma once

#include <cstdint>
#include <cstdio>

void platform_sleep_ms(uint32_t ms);

// Opens an existing file for reading only, without text translation and
// without a buffer of its own.
FILE *platform_open_for_reading(const char *path);

// 64-bit file positions; 0 or -1, and -1 for a position that cannot be had.
int platform_seek(FILE *file, int64_t offset, int origin);
int64_t platform_tell(FILE *file);
