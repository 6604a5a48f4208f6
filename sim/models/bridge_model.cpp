#include "bridge_model.h"

namespace ksim {

namespace {

// What the bridge does for each code it knows.
enum bridge_function : uint16_t {
  NONE = 0,
  RESET_INTERFACE = 0x9F,  // counter 0, interface disabled, the Flash held in reset
  RELEASE_FLASH = 0x8C,    // the Flash out of reset
  ENABLE_INTERFACE = 0x93,
  COUNTER_TO_ZERO = 0x97,
  COUNTER_PLUS_ONE = 0x91,
  COUNTER_TO_NEXT_BLOCK = 0x92,
  READ_CYCLE = 0x95,   // the data register presents the Flash's byte at the counter
  WRITE_CYCLE = 0x14,  // the Flash takes the data register's low byte at the counter
  IDLE = 0x90,
  IDLE_LOW = 0x10,
};

// The function whose code equals the value written in every bit but the
// strobe, by the value's low byte with the strobe clear.
struct function_table {
  bridge_function function[256] = {};
  constexpr function_table() {
    for (bridge_function f :
         {RESET_INTERFACE, RELEASE_FLASH, ENABLE_INTERFACE, COUNTER_TO_ZERO, COUNTER_PLUS_ONE,
          COUNTER_TO_NEXT_BLOCK, READ_CYCLE, WRITE_CYCLE, IDLE, IDLE_LOW})
      function[f & ~CTRL_STROBE] = f;
  }
};
constexpr function_table FUNCTIONS;

bridge_function function_of(uint16_t value) {
  return value > 0xFF ? NONE : FUNCTIONS.function[value & ~CTRL_STROBE];
}

}  // namespace

void bridge_pulse(bridge_model *bridge, recorder *rec, uint16_t value) {
  flash_model &flash = bridge->flash;
  const bridge_function function = function_of(value);
  const bool enabled = bridge->stage == interface_stage::enabled;
  bridge->lastFunction = static_cast<uint8_t>(function != NONE ? function : (value | CTRL_STROBE) & 0xFF);
  switch (function) {
  case RESET_INTERFACE:
    bridge->counter = 0;
    bridge->stage = interface_stage::reset;
    flash_reset(&flash);
    break;
  case RELEASE_FLASH:
    if (bridge->stage == interface_stage::reset) bridge->stage = interface_stage::out_of_reset;
    break;
  case ENABLE_INTERFACE:
    if (bridge->stage == interface_stage::out_of_reset) bridge->stage = interface_stage::enabled;
    break;
  case COUNTER_TO_ZERO: bridge->counter = 0; break;
  case COUNTER_PLUS_ONE: ++bridge->counter; break;
  case COUNTER_TO_NEXT_BLOCK:
    bridge->counter = (bridge->counter / flash.params.blockSize + 1) * flash.params.blockSize;
    break;
  case READ_CYCLE: bridge->dataPresented = enabled ? flash_read(&flash, bridge->counter) : 0xFF; break;
  case WRITE_CYCLE:
    if (enabled) {
      const uint8_t byte = static_cast<uint8_t>(bridge->dataWritten & 0xFF);
      if (!flash_write(&flash, bridge->counter, byte)) {
        ++rec->badFlashCommands;
        trace_line(rec, "bad flash %02x", static_cast<unsigned>(byte));
      }
    }
    break;
  case IDLE:
  case IDLE_LOW: break;
  case NONE:
    ++rec->badPulses;
    trace_line(rec, "bad %x", static_cast<unsigned>(value | CTRL_STROBE));
    return;
  }
  ++rec->pulses[function];
}

uint16_t bridge_read(const bridge_model &bridge, uint32_t reg) {
  return reg == REG_FLASH_DATA ? bridge.dataPresented : bridge.ctrl;
}

}  // namespace ksim
