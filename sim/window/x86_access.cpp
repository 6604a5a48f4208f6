#include "x86_access.h"

namespace ksim {

namespace {

// Bytes of the memory operand from the ModRM byte on: ModRM, SIB, displacement.
// 0 for a register operand, which cannot have faulted.
unsigned operand_length(const uint8_t *modrm) {
  const unsigned mod = modrm[0] >> 6;
  const unsigned rm = modrm[0] & 7;
  if (mod == 3) return 0;
  unsigned length = 1;
  if (rm == 4) {
    ++length;  // SIB
    if (mod == 0 && (modrm[1] & 7) == 5) length += 4;
  } else if (mod == 0 && rm == 5) {
    length += 4;  // RIP-relative in 64-bit code, an absolute address in 32-bit code
  }
  if (mod == 1) length += 1;
  if (mod == 2) length += 4;
  return length;
}

}  // namespace

bool decode_x86_access(const uint8_t *code, x86_mode mode, x86_access *access) {
  unsigned at = 0;
  const bool operand16 = code[at] == 0x66;
  if (operand16) ++at;
  uint8_t rex = 0;
  if (mode == x86_mode::bits64 && (code[at] & 0xF0) == 0x40) rex = code[at++];
  const bool wide = (rex & 0x08) != 0;
  const int regHigh = (rex & 0x04) != 0 ? 8 : 0;

  const uint8_t opcode = code[at++];
  x86_access a{0, false, -1, 0, load_kind::replace_low16};
  if (opcode == 0x89 || opcode == 0x8B || opcode == 0xC7) {
    if (!operand16 || wide) return false;
    a.store = opcode != 0x8B;
  } else if (opcode == 0x0F && (code[at] == 0xB7 || code[at] == 0xBF)) {
    if (operand16) return false;
    a.load = code[at] == 0xB7 ? load_kind::zero_extend
             : wide           ? load_kind::sign_extend_64
                              : load_kind::sign_extend_32;
    ++at;
  } else {
    return false;
  }
  const uint8_t *modrm = code + at;
  const unsigned operand = operand_length(modrm);
  if (operand == 0) return false;
  at += operand;
  if (opcode == 0xC7) {
    if (((modrm[0] >> 3) & 7) != 0) return false;
    a.immediate = static_cast<uint16_t>(code[at] | code[at + 1] << 8);
    at += 2;
  } else {
    a.reg = ((modrm[0] >> 3) & 7) + regHigh;
  }
  a.length = at;
  *access = a;
  return true;
}

uint64_t loaded_register(uint64_t previous, uint16_t value, load_kind kind) {
  switch (kind) {
  case load_kind::replace_low16: return (previous & ~uint64_t{0xFFFF}) | value;
  case load_kind::zero_extend: return value;
  case load_kind::sign_extend_32:
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(value)));
  case load_kind::sign_extend_64:
    return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(value)));
  }
  return previous;
}

}  // namespace ksim
