// sorvel.exe against a card-access library of the tests' own, which lays out
// its records from the maker's description and shares no header with the
// project: the values it wrote at their byte offsets must come out whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct probe_case {
  const char *name;
  const char *board;  // KORVAN_PROBE
  const char *address;
  std::vector<std::string> extraLog;
};
void PrintTo(const probe_case &c, std::ostream *os) { *os << c.name; }

class ProbeLibrary : public testing::TestWithParam<probe_case> {};

TEST_P(ProbeLibrary, RecordsAreReadAtTheirOffsetsAndTheRunStopsAtTheClock) {
  const probe_case &c = GetParam();
  test::scratch_dir dir;
  test::write_file(dir.file("x.bit"), test::bridge_bit(test::pattern(64)));
  const test::run_result r =
      test::run_program(PROBE_SORVEL_EXE, dir.path(), {"x.bit"}, "KORVAN_PROBE", c.board);
  EXPECT_EQ(r.status, test::FAILED_STATUS);
  EXPECT_EQ(r.out, std::string("Current Bridge revision: rev02\n"
                               "Current bridge build date: 31/03/2024 10:11:12 (0x07e8031f_0a0b0c00)\n"
                               "Control register local bus address: ") +
                       c.address + "\nFailed to set LCLK to 33.0MHz: the probe refuses the clock\n");
  std::vector<std::string> log = {
      "open_id 0",          "card_info 5a17", "space_info 5a17 1",          "read 5a17 2 2 78 4",
      "read 5a17 2 2 7c 4", "card_info 5a17", "clock 5a17 0 33000000 null", "close 5a17"};
  log.insert(log.end(), c.extraLog.begin(), c.extraLog.end());
  EXPECT_EQ(test::read_lines(dir.file("probe.log")), log);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, ProbeLibrary,
    testing::Values(probe_case{"halcyra_library_path", nullptr, "0x12345000", {}},
                    probe_case{"perinel_mapped_16MiB", "perinel", "0x12f45000", {"window untouched"}}),
    [](const testing::TestParamInfo<probe_case> &param_info) { return std::string(param_info.param.name); });

}  // namespace
