#include "flash_port.h"

#include "card_state.h"
#include "korvan_library.h"

namespace {

constexpr uint32_t STROBE = 0x10;  // bit 4 of the control register, active low

// A store through the window is always followed by one load of the same
// register, so that the bridge sees each write before the next one.
void mapped_store(uint32_t offset, uint16_t value) {
  g_ctrl_regs[offset / 2] = value;
  const uint16_t readBack = g_ctrl_regs[offset / 2];
  (void)readBack;
}

korvan_status library_write(uint32_t offset, uint16_t value) {
  return korvan.KORVAN2_Write(g_card, KORVAN_WIDTH_16, 0, g_ctrl_local_addr + offset, &value, 2);
}

}  // namespace

korvan_status flash_ctrl(uint32_t code) {
  const uint16_t high = static_cast<uint16_t>((code | STROBE) & 0xFFFF);
  const uint16_t low = static_cast<uint16_t>(code & ~STROBE & 0xFFFF);
  if (g_ctrl_regs != nullptr) {
    mapped_store(FLASH_CTRL_REG, high);
    mapped_store(FLASH_CTRL_REG, low);
    mapped_store(FLASH_CTRL_REG, high);
    return 0;
  }
  korvan_status status = library_write(FLASH_CTRL_REG, high);
  if (status != 0) return status;
  status = library_write(FLASH_CTRL_REG, low);
  if (status != 0) return status;
  return library_write(FLASH_CTRL_REG, high);
}

korvan_status flash_write_data(uint16_t value) {
  if (g_ctrl_regs != nullptr) {
    mapped_store(FLASH_DATA_REG, value);
    return 0;
  }
  return library_write(FLASH_DATA_REG, value);
}

uint8_t flash_read_data() {
  uint16_t value = 0;
  if (g_ctrl_regs != nullptr) {
    value = g_ctrl_regs[FLASH_DATA_REG / 2];
  } else {
    (void)korvan.KORVAN2_Read(g_card, KORVAN_WIDTH_16, 0, g_ctrl_local_addr + FLASH_DATA_REG, &value, 2);
  }
  return static_cast<uint8_t>(value & 0xFF);
}
