// The .bit header walk, the device check, the loader and the bit reversal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bitstream/bitstream.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

using test::bit_body;
using test::bit_record;
using test::make_bit;

struct walk_result {
  korvan_status status;
  uint32_t length;
  uint32_t offset;
};

walk_result walk(const std::vector<uint8_t> &file) {
  test::scratch_dir dir;
  const std::string path = dir.file("walk.bit");
  test::write_file(path, file);
  FILE *f = platform_open_for_reading(path.c_str());
  walk_result r{0xDEAD, 0xAAAA, 0xBBBB};
  r.status = parse_bit_header(f, &r.length, &r.offset);
  std::fclose(f);
  return r;
}

const std::vector<uint8_t> DATA = {1, 2, 3, 4, 5, 6, 7};

bit_record part(const std::string &name, bool withNul = true) { return {'b', bit_body(name, withNul)}; }
bit_record filler(char key, size_t length) { return {key, std::vector<uint8_t>(length, 'x')}; }

struct walk_case {
  const char *name;
  std::vector<uint8_t> file;
  korvan_status status;
};
void PrintTo(const walk_case &c, std::ostream *os) { *os << c.name; }

class HeaderWalk : public testing::TestWithParam<walk_case> {};

TEST_P(HeaderWalk, GivesTheStatus) {
  const walk_case &c = GetParam();
  walk_result r = walk(c.file);
  EXPECT_EQ(r.status, c.status);
  if (c.status == 0) {
    // Data is whatever follows the "e" record's length, to the end of the file.
    EXPECT_EQ(r.offset + r.length, c.file.size());
    EXPECT_EQ(std::vector<uint8_t>(c.file.begin() + r.offset, c.file.end()), DATA);
  } else {
    EXPECT_EQ(r.length, 0xAAAAu);  // out-parameters untouched on failure
    EXPECT_EQ(r.offset, 0xBBBBu);
  }
}

std::vector<uint8_t> with_first_field(uint16_t n) {
  std::vector<uint8_t> file = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  file.insert(file.end(), n, 0x5A);
  file.insert(file.end(), {0x00, 0x01, 'b', 0x00, 0x0C});
  std::vector<uint8_t> name = bit_body("2v1500fg676");
  file.insert(file.end(), name.begin(), name.end());
  file.insert(file.end(), {'e', 0, 0, 0, 0});
  file.insert(file.end(), DATA.begin(), DATA.end());
  return file;
}

std::vector<uint8_t> truncated(std::vector<uint8_t> file, size_t keep) {
  file.resize(keep);
  return file;
}

std::vector<uint8_t> with_e_length(uint32_t length) {
  std::vector<uint8_t> file = make_bit({part("2v1500fg676")}, DATA);
  const size_t at = file.size() - DATA.size() - 4;
  for (int k = 0; k < 4; ++k)
    file[at + static_cast<size_t>(k)] = static_cast<uint8_t>(length >> (24 - 8 * k));
  return file;
}

const std::vector<uint8_t> GOOD = make_bit(
    {{'a', bit_body("top")}, part("2v1500fg676"), {'c', bit_body("2019")}, {'d', bit_body("12:00")}}, DATA);

INSTANTIATE_TEST_SUITE_P(
    Files, HeaderWalk,
    testing::Values(
        walk_case{"typical", GOOD, 0}, walk_case{"upper_case_part", make_bit({part("2V1500FG676")}, DATA), 0},
        walk_case{"xc_prefix", make_bit({part("xc2v1500fg676")}, DATA), BIT_WRONG_DEVICE},
        walk_case{"trailing_blank", make_bit({part("2v1500fg676 ")}, DATA), BIT_WRONG_DEVICE},
        walk_case{
            "nul_then_bytes",
            make_bit({{'b', {'2', 'v', '1', '5', '0', '0', 'f', 'g', '6', '7', '6', 0, 'z', 'z'}}}, DATA), 0},
        walk_case{"eleven_bytes_no_nul", make_bit({part("2v1500fg676", false)}, DATA), 0},
        walk_case{"part_length_31", make_bit({filler('b', 31)}, DATA), BIT_WRONG_DEVICE},
        walk_case{"part_length_32", make_bit({filler('b', 32)}, DATA), BIT_MALFORMED},
        walk_case{"part_length_139", make_bit({filler('b', 139)}, DATA), BIT_MALFORMED},
        walk_case{"empty_part", make_bit({{'b', {}}}, DATA), BIT_WRONG_DEVICE},
        walk_case{"key_A", make_bit({{'A', bit_body("x")}}, DATA), BIT_MALFORMED},
        walk_case{"key_f", make_bit({{'f', bit_body("x")}}, DATA), BIT_MALFORMED},
        walk_case{
            "order_c_a_b_d",
            make_bit({{'c', bit_body("1")}, {'a', bit_body("2")}, part("2v1500fg676"), {'d', bit_body("3")}},
                     DATA),
            0},
        walk_case{"second_part_compared", make_bit({part("2v1500fg676"), part("2v3000fg676")}, DATA),
                  BIT_WRONG_DEVICE},
        walk_case{"no_part", make_bit({{'a', bit_body("top")}}, DATA), 0},
        walk_case{"e_length_zero", with_e_length(0), 0},
        walk_case{"e_length_huge", with_e_length(0xFFFFFFFF), 0},
        walk_case{"a_length_200", make_bit({filler('a', 200), part("2v1500fg676")}, DATA), 0},
        walk_case{"a_length_1000_across_refill",
                  make_bit({filler('a', 1000), part("2v1500fg676"), filler('c', 900)}, DATA), 0},
        walk_case{"a_length_1021_fits", make_bit({filler('a', 1021), part("2v1500fg676")}, DATA), 0},
        walk_case{"a_length_1022_too_long", make_bit({filler('a', 1022), part("2v1500fg676")}, DATA),
                  BIT_MALFORMED},
        walk_case{"first_field_0", with_first_field(0), 0},
        walk_case{"first_field_5000", with_first_field(5000), 0}, walk_case{"empty_file", {}, BIT_MALFORMED},
        walk_case{"ends_in_first_length", {0x00}, BIT_MALFORMED},
        walk_case{"ends_in_record", truncated(GOOD, 20), BIT_MALFORMED},
        walk_case{"ends_in_e_length", truncated(GOOD, GOOD.size() - DATA.size() - 2), BIT_MALFORMED},
        walk_case{"ends_before_key", truncated(GOOD, 13), BIT_MALFORMED}),
    [](const testing::TestParamInfo<walk_case> &param_info) { return std::string(param_info.param.name); });

TEST(HeaderWalk, EndsRightBehindTheLengthWithNoData) {
  walk_result r = walk(make_bit({part("2v1500fg676")}, {}));
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.length, 0u);
}

TEST(HeaderWalk, FileOver4GiBIsRefusedNotTruncated) {
  test::scratch_dir dir;
  const std::string path = dir.file("huge.bit");
  std::vector<uint8_t> file = make_bit({part("2v1500fg676")}, DATA);
  test::write_file(path, file);
  std::filesystem::resize_file(path, (uint64_t{1} << 32) + file.size());  // sparse: takes no room
  FILE *f = platform_open_for_reading(path.c_str());
  ASSERT_NE(f, nullptr);
  uint32_t length = 0;
  uint32_t offset = 0;
  EXPECT_EQ(parse_bit_header(f, &length, &offset), BIT_MALFORMED);
  std::fclose(f);
}

TEST(ReverseBits, MirrorsEveryByte) {
  std::vector<uint8_t> bytes = {0x01, 0x12, 0xC0, 0xA5, 0x00, 0xFF, 0x80};
  reverse_bits(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x80, 0x48, 0x03, 0xA5, 0x00, 0xFF, 0x01}));
  for (unsigned b = 0; b < 256; ++b) {
    uint8_t byte = static_cast<uint8_t>(b);
    reverse_bits(&byte, 1);
    EXPECT_EQ(byte, test::reversed(static_cast<uint8_t>(b)));
  }
  uint8_t untouched = 0x01;
  reverse_bits(&untouched, 0);
  EXPECT_EQ(untouched, 0x01);
}

}  // namespace
