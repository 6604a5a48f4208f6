// The bridge's Flash interface: a control register whose bit 4 is an
// active-low strobe, a data register, and an address counter.
#pragma once

#include <cstdint>

#include "flash_model.h"
#include "recorder.h"

namespace ksim {

// Byte offsets of the two registers in the control register block.
constexpr uint32_t FLASH_DATA_REG = 0x1C;
constexpr uint32_t FLASH_CTRL_REG = 0x1E;
constexpr uint16_t STROBE = 0x10;  // active low

// How far the reset, out-of-reset, enable sequence has come since open.
enum class interface_stage { disabled, reset, out_of_reset, enabled };

struct bridge_model {
  uint16_t ctrl = 0;
  uint16_t dataWritten = 0;
  uint16_t dataPresented = 0x00FF;
  interface_stage stage = interface_stage::disabled;
  uint32_t counter = 0;
  uint8_t lastFunction = 0;  // the code of the last pulse, strobe set
  flash_model flash;
};

// The function of a control value written at the strobe's falling edge.
void bridge_pulse(bridge_model *bridge, recorder *rec, uint16_t value);

// reg is FLASH_DATA_REG or FLASH_CTRL_REG. A write to the control register
// with the strobe clear after one with it set is a pulse.
inline void bridge_write(bridge_model *bridge, recorder *rec, uint32_t reg, uint16_t value) {
  if (reg == FLASH_DATA_REG) {
    bridge->dataWritten = value;
    return;
  }
  const bool falling = (bridge->ctrl & STROBE) != 0 && (value & STROBE) == 0;
  bridge->ctrl = value;
  if (falling) bridge_pulse(bridge, rec, value);
}
uint16_t bridge_read(const bridge_model &bridge, uint32_t reg);

}  // namespace ksim
