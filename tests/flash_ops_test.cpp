// The Flash sequences' bound on a ready poll, met in milliseconds: a Flash
// that never reports ready ends the erase or the programming at once.
#include <gtest/gtest.h>

#include "board/card_state.h"
#include "board/flash_ops.h"
#include "board/korvan_library.h"
#include "test_support.h"

namespace {

TEST(FlashOperations, ReadyPollGivesUpAtItsBound) {
  for (const bool erase : {true, false}) {
    test::scratch_dir dir;
    test::write_text(dir.file("card.ini"), erase ? "[card]\nstuck = erase\n" : "[card]\nstuck = program\n");
    test::set_env("KORVAN_SIM", dir.file("card.ini").c_str());
    ASSERT_TRUE(bind_korvan_library());
    ASSERT_EQ(korvan.KORVAN2_OpenCard(0, &g_card), 0u);
    test::set_env("KORVAN_SIM", nullptr);
    flash_setup();
    const uint8_t data[256] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(erase ? flash_erase(50) : flash_program(data, 256, 50), flash_result::timed_out);
    EXPECT_EQ(test::captured_stdout(),
              "\n*** Timed out waiting for the Flash to become ready (status 0x00)\n");
    korvan.KORVAN2_CloseCard(g_card);
    g_card = 0;
  }
}

}  // namespace
