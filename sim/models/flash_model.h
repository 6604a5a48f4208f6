// A byte-wide Flash with the Intel/Sharp command set: read array, read
// identifier, read status, read query, block erase, byte program and
// Write to Buffer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "flash_params.h"

namespace ksim {

// Told as each block erase or byte program begins, before it has any
// effect, and as each byte is presented.
struct flash_observer {
  void *context = nullptr;
  void (*begins)(void *context, flash_operation operation) = nullptr;
};

enum class flash_mode { read_array, read_identifier, read_status, read_query, buffer_status };
// What the next write is taken for.
enum class flash_pending { none, erase_setup, program_setup, buffer_count, buffer_data, buffer_confirm };

// Status register bits.
constexpr uint8_t SR_READY = 0x80;
constexpr uint8_t SR_ERASE_ERROR = 0x20;
constexpr uint8_t SR_PROGRAM_ERROR = 0x10;
constexpr uint8_t SR_LOCKED = 0x02;

struct flash_model {
  flash_params params;
  uint8_t *cells = nullptr;  // blocks * blockSize bytes, the caller's
  size_t size = 0;
  flash_observer observer;

  flash_mode mode = flash_mode::read_array;
  flash_pending pending = flash_pending::none;
  uint8_t errorBits = 0;
  uint32_t busyLeft = 0;
  std::chrono::steady_clock::time_point busyUntil;
  bool busyForever = false;

  // Write to Buffer under way: the block it was given, the data still due,
  // what came (address, byte), and whether a data write broke its rules.
  uint32_t bufferBlock = 0;
  uint32_t bufferDue = 0;
  std::vector<std::pair<uint32_t, uint8_t>> buffered;
  bool bufferBroken = false;
  uint64_t buffersConfirmed = 0;

  uint64_t bytesProgrammed = 0;  // single-byte programs
  uint64_t blocksErased = 0;
  uint64_t buffersProgrammed = 0;
  uint64_t bufferedBytes = 0;
};

inline size_t flash_bytes(const flash_params &params) { return size_t{params.blocks} * params.blockSize; }

// Over cells of flash_bytes(params) bytes, kept as they are; read array mode.
void flash_init(flash_model *flash, const flash_params &params, uint8_t *cells);
// As after the reset pin: read array, nothing pending, status clear.
void flash_reset(flash_model *flash);
// A byte written at an address; false when it was a command the Flash does
// not know (it then goes to read array).
bool flash_write(flash_model *flash, uint32_t address, uint8_t byte);
uint8_t flash_read(flash_model *flash, uint32_t address);

}  // namespace ksim
