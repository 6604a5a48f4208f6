// The programming run: load, clock, identify, erase, program, verify.
#pragma once

#include <cstdint>

extern uint32_t g_bitstream_length;

// Fills *buffer (owned by the caller, null on entry); true when the run
// succeeded.
bool programming_run(const char *bitPath, uint8_t **buffer);
