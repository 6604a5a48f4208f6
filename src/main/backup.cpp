#include "backup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bitstream/bit_file.h"
#include "bitstream/bitstream.h"
#include "board/flash_ops.h"
#include "board/progress.h"
#include "platform/platform.h"

namespace {

constexpr int TEMPORARY_NAMES = 100;                       // FILE.part, FILE.1.part, ...
constexpr const char *SHORT_TEMPORARY = ".sorvel-backup";  // in FILE's folder, where FILE.part is too long

bool erased(uint8_t b) { return b == FLASH_ERASED_BYTE; }

std::string now(const char *format) {
  const std::time_t t = std::time(nullptr);
  char text[32] = "";
  const std::tm *local = std::localtime(&t);
  if (local != nullptr) std::strftime(text, sizeof text, format, local);
  return text;
}

bool refuse(const char *path, const std::string &reason) {
  say("*** Cannot write the backup file %s: %s\n", path, reason.c_str());
  return false;
}

// The first of base.part, base.1.part, ... that no file has; its name in *name.
FILE *create_numbered(const std::string &base, std::string *name, create_refusal *refusal,
                      std::string *reason) {
  *refusal = create_refusal::taken;
  for (int k = 0; k < TEMPORARY_NAMES && *refusal == create_refusal::taken; ++k) {
    *name = base + (k == 0 ? "" : "." + std::to_string(k)) + ".part";
    if (FILE *file = platform_create_new(name->c_str(), refusal, reason)) return file;
  }
  return nullptr;
}

// A new file beside path; where path's own temporary names are too long
// (a name the file system takes), one of the run's own in that folder.
FILE *create_temporary(const char *path, std::string *name, std::string *reason) {
  create_refusal refusal = create_refusal::none;
  FILE *file = create_numbered(path, name, &refusal, reason);
  if (file == nullptr && refusal == create_refusal::too_long)
    file = create_numbered(platform_folder_of(path) + SHORT_TEMPORARY, name, &refusal, reason);
  return file;
}

// The whole Flash, a block at a time; false when an interrupt came first.
bool read_flash(std::vector<uint8_t> *flash) {
  progress_announce("Reading Flash...\n");
  flash->resize(FLASH_BYTES);
  flash_read_from_start();
  for (uint32_t block = 0; block < FLASH_BLOCKS; ++block) {
    if (platform_interrupted()) break;
    flash_read_block(flash->data() + block * FLASH_BLOCK_BYTES);
  }
  progress_end_line();
  return !platform_interrupted();
}

// What the Flash holds behind the lead-in, the trailing erased bytes
// dropped, bit-reversed as a .bit file holds it; false when the Flash
// cannot be kept (the refusal printed) or an interrupt came.
bool read_kept(std::vector<uint8_t> *kept) {
  std::vector<uint8_t> flash;
  if (!read_flash(&flash)) return false;
  const auto data = flash.begin() + FLASH_LEAD_IN_BYTES;
  if (!std::all_of(flash.begin(), data, erased)) {
    say("*** The Flash's first %lu bytes are not erased: no .bit file can restore it\n",
        static_cast<unsigned long>(FLASH_LEAD_IN_BYTES));
    return false;
  }
  const auto end = std::find_if_not(flash.rbegin(), flash.rend(), erased).base();
  kept->assign(data, std::max(data, end));
  reverse_bits(kept->data(), static_cast<uint32_t>(kept->size()));
  return true;
}

bool write_bit(FILE *file, const std::vector<uint8_t> &kept, const char *cardName, std::string *reason) {
  const std::vector<uint8_t> bytes = make_bit({{'a', bit_body(std::string("backup of ") + cardName)},
                                               {'b', bit_body(BIT_DEVICE_NAME)},
                                               {'c', bit_body(now("%Y/%m/%d"))},
                                               {'d', bit_body(now("%H:%M:%S"))}},
                                              kept);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (!written) *reason = std::strerror(errno);
  return written;
}

}  // namespace

// The file is made under a temporary name before the Flash is read, so a
// name that cannot be written is refused at once; it is written, put on the
// disk and only then given its name. On every other way out it is removed.
bool back_up_flash(const char *path, const char *cardName) {
  std::string reason;
  const path_state state = platform_path_state(path, &reason);
  if (state == path_state::exists) {
    say("*** Backup file %s already exists\n", path);
    return false;
  }
  std::string temporary;
  FILE *file = state == path_state::missing ? create_temporary(path, &temporary, &reason) : nullptr;
  if (file == nullptr) return refuse(path, reason);
  std::vector<uint8_t> kept;
  const bool read = read_kept(&kept);
  bool written = read && !kept.empty() && write_bit(file, kept, cardName, &reason);
  written = platform_close_on_disk(file, &reason) && written;
  if (written && platform_claim_name(temporary.c_str(), path, &reason)) {
    say("Flash kept in %s (%lu data bytes)\n", path, static_cast<unsigned long>(kept.size()));
    return true;
  }
  platform_remove(temporary.c_str());
  if (read && kept.empty()) {
    say("The Flash is erased: nothing to back up, %s not written\n", path);
    return true;
  }
  return read && refuse(path, reason);
}
