// The run's record and the log it is appended to (/log FILE): the log is
// opened before the card library is loaded, and every run that opened it
// appends one record as it ends.
#pragma once

#include <chrono>
#include <cstdint>

#include "korvan.h"
#include "main/command_line.h"
#include "main/programming_run.h"
#include "platform/platform.h"
#include "record/run_record.h"

struct run_log {
  run_record record;
  std::chrono::steady_clock::time_point start;
  const char *path = nullptr;  // null: no log
  log_file file;
  bool cardsRecorded = false;  // a record for each card (+list, +all): none more at the end
};

// The run's start and its arguments.
void start_run_log(int argc, char **argv, run_log *log);
// What the command line asks for, noted; the log opened when one is given.
// False, said, when it cannot be, or when it would harm another file: the
// .bit file or the backup file however named, or an existing .bit file (a
// log this run created for that is removed again).
bool open_run_log(const command_line &cl, run_log *log);
// False, said, when the open log is the host lock file (flocking it for a
// record would wait on this run's own lock); the log is then closed, and
// removed when this run created it.
bool log_spares_the_lock(run_log *log, const file_identity &lock);
// The record of the run, or of the card just ended, completed and appended
// when there is a log; the result, or -1 (said) when it could not be written.
int append_run_record(run_log *log, run_result run, int result);
// The same with the record's result given: skipped, refused, not tried.
int append_card_record(run_log *log, const char *outcome, int result);
// The record made anew for the card at index: what the command line and the
// .bit file said is kept.
void start_card_record(run_record *record, uint32_t index, const char *action);
// The run's record appended, unless each card had its own, and the log closed.
int end_run_log(run_log *log, run_result run, int result);

void note_card_info(const card_info &info, run_record *record);
