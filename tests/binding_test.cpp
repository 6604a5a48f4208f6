// The card library, bound at run time: the refusals, before any card call,
// when it is missing or lacks a call; never a library from the current
// folder; on Windows, the other export styles of the simulated library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
const std::string SEARCH_PATH = "PATH", SEPARATOR = ";";
#else
const std::string SEARCH_PATH = "LD_LIBRARY_PATH", SEPARATOR = ":";
#endif
using test::CARD_LIBRARY;

TEST(Binding, RefusalsComeBeforeAnyCardCall) {
  test::scratch_dir dir, probe;
  test::write_file(dir.file("b.bit"), test::bridge_bit(test::pattern(8)));
  const std::string lone = test::utility_in(dir, "");
  const test::run_result help = test::run_program(lone, dir.path(), {"/?"}, nullptr, nullptr);
  EXPECT_EQ(help.out, test::USAGE);
  const test::run_result none = test::run_program(lone, dir.path(), {"b.bit"}, nullptr, nullptr);
  const std::string refusal = "*** Cannot load " + CARD_LIBRARY + ": ";  // and the system's reason, one line
  EXPECT_TRUE(none.out.rfind(refusal, 0) == 0 && none.out.find('\n') == none.out.size() - 1 &&
              none.out.size() > refusal.size() + 1)
      << none.out;
  const test::run_result lacking = test::run_program(test::utility_in(probe, LIBRARY_DIR "/probe-no-write"),
                                                     dir.path(), {"b.bit"}, nullptr, nullptr);
  EXPECT_EQ(lacking.out, "*** " + CARD_LIBRARY + " has no KORVAN2_Write\n");
  EXPECT_FALSE(fs::exists(dir.file("probe.log")));  // the probe was never called
  for (const test::run_result *r : {&help, &none, &lacking})
    EXPECT_EQ(r->status, test::FAILED_STATUS);
}

// A stranger's library in the current folder, where a downloaded .bit file
// lies too, is not loaded; the one on the search path is, and the run succeeds.
TEST(Binding, CurrentFolderIsNotSearched) {
  test::scratch_dir program, work;
  test::write_file(work.file("b.bit"), test::bridge_bit(test::pattern(8)));
  fs::copy_file(test::host_path(LIBRARY_DIR "/probe-no-write/" + CARD_LIBRARY), work.file(CARD_LIBRARY));
  const char *old = std::getenv(SEARCH_PATH.c_str());
  const std::string path = test::host_path(LIBRARY_DIR) + (old != nullptr ? SEPARATOR + old : "");
  const test::run_result r = test::run_program(test::utility_in(program, ""), work.path(), {"b.bit"},
                                               SEARCH_PATH.c_str(), path.c_str());
  if (old != nullptr) test::set_env(SEARCH_PATH.c_str(), old);
  EXPECT_EQ(r.status, 0) << r.out;
}

#if defined(_WIN32)
// The simulated korvan.dll in the export styles it was not built in: a whole run succeeds.
TEST(Binding, OtherExportStylesRunWhole) {
  int styles = 0;  // the two the package's library is not built in
  for (const std::string style : {"cdecl", "stdcall", "stdcall-decorated"}) {
    if (!fs::exists(test::host_path(LIBRARY_DIR "/exports-" + style))) continue;
    ++styles;
    test::scratch_dir dir;
    test::write_file(dir.file("b.bit"), test::bridge_bit(test::pattern(300)));
    const test::run_result r = test::run_program(test::utility_in(dir, LIBRARY_DIR "/exports-" + style),
                                                 dir.path(), {"b.bit"}, "KORVAN_SIM", nullptr);
    EXPECT_EQ(r.status, 0) << style << ": " << r.out;
  }
  EXPECT_EQ(styles, 2);
}
#endif

}  // namespace
