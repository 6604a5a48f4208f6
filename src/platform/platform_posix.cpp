#include <dlfcn.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "platform.h"

void platform_sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int platform_seek(FILE *file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin);  // 0, or -1 on failure
}

int64_t platform_tell(FILE *file) { return static_cast<int64_t>(ftello(file)); }

bool platform_file_exists(const char *path) { return access(path, F_OK) == 0 || errno != ENOENT; }

bool platform_close_on_disk(FILE *file) {
  const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  return std::fclose(file) == 0 && flushed;
}

// A hard link fails on an existing name, where a rename would replace it.
bool platform_rename_new(const char *from, const char *to) {
  return link(from, to) == 0 && unlink(from) == 0;
}

namespace {

constexpr int NOTED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t held_signal = 0;  // the first that came

void note_signal(int signal) {
  if (held_signal == 0) held_signal = signal;
}

}  // namespace

void platform_note_interrupts() {
  std::signal(SIGPIPE, SIG_IGN);  // the write fails with EPIPE
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // no library call fails with EINTR
  action.sa_handler = note_signal;
  for (int signal : NOTED_SIGNALS) {
    struct sigaction previous = {};
    if (sigaction(signal, nullptr, &previous) == 0 && !(previous.sa_flags & SA_SIGINFO) &&
        previous.sa_handler == SIG_IGN)
      continue;
    sigaction(signal, &action, nullptr);
  }
}

bool platform_interrupted() { return held_signal != 0; }

void platform_end_if_interrupted() {
  const int signal = held_signal;
  if (signal == 0) return;
  std::fflush(stdout);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

namespace {

// The folder of the running program, with its trailing '/'; empty when it
// cannot be told.
std::string program_folder() {
  std::vector<char> path(4096);
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return "";
  const std::string whole(path.data(), static_cast<size_t>(n));
  return whole.substr(0, whole.rfind('/') + 1);
}

}  // namespace

void *platform_load_library(std::string *reason) {
  const std::string folder = program_folder();
  const std::string beside = folder + PLATFORM_CARD_LIBRARY;
  const bool ownCopy = !folder.empty() && access(beside.c_str(), F_OK) == 0;
  void *library = dlopen(ownCopy ? beside.c_str() : PLATFORM_CARD_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char *text = dlerror();
    *reason = text != nullptr ? text : "unknown error";
  }
  return library;
}

void *platform_library_entry(void *library, const char *name) { return dlsym(library, name); }
