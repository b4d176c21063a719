#pragma once
// The AES S-boxes and the combined round tables (SubBytes, ShiftRows and MixColumns in
// one lookup per byte), computed at compile time from the field arithmetic of FIPS 197.
// Internal to the engine.
#include <array>
#include <cstdint>

namespace vg::aes {

constexpr uint8_t XTime(uint8_t b) {
  return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00));
}

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

struct Tables {
  uint8_t sbox[256];
  uint8_t invSbox[256];
  uint32_t te[4][256];
  uint32_t td[4][256];
};

constexpr uint32_t RotR8(uint32_t x) {
  return (x >> 8) | (x << 24);
}

constexpr Tables MakeTables() {
  Tables t{};
  // Multiplicative inverses from powers of the generator 3.
  uint8_t pow[256] = {};
  uint8_t log[256] = {};
  uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    pow[i] = x;
    log[x] = static_cast<uint8_t>(i);
    x = static_cast<uint8_t>(x ^ XTime(x));
  }
  for (int v = 0; v < 256; ++v) {
    const uint8_t inv = v == 0 ? 0 : pow[(255 - log[v]) % 255];
    uint8_t s = inv;
    uint8_t r = inv;
    for (int k = 0; k < 4; ++k) {
      r = static_cast<uint8_t>((r << 1) | (r >> 7));
      s ^= r;
    }
    s ^= 0x63;
    t.sbox[v] = s;
    t.invSbox[s] = static_cast<uint8_t>(v);
  }
  for (int v = 0; v < 256; ++v) {
    const uint8_t s = t.sbox[v];
    const uint32_t e = (uint32_t{Mul(s, 2)} << 24) | (uint32_t{s} << 16) | (uint32_t{s} << 8) |
                       uint32_t{Mul(s, 3)};
    const uint8_t i = t.invSbox[v];
    const uint32_t d = (uint32_t{Mul(i, 14)} << 24) | (uint32_t{Mul(i, 9)} << 16) |
                       (uint32_t{Mul(i, 13)} << 8) | uint32_t{Mul(i, 11)};
    t.te[0][v] = e;
    t.te[1][v] = RotR8(e);
    t.te[2][v] = RotR8(RotR8(e));
    t.te[3][v] = RotR8(RotR8(RotR8(e)));
    t.td[0][v] = d;
    t.td[1][v] = RotR8(d);
    t.td[2][v] = RotR8(RotR8(d));
    t.td[3][v] = RotR8(RotR8(RotR8(d)));
  }
  return t;
}

inline constexpr Tables kTables = MakeTables();

}  // namespace vg::aes
