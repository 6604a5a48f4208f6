// The host lock on POSIX: a flock on the lock file, and a listening
// abstract socket named after the file's path. Removing or replacing the
// file cannot free the socket, and the system lets go of both however the
// process ends. Between network namespaces (containers that share
// /run/lock) the flock alone is the lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform.h"
#include "posix_identity.h"
#include "record/sha256.h"

namespace {

constexpr int REOPENS = 10;  // a lock file replaced under the run again and again: taken as busy

// /run/lock where the system has it, else /tmp itself: never a folder of one user's.
std::string host_lock_name() {
  const char *named = std::getenv("SORVEL_LOCK");
  if (named != nullptr && *named != '\0') return named;
  struct stat info;
  return stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) ? "/run/lock/sorvel.lock"
                                                                : "/tmp/sorvel.lock";
}

// An existing lock file is opened without O_CREAT: a sticky folder may
// refuse creating over another user's file. A missing one is created
// exclusively and made readable by every user; reading is enough for flock.
int open_lock_file(const char *name, file_identity *identity, std::string *reason) {
  constexpr int FLAGS = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(name, FLAGS);
  if (fd < 0 && errno == ENOENT) {
    fd = open(name, FLAGS | O_CREAT | O_EXCL, 0644);
    if (fd >= 0)
      (void)fchmod(fd, 0644);  // whatever the umask
    else if (errno == EEXIST)
      fd = open(name, FLAGS);  // made by another run meanwhile
  }
  if (fd < 0) {
    *reason = std::strerror(errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *reason = "not a regular file";
    return -1;
  }
  *identity = identity_of(info);
  return fd;
}

// The socket's address: "sorvel-lock:" and the SHA-256 of the lock file's
// absolute path, in the abstract namespace (a leading NUL, no file).
socklen_t socket_address(const std::string &absolute, sockaddr_un *address) {
  sha256_state state;
  sha256_start(&state);
  sha256_add(&state, reinterpret_cast<const uint8_t *>(absolute.data()), absolute.size());
  const std::string name = "sorvel-lock:" + sha256_hex(&state);
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

std::string absolute_path(const std::string &name) {
  char *resolved = realpath(name.c_str(), nullptr);  // the file exists: it was just opened
  if (resolved != nullptr) {
    std::string out = resolved;
    std::free(resolved);
    return out;
  }
  if (name[0] == '/') return name;
  char *folder = getcwd(nullptr, 0);
  const std::string out = std::string(folder != nullptr ? folder : "") + "/" + name;
  std::free(folder);
  return out;
}

// The process that holds a flock on the file, from /proc/locks; 0 when unknown.
long flock_holder(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return 0;
  char file[64];
  std::snprintf(file, sizeof file, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (words >> number >> kind >> mode >> access >> pid >> where && kind == "FLOCK" && where == file &&
        pid > 0)
      return pid;  // a waiter's line has "->" where the kind is
  }
  return 0;
}

// The process listening on the socket, from a connection that is never
// accepted; 0 when unknown. Non-blocking: a full backlog never holds the run.
long socket_holder(const sockaddr_un &address, socklen_t length) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  long pid = 0;
  ucred peer = {};
  socklen_t size = sizeof peer;
  if (connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0 &&
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
    pid = peer.pid;
  close(fd);
  return pid;
}

// The flock on the file that the name still names: a file removed or
// replaced between the open and the flock would be a lock no other run sees.
bool take_flock(host_lock *lock, long *holder) {
  for (int attempt = 0; attempt < REOPENS; ++attempt) {
    std::string reason;
    if (lock->handle < 0) lock->handle = open_lock_file(lock->name.c_str(), &lock->identity, &reason);
    const int fd = static_cast<int>(lock->handle);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (holder != nullptr) *holder = flock_holder(fd);
      return false;
    }
    struct stat named;
    if (lstat(lock->name.c_str(), &named) == 0 && same_file(identity_of(named), lock->identity)) return true;
    close(fd);  // the flock goes with it
    lock->handle = -1;
  }
  return false;
}

}  // namespace

bool platform_open_host_lock(host_lock *lock, std::string *reason) {
  lock->name = host_lock_name();
  const int fd = open_lock_file(lock->name.c_str(), &lock->identity, reason);
  lock->handle = fd;
  return fd >= 0;
}

bool platform_try_host_lock(host_lock *lock, long *holder) {
  if (holder != nullptr) *holder = 0;
  if (!take_flock(lock, holder)) return false;
  sockaddr_un address;
  const socklen_t length = socket_address(absolute_path(lock->name), &address);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // Connections to it are never accepted: they only tell a refused run who holds it.
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0 &&
      listen(fd, SOMAXCONN) == 0) {
    lock->guard = fd;
    return true;
  }
  const bool taken = errno == EADDRINUSE;
  if (fd >= 0) close(fd);
  if (!taken) return true;  // no socket to be had (no permission to make one): the flock is the lock
  (void)flock(static_cast<int>(lock->handle), LOCK_UN);
  if (holder != nullptr) *holder = socket_holder(address, length);
  return false;
}

void platform_close_host_lock(host_lock *lock) {
  if (lock->guard >= 0) close(static_cast<int>(lock->guard));
  if (lock->handle >= 0) close(static_cast<int>(lock->handle));  // the flock goes with it
  lock->guard = lock->handle = -1;
}
