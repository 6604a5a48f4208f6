// Helpers of the tests: scratch folders, files, .bit files made in memory,
// and runs of the built programs.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "bit_file.h"  // .bit files made in memory

namespace test {

struct scratch_dir {  // a fresh empty folder, removed with the object
  std::string root;
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  const std::string &path() const { return root; }
  std::string file(const std::string &name) const { return root + "/" + name; }
};

void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
inline void write_text(const std::string &path, const std::string &text) {
  write_file(path, {text.begin(), text.end()});
}
constexpr size_t READ_LIMIT = 32u << 20;                       // more than any run of the suite writes
std::vector<uint8_t> read_file(const std::string &path);       // at most READ_LIMIT bytes; paths in UTF-8
std::vector<std::string> read_lines(const std::string &path);  // without line ends
std::string captured_stdout();                                 // line ends as on Linux
std::string host_path(const std::string &path);                // under Wine, on drive Z:
void set_env(const char *name, const char *value);             // null: removed
std::string not_a_folder();  // the system's reason for a path that goes through a file

std::vector<uint8_t> bridge_bit(const std::vector<uint8_t> &data);  // for the bridge device
std::vector<uint8_t> pattern(size_t n, uint32_t seed = 1);
uint8_t reversed(uint8_t b);

inline const char *const USAGE =  // sorvel /?
    "Usage: sorvel [option ...] [BIT file]\n\n  BIT file = specify bitstream file (.BIT)\n\n"
    "      Option     Type       Default  Meaning\n\n"
    " /h /? /help                         Show this help\n"
    "        /sdk   string                Specify base directory of KORVAN SDK\n"
    "     /bitdir   string                Specify bitstream directory\n"
    "       /card     uint             0  ID of card to use\n"
    "      /index     uint             0  index of card to use\n"
    "        -/+f  boolean         FALSE  don't check Bridge revision\n"
    "    -/+write  boolean          TRUE  write the Flash (-write: compare only)\n"
    "     /backup   string                first save the Flash to this .bit file\n"
    "        /log   string                append a JSON record of this run to this file\n"
    "       /wait     uint             0  wait this many seconds for another run on this host\n"
    "     -/+list  boolean         FALSE  list every card on this host (with a BIT file: compare each)\n"
    "      -/+all  boolean         FALSE  bring every card on this host up to date with the BIT file\n"
    "      /cards     uint             0  how many cards this host has (+list, +all: each is tried)\n"
    "     -/+fast  boolean         FALSE  erase only the blocks needed, program through the Flash's write "
    "buffer\n";

// The utility's two register paths, and the card-file line that picks one.
enum class path { library, mapped };
inline std::string path_name(path p) {
  return p == path::mapped ? "mapped" : "library";
}  // "mapped": a trap case
inline void PrintTo(path p, std::ostream *os) { *os << path_name(p); }
inline std::string window_line(path p) { return p == path::mapped ? "window = full\n" : "window = none\n"; }

struct run_result {
  int status;
  std::string out;
  std::string err;
};
#if defined(_WIN32)
inline constexpr int FAILED_STATUS = -1;                                 // the status of a -1 exit
inline constexpr int INTERRUPTED_STATUS = static_cast<int>(0xC000013A);  // a console program ended by Ctrl-C
inline constexpr int QUIT_STATUS = INTERRUPTED_STATUS;                   // by Ctrl-Break
inline constexpr int TERM_STATUS = INTERRUPTED_STATUS;
inline const std::string CARD_LIBRARY = "korvan.dll";
#else
inline constexpr int FAILED_STATUS = 255;
inline constexpr int INTERRUPTED_STATUS = 128 + 2;  // ended by SIGINT, as the shell tells it
inline constexpr int QUIT_STATUS = 128 + 3;
inline constexpr int TERM_STATUS = 128 + 15;
inline const std::string CARD_LIBRARY = "libkorvan.so";
#endif

// A copy of the built utility in dir, with the card library of a folder
// beside it (none for ""); the copy's path.
std::string utility_in(const scratch_dir &dir, const std::string &libraryFolder);

// A program run in folder dir with one environment variable set (a null
// value: removed; a null name: none); the utility with KORVAN_SIM, relative
// to dir.
run_result run_program(const std::string &program, const std::string &dir,
                       const std::vector<std::string> &args, const char *variable, const char *value);
run_result run_sorvel(const std::string &dir, const std::vector<std::string> &args, const char *cardFile);

}  // namespace test
