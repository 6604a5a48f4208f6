// Catching accesses through a mapped window: the instruction decoder, and
// every access to the watched registers reaching the client once, in
// order, whether carried out by decoding or let through by a single step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/mapped_window.h"
#include "window/x86_access.h"

namespace {

using namespace ksim;

struct decode_case {
  const char *name;
  std::vector<uint8_t> code;
  bool decoded;
  x86_access expected;
  x86_mode mode = x86_mode::bits64;
};
void PrintTo(const decode_case &c, std::ostream *os) { *os << c.name; }

class Decoder : public testing::TestWithParam<decode_case> {};

TEST_P(Decoder, TakesTheUsualMovesOnly) {
  const decode_case &c = GetParam();
  std::vector<uint8_t> code = c.code;
  code.resize(16, 0x90);
  x86_access a{99, false, 99, 0, load_kind::replace_low16};
  ASSERT_EQ(decode_x86_access(code.data(), c.mode, &a), c.decoded);
  if (!c.decoded) return;
  EXPECT_EQ(a.length, c.expected.length);
  EXPECT_EQ(a.store, c.expected.store);
  EXPECT_EQ(a.reg, c.expected.reg);
  EXPECT_EQ(a.immediate, c.expected.immediate);
  EXPECT_EQ(a.load, c.expected.load);
}

constexpr load_kind LOW = load_kind::replace_low16;
constexpr load_kind ZX = load_kind::zero_extend;
constexpr load_kind SX32 = load_kind::sign_extend_32;
constexpr load_kind SX64 = load_kind::sign_extend_64;
constexpr x86_mode X32 = x86_mode::bits32;

// Name, code, whether it is decoded, and how: length, store, register (-1:
// the immediate), immediate, load; then the mode when it is 32-bit code.
INSTANTIATE_TEST_SUITE_P(
    Instructions, Decoder,
    testing::Values(
        decode_case{"mov_bp_to_disp8", {0x66, 0x89, 0x68, 0x1E}, true, {4, true, 5, 0, LOW}},
        decode_case{"mov_r9w_to_base", {0x66, 0x44, 0x89, 0x08}, true, {4, true, 9, 0, LOW}},
        decode_case{"mov_imm_to_disp32",
                    {0x66, 0xC7, 0x80, 0x1E, 0, 0, 0, 0x90, 0x00},
                    true,
                    {9, true, -1, 0x90, LOW}},
        decode_case{"movzx_sib_disp32", {0x0F, 0xB7, 0x04, 0x25, 1, 2, 3, 4}, true, {8, false, 0, 0, ZX}},
        decode_case{"movzx_rip", {0x0F, 0xB7, 0x05, 1, 2, 3, 4}, true, {7, false, 0, 0, ZX}},
        decode_case{"movzx_to_r15", {0x44, 0x0F, 0xB7, 0x78, 0x1E}, true, {5, false, 15, 0, ZX}},
        decode_case{"movsx_to_rax", {0x48, 0x0F, 0xBF, 0x00}, true, {4, false, 0, 0, SX64}},
        decode_case{"movsx_to_eax", {0x0F, 0xBF, 0x00}, true, {3, false, 0, 0, SX32}},
        decode_case{"mov_to_r16", {0x66, 0x8B, 0x48, 0x1C}, true, {4, false, 1, 0, LOW}},
        decode_case{"mov_32bit_store", {0x89, 0x68, 0x1E}, false, {}},
        decode_case{"mov_64bit_store", {0x66, 0x48, 0x89, 0x68, 0x1E}, false, {}},
        decode_case{"register_operand", {0x66, 0x89, 0xC0}, false, {}},
        decode_case{"byte_load", {0x0F, 0xB6, 0x40, 0x1E}, false, {}},
        decode_case{"segment_prefix", {0x64, 0x66, 0x89, 0x00}, false, {}},
        decode_case{"imm_with_reg_field", {0x66, 0xC7, 0x48, 0x1E, 1, 0}, false, {}},
        decode_case{"mov_imm_32", {0x66, 0xC7, 0x40, 0x1E, 0x90, 0}, true, {6, true, -1, 0x90, LOW}, X32},
        decode_case{"movzx_absolute_32", {0x0F, 0xB7, 0x05, 1, 2, 3, 4}, true, {7, false, 0, 0, ZX}, X32},
        decode_case{"movsx_sib_disp8_32", {0x0F, 0xBF, 0x4C, 0x24, 8}, true, {5, false, 1, 0, SX32}, X32},
        decode_case{"mov_to_r16_disp32_32", {0x66, 0x8B, 0x8E, 1, 2, 3, 4}, true, {7, false, 1, 0, LOW}, X32},
        decode_case{"no_rex_in_32", {0x66, 0x44, 0x89, 0x08}, false, {}, X32}),
    [](const testing::TestParamInfo<decode_case> &param_info) { return std::string(param_info.param.name); });

TEST(Decoder, LoadsReachTheRegisterAsTheInstructionSays) {
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::replace_low16), 0x1111222233338001u);
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::zero_extend), 0x8001u);
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::sign_extend_32), 0xFFFF8001u);
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::sign_extend_64), 0xFFFFFFFFFFFF8001u);
}

// Two registers at 0x1C and 0x1E; each load presents a value of its own.
struct recording_client {
  std::vector<std::string> events;
  uint16_t next = 0x1230;
  static bool is_register(void *, uint32_t offset) { return offset == 0x1C || offset == 0x1E; }
  static uint16_t load(void *context, uint32_t offset) {
    auto *self = static_cast<recording_client *>(context);
    const uint16_t value = self->next++;
    self->events.push_back("R " + std::to_string(offset) + " " + std::to_string(value));
    return value;
  }
  static void store(void *context, uint32_t offset, uint16_t value) {
    static_cast<recording_client *>(context)->events.push_back("W " + std::to_string(offset) + " " +
                                                               std::to_string(value));
  }
};

TEST(MappedWindow, EveryRegisterAccessReachesTheClientInOrder) {
  recording_client client;
  mapped_window *window =
      window_open(0x3000, 0x1C,
                  {&client, recording_client::is_register, recording_client::load, recording_client::store});
  ASSERT_NE(window, nullptr);
  auto *base = static_cast<uint8_t *>(window_base(window));
  volatile uint16_t *data = reinterpret_cast<volatile uint16_t *>(base + 0x1C);
  volatile uint16_t *ctrl = reinterpret_cast<volatile uint16_t *>(base + 0x1E);
  volatile uint8_t *ctrlLow = base + 0x1E;
  volatile uint16_t *plain = reinterpret_cast<volatile uint16_t *>(base + 0x100);
  volatile uint16_t *elsewhere = reinterpret_cast<volatile uint16_t *>(base + 0x2000);

  *ctrl = 0x90;
  const uint16_t first = *ctrl;
  *data = 0x40;
  const uint16_t second = *data;
  const uint8_t byte = *ctrlLow;  // a byte load and store: let through by a single step
  *ctrlLow = 0x55;                // the register's high byte as last presented
  *plain = 0xABCD;                // plain memory in the watched page
  const uint16_t plainBack = *plain;
  *elsewhere = 0x5555;  // outside the watched page
  window_close(window);

  EXPECT_EQ(first, 0x1230);
  EXPECT_EQ(second, 0x1231);
  EXPECT_EQ(byte, 0x32);
  EXPECT_EQ(plainBack, 0xABCD);
  EXPECT_EQ(client.events, (std::vector<std::string>{"W 30 144", "R 30 4656", "W 28 64", "R 28 4657",
                                                     "R 30 4658", "W 30 4693"}));
}

TEST(MappedWindow, UnwatchedWindowIsPlainMemory) {
  recording_client client;
  mapped_window *window =
      window_open(0x2000, UINT32_MAX,
                  {&client, recording_client::is_register, recording_client::load, recording_client::store});
  ASSERT_NE(window, nullptr);
  volatile uint16_t *reg =
      reinterpret_cast<volatile uint16_t *>(static_cast<uint8_t *>(window_base(window)) + 0x1C);
  *reg = 7;
  EXPECT_EQ(*reg, 7);
  window_close(window);
  EXPECT_TRUE(client.events.empty());
}

}  // namespace
