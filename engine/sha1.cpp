// SHA-1 (FIPS 180-2): a selectable digest, and the mixing step of the random pool.
#include "engine/byte_order.h"
#include "engine/digest.h"
#include "engine/hash_blocks.h"

namespace vg::hash {

void Sha1CompressWords(uint32_t h[5], const uint32_t m[16]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = m[i];
  for (int i = 16; i < 80; ++i) w[i] = Rotl32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  // One loop per round function, so that none of them branches per step.
  auto step = [&](uint32_t f, uint32_t k, uint32_t wi) {
    const uint32_t t = Rotl32(a, 5) + f + e + k + wi;
    e = d;
    d = c;
    c = Rotl32(b, 30);
    b = a;
    a = t;
  };
  for (int i = 0; i < 20; ++i) step((b & c) | (~b & d), 0x5a827999, w[i]);
  for (int i = 20; i < 40; ++i) step(b ^ c ^ d, 0x6ed9eba1, w[i]);
  for (int i = 40; i < 60; ++i) step((b & c) | (b & d) | (c & d), 0x8f1bbcdc, w[i]);
  for (int i = 60; i < 80; ++i) step(b ^ c ^ d, 0xca62c1d6, w[i]);
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

void Sha1CompressBe(uint32_t h[5], const uint8_t* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadBe32(block + 4 * i);
  Sha1CompressWords(h, m);
}

}  // namespace vg::hash

void Sha1CompressLe(uint8_t state[20], const uint8_t block[64]) {
  uint32_t h[5];
  uint32_t m[16];
  for (int i = 0; i < 5; ++i) h[i] = vg::LoadLe32(state + 4 * i);
  for (int i = 0; i < 16; ++i) m[i] = vg::LoadLe32(block + 4 * i);
  vg::hash::Sha1CompressWords(h, m);
  for (int i = 0; i < 5; ++i) vg::StoreLe32(state + 4 * i, h[i]);
}
