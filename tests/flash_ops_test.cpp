// The Flash sequences' bound on a ready poll, met in milliseconds: a Flash
// that never reports ready ends the erase or the programming at once; a
// process stopped past the bound finds a Flash that has finished meanwhile.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/time.h>
#include <time.h>
#endif

#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"
#include "test_support.h"

namespace {

void open_card(const test::scratch_dir &dir, const std::string &keys) {
  test::write_text(dir.file("card.ini"), "[card]\n" + keys);
  test::set_env("KORVAN_SIM", dir.file("card.ini").c_str());
  ASSERT_TRUE(bind_korvan_library());
  ASSERT_EQ(korvan.KORVAN2_OpenCard(0, &g_card), 0u);
  test::set_env("KORVAN_SIM", nullptr);
  flash_setup();
}

TEST(FlashOperations, ReadyPollGivesUpAtItsBound) {
  for (const bool erase : {true, false}) {
    test::scratch_dir dir;
    open_card(dir, erase ? "stuck = erase\n" : "stuck = program\n");
    const uint8_t data[256] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(erase ? flash_erase(50) : flash_program(data, 256, 50), flash_result::timed_out);
    EXPECT_EQ(test::captured_stdout(),
              "\n*** Timed out waiting for the Flash to become ready (status 0x00)\n");
    korvan.KORVAN2_CloseCard(g_card);
    g_card = 0;
  }
}

#if !defined(_WIN32)
// The process stopped for twice the bound while the Flash programs a byte
// (5 ms a byte, the stop 20 ms in): the poll reads the status once more, finds it ready, goes on.
TEST(FlashOperations, ReadyPollReadsOnceMoreAfterAStop) {
  test::scratch_dir dir;
  open_card(dir, "busy_ms = program:5\n");
  struct sigaction stop = {};
  stop.sa_handler = [](int) {
    const timespec stopped = {0, 100 * 1000 * 1000};
    nanosleep(&stopped, nullptr);
  };
  sigaction(SIGALRM, &stop, nullptr);
  const itimerval soon = {{0, 0}, {0, 20000}};
  setitimer(ITIMER_REAL, &soon, nullptr);
  const uint8_t data[4] = {};
  testing::internal::CaptureStdout();
  EXPECT_EQ(flash_program(data, 4, 50), flash_result::ok);
  EXPECT_EQ(test::captured_stdout(), "\n");
  signal(SIGALRM, SIG_DFL);
  korvan.KORVAN2_CloseCard(g_card);
  g_card = 0;
}
#endif

}  // namespace
