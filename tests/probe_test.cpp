// sorvel.exe against a card-access library of the tests' own, which lays out
// its records from the maker's description and shares no header with the
// project: the values it wrote at their byte offsets must come out whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

TEST(ProbeLibrary, RecordsAreReadAtTheirOffsetsAndTheRunStopsAtTheClock) {
  test::scratch_dir dir;
  test::write_file(dir.file("x.bit"), test::bridge_bit(test::pattern(64)));
  const test::run_result r =
      test::run_program(test::utility_in(dir, LIBRARY_DIR "/probe"), dir.path(), {"x.bit"}, nullptr, nullptr);
  EXPECT_EQ(r.status, test::FAILED_STATUS);
  EXPECT_EQ(r.out,
            "Current Bridge revision: rev02\n"
            "Current bridge build date: 31/03/2024 10:11:12 (0x07e8031f_0a0b0c00)\n"
            "Control register local bus address: 0x12345000\n"
            "Failed to set LCLK to 33.0MHz: the probe refuses the clock\n");
  EXPECT_EQ(test::read_lines(dir.file("probe.log")),
            (std::vector<std::string>{"open_id 0", "card_info 5a17", "space_info 5a17 1",
                                      "read 5a17 2 2 78 4", "read 5a17 2 2 7c 4", "card_info 5a17",
                                      "clock 5a17 0 33000000 null", "close 5a17"}));
}

}  // namespace
