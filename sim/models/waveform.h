// What the card saw as a waveform: a Value Change Dump (timescale 1 ns) of
// the bridge's registers, strobe, latched function, enable, presented byte
// and address counter, and the Flash's mode and status, one module a card.
// Only changes are written, as they happen, in whole lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "bridge_model.h"
#include "waveform_params.h"

namespace ksim {

// The signals at one moment.
struct signal_values {
  uint16_t ctrl = 0;
  uint16_t data = 0;
  uint8_t function = 0;
  bool enabled = false;
  uint8_t presented = 0;
  uint32_t counter = 0;
  const char *mode = "";
  uint8_t status = 0;
};

struct waveform {
  FILE *file = nullptr;
  waveform_params params;
  uint64_t accesses = 0;
  uint64_t lastNs = 0;
  bool stopped = false;
  signal_values last;
  std::string pending;  // whole lines not yet written
};

signal_values sample_signals(const bridge_model &bridge);

// Writes the header and the values at time 0 to an open file; the waveform
// owns it from then on.
void waveform_start(waveform *wave, FILE *file, const waveform_params &params, const signal_values &initial);
// One register access at ns since the open (kept later than the one before);
// after a write, the signals as they now are.
void waveform_access(waveform *wave, uint64_t ns, const signal_values *after);
// Everything recorded so far is in the file.
void waveform_flush(waveform *wave);
void waveform_close(waveform *wave);

}  // namespace ksim
