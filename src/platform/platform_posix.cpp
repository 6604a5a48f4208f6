#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

FILE *platform_fopen(const char *path, const char *mode) { return std::fopen(path, mode); }

namespace {

std::string reason_of(int error) { return std::strerror(error); }

int create_exclusively(const char *path) {
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

// Where hard links cannot be made (FAT, many network and FUSE file
// systems): the name taken by a new empty file of the run's own, which the
// rename then replaces.
bool claim_by_placeholder(const char *from, const char *to) {
  const int placeholder = create_exclusively(to);
  if (placeholder < 0) return false;
  close(placeholder);
  if (rename(from, to) == 0) return true;
  const int error = errno;
  unlink(to);
  errno = error;
  return false;
}

bool no_hard_links(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS; }

// The folder's entry of the new name on the disk too; a folder that cannot
// be flushed (some network file systems) is let be.
void flush_folder(const char *path) {
  const std::string name = path;
  const size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

}  // namespace

path_state platform_path_state(const char *path, std::string *reason) {
  struct stat info;
  if (lstat(path, &info) == 0) return path_state::exists;
  if (errno == ENOENT) return path_state::missing;
  *reason = reason_of(errno);
  return path_state::unknown;
}

FILE *platform_create_new(const char *path, bool *taken, std::string *reason) {
  const int fd = create_exclusively(path);
  *taken = fd < 0 && errno == EEXIST;
  FILE *file = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (file == nullptr) {
    *reason = reason_of(errno);
    if (fd >= 0) {
      close(fd);
      unlink(path);
    }
  }
  return file;
}

bool platform_close_on_disk(FILE *file, std::string *reason) {
  int error = std::fflush(file) == 0 && fsync(fileno(file)) == 0 ? 0 : errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error != 0) *reason = reason_of(error);
  return error == 0;
}

// A hard link fails on an existing name, where a rename would replace it.
// Once it is made the file has its name: the temporary one is only tidied.
bool platform_claim_name(const char *from, const char *to, std::string *reason) {
  if (link(from, to) == 0) {
    (void)unlink(from);
  } else if (!no_hard_links(errno) || !claim_by_placeholder(from, to)) {
    *reason = reason_of(errno);
    return false;
  }
  flush_folder(to);
  return true;
}

void platform_remove(const char *path) { (void)unlink(path); }

intptr_t platform_open_log(const char *path, std::string *reason) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) *reason = reason_of(errno);
  return fd;
}

bool platform_append(intptr_t log, const std::string &record, std::string *reason) {
  const ssize_t n = write(static_cast<int>(log), record.data(), record.size());
  if (n >= 0 && static_cast<size_t>(n) != record.size()) errno = ENOSPC;  // cut short: the disk is full
  if (n < 0 || static_cast<size_t>(n) != record.size() || fsync(static_cast<int>(log)) != 0) {
    *reason = reason_of(errno);
    return false;
  }
  return true;
}

void platform_close_log(intptr_t log) { close(static_cast<int>(log)); }

void platform_start_output() {}
void platform_end_output() {}

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
