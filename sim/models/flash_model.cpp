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
constexpr uint8_t CMD_READ_QUERY = 0x98;
constexpr uint8_t CMD_WRITE_TO_BUFFER = 0xE8;
constexpr uint8_t SEQUENCE_ERROR = SR_ERASE_ERROR | SR_PROGRAM_ERROR;

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

bool busy_now(const flash_model &flash) {
  return flash.busyForever || flash.busyLeft > 0 || std::chrono::steady_clock::now() < flash.busyUntil;
}

// A broken buffer sequence: nothing programmed, the status says so.
void sequence_error(flash_model *flash) {
  flash->errorBits |= SEQUENCE_ERROR;
  flash->mode = flash_mode::read_status;
  flash->pending = flash_pending::none;
}

// Taken only while no operation is under way; reads then give the extended
// status, whose bit 7 says whether a buffer was free.
void write_to_buffer(flash_model *flash, uint32_t address) {
  flash->mode = flash_mode::buffer_status;
  if (busy_now(*flash)) return;
  flash->pending = flash_pending::buffer_count;
  flash->bufferBlock = address / flash->params.blockSize;
  flash->buffered.clear();
  flash->bufferBroken = false;
}

void take_count(flash_model *flash, uint8_t count) {
  if (uint32_t{count} + 1 > flash->params.writeBuffer) return sequence_error(flash);
  flash->bufferDue = uint32_t{count} + 1;
  flash->pending = flash_pending::buffer_data;
}

// Every data address of its own, all inside one aligned window of the buffer's size.
void take_buffered_byte(flash_model *flash, uint32_t address, uint8_t byte) {
  const uint32_t window = address / flash->params.writeBuffer;
  for (const auto &taken : flash->buffered)
    flash->bufferBroken |= taken.first == address || taken.first / flash->params.writeBuffer != window;
  flash->buffered.emplace_back(address, byte);
  flash->pending = --flash->bufferDue > 0 ? flash_pending::buffer_data : flash_pending::buffer_confirm;
}

void confirm_buffer(flash_model *flash, uint32_t address, uint8_t byte) {
  if (byte != CMD_ERASE_CONFIRM || address / flash->params.blockSize != flash->bufferBlock ||
      flash->bufferBroken)
    return sequence_error(flash);
  begin(*flash, flash_operation::program);  // one program operation, whatever its length
  const std::vector<uint64_t> &failing = flash->params.failingBuffers;
  if (flash->params.lock != 0) {
    flash->errorBits |= SR_PROGRAM_ERROR | SR_LOCKED;
  } else if (std::binary_search(failing.begin(), failing.end(), ++flash->buffersConfirmed)) {
    flash->errorBits |= SR_PROGRAM_ERROR;  // a worn block: nothing programmed
  } else {
    for (const auto &cell : flash->buffered)
      if (cell.first >= flash->size)
        flash->errorBits |= SR_PROGRAM_ERROR;
      else if (!is_weak(*flash, cell.first))
        flash->cells[cell.first] &= cell.second;
    ++flash->buffersProgrammed;
    flash->bufferedBytes += flash->buffered.size();
  }
  start_operation(flash, flash_operation::program);
}

// The query as the part answers in its byte-wide mode: byte k of it.
uint8_t query_byte(const flash_params &params, uint32_t k) {
  auto log2 = [](uint64_t n) {
    uint8_t bits = 0;
    while (n > 1) {
      n >>= 1;
      ++bits;
    }
    return bits;
  };
  const uint32_t blocksLess1 = params.blocks - 1;
  const uint32_t pages = params.blockSize / 256;
  switch (k) {
  case 0x10: return 'Q';
  case 0x11: return 'R';
  case 0x12: return 'Y';
  case 0x13: return 0x01;  // the primary command set, low byte first
  case 0x27: return log2(uint64_t{params.blocks} * params.blockSize);
  case 0x28: return 0x02;  // byte or word wide
  case 0x2A: return params.writeBuffer == 0 ? 0 : log2(params.writeBuffer);
  case 0x2C: return 1;  // one region of equal blocks
  case 0x2D: return static_cast<uint8_t>(blocksLess1);
  case 0x2E: return static_cast<uint8_t>(blocksLess1 >> 8);
  case 0x2F: return static_cast<uint8_t>(pages);
  case 0x30: return static_cast<uint8_t>(pages >> 8);
  default: return 0x00;
  }
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

bool unknown_command(flash_model *flash) {
  flash->mode = flash_mode::read_array;  // the safe mode
  return false;
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
  flash->buffered.clear();
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
  if (pending == flash_pending::buffer_count) {
    take_count(flash, byte);
    return true;
  }
  if (pending == flash_pending::buffer_data) {
    take_buffered_byte(flash, address, byte);
    return true;
  }
  if (pending == flash_pending::buffer_confirm) {
    confirm_buffer(flash, address, byte);
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
  case CMD_READ_QUERY:
    if (!flash->params.answersQuery) return unknown_command(flash);
    flash->mode = flash_mode::read_query;
    break;
  case CMD_WRITE_TO_BUFFER:
    if (flash->params.writeBuffer == 0) return unknown_command(flash);
    write_to_buffer(flash, address);
    break;
  default: return unknown_command(flash);
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
  case flash_mode::read_query: return query_byte(flash->params, address / 2);
  case flash_mode::read_status:
  case flash_mode::buffer_status: break;
  }
  uint8_t status = SR_READY | flash->errorBits;
  if (flash->busyForever) {
    status = flash->errorBits;
  } else {
    const bool counting = flash->busyLeft > 0;
    if (counting) --flash->busyLeft;
    if (counting || std::chrono::steady_clock::now() < flash->busyUntil) status = flash->errorBits;
  }
  return flash->mode == flash_mode::buffer_status ? status & SR_READY : status;  // a buffer free
}

}  // namespace ksim
