// SHA-1 (FIPS 180-2): a selectable digest, and the mixing step of the random pool.
#include "engine/byte_order.h"
#include "engine/digest.h"
#include "engine/hash_blocks.h"

#if defined(__x86_64__) || defined(__i386__)
#define VG_SHA_X86 1
#include <cpuid.h>
#include <immintrin.h>
#define VG_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))
#endif

namespace vg::hash {

#if defined(VG_SHA_X86)
namespace {

// The SHA extensions keep a message quad with its first word in the highest lane and the
// state as ABCD from the highest lane down, E alone in the highest lane of its register.
VG_SHA_TARGET __m128i LoadQuad(const uint32_t* w) {
  return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)), 0x1B);
}

template <int F>
VG_SHA_TARGET void FiveQuads(__m128i& abcd, __m128i& e, const __m128i* w, int first) {
  for (int g = first; g < first + 5; ++g) {
    const __m128i before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, g == 0 ? e : _mm_sha1nexte_epu32(e, w[g]), F);
    e = before;
  }
}

VG_SHA_TARGET void CompressShaNi(uint32_t h[5], const uint32_t m[16]) {
  __m128i w[20];
  for (int q = 0; q < 4; ++q) w[q] = LoadQuad(m + 4 * q);
  for (int g = 4; g < 20; ++g) {
    const __m128i t = _mm_xor_si128(_mm_sha1msg1_epu32(w[g - 4], w[g - 3]), w[g - 2]);
    w[g] = _mm_sha1msg2_epu32(t, w[g - 1]);
  }
  const __m128i abcdIn = LoadQuad(h);
  const __m128i eIn = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
  __m128i abcd = abcdIn;
  // The first quad adds E to its words itself; every later one through sha1nexte, from the
  // A of four rounds before.
  __m128i e = _mm_add_epi32(eIn, w[0]);
  FiveQuads<0>(abcd, e, w, 0);
  FiveQuads<1>(abcd, e, w, 5);
  FiveQuads<2>(abcd, e, w, 10);
  FiveQuads<3>(abcd, e, w, 15);
  e = _mm_sha1nexte_epu32(e, eIn);
  abcd = _mm_add_epi32(abcd, abcdIn);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
  h[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

bool ShaNiAvailable() {
  static const bool available = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & bit_SHA) != 0;
  }();
  return available;
}

}  // namespace
#endif

void Sha1CompressWords(uint32_t h[5], const uint32_t m[16]) {
#if defined(VG_SHA_X86)
  // The random pool runs a few hundred compressions for every file's IV: with the
  // processor's SHA instructions that is several times cheaper.
  if (ShaNiAvailable()) {
    CompressShaNi(h, m);
    return;
  }
#endif
  Sha1CompressWordsPortable(h, m);
}

void Sha1CompressWordsPortable(uint32_t h[5], const uint32_t m[16]) {
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
