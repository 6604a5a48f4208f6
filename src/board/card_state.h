// The process-wide state: the card and its register block, written once by
// main before any Flash access and then only read by the Flash port and the
// run; the bitstream's length, written by the run as it loads the data.
#pragma once

#include <cstdint>

#include "korvan.h"

extern korvan_card g_card;              // 0 when no card is open
extern volatile uint16_t *g_ctrl_regs;  // register block in the mapped window, or null
extern uint32_t g_ctrl_local_addr;      // local bus address of the register block
extern uint32_t g_bitstream_length;     // configuration data bytes in the run's buffer
