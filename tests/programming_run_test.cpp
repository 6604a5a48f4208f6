// Whole programming runs: load, clock, identification, erase, program,
// verify; their failures; and the Flash image they leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using test::CHECKS;
using test::ERASED;
using test::IDS;

std::string dots(size_t n) { return std::string(n / 256, '.') + "\n"; }

std::string full_run(size_t n) {
  return CHECKS + IDS + ERASED + "Programming Flash...\n" + dots(n) + "Verifying Flash...\n" + dots(n);
}

// The Flash after a good run: lead-in, the reversed data, erased blocks.
void expect_image(const std::vector<uint8_t> &image, const std::vector<uint8_t> &data) {
  ASSERT_EQ(image.size(), 64u * 0x20000u);
  for (size_t k = 0; k < 16; ++k)
    ASSERT_EQ(image[k], 0xFF) << k;
  for (size_t k = 0; k < data.size(); ++k)
    ASSERT_EQ(image[16 + k], test::reversed(data[k])) << k;
  for (size_t k = 16 + data.size(); k < image.size(); ++k)
    ASSERT_EQ(image[k], 0xFF) << k;
}

struct run_fixture {
  test::scratch_dir dir;
  std::vector<uint8_t> data;
  explicit run_fixture(const std::string &keys, size_t n = 600) : data(test::pattern(n, 7)) {
    test::write_file(dir.file("b.bit"), test::bridge_bit(data));
    test::write_text(dir.file("card.ini"),
                     "[card]\nflash_image = flash.bin\ntrace = trace.txt\nstats = stats.txt\n" + keys);
  }
  test::run_result run(const std::vector<std::string> &args = {"b.bit"}) {
    return test::run_sorvel(dir.path(), args, "card.ini");
  }
  std::vector<std::string> trace() { return test::read_lines(dir.file("trace.txt")); }
  uint64_t stat(const std::string &name) { return test::stat_value(dir.file("stats.txt"), name); }
};

TEST(ProgrammingRun, LibraryPathProgramsTheReversedData) {
  run_fixture f("");
  test::run_result r = f.run();
  EXPECT_EQ(r.out, full_run(600));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  expect_image(test::read_file(f.dir.file("flash.bin")), f.data);
  std::vector<std::string> trace = f.trace();
  EXPECT_EQ(trace.front(), "call open_id 0 -> 0");
  EXPECT_EQ(trace[5], "call card_info -> 0");
  EXPECT_EQ(trace[6], "call clock 0 33000000 -> 0");
  EXPECT_EQ(trace.back(), "call close -> 0");
  EXPECT_TRUE(test::lines_starting(trace, "W map").empty());
  EXPECT_EQ(f.stat("bytes_programmed"), 616u);
  EXPECT_EQ(f.stat("pulses_bad"), 0u);
}

TEST(ProgrammingRun, MappedPathProgramsTheReversedData) {
  run_fixture f("window = full\nbusy_reads = 0\n", 40);
  test::run_result r = f.run();
  EXPECT_EQ(r.out, full_run(40));
  EXPECT_EQ(r.status, 0);
  expect_image(test::read_file(f.dir.file("flash.bin")), f.data);
  EXPECT_TRUE(test::lines_starting(f.trace(), "W lib").empty());
  // Set-up, identification, 64 blocks of 77, 65 accesses a programmed byte
  // and 25 a byte read back, each store with its read-back.
  EXPECT_EQ(f.stat("writes_map") + f.stat("reads_map"),
            50 + 113 + 12 + 64 * 77 + 12 + 56 * 65 + 38 + 56 * 25);
}

TEST(ProgrammingRun, ShortWindowTakesTheLibraryPath) {
  run_fixture f("window = short\n", 10);
  EXPECT_EQ(f.run().out, full_run(10));
  EXPECT_TRUE(test::lines_starting(f.trace(), "W map").empty());
  EXPECT_FALSE(test::lines_starting(f.trace(), "W lib 1e").empty());
}

TEST(ProgrammingRun, ReadOnlyBitFileIsProgrammed) {
  run_fixture f("", 300);
  std::filesystem::permissions(f.dir.file("b.bit"), std::filesystem::perms::owner_read);
  const std::vector<uint8_t> before = test::read_file(f.dir.file("b.bit"));
  test::run_result r = f.run();
  EXPECT_EQ(r.out, full_run(300));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(test::read_file(f.dir.file("b.bit")), before);
}

TEST(ProgrammingRun, SampleBitstream) {
  test::scratch_dir dir;
  std::filesystem::copy_file(test::host_path(SAMPLE_BIT), dir.file("sample.bit"));
  test::write_text(dir.file("card.ini"), "[card]\nflash_image = flash.bin\n");
  test::run_result r = test::run_sorvel(dir.path(), {"sample.bit"}, "card.ini");
  EXPECT_EQ(r.out, full_run(707916));
  EXPECT_EQ(r.status, 0);
  const std::vector<uint8_t> file = test::read_file(dir.file("sample.bit"));
  ASSERT_GT(file.size(), 707916u);
  const std::vector<uint8_t> data(file.end() - 707916, file.end());
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 8),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66}));
  expect_image(test::read_file(dir.file("flash.bin")), data);
}

struct failure_case {
  const char *name;
  std::string keys;
  std::vector<uint8_t> file;
  std::string out;    // after the card check lines
  bool flashTouched;  // any Flash register traffic at all
};
void PrintTo(const failure_case &c, std::ostream *os) { *os << c.name; }

class RunFailures : public testing::TestWithParam<failure_case> {};

TEST_P(RunFailures, PrintTheLineAndExitWithFailure) {
  const failure_case &c = GetParam();
  run_fixture f(c.keys);
  if (!c.file.empty()) test::write_file(f.dir.file("b.bit"), c.file);
  test::run_result r =
      f.run(c.file.empty() ? std::vector<std::string>{"missing.bit"} : std::vector<std::string>{"b.bit"});
  EXPECT_EQ(r.out, CHECKS + c.out);
  EXPECT_EQ(r.status, test::FAILED_STATUS);
  std::vector<std::string> trace = f.trace();
  EXPECT_EQ(trace.back(), "call close -> 0");
  EXPECT_EQ(test::lines_starting(trace, "W lib 1c").empty(), !c.flashTouched);
  EXPECT_TRUE(test::lines_starting(trace, "W lib 1c 20").empty() ||
              c.out.find("Erasing") != std::string::npos);
}

std::vector<uint8_t> ends_behind_length() { return test::bridge_bit({}); }

INSTANTIATE_TEST_SUITE_P(
    Cases, RunFailures,
    testing::Values(
        failure_case{
            "bit_file_missing",
            "",
            {},
            "file missing.bit not found\n*** Failed to load bitstream missing.bit: file cannot be opened\n",
            false},
        failure_case{"other_device", "", test::make_bit({{'b', test::bit_body("2v3000fg676")}}, {1, 2}),
                     "*** Failed to load bitstream b.bit: file is built for another device\n", false},
        failure_case{"no_data", "", ends_behind_length(),
                     "*** Failed to load bitstream b.bit: file is unreadable or malformed\n", false},
        failure_case{
            "vendor_ff", "flash_vendor = 0xff\n", test::bridge_bit({1}),
            "Vendor ID = ff, Device ID = 17\nLock bit = 0\n*** Unrecognised vendor/device ID for Flash\n",
            true},
        failure_case{
            "device_ff", "flash_vendor = 0x89\nflash_device = 0xff\nflash_lock = 1\n", test::bridge_bit({1}),
            "Vendor ID = 89, Device ID = ff\nLock bit = 1\n*** Unrecognised vendor/device ID for Flash\n",
            true}),
    [](const testing::TestParamInfo<failure_case> &param_info) {
      return std::string(param_info.param.name);
    });

// The largest bitstream that fits behind the lead-in in the 64 erased
// blocks is programmed; one byte more is refused before the clock is set.
TEST(ProgrammingRun, BitstreamLimitIsTheErasedBlocksLessTheLeadIn) {
  constexpr size_t LARGEST = 64 * 0x20000 - 16;
  run_fixture f("trace = none\n", LARGEST);
  test::run_result r = f.run();
  EXPECT_EQ(r.out, full_run(LARGEST));
  EXPECT_EQ(r.status, 0);
  expect_image(test::read_file(f.dir.file("flash.bin")), f.data);

  run_fixture over("", LARGEST + 1);
  r = over.run();
  EXPECT_EQ(r.out,
            CHECKS + "*** Bitstream of 8388593 bytes does not fit in the Flash (at most 8388592 bytes)\n");
  EXPECT_EQ(r.status, test::FAILED_STATUS);
  const std::vector<std::string> trace = over.trace();
  EXPECT_TRUE(test::lines_starting(trace, "call clock").empty());
  EXPECT_TRUE(test::lines_starting(trace, "W ").empty());
  EXPECT_EQ(trace.back(), "call close -> 0");
  EXPECT_EQ(test::read_file(over.dir.file("flash.bin")), std::vector<uint8_t>(64 * 0x20000, 0x00));
}

// The first difference of two images, or -1.
long first_difference(const std::vector<uint8_t> &actual, const std::vector<uint8_t> &expected) {
  if (actual.size() != expected.size()) return 0;
  for (size_t k = 0; k < actual.size(); ++k)
    if (actual[k] != expected[k]) return static_cast<long>(k);
  return -1;
}

struct crash_case {
  const char *name;
  test::path path;
  const char *crash;
  const char *lastTraceLine;  // where the power went
  // The image after the crash, from the image before the run and the data.
  std::vector<uint8_t> (*after)(std::vector<uint8_t> image, const std::vector<uint8_t> &data);
};
void PrintTo(const crash_case &c, std::ostream *os) { *os << c.name; }

constexpr size_t CRASH_DATA = 40;

// Cut as the 37th byte program begins: the lead-in and 20 data bytes are in.
std::vector<uint8_t> twenty_bytes_programmed(std::vector<uint8_t> image, const std::vector<uint8_t> &data) {
  image.assign(image.size(), 0xFF);
  for (size_t k = 0; k < 20; ++k)
    image[16 + k] = test::reversed(data[k]);
  return image;
}

// Cut as the third block erase begins: two blocks are erased.
std::vector<uint8_t> two_blocks_erased(std::vector<uint8_t> image, const std::vector<uint8_t> &) {
  std::fill(image.begin(), image.begin() + 2 * 0x20000, 0xFF);
  return image;
}

class PowerCut : public testing::TestWithParam<crash_case> {};

TEST_P(PowerCut, ImageKeepsWhatWasDoneAndACleanRunMendsIt) {
  const crash_case &c = GetParam();
  run_fixture f(test::window_line(c.path) + "busy_reads = 0\ncrash = " + c.crash + "\n", CRASH_DATA);
  const std::vector<uint8_t> before = test::pattern(64 * 0x20000, 3);
  test::write_file(f.dir.file("flash.bin"), before);
  const test::run_result cut = f.run();
  EXPECT_NE(cut.status, 0);
  EXPECT_NE(cut.status, test::FAILED_STATUS);
  EXPECT_EQ(f.trace().back(), c.lastTraceLine);
  EXPECT_FALSE(std::filesystem::exists(f.dir.file("stats.txt")));  // no close
  EXPECT_EQ(first_difference(test::read_file(f.dir.file("flash.bin")), c.after(before, f.data)), -1);

  test::write_text(f.dir.file("card.ini"),
                   "[card]\nflash_image = flash.bin\nbusy_reads = 0\n" + test::window_line(c.path));
  const test::run_result clean = f.run();
  EXPECT_EQ(clean.out, full_run(CRASH_DATA));
  EXPECT_EQ(clean.status, 0);
  expect_image(test::read_file(f.dir.file("flash.bin")), f.data);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PowerCut,
    testing::Values(
        crash_case{"library_program", test::path::library, "program:37", "W lib 1e 4",
                   twenty_bytes_programmed},
        crash_case{"mapped_program", test::path::mapped, "program:37", "W map 1e 4", twenty_bytes_programmed},
        crash_case{"library_erase", test::path::library, "erase:3", "W lib 1e 4", two_blocks_erased},
        crash_case{"mapped_erase", test::path::mapped, "erase:3", "W map 1e 4", two_blocks_erased}),
    [](const testing::TestParamInfo<crash_case> &param_info) { return std::string(param_info.param.name); });

TEST(ProgrammingRun, OtherIdentityIsShownAndAccepted) {
  run_fixture f("flash_device = 0x16\n", 1);
  EXPECT_EQ(f.run().out.substr(CHECKS.size(), 31), "Vendor ID = 89, Device ID = 16\n");
}

}  // namespace
