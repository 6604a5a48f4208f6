// The .bit header walk and the device check; the bit reversal and the
// loader are in every whole run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "bitstream/bitstream.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

using bytes = std::vector<uint8_t>;

const bytes DATA = {1, 2, 3, 4, 5, 6, 7};
const std::string PART = "2v1500fg676";

bit_record part(const std::string &name, bool withNul = true) { return {'b', bit_body(name, withNul)}; }
bit_record filler(char key, size_t length) { return {key, bytes(length, 'x')}; }

bytes first_field(uint16_t n) {  // a first field of n bytes
  bytes file = make_bit({part(PART)}, DATA);
  file.erase(file.begin(), file.begin() + 11);
  file.insert(file.begin(), n, 0x5A);
  file.insert(file.begin(), {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  return file;
}

bytes cut(bytes file, size_t keep) {
  file.resize(keep);
  return file;
}

bytes e_length(uint32_t n) {  // the "e" record declares n data bytes
  bytes file = make_bit({part(PART)}, DATA);
  for (int k = 0; k < 4; ++k)
    file[file.size() - DATA.size() - 1 - static_cast<size_t>(k)] = static_cast<uint8_t>(n >> 8 * k);
  return file;
}

const bytes GOOD =
    make_bit({{'a', bit_body("top")}, part(PART), {'c', bit_body("2019")}, {'d', bit_body("12")}}, DATA);

// The data is whatever follows the "e" record's length, to the end of the
// file, unless that length is more; on failure the out-parameters are
// untouched.
TEST(HeaderWalk, GivesTheStatusAndWhereTheDataIs) {
  const std::vector<std::tuple<const char *, bytes, korvan_status>> cases = {
      {"typical", GOOD, 0},
      {"upper_case_part", make_bit({part("2V1500FG676")}, DATA), 0},
      {"xc_prefix", make_bit({part("xc" + PART)}, DATA), BIT_WRONG_DEVICE},
      {"trailing_blank", make_bit({part(PART + " ")}, DATA), BIT_WRONG_DEVICE},
      {"nul_then_bytes", make_bit({{'b', bit_body(PART + '\0' + "zz", false)}}, DATA), 0},
      {"eleven_bytes_no_nul", make_bit({part(PART, false)}, DATA), 0},
      {"part_length_31", make_bit({filler('b', 31)}, DATA), BIT_WRONG_DEVICE},
      {"part_length_32", make_bit({filler('b', 32)}, DATA), BIT_MALFORMED},
      {"empty_part", make_bit({{'b', {}}}, DATA), BIT_WRONG_DEVICE},
      {"key_f", make_bit({{'f', bit_body("x")}}, DATA), BIT_MALFORMED},
      {"order_c_a_b_d", make_bit({{'c', {}}, {'a', {}}, part(PART), {'d', {}}}, DATA), 0},
      {"second_part_compared", make_bit({part(PART), part("2v3000fg676")}, DATA), BIT_WRONG_DEVICE},
      {"no_part", make_bit({{'a', bit_body("top")}}, DATA), 0},
      {"e_length_0", e_length(0), 0},
      {"e_length_smaller", e_length(1), 0},
      {"e_length_huge", e_length(0xFFFFFFFF), BIT_MALFORMED},
      {"e_length_straddles_the_window", make_bit({filler('a', 990), part(PART)}, DATA), 0},
      {"a_1000_across_refill", make_bit({filler('a', 1000), part(PART), filler('c', 900)}, DATA), 0},
      {"key_at_the_window_end", make_bit({filler('a', 1006), part(PART)}, DATA), 0},
      {"a_1009_one_byte_past_the_window", make_bit({filler('a', 1009), part(PART)}, DATA), 0},
      {"a_length_1021_fits", make_bit({filler('a', 1021), part(PART)}, DATA), 0},
      {"a_length_1022_too_long", make_bit({filler('a', 1022), part(PART)}, DATA), BIT_MALFORMED},
      {"first_field_5000", first_field(5000), 0},
      {"empty_file", {}, BIT_MALFORMED},
      {"ends_in_first_length", {0x00}, BIT_MALFORMED},
      {"ends_before_key", cut(GOOD, 13), BIT_MALFORMED},
      {"ends_in_record", cut(GOOD, 20), BIT_MALFORMED},
      {"ends_in_e_length", cut(GOOD, GOOD.size() - DATA.size() - 2), BIT_MALFORMED}};
  for (const auto &c : cases) {
    const bytes &file = std::get<1>(c);
    test::scratch_dir dir;
    test::write_file(dir.file("walk.bit"), file);
    FILE *f = platform_open_for_reading(dir.file("walk.bit").c_str());
    uint32_t length = 0xAAAA, offset = 0xBBBB;
    EXPECT_EQ(parse_bit_header(f, file.size(), "walk.bit", &length, &offset), std::get<2>(c))
        << std::get<0>(c);
    std::fclose(f);
    EXPECT_EQ(offset + length, std::get<2>(c) == 0 ? file.size() : 0xAAAAu + 0xBBBBu) << std::get<0>(c);
    EXPECT_TRUE(std::get<2>(c) != 0 || bytes(file.begin() + offset, file.end()) == DATA) << std::get<0>(c);
    if (std::get<2>(c) != 0) continue;
    // The loader's facts come from these same reads: the whole file's SHA-256 and the texts.
    uint8_t *loaded = nullptr;
    bit_facts facts;
    EXPECT_EQ(load_bit_file(dir.file("walk.bit").c_str(), &loaded, &length, &facts), 0) << std::get<0>(c);
    std::free(loaded);
    sha256_state whole;
    sha256_start(&whole);
    sha256_add(&whole, file.data(), file.size());
    EXPECT_EQ(facts.sha256, sha256_hex(&whole)) << std::get<0>(c);
    EXPECT_EQ(facts.fileBytes, file.size());
    const bool texts = facts.texts[0] == "top" && facts.texts[1] == PART && facts.texts[2] == "2019" &&
                       facts.texts[3] == "12";
    EXPECT_TRUE(file != GOOD || texts);
  }
}

// Sizes in 32 bits: a file of 4 GiB less a byte is walked, a larger one
// refused, not truncated. Sparse files: they take no room.
TEST(HeaderWalk, FileOver4GiBIsRefusedNotTruncated) {
  for (const uint64_t size : {uint64_t{0xFFFFFFFF}, (uint64_t{1} << 32) + GOOD.size()}) {
    test::scratch_dir dir;
    test::write_file(dir.file("huge.bit"), GOOD);
    std::filesystem::resize_file(dir.file("huge.bit"), size);
    FILE *f = platform_open_for_reading(dir.file("huge.bit").c_str());
    uint32_t length = 0, offset = 0;
    uint64_t measured = 0;
    EXPECT_EQ(measure_bit_file(f, &measured) == 0 &&
                      parse_bit_header(f, measured, "walk.bit", &length, &offset) == 0
                  ? uint64_t{offset} + length
                  : 0,
              size >> 32 ? 0 : size);
    std::fclose(f);
  }
}

// A file that grew after it was measured (one still being copied) is
// walked no further than the measured size: refused, never a length that
// wraps past it.
TEST(HeaderWalk, FileThatGrewSinceMeasuredIsReadNoFurther) {
  test::scratch_dir dir;
  test::write_file(dir.file("grown.bit"), GOOD);
  FILE *f = platform_open_for_reading(dir.file("grown.bit").c_str());
  uint32_t length = 0, offset = 0;
  EXPECT_EQ(parse_bit_header(f, 10, "grown.bit", &length, &offset), BIT_MALFORMED);
  std::fclose(f);
}

}  // namespace
