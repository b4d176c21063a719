#include "engine/digest.h"

#include <string.h>

#include <cstring>
#include <new>
#include <vector>

#include "common/secret_memory.h"
#include "common/text.h"
#include "engine/byte_order.h"
#include "engine/hash_blocks.h"

using vg::StoreBe32;
using vg::StoreBe64;
using vg::StoreLe32;
using vg::StoreLe64;
using vg::hash::Absorb;
using vg::hash::Md5Compress;
using vg::hash::Pad;
using vg::hash::Sha1CompressBe;
using vg::hash::Sha256Compress;
using vg::hash::Sha512Compress;

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

SecretKey::SecretKey() : m_bytes(TakeSecretSlot()) {
  if (m_bytes == nullptr) m_bytes = m_inline;
}

SecretKey::~SecretKey() {
  if (m_bytes == m_inline) {
    SecureZero(m_inline, sizeof m_inline);
  } else {
    ReturnSecretSlot(m_bytes);
  }
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
