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
#include "main/command_line.h"
#include "main/host_lock.h"
#include "main/programming_run.h"
#include "main/run_log.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t SPACE_1 = 1;
constexpr uint32_t CTRL_BLOCK_FROM_END = 0x400000;  // Perinel: block lies this far before the end
constexpr uint32_t BUILD_TIME_REG = 0x78;
constexpr uint32_t BUILD_DATE_REG = 0x7C;
constexpr uint32_t BUILD_REG_FLAGS = 2;
constexpr uint8_t HALCYRA_MINIMUM_REVISION = 1;  // a Perinel has no minimum
constexpr uint8_t GATE_REVISION = 1;             // the revision gate's lowest bridge revision
constexpr uint8_t FIRST_DATED_REVISION = 2;      // a Halcyra bridge keeps its build date from here on

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

bool check_model(card_info *info, run_record *record) {
  const korvan_status status = korvan.KORVAN2_GetCardInfo(g_card, info);
  if (status != 0) {
    say("*** Failed to get card info: %s\n", status_text(status));
    return false;
  }
  note_card_info(*info, record);
  if (info->BoardType != KORVAN_BOARD_HALCYRA && info->BoardType != KORVAN_BOARD_PERINEL) {
    say("*** This utility must be run on one of the following models:\n\n");
    say("\to Halcyra\n");
    say("\to Perinel\n");
    return false;
  }
  return true;
}

// Sets g_ctrl_regs when space 1 is wholly mapped, and g_ctrl_local_addr.
bool locate_control_block(uint32_t boardType) {
  space_info space;
  const korvan_status status = korvan.KORVAN2_GetSpaceInfo(g_card, SPACE_1, &space);
  if (status != 0) {
    say("*** Failed to get card info: %s\n", status_text(status));
    return false;
  }
  const bool perinel = boardType == KORVAN_BOARD_PERINEL;
  if (perinel && space.LocalSize < CTRL_BLOCK_FROM_END) {
    say("*** Address space 1 is too small for the control register block (local size 0x%lx)\n",
        static_cast<unsigned long>(space.LocalSize));
    return false;
  }
  const uint32_t blockOffset = perinel ? space.LocalSize - CTRL_BLOCK_FROM_END : 0;
  if (space.VirtualBase != nullptr && space.VirtualSize >= space.LocalSize)
    g_ctrl_regs =
        reinterpret_cast<volatile uint16_t *>(static_cast<uint8_t *>(space.VirtualBase) + blockOffset);
  g_ctrl_local_addr = space.LocalBase + blockOffset;
  return true;
}

// The build date as the line shows it, "28/06/2019 09:05:07"; empty when
// the bridge keeps none.
std::string report_build_date(bool available) {
  if (!available) {
    say("Current bridge build date: not available (Bridge revision too low)\n");
    return "";
  }
  uint32_t timeWord = 0;
  uint32_t dateWord = 0;
  (void)korvan.KORVAN2_Read(g_card, KORVAN_WIDTH_32, BUILD_REG_FLAGS, BUILD_TIME_REG, &timeWord, 4);
  (void)korvan.KORVAN2_Read(g_card, KORVAN_WIDTH_32, BUILD_REG_FLAGS, BUILD_DATE_REG, &dateWord, 4);
  char date[64];
  std::snprintf(date, sizeof date, "%02d/%02d/%04d %02d:%02d:%02d", static_cast<int>(dateWord & 0xFF),
                static_cast<int>(dateWord >> 8 & 0xFF), static_cast<int>(dateWord >> 16 & 0xFFFF),
                static_cast<int>(timeWord >> 24 & 0xFF), static_cast<int>(timeWord >> 16 & 0xFF),
                static_cast<int>(timeWord >> 8 & 0xFF));
  say("Current bridge build date: %s (0x%8.8lx_%8.8lx)\n", date, static_cast<unsigned long>(dateWord),
      static_cast<unsigned long>(timeWord));
  return date;
}

// The family, the revision and its report, the build date, the address and
// the gate, in that order.
bool check_revision(uint32_t boardType, uint8_t logicRevision, bool skipRevisionGate, run_record *record) {
  const bool halcyra = boardType == KORVAN_BOARD_HALCYRA;
  const uint8_t minimumRevision = halcyra ? HALCYRA_MINIMUM_REVISION : 0;
  const bool knownFamily = (logicRevision & KORVAN_LOGIC_FAMILY_MASK) == KORVAN_LOGIC_FAMILY;
  if (!knownFamily) {
    say("*** LogicRevision %2.2lx not recognised\n", static_cast<unsigned long>(logicRevision));
    return false;
  }
  const uint8_t bridgeRevision = logicRevision & KORVAN_LOGIC_REVISION_MASK;
  record->bridgeRevision = bridgeRevision;
  say("Current Bridge revision: rev%02ld\n", static_cast<long>(bridgeRevision));
  if (bridgeRevision < minimumRevision) {
    say("*** Current Bridge revision too low.\n");
    say("    Rev0%ld or later bitstream required\n", static_cast<long>(minimumRevision));
    return false;
  }
  const std::string date = report_build_date(!halcyra || bridgeRevision >= FIRST_DATED_REVISION);
  if (!date.empty()) record->buildDate = date;
  say("Control register local bus address: 0x%lx\n", static_cast<unsigned long>(g_ctrl_local_addr));
  // The gate tests the logic family again, though the check above has
  // already refused any other: it is the gate as the bridge's rules state it.
  if (!skipRevisionGate && (!knownFamily || bridgeRevision < GATE_REVISION)) {
    say("*** This utility requires Halcyra Bridge revision 01 or later.\n");
    return false;
  }
  return true;
}

// Everything from the open to the programming run.
run_result check_card_and_program(const command_line &cl, uint8_t **buffer, run_record *record) {
  std::string cardName;
  if (!open_chosen_card(cl, &cardName)) return run_result::failed;
  const bool skipRevisionGate = cl.options[OPTION_FORCE].value.b != 0;
  card_info info;
  if (!check_model(&info, record) || !locate_control_block(info.BoardType)) return run_result::failed;
  record->controlAddress = g_ctrl_local_addr;
  record->mapped = g_ctrl_regs != nullptr;
  if (!check_revision(info.BoardType, info.LogicRevision, skipRevisionGate, record))
    return run_result::failed;
  std::fflush(stdout);
  const run_request request{cl.set.values[0].s, cl.options[OPTION_WRITE].value.b != 0,
                            cl.options[OPTION_BACKUP].value.s, cardName.c_str(), record};
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
  if (parse_command_line("sorvel", argc, argv, &cl.set) == 0 && options_before_path(cl.set) &&
      open_run_log(cl, &log) && take_host_lock(cl.options[OPTION_WAIT].value.u, &lock) &&
      bind_korvan_library()) {
    run = check_card_and_program(cl, &buffer, &log.record);
    result = run == run_result::done ? 0 : run == run_result::differs ? 1 : -1;
  }

  if (buffer != nullptr) {
    std::free(buffer);
    buffer = nullptr;
  }
  if (g_card != 0) {
    (void)korvan.KORVAN2_CloseCard(g_card);
    g_card = 0;
  }
  platform_close_host_lock(&lock);  // after the card
  if (platform_interrupted() && !progress_hold_began()) say_interrupted();
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
