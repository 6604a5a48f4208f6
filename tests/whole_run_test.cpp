// Whole runs of sorvel up to the programming run: command line, card
// selection, model and bridge checks, reports, exit status and clean-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string REV02 = "Current Bridge revision: rev02\n";
const std::string DATE = "Current bridge build date: 28/06/2019 09:05:07 (0x07e3061c_09050700)\n";
const std::string NO_DATE = "Current bridge build date: not available (Bridge revision too low)\n";
const std::string ADDR0 = "Control register local bus address: 0x0\n";
const std::string NO_CLOCK = "Failed to set LCLK to 33.0MHz: injected failure\n";
const std::string BUILD_READS = "R lib 78 9050700|R lib 7c 7e3061c|";
const std::string LOADED = "call card_info -> 0|call clock 0 33000000 -> 2002|";
const std::string OPENED = "call open_id 0 -> 0|call card_info -> 0|call space_info 1 -> 0|";

struct check_case {
  const char *name;
  std::string cards;  // card file sections; each gets the trace key
  std::vector<std::string> args;
  int failed;  // 1: exit status -1
  std::string out;
  std::string trace;  // every trace line, each ended by '|'; "-" for no trace file
};
void PrintTo(const check_case &c, std::ostream *os) { *os << c.name; }

class CardChecks : public testing::TestWithParam<check_case> {};

std::string joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += line + "|";
  return text;
}

TEST_P(CardChecks, PrintExactlyAndCloseTheCard) {
  const check_case &c = GetParam();
  test::scratch_dir dir;
  test::write_file(dir.file("b.bit"), test::bridge_bit({1, 2, 3}));
  std::string cards = c.cards;
  for (size_t at = cards.find("[card]"); at != std::string::npos; at = cards.find("[card]", at + 1))
    cards.insert(at + 6, "\ntrace = trace.txt");
  test::write_text(dir.file("card.ini"), cards);
  test::run_result r = test::run_sorvel(dir.path(), c.args, "card.ini");
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, c.failed ? test::FAILED_STATUS : 0);
  if (c.trace == "-")
    EXPECT_TRUE(test::read_file(dir.file("trace.txt")).empty());
  else
    EXPECT_EQ(joined(test::read_lines(dir.file("trace.txt"))), c.trace);
}

using test::USAGE;

// Runs that pass every check stop at the clock (fail = clock): what comes
// before it is the whole of this part of the run.
INSTANTIATE_TEST_SUITE_P(
    Runs, CardChecks,
    testing::Values(
        check_case{"no_options_opens_id_0",
                   "[card]\nfail = clock\n",
                   {"b.bit"},
                   1,
                   REV02 + DATE + ADDR0 + NO_CLOCK,
                   OPENED + BUILD_READS + LOADED + "call close -> 0|"},
        check_case{"index_0_opens_by_index",
                   "[card]\nfail = clock\n",
                   {"-index", "0", "b.bit"},
                   1,
                   REV02 + DATE + ADDR0 + NO_CLOCK,
                   "call open_index 0 -> 0|call card_info -> 0|call space_info 1 -> 0|" + BUILD_READS +
                       LOADED + "call close -> 0|"},
        check_case{"index_wins_over_id",
                   "[card]\nid = 5\n[card]\nid = 9\nfail = clock\n",
                   {"-card", "5", "-index", "1", "b.bit"},
                   1,
                   REV02 + DATE + ADDR0 + NO_CLOCK,
                   "call open_index 1 -> 0|call card_info -> 0|call space_info 1 -> 0|" + BUILD_READS +
                       LOADED + "call close -> 0|"},
        check_case{"options_after_path_ignored",
                   "[card]\nfail = clock\n[card]\nid = 1\n",
                   {"b.bit", "-index", "1"},
                   1,
                   REV02 + DATE + ADDR0 + NO_CLOCK,
                   OPENED + BUILD_READS + LOADED + "call close -> 0|"},
        check_case{"help_opens_nothing", "[card]\n", {"/?"}, 1, USAGE, "-"},
        check_case{"missing_path_opens_nothing",
                   "[card]\n",
                   {"-card", "1"},
                   1,
                   "Too few parameters supplied. Use sorvel /? to get help.\n",
                   "-"},
        check_case{
            "board_type_6",
            "[card]\nboard_type = 6\n",
            {"b.bit"},
            1,
            "*** This utility must be run on one of the following models:\n\n\to Halcyra\n\to Perinel\n",
            "call open_id 0 -> 0|call card_info -> 0|call close -> 0|"},
        check_case{"logic_revision_21",
                   "[card]\nlogic_revision = 0x21\n",
                   {"b.bit"},
                   1,
                   "*** LogicRevision 21 not recognised\n",
                   OPENED + "call close -> 0|"},
        check_case{"logic_revision_05",
                   "[card]\nlogic_revision = 0x05\n",
                   {"b.bit"},
                   1,
                   "*** LogicRevision 05 not recognised\n",
                   OPENED + "call close -> 0|"},
        check_case{"halcyra_rev00_too_low",
                   "[card]\nlogic_revision = 0x10\n",
                   {"b.bit"},
                   1,
                   "Current Bridge revision: rev00\n*** Current Bridge revision too low.\n"
                   "    Rev01 or later bitstream required\n",
                   OPENED + "call close -> 0|"},
        check_case{"halcyra_rev01_no_build_date",
                   "[card]\nlogic_revision = 0x11\nfail = clock\n",
                   {"b.bit"},
                   1,
                   "Current Bridge revision: rev01\n" + NO_DATE + ADDR0 + NO_CLOCK,
                   OPENED + LOADED + "call close -> 0|"},
        check_case{"perinel_rev00_gate",
                   "[card]\nboard_type = 8\nlogic_revision = 0x10\n",
                   {"b.bit"},
                   1,
                   "Current Bridge revision: rev00\n" + DATE + ADDR0 +
                       "*** This utility requires Halcyra Bridge revision 01 or later.\n",
                   OPENED + BUILD_READS + "call close -> 0|"},
        check_case{"perinel_rev00_forced",
                   "[card]\nboard_type = 8\nlogic_revision = 0x10\nfail = clock\n",
                   {"+f", "b.bit"},
                   1,
                   "Current Bridge revision: rev00\n" + DATE + ADDR0 + NO_CLOCK,
                   OPENED + BUILD_READS + LOADED + "call close -> 0|"},
        check_case{"perinel_block_offset",
                   "[card]\nboard_type = 8\nlocal_size = 0x1000000\nlocal_base = 0x20000000\nfail = clock\n",
                   {"b.bit"},
                   1,
                   REV02 + DATE + "Control register local bus address: 0x20c00000\n" + NO_CLOCK,
                   OPENED + BUILD_READS + LOADED + "call close -> 0|"},
        check_case{"perinel_space_too_small",
                   "[card]\nboard_type = 8\nlocal_size = 0x200000\n",
                   {"b.bit"},
                   1,
                   "*** Address space 1 is too small for the control register block (local size 0x200000)\n",
                   OPENED + "call close -> 0|"},
        check_case{"open_by_id_fails",
                   "[card]\n",
                   {"-card", "3", "b.bit"},
                   1,
                   "*** Failed to open card with ID 3: no such card\n",
                   "call open_id 3 -> 2001|"},
        check_case{"unsigned_id_printed_signed",
                   "[card]\n",
                   {"-card", "4294967295", "b.bit"},
                   1,
                   "*** Failed to open card with ID -1: no such card\n",
                   "call open_id ffffffff -> 2001|"},
        check_case{"open_by_index_fails",
                   "[card]\nfail = open\n",
                   {"-index", "0", "b.bit"},
                   1,
                   "*** Failed to open card with index 0: injected failure\n",
                   "call open_index 0 -> 2002|"},
        check_case{"card_info_fails",
                   "[card]\nfail = card_info\n",
                   {"b.bit"},
                   1,
                   "*** Failed to get card info: injected failure\n",
                   "call open_id 0 -> 0|call card_info -> 2002|call close -> 0|"},
        check_case{"space_info_fails",
                   "[card]\nfail = space_info\n",
                   {"b.bit"},
                   1,
                   "*** Failed to get card info: injected failure\n",
                   "call open_id 0 -> 0|call card_info -> 0|call space_info 1 -> 2002|call close -> 0|"},
        check_case{"bad_card_file",
                   "[card]\ncolour = red\n",
                   {"b.bit"},
                   1,
                   "*** Failed to open card with ID 0: card file card.ini line 3: unknown key 'colour'\n",
                   "-"}),
    [](const testing::TestParamInfo<check_case> &param_info) { return std::string(param_info.param.name); });

TEST(CardChecks, BuiltInCardWithoutCardFile) {
  test::scratch_dir dir;
  test::run_result r = test::run_sorvel(dir.path(), {"-card", "1", "b.bit"}, nullptr);
  EXPECT_EQ(r.out, "*** Failed to open card with ID 1: no such card\n");
  EXPECT_EQ(r.status, test::FAILED_STATUS);
}

struct bad_environment_case {
  const char *name;
  const char *cardFile;
  std::vector<uint8_t> content;  // written to card.bin when not empty
  std::string out;
};
void PrintTo(const bad_environment_case &c, std::ostream *os) { *os << c.name; }

class BadCardFiles : public testing::TestWithParam<bad_environment_case> {};

TEST_P(BadCardFiles, GiveAClearStatus) {
  const bad_environment_case &c = GetParam();
#if defined(_WIN32)
  if (c.cardFile != nullptr && *c.cardFile == '\0') GTEST_SKIP() << "Windows removes a variable set empty";
#endif
  test::scratch_dir dir;
  if (!c.content.empty()) test::write_file(dir.file("card.bin"), c.content);
  test::run_result r = test::run_sorvel(dir.path(), {"b.bit"}, c.cardFile);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, test::FAILED_STATUS);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadCardFiles,
    testing::Values(
        bad_environment_case{"missing",
                             "missing.ini",
                             {},
                             "*** Failed to open card with ID 0: card file missing.ini cannot be read\n"},
        bad_environment_case{
            "empty_name", "", {}, "*** Failed to open card with ID 0: card file  cannot be read\n"},
        bad_environment_case{
            "a_folder", ".", {}, "*** Failed to open card with ID 0: card file . cannot be read\n"},
        bad_environment_case{"binary",
                             "card.bin",
                             {0x7F, 0x45, 0x4C, 0x46, 0x02, 0x01, 0x00, 0xFF, 0x0A},
                             "*** Failed to open card with ID 0: card file card.bin line 1: expected "
                             "'key = value', not '\\x7fELF\\x02\\x01\\x00\\xff'\n"},
        bad_environment_case{
            "no_cards", "card.bin", {'#', '\n'}, "*** Failed to open card with ID 0: no such card\n"},
        bad_environment_case{
            "image_too_large", "card.bin",
            test::bit_body("[card]\nflash_blocks = 1\nflash_block_size = 4\nflash_image = card.bin\n", false),
            "*** Failed to open card with ID 0: Flash image card.bin is larger than the Flash\n"}),
    [](const testing::TestParamInfo<bad_environment_case> &param_info) {
      return std::string(param_info.param.name);
    });

TEST(CardChecks, StrangeSdkDirectoryIsHarmless) {
  test::scratch_dir dir;
  test::write_file(dir.file("b.bit"), test::bridge_bit({1, 2, 3}));
  test::write_text(dir.file("card.ini"), "[card]\nfail = clock\n");
  const std::string strange = " \t/" + std::string(5000, '/') + "%s%n\x80 ";
  test::set_env("KORVAN_SDK4", strange.c_str());
  test::run_result r = test::run_sorvel(dir.path(), {"b.bit"}, "card.ini");
  test::set_env("KORVAN_SDK4", nullptr);
  EXPECT_EQ(r.out, REV02 + DATE + ADDR0 + NO_CLOCK);
}

}  // namespace
