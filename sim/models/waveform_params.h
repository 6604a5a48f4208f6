// How a waveform is recorded, with its defaults. A plain record.
#pragma once

#include <cstdint>
#include <string>

namespace ksim {

struct waveform_params {
  std::string module;        // the scope of the card's signals
  uint32_t limit = 1000000;  // register accesses recorded; 0: no limit
};

}  // namespace ksim
