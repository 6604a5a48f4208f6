// Faults in a full run: every library call kind failing in turn, and Flash
// faults, on both register paths. Whatever fails, the card is closed, the
// Flash is not written before every check has passed, the .bit file is
// unchanged, and the exit status and lines are the ones given here.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using test::path;

using test::CHECKS;
using test::ERASED;
using test::IDS;
const std::string PROGRAMMED = "Programming Flash...\n\n";
const std::string VERIFYING = "Verifying Flash...\n";
const std::string GOOD_RUN = CHECKS + IDS + ERASED + PROGRAMMED + VERIFYING + "\n";

// Eight data bytes, none of them 0x00 once reversed.
const std::vector<uint8_t> DATA = {0x81, 0x42, 0x24, 0x18, 0xFF, 0x7E, 0x3C, 0x01};

// Test names: the path, then the case.
template <typename Case>
std::string case_name(const testing::TestParamInfo<std::tuple<path, Case>> &param_info) {
  return std::string(std::get<0>(param_info.param) == path::mapped ? "mapped_" : "library_") +
         std::get<1>(param_info.param).name;
}

struct outcome {
  test::run_result result;
  std::vector<std::string> trace;
  uint64_t closes;
  std::vector<uint8_t> bitBefore;
  std::vector<uint8_t> bitAfter;
};

// A run of the 8-byte file; traced unless the Flash is made to hang (20 s
// of status reads would make a trace of gigabytes).
outcome run(path p, const std::string &keys, bool traced = true) {
  test::scratch_dir dir;
  const std::vector<uint8_t> bit = test::bridge_bit(DATA);
  test::write_file(dir.file("b.bit"), bit);
  test::write_text(dir.file("card.ini"), "[card]\nstats = stats.txt\n" + test::window_line(p) +
                                             (traced ? "trace = trace.txt\n" : "") + keys);
  outcome o;
  o.result = test::run_sorvel(dir.path(), {"b.bit"}, "card.ini");
  o.trace = test::read_lines(dir.file("trace.txt"));
  o.closes = test::stat_value(dir.file("stats.txt"), "calls_close");
  o.bitBefore = bit;
  o.bitAfter = test::read_file(dir.file("b.bit"));
  return o;
}

// Register calls of a clean run, per path: the numbers that "first",
// "middle" and "last" refer to.
uint64_t clean_count(path p, const char *kind) {
  static std::map<std::pair<path, std::string>, uint64_t> counts;
  auto key = std::make_pair(p, std::string(kind));
  if (counts.count(key) == 0) {
    outcome o = run(p, "");
    EXPECT_EQ(o.result.out, GOOD_RUN);
    uint64_t n = 0;
    for (const std::string &line : o.trace)
      if (line.compare(0, 5, std::string(kind[0] == 'r' ? "R lib" : "W lib")) == 0) ++n;
    counts[key] = n;
  }
  return counts[key];
}

void expect_safe(const outcome &o, bool opened) {
  EXPECT_EQ(o.result.err, "");
  EXPECT_EQ(o.bitAfter, o.bitBefore);
  ASSERT_FALSE(o.trace.empty());
  if (opened) {
    EXPECT_EQ(o.trace.back(), "call close -> 0");
  }
  bool checksPassed = false;
  for (const std::string &line : o.trace) {
    if (line == "call clock 0 33000000 -> 0") checksPassed = true;
    if (!checksPassed) {
      EXPECT_NE(line[0], 'W') << "a register write before every check passed: " << line;
    }
  }
}

// What a run gives, on the library path and on the mapped path (where the
// only register calls are the two build-word reads).
struct ending {
  bool failed;
  std::string out;
};

struct call_fault {
  const char *name;
  std::string rule;  // fail = ...; "read" and "write" take first, middle or last
  const char *which;
  ending library;
  ending mapped;
};
void PrintTo(const call_fault &c, std::ostream *os) { *os << c.name; }

class CallFaults : public testing::TestWithParam<std::tuple<path, call_fault>> {};

std::string rule_for(path p, const call_fault &c) {
  if (c.which == nullptr) return c.rule;
  const uint64_t n = clean_count(p, c.rule == "read" ? "read" : "write");
  const std::string which = c.which;
  const uint64_t nth = which == "first" ? 1 : which == "last" ? n : (n + 1) / 2;
  return c.rule + ":" + std::to_string(nth == 0 ? 1 : nth);
}

TEST_P(CallFaults, FailCleanly) {
  const path p = std::get<0>(GetParam());
  const call_fault &c = std::get<1>(GetParam());
  outcome o = run(p, "fail = " + rule_for(p, c) + "\n");
  expect_safe(o, c.rule != "open");
  const ending &e = p == path::mapped ? c.mapped : c.library;
  EXPECT_EQ(o.result.status, e.failed ? test::FAILED_STATUS : 0);
  EXPECT_EQ(o.result.out, e.out);
}

const std::string NO_TIME = "Current bridge build date: 28/06/2019 00:00:00 (0x07e3061c_00000000)\n";
const std::string NO_DATE = "Current bridge build date: 00/00/0000 09:05:07 (0x00000000_09050700)\n";
const std::string AFTER_DATE =
    "Control register local bus address: 0x0\n" + IDS + ERASED + PROGRAMMED + VERIFYING;
const ending GOOD{false, GOOD_RUN};

ending failing(const std::string &out) { return {true, out}; }

// A fault that ends the same way on both paths.
call_fault on_both(const char *name, const std::string &rule, const ending &e) {
  return {name, rule, nullptr, e, e};
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CallFaults,
    testing::Combine(
        testing::Values(path::library, path::mapped),
        testing::Values(
            on_both("open", "open", failing("*** Failed to open card with ID 0: injected failure\n")),
            on_both("card_info_first", "card_info:1",
                    failing("*** Failed to get card info: injected failure\n")),
            on_both("card_info_second", "card_info:2",
                    failing(CHECKS + "*** Failed to load bitstream b.bit: injected failure\n")),
            on_both("space_info", "space_info", failing("*** Failed to get card info: injected failure\n")),
            on_both("clock", "clock", failing(CHECKS + "Failed to set LCLK to 33.0MHz: injected failure\n")),
            // The build words' statuses are not examined: the word stays 0.
            call_fault{"read_first",
                       "read",
                       "first",
                       {false, "Current Bridge revision: rev02\n" + NO_TIME + AFTER_DATE + "\n"},
                       {false, "Current Bridge revision: rev02\n" + NO_TIME + AFTER_DATE + "\n"}},
            // A status read that fails reads as busy: the poll reads again.
            call_fault{"read_middle",
                       "read",
                       "middle",
                       GOOD,
                       {false, "Current Bridge revision: rev02\n" + NO_TIME + AFTER_DATE + "\n"}},
            // The last byte read back: a difference, and the run fails.
            call_fault{
                "read_last",
                "read",
                "last",
                failing(
                    CHECKS + IDS + ERASED + PROGRAMMED + VERIFYING +
                    "*** expected 0x80 actual 0x00 index 0x17\n\n*** Verify failed: 1 of 24 bytes differ\n"),
                {false, "Current Bridge revision: rev02\n" + NO_DATE + AFTER_DATE + "\n"}},
            // The interface reset never reaches the bridge: no Flash answers.
            call_fault{"write_first", "write", "first",
                       failing(CHECKS + "Vendor ID = ff, Device ID = ff\nLock bit = ff\n"
                                        "*** Unrecognised vendor/device ID for Flash\n"),
                       GOOD},
            call_fault{"write_middle", "write", "middle", GOOD, GOOD},
            call_fault{"write_last", "write", "last", GOOD, GOOD})),
    case_name<call_fault>);

struct flash_fault {
  const char *name;
  std::string keys;
  bool traced;
  ending e;
};
void PrintTo(const flash_fault &f, std::ostream *os) { *os << f.name; }

class FlashFaults : public testing::TestWithParam<std::tuple<path, flash_fault>> {};

TEST_P(FlashFaults, GiveTheirLinesAndStatus) {
  const path p = std::get<0>(GetParam());
  const flash_fault &f = std::get<1>(GetParam());
  outcome o = run(p, f.keys, f.traced);
  if (f.traced) expect_safe(o, true);
  EXPECT_EQ(o.closes, 1u);
  EXPECT_EQ(o.bitAfter, o.bitBefore);
  EXPECT_EQ(o.result.err, "");
  EXPECT_EQ(o.result.status, f.e.failed ? test::FAILED_STATUS : 0);
  EXPECT_EQ(o.result.out, f.e.out);
}

std::string locked_verify() {
  std::string lines;
  char line[64];
  for (unsigned k = 0; k < 16; ++k) {
    std::snprintf(line, sizeof line, "*** expected 0xff actual 0x00 index 0x%x\n", k);
    lines += line;
  }
  for (unsigned k = 0; k < DATA.size(); ++k) {
    std::snprintf(line, sizeof line, "*** expected 0x%02x actual 0x00 index 0x%x\n", test::reversed(DATA[k]),
                  16 + k);
    lines += line;
  }
  return lines;
}

const std::string TIMED_OUT = "\n*** Timed out waiting for the Flash to become ready (status 0x00)\n";

INSTANTIATE_TEST_SUITE_P(
    Flash, FlashFaults,
    testing::Combine(
        testing::Values(path::library, path::mapped),
        testing::Values(flash_fault{"weak_byte", "weak = 0x13\n", true,
                                    failing(CHECKS + IDS + ERASED + PROGRAMMED + VERIFYING +
                                            "*** expected 0x18 actual 0xff index 0x13\n\n"
                                            "*** Verify failed: 1 of 24 bytes differ\n")},
                        // Erase and program fail on a locked Flash; only the read-back tells.
                        flash_fault{"locked", "flash_lock = 1\n", true,
                                    failing(CHECKS + "Vendor ID = 89, Device ID = 17\nLock bit = 1\n" +
                                            ERASED + PROGRAMMED + VERIFYING + locked_verify() +
                                            "\n*** Verify failed: 24 of 24 bytes differ\n")},
                        flash_fault{"stuck_in_erase", "stuck = erase\n", false,
                                    failing(CHECKS + IDS + "Erasing Flash...\n" + TIMED_OUT)},
                        flash_fault{"stuck_in_program", "stuck = program\n", false,
                                    failing(CHECKS + IDS + ERASED + "Programming Flash...\n" + TIMED_OUT)},
                        flash_fault{"slow", "busy_reads = 50\n", false, GOOD})),
    case_name<flash_fault>);

}  // namespace
