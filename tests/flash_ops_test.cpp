// The Flash port and the Flash sequences against the simulated card, on
// both register paths, checked against the bus trace.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/flash_port.h"
#include "test_support.h"

namespace {

constexpr uint32_t LOCAL_BASE = 0x10000;

using test::path;

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

// An open simulated card whose trace holds only what the test did.
class card_session {
 public:
  card_session(path p, const std::string &extraKeys = "") : path_(p) {
    trace_ = dir_.file("trace.txt");
    stats_ = dir_.file("stats.txt");
    test::write_text(dir_.file("card.ini"), "[card]\nbusy_reads = 0\nlocal_base = 0x" + hex(LOCAL_BASE) +
                                                "\n" + test::window_line(p) + "trace = " + trace_ +
                                                "\nstats = " + stats_ + "\n" + extraKeys);
    test::set_env("KORVAN_SIM", dir_.file("card.ini").c_str());
    EXPECT_EQ(KORVAN2_OpenCard(0, &g_card), 0u);
    test::set_env("KORVAN_SIM", nullptr);
    space_info space{};
    EXPECT_EQ(KORVAN2_GetSpaceInfo(g_card, 1, &space), 0u);
    g_ctrl_regs = p == path::mapped ? static_cast<volatile uint16_t *>(space.VirtualBase) : nullptr;
    g_ctrl_local_addr = space.LocalBase;
    EXPECT_EQ(p == path::mapped, g_ctrl_regs != nullptr);
    start_ = static_cast<size_t>(-1);
  }
  ~card_session() { close(); }

  // Marks where the test's own traffic begins.
  void start() {
    std::fflush(nullptr);
    start_ = test::read_lines(trace_).size();
  }

  // The register lines since start(), the card closed.
  std::vector<std::string> traffic() {
    close();
    std::vector<std::string> lines = test::read_lines(trace_);
    std::vector<std::string> regs;
    for (size_t k = start_ == static_cast<size_t>(-1) ? 0 : start_; k < lines.size(); ++k)
      if (lines[k].rfind("call", 0) != 0) regs.push_back(lines[k]);
    return regs;
  }

  uint64_t stat(const std::string &name) {
    close();
    return test::stat_value(stats_, name);
  }

  // Expected lines, in the port's notation.
  void ctrl(uint32_t code) {
    for (uint32_t v : {code | 0x10u, code & 0xEFu, code | 0x10u})
      store(FLASH_CTRL_REG, v);
  }
  void data(uint32_t value) { store(FLASH_DATA_REG, value); }
  void read() { expected_.push_back(line('R', FLASH_DATA_REG, "*")); }
  void status_read() {
    ctrl(0x95);
    read();
    ctrl(0x90);
  }
  void write_cycle() {
    ctrl(0x10);
    ctrl(0x14);
    ctrl(0x10);
  }
  const std::vector<std::string> &expected() const { return expected_; }

 private:
  std::string line(char rw, uint32_t reg, const std::string &value) const {
    return std::string(1, rw) + (path_ == path::mapped ? " map " : " lib ") + hex(LOCAL_BASE + reg) + " " +
           value;
  }
  void store(uint32_t reg, uint32_t value) {
    expected_.push_back(line('W', reg, hex(value)));
    if (path_ == path::mapped) expected_.push_back(line('R', reg, "*"));
  }
  void close() {
    if (g_card != 0) KORVAN2_CloseCard(g_card);
    g_card = 0;
    g_ctrl_regs = nullptr;
  }

  path path_;
  test::scratch_dir dir_;
  std::string trace_;
  std::string stats_;
  size_t start_;
  std::vector<std::string> expected_;
};

// Lines equal, a value of "*" matching any value.
void expect_traffic(const std::vector<std::string> &actual, const std::vector<std::string> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t k = 0; k < actual.size(); ++k) {
    const std::string &e = expected[k];
    if (e.size() > 1 && e.compare(e.size() - 2, 2, " *") == 0)
      EXPECT_EQ(actual[k].substr(0, e.size() - 1), e.substr(0, e.size() - 1)) << "line " << k;
    else
      EXPECT_EQ(actual[k], e) << "line " << k;
  }
}

class FlashPort : public testing::TestWithParam<path> {};

TEST_P(FlashPort, StrobePulses) {
  card_session s(GetParam());
  s.start();
  EXPECT_EQ(flash_ctrl(0x90), 0u);
  EXPECT_EQ(flash_ctrl(0x8C), 0u);
  EXPECT_EQ(flash_write_data(0xD0), 0u);
  s.ctrl(0x90);
  s.ctrl(0x8C);
  s.data(0xD0);
  expect_traffic(s.traffic(), s.expected());
}

TEST_P(FlashPort, ReadReturnsTheLowByteOfWhatTheBridgePresents) {
  card_session s(GetParam());
  flash_setup();
  flash_ctrl(0x97);
  flash_write_data(0x90);
  flash_ctrl(0x14);
  flash_ctrl(0x95);
  EXPECT_EQ(flash_read_data(), 0x89);
}

TEST(FlashPortLibrary, PulseStopsAtTheFirstFailedWrite) {
  struct failing_case {
    const char *fail;
    std::vector<std::string> lines;
  };
  for (const failing_case &c :
       {failing_case{"write:1", {"W lib 1001e 95 -> 2002"}},
        failing_case{"write:3", {"W lib 1001e 95", "W lib 1001e 85", "W lib 1001e 95 -> 2002"}}}) {
    card_session s(path::library, std::string("fail = ") + c.fail + "\n");
    s.start();
    EXPECT_EQ(flash_ctrl(0x95), 0x2002u) << c.fail;
    EXPECT_EQ(s.traffic(), c.lines);
  }
}

TEST(FlashPortLibrary, FailedReadLeavesTheBufferAndIsTracedWithItsStatus) {
  card_session s(path::library, "fail = read:1\n");
  s.start();
  EXPECT_EQ(flash_read_data(), 0x00);  // the port's buffer as it was
  EXPECT_EQ(flash_read_data(), 0xFF);
  EXPECT_EQ(s.traffic(), (std::vector<std::string>{"R lib 1001c ff -> 2002", "R lib 1001c ff"}));
}

TEST_P(FlashPort, ProgrammedByteIsThirteenPortCalls) {
  card_session s(GetParam());
  flash_setup();
  s.start();
  uint8_t status = 0;
  EXPECT_EQ(flash_program_byte(0xAB, 1000, &status), flash_result::ok);
  EXPECT_EQ(status, 0x80);
  s.data(0x40);
  s.write_cycle();
  s.data(0xAB);
  s.ctrl(0x14);
  s.ctrl(0x10);
  s.ctrl(0x90);
  s.status_read();
  s.ctrl(0x91);
  s.ctrl(0x90);
  expect_traffic(s.traffic(), s.expected());
}

TEST_P(FlashPort, ReadBackByteIsFivePortCalls) {
  card_session s(GetParam());
  s.start();
  flash_read_byte();
  s.ctrl(0x95);
  s.read();
  s.ctrl(0x90);
  s.ctrl(0x91);
  s.ctrl(0x90);
  expect_traffic(s.traffic(), s.expected());
}

TEST_P(FlashPort, SetupAndIdentification) {
  card_session s(GetParam(), "flash_vendor = 0x89\nflash_device = 0x16\n");
  s.start();
  flash_setup();
  uint16_t vendor = 0, device = 0, lock = 0xFFFF;
  flash_read_id(&vendor, &device, &lock);
  EXPECT_EQ(vendor, 0x89);
  EXPECT_EQ(device, 0x16);
  EXPECT_EQ(lock, 0x00);
  s.ctrl(0x9F);
  s.data(0x00);
  for (uint32_t code : {0x90, 0x8C, 0x90, 0x97, 0x90, 0x93, 0x90, 0x97, 0x90})
    s.ctrl(code);
  s.data(0x90);
  s.write_cycle();
  s.ctrl(0x90);
  for (int value = 0; value < 3; ++value) {
    s.ctrl(0x95);
    s.read();
    if (value < 2)
      for (uint32_t code : {0x91, 0x90, 0x91, 0x90})
        s.ctrl(code);
  }
  s.ctrl(0x90);
  expect_traffic(s.traffic(), s.expected());
}

INSTANTIATE_TEST_SUITE_P(Paths, FlashPort, testing::Values(path::library, path::mapped),
                         [](const testing::TestParamInfo<path> &param_info) {
                           return std::string(param_info.param == path::mapped ? "mapped" : "library");
                         });

// Whole sequences on the library path: the mapped path carries the same
// calls (above) and costs a fault per access.

TEST(FlashOperations, EraseMakesSixtyFourIterations) {
  card_session s(path::library);
  flash_setup();
  s.start();
  testing::internal::CaptureStdout();
  EXPECT_EQ(flash_erase(), flash_result::ok);
  EXPECT_EQ(test::captured_stdout(), std::string(64, '.') + "\n");
  s.ctrl(0x97);
  s.ctrl(0x90);
  s.data(0x20);
  s.write_cycle();
  s.ctrl(0x90);
  s.data(0xD0);
  s.write_cycle();
  s.ctrl(0x90);
  s.status_read();
  s.ctrl(0x92);
  s.ctrl(0x90);
  std::vector<std::string> traffic = s.traffic();
  const size_t perBlock = s.expected().size() - 6;
  ASSERT_EQ(traffic.size(), 6 + 64 * perBlock);
  expect_traffic(
      std::vector<std::string>(traffic.begin(), traffic.begin() + static_cast<long>(s.expected().size())),
      s.expected());
  EXPECT_EQ(s.stat("blocks_erased"), 64u);
  EXPECT_EQ(s.stat("pulses_92"), 64u);
}

struct dots_case {
  uint32_t n;
  std::string dots;
};
void PrintTo(const dots_case &c, std::ostream *os) { *os << "n=" << c.n; }

class ProgressDots : public testing::TestWithParam<dots_case> {};

TEST_P(ProgressDots, OnePerFull256DataBytes) {
  const uint32_t n = GetParam().n;
  const std::vector<uint8_t> data = test::pattern(n);
  card_session s(path::library);
  flash_setup();
  testing::internal::CaptureStdout();
  EXPECT_EQ(flash_erase(), flash_result::ok);
  EXPECT_EQ(flash_program(data.data(), n), flash_result::ok);
  EXPECT_EQ(flash_verify(data.data(), n), 0u);
  EXPECT_EQ(test::captured_stdout(),
            std::string(64, '.') + "\n" + GetParam().dots + "\n" + GetParam().dots + "\n");
  EXPECT_EQ(s.stat("bytes_programmed"), 16u + n);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ProgressDots,
                         testing::Values(dots_case{0, ""}, dots_case{255, ""}, dots_case{256, "."},
                                         dots_case{513, ".."}));

TEST(FlashOperations, VerifyPrintsEachDifferenceWithItsFlashAddress) {
  const std::vector<uint8_t> data = {0x00, 0x11, 0x22, 0x33};
  card_session s(path::library, "weak = 3, 0x11, 0x13\n");
  flash_setup();
  testing::internal::CaptureStdout();
  flash_erase();
  flash_program(data.data(), 4);
  const uint32_t differing = flash_verify(data.data(), 4);
  EXPECT_EQ(test::captured_stdout(), std::string(64, '.') +
                                         "\n\n"
                                         "*** expected 0x11 actual 0xff index 0x11\n"
                                         "*** expected 0x33 actual 0xff index 0x13\n"
                                         "\n");
  EXPECT_EQ(differing, 2u);  // a weak lead-in byte stays 0xff: no difference
}

TEST(FlashOperations, UnerasedLeadInReadsAsZero) {
  card_session s(path::library);
  flash_setup();
  testing::internal::CaptureStdout();
  EXPECT_EQ(flash_verify(nullptr, 0), 16u);
  std::string expected;
  for (int k = 0; k < 16; ++k) {
    char line[64];
    std::snprintf(line, sizeof line, "*** expected 0xff actual 0x00 index 0x%x\n", k);
    expected += line;
  }
  EXPECT_EQ(test::captured_stdout(), expected + "\n");
}

TEST(FlashOperations, BusyStatusIsPolledAgain) {
  card_session s(path::library, "busy_reads = 3\n");
  flash_setup();
  uint8_t status = 0;
  EXPECT_EQ(flash_program_byte(0x12, 1000, &status), flash_result::ok);
  EXPECT_EQ(s.stat("pulses_95"), 4u);
}

struct timeout_case {
  const char *stuck;
  std::string out;
  const char *notReached;  // the pulse that follows a ready poll
};
void PrintTo(const timeout_case &c, std::ostream *os) { *os << c.stuck; }

class ReadyPollTimeout : public testing::TestWithParam<timeout_case> {};

TEST_P(ReadyPollTimeout, ClosesTheLineReportsAndStops) {
  const std::vector<uint8_t> data(300, 0x5A);
  card_session s(path::library, std::string("stuck = ") + GetParam().stuck + "\nflash_lock = 1\n");
  flash_setup();
  testing::internal::CaptureStdout();
  flash_result result = flash_erase(50);
  if (result == flash_result::ok) result = flash_program(data.data(), 300, 50);
  EXPECT_EQ(result, flash_result::timed_out);
  EXPECT_EQ(test::captured_stdout(), GetParam().out);
  EXPECT_EQ(s.stat(GetParam().notReached), 0u);  // stopped at once
}

INSTANTIATE_TEST_SUITE_P(
    Stuck, ReadyPollTimeout,
    testing::Values(
        timeout_case{"erase", "\n*** Timed out waiting for the Flash to become ready (status 0x22)\n",
                     "pulses_92"},
        timeout_case{
            "program",
            std::string(64, '.') + "\n\n*** Timed out waiting for the Flash to become ready (status 0x32)\n",
            "pulses_91"}));

}  // namespace
