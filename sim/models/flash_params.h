// What a simulated Flash is: its geometry, identity and faults, with the
// model's own defaults. A plain record: the card file fills one.
#pragma once

#include <cstdint>
#include <vector>

namespace ksim {

enum class flash_operation { none, erase, program, read };  // read: a byte presented

// What the Flash is: its geometry, identity and the faults it has.
struct flash_params {
  uint32_t blocks = 64;
  uint32_t blockSize = 0x20000;
  uint8_t vendor = 0x89;
  uint8_t device = 0x17;
  uint8_t lock = 0;  // 1: every erase and program fails
  uint32_t busyReads = 1;
  flash_operation stuck = flash_operation::none;  // never ready after this one
  std::vector<uint32_t> weak;                     // sorted byte addresses that do not program
  double busyMsErase = 0;  // busy at least this long after the confirm, whatever the host does
  double busyMsProgram = 0;
  uint32_t writeBuffer = 32;             // bytes of the write buffer, a power of two; 0: none
  bool answersQuery = true;              // false: Read Query is a command it does not know
  std::vector<uint64_t> failingBuffers;  // sorted N: the Nth confirmed buffer programs nothing
};

}  // namespace ksim
