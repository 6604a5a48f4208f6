#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform.h"

void platform_sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int platform_seek(FILE *file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin);  // 0, or -1 on failure
}

int64_t platform_tell(FILE *file) { return static_cast<int64_t>(ftello(file)); }

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
