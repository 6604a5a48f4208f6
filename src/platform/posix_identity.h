// Which file a POSIX stat names: its device and inode, as every identity
// comparison of the POSIX platform files takes it.
#pragma once

#include <sys/stat.h>

#include "platform.h"

inline file_identity identity_of(const struct stat &info) {
  file_identity id;
  id.known = true;
  id.volume = static_cast<uint64_t>(info.st_dev);
  id.index = static_cast<uint64_t>(info.st_ino);
  return id;
}
