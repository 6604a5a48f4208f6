// One open simulated card: its configuration, bridge, Flash, window and
// recorder.
#pragma once

#include <cstdint>

#include "bridge_model.h"
#include "card_config.h"
#include "mapped_window.h"
#include "recorder.h"

namespace ksim {

struct sim_card {
  uint32_t handle = 0;
  size_t index = 0;
  card_config config;
  recorder rec;
  bridge_model bridge;
  mapped_window *window = nullptr;
  uint32_t virtualSize = 0;
  bool hasBlock = false;
  uint32_t blockOffset = 0;   // in space 1
  uint32_t blockAddress = 0;  // on the local bus
};

// Where the bridge's register block lies in space 1.
void locate_block(sim_card *card);
// The mapped window of space 1, its register page watched; false when it
// cannot be had.
bool open_window(sim_card *card);

}  // namespace ksim
