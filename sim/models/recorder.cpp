#include "recorder.h"

#include <cstdarg>

namespace ksim {

const char *const call_kind_names[CALL_KINDS] = {"open", "card_info", "space_info", "clock",
                                                 "read", "write",     "close"};

void trace_line(recorder *rec, const char *format, ...) {
  if (rec->trace == nullptr) return;
  va_list list;
  va_start(list, format);
  std::vfprintf(rec->trace, format, list);
  va_end(list);
  std::fputc('\n', rec->trace);
}

void trace_access(recorder *rec, bool write, access_path path, uint32_t address, uint32_t value) {
  trace_line(rec, "%c %s %x %x", write ? 'W' : 'R', path == PATH_MAP ? "map" : "lib",
             static_cast<unsigned>(address), static_cast<unsigned>(value));
}

bool write_stats(const recorder &rec, const std::string &fileName, const flash_counts &counts) {
  FILE *file = std::fopen(fileName.c_str(), "w");
  if (file == nullptr) return false;
  auto line = [file](const std::string &name, uint64_t value) {
    std::fprintf(file, "%s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
  };
  for (int kind = 0; kind < CALL_KINDS; ++kind)
    line(std::string("calls_") + call_kind_names[kind], rec.calls[kind]);
  line("reads_lib", rec.reads[PATH_LIB]);
  line("writes_lib", rec.writes[PATH_LIB]);
  line("reads_map", rec.reads[PATH_MAP]);
  line("writes_map", rec.writes[PATH_MAP]);
  for (unsigned code = 0; code < 256; ++code) {
    if (rec.pulses[code] == 0) continue;
    char name[16];
    std::snprintf(name, sizeof name, "pulses_%02x", code);
    line(name, rec.pulses[code]);
  }
  line("pulses_bad", rec.badPulses);
  line("bytes_programmed", counts.bytesProgrammed);
  line("blocks_erased", counts.blocksErased);
  line("buffers_programmed", counts.buffersProgrammed);
  line("buffered_bytes", counts.bufferedBytes);
  line("flash_unknown_commands", rec.badFlashCommands);
  return std::fclose(file) == 0;
}

}  // namespace ksim
