#include "backup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bitstream/bit_file.h"
#include "bitstream/bitstream.h"
#include "board/flash_ops.h"
#include "board/progress.h"
#include "platform/platform.h"

namespace {

bool erased(uint8_t b) { return b == FLASH_ERASED_BYTE; }

std::string now(const char *format) {
  const std::time_t t = std::time(nullptr);
  char text[32] = "";
  const std::tm *local = std::localtime(&t);
  if (local != nullptr) std::strftime(text, sizeof text, format, local);
  return text;
}

// The whole Flash, a block at a time; false when an interrupt came first.
bool read_flash(std::vector<uint8_t> *flash) {
  std::fputs("Reading Flash...\n", stdout);
  std::fflush(stdout);
  flash->resize(FLASH_BYTES);
  flash_read_from_start();
  for (uint32_t block = 0; block < FLASH_BLOCKS; ++block) {
    if (platform_interrupted()) break;
    flash_read_block(flash->data() + block * FLASH_BLOCK_BYTES);
  }
  progress_end_line();
  return !platform_interrupted();
}

// Under a temporary name, on the disk, then renamed.
bool write_whole(const char *path, const std::vector<uint8_t> &bytes) {
  const std::string temporary = std::string(path) + ".part";
  FILE *file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (platform_close_on_disk(file) && written && platform_rename_new(temporary.c_str(), path)) return true;
  std::remove(temporary.c_str());
  return false;
}

}  // namespace

bool back_up_flash(const char *path, const char *cardName) {
  if (platform_file_exists(path)) {
    std::printf("*** Backup file %s already exists\n", path);
    return false;
  }
  std::vector<uint8_t> flash;
  if (!read_flash(&flash)) return false;
  const auto data = flash.begin() + FLASH_LEAD_IN_BYTES;
  if (!std::all_of(flash.begin(), data, erased)) {
    std::printf("*** The Flash's first %lu bytes are not erased: no .bit file can restore it\n",
                static_cast<unsigned long>(FLASH_LEAD_IN_BYTES));
    return false;
  }
  const auto end = std::find_if_not(flash.rbegin(), flash.rend(), erased).base();
  if (end <= data) {
    std::printf("The Flash is erased: nothing to back up, %s not written\n", path);
    return true;
  }
  std::vector<uint8_t> kept(data, end);
  reverse_bits(kept.data(), static_cast<uint32_t>(kept.size()));  // as a .bit file holds them
  const std::vector<uint8_t> file = make_bit({{'a', bit_body(std::string("backup of ") + cardName)},
                                              {'b', bit_body(BIT_DEVICE_NAME)},
                                              {'c', bit_body(now("%Y/%m/%d"))},
                                              {'d', bit_body(now("%H:%M:%S"))}},
                                             kept);
  if (!write_whole(path, file)) {
    std::printf("*** Cannot write the backup file %s\n", path);
    return false;
  }
  std::printf("Flash kept in %s (%lu data bytes)\n", path, static_cast<unsigned long>(kept.size()));
  return true;
}
