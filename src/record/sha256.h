// SHA-256 (FIPS 180-4), as sha256sum and Get-FileHash print it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct sha256_state {
  uint32_t h[8];
  uint8_t block[64];
  size_t used;     // bytes in block
  uint64_t total;  // bytes hashed
};

void sha256_start(sha256_state *state);
void sha256_add(sha256_state *state, const uint8_t *bytes, size_t n);
std::string sha256_hex(sha256_state *state);  // 64 lower-case digits; the state is spent
