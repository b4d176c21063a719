#include "engine/aes_hw.h"

#include <cstdlib>

// Every function that touches the AES instructions carries VG_AES_TARGET, so the rest of
// the program stays runnable on processors without them. x86 has AES-NI; 64-bit ARM has
// the ARMv8 cryptographic extension; elsewhere the table path in block_cipher.cpp serves
// and Available() is false.
#if defined(__x86_64__) || defined(__i386__)
#define VG_AES_X86 1
#include <immintrin.h>
#define VG_AES_TARGET __attribute__((target("aes,sse2,sse4.1")))
#elif defined(__aarch64__) && defined(__linux__)
#define VG_AES_ARM 1
#include <arm_neon.h>
#include <sys/auxv.h>
#define VG_AES_TARGET __attribute__((target("+crypto")))
#endif

namespace vg::aeshw {

#if defined(VG_AES_X86)
namespace {

template <int R>
struct Keys {
  __m128i k[size_t{R} + 1];
  VG_AES_TARGET explicit Keys(const uint8_t* bytes) {
    for (size_t i = 0; i <= R; ++i) {
      k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
    }
  }
};

VG_AES_TARGET inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

VG_AES_TARGET inline void Store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int R>
VG_AES_TARGET inline __m128i Enc(const Keys<R>& ks, __m128i x) {
  x = _mm_xor_si128(x, ks.k[0]);
  for (int r = 1; r < R; ++r) x = _mm_aesenc_si128(x, ks.k[r]);
  return _mm_aesenclast_si128(x, ks.k[R]);
}

template <int R>
VG_AES_TARGET inline __m128i Dec(const Keys<R>& ks, __m128i x) {
  x = _mm_xor_si128(x, ks.k[0]);
  for (int r = 1; r < R; ++r) x = _mm_aesdec_si128(x, ks.k[r]);
  return _mm_aesdeclast_si128(x, ks.k[R]);
}

// Eight independent blocks at once keep the AES unit's pipeline full.
template <int R, bool Decrypting>
VG_AES_TARGET inline void Rounds8(const Keys<R>& ks, __m128i x[8]) {
  for (int i = 0; i < 8; ++i) x[i] = _mm_xor_si128(x[i], ks.k[0]);
  for (int r = 1; r < R; ++r) {
    for (int i = 0; i < 8; ++i) {
      x[i] = Decrypting ? _mm_aesdec_si128(x[i], ks.k[r]) : _mm_aesenc_si128(x[i], ks.k[r]);
    }
  }
  for (int i = 0; i < 8; ++i) {
    x[i] = Decrypting ? _mm_aesdeclast_si128(x[i], ks.k[R]) : _mm_aesenclast_si128(x[i], ks.k[R]);
  }
}

template <int R, bool Decrypting>
VG_AES_TARGET void EcbT(const uint8_t* keys, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<R> ks(keys);
  __m128i x[8];
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    for (int i = 0; i < 8; ++i) x[i] = Load(in + 16 * i);
    Rounds8<R, Decrypting>(ks, x);
    for (int i = 0; i < 8; ++i) Store(out + 16 * i, x[i]);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    Store(out, Decrypting ? Dec<R>(ks, Load(in)) : Enc<R>(ks, Load(in)));
  }
}

template <int R>
VG_AES_TARGET void EncryptCbcT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  __m128i c = Load(chain);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    // Each block waits for the one before; the plain text's XOR with the first round
    // key does not, so it is done off that chain.
    c = _mm_xor_si128(c, _mm_xor_si128(Load(in), ks.k[0]));
    for (int r = 1; r < R; ++r) c = _mm_aesenc_si128(c, ks.k[r]);
    c = _mm_aesenclast_si128(c, ks.k[R]);
    Store(out, c);
  }
  Store(chain, c);
}

template <int R>
VG_AES_TARGET void DecryptCbcT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  __m128i prev = Load(chain);
  __m128i c[8];
  __m128i x[8];
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    for (int i = 0; i < 8; ++i) x[i] = c[i] = Load(in + 16 * i);
    Rounds8<R, true>(ks, x);
    Store(out, _mm_xor_si128(x[0], prev));
    for (int i = 1; i < 8; ++i) Store(out + 16 * i, _mm_xor_si128(x[i], c[i - 1]));
    prev = c[7];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i ct = Load(in);
    Store(out, _mm_xor_si128(Dec<R>(ks, ct), prev));
    prev = ct;
  }
  Store(chain, prev);
}

template <int R>
VG_AES_TARGET void EncryptCfbT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  __m128i c = Load(chain);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    // The XOR with the plain text folds into the last round's key, off the chain.
    __m128i x = _mm_xor_si128(c, ks.k[0]);
    for (int r = 1; r < R; ++r) x = _mm_aesenc_si128(x, ks.k[r]);
    c = _mm_aesenclast_si128(x, _mm_xor_si128(ks.k[R], Load(in)));
    Store(out, c);
  }
  Store(chain, c);
}

template <int R>
VG_AES_TARGET void DecryptCfbT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  __m128i prev = Load(chain);
  __m128i c[8];
  __m128i x[8];
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    for (int i = 0; i < 8; ++i) c[i] = Load(in + 16 * i);
    x[0] = prev;
    for (int i = 1; i < 8; ++i) x[i] = c[i - 1];
    Rounds8<R, false>(ks, x);
    for (int i = 0; i < 8; ++i) Store(out + 16 * i, _mm_xor_si128(x[i], c[i]));
    prev = c[7];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i ct = Load(in);
    Store(out, _mm_xor_si128(Enc<R>(ks, prev), ct));
    prev = ct;
  }
  Store(chain, prev);
}

}  // namespace

bool Available() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
  }();
  return available;
}

#elif defined(VG_AES_ARM)
namespace {

// AESE is AddRoundKey, SubBytes and ShiftRows; AESMC is MixColumns. So the first round key
// goes in with the first AESE and the last is XORed after the final AESE. Decryption is
// the same shape with AESD and AESIMC over the equivalent inverse cipher's keys.
template <int R>
struct Keys {
  uint8x16_t k[size_t{R} + 1];
  VG_AES_TARGET explicit Keys(const uint8_t* bytes) {
    for (size_t i = 0; i <= R; ++i) k[i] = vld1q_u8(bytes + 16 * i);
  }
};

template <int R, bool Decrypting>
VG_AES_TARGET inline uint8x16_t Block(const Keys<R>& ks, uint8x16_t x) {
  for (int r = 0; r < R - 1; ++r) {
    x = Decrypting ? vaesimcq_u8(vaesdq_u8(x, ks.k[r])) : vaesmcq_u8(vaeseq_u8(x, ks.k[r]));
  }
  x = Decrypting ? vaesdq_u8(x, ks.k[R - 1]) : vaeseq_u8(x, ks.k[R - 1]);
  return veorq_u8(x, ks.k[R]);
}

// Eight independent blocks at once keep the AES unit's pipeline full.
template <int R, bool Decrypting>
VG_AES_TARGET inline void Rounds8(const Keys<R>& ks, uint8x16_t x[8]) {
  for (int r = 0; r < R - 1; ++r) {
    for (int i = 0; i < 8; ++i) {
      x[i] =
          Decrypting ? vaesimcq_u8(vaesdq_u8(x[i], ks.k[r])) : vaesmcq_u8(vaeseq_u8(x[i], ks.k[r]));
    }
  }
  for (int i = 0; i < 8; ++i) {
    x[i] =
        veorq_u8(Decrypting ? vaesdq_u8(x[i], ks.k[R - 1]) : vaeseq_u8(x[i], ks.k[R - 1]), ks.k[R]);
  }
}

template <int R, bool Decrypting>
VG_AES_TARGET void EcbT(const uint8_t* keys, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<R> ks(keys);
  uint8x16_t x[8];
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    for (int i = 0; i < 8; ++i) x[i] = vld1q_u8(in + 16 * i);
    Rounds8<R, Decrypting>(ks, x);
    for (int i = 0; i < 8; ++i) vst1q_u8(out + 16 * i, x[i]);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    vst1q_u8(out, Block<R, Decrypting>(ks, vld1q_u8(in)));
  }
}

template <int R>
VG_AES_TARGET void EncryptCbcT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  uint8x16_t c = vld1q_u8(chain);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    c = Block<R, false>(ks, veorq_u8(c, vld1q_u8(in)));
    vst1q_u8(out, c);
  }
  vst1q_u8(chain, c);
}

template <int R>
VG_AES_TARGET void DecryptCbcT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  uint8x16_t prev = vld1q_u8(chain);
  uint8x16_t c[8];
  uint8x16_t x[8];
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    for (int i = 0; i < 8; ++i) x[i] = c[i] = vld1q_u8(in + 16 * i);
    Rounds8<R, true>(ks, x);
    vst1q_u8(out, veorq_u8(x[0], prev));
    for (int i = 1; i < 8; ++i) vst1q_u8(out + 16 * i, veorq_u8(x[i], c[i - 1]));
    prev = c[7];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const uint8x16_t ct = vld1q_u8(in);
    vst1q_u8(out, veorq_u8(Block<R, true>(ks, ct), prev));
    prev = ct;
  }
  vst1q_u8(chain, prev);
}

template <int R>
VG_AES_TARGET void EncryptCfbT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  uint8x16_t c = vld1q_u8(chain);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    c = veorq_u8(Block<R, false>(ks, c), vld1q_u8(in));
    vst1q_u8(out, c);
  }
  vst1q_u8(chain, c);
}

template <int R>
VG_AES_TARGET void DecryptCfbT(const uint8_t* keys, uint8_t* chain, const uint8_t* in, uint8_t* out,
                               size_t blocks) {
  const Keys<R> ks(keys);
  uint8x16_t prev = vld1q_u8(chain);
  uint8x16_t c[8];
  uint8x16_t x[8];
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    for (int i = 0; i < 8; ++i) c[i] = vld1q_u8(in + 16 * i);
    x[0] = prev;
    for (int i = 1; i < 8; ++i) x[i] = c[i - 1];
    Rounds8<R, false>(ks, x);
    for (int i = 0; i < 8; ++i) vst1q_u8(out + 16 * i, veorq_u8(x[i], c[i]));
    prev = c[7];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const uint8x16_t ct = vld1q_u8(in);
    vst1q_u8(out, veorq_u8(Block<R, false>(ks, prev), ct));
    prev = ct;
  }
  vst1q_u8(chain, prev);
}

}  // namespace

bool Available() {
#ifdef HWCAP_AES
  static const bool available = (getauxval(AT_HWCAP) & HWCAP_AES) != 0;
  return available;
#else
  return false;
#endif
}

#else
// No AES instructions known here: Available() is false, so the functions below are never
// reached; reaching one anyway is a broken invariant.
namespace {
template <int R>
void EncryptCbcT(const uint8_t*, uint8_t*, const uint8_t*, uint8_t*, size_t) {
  std::abort();
}
template <int R>
void DecryptCbcT(const uint8_t*, uint8_t*, const uint8_t*, uint8_t*, size_t) {
  std::abort();
}
template <int R>
void EncryptCfbT(const uint8_t*, uint8_t*, const uint8_t*, uint8_t*, size_t) {
  std::abort();
}
template <int R>
void DecryptCfbT(const uint8_t*, uint8_t*, const uint8_t*, uint8_t*, size_t) {
  std::abort();
}
template <int R, bool Decrypting>
void EcbT(const uint8_t*, const uint8_t*, uint8_t*, size_t) {
  std::abort();
}
}  // namespace

bool Available() {
  return false;
}
#endif

#define VG_DISPATCH(fn, ...) \
  switch (rounds) {          \
    case 10:                 \
      fn<10>(__VA_ARGS__);   \
      break;                 \
    case 12:                 \
      fn<12>(__VA_ARGS__);   \
      break;                 \
    default:                 \
      fn<14>(__VA_ARGS__);   \
      break;                 \
  }

namespace {
template <int R>
void EncEcbR(const uint8_t* k, const uint8_t* in, uint8_t* out, size_t b) {
  EcbT<R, false>(k, in, out, b);
}
template <int R>
void DecEcbR(const uint8_t* k, const uint8_t* in, uint8_t* out, size_t b) {
  EcbT<R, true>(k, in, out, b);
}
}  // namespace

void EncryptEcb(const uint8_t* encKeys, int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  VG_DISPATCH(EncEcbR, encKeys, in, out, blocks)
}

void DecryptEcb(const uint8_t* decKeys, int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  VG_DISPATCH(DecEcbR, decKeys, in, out, blocks)
}

void EncryptCbc(const uint8_t* encKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  VG_DISPATCH(EncryptCbcT, encKeys, chain, in, out, blocks)
}

void DecryptCbc(const uint8_t* decKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  VG_DISPATCH(DecryptCbcT, decKeys, chain, in, out, blocks)
}

void EncryptCfb(const uint8_t* encKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  VG_DISPATCH(EncryptCfbT, encKeys, chain, in, out, blocks)
}

void DecryptCfb(const uint8_t* encKeys, int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  VG_DISPATCH(DecryptCfbT, encKeys, chain, in, out, blocks)
}

}  // namespace vg::aeshw
