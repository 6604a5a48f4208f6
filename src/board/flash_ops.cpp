#include "flash_ops.h"

#include <chrono>
#include <cstdio>

#include "flash_port.h"
#include "platform/platform.h"
#include "progress.h"

namespace {

// Control codes of the bridge, by their role where they are issued.
constexpr uint32_t RESET = 0x9F;         // interface reset, the Flash held in reset
constexpr uint32_t OUT_OF_RESET = 0x8C;  // the Flash out of reset
constexpr uint32_t ENABLE = 0x93;        // the interface enabled
constexpr uint32_t FIRST_BYTE = 0x97;    // address counter to the first byte
constexpr uint32_t NEXT_BYTE = 0x91;     // address counter to the next byte
constexpr uint32_t NEXT_BLOCK = 0x92;    // address counter to the next block
constexpr uint32_t READ_CYCLE = 0x95;    // the Flash presents the byte at the counter
constexpr uint32_t WRITE = 0x14;         // the Flash takes the data register's byte
constexpr uint32_t WRITE_IDLE = 0x10;    // idle, around a write
constexpr uint32_t IDLE = 0x90;

// Flash commands written with data.
constexpr uint16_t CMD_READ_IDENTIFIER = 0x90;
constexpr uint16_t CMD_BLOCK_ERASE = 0x20;
constexpr uint16_t CMD_ERASE_CONFIRM = 0xD0;
constexpr uint16_t CMD_PROGRAM = 0x40;
constexpr uint16_t CMD_READ_ARRAY = 0xFF;
constexpr uint16_t CMD_READ_QUERY = 0x98;
constexpr uint16_t CMD_WRITE_TO_BUFFER = 0xE8;
constexpr uint16_t CMD_BUFFER_CONFIRM = 0xD0;
constexpr uint16_t CMD_CLEAR_STATUS = 0x50;

constexpr uint8_t STATUS_READY = 0x80;
constexpr uint8_t STATUS_ERRORS = 0x3A;  // erase, program, voltage and lock errors
constexpr uint32_t PAUSE_MS = 10;

void ctrl(uint32_t code) { (void)flash_ctrl(code); }
void data(uint16_t value) { (void)flash_write_data(value); }
uint8_t read() { return flash_read_data(); }
void pause() { platform_sleep_ms(PAUSE_MS); }

void write_cycle() {
  ctrl(WRITE_IDLE);
  ctrl(WRITE);
  ctrl(WRITE_IDLE);
}

uint8_t status_read() {
  ctrl(READ_CYCLE);
  uint8_t status = read();
  ctrl(IDLE);
  return status;
}

// Status reads back to back until bit 7 says ready. Once the bound has
// passed the status is read once more: a process stopped for a while finds
// the Flash ready. The clock is looked at only while the Flash is busy.
bool ready_poll(uint32_t timeoutMs, uint8_t *lastStatus) {
  uint8_t status = status_read();
  if ((status & STATUS_READY) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool late = false;
    do {
      late = std::chrono::steady_clock::now() >= deadline;
      status = status_read();
    } while ((status & STATUS_READY) == 0 && !late);
  }
  *lastStatus = status;
  return (status & STATUS_READY) != 0;
}

flash_result report_timeout(uint8_t status) {
  progress_end_line();
  say("*** Timed out waiting for the Flash to become ready (status 0x%2.2lx)\n",
      static_cast<unsigned long>(status));
  std::fflush(stdout);
  return flash_result::timed_out;
}

// A dot for every 256 data bytes, aligned to the end of the data: it comes
// when the number of bytes still to go is 255 modulo 256.
bool dot_due(uint32_t n, uint32_t k) { return ((n - 1u - k) & 0xFFu) == 0xFFu; }

void report_mismatch(uint8_t expected, uint8_t actual, uint32_t index) {
  say("*** expected 0x%2.2lx actual 0x%2.2lx index 0x%lx\n", static_cast<unsigned long>(expected),
      static_cast<unsigned long>(actual), static_cast<unsigned long>(index));
}

// The block at the counter; the counter stays there.
bool erase_block(uint32_t readyTimeoutMs, uint8_t *status) {
  data(CMD_BLOCK_ERASE);
  write_cycle();
  ctrl(IDLE);
  pause();
  data(CMD_ERASE_CONFIRM);
  write_cycle();
  ctrl(IDLE);
  return ready_poll(readyTimeoutMs, status);
}

}  // namespace

void flash_setup() {
  ctrl(RESET);
  data(0x00);
  ctrl(IDLE);
  ctrl(OUT_OF_RESET);
  ctrl(IDLE);
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  ctrl(ENABLE);
  ctrl(IDLE);
}

void flash_read_id(uint16_t *vendorId, uint16_t *deviceId, uint16_t *lockBit) {
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  data(CMD_READ_IDENTIFIER);
  write_cycle();
  ctrl(IDLE);
  ctrl(READ_CYCLE);
  *vendorId = read();
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  ctrl(READ_CYCLE);
  *deviceId = read();
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  ctrl(READ_CYCLE);
  *lockBit = read();
  ctrl(IDLE);
}

flash_result flash_erase(uint32_t readyTimeoutMs, uint32_t blocks) {
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  for (uint32_t block = 0; block < blocks; ++block) {
    uint8_t status = 0;
    if (!erase_block(readyTimeoutMs, &status)) return report_timeout(status);
    ctrl(NEXT_BLOCK);
    ctrl(IDLE);
    progress_dot();
  }
  progress_end_line();
  return flash_result::ok;
}

flash_result flash_program_byte(uint8_t b, uint32_t readyTimeoutMs, uint8_t *lastStatus) {
  data(CMD_PROGRAM);
  write_cycle();
  data(b);
  ctrl(WRITE);  // the code before the data byte was already WRITE_IDLE
  ctrl(WRITE_IDLE);
  ctrl(IDLE);
  if (!ready_poll(readyTimeoutMs, lastStatus)) return flash_result::timed_out;
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  return flash_result::ok;
}

flash_result flash_program(const uint8_t *bytes, uint32_t n, uint32_t readyTimeoutMs) {
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  uint8_t status = 0;
  for (uint32_t k = 0; k < FLASH_LEAD_IN_BYTES; ++k)
    if (flash_program_byte(FLASH_ERASED_BYTE, readyTimeoutMs, &status) != flash_result::ok)
      return report_timeout(status);
  for (uint32_t k = 0; k < n; ++k) {
    if (flash_program_byte(bytes[k], readyTimeoutMs, &status) != flash_result::ok)
      return report_timeout(status);
    if (dot_due(n, k)) progress_dot();
  }
  progress_end_line();
  return flash_result::ok;
}

uint8_t flash_read_byte() {
  ctrl(READ_CYCLE);
  uint8_t b = read();
  ctrl(IDLE);
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  return b;
}

namespace {

// Read Array, then the counter back to the first byte.
void read_array_from_start() {
  data(CMD_READ_ARRAY);
  write_cycle();
  ctrl(IDLE);
  pause();
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
}

}  // namespace

uint32_t flash_verify(const uint8_t *bytes, uint32_t n, uint32_t reportLimit, uint64_t *blocks) {
  uint32_t differing = 0;
  auto differs = [&](uint8_t expected, uint8_t actual, uint32_t index) {
    if (differing++ < reportLimit) report_mismatch(expected, actual, index);
    if (blocks != nullptr) *blocks |= uint64_t{1} << (index / FLASH_BLOCK_BYTES);
  };
  read_array_from_start();
  for (uint32_t k = 0; k < FLASH_LEAD_IN_BYTES; ++k) {
    uint8_t b = flash_read_byte();
    if (b != FLASH_ERASED_BYTE) differs(FLASH_ERASED_BYTE, b, k);
  }
  for (uint32_t k = 0; k < n; ++k) {
    uint8_t b = flash_read_byte();
    if (b != bytes[k]) differs(bytes[k], b, FLASH_LEAD_IN_BYTES + k);
    if (dot_due(n, k)) progress_dot();
  }
  progress_end_line();
  return differing;
}

void flash_read_from_start() { read_array_from_start(); }

void flash_read_block(uint8_t *bytes) {
  for (uint32_t k = 0; k < FLASH_BLOCK_BYTES; ++k)
    bytes[k] = flash_read_byte();
  progress_dot();
}

namespace {

constexpr uint32_t QUERY_FIRST = 0x10;  // "QRY" and the fields the run relies on, to 0x30
constexpr uint32_t QUERY_LAST = 0x30;

uint32_t field(const uint8_t *query, uint32_t k) {
  return query[k - QUERY_FIRST] | query[k + 1 - QUERY_FIRST] << 8;
}

// The lead-in and the data as they lie in the Flash, from byte 0.
uint8_t image_byte(const uint8_t *bytes, uint32_t address) {
  return address < FLASH_LEAD_IN_BYTES ? FLASH_ERASED_BYTE : bytes[address - FLASH_LEAD_IN_BYTES];
}

// Write to Buffer at the counter until a buffer is free, bounded as the
// ready poll is; false, with the last status, when none came.
bool buffer_free(uint32_t readyTimeoutMs, uint8_t *status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readyTimeoutMs);
  for (;;) {
    const bool late = std::chrono::steady_clock::now() >= deadline;
    data(CMD_WRITE_TO_BUFFER);
    write_cycle();
    ctrl(IDLE);
    *status = status_read();
    if ((*status & STATUS_READY) != 0) return true;
    if (late) return false;
  }
}

// One chunk of n bytes at the counter (address a), which ends at a + n.
flash_result program_chunk(const uint8_t *bytes, uint32_t a, uint32_t n, uint32_t readyTimeoutMs,
                           bool *failed) {
  uint8_t status = 0;
  if (!buffer_free(readyTimeoutMs, &status)) return report_timeout(status);
  data(static_cast<uint16_t>(n - 1));
  write_cycle();
  ctrl(IDLE);
  for (uint32_t k = 0; k < n; ++k) {
    data(image_byte(bytes, a + k));
    write_cycle();
    if (k + 1 == n) break;  // the confirm goes to the last byte's address, inside the block
    ctrl(NEXT_BYTE);
    ctrl(IDLE);
  }
  data(CMD_BUFFER_CONFIRM);
  write_cycle();
  ctrl(IDLE);
  if (!ready_poll(readyTimeoutMs, &status)) return report_timeout(status);
  *failed = (status & STATUS_ERRORS) != 0;
  if (*failed) {
    data(CMD_CLEAR_STATUS);
    write_cycle();
    ctrl(IDLE);
  }
  ctrl(NEXT_BYTE);
  ctrl(IDLE);
  return flash_result::ok;
}

// The counter moved on by whole blocks.
void next_blocks(uint32_t count) {
  for (uint32_t k = 0; k < count; ++k) {
    ctrl(NEXT_BLOCK);
    ctrl(IDLE);
  }
}

}  // namespace

flash_buffer flash_query_buffer(uint32_t *bufferBytes) {
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  data(CMD_READ_QUERY);
  write_cycle();
  ctrl(IDLE);
  for (uint32_t k = 0; k < 2 * QUERY_FIRST; ++k) {
    ctrl(NEXT_BYTE);
    ctrl(IDLE);
  }
  uint8_t query[QUERY_LAST - QUERY_FIRST + 2] = {};
  for (uint32_t k = QUERY_FIRST; k <= QUERY_LAST; ++k) {
    query[k - QUERY_FIRST] = status_read();  // a read cycle at 2k
    if (k == QUERY_LAST) break;
    for (int step = 0; step < 2; ++step) {
      ctrl(NEXT_BYTE);
      ctrl(IDLE);
    }
  }
  data(CMD_READ_ARRAY);
  write_cycle();
  ctrl(IDLE);
  if (query[0] != 'Q' || query[1] != 'R' || query[2] != 'Y') return flash_buffer::no_answer;
  const uint32_t bufferLog2 = field(query, 0x2A);
  if (field(query, 0x13) != 0x0001 || query[0x27 - QUERY_FIRST] != 23 || query[0x2C - QUERY_FIRST] != 1 ||
      field(query, 0x2D) + 1 != FLASH_BLOCKS || field(query, 0x2F) * 256 != FLASH_BLOCK_BYTES ||
      bufferLog2 > 8)
    return flash_buffer::other_geometry;  // 2^23 bytes: 64 blocks of 128 KiB; a buffer of at most 256
  *bufferBytes = bufferLog2 == 0 ? 0 : uint32_t{1} << bufferLog2;
  return *bufferBytes == 0 ? flash_buffer::none : flash_buffer::usable;
}

flash_result flash_program_buffered(const uint8_t *bytes, uint32_t n, uint32_t bufferBytes,
                                    uint64_t *failedBlocks, uint32_t readyTimeoutMs) {
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  const uint32_t total = FLASH_LEAD_IN_BYTES + n;
  for (uint32_t a = 0; a < total; a += bufferBytes) {
    const uint32_t chunk = total - a < bufferBytes ? total - a : bufferBytes;
    bool failed = false;
    if (program_chunk(bytes, a, chunk, readyTimeoutMs, &failed) != flash_result::ok)
      return flash_result::timed_out;
    if (failed) *failedBlocks |= uint64_t{1} << (a / FLASH_BLOCK_BYTES);
    for (uint32_t k = a < FLASH_LEAD_IN_BYTES ? 0 : a - FLASH_LEAD_IN_BYTES;
         k + FLASH_LEAD_IN_BYTES < a + chunk; ++k)
      if (dot_due(n, k)) progress_dot();
  }
  progress_end_line();
  return flash_result::ok;
}

uint32_t flash_mend_block(uint32_t block, const uint8_t *bytes, uint32_t n, flash_result *result,
                          uint32_t readyTimeoutMs) {
  const uint32_t start = block * FLASH_BLOCK_BYTES;
  const uint32_t total = FLASH_LEAD_IN_BYTES + n;
  const uint32_t end = total - start < FLASH_BLOCK_BYTES ? total : start + FLASH_BLOCK_BYTES;
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  next_blocks(block);
  uint8_t status = 0;
  *result = erase_block(readyTimeoutMs, &status) ? flash_result::ok : report_timeout(status);
  for (uint32_t a = start; a < end && *result == flash_result::ok; ++a)
    if (flash_program_byte(image_byte(bytes, a), readyTimeoutMs, &status) != flash_result::ok)
      *result = report_timeout(status);
  if (*result != flash_result::ok) return end - start;
  read_array_from_start();
  next_blocks(block);
  uint32_t differing = 0;
  for (uint32_t a = start; a < end; ++a) {
    const uint8_t b = flash_read_byte();
    if (b != image_byte(bytes, a)) {
      ++differing;
      report_mismatch(image_byte(bytes, a), b, a);
    }
  }
  return differing;
}
