// sorvel: rewrites the configuration Flash of the bridge on Halcyra and
// Perinel cards.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "args/args.h"
#include "board/card_state.h"
#include "board/korvan_library.h"
#include "board/progress.h"
#include "main/card_checks.h"
#include "main/command_line.h"
#include "main/host_lock.h"
#include "main/host_view.h"
#include "main/programming_run.h"
#include "main/run_log.h"
#include "platform/platform.h"

namespace {

// By index when the index option was given, whatever its value; by ID
// otherwise. *name: "card ID 0", "card index 1".
bool open_chosen_card(const command_line &cl, std::string *name) {
  const bool byIndex = cl.options[OPTION_INDEX].given != 0;
  const uint32_t number = cl.options[byIndex ? OPTION_INDEX : OPTION_CARD].value.u;
  const korvan_status status =
      byIndex ? korvan.KORVAN2_OpenCardByIndex(number, &g_card) : korvan.KORVAN2_OpenCard(number, &g_card);
  if (status != 0)
    say("*** Failed to open card with %s %d: %s\n", byIndex ? "index" : "ID", static_cast<int>(number),
        status_text(status));
  *name = std::string("card ") + (byIndex ? "index " : "ID ") + std::to_string(number);
  return status == 0;
}

// Everything from the open to the programming run.
run_result check_card_and_program(const command_line &cl, uint8_t **buffer, run_record *record) {
  std::string cardName;
  if (!open_chosen_card(cl, &cardName)) return run_result::failed;
  if (check_card(cl.options[OPTION_FORCE].value.b != 0, record) != card_check::passed)
    return run_result::failed;
  std::fflush(stdout);
  run_request request{cl.set.values[0].s, cl.options[OPTION_WRITE].value.b != 0,
                      cl.options[OPTION_BACKUP].value.s, cardName.c_str(), record};
  request.fast = cl.options[OPTION_FAST].value.b != 0;
  return programming_run(request, buffer);
}

// A value after the .bit path that starts like an option was meant as one:
// "sorvel x.bit /index 1" must not rewrite card ID 0.
bool options_before_path(const arg_set &set) {
  for (int32_t k = 1; k < set.numValues; ++k) {
    const char *value = set.values[k].s;
    if (value != nullptr && (value[0] == '-' || value[0] == '/' || value[0] == '+')) {
      say("*** Option %s after the BIT file: options must come before it\n", value);
      return false;
    }
  }
  return true;
}

// /cards N counts the cards of +list and +all, at least one.
bool cards_counted(const command_line &cl, bool everyCard) {
  const arg_option &cards = cl.options[OPTION_CARDS];
  if (cards.given == 0) return true;
  if (!everyCard)
    say("*** /cards can only be used with +list or +all: it is how many cards they take\n");
  else if (cards.value.u == 0)
    say("*** /cards must be at least 1: it is how many cards this host has\n");
  return everyCard && cards.value.u != 0;
}

// A .bit path for every run but a listing, and no option that +list or
// +all cannot honour.
bool command_line_holds(const command_line &cl) {
  const bool list = cl.options[OPTION_LIST].value.b != 0;
  const bool all = cl.options[OPTION_ALL].value.b != 0;
  if (cl.set.numValues == 0 && !list) {
    say("Too few parameters supplied. Use sorvel /? to get help.\n");
    return false;
  }
  const struct {
    bool refused;
    const char *option, *with, *why;
  } refusals[] = {
      {list && cl.options[OPTION_CARD].given != 0, "/card", "+list", "it lists every card"},
      {list && cl.options[OPTION_INDEX].given != 0, "/index", "+list", "it lists every card"},
      {list && cl.options[OPTION_BACKUP].given != 0, "/backup", "+list", "it writes nothing"},
      {list && all, "+all", "+list", "+list x.bit compares every card"},
      {all && cl.options[OPTION_CARD].given != 0, "/card", "+all", "it takes every card"},
      {all && cl.options[OPTION_INDEX].given != 0, "/index", "+all", "it takes every card"},
      {all && cl.options[OPTION_BACKUP].given != 0, "/backup", "+all",
       "one backup file cannot keep several cards: back them up one at a time"},
      {all && cl.options[OPTION_WRITE].value.b == 0, "-write", "+all", "+list x.bit compares every card"}};
  for (const auto &r : refusals)
    if (r.refused) {
      say("*** %s cannot be used with %s: %s\n", r.option, r.with, r.why);
      return false;
    }
  return cards_counted(cl, list || all) && options_before_path(cl.set);
}

// The cards the command line names: one, or every card of the host.
int run_cards(const command_line &cl, run_log *log, uint8_t **buffer, run_result *run) {
  if (cl.options[OPTION_LIST].value.b != 0) return list_cards(cl, log);
  if (cl.options[OPTION_ALL].value.b != 0) return update_all_cards(cl, log, buffer);
  *run = check_card_and_program(cl, buffer, &log->record);
  return *run == run_result::done ? 0 : *run == run_result::differs ? 1 : -1;
}

// The utility, with its arguments as UTF-8 text.
int sorvel_main(int argc, char **argv) {
  platform_guard_standard_streams();
  platform_note_interrupts();
  platform_start_output();
  run_log log;
  start_run_log(argc, argv, &log);
  g_card = 0;
  uint8_t *buffer = nullptr;
  // The parser's copies live as long as the process: kept reachable here.
  static command_line cl;
  declare_command_line(&cl);

  // 0 when the run succeeded (a compare: the Flash holds the .bit), 1 when
  // a compare found it other, -1 on any failure.
  int result = -1;
  run_result run = run_result::failed;
  host_lock lock;
  if (parse_command_line("sorvel", argc, argv, &cl.set) == 0 && command_line_holds(cl) &&
      open_run_log(cl, &log) && open_host_lock(&lock) && log_spares_the_lock(&log, lock.identity) &&
      take_host_lock(cl.options[OPTION_WAIT].value.u, &lock) && bind_korvan_library())
    result = run_cards(cl, &log, &buffer, &run);

  if (buffer != nullptr) {
    std::free(buffer);
    buffer = nullptr;
  }
  if (g_card != 0) {
    (void)korvan.KORVAN2_CloseCard(g_card);
    g_card = 0;
  }
  platform_close_host_lock(&lock);  // after the card
  // +list and +all tell an interrupt in the lines of the card it came to.
  if (platform_interrupted() && !progress_hold_began() && !log.cardsRecorded) say_interrupted();
  result = end_run_log(&log, run, result);
  platform_end_output();
  platform_end_if_interrupted();  // the card closed first
  return result;
}

}  // namespace

#if defined(_WIN32)
// The command line as the system holds it (UTF-16), handed on as UTF-8.
int wmain(int argc, wchar_t **wideArgv) {
  std::vector<std::string> arguments;
  for (int k = 0; k < argc; ++k)
    arguments.push_back(platform_utf8(wideArgv[k]));
  std::vector<char *> argv;
  for (std::string &argument : arguments)
    argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  return sorvel_main(argc, argv.data());
}
#else
int main(int argc, char **argv) { return sorvel_main(argc, argv); }
#endif
