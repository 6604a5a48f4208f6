#include "bridge_model.h"

namespace ksim {

namespace {

// What the bridge does for each code it knows, named as the utility names
// the codes it issues.
enum bridge_function : uint16_t {
  NONE = 0,
  RESET = 0x9F,         // counter 0, interface disabled, the Flash held in reset
  OUT_OF_RESET = 0x8C,  // the Flash out of reset
  ENABLE = 0x93,        // the interface enabled, after the two above
  FIRST_BYTE = 0x97,    // counter 0
  NEXT_BYTE = 0x91,     // counter + 1
  NEXT_BLOCK = 0x92,    // counter to the start of the next block
  READ_CYCLE = 0x95,    // the data register presents the Flash's byte at the counter
  WRITE = 0x14,         // the Flash takes the data register's low byte at the counter
  IDLE = 0x90,
  WRITE_IDLE = 0x10,  // idle too: the code around a write
};

// The function whose code equals the value written in every bit but the
// strobe, by the value's low byte with the strobe clear.
struct function_table {
  bridge_function function[256] = {};
  constexpr function_table() {
    for (bridge_function f : {RESET, OUT_OF_RESET, ENABLE, FIRST_BYTE, NEXT_BYTE, NEXT_BLOCK, READ_CYCLE,
                              WRITE, IDLE, WRITE_IDLE})
      function[f & ~STROBE] = f;
  }
};
constexpr function_table FUNCTIONS;

bridge_function function_of(uint16_t value) {
  return value > 0xFF ? NONE : FUNCTIONS.function[value & ~STROBE];
}

}  // namespace

void bridge_pulse(bridge_model *bridge, recorder *rec, uint16_t value) {
  flash_model &flash = bridge->flash;
  const bridge_function function = function_of(value);
  const bool enabled = bridge->stage == interface_stage::enabled;
  bridge->lastFunction = static_cast<uint8_t>(function != NONE ? function : (value | STROBE) & 0xFF);
  switch (function) {
  case RESET:
    bridge->counter = 0;
    bridge->stage = interface_stage::reset;
    flash_reset(&flash);
    break;
  case OUT_OF_RESET:
    if (bridge->stage == interface_stage::reset) bridge->stage = interface_stage::out_of_reset;
    break;
  case ENABLE:
    if (bridge->stage == interface_stage::out_of_reset) bridge->stage = interface_stage::enabled;
    break;
  case FIRST_BYTE: bridge->counter = 0; break;
  case NEXT_BYTE: ++bridge->counter; break;
  case NEXT_BLOCK:
    bridge->counter = (bridge->counter / flash.params.blockSize + 1) * flash.params.blockSize;
    break;
  case READ_CYCLE: bridge->dataPresented = enabled ? flash_read(&flash, bridge->counter) : 0xFF; break;
  case WRITE:
    if (enabled) {
      const uint8_t byte = static_cast<uint8_t>(bridge->dataWritten & 0xFF);
      if (!flash_write(&flash, bridge->counter, byte)) {
        ++rec->badFlashCommands;
        trace_line(rec, "bad flash %02x", static_cast<unsigned>(byte));
      }
    }
    break;
  case IDLE:
  case WRITE_IDLE: break;
  case NONE:
    ++rec->badPulses;
    trace_line(rec, "bad %x", static_cast<unsigned>(value | STROBE));
    return;
  }
  ++rec->pulses[function];
}

uint16_t bridge_read(const bridge_model &bridge, uint32_t reg) {
  return reg == FLASH_DATA_REG ? bridge.dataPresented : bridge.ctrl;
}

}  // namespace ksim
