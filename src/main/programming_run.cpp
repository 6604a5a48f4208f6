#include "programming_run.h"

#include <cstdio>

#include "bitstream/bitstream.h"
#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"
#include "main/backup.h"
#include "platform/platform.h"

uint32_t g_bitstream_length = 0;

namespace {

constexpr uint32_t LCLK = 0;
constexpr double LCLK_HZ = 33000000.0;
constexpr uint16_t NO_FLASH_ID = 0xFF;
constexpr uint32_t COMPARE_REPORT_LIMIT = 16;  // a blank card would give a line a byte

void announce(const char *phase) {
  std::fputs(phase, stdout);
  std::fflush(stdout);
}

bool report_differing(uint32_t differing) {
  if (differing != 0)
    std::printf("*** Verify failed: %lu of %lu bytes differ\n", static_cast<unsigned long>(differing),
                static_cast<unsigned long>(FLASH_LEAD_IN_BYTES + g_bitstream_length));
  return differing == 0;
}

}  // namespace

run_result programming_run(const run_request &request, uint8_t **buffer) {
  const char *bitPath = request.bitPath;
  korvan_status status = load_bitstream(g_card, bitPath, buffer, &g_bitstream_length);
  if (status != 0) {
    std::printf("*** Failed to load bitstream %s: %s\n", bitPath, korvan.KORVAN2_GetStatusString(status));
    return run_result::failed;
  }
  if (g_bitstream_length > FLASH_MAX_DATA_BYTES) {
    std::printf("*** Bitstream of %lu bytes does not fit in the Flash (at most %lu bytes)\n",
                static_cast<unsigned long>(g_bitstream_length),
                static_cast<unsigned long>(FLASH_MAX_DATA_BYTES));
    return run_result::failed;
  }
  status = korvan.KORVAN2_SetClockRate(g_card, LCLK, LCLK_HZ, nullptr);
  if (status != 0) {
    std::printf("Failed to set LCLK to %.1fMHz: %s\n", LCLK_HZ / 1e6, korvan.KORVAN2_GetStatusString(status));
    return run_result::failed;
  }
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
    return run_result::failed;
  }
  if (request.backupPath != nullptr && !back_up_flash(request.backupPath, request.cardName))
    return run_result::failed;
  if (!request.write) {
    announce("Verifying Flash...\n");
    return report_differing(flash_verify(*buffer, g_bitstream_length, COMPARE_REPORT_LIMIT))
               ? run_result::done
               : run_result::differs;
  }
  platform_hold_interrupts();  // a Flash left half written does not configure the bridge
  announce("Erasing Flash...\n");
  if (flash_erase() != flash_result::ok) return run_result::failed;
  announce("Programming Flash...\n");
  if (flash_program(*buffer, g_bitstream_length) != flash_result::ok) return run_result::failed;
  announce("Verifying Flash...\n");
  return report_differing(flash_verify(*buffer, g_bitstream_length)) ? run_result::done : run_result::failed;
}
