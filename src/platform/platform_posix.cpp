#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "posix_identity.h"

void platform_sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int platform_seek(FILE *file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin);  // 0, or -1 on failure
}

int64_t platform_tell(FILE *file) { return static_cast<int64_t>(ftello(file)); }

FILE *platform_fopen(const char *path, const char *mode) { return std::fopen(path, mode); }

void platform_guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // the lowest free: fd itself
      if (null >= 0 && null != fd) close(null);
    }
}

// Opened without waiting (a FIFO with no writer would hold the open), then
// waited on as usual once it is known to be a regular file.
FILE *platform_open_regular(const char *path, bool *notRegular) {
  *notRegular = false;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  *notRegular = fstat(fd, &info) == 0 && !S_ISREG(info.st_mode);
  FILE *file = nullptr;
  if (!*notRegular && fcntl(fd, F_SETFL, 0) == 0) file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

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

FILE *platform_create_new(const char *path, create_refusal *refusal, std::string *reason) {
  const int fd = create_exclusively(path);
  *refusal = fd >= 0                 ? create_refusal::none
             : errno == EEXIST       ? create_refusal::taken
             : errno == ENAMETOOLONG ? create_refusal::too_long
                                     : create_refusal::other;
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

std::string platform_folder_of(const char *path) {
  const std::string whole = path;
  return whole.substr(0, whole.rfind('/') + 1);  // "" when there is no '/'
}

file_identity platform_identity(const char *path) {
  struct stat info;
  return stat(path, &info) == 0 ? identity_of(info) : file_identity();
}

bool platform_same_place(const char *a, const char *b) {
  const std::string folderA = platform_folder_of(a), folderB = platform_folder_of(b);
  return std::strcmp(a + folderA.size(), b + folderB.size()) == 0 &&
         same_file(platform_identity(folderA.empty() ? "." : folderA.c_str()),
                   platform_identity(folderB.empty() ? "." : folderB.c_str()));
}

// A missing log is created exclusively, so that only a log this run made is
// ever removed again.
bool platform_open_log(const char *path, log_file *log, std::string *reason) {
  constexpr int FLAGS = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC;  // a FIFO without a reader: ENXIO
  int fd = open(path, FLAGS | O_CREAT | O_EXCL, 0644);
  log->created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = open(path, FLAGS);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || fcntl(fd, F_SETFL, O_APPEND) != 0) {
    *reason = reason_of(errno);
    if (fd >= 0) close(fd);
    if (log->created) unlink(path);
    return false;
  }
  log->handle = fd;
  log->disk = S_ISREG(info.st_mode);
  log->identity = identity_of(info);
  return true;
}

// Under the lock the end of the file is where the record goes; a record
// that cannot be written whole is cut off there again.
bool platform_append(const log_file &log, const std::string &record, std::string *reason) {
  const int fd = static_cast<int>(log.handle);
  struct stat before;
  const bool cuttable = log.disk && flock(fd, LOCK_EX) == 0 && fstat(fd, &before) == 0;
  int error = 0;
  for (size_t done = 0; done < record.size() && error == 0;) {  // the rest of a short write says why
    const ssize_t n = write(fd, record.data() + done, record.size() - done);
    error = n < 0 ? errno : n == 0 ? ENOSPC : 0;
    done += n > 0 ? static_cast<size_t>(n) : 0;
  }
  if (error == 0 && log.disk && fsync(fd) != 0) error = errno;
  if (error != 0 && cuttable) (void)ftruncate(fd, before.st_size);
  if (log.disk) (void)flock(fd, LOCK_UN);
  if (error != 0) *reason = reason_of(error);
  return error == 0;
}

void platform_close_log(log_file *log) {
  if (log->handle >= 0) close(static_cast<int>(log->handle));
  log->handle = -1;
}

void platform_start_output() {}
void platform_end_output() {}
void platform_flush_output() { std::fflush(stdout); }
bool platform_only_stderr_is_a_terminal() { return isatty(1) == 0 && isatty(2) != 0; }

namespace {

constexpr int NOTED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t held_signal = 0;  // the first that came

void note_signal(int signal) {
  if (held_signal == 0) held_signal = signal;
}

}  // namespace

namespace {

std::vector<int> noted;  // the signals whose handler is note_signal

void install(int flags) {
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  action.sa_handler = note_signal;
  for (int signal : noted)
    sigaction(signal, &action, nullptr);
}

}  // namespace

void platform_note_interrupts() {
  std::signal(SIGPIPE, SIG_IGN);  // the write fails with EPIPE
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG
  for (int signal : NOTED_SIGNALS) {
    struct sigaction previous = {};
    if (sigaction(signal, nullptr, &previous) == 0 && !(previous.sa_flags & SA_SIGINFO) &&
        previous.sa_handler == SIG_IGN)
      continue;
    noted.push_back(signal);
  }
  install(0);  // a call that waits fails with EINTR
}

void platform_restart_calls() { install(SA_RESTART); }
void platform_cut_calls_short() { install(0); }

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
