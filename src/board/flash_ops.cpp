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

constexpr uint8_t STATUS_READY = 0x80;
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

flash_result flash_erase(uint32_t readyTimeoutMs) {
  ctrl(FIRST_BYTE);
  ctrl(IDLE);
  for (uint32_t block = 0; block < FLASH_BLOCKS; ++block) {
    data(CMD_BLOCK_ERASE);
    write_cycle();
    ctrl(IDLE);
    pause();
    data(CMD_ERASE_CONFIRM);
    write_cycle();
    ctrl(IDLE);
    uint8_t status = 0;
    if (!ready_poll(readyTimeoutMs, &status)) return report_timeout(status);
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

uint32_t flash_verify(const uint8_t *bytes, uint32_t n, uint32_t reportLimit) {
  uint32_t differing = 0;
  auto differs = [&](uint8_t expected, uint8_t actual, uint32_t index) {
    if (differing++ < reportLimit) report_mismatch(expected, actual, index);
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
