#include "programming_run.h"

#include <cstdio>

#include "bitstream/bitstream.h"
#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"
#include "board/progress.h"
#include "main/backup.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t LCLK = 0;
constexpr double LCLK_HZ = 33000000.0;
constexpr uint16_t NO_FLASH_ID = 0xFF;
constexpr uint32_t COMPARE_REPORT_LIMIT = 16;  // a blank card would give a line a byte

const char *status_text(korvan_status status) { return korvan.KORVAN2_GetStatusString(status); }

void announce(const char *phase) {
  std::fputs(phase, stdout);
  std::fflush(stdout);
}

// The bitstream in *buffer, no longer than the Flash holds, and the clock set.
bool load_and_clock(const char *bitPath, uint8_t **buffer) {
  korvan_status status = load_bitstream(g_card, bitPath, buffer, &g_bitstream_length);
  if (status != 0) {
    std::printf("*** Failed to load bitstream %s: %s\n", bitPath, status_text(status));
    return false;
  }
  if (g_bitstream_length > FLASH_MAX_DATA_BYTES) {
    std::printf("*** Bitstream of %lu bytes does not fit in the Flash (at most %lu bytes)\n",
                static_cast<unsigned long>(g_bitstream_length),
                static_cast<unsigned long>(FLASH_MAX_DATA_BYTES));
    return false;
  }
  status = korvan.KORVAN2_SetClockRate(g_card, LCLK, LCLK_HZ, nullptr);
  if (status != 0) {
    std::printf("Failed to set LCLK to %.1fMHz: %s\n", LCLK_HZ / 1e6, status_text(status));
    return false;
  }
  return true;
}

bool identify_flash() {
  flash_setup();
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint16_t lockBit = 0;
  flash_read_id(&vendorId, &deviceId, &lockBit);
  std::printf("Vendor ID = %lx, Device ID = %lx\n", static_cast<unsigned long>(vendorId),
              static_cast<unsigned long>(deviceId));
  std::printf("Lock bit = %lx\n", static_cast<unsigned long>(lockBit));
  if (vendorId == NO_FLASH_ID || deviceId == NO_FLASH_ID) {
    std::printf("*** Unrecognised vendor/device ID for Flash\n");
    return false;
  }
  return true;
}

bool report_differing(uint32_t differing) {
  if (differing != 0)
    std::printf("*** Verify failed: %lu of %lu bytes differ\n", static_cast<unsigned long>(differing),
                static_cast<unsigned long>(FLASH_LEAD_IN_BYTES + g_bitstream_length));
  return differing == 0;
}

run_result compare(const uint8_t *data) {
  announce("Verifying Flash...\n");
  return report_differing(flash_verify(data, g_bitstream_length, COMPARE_REPORT_LIMIT)) ? run_result::done
                                                                                        : run_result::differs;
}

// Erase, program and verify, with interrupts held throughout: a Flash left
// half written does not configure the bridge.
run_result erase_program_verify(const uint8_t *data) {
  announce("Erasing Flash...\n");
  if (flash_erase() != flash_result::ok) return run_result::failed;
  announce("Programming Flash...\n");
  if (flash_program(data, g_bitstream_length) != flash_result::ok) return run_result::failed;
  announce("Verifying Flash...\n");
  return report_differing(flash_verify(data, g_bitstream_length)) ? run_result::done : run_result::failed;
}

}  // namespace

run_result programming_run(const run_request &request, uint8_t **buffer) {
  if (!load_and_clock(request.bitPath, buffer) || !identify_flash()) return run_result::failed;
  if (request.backupPath != nullptr && !back_up_flash(request.backupPath, request.cardName))
    return run_result::failed;
  if (!request.write) return compare(*buffer);
  if (platform_interrupted()) return run_result::failed;  // up to here nothing has been written
  progress_hold_begins();
  const run_result result = erase_program_verify(*buffer);
  progress_hold_ends();
  return result;
}
