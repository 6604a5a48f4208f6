// Helpers of the tests: scratch folders, files, .bit files made in memory,
// card files, and whole runs of the built utility.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace test {

// A fresh empty folder for one test, removed with the object.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const;

 private:
  std::string path_;
};

void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_text(const std::string &path, const std::string &text);
std::vector<uint8_t> read_file(const std::string &path);
std::string read_text(const std::string &path);
std::vector<std::string> read_lines(const std::string &path);

// What a test captured of standard output, line ends as on Linux (the
// Windows runtime writes "\r\n" in text mode).
std::string captured_stdout();
std::string without_cr(const std::string &text);

// A path of the build machine as this program sees it (under Wine, Linux
// paths are on drive Z:).
std::string host_path(const std::string &path);

// Sets or, with null, removes a variable of this process's environment.
void set_env(const char *name, const char *value);

// A .bit file: first field, records in the order given, "e" and the data.
struct bit_record {
  char key;
  std::vector<uint8_t> body;  // behind the 2-byte length
};
std::vector<uint8_t> bit_body(const std::string &text, bool withNul = true);
std::vector<uint8_t> make_bit(const std::vector<bit_record> &records, const std::vector<uint8_t> &data);
// A well-formed file for the bridge device holding data.
std::vector<uint8_t> bridge_bit(const std::vector<uint8_t> &data);
std::vector<uint8_t> pattern(size_t n, uint32_t seed = 1);
uint8_t reversed(uint8_t b);

// The utility's own texts for the built-in card's defaults, as the tests
// expect them whole.
inline const char *const USAGE =  // sorvel /?
    "Usage: sorvel [option ...] BIT file\n"
    "\n"
    "  BIT file = specify bitstream file (.BIT)\n"
    "\n"
    "      Option     Type       Default  Meaning\n"
    "\n"
    " /h /? /help                         Show this help\n"
    "        /sdk   string                Specify base directory of KORVAN SDK\n"
    "     /bitdir   string                Specify bitstream directory\n"
    "       /card     uint             0  ID of card to use\n"
    "      /index     uint             0  index of card to use\n"
    "        -/+f  boolean         FALSE  don't check Bridge revision\n";
// The revision, build date and address lines of a rev02 Halcyra.
inline const std::string CHECKS =
    "Current Bridge revision: rev02\n"
    "Current bridge build date: 28/06/2019 09:05:07 (0x07e3061c_09050700)\n"
    "Control register local bus address: 0x0\n";
// The vendor, device and lock lines of the default Flash.
inline const std::string IDS = "Vendor ID = 89, Device ID = 17\nLock bit = 0\n";
// The erase heading and its 64 dots.
inline const std::string ERASED = "Erasing Flash...\n" + std::string(64, '.') + "\n";

// The two register paths of the utility, and the card file line that picks one.
enum class path { library, mapped };
inline void PrintTo(path p, std::ostream *os) { *os << (p == path::mapped ? "mapped" : "library"); }
inline std::string window_line(path p) { return p == path::mapped ? "window = full\n" : "window = none\n"; }

struct run_result {
  int status;
  std::string out;
  std::string err;
};

// The exit status of a run that returned -1.
extern const int FAILED_STATUS;

// Runs the built utility in folder dir with these arguments; KORVAN_SIM
// is cardFile (relative to dir), or unset when cardFile is null.
run_result run_sorvel(const std::string &dir, const std::vector<std::string> &args, const char *cardFile);
// Runs a program in folder dir with one environment variable set (or, with
// a null value, removed).
run_result run_program(const std::string &program, const std::string &dir,
                       const std::vector<std::string> &args, const char *variable, const char *value);

// Lines of a trace that match a prefix.
std::vector<std::string> lines_starting(const std::vector<std::string> &lines, const std::string &prefix);

// Counts of a stats file, by name.
uint64_t stat_value(const std::string &statsPath, const std::string &name);

}  // namespace test
