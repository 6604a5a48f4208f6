// One open simulated card: what the card file says of it, its bridge and
// Flash, its window and its recorder.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "card_file/card_file.h"
#include "host/host.h"
#include "models/bridge_model.h"
#include "models/recorder.h"
#include "models/waveform.h"
#include "window/mapped_window.h"

namespace ksim {

struct sim_card {
  uint32_t handle = 0;
  size_t index = 0;
  card_config config;
  recorder rec;
  waveform wave;
  std::chrono::steady_clock::time_point openedAt;
  bridge_model bridge;
  std::vector<uint8_t> flashMemory;  // the Flash's cells when no image file holds them
  mapped_file flashImage;            // or the image file, mapped
  uint64_t operationsBegun[4] = {};  // by flash_operation
  mapped_window *window = nullptr;
  uint32_t virtualSize = 0;
  bool hasBlock = false;
  uint32_t blockOffset = 0;   // in space 1
  uint32_t blockAddress = 0;  // on the local bus
};

// The Flash's cells, in memory or in the mapped image file, and the model
// over them; false with a message naming the file when it cannot be had.
bool open_flash(sim_card *card, std::string *error);
void close_flash(sim_card *card);
// The waveform file, started with the card's signals as they are at open;
// false when it cannot be made.
bool open_waveform(sim_card *card);
// A register access in the waveform, with the signals after a write.
void record_wave(sim_card *card, bool write);
inline void record_access_wave(sim_card *card, bool write) {
  if (card->wave.file != nullptr) record_wave(card, write);
}
// Where the bridge's register block lies in space 1.
void locate_block(sim_card *card);
// The mapped window of space 1, its register page watched; false when it
// cannot be had.
bool open_window(sim_card *card);

}  // namespace ksim
