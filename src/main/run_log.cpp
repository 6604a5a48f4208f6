#include "run_log.h"

#include <cstdio>
#include <ctime>

#include "board/progress.h"
#include "platform/platform.h"

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
  r.bitPath = cl.set.values[0].s;
  r.write = cl.options[OPTION_WRITE].value.b != 0;
  r.backup = cl.options[OPTION_BACKUP].value.s;
  log->path = cl.options[OPTION_LOG].value.s;
  r.logged = log->path != nullptr;
  if (log->path == nullptr) return true;
  std::string reason;
  log->file = platform_open_log(log->path, &reason);
  if (log->file == -1) say("*** Cannot open the log file %s: %s\n", log->path, reason.c_str());
  return log->file != -1;
}

int end_run_log(run_log *log, run_result run, int result) {
  if (log->file == -1) return result;
  run_record &r = log->record;
  r.result = run == run_result::done      ? (r.write ? "written" : "same")
             : run == run_result::differs ? "differs"
                                          : "failed";
  if (!first_error_line().empty()) r.error = first_error_line();
  r.interrupted = platform_interrupted();
  r.exitStatus = result;
  r.totalSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - log->start).count();
  std::string reason;
  const bool written = platform_append(log->file, run_record_json(r) + "\n", &reason);
  platform_close_log(log->file);
  log->file = -1;
  if (written) return result;
  say("*** Cannot write the log file %s: %s\n", log->path, reason.c_str());
  return -1;
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
