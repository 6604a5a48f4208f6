// The process-wide card state: written once by main before any Flash
// access; then read by the Flash port and by the run, never written again.
#pragma once

#include <cstdint>

#include "korvan.h"

extern korvan_card g_card;              // 0 when no card is open
extern volatile uint16_t *g_ctrl_regs;  // register block in the mapped window, or null
extern uint32_t g_ctrl_local_addr;      // local bus address of the register block
