// A byte-wide Flash with the Intel/Sharp command set: read array, read
// identifier, read status, block erase and byte program.
#pragma once

#include <cstdint>
#include <vector>

#include "card_config.h"

namespace ksim {

enum class flash_mode { read_array, read_identifier, read_status };
enum class flash_pending { none, erase_setup, program_setup };

// Status register bits.
constexpr uint8_t SR_READY = 0x80;
constexpr uint8_t SR_ERASE_ERROR = 0x20;
constexpr uint8_t SR_PROGRAM_ERROR = 0x10;
constexpr uint8_t SR_LOCKED = 0x02;

struct flash_model {
  std::vector<uint8_t> cells;
  uint32_t blockSize = 0;
  uint8_t vendor = 0;
  uint8_t device = 0;
  uint8_t lock = 0;
  uint32_t busyReads = 0;
  stuck_kind stuck = stuck_kind::none;
  std::vector<uint32_t> weak;  // sorted

  flash_mode mode = flash_mode::read_array;
  flash_pending pending = flash_pending::none;
  uint8_t errorBits = 0;
  uint32_t busyLeft = 0;
  bool busyForever = false;

  uint64_t bytesProgrammed = 0;
  uint64_t blocksErased = 0;
};

// Contents every byte 0x00, in read array mode.
void flash_init(flash_model *flash, const card_config &card);
// As after the reset pin: read array, nothing pending, status clear.
void flash_reset(flash_model *flash);
void flash_write(flash_model *flash, uint32_t address, uint8_t byte);
uint8_t flash_read(flash_model *flash, uint32_t address);

}  // namespace ksim
