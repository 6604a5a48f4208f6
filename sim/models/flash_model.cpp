#include "flash_model.h"

#include <algorithm>

namespace ksim {

namespace {

constexpr uint8_t CMD_READ_ARRAY = 0xFF;
constexpr uint8_t CMD_READ_IDENTIFIER = 0x90;
constexpr uint8_t CMD_READ_STATUS = 0x70;
constexpr uint8_t CMD_CLEAR_STATUS = 0x50;
constexpr uint8_t CMD_BLOCK_ERASE = 0x20;
constexpr uint8_t CMD_ERASE_CONFIRM = 0xD0;
constexpr uint8_t CMD_PROGRAM = 0x40;
constexpr uint8_t CMD_PROGRAM_ALT = 0x10;

bool is_weak(const flash_model &flash, uint32_t address) {
  return std::binary_search(flash.params.weak.begin(), flash.params.weak.end(), address);
}

// The operation has started: reads give the status, busy for a while.
void start_operation(flash_model *flash, flash_operation operation) {
  flash->mode = flash_mode::read_status;
  flash->busyLeft = flash->params.busyReads;
  const double ms =
      operation == flash_operation::erase ? flash->params.busyMsErase : flash->params.busyMsProgram;
  flash->busyUntil =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double, std::milli>(ms));
  flash->busyForever = flash->params.stuck == operation;
}

void begin(const flash_model &flash, flash_operation operation) {
  if (flash.observer.begins != nullptr) flash.observer.begins(flash.observer.context, operation);
}

void erase_block(flash_model *flash, uint32_t address) {
  begin(*flash, flash_operation::erase);
  const uint32_t blockSize = flash->params.blockSize;
  if (address >= flash->size) {
    flash->errorBits |= SR_ERASE_ERROR;
  } else if (flash->params.lock != 0) {
    flash->errorBits |= SR_ERASE_ERROR | SR_LOCKED;
  } else {
    const size_t start = address / blockSize * size_t{blockSize};
    const size_t end = std::min(flash->size, start + blockSize);
    std::fill(flash->cells + start, flash->cells + end, 0xFF);
    ++flash->blocksErased;
  }
  start_operation(flash, flash_operation::erase);
}

void program_byte(flash_model *flash, uint32_t address, uint8_t byte) {
  begin(*flash, flash_operation::program);
  if (address >= flash->size) {
    flash->errorBits |= SR_PROGRAM_ERROR;
  } else if (flash->params.lock != 0) {
    flash->errorBits |= SR_PROGRAM_ERROR | SR_LOCKED;
  } else if (!is_weak(*flash, address)) {
    flash->cells[address] &= byte;  // programming can only clear bits
    ++flash->bytesProgrammed;
  }
  start_operation(flash, flash_operation::program);
}

}  // namespace

void flash_init(flash_model *flash, const flash_params &params, uint8_t *cells) {
  *flash = flash_model();
  flash->params = params;
  flash->cells = cells;
  flash->size = flash_bytes(params);
}

void flash_reset(flash_model *flash) {
  flash->mode = flash_mode::read_array;
  flash->pending = flash_pending::none;
  flash->errorBits = 0;
  flash->busyLeft = 0;
  flash->busyUntil = {};
  flash->busyForever = false;
}

bool flash_write(flash_model *flash, uint32_t address, uint8_t byte) {
  const flash_pending pending = flash->pending;
  flash->pending = flash_pending::none;
  if (pending == flash_pending::program_setup) {
    program_byte(flash, address, byte);
    return true;
  }
  if (pending == flash_pending::erase_setup) {
    if (byte == CMD_ERASE_CONFIRM) {
      erase_block(flash, address);
    } else {
      flash->errorBits |= SR_ERASE_ERROR | SR_PROGRAM_ERROR;  // command sequence error
      flash->mode = flash_mode::read_status;
    }
    return true;
  }
  switch (byte) {
  case CMD_READ_ARRAY: flash->mode = flash_mode::read_array; break;
  case CMD_READ_IDENTIFIER: flash->mode = flash_mode::read_identifier; break;
  case CMD_READ_STATUS: flash->mode = flash_mode::read_status; break;
  case CMD_CLEAR_STATUS: flash->errorBits = 0; break;
  case CMD_BLOCK_ERASE:
    flash->pending = flash_pending::erase_setup;
    flash->mode = flash_mode::read_status;
    break;
  case CMD_PROGRAM:
  case CMD_PROGRAM_ALT:
    flash->pending = flash_pending::program_setup;
    flash->mode = flash_mode::read_status;
    break;
  default: flash->mode = flash_mode::read_array; return false;  // unknown: the safe mode
  }
  return true;
}

uint8_t flash_read(flash_model *flash, uint32_t address) {
  begin(*flash, flash_operation::read);
  switch (flash->mode) {
  case flash_mode::read_array: return address < flash->size ? flash->cells[address] : 0xFF;
  case flash_mode::read_identifier:
    if (address == 0) return flash->params.vendor;
    if (address == 2) return flash->params.device;
    if (address == 4) return flash->params.lock;
    return 0x00;
  case flash_mode::read_status: break;
  }
  if (flash->busyForever) return flash->errorBits;
  const bool counting = flash->busyLeft > 0;
  if (counting) --flash->busyLeft;
  if (counting || std::chrono::steady_clock::now() < flash->busyUntil) return flash->errorBits;
  return SR_READY | flash->errorBits;
}

}  // namespace ksim
