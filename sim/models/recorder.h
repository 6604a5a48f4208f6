// What the simulated card saw: the trace file and the counts for `stats`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ksim {

// The library calls, counted by kind.
enum call_kind {
  CALL_OPEN,
  CALL_CARD_INFO,
  CALL_SPACE_INFO,
  CALL_CLOCK,
  CALL_READ,
  CALL_WRITE,
  CALL_CLOSE,
  CALL_KINDS
};
extern const char *const call_kind_names[CALL_KINDS];

enum access_path { PATH_LIB, PATH_MAP, PATHS };

struct recorder {
  FILE *trace = nullptr;
  uint64_t calls[CALL_KINDS] = {};
  uint64_t reads[PATHS] = {};
  uint64_t writes[PATHS] = {};
  uint64_t pulses[256] = {};  // by control code, bit 4 set
  uint64_t badPulses = 0;
  uint64_t badFlashCommands = 0;
};

// One trace line, when tracing; the line end is added.
void trace_line(recorder *rec, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

void trace_access(recorder *rec, bool write, access_path path, uint32_t address, uint32_t value);

// A register access that reached the bridge: counted, and traced when tracing.
inline void record_access(recorder *rec, bool write, access_path path, uint32_t address, uint32_t value) {
  (write ? rec->writes : rec->reads)[path]++;
  if (rec->trace != nullptr) trace_access(rec, write, path, address, value);
}

// What the Flash did, as the stats file counts it.
struct flash_counts {
  uint64_t bytesProgrammed, blocksErased, buffersProgrammed, bufferedBytes;
};

// Writes the counts, one `name value` a line; false when the file cannot be written.
bool write_stats(const recorder &rec, const std::string &fileName, const flash_counts &counts);

}  // namespace ksim
