#include "flash_ops.h"

#include <chrono>
#include <cstdio>

#include "flash_port.h"
#include "platform/platform.h"

namespace {

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
  ctrl(0x10);
  ctrl(0x14);
  ctrl(0x10);
}

uint8_t status_read() {
  ctrl(0x95);
  uint8_t status = read();
  ctrl(0x90);
  return status;
}

// Status reads back to back until bit 7 says ready, or until the bound has
// passed without it. The clock is looked at only while the Flash is busy.
bool ready_poll(uint32_t timeoutMs, uint8_t *lastStatus) {
  uint8_t status = status_read();
  if ((status & STATUS_READY) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      if (std::chrono::steady_clock::now() >= deadline) {
        *lastStatus = status;
        return false;
      }
      status = status_read();
    } while ((status & STATUS_READY) == 0);
  }
  *lastStatus = status;
  return true;
}

void print_dot() {
  std::fputs(".", stdout);
  std::fflush(stdout);
}

void end_progress_line() {
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

int report_timeout(uint8_t status) {
  end_progress_line();
  std::printf("*** Timed out waiting for the Flash to become ready (status 0x%2.2lx)\n",
              static_cast<unsigned long>(status));
  std::fflush(stdout);
  return FLASH_TIMED_OUT;
}

// A dot for every 256 data bytes, aligned to the end of the data: it comes
// when the number of bytes still to go is 255 modulo 256.
bool dot_due(uint32_t n, uint32_t k) { return ((n - 1u - k) & 0xFFu) == 0xFFu; }

void report_mismatch(uint8_t expected, uint8_t actual, uint32_t index) {
  std::printf("*** expected 0x%2.2lx actual 0x%2.2lx index 0x%lx\n", static_cast<unsigned long>(expected),
              static_cast<unsigned long>(actual), static_cast<unsigned long>(index));
}

}  // namespace

void flash_setup() {
  ctrl(0x9F);
  data(0x00);
  ctrl(0x90);
  ctrl(0x8C);
  ctrl(0x90);
  ctrl(0x97);
  ctrl(0x90);
  ctrl(0x93);
  ctrl(0x90);
}

void flash_read_id(uint16_t *vendorId, uint16_t *deviceId, uint16_t *lockBit) {
  ctrl(0x97);
  ctrl(0x90);
  data(CMD_READ_IDENTIFIER);
  write_cycle();
  ctrl(0x90);
  ctrl(0x95);
  *vendorId = read();
  ctrl(0x91);
  ctrl(0x90);
  ctrl(0x91);
  ctrl(0x90);
  ctrl(0x95);
  *deviceId = read();
  ctrl(0x91);
  ctrl(0x90);
  ctrl(0x91);
  ctrl(0x90);
  ctrl(0x95);
  *lockBit = read();
  ctrl(0x90);
}

int flash_erase(uint32_t readyTimeoutMs) {
  ctrl(0x97);
  ctrl(0x90);
  for (uint32_t block = 0; block < FLASH_BLOCKS; ++block) {
    data(CMD_BLOCK_ERASE);
    write_cycle();
    ctrl(0x90);
    pause();
    data(CMD_ERASE_CONFIRM);
    write_cycle();
    ctrl(0x90);
    uint8_t status = 0;
    if (!ready_poll(readyTimeoutMs, &status)) return report_timeout(status);
    ctrl(0x92);
    ctrl(0x90);
    print_dot();
  }
  end_progress_line();
  return FLASH_OK;
}

int flash_program_byte(uint8_t b, uint32_t readyTimeoutMs, uint8_t *lastStatus) {
  data(CMD_PROGRAM);
  write_cycle();
  data(b);
  ctrl(0x14);
  ctrl(0x10);
  ctrl(0x90);
  if (!ready_poll(readyTimeoutMs, lastStatus)) return FLASH_TIMED_OUT;
  ctrl(0x91);
  ctrl(0x90);
  return FLASH_OK;
}

int flash_program(const uint8_t *bytes, uint32_t n, uint32_t readyTimeoutMs) {
  ctrl(0x97);
  ctrl(0x90);
  uint8_t status = 0;
  for (uint32_t k = 0; k < FLASH_LEAD_IN_BYTES; ++k)
    if (flash_program_byte(0xFF, readyTimeoutMs, &status) != FLASH_OK) return report_timeout(status);
  for (uint32_t k = 0; k < n; ++k) {
    if (flash_program_byte(bytes[k], readyTimeoutMs, &status) != FLASH_OK) return report_timeout(status);
    if (dot_due(n, k)) print_dot();
  }
  end_progress_line();
  return FLASH_OK;
}

uint8_t flash_read_byte() {
  ctrl(0x95);
  uint8_t b = read();
  ctrl(0x90);
  ctrl(0x91);
  ctrl(0x90);
  return b;
}

uint32_t flash_verify(const uint8_t *bytes, uint32_t n) {
  uint32_t differing = 0;
  data(CMD_READ_ARRAY);
  write_cycle();
  ctrl(0x90);
  pause();
  ctrl(0x97);
  ctrl(0x90);
  for (uint32_t k = 0; k < FLASH_LEAD_IN_BYTES; ++k) {
    uint8_t b = flash_read_byte();
    if (b != 0xFF) {
      report_mismatch(0xFF, b, k);
      ++differing;
    }
  }
  for (uint32_t k = 0; k < n; ++k) {
    uint8_t b = flash_read_byte();
    if (b != bytes[k]) {
      report_mismatch(bytes[k], b, FLASH_LEAD_IN_BYTES + k);
      ++differing;
    }
    if (dot_due(n, k)) print_dot();
  }
  end_progress_line();
  return differing;
}
