// The simulator's card files: keys, numbers, lists, and clear refusals.
#include <gtest/gtest.h>

#include "card_file/card_file.h"

namespace {

using namespace ksim;

TEST(CardFile, ReadsEveryKey) {
  std::vector<card_config> cards;
  std::string error;
  ASSERT_TRUE(
      parse_card_text("# two cards\n[card]\nid = 7\n[card]\n"
                      "id=0x10 # hex\nboard_type = 8\nlogic_revision = 0x10\nbuild_time = 1\n"
                      "build_date = 2\nlocal_base = 0x1000\nlocal_size = 0x1000000\nwindow = full\n"
                      "flash_vendor = 0xB0\nflash_device = 0xD4\nflash_lock = 1\nflash_blocks = 8\n"
                      "flash_block_size = 0x1000\nflash_image = img.bin\nbusy_reads = 0\n"
                      "stuck = erase\nweak = 0x20, 3\nfail = read:2, open\ntrace = t.txt\nstats = s.txt\n"
                      "crash = program : 17\n",
                      "cards.ini", &cards, &error))
      << error;
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].id, 7u);
  EXPECT_EQ(cards[0].boardType, 4u);
  const card_config &c = cards[1];
  EXPECT_EQ(c.id, 16u);
  EXPECT_EQ(c.boardType, 8u);
  EXPECT_EQ(c.localSize, 0x1000000u);
  EXPECT_EQ(c.window, window_kind::full);
  EXPECT_EQ(c.flashLock, 1u);
  EXPECT_EQ(c.stuck, operation_kind::erase);
  EXPECT_EQ(c.weak, (std::vector<uint32_t>{3, 0x20}));
  ASSERT_EQ(c.fail.size(), 2u);
  EXPECT_EQ(c.fail[0].call, failing_call::read);
  EXPECT_EQ(c.fail[0].nth, 2u);
  EXPECT_EQ(c.fail[1].call, failing_call::open);
  EXPECT_EQ(c.fail[1].nth, 0u);
  EXPECT_EQ(c.flashImage, "img.bin");
  EXPECT_EQ(c.trace, "t.txt");
  EXPECT_EQ(c.crash.operation, operation_kind::program);
  EXPECT_EQ(c.crash.nth, 17u);
  EXPECT_EQ(cards[0].crash.operation, operation_kind::none);
}

struct refusal_case {
  const char *text;
  const char *message;
};

class CardFileRefusals : public testing::TestWithParam<refusal_case> {};

TEST_P(CardFileRefusals, NameFileLineAndKey) {
  std::vector<card_config> cards(1);
  std::string error;
  EXPECT_FALSE(parse_card_text(GetParam().text, "bad.ini", &cards, &error));
  EXPECT_EQ(error, GetParam().message);
  EXPECT_EQ(cards.size(), 1u);  // untouched
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CardFileRefusals,
    testing::Values(
        refusal_case{"[card]\ncolour = red\n", "card file bad.ini line 2: unknown key 'colour'"},
        refusal_case{"[card]\n\nid = 12x\n", "card file bad.ini line 3: bad value for key 'id': '12x'"},
        refusal_case{"[card]\nid = 0x100000000\n",
                     "card file bad.ini line 2: bad value for key 'id': '0x100000000'"},
        refusal_case{"[card]\nid = -1\n", "card file bad.ini line 2: bad value for key 'id': '-1'"},
        refusal_case{"[card]\nid =\n", "card file bad.ini line 2: bad value for key 'id': ''"},
        refusal_case{"id = 1\n", "card file bad.ini line 1: key 'id' outside a [card] section"},
        refusal_case{"[board]\n", "card file bad.ini line 1: unknown section '[board]'"},
        refusal_case{"[card]\nwindow\n", "card file bad.ini line 2: expected 'key = value', not 'window'"},
        refusal_case{"[card]\nwindow = half\n",
                     "card file bad.ini line 2: bad value for key 'window': 'half'"},
        refusal_case{"[card]\nfail = open:0\n",
                     "card file bad.ini line 2: bad value for key 'fail': 'open:0'"},
        refusal_case{"[card]\nfail = close\n", "card file bad.ini line 2: bad value for key 'fail': 'close'"},
        refusal_case{"[card]\nweak = 1,,2\n", "card file bad.ini line 2: bad value for key 'weak': '1,,2'"},
        refusal_case{"[card]\ncrash = erase:0\n",
                     "card file bad.ini line 2: bad value for key 'crash': 'erase:0'"},
        refusal_case{"[card]\ncrash = none:1\n",
                     "card file bad.ini line 2: bad value for key 'crash': 'none:1'"},
        refusal_case{"[card]\ncrash = program\n",
                     "card file bad.ini line 2: bad value for key 'crash': 'program'"},
        refusal_case{"[card]\nlogic_revision = 0x100\n",
                     "card file bad.ini line 2: bad value for key 'logic_revision': '0x100'"},
        refusal_case{"[card]\nflash_blocks = 0\n",
                     "card file bad.ini line 1: card cannot be simulated, check key 'flash_blocks'"},
        refusal_case{"\n[card]\nflash_blocks = 0x10000\nflash_block_size = 0x10000\n",
                     "card file bad.ini line 2: card cannot be simulated, check key 'flash_blocks'"},
        refusal_case{"[card]\nflash_block_size = 0\n",
                     "card file bad.ini line 1: card cannot be simulated, check key 'flash_block_size'"},
        refusal_case{"[card]\nwindow = full\nlocal_size = 0x1800\n",
                     "card file bad.ini line 1: card cannot be simulated, check key 'local_size'"}));

TEST(CardFile, EmptyFileHasNoCards) {
  std::vector<card_config> cards(3);
  std::string error;
  EXPECT_TRUE(parse_card_text("# nothing\n\n", "empty.ini", &cards, &error));
  EXPECT_TRUE(cards.empty());
}

}  // namespace
