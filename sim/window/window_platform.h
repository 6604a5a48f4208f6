// Between the window mechanism and the system it runs on: memory and page
// protection from the system, and the fault and step handling that the
// system's handlers call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksim {

// The saved registers of the faulting thread, in x86 numbering (eax/rax,
// ecx, edx, ebx, esp, ebp, esi, edi, then r8-r15 in 64-bit code, null in
// 32-bit code) and the instruction pointer.
struct cpu_registers {
  uintptr_t *reg[16];
  uintptr_t *ip;
};

// Provided by each system.
size_t page_bytes();                 // asked once, by the mechanism
void *reserve_window(size_t bytes);  // zeroed and read-write; null on failure
void release_window(void *base, size_t bytes);
void set_page_access(uint8_t *page, size_t bytes, bool open);
void install_fault_handlers();

// Called by the system's handlers. A fault at address: false when it is not
// in a watched page. Otherwise the access has been carried out (*step
// false), or the page opened for one single step (*step true).
bool handle_fault(void *address, bool write, cpu_registers *cpu, bool *step);
// After a single step: false when none was pending.
bool handle_step();

}  // namespace ksim
