// The card library, bound at run time: the refusals when it is missing or
// lacks a call, printed before any card call; a library in the current
// folder is never the one loaded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
const std::string LIBRARY = "korvan.dll", SEARCH_PATH = "PATH", SEPARATOR = ";";
#else
const std::string LIBRARY = "libkorvan.so", SEARCH_PATH = "LD_LIBRARY_PATH", SEPARATOR = ":";
#endif

// A copy of the utility alone in a folder: no library beside it.
std::string lone_utility(const test::scratch_dir &dir) {
  const std::string copy = dir.file(fs::path(SORVEL_EXE).filename().string());
  fs::copy_file(test::host_path(SORVEL_EXE), copy);
  return copy;
}

TEST(Binding, RefusalsComeBeforeAnyCardCall) {
  test::scratch_dir dir;
  test::write_file(dir.file("b.bit"), test::bridge_bit(test::pattern(8)));
  const std::string lone = lone_utility(dir);
  const test::run_result help = test::run_program(lone, dir.path(), {"/?"}, nullptr, nullptr);
  EXPECT_EQ(help.out, test::USAGE);
  const test::run_result missing = test::run_program(lone, dir.path(), {"b.bit"}, nullptr, nullptr);
  EXPECT_EQ(missing.out.rfind("*** Cannot load " + LIBRARY + ": ", 0), 0u) << missing.out;
  EXPECT_EQ(missing.out.find('\n'), missing.out.size() - 1) << missing.out;  // one line
  const std::string noWrite =
      test::host_path(LIBRARY_DIR "/probe-no-write/") + fs::path(SORVEL_EXE).filename().string();
  const test::run_result lacking = test::run_program(noWrite, dir.path(), {"b.bit"}, nullptr, nullptr);
  EXPECT_EQ(lacking.out, "*** " + LIBRARY + " has no KORVAN2_Write\n");
  EXPECT_FALSE(fs::exists(dir.file("probe.log")));  // the probe was never called
  for (const test::run_result *r : {&help, &missing, &lacking})
    EXPECT_EQ(r->status, test::FAILED_STATUS);
}

// A library that lies in the current folder, where a downloaded .bit file
// may lie too, is not loaded: the one on the search path is.
TEST(Binding, CurrentFolderIsNotSearched) {
  test::scratch_dir program, work;
  const std::string lone = lone_utility(program);
  fs::copy_file(test::host_path(LIBRARY_DIR "/probe-no-write/" + LIBRARY), work.file(LIBRARY));
  test::write_file(work.file("b.bit"), test::bridge_bit(test::pattern(8)));
  test::write_text(work.file("card.ini"), "[card]\nfail = clock\n");
  const char *old = std::getenv(SEARCH_PATH.c_str());
  const std::string path = test::host_path(LIBRARY_DIR) + (old != nullptr ? SEPARATOR + old : "");
  test::set_env("KORVAN_SIM", "card.ini");
  const test::run_result r =
      test::run_program(lone, work.path(), {"b.bit"}, SEARCH_PATH.c_str(), path.c_str());
  test::set_env("KORVAN_SIM", nullptr);
  if (old != nullptr) test::set_env(SEARCH_PATH.c_str(), old);
  EXPECT_EQ(r.out,
            "Current Bridge revision: rev02\n"
            "Current bridge build date: 28/06/2019 09:05:07 (0x07e3061c_09050700)\n"
            "Control register local bus address: 0x0\n"
            "Failed to set LCLK to 33.0MHz: injected failure\n");
}

}  // namespace

#if defined(_WIN32)
// One sorvel.exe, the simulated korvan.dll in each of its three export
// styles (cdecl, stdcall with plain and with decorated names): the sample's
// whole run alike in output, status and Flash image.
TEST(Binding, EveryExportStyleRunsTheSampleAlike) {
  std::vector<std::string> programs = {SORVEL_EXE};
  for (const char *style : {"cdecl", "stdcall", "stdcall-decorated"})
    if (fs::exists(test::host_path(LIBRARY_DIR "/exports-" + std::string(style))))
      programs.push_back(LIBRARY_DIR "/exports-" + std::string(style) + "/sorvel.exe");
  ASSERT_EQ(programs.size(), 3u);
  std::string firstOut;
  std::vector<uint8_t> firstImage;
  for (const std::string &program : programs) {
    test::scratch_dir dir;
    fs::copy_file(test::host_path(SAMPLE_BIT), dir.file("sample.bit"));
    test::write_text(dir.file("card.ini"), "[card]\nflash_image = flash.bin\n");
    const test::run_result r =
        test::run_program(program, dir.path(), {"sample.bit"}, "KORVAN_SIM", "card.ini");
    EXPECT_EQ(r.status, 0) << program;
    if (firstOut.empty()) {
      firstOut = r.out;
      firstImage = test::read_file(dir.file("flash.bin"));
      EXPECT_NE(firstOut.find("Verifying Flash...\n"), std::string::npos) << firstOut;
    } else {
      EXPECT_EQ(r.out, firstOut) << program;
      EXPECT_TRUE(test::read_file(dir.file("flash.bin")) == firstImage) << program;
    }
  }
}
#endif
