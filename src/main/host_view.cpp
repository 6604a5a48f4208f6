#include "host_view.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitstream/bitstream.h"
#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"
#include "board/progress.h"
#include "main/card_checks.h"
#include "main/programming_run.h"

namespace {

constexpr const char *LIST_ROW = "%5s  %-12s  %-6s  %-19s  %-10s  %-7s  %s\n";
constexpr const char *SUMMARY_ROW = "%5s  %-12s  %s\n";

// Each card starts with the process-wide card state anew and ends with it
// cleared, so that no card reaches another's window or block.
void clear_card_state() {
  g_card = 0;
  g_ctrl_regs = nullptr;
  g_ctrl_local_addr = 0;
}

bool open_card(uint32_t index, korvan_status *status) {
  clear_card_state();
  *status = korvan.KORVAN2_OpenCardByIndex(index, &g_card);
  return *status == 0;
}

void close_card() {
  if (g_card != 0) (void)korvan.KORVAN2_CloseCard(g_card);
  clear_card_state();
}

// The walk over a host's cards by index. The library neither counts cards
// nor tells "no such index" from a card that fails to open, so without
// /cards the cards end only where two indices in a row do not open; with
// /cards N exactly 0 to N-1 are cards, and index N must not open.
struct card_walk {
  uint32_t cards = 0;           // /cards N; 0: not given
  uint32_t index = 0;           // the index the next step takes
  bool lookedAhead = false;     // the card at index is open already
  bool endChecked = false;      // index N was tried (/cards)
  bool tooMany = false;         // a card answered at index N
  korvan_status status = 0;     // why index did not open
  korvan_status endStatus = 0;  // why the index that ends the cards did not
  long lastSeen = -1;           // the last index that has a row
};

enum class step { card, not_opened, end, interrupted };

// Index N opened once: a card there is more than /cards said, opened and
// closed only. False, said, when one answers.
bool nothing_past_the_count(card_walk *walk) {
  walk->endChecked = true;
  if (!open_card(walk->cards, &walk->endStatus)) return true;
  close_card();
  say("*** A card answers at index %lu: this host has more cards than /cards %lu\n",
      static_cast<unsigned long>(walk->cards), static_cast<unsigned long>(walk->cards));
  walk->tooMany = true;
  return false;
}

// Once an interrupt is noted no card is opened: an open may wait on the library.
step next_card(card_walk *walk) {
  if (platform_interrupted()) return step::interrupted;
  if (walk->lookedAhead) {
    walk->lookedAhead = false;
    return step::card;
  }
  if (walk->cards != 0 && walk->index == walk->cards) {
    if (!walk->endChecked) (void)nothing_past_the_count(walk);
    return platform_interrupted() ? step::interrupted : step::end;
  }
  if (open_card(walk->index, &walk->status)) return step::card;
  if (platform_interrupted()) return step::interrupted;
  if (walk->cards != 0) return step::not_opened;
  korvan_status after = 0;
  walk->lookedAhead = open_card(walk->index + 1, &after);
  if (walk->lookedAhead) return step::not_opened;
  walk->endStatus = walk->status;
  return platform_interrupted() ? step::interrupted : step::end;
}

// An index that did not open with a card after it, or below /cards N.
void say_not_opened(const card_walk &walk) {
  if (walk.cards != 0)
    say("*** No card at index %lu: %s (/cards %lu)\n", static_cast<unsigned long>(walk.index),
        status_text(walk.status), static_cast<unsigned long>(walk.cards));
  else
    say("*** Failed to open card with index %lu: %s\n", static_cast<unsigned long>(walk.index),
        status_text(walk.status));
}

// The line that ends the cards, after the last one: the first index that
// does not open. No card at all is the run's failure, recorded.
int say_end_of_cards(const card_walk &walk, run_log *log) {
  if (walk.tooMany) return -1;
  if (walk.index == 0) {
    progress_new_card();
    start_card_record(&log->record, 0, "none");
    say("*** Failed to open card with index 0: %s\n", status_text(walk.endStatus));
    (void)append_run_record(log, run_result::failed, -1);
    return -1;
  }
  say("No card at index %lu: %s\n", static_cast<unsigned long>(walk.index), status_text(walk.endStatus));
  return 0;
}

// The last line of a walk that an interrupt ended.
void say_not_looked_at(const card_walk &walk) {
  if (walk.lastSeen < 0)
    say("    -  cards from index 0 not looked at: interrupted\n");
  else
    say("    -  cards after index %ld not looked at: interrupted\n", walk.lastSeen);
}

std::string model_name(const run_record &r) {
  if (!r.boardType) return "-";
  if (*r.boardType == KORVAN_BOARD_HALCYRA) return "Halcyra";
  if (*r.boardType == KORVAN_BOARD_PERINEL) return "Perinel";
  return "board type " + std::to_string(*r.boardType);
}

// Why a check refused a card, or what could not be read: its first line.
std::string reason_of(card_check check) {
  if (check == card_check::other_model) return "neither a Halcyra nor a Perinel";
  const std::string &line = first_error_line();
  return line.rfind("*** ", 0) == 0 ? line.substr(4) : line;
}

std::string not_opened_text(const card_walk &walk) {
  return std::string("not opened: ") + status_text(walk.status);
}

enum class seen { read, skipped, refused, unreadable, same, differs };

// The card's checks as a run makes them, then LCLK set and the Flash
// identified as a run does; with data, compared. Nothing is shown, and the
// Flash is left in read array.
seen look_at_card(bool skipRevisionGate, const uint8_t *data, run_record *r, card_check *check) {
  progress_quiet(true);
  *check = check_card(skipRevisionGate, r);
  seen what = *check == card_check::unreadable    ? seen::unreadable
              : *check == card_check::other_model ? seen::skipped
              : *check != card_check::passed      ? seen::refused
                                                  : seen::read;
  if (what != seen::read) r->action = "none";  // the Flash not reached
  if (what == seen::read && !set_local_clock()) what = seen::unreadable;
  if (what == seen::read) {
    const bool known = identify_flash(r);
    if (known && data != nullptr)
      what = compare_quietly(data, r) == 0 ? seen::same : seen::differs;  // ends in read array
    else
      flash_read_from_start();  // read array
    if (!known) what = seen::refused;
  }
  progress_quiet(false);
  return what;
}

void print_list_row(uint32_t index, seen what, card_check check, const run_record &r) {
  char text[64];
  std::string bridge = "-", control = "-", flash;
  if (r.bridgeRevision) {
    std::snprintf(text, sizeof text, "rev%02lu", static_cast<unsigned long>(*r.bridgeRevision));
    bridge = text;
  }
  if (r.controlAddress) {
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(*r.controlAddress));
    control = text;
  }
  const std::string date = r.buildDate ? *r.buildDate : check == card_check::passed ? "none" : "-";
  if (r.flash) {
    std::snprintf(text, sizeof text, "vendor %lx, device %lx, lock %lx",
                  static_cast<unsigned long>(r.flash->vendor), static_cast<unsigned long>(r.flash->device),
                  static_cast<unsigned long>(r.flash->lock));
    flash = text;
  }
  if (what == seen::same) flash += ", holds the file";
  if (what == seen::differs)
    flash += ", differs in " + std::to_string(*r.differing) + " of " +
             std::to_string(FLASH_LEAD_IN_BYTES + g_bitstream_length) + " bytes";
  if (what == seen::skipped || what == seen::refused) flash = "refused: " + reason_of(check);
  if (what == seen::unreadable) flash = "not read: " + reason_of(check);
  say(LIST_ROW, std::to_string(index).c_str(), model_name(r).c_str(), bridge.c_str(), date.c_str(),
      control.c_str(), r.controlAddress ? (r.mapped ? "mapped" : "library") : "-", flash.c_str());
}

// A listed card's record: its result, and its own exit status (-1 also
// when the record could not be written).
int record_listed_card(seen what, run_log *log) {
  switch (what) {
  case seen::skipped: return append_card_record(log, "skipped", 0);
  case seen::refused: return append_card_record(log, "refused", -1);
  case seen::unreadable: return append_run_record(log, run_result::failed, -1);
  case seen::differs: return append_run_record(log, run_result::differs, 1);
  case seen::read:
  case seen::same: break;
  }
  return append_run_record(log, run_result::done, 0);
}

// A card that did not open, listed: with /cards its line, else a row.
void list_not_opened(const card_walk &walk, run_log *log) {
  start_card_record(&log->record, walk.index, "none");
  if (walk.cards == 0) progress_quiet(true);  // the line is the record's error, the row the operator's
  say_not_opened(walk);
  progress_quiet(false);
  if (walk.cards == 0)
    say(LIST_ROW, std::to_string(walk.index).c_str(), "-", "-", "-", "-", "-", not_opened_text(walk).c_str());
  (void)append_run_record(log, run_result::failed, -1);
}

// The .bit file for a listing, loaded once; false, said, when it cannot be.
bool load_for_listing(const char *bitPath, uint8_t **data, run_record *record) {
  bit_facts facts;
  const korvan_status status =
      load_bit_file(bitPath, data, &g_bitstream_length, record->logged ? &facts : nullptr);
  if (status != 0) {
    say("*** Failed to load bitstream %s: %s\n", bitPath, status_text(status));
    return false;
  }
  record->dataBytes = g_bitstream_length;
  if (record->logged) record->bit = facts;
  return fits_in_the_flash(g_bitstream_length);
}

}  // namespace

int list_cards(const command_line &cl, run_log *log) {
  const char *bitPath = cl.set.numValues > 0 ? cl.set.values[0].s : nullptr;
  uint8_t *data = nullptr;
  if (bitPath != nullptr && !load_for_listing(bitPath, &data, &log->record)) {
    std::free(data);
    return -1;
  }
  log->cardsRecorded = true;
  const bool skipRevisionGate = cl.options[OPTION_FORCE].value.b != 0;
  say(LIST_ROW, "index", "model", "bridge", "build date", "control", "path",
      bitPath ? "Flash, and the file" : "Flash");
  card_walk walk;
  walk.cards = cl.options[OPTION_CARDS].value.u;
  int status = 0;
  step next = step::end;
  for (; (next = next_card(&walk)) != step::end && next != step::interrupted; walk.lastSeen = walk.index++) {
    progress_new_card();
    if (next == step::not_opened) {
      list_not_opened(walk, log);
      status = -1;
      continue;
    }
    start_card_record(&log->record, walk.index, data != nullptr ? "compare" : "list");
    card_check check = card_check::passed;
    const seen what = look_at_card(skipRevisionGate, data, &log->record, &check);
    close_card();
    print_list_row(walk.index, what, check, log->record);
    const int own = what == seen::differs ? 1 : what == seen::unreadable || what == seen::refused ? -1 : 0;
    if (record_listed_card(what, log) != own || what == seen::unreadable)
      status = -1;  // a card not read, or its record not written
    else if (own == 1 && status == 0)
      status = 1;
  }
  close_card();  // a card looked ahead at when an interrupt came
  if (next == step::interrupted)
    say_not_looked_at(walk);
  else if (say_end_of_cards(walk, log) != 0)
    status = -1;
  std::free(data);
  return status;
}

namespace {

struct card_outcome {
  std::string model;
  std::string done;  // what was done, and its result
  bool holds;        // a Halcyra or Perinel that holds the file, or a card of another model
  bool stops;        // the cards after it are not tried
};

// One card as "sorvel /index K x.bit" rewrites it, but compared first; its
// record appended.
card_outcome update_card(uint32_t index, const command_line &cl, run_log *log, uint8_t **buffer) {
  run_record *r = &log->record;
  const card_check check = check_card(cl.options[OPTION_FORCE].value.b != 0, r);
  if (check != card_check::passed) r->action = "none";  // the Flash not reached
  if (check == card_check::other_model) {
    say("Skipped: neither a Halcyra nor a Perinel\n");
    const bool recorded = append_card_record(log, "skipped", 0) == 0;
    return {model_name(*r), "skipped: " + reason_of(check), recorded, false};
  }
  if (check != card_check::passed) {
    const std::string why = (check == card_check::refused ? "refused: " : "not read: ") + reason_of(check);
    (void)append_card_record(log, check == card_check::refused ? "refused" : "failed", -1);
    return {model_name(*r), why, false, false};
  }
  const std::string name = "card index " + std::to_string(index);
  run_request request{cl.set.values[0].s, true, nullptr, name.c_str(), r};
  request.compareFirst = true;
  request.fast = cl.options[OPTION_FAST].value.b != 0;
  std::free(*buffer);
  *buffer = nullptr;
  const run_result run = programming_run(request, buffer);
  platform_cut_calls_short();  // the hold of a rewrite ends with its card
  card_outcome outcome{model_name(*r), "", run == run_result::done, run != run_result::done};
  if (run == run_result::done)
    outcome.done =
        std::string(r->action) == "write" ? "rewritten and verified" : "left alone: holds the file";
  else if (platform_interrupted() && !progress_hold_began()) {
    say_interrupted();
    r->action = "compare";  // its Flash was only read
    outcome.done = "interrupted before its erase";
  } else
    outcome.done = "failed: " + reason_of(check);
  if (append_run_record(log, run, run == run_result::done ? 0 : -1) == -1) outcome.holds = false;
  return outcome;
}

// A card after a failed rewrite: named from its card information, nothing
// else asked of it.
card_outcome name_untried_card(run_log *log) {
  card_info info;
  if (korvan.KORVAN2_GetCardInfo(g_card, &info) == 0) note_card_info(info, &log->record);
  (void)append_card_record(log, "not tried", -1);
  return {model_name(log->record), "not tried", false, true};
}

// /cards N checked before anything is written: each index below N opens
// (and is closed again), index N does not. False, said, when the host is
// otherwise; each index that did not open has its record.
bool inventory_holds(card_walk *walk, run_log *log) {
  bool holds = true;
  for (; walk->index < walk->cards && !platform_interrupted(); ++walk->index) {
    if (open_card(walk->index, &walk->status)) {
      close_card();
      continue;
    }
    if (platform_interrupted()) break;
    progress_new_card();
    start_card_record(&log->record, walk->index, "none");
    say_not_opened(*walk);
    (void)append_run_record(log, run_result::failed, -1);
    holds = false;
  }
  if (!platform_interrupted()) holds = nothing_past_the_count(walk) && holds;
  walk->index = 0;
  if (platform_interrupted()) {
    say_interrupted();
    return false;
  }
  if (!holds)
    say("Nothing was written: the cards of this host are not as /cards %lu says\n",
        static_cast<unsigned long>(walk->cards));
  return holds;
}

}  // namespace

int update_all_cards(const command_line &cl, run_log *log, uint8_t **buffer) {
  log->cardsRecorded = true;
  card_walk walk;
  walk.cards = cl.options[OPTION_CARDS].value.u;
  if (walk.cards != 0 && !inventory_holds(&walk, log)) return -1;
  std::vector<card_outcome> outcomes;
  bool stopped = false;
  step next = step::end;
  for (; (next = next_card(&walk)) != step::end && next != step::interrupted; walk.lastSeen = walk.index++) {
    progress_new_card();
    start_card_record(&log->record, walk.index, stopped || next == step::not_opened ? "none" : "compare");
    if (next == step::not_opened) {
      say("== Card index %lu\n", static_cast<unsigned long>(walk.index));
      say_not_opened(walk);
      (void)append_run_record(log, run_result::failed, -1);
      outcomes.push_back({"-", not_opened_text(walk), false, false});
      continue;
    }
    if (!stopped) say("== Card index %lu\n", static_cast<unsigned long>(walk.index));
    outcomes.push_back(stopped ? name_untried_card(log) : update_card(walk.index, cl, log, buffer));
    close_card();
    stopped = stopped || outcomes.back().stops;
  }
  close_card();  // a card looked ahead at when an interrupt came
  const bool ended = next == step::end && say_end_of_cards(walk, log) == 0;
  if (outcomes.empty() && next != step::interrupted) return -1;
  say("Summary:\n");
  bool allHold = ended;
  for (size_t k = 0; k < outcomes.size(); ++k) {
    say(SUMMARY_ROW, std::to_string(k).c_str(), outcomes[k].model.c_str(), outcomes[k].done.c_str());
    allHold = allHold && outcomes[k].holds;
  }
  if (next == step::interrupted) say_not_looked_at(walk);
  return allHold ? 0 : -1;
}
