// Single accesses to the bridge's two Flash registers, through the mapped
// window when there is one and through library calls otherwise.
#pragma once

#include <cstdint>

#include "korvan.h"

// Byte offsets of the two registers in the control register block.
constexpr uint32_t FLASH_DATA_REG = 0x1C;
constexpr uint32_t FLASH_CTRL_REG = 0x1E;

korvan_status flash_ctrl(uint32_t code);
korvan_status flash_write_data(uint16_t value);
uint8_t flash_read_data();
