#include "bitstream.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "board/korvan_library.h"
#include "board/progress.h"
#include "platform/platform.h"

namespace {

enum class walk_step { FIRST, KEY, DONE };

struct header_walk {
  uint8_t window[BIT_HEADER_WINDOW];
  uint32_t cursor = 0;
  uint32_t available = 0;
  uint64_t position = 0;
  uint64_t pendingSkip = 0;
  walk_step step = walk_step::FIRST;
  bool refill = true;
  uint32_t declaredLength = 0;  // behind the "e" key
  bit_notes *notes = nullptr;
};

uint32_t be16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t *p) { return be16(p) << 16 | be16(p + 2); }

void consume(header_walk &w, uint32_t count) {
  if (w.notes != nullptr) sha256_add(&w.notes->sha, w.window + w.cursor, count);
  w.cursor += count;
  w.available -= count;
  w.position += count;
}

// Moves the unconsumed bytes to the front of the window and reads behind
// them, never past the measured size: a file that grew since is not
// walked beyond it.
bool refill_window(header_walk &w, FILE *file, uint64_t fileSize) {
  std::memmove(w.window, w.window + w.cursor, w.available);
  const uint64_t unread = fileSize - (w.position + w.available);
  const uint64_t wanted = std::min<uint64_t>(BIT_HEADER_WINDOW - w.available, unread);
  const size_t got = std::fread(w.window + w.available, 1, static_cast<size_t>(wanted), file);  // 0 for 0
  if (got == 0) return false;
  w.cursor = 0;
  w.available += static_cast<uint32_t>(got);
  return true;
}

// The part name record: compared, lower-cased, with the bridge device.
bool is_bridge_device(const uint8_t *name, uint32_t length) {
  const char *device = BIT_DEVICE_NAME;
  for (uint32_t k = 0; k < length && name[k] != 0; ++k, ++device)
    if (std::tolower(name[k]) != *device) return false;  // the C locale: A to Z only
  return *device == '\0';
}

constexpr uint8_t reversed(uint8_t b) {
  uint8_t r = 0;
  for (int bit = 0; bit < 8; ++bit) {
    r = static_cast<uint8_t>(r << 1 | (b & 1));
    b = static_cast<uint8_t>(b >> 1);
  }
  return r;
}

constexpr std::array<uint8_t, 256> make_reverse_table() {
  std::array<uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b)
    table[b] = reversed(static_cast<uint8_t>(b));
  return table;
}

constexpr std::array<uint8_t, 256> REVERSED = make_reverse_table();
static_assert(REVERSED[0x01] == 0x80 && REVERSED[0x12] == 0x48 && REVERSED[0xC0] == 0x03,
              "bit 0 becomes bit 7");

}  // namespace

void reverse_bits(uint8_t *bytes, uint32_t count) {
  for (uint32_t k = 0; k < count; ++k)
    bytes[k] = REVERSED[bytes[k]];
}

korvan_status measure_bit_file(FILE *file, uint64_t *fileSize) {
  if (platform_seek(file, 0, SEEK_END) != 0) return BIT_MALFORMED;
  const int64_t size = platform_tell(file);
  if (size < 0 || size > 0xFFFFFFFFll || platform_seek(file, 0, SEEK_SET) != 0) return BIT_MALFORMED;
  *fileSize = static_cast<uint64_t>(size);
  return 0;
}

korvan_status parse_bit_header(FILE *file, uint64_t fileSize, const char *name, uint32_t *dataLength,
                               uint32_t *dataOffset, bit_notes *notes) {
  header_walk w;
  w.notes = notes;
  for (;;) {
    if (w.refill) {
      w.refill = false;
      if (!refill_window(w, file, fileSize)) return BIT_MALFORMED;
    }
    if (w.pendingSkip != 0) {
      uint32_t m = w.available < w.pendingSkip ? w.available : static_cast<uint32_t>(w.pendingSkip);
      consume(w, m);
      w.pendingSkip -= m;
      if (w.pendingSkip != 0) w.refill = true;
      continue;
    }
    const uint8_t *at = w.window + w.cursor;
    switch (w.step) {
    case walk_step::FIRST:
      if (w.available < 2) {
        w.refill = true;
        break;
      }
      w.pendingSkip = be16(at) + 2u;  // the first field and the second field
      consume(w, 2);
      w.step = walk_step::KEY;
      break;
    case walk_step::KEY: {
      if (w.available == 0) {
        w.refill = true;
        break;
      }
      const uint8_t key = at[0];
      if (key < 'a' || key > 'e') return BIT_MALFORMED;
      if (key == 'e') {
        if (w.available < 5) {
          w.refill = true;  // the length may straddle the window's end
          break;
        }
        w.declaredLength = be32(at + 1);
        consume(w, 5);
        w.step = walk_step::DONE;
        break;
      }
      if (w.available < 3) {
        w.refill = true;
        break;
      }
      const uint32_t length = be16(at + 1);
      if (key == 'b' && length >= 32) return BIT_MALFORMED;
      if (w.available < length + 3) {
        w.refill = true;  // taken up again from the key
        break;
      }
      if (key == 'b' && !is_bridge_device(at + 3, length)) return BIT_WRONG_DEVICE;
      if (notes != nullptr) {
        const char *body = reinterpret_cast<const char *>(at + 3);
        notes->facts.texts[key - 'a'] = std::string(body, std::find(body, body + length, '\0'));
      }
      consume(w, length + 3);
      break;
    }
    case walk_step::DONE: {
      // The data runs to the end of the file; a file that holds less than
      // its length declares was cut short (a length of 0 declares nothing).
      const uint64_t held = fileSize - w.position;
      if (w.declaredLength > held) {
        if (name != nullptr)
          say("*** %s declares %lu data bytes but holds %lu\n", name,
              static_cast<unsigned long>(w.declaredLength), static_cast<unsigned long>(held));
        return BIT_MALFORMED;
      }
      *dataOffset = static_cast<uint32_t>(w.position);
      *dataLength = static_cast<uint32_t>(held);
      return 0;
    }
    }
  }
}

namespace {

// The header walked, then the data read and bit-reversed into a new block.
korvan_status read_bitstream(FILE *file, uint64_t fileSize, const char *name, uint8_t **buffer,
                             uint32_t *length, bit_notes *notes) {
  uint32_t dataLength = 0;
  uint32_t dataOffset = 0;
  const korvan_status status = parse_bit_header(file, fileSize, name, &dataLength, &dataOffset, notes);
  if (status != 0) return status;
  // The block is the size of the whole file as measured, the data offset
  // longer than the data; only the first dataLength bytes are ever used.
  uint8_t *block = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(fileSize)));
  if (block == nullptr) return BIT_NO_MEMORY;
  // The whole measured data length must come in: never program bytes that
  // were not read.
  if (dataLength == 0 || platform_seek(file, dataOffset, SEEK_SET) != 0 ||
      std::fread(block, 1, dataLength, file) != dataLength) {
    std::free(block);
    return BIT_MALFORMED;
  }
  if (notes != nullptr) {  // the data runs to the measured end: the whole file is hashed
    sha256_add(&notes->sha, block, dataLength);
    notes->facts.fileBytes = fileSize;
    notes->facts.sha256 = sha256_hex(&notes->sha);
  }
  reverse_bits(block, dataLength);
  *buffer = block;
  *length = dataLength;
  return 0;
}

}  // namespace

korvan_status load_bitstream(korvan_card card, const char *path, uint8_t **buffer, uint32_t *length,
                             bit_facts *facts) {
  // The card is asked for its information although the device is fixed and
  // the record is not looked at: a card that cannot answer is refused here,
  // before the file is touched.
  card_info info;
  const korvan_status status = korvan.KORVAN2_GetCardInfo(card, &info);
  return status != 0 ? status : load_bit_file(path, buffer, length, facts);
}

korvan_status load_bit_file(const char *path, uint8_t **buffer, uint32_t *length, bit_facts *facts) {
  bool notRegular = false;
  FILE *file = platform_open_regular(path, &notRegular);
  if (file == nullptr) {
    if (notRegular)
      say("*** %s is not a regular file\n", path);
    else
      say("file %s not found\n", path);
    return BIT_CANNOT_OPEN;
  }
  uint64_t fileSize = 0;
  bit_notes notes;
  sha256_start(&notes.sha);
  korvan_status status = measure_bit_file(file, &fileSize);
  if (status == 0) status = read_bitstream(file, fileSize, path, buffer, length, facts ? &notes : nullptr);
  std::fclose(file);
  if (status == 0 && facts != nullptr) *facts = notes.facts;
  return status;
}
