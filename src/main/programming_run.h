// The programming run: load, clock, identify, then back up, compare, or
// erase, program and verify.
#pragma once

#include <cstdint>

#include "record/run_record.h"

// What the operator asked for besides the card.
struct run_request {
  const char *bitPath;
  bool write;                 // false: the Flash only compared with the .bit
  const char *backupPath;     // null: no backup
  const char *cardName;       // "card ID 0": what the backup names
  run_record *record;         // what the run finds and does, noted
  bool compareFirst = false;  // +all: a Flash that holds the .bit is left alone
  bool fast = false;          // +fast: only the blocks needed, through the write buffer
};

// differs: a compare found the Flash other than the .bit.
enum class run_result { done, differs, failed };

// Fills *buffer (owned by the caller, null on entry). An interrupt that
// comes before the first erase ends the run there; from the first erase to
// the end of the verification it is held, and the run goes on. Either way
// the caller ends the process by it once the card is closed.
run_result programming_run(const run_request &request, uint8_t **buffer);

// Its steps that a listing takes too, each saying what failed.
bool fits_in_the_flash(uint32_t length);
bool set_local_clock();  // LCLK at 33 MHz
bool identify_flash(run_record *record);
// The lead-in and the data compared, nothing shown; the differing bytes.
uint32_t compare_quietly(const uint8_t *data, run_record *record);
