#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host.h"

namespace ksim {

bool map_file(const std::string &path, size_t size, mapped_file *file, std::string *error) {
  const std::string name = "Flash image " + path;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = name + " cannot be opened";
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = name + " cannot be opened";
  } else if (static_cast<uint64_t>(info.st_size) > size) {
    *error = name + " is larger than the Flash";
  } else if (static_cast<uint64_t>(info.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    *error = name + " cannot be extended to the Flash's size";
  } else {
    void *bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (bytes != MAP_FAILED) {
      close(fd);  // the mapping keeps the file
      file->bytes = static_cast<uint8_t *>(bytes);
      file->size = size;
      return true;
    }
    *error = name + " cannot be mapped";
  }
  close(fd);
  return false;
}

void unmap_file(mapped_file *file) {
  if (file->bytes != nullptr) munmap(file->bytes, file->size);
  *file = mapped_file();
}

void power_cut() {
  kill(getpid(), SIGKILL);
  _exit(POWER_CUT_STATUS);  // not reached
}

void interrupt_process(interrupt_kind kind) {
  const int signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};  // by interrupt_kind
  kill(getpid(), signals[static_cast<int>(kind)]);           // delivered before kill returns
}

}  // namespace ksim
