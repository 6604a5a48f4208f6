#include "sha256.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t rotr(uint32_t x, int n) { return x >> n | x << (32 - n); }

void compress(sha256_state *s, const uint8_t *block) {
  uint32_t w[64];
  for (int t = 0; t < 16; ++t)
    w[t] = uint32_t{block[4 * t]} << 24 | uint32_t{block[4 * t + 1]} << 16 | uint32_t{block[4 * t + 2]} << 8 |
           block[4 * t + 3];
  for (int t = 16; t < 64; ++t) {
    const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ w[t - 15] >> 3;
    const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ w[t - 2] >> 10;
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint32_t a = s->h[0], b = s->h[1], c = s->h[2], d = s->h[3], e = s->h[4], f = s->h[5], g = s->h[6],
           h = s->h[7];
  for (int t = 0; t < 64; ++t) {
    const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[t] + w[t];
    const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
  }
  const uint32_t out[8] = {a, b, c, d, e, f, g, h};
  for (int k = 0; k < 8; ++k)
    s->h[k] += out[k];
}

}  // namespace

void sha256_start(sha256_state *state) {
  const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(state->h, initial, sizeof initial);
  state->used = 0;
  state->total = 0;
}

void sha256_add(sha256_state *state, const uint8_t *bytes, size_t n) {
  state->total += n;
  while (n > 0) {
    const size_t take = n < 64 - state->used ? n : 64 - state->used;
    std::memcpy(state->block + state->used, bytes, take);
    state->used += take;
    bytes += take;
    n -= take;
    if (state->used == 64) {
      compress(state, state->block);
      state->used = 0;
    }
  }
}

std::string sha256_hex(sha256_state *state) {
  const uint64_t bits = state->total * 8;
  const uint8_t one = 0x80, zero = 0;
  sha256_add(state, &one, 1);
  while (state->used != 56)
    sha256_add(state, &zero, 1);
  uint8_t length[8];
  for (int k = 0; k < 8; ++k)
    length[k] = static_cast<uint8_t>(bits >> (56 - 8 * k));
  sha256_add(state, length, 8);
  std::string hex;
  for (const uint32_t word : state->h) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08lx", static_cast<unsigned long>(word));
    hex += digits;
  }
  return hex;
}
