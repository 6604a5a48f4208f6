#include "card_checks.h"

#include <cstdio>
#include <string>

#include "board/card_state.h"
#include "board/korvan_library.h"
#include "board/progress.h"
#include "main/run_log.h"

namespace {

constexpr uint32_t SPACE_1 = 1;
constexpr uint32_t CTRL_BLOCK_FROM_END = 0x400000;  // Perinel: block lies this far before the end
constexpr uint32_t BUILD_TIME_REG = 0x78;
constexpr uint32_t BUILD_DATE_REG = 0x7C;
constexpr uint32_t BUILD_REG_FLAGS = 2;
constexpr uint8_t HALCYRA_MINIMUM_REVISION = 1;  // a Perinel has no minimum
constexpr uint8_t GATE_REVISION = 1;             // the revision gate's lowest bridge revision
constexpr uint8_t FIRST_DATED_REVISION = 2;      // a Halcyra bridge keeps its build date from here on

card_check check_model(card_info *info, run_record *record) {
  const korvan_status status = korvan.KORVAN2_GetCardInfo(g_card, info);
  if (status != 0) {
    say("*** Failed to get card info: %s\n", status_text(status));
    return card_check::unreadable;
  }
  note_card_info(*info, record);
  if (info->BoardType != KORVAN_BOARD_HALCYRA && info->BoardType != KORVAN_BOARD_PERINEL) {
    say("*** This utility must be run on one of the following models:\n\n");
    say("\to Halcyra\n");
    say("\to Perinel\n");
    return card_check::other_model;
  }
  return card_check::passed;
}

// Sets g_ctrl_regs when space 1 is wholly mapped, and g_ctrl_local_addr.
card_check locate_control_block(uint32_t boardType) {
  space_info space;
  const korvan_status status = korvan.KORVAN2_GetSpaceInfo(g_card, SPACE_1, &space);
  if (status != 0) {
    say("*** Failed to get card info: %s\n", status_text(status));
    return card_check::unreadable;
  }
  const bool perinel = boardType == KORVAN_BOARD_PERINEL;
  if (perinel && space.LocalSize < CTRL_BLOCK_FROM_END) {
    say("*** Address space 1 is too small for the control register block (local size 0x%lx)\n",
        static_cast<unsigned long>(space.LocalSize));
    return card_check::refused;
  }
  const uint32_t blockOffset = perinel ? space.LocalSize - CTRL_BLOCK_FROM_END : 0;
  if (space.VirtualBase != nullptr && space.VirtualSize >= space.LocalSize)
    g_ctrl_regs =
        reinterpret_cast<volatile uint16_t *>(static_cast<uint8_t *>(space.VirtualBase) + blockOffset);
  g_ctrl_local_addr = space.LocalBase + blockOffset;
  return card_check::passed;
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

}  // namespace

card_check check_card(bool skipRevisionGate, run_record *record) {
  card_info info;
  card_check check = check_model(&info, record);
  if (check == card_check::passed) check = locate_control_block(info.BoardType);
  if (check != card_check::passed) return check;
  record->controlAddress = g_ctrl_local_addr;
  record->mapped = g_ctrl_regs != nullptr;
  return check_revision(info.BoardType, info.LogicRevision, skipRevisionGate, record) ? card_check::passed
                                                                                      : card_check::refused;
}
