// Helpers of the tests: scratch folders, files, .bit files made in memory,
// and whole runs of the built utility.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace test {

// A fresh empty folder for one test, removed with the object.
struct scratch_dir {
  std::string root;
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  const std::string &path() const { return root; }
  std::string file(const std::string &name) const { return root + "/" + name; }
};

void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_text(const std::string &path, const std::string &text);
std::vector<uint8_t> read_file(const std::string &path);
std::string read_text(const std::string &path);
std::vector<std::string> read_lines(const std::string &path);  // without line ends
// What a test captured of standard output, line ends as on Linux.
std::string captured_stdout();
// A path of the build machine as this program sees it (under Wine, on Z:).
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
std::vector<uint8_t> bridge_bit(const std::vector<uint8_t> &data);  // well formed, for the bridge device
std::vector<uint8_t> pattern(size_t n, uint32_t seed = 1);
uint8_t reversed(uint8_t b);

inline const char *const USAGE =  // sorvel /?
    "Usage: sorvel [option ...] BIT file\n\n  BIT file = specify bitstream file (.BIT)\n\n"
    "      Option     Type       Default  Meaning\n\n"
    " /h /? /help                         Show this help\n"
    "        /sdk   string                Specify base directory of KORVAN SDK\n"
    "     /bitdir   string                Specify bitstream directory\n"
    "       /card     uint             0  ID of card to use\n"
    "      /index     uint             0  index of card to use\n"
    "        -/+f  boolean         FALSE  don't check Bridge revision\n";

// The two register paths of the utility, and the card-file line that picks one.
enum class path { library, mapped };
inline void PrintTo(path p, std::ostream *os) { *os << (p == path::mapped ? "mapped" : "library"); }
inline std::string window_line(path p) { return p == path::mapped ? "window = full\n" : "window = none\n"; }

struct run_result {
  int status;
  std::string out;
  std::string err;
};
extern const int FAILED_STATUS;  // of a run that returned -1

// Runs a program in folder dir with one environment variable set (or, with
// a null value, removed); the utility with KORVAN_SIM, relative to dir.
run_result run_program(const std::string &program, const std::string &dir,
                       const std::vector<std::string> &args, const char *variable, const char *value);
run_result run_sorvel(const std::string &dir, const std::vector<std::string> &args, const char *cardFile);

}  // namespace test
