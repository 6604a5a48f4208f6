// The simulator's Flash and bridge models on their own.
#include <gtest/gtest.h>

#include <cstdio>

#include "models/bridge_model.h"
#include "models/flash_model.h"

namespace {

using namespace ksim;

// Four blocks of 0x100 bytes, every byte 0x00.
struct small_flash {
  std::vector<uint8_t> cells;
  flash_model flash;
  explicit small_flash(flash_params params = flash_params()) {
    params.blocks = 4;
    params.blockSize = 0x100;
    cells.assign(flash_bytes(params), 0x00);
    flash_init(&flash, params, cells.data());
  }
};

uint8_t ready_status(flash_model &flash) {
  uint8_t status = 0;
  for (int k = 0; k < 100 && (status & SR_READY) == 0; ++k)
    status = flash_read(&flash, 0);
  return status;
}

TEST(FlashModel, StartsZeroedInReadArray) {
  small_flash owner;
  flash_model &flash = owner.flash;
  EXPECT_EQ(flash_read(&flash, 0), 0x00);
  EXPECT_EQ(flash_read(&flash, 0x3FF), 0x00);
  EXPECT_EQ(flash_read(&flash, 0x400), 0xFF);  // beyond the Flash
}

TEST(FlashModel, EraseSetsOneBlockAndReportsBusyThenReady) {
  flash_params card;
  card.busyReads = 2;
  small_flash owner(card);
  flash_model &flash = owner.flash;
  flash_write(&flash, 0x150, 0x20);
  flash_write(&flash, 0x150, 0xD0);
  EXPECT_EQ(flash_read(&flash, 0x150), 0x00);  // busy
  EXPECT_EQ(flash_read(&flash, 0x150), 0x00);
  EXPECT_EQ(flash_read(&flash, 0x150), 0x80);
  EXPECT_EQ(flash_read(&flash, 0x150), 0x80);
  flash_write(&flash, 0, 0xFF);
  EXPECT_EQ(flash_read(&flash, 0xFF), 0x00);
  EXPECT_EQ(flash_read(&flash, 0x100), 0xFF);
  EXPECT_EQ(flash_read(&flash, 0x1FF), 0xFF);
  EXPECT_EQ(flash_read(&flash, 0x200), 0x00);
  EXPECT_EQ(flash.blocksErased, 1u);
}

TEST(FlashModel, ProgramCanOnlyClearBits) {
  small_flash owner;
  flash_model &flash = owner.flash;
  flash_write(&flash, 0, 0x20);
  flash_write(&flash, 0, 0xD0);
  ready_status(flash);
  flash_write(&flash, 5, 0x40);
  flash_write(&flash, 5, 0xF0);
  EXPECT_EQ(ready_status(flash), 0x80);
  flash_write(&flash, 5, 0x10);  // the alternative program set-up
  flash_write(&flash, 5, 0x3C);
  ready_status(flash);
  flash_write(&flash, 0, 0xFF);
  EXPECT_EQ(flash_read(&flash, 5), 0x30);
  EXPECT_EQ(flash.bytesProgrammed, 2u);
}

TEST(FlashModel, IdentifierAtByteAddresses024) {
  flash_params card;
  card.vendor = 0xB0;
  card.device = 0xD4;
  card.lock = 1;
  small_flash owner(card);
  flash_model &flash = owner.flash;
  flash_write(&flash, 0, 0x90);
  EXPECT_EQ(flash_read(&flash, 0), 0xB0);
  EXPECT_EQ(flash_read(&flash, 2), 0xD4);
  EXPECT_EQ(flash_read(&flash, 4), 0x01);
  EXPECT_EQ(flash_read(&flash, 1), 0x00);
}

struct error_case {
  const char *name;
  uint32_t address;
  uint8_t first;
  uint8_t second;
  uint32_t lock;
  uint8_t status;
};
void PrintTo(const error_case &c, std::ostream *os) { *os << c.name; }

class FlashErrors : public testing::TestWithParam<error_case> {};

TEST_P(FlashErrors, SetStatusBitsAndChangeNothing) {
  const error_case &c = GetParam();
  flash_params card;
  card.lock = c.lock;
  small_flash owner(card);
  flash_model &flash = owner.flash;
  flash_write(&flash, c.address, c.first);
  flash_write(&flash, c.address, c.second);
  EXPECT_EQ(ready_status(flash), c.status);
  EXPECT_EQ(flash.blocksErased + flash.bytesProgrammed, 0u);
  flash_write(&flash, 0, 0x50);  // clear status
  flash_write(&flash, 0, 0x70);
  EXPECT_EQ(flash_read(&flash, 0), 0x80);
}

INSTANTIATE_TEST_SUITE_P(Cases, FlashErrors,
                         testing::Values(error_case{"erase_not_confirmed", 0, 0x20, 0xFF, 0, 0xB0},
                                         error_case{"erase_beyond", 0x400, 0x20, 0xD0, 0, 0xA0},
                                         error_case{"program_beyond", 0x400, 0x40, 0x00, 0, 0x90},
                                         error_case{"erase_locked", 0, 0x20, 0xD0, 1, 0xA2},
                                         error_case{"program_locked", 0, 0x40, 0x00, 1, 0x92}),
                         [](const testing::TestParamInfo<error_case> &param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(FlashModel, WeakBytesKeepTheirErasedValue) {
  flash_params card;
  card.weak = {3};
  small_flash owner(card);
  flash_model &flash = owner.flash;
  flash_write(&flash, 0, 0x20);
  flash_write(&flash, 0, 0xD0);
  ready_status(flash);
  for (uint32_t address : {2u, 3u}) {
    flash_write(&flash, address, 0x40);
    flash_write(&flash, address, 0x00);
    EXPECT_EQ(ready_status(flash), 0x80);
  }
  flash_write(&flash, 0, 0xFF);
  EXPECT_EQ(flash_read(&flash, 2), 0x00);
  EXPECT_EQ(flash_read(&flash, 3), 0xFF);
}

TEST(FlashModel, StuckNeverReportsReady) {
  flash_params card;
  card.stuck = flash_operation::program;
  small_flash owner(card);
  flash_model &flash = owner.flash;
  flash_write(&flash, 0, 0x20);
  flash_write(&flash, 0, 0xD0);
  EXPECT_EQ(ready_status(flash), 0x80);  // erase is not stuck
  flash_write(&flash, 0, 0x40);
  flash_write(&flash, 0, 0x00);
  EXPECT_EQ(ready_status(flash), 0x00);
}

// Bridge: control codes reach the Flash only once the interface is enabled.
struct bridge_fixture {
  bridge_model bridge;
  recorder rec;
  small_flash memory;
  bridge_fixture() : memory(quick()) { bridge.flash = memory.flash; }
  static flash_params quick() {
    flash_params params;
    params.busyReads = 0;
    return params;
  }
  void ctrl(uint16_t code) {
    for (int value : {code | 0x10, code & ~0x10, code | 0x10})
      bridge_write(&bridge, &rec, REG_FLASH_CTRL, static_cast<uint16_t>(value));
  }
  void data(uint16_t value) { bridge_write(&bridge, &rec, REG_FLASH_DATA, value); }
  uint8_t read_cycle() {
    ctrl(0x95);
    return static_cast<uint8_t>(bridge_read(bridge, REG_FLASH_DATA));
  }
};

TEST(BridgeModel, FlashAnswersOnlyAfterTheEnablingSequence) {
  bridge_fixture f;
  EXPECT_EQ(bridge_read(f.bridge, REG_FLASH_DATA), 0x00FF);
  EXPECT_EQ(f.read_cycle(), 0xFF);  // interface disabled
  for (uint16_t code : {0x93, 0x8C, 0x9F})
    f.ctrl(code);  // wrong order
  EXPECT_EQ(f.read_cycle(), 0xFF);
  for (uint16_t code : {0x9F, 0x90, 0x8C, 0x90, 0x93})
    f.ctrl(code);
  EXPECT_EQ(f.read_cycle(), 0x00);
  f.ctrl(0x9F);  // reset disables it again
  EXPECT_EQ(f.read_cycle(), 0xFF);
}

TEST(BridgeModel, CounterCodesAndDataRegister) {
  bridge_fixture f;
  for (uint16_t code : {0x9F, 0x8C, 0x93})
    f.ctrl(code);
  f.data(0x90);
  f.ctrl(0x14);
  f.data(0x1234);  // the data register reads what the last read cycle presented
  EXPECT_EQ(bridge_read(f.bridge, REG_FLASH_DATA), 0x00FF);
  f.ctrl(0x97);
  EXPECT_EQ(f.read_cycle(), 0x89);
  f.ctrl(0x91);
  f.ctrl(0x91);
  EXPECT_EQ(f.read_cycle(), 0x17);
  f.ctrl(0x92);
  EXPECT_EQ(f.bridge.counter, 0x100u);
  f.ctrl(0x91);
  f.ctrl(0x92);
  EXPECT_EQ(f.bridge.counter, 0x200u);
  EXPECT_EQ(bridge_read(f.bridge, REG_FLASH_CTRL), 0x92);
  EXPECT_EQ(f.rec.pulses[0x91], 3u);
  EXPECT_EQ(f.rec.pulses[0x8C], 1u);  // 0x9C, 0x8C, 0x9C
}

TEST(BridgeModel, UnknownCodesAndFlashCommandsAreIdleTracedAndCounted) {
  bridge_fixture f;
  f.rec.trace = std::tmpfile();
  ASSERT_NE(f.rec.trace, nullptr);
  f.ctrl(0x99);
  f.ctrl(0x00);  // writes 0x10, 0x00, 0x10: the idle code 0x10
  for (uint16_t code : {0x9F, 0x8C, 0x93})
    f.ctrl(code);
  f.data(0x90);
  f.ctrl(0x14);
  f.data(0x3C);  // no command: back to read array
  f.ctrl(0x14);
  f.ctrl(0x97);
  const uint8_t presented = f.read_cycle();
  EXPECT_EQ(f.rec.badPulses, 1u);
  EXPECT_EQ(f.rec.badFlashCommands, 1u);
  EXPECT_EQ(f.rec.pulses[0x10], 1u);
  EXPECT_EQ(presented, 0x00);  // the array, not the vendor
  std::rewind(f.rec.trace);
  char text[64] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, f.rec.trace), 20u);
  EXPECT_STREQ(text, "bad 99\nbad flash 3c\n");
  std::fclose(f.rec.trace);
}

}  // namespace
