#include "engine/digest.h"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/text.h"
#include "engine/byte_order.h"

using vg::LoadBe32;
using vg::LoadBe64;
using vg::LoadLe32;
using vg::Rotl32;
using vg::Rotr32;
using vg::Rotr64;
using vg::StoreBe32;
using vg::StoreBe64;
using vg::StoreLe32;
using vg::StoreLe64;

namespace {

// ---- MD5 (RFC 1321) ----

constexpr uint32_t kMd5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void Md5Compress(uint32_t h[4], const uint8_t* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLe32(block + 4 * i);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) & 15;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    const uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl32(a + f + kMd5K[i] + m[g], kMd5S[i]);
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
}

// ---- SHA-1 (FIPS 180-2) ----

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

// ---- SHA-256 / SHA-224 ----

constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

void Sha256Compress(uint32_t h[8], const uint8_t* block) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr32(w[i - 15], 7) ^ Rotr32(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr32(w[i - 2], 17) ^ Rotr32(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t s1 = Rotr32(e, 6) ^ Rotr32(e, 11) ^ Rotr32(e, 25);
    const uint32_t ch = (e & f) ^ (~e & g);
    const uint32_t t1 = hh + s1 + ch + kSha256K[i] + w[i];
    const uint32_t s0 = Rotr32(a, 2) ^ Rotr32(a, 13) ^ Rotr32(a, 22);
    const uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
    const uint32_t t2 = s0 + maj;
    hh = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += hh;
}

// ---- SHA-512 / SHA-384 ----

constexpr uint64_t kSha512K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

void Sha512Compress(uint64_t h[8], const uint8_t* block) {
  uint64_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe64(block + 8 * i);
  for (int i = 16; i < 80; ++i) {
    const uint64_t s0 = Rotr64(w[i - 15], 1) ^ Rotr64(w[i - 15], 8) ^ (w[i - 15] >> 7);
    const uint64_t s1 = Rotr64(w[i - 2], 19) ^ Rotr64(w[i - 2], 61) ^ (w[i - 2] >> 6);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
  for (int i = 0; i < 80; ++i) {
    const uint64_t s1 = Rotr64(e, 14) ^ Rotr64(e, 18) ^ Rotr64(e, 41);
    const uint64_t ch = (e & f) ^ (~e & g);
    const uint64_t t1 = hh + s1 + ch + kSha512K[i] + w[i];
    const uint64_t s0 = Rotr64(a, 28) ^ Rotr64(a, 34) ^ Rotr64(a, 39);
    const uint64_t maj = (a & b) ^ (a & c) ^ (b & c);
    const uint64_t t2 = s0 + maj;
    hh = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += hh;
}

// Feeds bytes into a block buffer of BlockSize bytes, calling compress for every full
// block. Shared by every digest.
template <size_t BlockSize, typename Compress>
void Absorb(uint8_t* block, size_t& used, const uint8_t* p, size_t n, Compress compress) {
  if (used > 0) {
    const size_t take = std::min(n, BlockSize - used);
    std::memcpy(block + used, p, take);
    used += take;
    p += take;
    n -= take;
    if (used < BlockSize) return;
    compress(block);
    used = 0;
  }
  while (n >= BlockSize) {
    compress(p);
    p += BlockSize;
    n -= BlockSize;
  }
  if (n > 0) {
    std::memcpy(block, p, n);
    used = n;
  }
}

// Appends the 0x80 byte, zeros and the length field (lengthBytes wide, bit count at its
// end) and compresses the last one or two blocks.
template <size_t BlockSize, typename Compress, typename StoreLength>
void Pad(uint8_t* block, size_t used, size_t lengthBytes, Compress compress,
         StoreLength storeLength) {
  block[used++] = 0x80;
  if (used > BlockSize - lengthBytes) {
    std::memset(block + used, 0, BlockSize - used);
    compress(block);
    used = 0;
  }
  std::memset(block + used, 0, BlockSize - used);
  storeLength(block + BlockSize - lengthBytes);
  compress(block);
}

}  // namespace

struct CDigest::Md5Ctx {
  uint32_t h[4];
  uint8_t block[64];
  size_t used;
  uint64_t length;
  void Start() {
    h[0] = 0x67452301;
    h[1] = 0xefcdab89;
    h[2] = 0x98badcfe;
    h[3] = 0x10325476;
    used = 0;
    length = 0;
  }
  void Update(const uint8_t* p, size_t n) {
    length += n;
    Absorb<64>(block, used, p, n, [this](const uint8_t* b) { Md5Compress(h, b); });
  }
  void Final(uint8_t* out) {
    const uint64_t bits = length * 8;
    Pad<64>(
        block, used, 8, [this](const uint8_t* b) { Md5Compress(h, b); },
        [bits](uint8_t* at) { StoreLe64(at, bits); });
    for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, h[i]);
  }
};

struct CDigest::Sha1Ctx {
  uint32_t h[5];
  uint8_t block[64];
  size_t used;
  uint64_t length;
  void Start() {
    h[0] = 0x67452301;
    h[1] = 0xefcdab89;
    h[2] = 0x98badcfe;
    h[3] = 0x10325476;
    h[4] = 0xc3d2e1f0;
    used = 0;
    length = 0;
  }
  void Update(const uint8_t* p, size_t n) {
    length += n;
    Absorb<64>(block, used, p, n, [this](const uint8_t* b) { Sha1CompressBe(h, b); });
  }
  void Final(uint8_t* out) {
    const uint64_t bits = length * 8;
    Pad<64>(
        block, used, 8, [this](const uint8_t* b) { Sha1CompressBe(h, b); },
        [bits](uint8_t* at) { StoreBe64(at, bits); });
    for (int i = 0; i < 5; ++i) StoreBe32(out + 4 * i, h[i]);
  }
};

// One context for the four SHA-2 lengths; it records which one it computes.
struct CDigest::Sha2Ctx {
  int length;  // 28, 32, 48 or 64
  uint32_t h32[8];
  uint64_t h64[8];
  uint8_t block[128];
  size_t used;
  uint64_t count;  // bytes; the 128-bit length field of SHA-384/512 never exceeds 2^64 bits here

  bool Wide() const { return length > 32; }
  void Start(int digestLength) {
    static constexpr uint32_t kInit224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                             0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
    static constexpr uint32_t kInit256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    static constexpr uint64_t kInit384[8] = {
        0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
        0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    static constexpr uint64_t kInit512[8] = {
        0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
        0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    length = digestLength;
    used = 0;
    count = 0;
    std::memcpy(h32, length == 28 ? kInit224 : kInit256, sizeof h32);
    std::memcpy(h64, length == 48 ? kInit384 : kInit512, sizeof h64);
  }
  void Update(const uint8_t* p, size_t n) {
    count += n;
    if (Wide()) {
      Absorb<128>(block, used, p, n, [this](const uint8_t* b) { Sha512Compress(h64, b); });
    } else {
      Absorb<64>(block, used, p, n, [this](const uint8_t* b) { Sha256Compress(h32, b); });
    }
  }
  void Final(uint8_t* out) {
    const uint64_t bits = count * 8;
    if (Wide()) {
      // 128-bit length field: the high half stays zero.
      Pad<128>(
          block, used, 16, [this](const uint8_t* b) { Sha512Compress(h64, b); },
          [bits](uint8_t* at) { StoreBe64(at + 8, bits); });
      uint8_t full[64];
      for (int i = 0; i < 8; ++i) StoreBe64(full + 8 * i, h64[i]);
      std::memcpy(out, full, static_cast<size_t>(length));
      SecureZero(full, sizeof full);
    } else {
      Pad<64>(
          block, used, 8, [this](const uint8_t* b) { Sha256Compress(h32, b); },
          [bits](uint8_t* at) { StoreBe64(at, bits); });
      uint8_t full[32];
      for (int i = 0; i < 8; ++i) StoreBe32(full + 4 * i, h32[i]);
      std::memcpy(out, full, static_cast<size_t>(length));
      SecureZero(full, sizeof full);
    }
  }
};

CDigest::CDigest() = default;

CDigest::~CDigest() {
  if (m_md5) SecureZero(m_md5, sizeof *m_md5);
  if (m_sha1) SecureZero(m_sha1, sizeof *m_sha1);
  if (m_sha2) SecureZero(m_sha2, sizeof *m_sha2);
  delete m_md5;
  delete m_sha1;
  delete m_sha2;
}

bool CDigest::Select(int digestLength) {
  switch (digestLength) {
    case 16:
      if (!m_md5) m_md5 = new (std::nothrow) Md5Ctx;
      if (!m_md5) return false;
      m_md5->Start();
      break;
    case 20:
      if (!m_sha1) m_sha1 = new (std::nothrow) Sha1Ctx;
      if (!m_sha1) return false;
      m_sha1->Start();
      break;
    case 28:
    case 32:
    case 48:
    case 64:
      if (!m_sha2) m_sha2 = new (std::nothrow) Sha2Ctx;
      if (!m_sha2) return false;
      m_sha2->Start(digestLength);
      break;
    default:
      return false;
  }
  m_length = digestLength;
  return true;
}

void CDigest::Update(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (n == 0) return;
  switch (m_length) {
    case 16:
      m_md5->Update(p, n);
      break;
    case 20:
      m_sha1->Update(p, n);
      break;
    case 28:
    case 32:
    case 48:
    case 64:
      m_sha2->Update(p, n);
      break;
    default:
      break;
  }
}

void CDigest::Final(uint8_t* out) {
  switch (m_length) {
    case 16:
      m_md5->Final(out);
      break;
    case 20:
      m_sha1->Final(out);
      break;
    case 28:
    case 32:
    case 48:
    case 64:
      m_sha2->Final(out);
      break;
    default:
      break;
  }
}

void ComputeDigest(uint8_t* out, const void* data, size_t n, int digestLength) {
  CDigest digest;
  if (!digest.Select(digestLength)) return;
  digest.Update(data, n);
  digest.Final(out);
}

// The salt constant and the byte k are part of the file format: every protected file's
// key depends on them, so they never change (docs/FORMAT.md lists them).
static constexpr char kGuardSaltText[12] = "Vellum#Ward";
static constexpr uint8_t kGuardSaltK = 0x5A;

void GuardKeyDigest(uint8_t out[32], std::string_view passwordUtf8) {
  uint8_t salt[11];
  uint8_t r = static_cast<uint8_t>(kGuardSaltText[0]);
  for (int i = 0; i < 11; ++i) {
    r = static_cast<uint8_t>(static_cast<uint8_t>(kGuardSaltText[i]) ^ r ^ kGuardSaltK);
    salt[i] = r;
  }
  std::vector<uint8_t> units = Utf16LeBytes(passwordUtf8);
  CDigest digest;
  if (digest.Select(32)) {
    digest.Update(salt, sizeof salt);
    digest.Update(units.data(), units.size());
    digest.Final(out);
  }
  SecureZero(salt, sizeof salt);
  SecureZero(units.data(), units.size());
}

void Sha1CompressLe(uint8_t state[20], const uint8_t block[64]) {
  uint32_t h[5];
  uint32_t m[16];
  for (int i = 0; i < 5; ++i) h[i] = LoadLe32(state + 4 * i);
  for (int i = 0; i < 16; ++i) m[i] = LoadLe32(block + 4 * i);
  Sha1CompressWords(h, m);
  for (int i = 0; i < 5; ++i) StoreLe32(state + 4 * i, h[i]);
}

void SecureZero(void* p, size_t n) {
  if (p == nullptr || n == 0) return;
  ::explicit_bzero(p, n);
}
