#include "programming_run.h"

#include <cstdio>

#include "bitstream/bitstream.h"
#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"

uint32_t g_bitstream_length = 0;

namespace {

constexpr uint32_t LCLK = 0;
constexpr double LCLK_HZ = 33000000.0;
constexpr uint16_t NO_FLASH_ID = 0xFF;

void announce(const char *phase) {
  std::fputs(phase, stdout);
  std::fflush(stdout);
}

}  // namespace

bool programming_run(const char *bitPath, uint8_t **buffer) {
  korvan_status status = load_bitstream(g_card, bitPath, buffer, &g_bitstream_length);
  if (status != 0) {
    std::printf("*** Failed to load bitstream %s: %s\n", bitPath, korvan.KORVAN2_GetStatusString(status));
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
    std::printf("Failed to set LCLK to %.1fMHz: %s\n", LCLK_HZ / 1e6, korvan.KORVAN2_GetStatusString(status));
    return false;
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
    return false;
  }
  announce("Erasing Flash...\n");
  if (flash_erase() != flash_result::ok) return false;
  announce("Programming Flash...\n");
  if (flash_program(*buffer, g_bitstream_length) != flash_result::ok) return false;
  announce("Verifying Flash...\n");
  const uint32_t differing = flash_verify(*buffer, g_bitstream_length);
  if (differing != 0) {
    std::printf("*** Verify failed: %lu of %lu bytes differ\n", static_cast<unsigned long>(differing),
                static_cast<unsigned long>(FLASH_LEAD_IN_BYTES + g_bitstream_length));
    return false;
  }
  return true;
}
