// The simulator's Flash and bridge models on their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "models/bridge_model.h"
#include "models/flash_model.h"

namespace {

using namespace ksim;

// A bridge over a Flash whose every byte holds bits 8-15 of its address
// (the number of its block when blocks are 0x100 bytes).
struct bench {
  std::vector<uint8_t> cells;
  bridge_model bridge;
  recorder rec;
  explicit bench(const flash_params &params) {
    for (size_t k = 0; k < flash_bytes(params); ++k)
      cells.push_back(static_cast<uint8_t>(k >> 8));
    flash_init(&bridge.flash, params, cells.data());
  }
  void ctrl(unsigned code) {
    for (unsigned value : {code | 0x10, code & ~0x10u, code | 0x10})
      bridge_write(&bridge, &rec, FLASH_CTRL_REG, static_cast<uint16_t>(value));
  }
  // Steps, numbers in hexadecimal: "Wa:b" and "Ra:b" write a byte to the
  // Flash and read one back from it directly; through the bridge, "cX" is a
  // control code, "dX" a data register write, "rX" a read cycle presenting X,
  // and "pX" and "qX" what the data and control registers read.
  void steps(const std::string &text) {
    std::istringstream words(text);
    for (std::string step; words >> step;) {
      unsigned a = 0, b = 0;
      std::sscanf(step.c_str() + 1, "%x:%x", &a, &b);
      switch (step[0]) {
      case 'W': flash_write(&bridge.flash, a, static_cast<uint8_t>(b)); break;
      case 'R': EXPECT_EQ(flash_read(&bridge.flash, a), b) << step; break;
      case 'c': ctrl(a); break;
      case 'd': bridge_write(&bridge, &rec, FLASH_DATA_REG, static_cast<uint16_t>(a)); break;
      case 'r':
        ctrl(0x95);
        EXPECT_EQ(bridge_read(bridge, FLASH_DATA_REG), a) << step;
        break;
      default: EXPECT_EQ(bridge_read(bridge, step[0] == 'p' ? FLASH_DATA_REG : FLASH_CTRL_REG), a) << step;
      }
    }
  }
};

flash_params with(uint8_t lock, uint32_t busyReads = 0, flash_operation stuck = flash_operation::none,
                  std::vector<uint32_t> weak = {}) {
  flash_params p;
  p.blocks = 4;
  p.blockSize = 0x100;
  p.vendor = 0xB0;
  p.device = 0xD4;
  p.lock = lock;
  p.busyReads = busyReads;
  p.stuck = stuck;
  p.weak = std::move(weak);
  return p;
}

flash_params buffered(uint32_t bytes, bool query = true, std::vector<uint64_t> failing = {}) {
  flash_params p = with(0, 0, flash_operation::none, {0x103});
  p.writeBuffer = bytes;
  p.answersQuery = query;
  p.failingBuffers = std::move(failing);
  return p;
}

TEST(FlashAndBridgeModels, AnswerEachStep) {
  const std::string erase0 = "W0:20 W0:D0 R0:80 ", cleared = " W0:50 W0:70 R0:80 W0:FF R0:0";
  const std::string enabled = "c9F c8C c93 ";
  for (const auto &c : std::vector<std::pair<flash_params, std::string>>{
           {flash_params(),
            "W0:90 R0:89 R2:17 R4:0 W0:20 W0:D0 R0:0 R0:80 W0:FF R1FFFF:FF R20000:0 R7FFEFF:FE "
            "R800000:FF"},  // the card's own Flash: 64 blocks of 128 KiB, busy once
           {with(0), "R0:0 R3FF:3 R400:FF"},
           {with(0, 2), "W150:20 W150:D0 R150:0 R150:0 R150:80 R150:80 W0:FF RFF:0 R100:FF R1FF:FF R200:2"},
           {with(0), erase0 + "W5:40 W5:F0 R5:80 W5:10 W5:3C R5:80 W0:FF R5:30"},  // program only clears bits
           {with(1), "W0:90 R0:B0 R2:D4 R4:1 R1:0"},
           {with(0), "W0:90 W0:33 R100:1"},  // an unknown command: read array
           {with(0), "W0:20 W0:FF R0:B0" + cleared},
           {with(0), "W400:20 W400:D0 R0:A0" + cleared},
           {with(0), "W400:40 W400:0 R0:90" + cleared},
           {with(1), "W0:20 W0:D0 R0:A2" + cleared},
           {with(1), "W0:40 W0:0 R0:92" + cleared},
           {with(0, 0, flash_operation::none, {3}),
            erase0 + "W2:40 W2:0 R0:80 W3:40 W3:0 R0:80 W0:FF R2:0 R3:FF"},
           {with(0, 0, flash_operation::program), erase0 + "W0:40 W0:0 R0:0 R0:0"},
           // The Flash answers only after reset, out of reset and enable, in this order.
           {with(0), "pFF rFF c93 c8C c9F rFF c9F c90 c8C c90 c93 r0 c9F rFF"},
           {with(0), "W0:20 W0:D0 W0:40 W0:0 W0:FF c9F c8C c93 r0"},  // a reset sets the counter to 0
           // The data register reads what the last read cycle presented.
           {with(0), enabled + "d90 c14 d1234 pFF c97 rB0 c91 c91 rD4 q95"},
           {with(0), enabled + "c92 r1 c91 c92 r2 c97 c91 c92 r1"},  // counter to the next block
           // The query, byte k at 2k and 2k + 1: QRY, command set 1, 2^10 bytes, byte wide, a buffer
           // of 2^5, one region of 4 blocks of 0x100.
           {buffered(32),
            "W0:98 R20:51 R23:52 R24:59 R26:1 R28:0 R4E:A R50:2 R54:5 R58:1 R5A:3 R5C:0 R5E:1 "
            "R60:0 R62:0 W0:FF R100:1"},
           {buffered(0), "W0:98 R54:0 W0:E8 R100:1"},    // no buffer: Write to Buffer unknown
           {buffered(32, false), "W0:98 R20:0 R100:1"},  // no query: read array
           // Write to Buffer: the bytes programmed at the confirm, a weak one kept.
           {buffered(32),
            "W100:E8 R100:80 W100:3 W101:F0 W100:3C W103:0 W102:5 R100:80 W100:D0 R100:80 W100:FF "
            "R100:0 R101:0 R102:1 R103:1"},
           {buffered(32), "W100:E8 W100:20 R100:B0"},  // a count beyond the buffer
           {buffered(32),
            "W100:E8 W100:1 W11F:0 W120:0 W100:D0 R100:B0 W100:FF R11F:1"},  // across its window
           {buffered(32), "W100:E8 W100:1 W100:0 W100:0 W100:D0 R100:B0"},   // an address twice
           {buffered(32), "W100:E8 W100:0 W100:0 W200:D0 R100:B0"},          // confirmed elsewhere
           {buffered(32, true, {2}),
            "W100:E8 W100:0 W100:0 W100:D0 W200:E8 W200:0 W200:0 W200:D0 R0:90 W0:FF "
            "R100:0 R200:2"},  // the second buffer fails
           {with(0, 1),
            "W0:20 W0:D0 W0:E8 R0:0 R0:80 W0:E8 W0:0 W0:0 W0:D0 R0:0 R0:80"}}) {  // busy: E8 again
    bench b(c.first);
    b.steps(c.second);
  }
}

TEST(BridgeModel, PulsesCountedUnknownCodesAndFlashCommandsTraced) {
  bench b(with(0));
  b.rec.trace = std::tmpfile();
  ASSERT_NE(b.rec.trace, nullptr);
  b.steps("c99 c0 c9F c8C c93 d3C c14 c91 c91");  // 0x00 writes 0x10, 0x00, 0x10: the idle code 0x10
  EXPECT_EQ(b.rec.badPulses, 1u);
  EXPECT_EQ(b.rec.badFlashCommands, 1u);
  EXPECT_EQ(b.rec.pulses[0x10] + 10 * b.rec.pulses[0x91] + 100 * b.rec.pulses[0x8C], 1u + 20 + 100);
  std::rewind(b.rec.trace);
  char text[64] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, b.rec.trace), 20u);
  EXPECT_STREQ(text, "bad 99\nbad flash 3c\n");
  std::fclose(b.rec.trace);
}

}  // namespace
