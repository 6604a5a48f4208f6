#include "bridge_model.h"

namespace ksim {

namespace {

constexpr uint16_t STROBE = 0x10;

// The function whose code equals the value written in every bit but the
// strobe, by the value's low byte with the strobe clear; 0 for none.
struct code_table {
  uint16_t code[256] = {};
  constexpr code_table() {
    for (uint16_t c : {0x9F, 0x8C, 0x93, 0x97, 0x91, 0x92, 0x95, 0x14, 0x90, 0x10})
      code[c & ~STROBE] = c;
  }
};
constexpr code_table CODES;

uint16_t code_of(uint16_t value) { return value > 0xFF ? 0 : CODES.code[value & ~STROBE]; }

}  // namespace

void bridge_pulse(bridge_model *bridge, recorder *rec, uint16_t value) {
  flash_model &flash = bridge->flash;
  const uint16_t code = code_of(value);
  const bool enabled = bridge->stage == interface_stage::enabled;
  switch (code) {
  case 0x9F:  // interface reset; holds the Flash in reset
    bridge->counter = 0;
    bridge->stage = interface_stage::reset;
    flash_reset(&flash);
    break;
  case 0x8C:  // Flash out of reset
    if (bridge->stage == interface_stage::reset) bridge->stage = interface_stage::out_of_reset;
    break;
  case 0x93:  // interface enabled
    if (bridge->stage == interface_stage::out_of_reset) bridge->stage = interface_stage::enabled;
    break;
  case 0x97: bridge->counter = 0; break;
  case 0x91: ++bridge->counter; break;
  case 0x92: bridge->counter = (bridge->counter / flash.blockSize + 1) * flash.blockSize; break;
  case 0x95:  // read cycle
    bridge->dataPresented = enabled ? flash_read(&flash, bridge->counter) : 0xFF;
    break;
  case 0x14:  // write cycle
    if (enabled) flash_write(&flash, bridge->counter, static_cast<uint8_t>(bridge->dataWritten & 0xFF));
    break;
  case 0x90:
  case 0x10: break;
  default:
    ++rec->badPulses;
    trace_line(rec, "bad %x", static_cast<unsigned>(value | STROBE));
    return;
  }
  ++rec->pulses[code];
}

uint16_t bridge_read(const bridge_model &bridge, uint32_t reg) {
  return reg == REG_FLASH_DATA ? bridge.dataPresented : bridge.ctrl;
}

}  // namespace ksim
