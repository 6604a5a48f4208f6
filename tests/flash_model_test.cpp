// The simulator's Flash and bridge models on their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "models/bridge_model.h"
#include "models/flash_model.h"

namespace {

using namespace ksim;

// A byte written to the Flash, or read and compared.
struct step {
  char op;  // 'W' or 'R'
  uint32_t address;
  uint8_t value;
};

struct flash_case {
  const char *name;
  flash_params params;  // four blocks of 0x100 bytes, every byte 0x00
  std::vector<step> steps;
};
void PrintTo(const flash_case &c, std::ostream *os) { *os << c.name; }

class FlashModel : public testing::TestWithParam<flash_case> {};

TEST_P(FlashModel, AnswersEachStep) {
  flash_params params = GetParam().params;
  params.blocks = 4;
  params.blockSize = 0x100;
  std::vector<uint8_t> cells(flash_bytes(params), 0x00);
  flash_model flash;
  flash_init(&flash, params, cells.data());
  int k = 0;
  for (const step &s : GetParam().steps) {
    if (s.op == 'W')
      flash_write(&flash, s.address, s.value);
    else
      EXPECT_EQ(flash_read(&flash, s.address), s.value) << "step " << k;
    ++k;
  }
}

flash_params with(uint8_t lock, uint32_t busyReads = 0, flash_operation stuck = flash_operation::none,
                  std::vector<uint32_t> weak = {}) {
  return {4, 0x100, 0xB0, 0xD4, lock, busyReads, stuck, weak};
}

const std::vector<step> ERASE_0 = {{'W', 0, 0x20}, {'W', 0, 0xD0}, {'R', 0, 0x80}};

std::vector<step> operator+(std::vector<step> a, const std::vector<step> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// An error sets status bits and changes nothing; Clear Status clears them.
std::vector<step> error(uint32_t address, uint8_t first, uint8_t second, uint8_t status) {
  return {{'W', address, first}, {'W', address, second}, {'R', 0, status}, {'W', 0, 0x50},
          {'W', 0, 0x70},        {'R', 0, 0x80},         {'W', 0, 0xFF},   {'R', 0, 0x00}};
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FlashModel,
    testing::Values(
        flash_case{
            "starts_zeroed_in_read_array", with(0), {{'R', 0, 0}, {'R', 0x3FF, 0}, {'R', 0x400, 0xFF}}},
        flash_case{"erase_one_block_busy_then_ready",
                   with(0, 2),
                   {{'W', 0x150, 0x20},
                    {'W', 0x150, 0xD0},
                    {'R', 0x150, 0x00},
                    {'R', 0x150, 0x00},
                    {'R', 0x150, 0x80},
                    {'R', 0x150, 0x80},
                    {'W', 0, 0xFF},
                    {'R', 0xFF, 0x00},
                    {'R', 0x100, 0xFF},
                    {'R', 0x1FF, 0xFF},
                    {'R', 0x200, 0x00}}},
        flash_case{"program_only_clears_bits", with(0),
                   ERASE_0 + std::vector<step>{{'W', 5, 0x40},
                                               {'W', 5, 0xF0},
                                               {'R', 5, 0x80},
                                               {'W', 5, 0x10},
                                               {'W', 5, 0x3C},
                                               {'R', 5, 0x80},
                                               {'W', 0, 0xFF},
                                               {'R', 5, 0x30}}},
        flash_case{"identifier_at_0_2_4",
                   with(1),
                   {{'W', 0, 0x90}, {'R', 0, 0xB0}, {'R', 2, 0xD4}, {'R', 4, 0x01}, {'R', 1, 0x00}}},
        flash_case{
            "unknown_command_goes_to_read_array", with(0), {{'W', 0, 0x90}, {'W', 0, 0x33}, {'R', 0, 0}}},
        flash_case{"erase_not_confirmed", with(0), error(0, 0x20, 0xFF, 0xB0)},
        flash_case{"erase_beyond", with(0), error(0x400, 0x20, 0xD0, 0xA0)},
        flash_case{"program_beyond", with(0), error(0x400, 0x40, 0x00, 0x90)},
        flash_case{"erase_locked", with(1), error(0, 0x20, 0xD0, 0xA2)},
        flash_case{"program_locked", with(1), error(0, 0x40, 0x00, 0x92)},
        flash_case{"weak_byte_keeps_its_erased_value", with(0, 0, flash_operation::none, {3}),
                   ERASE_0 + std::vector<step>{{'W', 2, 0x40},
                                               {'W', 2, 0x00},
                                               {'R', 0, 0x80},
                                               {'W', 3, 0x40},
                                               {'W', 3, 0x00},
                                               {'R', 0, 0x80},
                                               {'W', 0, 0xFF},
                                               {'R', 2, 0x00},
                                               {'R', 3, 0xFF}}},
        flash_case{
            "stuck_never_ready", with(0, 0, flash_operation::program),
            ERASE_0 + std::vector<step>{{'W', 0, 0x40}, {'W', 0, 0x00}, {'R', 0, 0x00}, {'R', 0, 0x00}}}),
    [](const testing::TestParamInfo<flash_case> &param_info) { return std::string(param_info.param.name); });

// Bridge: control codes reach the Flash only once the interface is enabled.
struct bridge_fixture {
  std::vector<uint8_t> cells = std::vector<uint8_t>(0x400, 0x00);
  bridge_model bridge;
  recorder rec;
  bridge_fixture() { flash_init(&bridge.flash, with(0), cells.data()); }
  void ctrl(int code) {
    for (int value : {code | 0x10, code & ~0x10, code | 0x10})
      bridge_write(&bridge, &rec, REG_FLASH_CTRL, static_cast<uint16_t>(value));
  }
  void ctrls(std::initializer_list<int> codes) {
    for (int code : codes)
      ctrl(code);
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
  f.ctrls({0x93, 0x8C, 0x9F});      // wrong order
  EXPECT_EQ(f.read_cycle(), 0xFF);
  f.ctrls({0x9F, 0x90, 0x8C, 0x90, 0x93});
  EXPECT_EQ(f.read_cycle(), 0x00);
  f.ctrl(0x9F);  // reset disables it again
  EXPECT_EQ(f.read_cycle(), 0xFF);
}

TEST(BridgeModel, CounterCodesAndDataRegister) {
  bridge_fixture f;
  f.ctrls({0x9F, 0x8C, 0x93});
  f.data(0x90);
  f.ctrl(0x14);
  f.data(0x1234);  // the data register reads what the last read cycle presented
  EXPECT_EQ(bridge_read(f.bridge, REG_FLASH_DATA), 0x00FF);
  f.ctrl(0x97);
  EXPECT_EQ(f.read_cycle(), 0xB0);
  f.ctrls({0x91, 0x91});
  EXPECT_EQ(f.read_cycle(), 0xD4);
  f.ctrl(0x92);
  EXPECT_EQ(f.bridge.counter, 0x100u);
  f.ctrls({0x91, 0x92});
  EXPECT_EQ(f.bridge.counter, 0x200u);
  EXPECT_EQ(bridge_read(f.bridge, REG_FLASH_CTRL), 0x92);
  EXPECT_EQ(f.rec.pulses[0x91], 3u);
  EXPECT_EQ(f.rec.pulses[0x8C], 1u);  // 0x9C, 0x8C, 0x9C
}

TEST(BridgeModel, UnknownCodesAndFlashCommandsAreIdleTracedAndCounted) {
  bridge_fixture f;
  f.rec.trace = std::tmpfile();
  ASSERT_NE(f.rec.trace, nullptr);
  f.ctrls({0x99, 0x00});  // 0x00 writes 0x10, 0x00, 0x10: the idle code 0x10
  f.ctrls({0x9F, 0x8C, 0x93});
  f.data(0x3C);
  f.ctrl(0x14);
  EXPECT_EQ(f.rec.badPulses, 1u);
  EXPECT_EQ(f.rec.badFlashCommands, 1u);
  EXPECT_EQ(f.rec.pulses[0x10], 1u);
  std::rewind(f.rec.trace);
  char text[64] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, f.rec.trace), 20u);
  EXPECT_STREQ(text, "bad 99\nbad flash 3c\n");
  std::fclose(f.rec.trace);
}

}  // namespace
