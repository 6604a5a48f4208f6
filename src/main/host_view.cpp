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
constexpr const char *SUMMARY_ROW = "%5lu  %-12s  %s\n";

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

// The line that ends the cards: the first index that does not open. Index 0
// not opening is the run's failure.
bool say_end_of_cards(uint32_t index, korvan_status status) {
  if (index == 0) {
    say("*** Failed to open card with index 0: %s\n", status_text(status));
    return false;
  }
  say("No card at index %lu: %s\n", static_cast<unsigned long>(index), status_text(status));
  return true;
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

enum class seen { read, refused, unreadable, same, differs };

// The card's checks as a run makes them, then LCLK set and the Flash
// identified as a run does; with data, compared. Nothing is shown, and the
// Flash is left in read array.
seen look_at_card(bool skipRevisionGate, const uint8_t *data, run_record *r, card_check *check) {
  progress_quiet(true);
  *check = check_card(skipRevisionGate, r);
  seen what = *check == card_check::unreadable ? seen::unreadable
              : *check != card_check::passed   ? seen::refused
                                               : seen::read;
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
  if (what == seen::refused || what == seen::unreadable)
    flash = (what == seen::refused ? "refused: " : "not read: ") + reason_of(check);
  say(LIST_ROW, std::to_string(index).c_str(), model_name(r).c_str(), bridge.c_str(), date.c_str(),
      control.c_str(), r.controlAddress ? (r.mapped ? "mapped" : "library") : "-", flash.c_str());
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
  int status = 0;
  for (uint32_t index = 0; !platform_interrupted(); ++index) {
    progress_new_card();
    start_card_record(&log->record, index, data != nullptr ? "compare" : "list");
    korvan_status opened = 0;
    if (!open_card(index, &opened)) {
      if (!say_end_of_cards(index, opened)) status = append_run_record(log, run_result::failed, -1);
      break;
    }
    card_check check = card_check::passed;
    const seen what = look_at_card(skipRevisionGate, data, &log->record, &check);
    close_card();
    print_list_row(index, what, check, log->record);
    const int own = what == seen::read || what == seen::same ? 0 : what == seen::differs ? 1 : -1;
    const run_result run = own == 0 ? run_result::done : own == 1 ? run_result::differs : run_result::failed;
    const bool recorded = append_run_record(log, run, own) == own;
    if (!recorded || what == seen::unreadable)
      status = -1;  // a card not read, or its record not written
    else if (own == 1 && status == 0)
      status = 1;
  }
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

// One card as "sorvel /index K x.bit" rewrites it, but compared first.
card_outcome update_card(uint32_t index, const command_line &cl, run_record *r, uint8_t **buffer,
                         run_result *run) {
  const char *bitPath = cl.set.values[0].s;
  *run = run_result::failed;
  const card_check check = check_card(cl.options[OPTION_FORCE].value.b != 0, r);
  if (check == card_check::other_model) {
    say("Skipped: neither a Halcyra nor a Perinel\n");
    return {model_name(*r), "skipped: " + reason_of(check), true, false};
  }
  if (check != card_check::passed)
    return {model_name(*r), (check == card_check::refused ? "refused: " : "not read: ") + reason_of(check),
            false, false};
  const std::string name = "card index " + std::to_string(index);
  run_request request{bitPath, true, nullptr, name.c_str(), r};
  request.compareFirst = true;
  request.fast = cl.options[OPTION_FAST].value.b != 0;
  std::free(*buffer);
  *buffer = nullptr;
  *run = programming_run(request, buffer);
  const bool rewritten = std::string(r->action) == "write";
  if (*run == run_result::done)
    return {model_name(*r), rewritten ? "rewritten and verified" : "left alone: holds the file", true,
            platform_interrupted()};
  if (platform_interrupted() && !rewritten)
    return {model_name(*r), "interrupted before its erase", false, true};
  return {model_name(*r), "failed: " + reason_of(check), false, true};
}

}  // namespace

int update_all_cards(const command_line &cl, run_log *log, uint8_t **buffer) {
  log->cardsRecorded = true;
  std::vector<card_outcome> outcomes;
  bool stopped = false;
  bool allHold = true;
  for (uint32_t index = 0;; ++index) {
    progress_new_card();
    start_card_record(&log->record, index, "compare");
    korvan_status opened = 0;
    if (!open_card(index, &opened)) {
      if (!say_end_of_cards(index, opened)) (void)append_run_record(log, run_result::failed, -1);
      break;
    }
    if (stopped) {  // named, and touched no further
      close_card();
      outcomes.push_back({"-", "not tried", false, true});
      continue;
    }
    say("== Card index %lu\n", static_cast<unsigned long>(index));
    run_result run = run_result::failed;
    outcomes.push_back(update_card(index, cl, &log->record, buffer, &run));
    close_card();
    stopped = outcomes.back().stops;
    const int own = run == run_result::done ? 0 : -1;
    if (append_run_record(log, run, own) != own) allHold = false;
  }
  if (outcomes.empty()) return -1;
  say("Summary:\n");
  for (size_t k = 0; k < outcomes.size(); ++k) {
    say(SUMMARY_ROW, static_cast<unsigned long>(k), outcomes[k].model.c_str(), outcomes[k].done.c_str());
    allHold = allHold && outcomes[k].holds;
  }
  return allHold ? 0 : -1;
}
