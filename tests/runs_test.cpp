// Whole runs of the built utility against simulated cards: exact output,
// exit status and bus trace. Whatever happens, the card is closed, the .bit
// file is unchanged and no register is written before every check passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using test::path;

const std::string CHECKS =
    "Current Bridge revision: rev02\n"
    "Current bridge build date: 28/06/2019 09:05:07 (0x07e3061c_09050700)\n"
    "Control register local bus address: 0x0\n";
const std::string IDS = "Vendor ID = 89, Device ID = 17\nLock bit = 0\n";
const std::string ERASED = "Erasing Flash...\n" + std::string(64, '.') + "\n";
const std::string NO_CLOCK = "Failed to set LCLK to 33.0MHz: injected failure\n";
const std::string NO_FLASH = "*** Unrecognised vendor/device ID for Flash\n";

// A waveform as a reader sees it: each signal's changes by name (vectors
// as decimal numbers), and every timestamp in file order.
struct vcd {
  std::map<std::string, std::vector<std::string>> signals;
  std::vector<unsigned long long> times;
};

vcd read_vcd(const std::string &file) {
  vcd out;
  std::map<std::string, std::string> names;  // by identifier
  for (const std::string &line : test::read_lines(file)) {
    std::istringstream words(line);
    std::string first, type, size, id, name;
    words >> first;
    if (first == "$var" && words >> type >> size >> id >> name)
      names[id] = name;
    else if (!first.empty() && first[0] == '#')
      out.times.push_back(std::stoull(first.substr(1)));
    else if (!first.empty() && (first[0] == 'b' || first[0] == 's') && words >> id && names.count(id))
      out.signals[names[id]].push_back(
          first[0] == 's' ? first.substr(1) : std::to_string(std::stoull(first.substr(1), nullptr, 2)));
    else if (first.size() >= 2 && (first[0] == '0' || first[0] == '1') && names.count(first.substr(1)))
      out.signals[names[first.substr(1)]].push_back(first.substr(0, 1));
  }
  return out;
}

std::string full_run(size_t n, const std::string &ids = IDS, const std::string &mismatches = "") {
  const std::string dots = std::string(n / 256, '.') + "\n";
  return CHECKS + ids + ERASED + "Programming Flash...\n" + dots + "Verifying Flash...\n" + mismatches + dots;
}

std::string verify_failed(size_t n, const std::string &lines, int differing, const std::string &ids = IDS) {
  return full_run(n, ids, lines) + "*** Verify failed: " + std::to_string(differing) + " of " +
         std::to_string(16 + n) + " bytes differ\n";
}

// A run in a fresh folder; keys are card-file lines after the path's window.
struct run {
  test::scratch_dir dir;
  std::vector<uint8_t> data;
  std::vector<uint8_t> bit;
  test::run_result result;
  std::vector<std::string> trace;

  // The .bit file holds n pattern bytes, unless a file of its own is given.
  run(path p, const std::string &keys, const std::vector<std::string> &args = {"b.bit"}, size_t n = 8,
      const std::vector<uint8_t> &file = {}, const std::vector<uint8_t> &image = {})
      : data(test::pattern(n, 7)), bit(file.empty() ? test::bridge_bit(data) : file) {
    test::write_file(dir.file("b.bit"), bit);
    if (!image.empty()) test::write_file(dir.file("flash.bin"), image);
    const std::string card =
        "trace = trace.txt\nstats = stats.txt\nflash_image = flash.bin\n" + test::window_line(p);
    std::string cards = keys.find("[card]") == std::string::npos ? "[card]\n" + keys : keys;
    for (size_t at = cards.find("[card]"); at != std::string::npos; at = cards.find("[card]", at + 1))
      cards.insert(at + 7, card);
    test::write_text(dir.file("card.ini"), cards);
    result = test::run_sorvel(dir.path(), args, "card.ini");
    trace = test::read_lines(dir.file("trace.txt"));
  }
  uint64_t stat(const std::string &name) {  // a count of the stats file
    for (const std::string &line : test::read_lines(dir.file("stats.txt")))
      if (line.rfind(name + " ", 0) == 0) return std::stoull(line.substr(name.size() + 1));
    return 0;
  }
  std::string joined(const std::string &start) {  // the trace lines that start so, each ended by '|'
    std::string out;
    for (const std::string &line : trace)
      if (line.rfind(start, 0) == 0) out += line + "|";
    return out;
  }

  // What every run promises: nothing on standard error, the .bit file as it
  // was, no register written before the clock is set.
  void expect_safe() {
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(test::read_file(dir.file("b.bit")), bit);
    const auto clock = std::find(trace.begin(), trace.end(), "call clock 0 33000000 -> 0");
    EXPECT_TRUE(std::none_of(trace.begin(), clock, [](const std::string &line) { return line[0] == 'W'; }));
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))  // nothing left half written
      EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
};

struct run_case {
  const char *name;
  const char *args;        // "" for the .bit file alone
  std::string keys;        // card-file lines
  std::string out;         // the whole output; the run succeeds when it reaches a clean verification
  std::string calls;       // every library call of the trace in order, each ended by '|'
  std::string lines = "";  // trace lines that stand together, each ended by '|'; "" for none
  size_t n = 8;            // data bytes
  path p = path::library;
  std::vector<uint8_t> file = {};   // a .bit file of its own
  std::vector<uint8_t> image = {};  // the Flash at the start; none: 0x00 bytes
  int status = -1;                  // -1: 0 for a run that verified cleanly, FAILED_STATUS otherwise
};
void PrintTo(const run_case &c, std::ostream *os) { *os << c.name; }
run_case with(run_case c, int status, std::vector<uint8_t> image = {}) {  // a status or an image of its own
  c.status = status;
  c.image = std::move(image);
  return c;
}

class Runs : public testing::TestWithParam<run_case> {};

TEST_P(Runs, PrintExactlyAndKeepTheirPromises) {
  const run_case &c = GetParam();
  std::istringstream words(*c.args != '\0' ? c.args : "b.bit");
  run r(c.p, c.keys, {std::istream_iterator<std::string>(words), {}}, c.n, c.file, c.image);
  r.expect_safe();
  EXPECT_EQ(r.result.out, c.out);
  const bool verified =
      c.out.find("Verifying") != std::string::npos && c.out.find("Verify failed") == std::string::npos;
  EXPECT_EQ(r.result.status, c.status != -1 ? c.status : verified ? 0 : test::FAILED_STATUS);
  const bool erases = c.out.find("Erasing") != std::string::npos;  // nothing written unless announced
  EXPECT_TRUE(erases || r.stat("blocks_erased") + r.stat("bytes_programmed") == 0);
  EXPECT_EQ(r.joined("call "), c.calls);
  EXPECT_TRUE(c.lines.empty() || ("|" + r.joined("")).find("|" + c.lines) != std::string::npos) << c.lines;
}

// The calls of runs, by how far they got.
std::string opened(const std::string &open = "open_id 0") {
  return "call " + open + " -> 0|call card_info -> 0|call space_info 1 -> 0|";
}
const std::string CLOSE = "call close -> 0|";
const std::string LOADER = "call card_info -> 0|";
const std::string REFUSED = opened() + CLOSE;              // by a card check
const std::string NOT_LOADED = opened() + LOADER + CLOSE;  // by the bitstream
const std::string NO_CLOCK_CALLS = opened() + LOADER + "call clock 0 33000000 -> 2002|" + CLOSE;
const std::string RAN = opened() + LOADER + "call clock 0 33000000 -> 0|" + CLOSE;

const std::vector<std::string> BIT = {"b.bit"};
constexpr size_t LARGEST = 64 * 0x20000 - 16;  // data bytes that fit in the Flash

// Mismatch lines of the 8 data bytes of a run (or of the lead-in), reversed.
std::string mismatches(const char *actual, size_t from, size_t count) {
  const std::vector<uint8_t> data = test::pattern(8, 7);
  std::string lines;
  for (size_t k = from; k < from + count; ++k) {
    char line[64];
    std::snprintf(line, sizeof line, "*** expected 0x%02x actual 0x%s index 0x%x\n",
                  k < 16 ? 0xFF : test::reversed(data[k - 16]), actual, static_cast<unsigned>(k));
    lines += line;
  }
  return lines;
}

// The Flash after a good run: lead-in, the reversed data, erased blocks.
std::vector<uint8_t> programmed(const std::vector<uint8_t> &data) {
  std::vector<uint8_t> image(64 * 0x20000, 0xFF);
  for (size_t k = 0; k < data.size(); ++k)
    image[16 + k] = test::reversed(data[k]);
  return image;
}

// Library register reads of a run of 8 bytes, busy_reads 1: 2 build words,
// 3 identifiers, 64 erase and 24 program polls of 2 status reads, 24 back.
const std::string LAST_READ = std::to_string(2 + 3 + 2 * 64 + 2 * 24 + 24);
const std::string MODELS =
    "*** This utility must be run on one of the following models:\n\n\to Halcyra\n\to Perinel\n";
const std::string TOO_LOW = "*** Current Bridge revision too low.\n    Rev01 or later bitstream required\n";
const std::string REV00 = "Current Bridge revision: rev00\n" + CHECKS.substr(31);
const std::string AT_ADDRESS = CHECKS.substr(0, CHECKS.find("0x0\n"));
const std::string FROM_CONTROL = CHECKS.substr(CHECKS.find("Control"));
const std::string FROM_ADDRESS = full_run(8).substr(CHECKS.find("Control"));
const std::string TIME_0 = "Current bridge build date: 28/06/2019 00:00:00 (0x07e3061c_00000000)\n";
const std::string DATE_0 = "Current bridge build date: 00/00/0000 09:05:07 (0x00000000_09050700)\n";
const std::string NO_DATE = "Current bridge build date: not available (Bridge revision too low)\n";
const std::string LOAD_FAILED = CHECKS + "*** Failed to load bitstream b.bit: ";
const std::string LOCKED_IDS = "Vendor ID = 89, Device ID = 17\nLock bit = 1\n";
#define UNICODE_FOLDER \
  "Pr\xc3\xbc"         \
  "fung-\xc4\x8d-\xe6\x97\xa5\xe6\x9c\xac"  // Prüfung-č-日本, in UTF-8
const std::string BACKED_UP = CHECKS + IDS + "Reading Flash...\n" + std::string(64, '.') + "\n";
const std::string HELD =
    "*** Interrupt held: the Flash is being rewritten, the run stops as soon as it is safe\n";
const std::string FAST_8 = "Erasing Flash...\n.\nProgramming Flash...\n\nVerifying Flash...\n\n";
const std::string UNTOUCHED = "*** Interrupted before the Flash was touched\n";
const std::vector<uint8_t> OLDER = programmed(test::pattern(1000, 5));  // a Flash that holds a bitstream
#if defined(_WIN32)
const std::string SELF = "Z:" SORVEL_EXE;  // the running utility as a .bit file
#else
const std::string SELF = "../../../../../../../.." SORVEL_EXE;  // relative: '/' starts an option
#endif

std::vector<uint8_t> cut_short(std::vector<uint8_t> file) {  // declares 8 data bytes, holds 5
  file.resize(file.size() - 3);
  return file;
}
INSTANTIATE_TEST_SUITE_P(
    Cases, Runs,
    testing::Values(
        // Card selection and bridge checks: runs that pass stop at the clock.
        run_case{"index_wins_over_id", "-card 5 -index 1 b.bit",
                 "[card]\nid = 5\n[card]\nid = 9\nfail = clock\n", CHECKS + NO_CLOCK,
                 opened("open_index 1") + LOADER + "call clock 0 33000000 -> 2002|" + CLOSE},
        run_case{"build_date_31_03_2023", "", "build_date = 0x07e7031f\nfail = clock\n",
                 CHECKS.substr(0, 31) +
                     "Current bridge build date: 31/03/2023 09:05:07 (0x07e7031f_09050700)\n" + FROM_CONTROL +
                     NO_CLOCK,
                 NO_CLOCK_CALLS},
        run_case{"board_type_6", "", "board_type = 6\n", MODELS,
                 "call open_id 0 -> 0|call card_info -> 0|" + CLOSE},
        run_case{"logic_revision_21", "", "logic_revision = 0x21\n", "*** LogicRevision 21 not recognised\n",
                 REFUSED},
        run_case{"halcyra_rev00", "", "logic_revision = 0x10\n", "Current Bridge revision: rev00\n" + TOO_LOW,
                 REFUSED},
        run_case{"halcyra_rev00_forced", "+f b.bit", "logic_revision = 0x10\n",
                 "Current Bridge revision: rev00\n" + TOO_LOW, REFUSED},
        run_case{"halcyra_rev01", "", "logic_revision = 0x11\nfail = clock\n",
                 "Current Bridge revision: rev01\n" + NO_DATE + FROM_CONTROL + NO_CLOCK, NO_CLOCK_CALLS},
        run_case{"perinel_rev00_gate", "", "board_type = 8\nlogic_revision = 0x10\n",
                 REV00 + "*** This utility requires Halcyra Bridge revision 01 or later.\n", REFUSED,
                 "R lib 7c 7e3061c|call close -> 0|"},
        run_case{"perinel_rev00_forced", "+f b.bit", "board_type = 8\nlogic_revision = 0x10\nfail = clock\n",
                 REV00 + NO_CLOCK, NO_CLOCK_CALLS},
        // The library path at the block's local address: every register write and read goes there.
        run_case{"perinel_block", "", "board_type = 8\nlocal_size = 0x1000000\nlocal_base = 0x20000000\n",
                 AT_ADDRESS + "0x20c00000\n" + full_run(8).substr(CHECKS.size()), RAN,
                 "W lib 20c0001e 9f|W lib 20c0001e 8f|W lib 20c0001e 9f|W lib 20c0001c 0|"},
        run_case{"perinel_mapped_programs", "", "board_type = 8\nlocal_size = 0x1000000\n",
                 AT_ADDRESS + "0xc00000\n" + full_run(8).substr(CHECKS.size()), RAN, "W map c0001e 9f|", 8,
                 path::mapped},
        run_case{"perinel_space_too_small", "", "board_type = 8\nlocal_size = 0x200000\n",
                 "*** Address space 1 is too small for the control register block (local size 0x200000)\n",
                 REFUSED},
        run_case{"id_printed_signed", "-card 4294967295 b.bit", "",
                 "*** Failed to open card with ID -1: no such card\n", "call open_id ffffffff -> 2001|"},
        run_case{"open_fails", "-index 0 b.bit", "fail = open\n",
                 "*** Failed to open card with index 0: injected failure\n", "call open_index 0 -> 2002|"},
        run_case{"card_info_fails", "", "fail = card_info\n",
                 "*** Failed to get card info: injected failure\n",
                 "call open_id 0 -> 0|call card_info -> 2002|" + CLOSE},
        run_case{"card_file_names_line_and_key", "", "colour = red\n",
                 "*** Failed to open card with ID 0: card file card.ini line 6: unknown key 'colour'\n", ""},
        run_case{"space_info_fails", "", "fail = space_info\n",
                 "*** Failed to get card info: injected failure\n",
                 "call open_id 0 -> 0|call card_info -> 0|call space_info 1 -> 2002|" + CLOSE},
        // The bitstream, the clock and the Flash's identity.
        run_case{"card_info_fails_in_loader", "", "fail = card_info:2\n", LOAD_FAILED + "injected failure\n",
                 opened() + "call card_info -> 2002|" + CLOSE},
        run_case{"bit_file_missing", UNICODE_FOLDER "/missing.bit", "",
                 CHECKS + "file " UNICODE_FOLDER "/missing.bit not found\n"
                          "*** Failed to load bitstream " UNICODE_FOLDER
                          "/missing.bit: file cannot be opened\n",
                 NOT_LOADED},
        run_case{"other_device", "", "", LOAD_FAILED + "file is built for another device\n", NOT_LOADED, "",
                 8, path::library, make_bit({{'b', bit_body("2v3000fg676")}}, {1, 2})},
        run_case{
            "over_the_flash", "", "",
            CHECKS + "*** Bitstream of 8388593 bytes does not fit in the Flash (at most 8388592 bytes)\n",
            NOT_LOADED, "", LARGEST + 1},
        run_case{"no_data", "", "", LOAD_FAILED + "file is unreadable or malformed\n", NOT_LOADED, "", 8,
                 path::library, test::bridge_bit({})},
        run_case{"cut_short", "", "",
                 CHECKS + "*** b.bit declares 8 data bytes but holds 5\n*** Failed to load bitstream b.bit: "
                          "file is unreadable or malformed\n",
                 NOT_LOADED, "", 8, path::library, cut_short(test::bridge_bit(test::pattern(8, 7)))},
        // Opened for reading only: a running program cannot be opened for writing.
        run_case{"running_utility_as_bit_file", SELF.c_str(), "",
                 CHECKS + "*** Failed to load bitstream " + SELF + ": file is unreadable or malformed\n",
                 NOT_LOADED},
        run_case{"vendor_ff", "", "flash_vendor = 0xff\n",
                 CHECKS + "Vendor ID = ff, Device ID = 17\nLock bit = 0\n" + NO_FLASH, RAN},
        run_case{"device_ff", "", "flash_device = 0xff\nflash_lock = 1\n",
                 CHECKS + "Vendor ID = 89, Device ID = ff\nLock bit = 1\n" + NO_FLASH, RAN},
        run_case{"window_short_of_the_space", "", "window = short\n", full_run(8), RAN, "W lib 1e 9f|"},
        // Library calls that fail: the build words read as 0, a failed status
        // read as busy, a failed read back as a difference.
        run_case{"build_time_read_fails", "", "fail = read:1\n",
                 "Current Bridge revision: rev02\n" + TIME_0 + FROM_ADDRESS, RAN,
                 "R lib 78 9050700 -> 2002|"},
        run_case{"build_date_read_fails_mapped", "", "fail = read:2\n",
                 "Current Bridge revision: rev02\n" + DATE_0 + FROM_ADDRESS, RAN, "", 8, path::mapped},
        run_case{"last_read_back_fails", "", "fail = read:" + LAST_READ + "\n",
                 verify_failed(8, mismatches("00", 23, 1), 1), RAN},
        // A pulse stops at its first failed write: the reset never reaches the bridge.
        run_case{"first_write_fails", "", "fail = write:1\n",
                 CHECKS + "Vendor ID = ff, Device ID = ff\nLock bit = ff\n" + NO_FLASH, RAN,
                 "W lib 1e 9f -> 2002|W lib 1c 0|"},
        // The Flash's own faults.
        run_case{"weak_byte", "", "weak = 3, 0x13\n", verify_failed(8, mismatches("ff", 19, 1), 1), RAN},
        run_case{"locked", "", "flash_lock = 1\n", verify_failed(8, mismatches("00", 0, 24), 24, LOCKED_IDS),
                 RAN},
        run_case{"slow", "", "busy_reads = 50\n", full_run(8), RAN},
        // A dot for every 256 data bytes.
        run_case{"n_255_no_dot", "", "", full_run(255), RAN, "", 255},
        // An interrupt while the Flash is rewritten: told at the next dot, acted on once it is verified.
        with(run_case{"interrupt_in_erase", "", "interrupt = erase:2\n",
                      CHECKS + IDS + "Erasing Flash...\n.\n" + HELD + std::string(63, '.') +
                          full_run(8).substr(full_run(8).find("\nProgramming")),
                      RAN},
             test::INTERRUPTED_STATUS),
        with(run_case{"quit_in_program", "", "interrupt = program:120\ninterrupt_signal = quit\n",
                      full_run(600).replace(full_run(600).find("Programming Flash...\n.") + 22, 0,
                                            "\n" + HELD),
                      RAN, "", 600},
             test::QUIT_STATUS),
        with(run_case{"held_line_without_a_dot", "", "interrupt = program:5\ninterrupt_signal = term\n",
                      full_run(8) + HELD, RAN},
             test::TERM_STATUS),
        // Before the first erase an interrupt ends the run: before the erase, at a backup's next block.
        with(run_case{"interrupt_before_the_erase", "", "interrupt = read:2\n", CHECKS + IDS + UNTOUCHED,
                      RAN},
             test::INTERRUPTED_STATUS),
        with(run_case{"interrupt_in_the_backup", "/backup old.bit b.bit",
                      "trace = none\ninterrupt = read:8388600\n", BACKED_UP + UNTOUCHED, ""},
             test::INTERRUPTED_STATUS, OLDER),
        run_case{"option_after_the_path", "b.bit /index 1", "",
                 "*** Option /index after the BIT file: options must come before it\n", ""},
        run_case{"no_bit_file", "/card 1", "", "Too few parameters supplied. Use sorvel /? to get help.\n",
                 ""},
        run_case{"list_with_an_index", "+list /index 1", "",
                 "*** /index cannot be used with +list: it lists every card\n", ""},
        run_case{
            "all_with_a_backup", "+all /backup old.bit b.bit", "",
            "*** /backup cannot be used with +all: one backup file cannot keep several cards: back them up "
            "one at a time\n",
            ""},
        // +fast: one block erased for 8 bytes; where the Flash lacks a buffer or a query, byte by
        // byte; a buffer that fails and a block that differs written again, byte by byte.
        run_case{"fast_without_a_buffer", "+fast b.bit", "write_buffer = 0\n",
                 CHECKS + IDS + "The Flash has no write buffer: programming byte by byte\n" + FAST_8, RAN,
                 "W lib 1c 40|"},
        run_case{"fast_without_a_query", "+fast b.bit", "query = off\n",
                 CHECKS + IDS + "The Flash does not answer the query: programming byte by byte\n" + FAST_8,
                 RAN, "bad flash 98|"},
        run_case{"fast_buffer_fails", "+fast b.bit", "fail_buffer = 1\n",
                 CHECKS + IDS + FAST_8 + "Block 0 written again, byte by byte\n", RAN, "W lib 1c 50|"},
        run_case{"fast_weak_byte", "+fast b.bit", "weak = 20\n",
                 CHECKS + IDS + FAST_8 + "Block 0 written again, byte by byte\n" + mismatches("ff", 20, 1) +
                     "*** Verify failed: 1 of 24 bytes differ\n",
                 RAN},
        with(run_case{"fast_interrupt_in_a_buffer", "+fast b.bit", "interrupt = program:1\n",
                      CHECKS + IDS + FAST_8 + HELD, RAN},
             test::INTERRUPTED_STATUS),
        // A compare writes nothing; where the Flash differs, 16 lines, the count and status 1.
        with(run_case{"compare_differs", "-write b.bit", "",
                      CHECKS + IDS + "Verifying Flash...\n" + mismatches("00", 0, 16) +
                          "\n*** Verify failed: 24 of 24 bytes differ\n",
                      RAN},
             1),
        // A backup is refused, before the erase, where it cannot be made whole. Reading
        // the whole Flash would trace some 100 million lines: no trace.
        run_case{"backup_exists", "/backup b.bit b.bit", "",
                 CHECKS + IDS + "*** Backup file b.bit already exists\n", RAN},
        run_case{
            "backup_through_a_file", "/backup b.bit/old.bit b.bit", "",
            CHECKS + IDS + "*** Cannot write the backup file b.bit/old.bit: " + test::not_a_folder() + "\n",
            RAN},
        run_case{"backup_lead_in_written", "/backup old.bit b.bit", "trace = none\n",
                 BACKED_UP + "*** The Flash's first 16 bytes are not erased: no .bit file can restore it\n",
                 ""},
        with(run_case{"backup_of_an_erased_flash", "/backup old.bit b.bit", "trace = none\n",
                      BACKED_UP + "The Flash is erased: nothing to back up, old.bit not written\n" +
                          full_run(8).substr(CHECKS.size() + IDS.size()),
                      ""},
             -1, std::vector<uint8_t>(64 * 0x20000, 0xFF))),
    [](const testing::TestParamInfo<run_case> &param_info) { return std::string(param_info.param.name); });

// The register traffic of steps in the notation of the Flash sequences:
// "cXX" a control code (three stores), "dXX" a data write, "r" a read; on
// the mapped path each store is followed by its read-back.
std::vector<std::string> traffic(path p, const std::string &steps) {
  const std::string on = p == path::mapped ? " map " : " lib ";
  std::vector<std::string> lines;
  auto store = [&](const char *reg, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, "W%s%s %x", on.c_str(), reg, value);
    lines.push_back(text);
    if (p == path::mapped) lines.push_back("R" + on + reg + " *");
  };
  std::istringstream words(steps);
  for (std::string step; words >> step;) {
    const unsigned value = step == "r" ? 0 : static_cast<unsigned>(std::stoul(step.substr(1), nullptr, 16));
    if (step[0] == 'c')
      for (unsigned v : {value | 0x10, value & 0xEF, value | 0x10})
        store("1e", v);
    else if (step[0] == 'd')
      store("1c", value);
    else
      lines.push_back("R" + on + "1c *");
  }
  return lines;
}

class Traffic : public testing::TestWithParam<path> {};

TEST_P(Traffic, EverySequenceReachesTheBusAsItsStepTableSays) {
  run r(GetParam(), "waveform = w.vcd\n");
  EXPECT_EQ(r.result.out, full_run(8));
  const std::string cycle = "c10 c14 c10 ", poll = "c95 r c90 c95 r c90 ";  // busy once, then ready
  std::string erase = "c97 c90 ", program = "c97 c90 ", verify = "dFF " + cycle + "c90 c97 c90 ";
  for (int k = 0; k < 64; ++k)
    erase += "d20 " + cycle + "c90 dD0 " + cycle + "c90 " + poll + "c92 c90 ";
  for (size_t k = 0; k < 24; ++k) {
    char data[8];
    std::snprintf(data, sizeof data, "d%x ", k < 16 ? 0xFF : test::reversed(r.data[k - 16]));
    program += "d40 " + cycle + data + "c14 c10 c90 " + poll + "c91 c90 ";
    verify += "c95 r c90 c91 c90 ";
  }
  const std::vector<std::string> expected =
      traffic(GetParam(),
              "c9F d0 c90 c8C c90 c97 c90 c93 c90 "  // set-up
              "c97 c90 d90 " +
                  cycle + "c90 c95 r c91 c90 c91 c90 c95 r c91 c90 c91 c90 c95 r c90 " +  // identity
                  erase + program + verify);
  std::vector<std::string> actual, seen;  // seen: each read's value as *
  for (const std::string &line : r.trace)
    if (line.find(" 1c ") != std::string::npos || line.find(" 1e ") != std::string::npos) {
      actual.push_back(line);
      seen.push_back(line[0] == 'R' ? line.substr(0, 9) + "*" : line);
    }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(r.stat("bytes_programmed"), 24u);
  EXPECT_EQ(r.stat("blocks_erased"), 64u);

  // The waveform of the same run: each register as written, each change once
  // and in order; the Flash's modes, busy for one status read each time.
  const vcd wave = read_vcd(r.dir.file("w.vcd"));
  std::map<std::string, std::vector<std::string>> written = {
      {"flash_ctrl", {"0"}}, {"flash_data", {"0"}}, {"strobe_n", {"0"}}};
  auto change = [&](const std::string &name, const std::string &value) {
    if (written[name].back() != value) written[name].push_back(value);
  };
  for (const std::string &line : actual) {
    if (line[0] != 'W') continue;
    const unsigned value = std::stoul(line.substr(9), nullptr, 16);
    change(line.substr(6, 2) == "1e" ? "flash_ctrl" : "flash_data", std::to_string(value));
    if (line.substr(6, 2) == "1e") change("strobe_n", std::to_string(value >> 4 & 1));
  }
  for (const auto &signal : written)
    EXPECT_EQ(wave.signals.at(signal.first), signal.second) << signal.first;
  std::vector<std::string> modes = {"read_array", "identifier"};
  for (int k = 0; k < 64 + 24; ++k)
    modes.insert(modes.end(), {k < 64 ? "erase_setup" : "program_setup", "busy", "status"});
  modes.push_back("read_array");
  EXPECT_EQ(wave.signals.at("flash_mode"), modes);
  EXPECT_EQ(wave.signals.at("enabled"), (std::vector<std::string>{"0", "1"}));
  EXPECT_TRUE(std::adjacent_find(wave.times.begin(), wave.times.end(), std::greater_equal<>()) ==
              wave.times.end());  // every access later than the one before
}

INSTANTIATE_TEST_SUITE_P(Paths, Traffic, testing::Values(path::library, path::mapped),
                         [](const testing::TestParamInfo<path> &param_info) {
                           return test::path_name(param_info.param);
                         });

// Every card of a host in view, read only: each card's checks, LCLK, the
// Flash's identity, then read array; no other data byte, no erase, no
// program. The Perinel on each register path.
class Listing : public testing::TestWithParam<path> {};

const std::string LIST_HEAD = "index  model         bridge  build date           control     path     Flash";

TEST_P(Listing, ShowsEveryCardAndWritesNothing) {
  const bool mapped = GetParam() == path::mapped;
  run r(path::library,
        "[card]\n[card]\nboard_type = 8\nlocal_size = 0x1000000\n" + test::window_line(GetParam()) +
            "[card]\nfail = open\n[card]\nboard_type = 6\n[card]\nlogic_revision = 0x10\n",
        {"+list"});
  EXPECT_EQ(
      r.result.out,
      LIST_HEAD +
          "\n"
          "    0  Halcyra       rev02   28/06/2019 09:05:07  0x0         library  vendor 89, device 17, "
          "lock 0\n"
          "    1  Perinel       rev02   28/06/2019 09:05:07  0xc00000    " +
          (mapped ? "mapped " : "library") +
          "  vendor 89, device 17, lock 0\n"
          "    2  -             -       -                    -           -        not opened: injected "
          "failure\n"
          "    3  board type 6  -       -                    -           -        refused: neither a Halcyra "
          "nor a Perinel\n"
          "    4  Halcyra       rev00   -                    0x0         library  refused: Current Bridge "
          "revision too low.\n"
          "No card at index 5: no such card\n");
  EXPECT_EQ(r.result.status, test::FAILED_STATUS);  // a card that cannot be opened
  const std::string identified =
      "call card_info -> 0|call space_info 1 -> 0|call clock 0 33000000 -> 0|" + CLOSE;
  EXPECT_EQ(r.joined("call "), "call open_index 0 -> 0|" + identified + "call open_index 1 -> 0|" +
                                   identified + "call open_index 2 -> 2002|call open_index 3 -> 0|" +
                                   "call card_info -> 0|" + CLOSE + "call open_index 4 -> 0|" +
                                   REFUSED.substr(REFUSED.find("|") + 1) +
                                   "call open_index 5 -> 2001|call open_index 6 -> 2001|");
  std::set<std::string> data;
  for (const std::string &line : r.trace)
    if (line[0] == 'W' && line.find("1c ") != std::string::npos)
      data.insert(line.substr(line.rfind(' ') + 1));
  EXPECT_EQ(data, (std::set<std::string>{"0", "90", "ff"}));
  EXPECT_EQ(r.stat("blocks_erased") + r.stat("bytes_programmed"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, Listing, testing::Values(path::library, path::mapped),
                         [](const testing::TestParamInfo<path> &param_info) {
                           return test::path_name(param_info.param);
                         });

// With a .bit file each card that a run would rewrite is compared with it,
// quietly: one holds it, one differs (1).
TEST(Runs, ListingComparesEveryCardWithTheFile) {
  run r(path::library, "[card]\n[card]\nflash_image = other.bin\n", {"-h"}, 8, {}, OLDER);
  test::write_file(r.dir.file("flash.bin"), programmed(r.data));
  const test::run_result listed = test::run_sorvel(r.dir.path(), {"+list", "b.bit"}, "card.ini");
  const std::string row =
      "Halcyra       rev02   28/06/2019 09:05:07  0x0         library  vendor 89, device 17, lock 0";
  EXPECT_EQ(listed.out, LIST_HEAD + ", and the file\n    0  " + row + ", holds the file\n    1  " + row +
                            ", differs in 24 of 24 bytes\nNo card at index 2: no such card\n");
  EXPECT_EQ(listed.status, 1);
}

// Every card brought up to date: one that holds the file left alone, one
// that differs rewritten, another model skipped, a refused one named; a
// failed rewrite ends the run and the card after it is not touched.
TEST(Runs, AllCardsUpdatedUntilARewriteFails) {
  std::string cards;
  const char *keys[] = {
      "", "fail = open\n", "board_type = 8\n", "board_type = 6\n", "logic_revision = 0x10\n", "weak = 20\n",
      ""};
  for (int k = 0; k < 7; ++k)
    cards += "[card]\nflash_image = c" + std::to_string(k) + ".bin\ntrace = t" + std::to_string(k) +
             ".txt\n" + keys[k];
  run r(path::library, cards, {"-h"});
  test::write_file(r.dir.file("c0.bin"), programmed(r.data));
  test::write_file(r.dir.file("c2.bin"), OLDER);
  const test::run_result all = test::run_sorvel(r.dir.path(), {"+all", "b.bit"}, "card.ini");
  const size_t second = all.out.find("== Card index 1");
  EXPECT_EQ(all.out.substr(second, all.out.find("The Flash differs") - second),
            "== Card index 1\n*** Failed to open card with index 1: injected failure\n== Card index 2\n" +
                CHECKS + IDS);
  EXPECT_EQ(all.out.substr(all.out.find("No card at index 7")),
            "No card at index 7: no such card\nSummary:\n"
            "    0  Halcyra       left alone: holds the file\n"
            "    1  -             not opened: injected failure\n"
            "    2  Perinel       rewritten and verified\n"
            "    3  board type 6  skipped: neither a Halcyra nor a Perinel\n"
            "    4  Halcyra       refused: Current Bridge revision too low.\n"
            "    5  Halcyra       failed: expected 0xc8 actual 0xff index 0x14\n"
            "    6  Halcyra       not tried\n");
  EXPECT_EQ(all.status, test::FAILED_STATUS);
  EXPECT_EQ(all.out.substr(0, all.out.find("== Card index 2")).find("Erasing"), std::string::npos);
  EXPECT_TRUE(test::read_file(r.dir.file("c0.bin")) == programmed(r.data));
  EXPECT_TRUE(test::read_file(r.dir.file("c2.bin")) == programmed(r.data));
  EXPECT_EQ(test::read_lines(r.dir.file("t6.txt")),
            (std::vector<std::string>{"call open_index 6 -> 0", "call card_info -> 0", "call close -> 0"}));
}

// /cards N: exactly indices 0 to N-1 are cards and index N must not open;
// +all checks that first and writes nothing when the host is otherwise.
TEST(Runs, CardsCountIsHeldAgainstTheHost) {
  run r(path::library,
        "[card]\nflash_image = c0.bin\n[card]\nflash_image = c1.bin\n[card]\nflash_image = c2.bin\n", {"-h"});
  const std::string row =
      "  Halcyra       rev02   28/06/2019 09:05:07  0x0         library  vendor 89, device 17, lock 0\n";
  const std::string listed = LIST_HEAD + "\n    0" + row + "    1" + row + "    2" + row;
  const std::string more = "*** A card answers at index 2: this host has more cards than /cards 2\n";
  const std::string untouched = "Nothing was written: the cards of this host are not as /cards ";
  const struct {
    std::vector<std::string> args;
    std::string out, calls;
    int status;
  } rows[] = {
      {{"/cards", "3", "+list"}, listed + "No card at index 3: no such card\n", "", 0},
      {{"/cards", "2", "+list"}, listed.substr(0, listed.rfind("    2")) + more, "", test::FAILED_STATUS},
      {{"/cards", "4", "+list"},
       listed + "*** No card at index 3: no such card (/cards 4)\nNo card at index 4: no such card\n",
       "",
       test::FAILED_STATUS},
      {{"/cards", "2", "+all", "b.bit"},
       more + untouched + "2 says\n",
       "call open_index 0 -> 0|call close -> 0|call open_index 1 -> 0|call close -> 0|call open_index 2 -> "
       "0|call close -> 0|",
       test::FAILED_STATUS},
      {{"/cards", "4", "+all", "b.bit"},
       "*** No card at index 3: no such card (/cards 4)\n" + untouched + "4 says\n",
       "",
       test::FAILED_STATUS},
      {{"/cards", "1", "b.bit"},
       "*** /cards can only be used with +list or +all: it is how many cards they take\n",
       "",
       test::FAILED_STATUS},
      {{"/cards", "0", "+list"},
       "*** /cards must be at least 1: it is how many cards this host has\n",
       "",
       test::FAILED_STATUS},
  };
  for (const auto &c : rows) {
    for (int k = 0; k < 3; ++k)
      test::write_file(r.dir.file("c" + std::to_string(k) + ".bin"), OLDER);
    std::filesystem::remove(r.dir.file("trace.txt"));
    const test::run_result counted = test::run_sorvel(r.dir.path(), c.args, "card.ini");
    EXPECT_EQ(counted.out, c.out) << c.args[1];
    EXPECT_EQ(counted.status, c.status) << c.args[1];
    r.trace = test::read_lines(r.dir.file("trace.txt"));
    EXPECT_TRUE(c.calls.empty() || r.joined("call ") == c.calls) << r.joined("call ");
    for (int k = 0; k < 3; ++k)
      EXPECT_TRUE(test::read_file(r.dir.file("c" + std::to_string(k) + ".bin")) == OLDER);
  }
  const test::run_result all = test::run_sorvel(r.dir.path(), {"/cards", "3", "+all", "b.bit"}, "card.ini");
  EXPECT_EQ(all.status, 0) << all.out;
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(test::read_file(r.dir.file("c" + std::to_string(k) + ".bin")) == programmed(r.data));
  // A fourth card of another model is no failure; one that the revision gate refuses is.
  const std::vector<uint8_t> three = test::read_file(r.dir.file("card.ini"));
  const struct {
    const char *card, *row;
    int status;
  } fourth[] = {{"board_type = 6\n", "board type 6  skipped: neither a Halcyra nor a Perinel", 0},
                {"board_type = 8\nlogic_revision = 0x10\n",
                 "Perinel       refused: This utility requires Halcyra Bridge revision 01 or later.",
                 test::FAILED_STATUS}};
  for (const auto &c : fourth) {
    test::write_text(r.dir.file("four.ini"), std::string(three.begin(), three.end()) + "[card]\n" + c.card);
    const test::run_result four = test::run_sorvel(r.dir.path(), {"+all", "b.bit"}, "four.ini");
    EXPECT_EQ(four.out.substr(four.out.find("    3  ")), "    3  " + std::string(c.row) + "\n");
    EXPECT_EQ(four.status, c.status);
  }
}

// +fast through the Flash's write buffer: the query, then 24 bytes in one
// chunk, on the bus exactly as their step tables say.
TEST(Runs, FastRunAsksTheQueryAndFillsTheBuffer) {
  run r(path::library, "", {"+fast", "b.bit"});
  EXPECT_EQ(r.result.out, CHECKS + IDS + FAST_8);
  const std::string cycle = "c10 c14 c10 ", poll = "c95 r c90 c95 r c90 ";
  std::string query = "c97 c90 d98 " + cycle + "c90 ",
              chunk = "c97 c90 dE8 " + cycle + "c90 c95 r c90 d17 " + cycle + "c90 ";
  for (int k = 0; k < 32; ++k)
    query += "c91 c90 ";
  for (int k = 0x10; k <= 0x30; ++k)
    query += k < 0x30 ? "c95 r c90 c91 c90 c91 c90 " : "c95 r c90 dFF " + cycle + "c90 ";
  for (size_t k = 0; k < 24; ++k) {
    char data[8];
    std::snprintf(data, sizeof data, "d%x ", k < 16 ? 0xFF : test::reversed(r.data[k - 16]));
    chunk += data + cycle + (k < 23 ? "c91 c90 " : "");
  }
  chunk += "dD0 " + cycle + "c90 " + poll + "c91 c90 ";
  const std::vector<std::string> expected =
      traffic(path::library,
              query + "c97 c90 d20 " + cycle + "c90 dD0 " + cycle + "c90 " + poll + "c92 c90 " + chunk);
  std::vector<std::string> seen;
  for (const std::string &line : r.trace)
    if (line.find(" 1c ") != std::string::npos || line.find(" 1e ") != std::string::npos)
      seen.push_back(line[0] == 'R' ? line.substr(0, 9) + "*" : line);
  const auto from = std::find(seen.begin(), seen.end(), "W lib 1c 98") - 6;  // c97 c90 before it
  EXPECT_EQ(std::vector<std::string>(from, from + static_cast<std::ptrdiff_t>(expected.size())), expected);
  EXPECT_EQ(r.stat("buffers_programmed") * 100 + r.stat("buffered_bytes"), 124u);
}

// +fast over several blocks: only the blocks the lead-in and the data
// occupy are erased, the ones after them keep what they held.
TEST(Runs, FastRunLeavesTheBlocksPastTheData) {
  const size_t n = 2 * 0x20000 + 100;
  std::vector<uint8_t> expected = test::pattern(64 * 0x20000, 3);
  run r(path::library, "trace = none\n", {"+fast", "b.bit"}, n, {}, expected);
  EXPECT_EQ(r.result.status, 0) << r.result.out;
  const std::vector<uint8_t> data = programmed(r.data);
  std::copy(data.begin(), data.begin() + 3 * 0x20000, expected.begin());
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == expected);
  EXPECT_EQ(r.stat("blocks_erased"), 3u);
  EXPECT_EQ(r.stat("buffers_programmed"), (16 + n + 31) / 32);
  EXPECT_EQ(r.stat("bytes_programmed"), 0u);
}

// The sample on the built-in card.
TEST(Runs, SampleOnTheBuiltInCard) {
  test::scratch_dir dir;
  std::filesystem::copy_file(test::host_path(SAMPLE_BIT), dir.file("sample.bit"));
  test::run_result r = test::run_sorvel(dir.path(), {"sample.bit"}, nullptr);
  EXPECT_EQ(r.out, full_run(707916));
  EXPECT_EQ(r.status, 0);
}

// The largest bitstream that fits behind the lead-in in the 64 erased
// blocks is programmed (one byte more: the row over_the_flash).
TEST(Runs, BitstreamLimitIsTheErasedBlocksLessTheLeadIn) {
  run fits(path::library, "trace = none\n", BIT, LARGEST);
  EXPECT_EQ(fits.result.out, full_run(LARGEST));
  EXPECT_TRUE(test::read_file(fits.dir.file("flash.bin")) == programmed(fits.data));
}

// The waveform stops at its limit: the set-up's first 12 register writes,
// then a comment that says so.
TEST(Runs, WaveformStopsAtItsLimit) {
  run r(path::library, "waveform = w.vcd\nwaveform_limit = 12\n");
  EXPECT_EQ(read_vcd(r.dir.file("w.vcd")).signals.at("flash_ctrl"),
            (std::vector<std::string>{"0", "159", "143", "159", "144", "128", "144", "156", "140", "156",
                                      "144", "128"}));
  EXPECT_EQ(test::read_lines(r.dir.file("w.vcd")).back(),
            "$comment recording stopped after 12 accesses $end");
}

// A backup made with a compare (the Flash other: 1) before another bitstream
// is programmed (the compare then 0), then programmed: the Flash as it began.
// The backup goes into a folder whose name no code page holds, and passes
// by the files of others that bear the names it would have chosen.
TEST(Runs, BackupPutsTheFlashBackExactly) {
  run first(path::library, "trace = none\n", {"-h"});
  const std::string folder = first.dir.file(UNICODE_FOLDER), backup = UNICODE_FOLDER "/old.bit";
  std::filesystem::create_directory(std::filesystem::u8path(folder));
  test::write_text(folder + "/old.bit.part", "notes\n");
  std::ptrdiff_t files = 2;  // with the backup
#if !defined(_WIN32)
  std::filesystem::create_symlink("../notes.txt", folder + "/old.bit.1.part");
  ++files;
#endif
  test::write_file(first.dir.file("flash.bin"), OLDER);
  const test::run_result kept =
      test::run_sorvel(first.dir.path(), {"/backup", backup, "-write", "b.bit"}, "card.ini");
  EXPECT_EQ(kept.status, 1) << kept.out;
  EXPECT_NE(kept.out.find("Flash kept in " + backup + " (1000 data bytes)\n"), std::string::npos);
  const std::vector<uint8_t> file = test::read_file(first.dir.file(backup));
  EXPECT_NE(std::string(file.begin(), file.end()).find("backup of card ID 0"), std::string::npos);
  EXPECT_EQ(test::read_lines(folder + "/old.bit.part"), std::vector<std::string>{"notes"});
  EXPECT_FALSE(std::filesystem::exists(first.dir.file("notes.txt")));
  EXPECT_EQ(test::run_sorvel(first.dir.path(), BIT, "card.ini").status, 0);
  EXPECT_EQ(test::run_sorvel(first.dir.path(), {"-write", "b.bit"}, "card.ini").status, 0);
  const test::run_result back = test::run_sorvel(first.dir.path(), {backup}, "card.ini");
  EXPECT_EQ(back.status, 0) << back.out;
  EXPECT_TRUE(test::read_file(first.dir.file("flash.bin")) == OLDER);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::u8path(folder)), {}), files);
}

// Every run that opened the log appends one line to it, whatever its end
// (the JSON itself is read by log_records.py, on Linux).
TEST(Runs, LogGetsOneWholeLineARun) {
  run r(path::library, "", {"/log", "run.log", "b.bit"});
  EXPECT_EQ(r.result.out, full_run(8));
  EXPECT_EQ(test::run_sorvel(r.dir.path(), {"/log", "run.log", "missing.bit"}, "card.ini").status,
            test::FAILED_STATUS);
  const std::vector<std::string> lines = test::read_lines(r.dir.file("run.log"));
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string &line : lines)
    EXPECT_TRUE(line.rfind("{\"time\": \"", 0) == 0 && line.back() == '}') << line;
  EXPECT_NE(lines[1].find("\"error\": \"*** Failed to load bitstream missing.bit"), std::string::npos);
}

// A log that names the .bit file (as typed, through a hard link), the backup
// file, or an existing .bit file is refused before any card call; a log
// created for that is removed again.
TEST(Runs, LogThatWouldHarmAnotherFileIsRefused) {
  run r(path::library, "", {"-h"});
  std::filesystem::create_hard_link(r.dir.file("b.bit"), r.dir.file("link.bit"));
  std::filesystem::copy_file(r.dir.file("b.bit"), r.dir.file("copy.bit"));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
    {{"/log", "b.bit", "b.bit"}, "b.bit: it is the BIT file"},
    {{"/log", "link.bit", "b.bit"}, "link.bit: it is the BIT file"},
    {{"/log", "copy.bit", "b.bit"}, "copy.bit: it holds a BIT file"},
    {{"/backup", "old.bit", "/log", "./old.bit", "b.bit"}, "./old.bit: it is the backup file"},
#if !defined(_WIN32)  // the lock is a mutex there
    {{"/log", std::getenv("SORVEL_LOCK"), "+list"},
     std::string(std::getenv("SORVEL_LOCK")) + ": it is the host lock file"},
#endif
  };
  for (const auto &c : cases) {
    const test::run_result refused = test::run_sorvel(r.dir.path(), c.first, "card.ini");
    EXPECT_EQ(refused.out, "*** Cannot open the log file " + c.second + "\n");
    EXPECT_EQ(refused.status, test::FAILED_STATUS);
  }
  r.trace = test::read_lines(r.dir.file("trace.txt"));
  EXPECT_EQ(r.joined("call "), "");
  r.expect_safe();
  EXPECT_TRUE(test::read_file(r.dir.file("copy.bit")) == r.bit);
  EXPECT_FALSE(std::filesystem::exists(r.dir.file("old.bit")));
}

#if defined(_WIN32)
// The host lock between two Windows processes, a named mutex: a second run is
// refused while the first (64 erases of 40 ms) holds it, which is unharmed.
TEST(Runs, SecondRunWhileTheFirstHoldsTheLockIsRefused) {
  run r(path::library, "trace = none\nbusy_ms = erase:40\n", {"-h"});
  test::write_text(r.dir.file("second.ini"), "[card]\ntrace = second.txt\n");
  std::wstring command = L"\"" + std::filesystem::u8path(test::host_path(SORVEL_EXE)).wstring() + L"\" b.bit";
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  PROCESS_INFORMATION first = {};
  test::set_env("KORVAN_SIM", "card.ini");
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                             std::filesystem::u8path(r.dir.path()).wstring().c_str(), &start, &first));
  Sleep(1000);
  const test::run_result refused = test::run_sorvel(r.dir.path(), BIT, "second.ini");
  WaitForSingleObject(first.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(first.hProcess, &status);
  CloseHandle(first.hThread);
  CloseHandle(first.hProcess);
  EXPECT_EQ(refused.out, "*** Another run of sorvel is using a card on this host: nothing was done\n");
  EXPECT_FALSE(std::filesystem::exists(r.dir.file("second.txt")));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == programmed(r.data));
}
#else
// A shell command in a run's folder, after the run itself: its card file,
// the .bit file of 8 bytes and a Flash that holds another bitstream.
test::run_result shell_run(const run &r, const std::string &command) {
  test::write_file(r.dir.file("flash.bin"), OLDER);
  return test::run_program("/bin/sh", r.dir.path(), {"-c", command}, "KORVAN_SIM", "card.ini");
}

// A closed output (a pipeline whose reader has gone): every write fails, the
// run goes on to the end, then ends by the interrupt it held.
TEST(Runs, ClosedOutputNeverEndsTheRun) {
  run r(path::library, "trace = none\ninterrupt = program:20\n", {"-h"});
  shell_run(r, "(" SORVEL_EXE " b.bit; echo \\$? >status.txt) | true");
  EXPECT_EQ(test::read_lines(r.dir.file("status.txt")), std::vector<std::string>{"130"});
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == programmed(r.data));
}

// Started with its standard descriptors closed, the run writes its backup
// and its log as with them open: the backup programs back exactly.
TEST(Runs, ClosedStandardDescriptorsTakeNoFile) {
  run r(path::library, "trace = none\n", {"-h"});
  EXPECT_EQ(shell_run(r, "exec " SORVEL_EXE " /backup ./old.bit /log run.log b.bit <&- >&- 2>&-").status, 0);
  for (const std::string &line : test::read_lines(r.dir.file("run.log")))
    EXPECT_EQ(line.substr(0, 2), "{\"");
  EXPECT_EQ(test::run_sorvel(r.dir.path(), {"old.bit"}, "card.ini").status, 0);
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == OLDER);
}

// A FIFO is never waited on: as the log without a reader, or as the .bit.
TEST(Runs, FifosAreRefusedAtOnce) {
  run r(path::library, "", {"-h"});
  const test::run_result log = shell_run(r, "mkfifo f && exec timeout 5 " SORVEL_EXE " /log f b.bit");
  EXPECT_EQ(log.out, "*** Cannot open the log file f: No such device or address\n");
  EXPECT_EQ(log.status, test::FAILED_STATUS);
  const test::run_result bit = shell_run(r, "exec timeout 5 " SORVEL_EXE " f");
  EXPECT_EQ(bit.out,
            CHECKS + "*** f is not a regular file\n*** Failed to load bitstream f: file cannot be opened\n");
  EXPECT_EQ(bit.status, test::FAILED_STATUS);
  r.trace = test::read_lines(r.dir.file("trace.txt"));
  EXPECT_EQ(r.joined("call "), NOT_LOADED);
}

// Before the erase an interrupt cuts short a call that waits (the card
// library opening a card file that is a FIFO), and the run ends by it.
TEST(Runs, InterruptEndsACallThatWaits) {
  run r(path::library, "", {"-h"});
  const std::pair<std::string, std::string> cases[] = {
      {"b.bit", "*** Failed to open card with ID 0: card file cards cannot be read\n" + UNTOUCHED},
      {"/cards 2 +all b.bit", UNTOUCHED}};  // in the inventory of the cards
  for (const auto &c : cases) {
    test::write_text(r.dir.file("cut.sh"),
                     "rm -f cards; mkfifo cards; " SORVEL_EXE " " + c.first +
                         " & run=$!\n"
                         "sleep 0.5; kill -TERM $run; (sleep 5; kill -KILL $run) >/dev/null 2>&1 &\n"
                         "wait $run\n");
    const test::run_result cut =
        test::run_program("/bin/sh", r.dir.path(), {"cut.sh"}, "KORVAN_SIM", "cards");
    EXPECT_EQ(cut.out, c.second) << c.first;
    EXPECT_EQ(cut.status, test::TERM_STATUS) << c.first;
  }
}

// After a rewrite of +all, an interrupt still cuts short the next card's
// open (the card file made a FIFO under it): no card after it is opened.
TEST(Runs, InterruptEndsTheNextCardsOpenAfterARewrite) {
  run r(path::library, "[card]\nbusy_ms = erase:10\n[card]\n", {"-h"});
  test::write_text(
      r.dir.file("cut.sh"),
      "rm trace.txt; " SORVEL_EXE
      " +all b.bit >out.txt & run=$!\n"
      "until grep -q clock trace.txt 2>/dev/null; do sleep 0.05; done; rm card.ini; mkfifo card.ini\n"
      "until grep -q close trace.txt; do sleep 0.05; done; sleep 0.3\n"
      "kill -TERM $run; (sleep 5; kill -KILL $run) >/dev/null 2>&1 &\n"
      "wait $run; echo $? >status.txt\n");
  shell_run(r, "sh cut.sh");
  const std::vector<std::string> out = test::read_lines(r.dir.file("out.txt"));
  EXPECT_EQ(std::vector<std::string>(out.end() - std::min<size_t>(out.size(), 3), out.end()),
            (std::vector<std::string>{"Summary:", "    0  Halcyra       rewritten and verified",
                                      "    -  cards after index 0 not looked at: interrupted"}));
  EXPECT_EQ(test::read_lines(r.dir.file("status.txt")), std::vector<std::string>{"143"});
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == programmed(r.data));
}

// The held line reaches a terminal that standard error shows when standard
// output goes elsewhere (a pipeline), and is shown once where both are it.
TEST(Runs, HeldLineReachesTheTerminalOfAPipeline) {
  run r(path::library, "trace = none\ninterrupt = program:5\n", {"-h"});
  for (const char *redirect : {" >out.txt", ""}) {
    shell_run(r, std::string("script -qec '" SORVEL_EXE " b.bit") + redirect + "' /dev/null >pty.txt");
    const std::vector<uint8_t> seen = test::read_file(r.dir.file("pty.txt"));
    std::string shown(seen.begin(), seen.end());
    shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());
    const size_t at = *redirect ? 0 : full_run(8).size();
    EXPECT_EQ(shown.find(HELD), at) << shown;
    EXPECT_EQ(shown.find(HELD, at + 1), std::string::npos) << shown;
  }
}

// A backup name the file system takes, too long for FILE.part: the run's own
// short temporary name in that folder.
TEST(Runs, BackupOfTheLongestNameIsWritten) {
  run r(path::library, "trace = none\n", {"-h"});
  const std::string name = std::string(251, 'n') + ".bit";
  const test::run_result kept = shell_run(r, "exec " SORVEL_EXE " /backup " + name + " -write b.bit");
  EXPECT_NE(kept.out.find("Flash kept in " + name + " (1000 data bytes)\n"), std::string::npos) << kept.out;
  EXPECT_TRUE(std::filesystem::exists(r.dir.file(name)));
  r.expect_safe();
}

// One run at a time on a host. While a first run holds the lock, a second is refused at once with no card
// call, also once the lock file is removed and made anew, and as another user; one with a lock of its own
// runs beside it; one that waits runs once the first ends, which is unharmed. An interrupt ends a wait; a
// holder killed with SIGKILL frees the lock at once.
TEST(Runs, OneRunAtATimeOnAHost) {
  run r(path::library, "trace = none\nbusy_ms = erase:40\n", {"-h"});  // 64 erases of 40 ms
  test::write_text(r.dir.file("lock.sh"), R"(export SORVEL_LOCK=$PWD/host.lock
cards() { printf '[card]\nflash_image = %s.bin\ntrace = %s.txt\n%s\n' $1 $1 "$2" >$1.ini; }
cards second; cards third; cards fourth; cards fifth; cards sixth 'busy_ms = erase:40'
s() { "$SORVEL" "$@"; echo $? >>statuses; }
"$SORVEL" b.bit >first.txt & first=$!; echo $first >first.pid; sleep 0.5
rm host.lock; : >host.lock  # "a stale lock cleared"
KORVAN_SIM=second.ini s b.bit >refused.txt
KORVAN_SIM=third.ini SORVEL_LOCK=$PWD/own.lock s b.bit >beside.txt
KORVAN_SIM=fourth.ini s /wait 20 b.bit >waited.txt
wait $first; echo $? >>statuses
export SORVEL_LOCK=$OTHER KORVAN_SIM=fifth.ini
umask 077  # the lock file is made readable by every user all the same
KORVAN_SIM=sixth.ini "$SORVEL" b.bit >/dev/null & holder=$!; echo $holder >holder.pid; sleep 0.5
setpriv --reuid=65534 --regid=65534 --clear-groups "$SORVEL" b.bit >user.txt
"$SORVEL" /wait 20 b.bit >cut.txt & waiter=$!
sleep 0.5; kill -TERM $waiter; wait $waiter; echo $? >>statuses
kill -KILL $holder; wait $holder
flock $OTHER sleep 2 & sleep 0.5; s b.bit >flocked.txt; wait  # a holder of the flock alone: another container
SORVEL_LOCK=$PWD s b.bit >folder.txt
s b.bit >freed.txt; rm -f $OTHER
)");
  shell_run(r, "SORVEL=" SORVEL_EXE " OTHER=/tmp/sorvel-other-user-" + std::to_string(getpid()) +
                   ".lock sh lock.sh");
  auto text = [&](const char *name) {
    const std::vector<uint8_t> bytes = test::read_file(r.dir.file(name));
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string first = test::read_lines(r.dir.file("first.pid")).at(0);
  const std::string taken = "*** Another run of sorvel is using a card on this host (process " + first + ")";
  EXPECT_EQ(test::read_lines(r.dir.file("statuses")),
            (std::vector<std::string>{"255", "0", "0", "0", "143", "255", "255", "0"}));
  EXPECT_EQ(test::read_lines(r.dir.file("refused.txt")),
            std::vector<std::string>{taken + ": nothing was done"});
  EXPECT_FALSE(std::filesystem::exists(r.dir.file("second.txt")));  // no card call
  EXPECT_EQ(text("beside.txt"), full_run(8));
  EXPECT_EQ(text("waited.txt"), taken.substr(4) + ": waiting up to 20 s\n" + full_run(8));
  EXPECT_EQ(text("first.txt"), full_run(8));
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == programmed(r.data));
  const std::vector<std::string> user = test::read_lines(r.dir.file("user.txt"));
  EXPECT_TRUE(user.size() == 1 &&
              user[0].rfind("*** Another run of sorvel is using a card on this host", 0) == 0);
  EXPECT_EQ(text("cut.txt"), "Another run of sorvel is using a card on this host (process " +
                                 test::read_lines(r.dir.file("holder.pid")).at(0) +
                                 "): waiting up to 20 s\n" + UNTOUCHED);
  EXPECT_EQ(text("freed.txt"), full_run(8));
  EXPECT_EQ(text("folder.txt"), "*** Cannot open the host lock " + r.dir.path() + ": not a regular file\n");
  EXPECT_EQ(text("flocked.txt").rfind("*** Another run of sorvel is using a card on this host (process ", 0),
            0u);
}

// A file-size limit is a write error: no file left, nothing erased.
TEST(Runs, BackupOverTheFileSizeLimitIsRefused) {
  run r(path::library, "trace = none\n", {"-h"});
  const test::run_result limited = shell_run(r, "ulimit -f 1; exec " SORVEL_EXE " /backup old.bit b.bit");
  EXPECT_EQ(limited.out, BACKED_UP + "*** Cannot write the backup file old.bit: File too large\n");
  EXPECT_EQ(limited.status, test::FAILED_STATUS);
  r.expect_safe();
  EXPECT_FALSE(std::filesystem::exists(r.dir.file("old.bit")));
  EXPECT_TRUE(test::read_file(r.dir.file("flash.bin")) == OLDER);
}
#endif

class PowerCut : public testing::TestWithParam<std::tuple<path, std::string>> {};

// Cut as the 37th byte program begins (the lead-in and 20 data bytes are
// in) or the 3rd block erase (2 blocks are erased): the image keeps what was
// done, the trace and the waveform are whole up to the access that cut it,
// and a clean run then mends the image.
TEST_P(PowerCut, ImageKeepsWhatWasDoneAndACleanRunMendsIt) {
  const path p = std::get<0>(GetParam());
  const bool program = std::get<1>(GetParam()) == "program";
  std::vector<uint8_t> expected = test::pattern(64 * 0x20000, 3);  // a Flash in use
  run cut(p,
          "busy_reads = 0\nwaveform = w.vcd\ncrash = " + std::string(program ? "program:37\n" : "erase:3\n"),
          BIT, 40, {}, expected);
  EXPECT_TRUE(cut.result.status != 0 && cut.result.status != test::FAILED_STATUS) << cut.result.status;
  // What the operator saw when the power failed: each phase is announced before it begins.
  EXPECT_EQ(cut.result.out,
            CHECKS + IDS + (program ? ERASED + "Programming Flash...\n" : "Erasing Flash...\n.."));
  EXPECT_EQ(cut.trace.back(), p == path::mapped ? "W map 1e 4" : "W lib 1e 4");
  const vcd wave = read_vcd(cut.dir.file("w.vcd"));
  EXPECT_EQ(wave.signals.at("flash_ctrl").back(), "20");  // 0x14, then the cut at 0x04
  EXPECT_EQ(wave.signals.at("flash_mode").back(), program ? "program_setup" : "erase_setup");
  std::fill(expected.begin(), expected.begin() + 2 * 0x20000, 0xFF);
  if (program) expected = programmed(std::vector<uint8_t>(cut.data.begin(), cut.data.begin() + 20));
  EXPECT_TRUE(test::read_file(cut.dir.file("flash.bin")) == expected);

  test::write_text(cut.dir.file("card.ini"), "[card]\nflash_image = flash.bin\n" + test::window_line(p));
  const test::run_result clean = test::run_sorvel(cut.dir.path(), BIT, "card.ini");
  EXPECT_EQ(clean.out, full_run(40));
  EXPECT_TRUE(test::read_file(cut.dir.file("flash.bin")) == programmed(cut.data));
}

INSTANTIATE_TEST_SUITE_P(Runs, PowerCut,
                         testing::Combine(testing::Values(path::library, path::mapped),
                                          testing::Values("program", "erase")),
                         [](const testing::TestParamInfo<std::tuple<path, std::string>> &param_info) {
                           return test::path_name(std::get<0>(param_info.param)) + "_" +
                                  std::get<1>(param_info.param);
                         });

}  // namespace
