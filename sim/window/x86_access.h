// Decoding the x86 instructions that make 16-bit register accesses, in
// 64-bit and in 32-bit code, so that a caught access can be carried out by
// the model and stepped over without running it.
#pragma once

#include <cstdint>

namespace ksim {

// How a loaded 16-bit value reaches the destination register.
enum class load_kind { replace_low16, zero_extend, sign_extend_32, sign_extend_64 };

// The code the faulting instruction belongs to: 32-bit code has no REX
// prefix (0x40-0x4F are instructions of their own there).
enum class x86_mode { bits64, bits32 };

struct x86_access {
  unsigned length;  // bytes of the instruction
  bool store;
  int reg;  // register number 0-15 (rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi, r8-r15), -1 for an immediate
  uint16_t immediate;
  load_kind load;
};

// The forms taken: mov m16, r16 (66 89); mov m16, imm16 (66 C7 /0);
// mov r16, m16 (66 8B); movzx r32/r64, m16 (0F B7); movsx r32/r64, m16
// (0F BF); each with a memory operand (ModRM, SIB and displacement alike in
// both modes) and, in 64-bit code, an optional REX prefix. False for
// anything else, which is then let through by a single step.
bool decode_x86_access(const uint8_t *code, x86_mode mode, x86_access *access);

// The new value of a destination register after a load.
uint64_t loaded_register(uint64_t previous, uint16_t value, load_kind kind);

}  // namespace ksim
