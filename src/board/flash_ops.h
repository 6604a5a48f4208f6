// The Flash command sequences (Intel/Sharp command set), driven one byte at
// a time through the Flash port.
#pragma once

#include <cstdint>

constexpr uint32_t FLASH_BLOCKS = 64;
constexpr uint32_t FLASH_BLOCK_BYTES = 0x20000;
constexpr uint32_t FLASH_BYTES = FLASH_BLOCKS * FLASH_BLOCK_BYTES;
constexpr uint32_t FLASH_LEAD_IN_BYTES = 16;
// The lead-in and the data are programmed from address 0 into the blocks the
// erase has cleared: no more data fits.
constexpr uint32_t FLASH_MAX_DATA_BYTES = FLASH_BYTES - FLASH_LEAD_IN_BYTES;
constexpr uint8_t FLASH_ERASED_BYTE = 0xFF;         // an erased cell; also the lead-in
constexpr uint32_t FLASH_READY_TIMEOUT_MS = 20000;  // above the 5 s maximum block erase time

// How the operations that wait for the Flash end.
enum class flash_result { ok, timed_out };

void flash_setup();
void flash_read_id(uint16_t *vendorId, uint16_t *deviceId, uint16_t *lockBit);
// The first blocks from block 0, a dot each; every block unless told.
flash_result flash_erase(uint32_t readyTimeoutMs = FLASH_READY_TIMEOUT_MS, uint32_t blocks = FLASH_BLOCKS);
flash_result flash_program(const uint8_t *bytes, uint32_t n,
                           uint32_t readyTimeoutMs = FLASH_READY_TIMEOUT_MS);
flash_result flash_program_byte(uint8_t b, uint32_t readyTimeoutMs, uint8_t *lastStatus);
// The lead-in and the data compared with the Flash, a line for each of the
// first reportLimit differing bytes; the number of differing bytes. With
// blocks, the bit of each block that holds a differing byte set in it.
uint32_t flash_verify(const uint8_t *bytes, uint32_t n, uint32_t reportLimit = UINT32_MAX,
                      uint64_t *blocks = nullptr);

// What the Flash's query (Common Flash Interface, byte-wide: query byte k
// at byte address 2k) says of its write buffer. Ends in read array.
enum class flash_buffer { usable, no_answer, other_geometry, none };
flash_buffer flash_query_buffer(uint32_t *bufferBytes);
// The lead-in and the data through the write buffer of bufferBytes (a power
// of two that divides the block size), in chunks aligned to it, a dot for
// every 256 data bytes; the bit of each block whose buffer reported an
// error set in *failedBlocks.
flash_result flash_program_buffered(const uint8_t *bytes, uint32_t n, uint32_t bufferBytes,
                                    uint64_t *failedBlocks, uint32_t readyTimeoutMs = FLASH_READY_TIMEOUT_MS);
// The block erased, its part of the lead-in and the data programmed byte by
// byte, then read back: the bytes that still differ, a line each.
uint32_t flash_mend_block(uint32_t block, const uint8_t *bytes, uint32_t n, flash_result *result,
                          uint32_t readyTimeoutMs = FLASH_READY_TIMEOUT_MS);
// The Flash read from its first byte on: Read Array, the counter to 0, then
// a block at a time, FLASH_BLOCK_BYTES and a dot each.
void flash_read_from_start();
void flash_read_block(uint8_t *bytes);
uint8_t flash_read_byte();
