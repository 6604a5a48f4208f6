#include "programming_run.h"

#include <chrono>
#include <cstdio>

#include "bitstream/bitstream.h"
#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"
#include "board/progress.h"
#include "main/backup.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t LCLK = 0;
constexpr double LCLK_HZ = 33000000.0;
constexpr uint16_t NO_FLASH_ID = 0xFF;
constexpr uint32_t COMPARE_REPORT_LIMIT = 16;  // a blank card would give a line a byte

// The phase's wall time noted in the record.
template <typename Phase>
auto timed(run_record *record, int phase, Phase run) {
  const auto start = std::chrono::steady_clock::now();
  const auto result = run();
  record->seconds[phase] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

// The bitstream in *buffer, no longer than the Flash holds, and the clock set.
bool load_and_clock(const char *bitPath, uint8_t **buffer, run_record *record) {
  bit_facts facts;
  korvan_status status =
      load_bitstream(g_card, bitPath, buffer, &g_bitstream_length, record->logged ? &facts : nullptr);
  if (status != 0) {
    say("*** Failed to load bitstream %s: %s\n", bitPath, status_text(status));
    return false;
  }
  record->dataBytes = g_bitstream_length;
  if (record->logged) record->bit = facts;
  return fits_in_the_flash(g_bitstream_length) && set_local_clock();
}

bool report_differing(uint32_t differing, run_record *record) {
  record->differing = differing;
  if (differing != 0)
    say("*** Verify failed: %lu of %lu bytes differ\n", static_cast<unsigned long>(differing),
        static_cast<unsigned long>(FLASH_LEAD_IN_BYTES + g_bitstream_length));
  return differing == 0;
}

run_result compare(const uint8_t *data, run_record *record) {
  progress_announce("Verifying Flash...\n");
  const uint32_t differing = timed(
      record, PHASE_VERIFY, [&] { return flash_verify(data, g_bitstream_length, COMPARE_REPORT_LIMIT); });
  return report_differing(differing, record) ? run_result::done : run_result::differs;
}

// +fast: the Flash's write buffer; 0, said on one line, where the run has
// none it can use and programs byte by byte.
uint32_t ask_for_the_buffer() {
  uint32_t bytes = 0;
  switch (flash_query_buffer(&bytes)) {
  case flash_buffer::usable: return bytes;
  case flash_buffer::no_answer: say("The Flash does not answer the query: programming byte by byte\n"); break;
  case flash_buffer::other_geometry:
    say("The Flash's query is not what this run relies on: programming byte by byte\n");
    break;
  case flash_buffer::none: say("The Flash has no write buffer: programming byte by byte\n"); break;
  }
  return 0;
}

// Through the buffer, then every byte read back quietly; each block whose
// buffer failed or that differs is written again byte by byte and read
// back once more. Only a block that still differs fails the run.
run_result program_buffered_and_mend(const uint8_t *data, run_record *record, uint32_t bufferBytes) {
  const uint32_t n = g_bitstream_length;
  uint64_t mend = 0;
  progress_announce("Programming Flash...\n");
  if (timed(record, PHASE_PROGRAM, [&] { return flash_program_buffered(data, n, bufferBytes, &mend); }) !=
      flash_result::ok)
    return run_result::failed;
  progress_announce("Verifying Flash...\n");
  timed(record, PHASE_VERIFY, [&] { return flash_verify(data, n, 0, &mend); });
  uint32_t differing = 0;
  record->blocksRewritten = 0;
  for (uint32_t block = 0; block < FLASH_BLOCKS; ++block) {
    if ((mend >> block & 1) == 0) continue;
    say("Block %lu written again, byte by byte\n", static_cast<unsigned long>(block));
    flash_result result = flash_result::ok;
    differing += flash_mend_block(block, data, n, &result);
    ++*record->blocksRewritten;
    if (result != flash_result::ok) return run_result::failed;
  }
  return report_differing(differing, record) ? run_result::done : run_result::failed;
}

// Erase, program and verify, with interrupts held throughout: a Flash left
// half written does not configure the bridge. +fast erases only the blocks
// that the lead-in and the data occupy, and programs through the buffer
// where the Flash has one.
run_result erase_program_verify(const uint8_t *data, run_record *record, bool fast, uint32_t bufferBytes) {
  const uint32_t needed =
      (FLASH_LEAD_IN_BYTES + g_bitstream_length + FLASH_BLOCK_BYTES - 1) / FLASH_BLOCK_BYTES;
  const uint32_t blocks = fast ? needed : FLASH_BLOCKS;
  progress_announce("Erasing Flash...\n");
  if (timed(record, PHASE_ERASE, [&] { return flash_erase(FLASH_READY_TIMEOUT_MS, blocks); }) !=
      flash_result::ok)
    return run_result::failed;
  if (bufferBytes != 0) return program_buffered_and_mend(data, record, bufferBytes);
  progress_announce("Programming Flash...\n");
  if (timed(record, PHASE_PROGRAM, [&] { return flash_program(data, g_bitstream_length); }) !=
      flash_result::ok)
    return run_result::failed;
  progress_announce("Verifying Flash...\n");
  const uint32_t differing =
      timed(record, PHASE_VERIFY, [&] { return flash_verify(data, g_bitstream_length); });
  return report_differing(differing, record) ? run_result::done : run_result::failed;
}

}  // namespace

bool fits_in_the_flash(uint32_t length) {
  if (length <= FLASH_MAX_DATA_BYTES) return true;
  say("*** Bitstream of %lu bytes does not fit in the Flash (at most %lu bytes)\n",
      static_cast<unsigned long>(length), static_cast<unsigned long>(FLASH_MAX_DATA_BYTES));
  return false;
}

bool set_local_clock() {
  const korvan_status status = korvan.KORVAN2_SetClockRate(g_card, LCLK, LCLK_HZ, nullptr);
  if (status != 0) say("Failed to set LCLK to %.1fMHz: %s\n", LCLK_HZ / 1e6, status_text(status));
  return status == 0;
}

bool identify_flash(run_record *record) {
  flash_setup();
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint16_t lockBit = 0;
  flash_read_id(&vendorId, &deviceId, &lockBit);
  record->flash = flash_ids{vendorId, deviceId, lockBit};
  say("Vendor ID = %lx, Device ID = %lx\n", static_cast<unsigned long>(vendorId),
      static_cast<unsigned long>(deviceId));
  say("Lock bit = %lx\n", static_cast<unsigned long>(lockBit));
  if (vendorId == NO_FLASH_ID || deviceId == NO_FLASH_ID) {
    say("*** Unrecognised vendor/device ID for Flash\n");
    return false;
  }
  return true;
}

uint32_t compare_quietly(const uint8_t *data, run_record *record) {
  progress_quiet(true);
  record->differing = flash_verify(data, g_bitstream_length, 0);
  progress_quiet(false);
  return *record->differing;
}

run_result programming_run(const run_request &request, uint8_t **buffer) {
  run_record *record = request.record;
  if (!load_and_clock(request.bitPath, buffer, record) || !identify_flash(record)) return run_result::failed;
  // A compare makes no query, nor does a card that +all leaves alone: asked once it is to be rewritten.
  record->fast = request.fast && request.write && !request.compareFirst;
  uint32_t bufferBytes = record->fast ? ask_for_the_buffer() : 0;
  if (request.backupPath != nullptr &&
      !timed(record, PHASE_BACKUP, [&] { return back_up_flash(request.backupPath, request.cardName); }))
    return run_result::failed;
  if (!request.write) return compare(*buffer, record);
  if (request.compareFirst) {
    if (compare_quietly(*buffer, record) == 0) {
      say("The Flash holds %s: left alone\n", request.bitPath);
      record->action = "compare";
      return run_result::done;
    }
    say("The Flash differs from %s in %lu of %lu bytes%s\n", request.bitPath,
        static_cast<unsigned long>(*record->differing),
        static_cast<unsigned long>(FLASH_LEAD_IN_BYTES + g_bitstream_length),
        platform_interrupted() ? "" : ": rewriting it");
    if (platform_interrupted()) return run_result::failed;
    record->action = "write";
    record->fast = request.fast;
    if (record->fast) bufferBytes = ask_for_the_buffer();
  }
  if (platform_interrupted()) return run_result::failed;  // up to here nothing has been written
  platform_restart_calls();  // from the first erase on, the run goes on to its end
  progress_hold_begins();
  const run_result result = erase_program_verify(*buffer, record, request.fast, bufferBytes);
  progress_hold_ends();
  return result;
}
