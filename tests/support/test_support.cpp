#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#define SHELL_START "cd /d \""
#define NUL_DEVICE "NUL"
#else
#include <sys/wait.h>
#include <unistd.h>
#define SHELL_START "cd \""
#define NUL_DEVICE "/dev/null"
#endif

namespace fs = std::filesystem;

namespace test {

namespace {

std::string without_cr(std::string text) {  // CR LF to LF; a lone CR stays, to be seen
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  return text;
}

std::string read_text(const std::string &path) {
  const std::vector<uint8_t> bytes = read_file(path);
  return without_cr({bytes.begin(), bytes.end()});
}

}  // namespace

// The first free number: making a folder is atomic, so no two tests, in one
// process or in several, get the same one. A name taken, even by a folder
// removed again before it could be looked at, is passed over.
scratch_dir::scratch_dir() {
  for (unsigned k = 0;; ++k) {
    root = (fs::temp_directory_path() / ("sorvel-test-" + std::to_string(k))).generic_string();
    std::error_code error;
    if (fs::create_directory(root, error)) return;
    if (error && error != std::errc::file_exists) throw fs::filesystem_error("scratch folder", root, error);
  }
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream out(fs::u8path(path), std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// At most READ_LIMIT bytes: a fault that makes a run print or trace
// gigabytes fails its test rather than fill the machine's memory.
std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream in(fs::u8path(path), std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min<std::streamoff>(size, READ_LIMIT)));
  in.seekg(0);
  in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

std::vector<std::string> read_lines(const std::string &path) {
  std::vector<std::string> lines;
  std::istringstream in(read_text(path));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::string captured_stdout() { return without_cr(testing::internal::GetCapturedStdout()); }

std::string host_path(const std::string &path) {
#if defined(_WIN32)
  return !path.empty() && path[0] == '/' ? "Z:" + path : path;
#else
  return path;
#endif
}

void set_env(const char *name, const char *value) {
#if defined(_WIN32)
  _putenv_s(name, value != nullptr ? value : "");
#else
  (void)(value != nullptr ? setenv(name, value, 1) : unsetenv(name));
#endif
}

std::string not_a_folder() {
#if defined(_WIN32)
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_PATH_NOT_FOUND, 0, text, sizeof text, nullptr);
  while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1])))
    --n;
  return std::string(text, n);
#else
  return std::strerror(ENOTDIR);
#endif
}

std::vector<uint8_t> bridge_bit(const std::vector<uint8_t> &data) {
  return make_bit({{'a', bit_body("top.ncd")}, {'b', bit_body("2v1500fg676")}, {'c', bit_body("2019/06/28")}},
                  data);
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  for (uint8_t &b : bytes)
    b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return bytes;
}

uint8_t reversed(uint8_t b) {
  uint8_t r = 0;
  for (int bit = 0; bit < 8; ++bit)
    r = static_cast<uint8_t>(r << 1 | (b >> bit & 1));
  return r;
}

// Through the system's shell, standard output and error to files in dir.
run_result run_program(const std::string &program, const std::string &dir,
                       const std::vector<std::string> &args, const char *variable, const char *value) {
  std::string command = SHELL_START + dir + "\" && (\"" + host_path(program) + "\"";
  for (const std::string &arg : args)
    command += " \"" + arg + "\"";
  command += " <" + std::string(NUL_DEVICE) + " >stdout.txt 2>stderr.txt)";  // the shell's "Quit" not in them
  if (variable != nullptr) set_env(variable, value);
#if defined(_WIN32)  // cmd takes the outer quotes away; the command in UTF-16, whatever the code page
  const int status = _wsystem(fs::u8path("\"" + command + "\"").wstring().c_str());
#else
  const int raw = std::system(command.c_str());
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
#endif
  if (variable != nullptr) set_env(variable, nullptr);
  return {status, read_text(dir + "/stdout.txt"), read_text(dir + "/stderr.txt")};
}

namespace {

// Every run of a test process takes a host lock of that process's own
// (SORVEL_LOCK), so suites side by side never refuse each other.
struct own_lock {  // named for the process as it starts, its file removed as it ends
  std::string name;
  own_lock() {
#if defined(_WIN32)
    name = "sorvel-test-" + std::to_string(GetCurrentProcessId());
#else
    name = (fs::temp_directory_path() / ("sorvel-test-" + std::to_string(getpid()) + ".lock")).string();
#endif
    set_env("SORVEL_LOCK", name.c_str());
  }
  ~own_lock() {
#if !defined(_WIN32)
    std::error_code ignored;
    fs::remove(name, ignored);
#endif
  }
} ownLock;

}  // namespace

std::string utility_in(const scratch_dir &dir, const std::string &libraryFolder) {
  const std::string copy = dir.file(fs::path(SORVEL_EXE).filename().string());
  fs::copy_file(host_path(SORVEL_EXE), copy);
  if (!libraryFolder.empty())
    fs::copy_file(host_path(libraryFolder + "/" + CARD_LIBRARY), dir.file(CARD_LIBRARY));
  return copy;
}

run_result run_sorvel(const std::string &dir, const std::vector<std::string> &args, const char *cardFile) {
  return run_program(SORVEL_EXE, dir, args, "KORVAN_SIM", cardFile);
}

}  // namespace test
