// The instruction decoder of the caught window (window_check.cpp runs the
// window itself).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "window/x86_access.h"

namespace {

using namespace ksim;

// Code (hexadecimal bytes, "32:" in front for 32-bit code) and what the
// decoder makes of it: length, store or load, register or immediate, and
// the extension of a load; nothing when it is let through by a single step.
TEST(Decoder, TakesTheUsualMovesOnly) {
  const char *kinds[] = {"", " zx", " sx32", " sx64"};
  for (const auto &c : std::vector<std::pair<std::string, std::string>>{
           {"66 89 68 1E", "4 store r5"},  // mov [rax+0x1e], bp
           {"66 44 89 08", "4 store r9"},
           {"66 C7 80 1E 00 00 00 90 00", "9 store imm 144"},
           {"0F B7 04 25 01 02 03 04", "8 load r0 zx"},
           {"0F B7 05 01 02 03 04", "7 load r0 zx"},  // rip-relative
           {"44 0F B7 78 1E", "5 load r15 zx"},
           {"48 0F BF 00", "4 load r0 sx64"},
           {"0F BF 00", "3 load r0 sx32"},
           {"66 8B 48 1C", "4 load r1"},
           {"89 68 1E", ""},           // a 32-bit store
           {"66 48 89 68 1E", ""},     // a 64-bit store
           {"66 89 C0", ""},           // a register operand
           {"0F B6 40 1E", ""},        // a byte load
           {"64 66 89 00", ""},        // a segment prefix
           {"66 C7 48 1E 01 00", ""},  // an immediate with a register field
           {"32:66 C7 40 1E 90 00", "6 store imm 144"},
           {"32:0F B7 05 01 02 03 04", "7 load r0 zx"},  // an absolute address
           {"32:0F BF 4C 24 08", "5 load r1 sx32"},
           {"32:66 8B 8E 01 02 03 04", "7 load r1"},
           {"32:66 44 89 08", ""}}) {  // no REX prefix in 32-bit code
    const bool bits32 = c.first.rfind("32:", 0) == 0;
    std::istringstream hex(c.first.substr(bits32 ? 3 : 0));
    std::vector<uint8_t> code(16, 0x90);
    unsigned byte = 0;
    for (size_t k = 0; hex >> std::hex >> byte; ++k)
      code[k] = static_cast<uint8_t>(byte);
    x86_access a{};
    std::string shown;
    if (decode_x86_access(code.data(), bits32 ? x86_mode::bits32 : x86_mode::bits64, &a))
      shown = std::to_string(a.length) + (a.store ? " store " : " load ") +
              (a.reg < 0 ? "imm " + std::to_string(a.immediate) : "r" + std::to_string(a.reg)) +
              kinds[static_cast<int>(a.load)];
    EXPECT_EQ(shown, c.second) << c.first;
  }
}

TEST(Decoder, LoadsReachTheRegisterAsTheInstructionSays) {
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::replace_low16), 0x1111222233338001u);
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::zero_extend), 0x8001u);
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::sign_extend_32), 0xFFFF8001u);
  EXPECT_EQ(loaded_register(0x1111222233334444u, 0x8001, load_kind::sign_extend_64), 0xFFFFFFFFFFFF8001u);
}

}  // namespace
