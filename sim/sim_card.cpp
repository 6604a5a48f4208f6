// One simulated card: its Flash's parameters, and space 1 as a mapped
// window whose register accesses reach the bridge as library accesses do.
#include "sim_card.h"

#include <cstdio>

namespace ksim {

namespace {

constexpr uint32_t BLOCK_FROM_END = 0x400000;

bool register_at(const sim_card &card, uint32_t offset, uint32_t *reg) {
  if (!card.hasBlock || offset < card.blockOffset) return false;
  const uint32_t inBlock = offset - card.blockOffset;
  if (inBlock != FLASH_DATA_REG && inBlock != FLASH_CTRL_REG) return false;
  *reg = inBlock;
  return true;
}

bool is_register(void *context, uint32_t offset) {
  uint32_t reg = 0;
  return register_at(*static_cast<sim_card *>(context), offset, &reg);
}

uint16_t load(void *context, uint32_t offset) {
  auto *card = static_cast<sim_card *>(context);
  const uint32_t reg = offset - card->blockOffset;
  const uint16_t value = bridge_read(card->bridge, reg);
  record_access(&card->rec, false, PATH_MAP, card->blockAddress + reg, value);
  record_access_wave(card, false);
  return value;
}

void store(void *context, uint32_t offset, uint16_t value) {
  auto *card = static_cast<sim_card *>(context);
  const uint32_t reg = offset - card->blockOffset;
  record_access(&card->rec, true, PATH_MAP, card->blockAddress + reg, value);
  bridge_write(&card->bridge, &card->rec, reg, value);
  record_access_wave(card, true);
}

bool is_due(const operation_rule &rule, flash_operation operation, uint64_t nth) {
  return rule.operation == operation && rule.nth == nth;
}

// The interrupt rule: the process interrupted as its operation begins. The
// crash rule: the power cut there, the trace and the waveform kept up to it.
void count_operation(void *context, flash_operation operation) {
  auto *card = static_cast<sim_card *>(context);
  const uint64_t nth = ++card->operationsBegun[static_cast<int>(operation)];
  if (is_due(card->config.interrupt, operation, nth)) interrupt_process(card->config.interruptSignal);
  if (!is_due(card->config.crash, operation, nth)) return;
  if (card->rec.trace != nullptr) std::fflush(card->rec.trace);
  waveform_flush(&card->wave);
  power_cut();
}

}  // namespace

bool open_flash(sim_card *card, std::string *error) {
  const flash_params &params = card->config.flash;
  uint8_t *cells = nullptr;
  if (card->config.flashImage.empty()) {
    card->flashMemory.assign(flash_bytes(params), 0x00);
    cells = card->flashMemory.data();
  } else if (map_file(card->config.flashImage, flash_bytes(params), &card->flashImage, error)) {
    cells = card->flashImage.bytes;
  } else {
    return false;
  }
  flash_init(&card->bridge.flash, params, cells);
  if (card->config.crash.operation != flash_operation::none ||
      card->config.interrupt.operation != flash_operation::none)
    card->bridge.flash.observer = flash_observer{card, count_operation};
  return true;
}

bool open_waveform(sim_card *card) {
  card->openedAt = std::chrono::steady_clock::now();
  if (card->config.waveform.empty()) return true;
  FILE *file = std::fopen(card->config.waveform.c_str(), "wb");
  if (file == nullptr) return false;
  waveform_params params;
  params.module = "card" + std::to_string(card->index);
  params.limit = card->config.waveformLimit;
  waveform_start(&card->wave, file, params, sample_signals(card->bridge));
  return true;
}

void record_wave(sim_card *card, bool write) {
  const auto since = std::chrono::steady_clock::now() - card->openedAt;
  const uint64_t ns =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
  if (write) {
    const signal_values after = sample_signals(card->bridge);
    waveform_access(&card->wave, ns, &after);
  } else {
    waveform_access(&card->wave, ns, nullptr);
  }
}

void close_flash(sim_card *card) {
  unmap_file(&card->flashImage);
  card->bridge.flash.cells = nullptr;
}

void locate_block(sim_card *card) {
  const card_config &config = card->config;
  card->hasBlock = config.boardType != KORVAN_BOARD_PERINEL || config.localSize >= BLOCK_FROM_END;
  card->blockOffset =
      config.boardType == KORVAN_BOARD_PERINEL && card->hasBlock ? config.localSize - BLOCK_FROM_END : 0;
  card->blockAddress = config.localBase + card->blockOffset;
}

bool open_window(sim_card *card) {
  const card_config &config = card->config;
  if (config.window == window_kind::none) return true;
  card->virtualSize = config.window == window_kind::full ? config.localSize : config.localSize - WINDOW_PAGE;
  // The whole register pair must lie in the window for its page to be watched.
  const bool watched =
      card->hasBlock && uint64_t{card->blockOffset} + FLASH_CTRL_REG + 2 <= card->virtualSize;
  const window_client client{card, is_register, load, store};
  card->window =
      window_open(card->virtualSize, watched ? card->blockOffset + FLASH_DATA_REG : UINT32_MAX, client);
  return card->window != nullptr;
}

}  // namespace ksim
