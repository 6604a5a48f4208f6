// The programming run: load, clock, identify, then back up, compare, or
// erase, program and verify.
#pragma once

#include <cstdint>

extern uint32_t g_bitstream_length;

// What the operator asked for besides the card.
struct run_request {
  const char *bitPath;
  bool write;              // false: the Flash only compared with the .bit
  const char *backupPath;  // null: no backup
  const char *cardName;    // "card ID 0": what the backup names
};

// differs: a compare found the Flash other than the .bit.
enum class run_result { done, differs, failed };

// Fills *buffer (owned by the caller, null on entry). Interrupts are held
// from the first erase on, and stay held when it returns.
run_result programming_run(const run_request &request, uint8_t **buffer);
