// The simulator's Flash and bridge models on their own.
#include <gtest/gtest.h>

#include "bridge_model.h"
#include "flash_model.h"

namespace {

using namespace ksim;

flash_model small_flash(card_config card = card_config()) {
  card.flashBlocks = 4;
  card.flashBlockSize = 0x100;
  flash_model flash;
  flash_init(&flash, card);
  return flash;
}

uint8_t ready_status(flash_model &flash) {
  uint8_t status = 0;
  for (int k = 0; k < 100 && (status & SR_READY) == 0; ++k)
    status = flash_read(&flash, 0);
  return status;
}

TEST(FlashModel, StartsZeroedInReadArray) {
  flash_model flash = small_flash();
  EXPECT_EQ(flash_read(&flash, 0), 0x00);
  EXPECT_EQ(flash_read(&flash, 0x3FF), 0x00);
  EXPECT_EQ(flash_read(&flash, 0x400), 0xFF);  // beyond the Flash
}

TEST(FlashModel, EraseSetsOneBlockAndReportsBusyThenReady) {
  card_config card;
  card.busyReads = 2;
  flash_model flash = small_flash(card);
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
  flash_model flash = small_flash();
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
  card_config card;
  card.flashVendor = 0xB0;
  card.flashDevice = 0xD4;
  card.flashLock = 1;
  flash_model flash = small_flash(card);
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
  card_config card;
  card.flashLock = c.lock;
  flash_model flash = small_flash(card);
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
  card_config card;
  card.weak = {3};
  flash_model flash = small_flash(card);
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
  card_config card;
  card.stuck = stuck_kind::program;
  flash_model flash = small_flash(card);
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
  bridge_fixture() {
    card_config card;
    card.flashBlocks = 4;
    card.flashBlockSize = 0x100;
    card.busyReads = 0;
    flash_init(&bridge.flash, card);
  }
  void ctrl(uint16_t code) {
    bridge_write(&bridge, &rec, REG_FLASH_CTRL, static_cast<uint16_t>(code | 0x10));
    bridge_write(&bridge, &rec, REG_FLASH_CTRL, static_cast<uint16_t>(code & ~0x10));
    bridge_write(&bridge, &rec, REG_FLASH_CTRL, static_cast<uint16_t>(code | 0x10));
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

TEST(BridgeModel, UnknownCodesAreIdleAndCounted) {
  bridge_fixture f;
  f.ctrl(0x99);
  f.ctrl(0x00);  // writes 0x10, 0x00, 0x10: the idle code 0x10
  EXPECT_EQ(f.rec.badPulses, 1u);
  EXPECT_EQ(f.rec.pulses[0x10], 1u);
  EXPECT_EQ(f.bridge.counter, 0u);
}

}  // namespace
