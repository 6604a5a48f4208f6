// The simulator's waveform: what a VCD reader sees of a short run, against
// the bus trace of the same run, and a round trip through FST.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using test::path;
using changes = std::map<std::string, std::vector<std::string>>;

// Each signal's changes by name (vectors as plain binary numbers), every
// timestamp in file order, and the last line.
struct vcd {
  changes signals;
  std::vector<unsigned long long> times;
  std::string tail;
};

vcd read_vcd(const std::string &file) {
  vcd out;
  std::map<std::string, std::string> names;  // by identifier
  for (const std::string &line : test::read_lines(file)) {
    std::istringstream words(line);
    std::string first, type, size, id, name;
    words >> first;
    out.tail = line;
    if (first == "$var" && words >> type >> size >> id >> name) {
      names[id] = name;
    } else if (!first.empty() && first[0] == '#') {
      out.times.push_back(std::stoull(first.substr(1)));
    } else if (!first.empty() && (first[0] == 'b' || first[0] == 's') && words >> id && names.count(id)) {
      std::string value = first.substr(1);
      if (first[0] == 'b') value = std::to_string(std::stoull(value, nullptr, 2));
      out.signals[names[id]].push_back(value);
    } else if (first.size() >= 2 && (first[0] == '0' || first[0] == '1') && names.count(first.substr(1))) {
      out.signals[names[first.substr(1)]].push_back(first.substr(0, 1));
    }
  }
  return out;
}

// The values written to a register as the trace shows them, from 0, each
// change once (masked: the bit as 0 or 1).
std::vector<std::string> written(const std::vector<std::string> &trace, const std::string &prefix,
                                 unsigned mask) {
  std::vector<std::string> values = {"0"};
  for (const std::string &line : trace) {
    if (line.rfind(prefix, 0) != 0) continue;
    const unsigned value = std::stoul(line.substr(prefix.size()), nullptr, 16) & mask;
    const std::string shown = std::to_string(mask == 0x10 ? value >> 4 : value);
    if (shown != values.back()) values.push_back(shown);
  }
  return values;
}

struct wave_run {
  test::scratch_dir dir;
  test::run_result result;
  wave_run(path p, const std::string &keys) {
    test::write_file(dir.file("b.bit"), test::bridge_bit(test::pattern(8)));
    test::write_text(dir.file("card.ini"), "[card]\nbusy_reads = 2\ntrace = t.txt\nwaveform = w.vcd\n" +
                                               test::window_line(p) + keys);
    result = test::run_sorvel(dir.path(), {"b.bit"}, "card.ini");
  }
};

class Waveform : public testing::TestWithParam<path> {};

TEST_P(Waveform, RegistersStrobeAndFlashStateFollowTheTrace) {
  wave_run run(GetParam(), "");
  ASSERT_EQ(run.result.status, 0);
  const vcd wave = read_vcd(run.dir.file("w.vcd"));
  const std::vector<std::string> trace = test::read_lines(run.dir.file("t.txt"));
  const std::string w = GetParam() == path::mapped ? "W map " : "W lib ";
  EXPECT_EQ(wave.signals.at("flash_ctrl"), written(trace, w + "1e ", 0xFFFF));
  EXPECT_EQ(wave.signals.at("strobe_n"), written(trace, w + "1e ", 0x10));
  EXPECT_EQ(wave.signals.at("flash_data"), written(trace, w + "1c ", 0xFFFF));
  for (size_t k = 1; k < wave.times.size(); ++k)
    ASSERT_LT(wave.times[k - 1], wave.times[k]) << k;
  // The identifier, 64 erases and 24 programs, each busy for two status
  // reads, and read array for the read-back.
  std::vector<std::string> modes = {"read_array", "identifier"};
  for (int k = 0; k < 64 + 24; ++k)
    modes.insert(modes.end(), {k < 64 ? "erase_setup" : "program_setup", "busy", "status"});
  modes.push_back("read_array");
  EXPECT_EQ(wave.signals.at("flash_mode"), modes);
  EXPECT_EQ(wave.signals.at("enabled"), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(wave.signals.at("flash_status").front(), "128");
}

INSTANTIATE_TEST_SUITE_P(Paths, Waveform, testing::Values(path::library, path::mapped));

// Cut as the 20th byte program begins, on the falling edge of its write
// cycle: the file holds every change up to the write before, whole lines.
TEST(Waveform, PowerCutKeepsTheFileUpToTheCut) {
  wave_run run(path::library, "crash = program:20\n");
  EXPECT_NE(run.result.status, 0);
  const std::string text = test::read_text(run.dir.file("w.vcd"));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const vcd wave = read_vcd(run.dir.file("w.vcd"));
  EXPECT_EQ(wave.signals.at("flash_ctrl").back(), "20");  // 0x14, before 0x04
  EXPECT_EQ(wave.signals.at("flash_mode").back(), "program_setup");
}

#if !defined(_WIN32)
// A reader of the format: the file converted to FST and back holds every
// change of every signal at the same times; the size guard ends it cleanly.
TEST(Waveform, RoundTripThroughFstKeepsEveryChange) {
  wave_run run(path::library, "waveform_limit = 2000\n");
  const std::string vcdFile = run.dir.file("w.vcd");
  const std::string fstFile = run.dir.file("w.fst");
  const std::string back = run.dir.file("back.vcd");
  ASSERT_EQ(std::system(("vcd2fst -v '" + vcdFile + "' -f '" + fstFile + "' >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system(("fst2vcd -f '" + fstFile + "' -o '" + back + "'").c_str()), 0);
  const vcd original = read_vcd(vcdFile);
  const vcd converted = read_vcd(back);
  EXPECT_EQ(original.tail, "$comment recording stopped after 2000 accesses $end");
  EXPECT_EQ(original.signals.size(), 9u);
  EXPECT_EQ(converted.signals, original.signals);
  EXPECT_EQ(converted.times, original.times);
  EXPECT_GT(original.times.size(), 1000u);
}
#endif

}  // namespace
