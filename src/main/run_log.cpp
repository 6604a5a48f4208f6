#include "run_log.h"

#include <cstdio>
#include <ctime>

#include "bitstream/bitstream.h"
#include "board/progress.h"

namespace {

// Whether an existing file's first bytes walk as a .bit file's header.
bool holds_a_bit_file(const char *path) {
  bool notRegular = false;
  FILE *file = platform_open_regular(path, &notRegular);
  if (file == nullptr) return false;
  uint64_t size = 0;
  uint32_t dataLength = 0;
  uint32_t dataOffset = 0;
  const bool walks = measure_bit_file(file, &size) == 0 &&
                     parse_bit_header(file, size, nullptr, &dataLength, &dataOffset) == 0;
  std::fclose(file);
  return walks;
}

// Why appending to the open log would harm another file; "" when it would not.
std::string harm_of(const run_log &log, const run_record &r) {
  if (r.bitPath && same_file(log.file.identity, platform_identity(r.bitPath->c_str())))
    return "it is the BIT file";
  if (r.backup != nullptr &&
      (platform_same_place(log.path, r.backup) || same_file(log.file.identity, platform_identity(r.backup))))
    return "it is the backup file";
  if (!log.file.created && log.file.disk && holds_a_bit_file(log.path)) return "it holds a BIT file";
  return "";
}

}  // namespace

void start_run_log(int argc, char **argv, run_log *log) {
  log->start = std::chrono::steady_clock::now();
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  const std::tm *utc = std::gmtime(&now);
  if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  log->record.time = text;
  for (int k = 1; k < argc; ++k)
    log->record.arguments.push_back(argv[k]);
}

bool open_run_log(const command_line &cl, run_log *log) {
  run_record &r = log->record;
  r.byIndex = cl.options[OPTION_INDEX].given != 0;
  r.cardNumber = cl.options[r.byIndex ? OPTION_INDEX : OPTION_CARD].value.u;
  if (cl.set.numValues > 0) r.bitPath = cl.set.values[0].s;
  r.action = cl.options[OPTION_WRITE].value.b != 0 ? "write" : "compare";
  r.backup = cl.options[OPTION_BACKUP].value.s;
  log->path = cl.options[OPTION_LOG].value.s;
  r.logged = log->path != nullptr;
  if (log->path == nullptr) return true;
  std::string reason;
  if (platform_open_log(log->path, &log->file, &reason)) {
    reason = harm_of(*log, r);
    if (reason.empty()) return true;
    platform_close_log(&log->file);
    if (log->file.created) platform_remove(log->path);
  }
  say("*** Cannot open the log file %s: %s\n", log->path, reason.c_str());
  return false;
}

bool log_spares_the_lock(run_log *log, const file_identity &lock) {
  if (log->file.handle == -1 || !same_file(log->file.identity, lock)) return true;
  say("*** Cannot open the log file %s: it is the host lock file\n", log->path);
  platform_close_log(&log->file);
  if (log->file.created) platform_remove(log->path);
  return false;
}

int append_run_record(run_log *log, run_result run, int result) {
  const std::string action = log->record.action;
  return append_card_record(log,
                            run == run_result::done      ? (action == "write"  ? "written"
                                                            : action == "list" ? "listed"
                                                                               : "same")
                            : run == run_result::differs ? "differs"
                                                         : "failed",
                            result);
}

int append_card_record(run_log *log, const char *outcome, int result) {
  if (log->file.handle == -1) return result;
  run_record &r = log->record;
  r.result = outcome;
  if (result != 0 && !first_error_line().empty()) r.error = first_error_line();  // a skipped card is no error
  r.interrupted = platform_interrupted();
  r.exitStatus = result;
  r.totalSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - log->start).count();
  platform_flush_output();  // every line said before the record is out before it: neither cuts the other
  std::string reason;
  if (platform_append(log->file, run_record_json(r) + "\n", &reason)) return result;
  say("*** Cannot write the log file %s: %s\n", log->path, reason.c_str());
  return -1;
}

void start_card_record(run_record *record, uint32_t index, const char *action) {
  run_record next;
  next.logged = record->logged;
  next.time = record->time;
  next.arguments = record->arguments;
  next.bitPath = record->bitPath;
  next.bit = record->bit;  // the file's facts, when it was loaded once for every card
  next.dataBytes = record->dataBytes;
  next.backup = record->backup;
  next.byIndex = true;
  next.cardNumber = index;
  next.action = action;
  *record = next;
}

int end_run_log(run_log *log, run_result run, int result) {
  if (!log->cardsRecorded) result = append_run_record(log, run, result);
  platform_close_log(&log->file);
  return result;
}

void note_card_info(const card_info &info, run_record *record) {
  record->boardType = info.BoardType;
  record->logicRevision = info.LogicRevision;
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&info);
  std::string hex;
  for (size_t k = 0; k < sizeof info; ++k) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", bytes[k]);
    hex += digits;
  }
  record->cardInfo = hex;
}
