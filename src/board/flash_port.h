// Single accesses to the bridge's two Flash registers, through the mapped
// window when there is one and through library calls otherwise.
#pragma once

#include <cstdint>

#include "korvan.h"

#define FLASH_DATA_REG 0x1Cu  // byte offsets in the control register block
#define FLASH_CTRL_REG 0x1Eu
#define FLASH_STROBE 0x10u  // bit 4 of the control register, active low

korvan_status flash_ctrl(uint32_t code);
korvan_status flash_write_data(uint16_t value);
uint8_t flash_read_data();
