#include "platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/types.h>

#include <time.h>
#include <cerrno>
#endif

void platform_sleep_ms(uint32_t ms) {
#if defined(_WIN32)
  Sleep(ms);
#else
  struct timespec wait = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
#endif
}

// Unbuffered: the reader asks for exactly what it needs, so the header is
// one read of at most 1024 bytes and the data one read into its buffer.
FILE *platform_open_for_reading(const char *path) {
  FILE *file = std::fopen(path, "rb");
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

int platform_seek(FILE *file, int64_t offset, int origin) {
#if defined(_WIN32)
  return _fseeki64(file, offset, origin) == 0 ? 0 : -1;
#else
  return fseeko(file, static_cast<off_t>(offset), origin) == 0 ? 0 : -1;
#endif
}

int64_t platform_tell(FILE *file) {
#if defined(_WIN32)
  return _ftelli64(file);
#else
  return static_cast<int64_t>(ftello(file));
#endif
}
