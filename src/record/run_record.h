// The record of one run, for the log that /log appends to: what the card
// held, what was written and how the run ended. A plain record, filled as
// the run goes; what the run did not reach stays empty and is written null.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bitstream/bitstream.h"  // bit_facts

struct flash_ids {
  uint16_t vendor, device, lock;
};

// The phases whose wall time is kept.
enum { PHASE_BACKUP, PHASE_ERASE, PHASE_PROGRAM, PHASE_VERIFY, PHASE_COUNT };

struct run_record {
  bool logged = false;  // a log is kept: the .bit file's facts are worth noting
  std::string time;     // the run's start, UTC
  std::vector<std::string> arguments;
  bool byIndex = false;
  uint32_t cardNumber = 0;
  std::optional<std::string> cardInfo;  // the 40 bytes in hex
  std::optional<uint32_t> boardType, logicRevision, bridgeRevision, controlAddress;
  std::optional<std::string> buildDate;  // null also where the bridge keeps none
  bool mapped = false;                   // the register path, once the address is known
  std::optional<flash_ids> flash;
  std::optional<std::string> bitPath;  // null: the run was given none (+list)
  std::optional<bit_facts> bit;
  std::optional<uint32_t> dataBytes;
  const char *action = "write";             // write, compare, list; none: the Flash not reached
  bool fast = false;                        // +fast, on a run that writes
  std::optional<uint32_t> blocksRewritten;  // +fast through the buffer: the blocks written again
  const char *backup = nullptr;
  const char *result = "failed";  // written, same, differs, listed, failed, skipped, refused, not tried
  std::optional<std::string> error;
  std::optional<uint32_t> differing;
  bool interrupted = false;
  int exitStatus = -1;
  std::optional<double> seconds[PHASE_COUNT];
  double totalSeconds = 0;
};

// The record's own version: raised whenever a key changes meaning or goes,
// so that a reader of the logs can refuse records it does not know.
constexpr int RECORD_VERSION = 1;

// The record as one line of JSON, without the line end.
std::string run_record_json(const run_record &record);
