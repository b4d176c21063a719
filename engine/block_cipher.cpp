#include "engine/block_cipher.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "engine/aes_hw.h"
#include "engine/aes_tables.h"
#include "engine/byte_order.h"
#include "engine/digest.h"

using vg::LoadBe32;
using vg::StoreBe32;
using vg::aes::kTables;

namespace {

constexpr int kMaxRounds = 14;
constexpr int kMaxWords = (kMaxRounds + 1) * 8;

std::atomic<bool> g_hardwareAllowed{true};

const uint32_t* const Te0 = kTables.te[0];
const uint32_t* const Te1 = kTables.te[1];
const uint32_t* const Te2 = kTables.te[2];
const uint32_t* const Te3 = kTables.te[3];
const uint32_t* const Td0 = kTables.td[0];
const uint32_t* const Td1 = kTables.td[1];
const uint32_t* const Td2 = kTables.td[2];
const uint32_t* const Td3 = kTables.td[3];
const uint8_t* const Sbox = kTables.sbox;
const uint8_t* const InvSbox = kTables.invSbox;

inline uint32_t SubWord(uint32_t w) {
  return (uint32_t{Sbox[w >> 24]} << 24) | (uint32_t{Sbox[(w >> 16) & 0xff]} << 16) |
         (uint32_t{Sbox[(w >> 8) & 0xff]} << 8) | Sbox[w & 0xff];
}

inline uint32_t InvMixColumn(uint32_t w) {
  // Td applies InvSubBytes first, so feed it the S-box image to get InvMixColumns alone.
  return Td0[Sbox[w >> 24]] ^ Td1[Sbox[(w >> 16) & 0xff]] ^ Td2[Sbox[(w >> 8) & 0xff]] ^
         Td3[Sbox[w & 0xff]];
}

// ---- 16-byte block: four columns, words in s[0..3] ----

inline void EncryptWords16(const uint32_t* rk, int rounds, uint32_t s[4]) {
  uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    const uint32_t t0 =
        Te0[s0 >> 24] ^ Te1[(s1 >> 16) & 0xff] ^ Te2[(s2 >> 8) & 0xff] ^ Te3[s3 & 0xff] ^ rk[0];
    const uint32_t t1 =
        Te0[s1 >> 24] ^ Te1[(s2 >> 16) & 0xff] ^ Te2[(s3 >> 8) & 0xff] ^ Te3[s0 & 0xff] ^ rk[1];
    const uint32_t t2 =
        Te0[s2 >> 24] ^ Te1[(s3 >> 16) & 0xff] ^ Te2[(s0 >> 8) & 0xff] ^ Te3[s1 & 0xff] ^ rk[2];
    const uint32_t t3 =
        Te0[s3 >> 24] ^ Te1[(s0 >> 16) & 0xff] ^ Te2[(s1 >> 8) & 0xff] ^ Te3[s2 & 0xff] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (uint32_t{Sbox[a >> 24]} << 24) | (uint32_t{Sbox[(b >> 16) & 0xff]} << 16) |
           (uint32_t{Sbox[(c >> 8) & 0xff]} << 8) | Sbox[d & 0xff];
  };
  s[0] = last(s0, s1, s2, s3) ^ rk[0];
  s[1] = last(s1, s2, s3, s0) ^ rk[1];
  s[2] = last(s2, s3, s0, s1) ^ rk[2];
  s[3] = last(s3, s0, s1, s2) ^ rk[3];
}

inline void DecryptWords16(const uint32_t* rk, int rounds, uint32_t s[4]) {
  uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    const uint32_t t0 =
        Td0[s0 >> 24] ^ Td1[(s3 >> 16) & 0xff] ^ Td2[(s2 >> 8) & 0xff] ^ Td3[s1 & 0xff] ^ rk[0];
    const uint32_t t1 =
        Td0[s1 >> 24] ^ Td1[(s0 >> 16) & 0xff] ^ Td2[(s3 >> 8) & 0xff] ^ Td3[s2 & 0xff] ^ rk[1];
    const uint32_t t2 =
        Td0[s2 >> 24] ^ Td1[(s1 >> 16) & 0xff] ^ Td2[(s0 >> 8) & 0xff] ^ Td3[s3 & 0xff] ^ rk[2];
    const uint32_t t3 =
        Td0[s3 >> 24] ^ Td1[(s2 >> 16) & 0xff] ^ Td2[(s1 >> 8) & 0xff] ^ Td3[s0 & 0xff] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (uint32_t{InvSbox[a >> 24]} << 24) | (uint32_t{InvSbox[(b >> 16) & 0xff]} << 16) |
           (uint32_t{InvSbox[(c >> 8) & 0xff]} << 8) | InvSbox[d & 0xff];
  };
  s[0] = last(s0, s3, s2, s1) ^ rk[0];
  s[1] = last(s1, s0, s3, s2) ^ rk[1];
  s[2] = last(s2, s1, s0, s3) ^ rk[2];
  s[3] = last(s3, s2, s1, s0) ^ rk[3];
}

inline void Load16(const uint8_t* p, uint32_t s[4]) {
  s[0] = LoadBe32(p);
  s[1] = LoadBe32(p + 4);
  s[2] = LoadBe32(p + 8);
  s[3] = LoadBe32(p + 12);
}

inline void Store16(uint8_t* p, const uint32_t s[4]) {
  StoreBe32(p, s[0]);
  StoreBe32(p + 4, s[1]);
  StoreBe32(p + 8, s[2]);
  StoreBe32(p + 12, s[3]);
}

// ---- general block (16, 24 or 32 bytes): nb columns, ShiftRows offsets by block ----

void ShiftOffsets(int nb, int& c1, int& c2, int& c3) {
  c1 = 1;
  c2 = nb == 8 ? 3 : 2;
  c3 = nb == 8 ? 4 : 3;
}

void EncryptGeneral(const uint32_t* rk, int rounds, int nb, const uint8_t* in, uint8_t* out,
                    uint32_t* work) {
  int c1, c2, c3;
  ShiftOffsets(nb, c1, c2, c3);
  uint32_t s[8];
  for (int j = 0; j < nb; ++j) s[j] = LoadBe32(in + 4 * j) ^ rk[j];
  for (int r = 1; r < rounds; ++r) {
    rk += nb;
    for (int j = 0; j < nb; ++j) {
      work[j] = Te0[s[j] >> 24] ^ Te1[(s[(j + c1) % nb] >> 16) & 0xff] ^
                Te2[(s[(j + c2) % nb] >> 8) & 0xff] ^ Te3[s[(j + c3) % nb] & 0xff] ^ rk[j];
    }
    std::memcpy(s, work, sizeof(uint32_t) * static_cast<size_t>(nb));
  }
  rk += nb;
  for (int j = 0; j < nb; ++j) {
    const uint32_t w = (uint32_t{Sbox[s[j] >> 24]} << 24) |
                       (uint32_t{Sbox[(s[(j + c1) % nb] >> 16) & 0xff]} << 16) |
                       (uint32_t{Sbox[(s[(j + c2) % nb] >> 8) & 0xff]} << 8) |
                       Sbox[s[(j + c3) % nb] & 0xff];
    StoreBe32(out + 4 * j, w ^ rk[j]);
  }
}

void DecryptGeneral(const uint32_t* rk, int rounds, int nb, const uint8_t* in, uint8_t* out,
                    uint32_t* work) {
  int c1, c2, c3;
  ShiftOffsets(nb, c1, c2, c3);
  // Inverse ShiftRows moves row i right by ci, i.e. left by nb - ci.
  c1 = nb - c1;
  c2 = nb - c2;
  c3 = nb - c3;
  uint32_t s[8];
  for (int j = 0; j < nb; ++j) s[j] = LoadBe32(in + 4 * j) ^ rk[j];
  for (int r = 1; r < rounds; ++r) {
    rk += nb;
    for (int j = 0; j < nb; ++j) {
      work[j] = Td0[s[j] >> 24] ^ Td1[(s[(j + c1) % nb] >> 16) & 0xff] ^
                Td2[(s[(j + c2) % nb] >> 8) & 0xff] ^ Td3[s[(j + c3) % nb] & 0xff] ^ rk[j];
    }
    std::memcpy(s, work, sizeof(uint32_t) * static_cast<size_t>(nb));
  }
  rk += nb;
  for (int j = 0; j < nb; ++j) {
    const uint32_t w = (uint32_t{InvSbox[s[j] >> 24]} << 24) |
                       (uint32_t{InvSbox[(s[(j + c1) % nb] >> 16) & 0xff]} << 16) |
                       (uint32_t{InvSbox[(s[(j + c2) % nb] >> 8) & 0xff]} << 8) |
                       InvSbox[s[(j + c3) % nb] & 0xff];
    StoreBe32(out + 4 * j, w ^ rk[j]);
  }
}

}  // namespace

struct CBlockCipher::State {
  bool initialised = false;
  uint32_t encKeys[kMaxWords] = {};
  uint32_t decKeys[kMaxWords] = {};
  int keyLength = 0;
  int blockLength = 0;
  int rounds = 0;
  uint8_t chain[32] = {};
  uint32_t work[8] = {};
  // The same round keys as bytes for the AES instructions (16-byte block only).
  bool hardwareKeys = false;
  alignas(16) uint8_t hwEncKeys[(kMaxRounds + 1) * 16] = {};
  alignas(16) uint8_t hwDecKeys[(kMaxRounds + 1) * 16] = {};

  bool UseHardware() const {
    return hardwareKeys && g_hardwareAllowed.load(std::memory_order_relaxed);
  }
};

CBlockCipher::CBlockCipher() : m_state(new State) {}

CBlockCipher::~CBlockCipher() {
  SecureZero(m_state, sizeof *m_state);
  delete m_state;
}

void CBlockCipher::SetHardwareAllowed(bool allowed) {
  g_hardwareAllowed.store(allowed);
}

bool CBlockCipher::HardwareAvailable() {
  return vg::aeshw::Available();
}

void CBlockCipher::MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength,
                           int blockLength) {
  if (key == nullptr) throw std::runtime_error("Empty key");
  if (keyLength != 16 && keyLength != 24 && keyLength != 32) {
    throw std::runtime_error("Incorrect key length");
  }
  if (blockLength != 16 && blockLength != 24 && blockLength != 32) {
    throw std::runtime_error("Incorrect block length");
  }
  State& st = *m_state;
  const int nk = keyLength / 4;
  const int nb = blockLength / 4;
  st.keyLength = keyLength;
  st.blockLength = blockLength;
  st.rounds = (nk > nb ? nk : nb) + 6;
  std::memset(st.chain, 0, sizeof st.chain);
  if (chain) std::memcpy(st.chain, chain, static_cast<size_t>(blockLength));

  // Rijndael key schedule over (rounds + 1) * nb words.
  const int total = (st.rounds + 1) * nb;
  uint32_t* w = st.encKeys;
  for (int i = 0; i < nk; ++i) w[i] = LoadBe32(key + 4 * i);
  uint8_t rcon = 1;
  for (int i = nk; i < total; ++i) {
    uint32_t temp = w[i - 1];
    if (i % nk == 0) {
      temp = SubWord((temp << 8) | (temp >> 24)) ^ (uint32_t{rcon} << 24);
      rcon = vg::aes::XTime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(temp);
    }
    w[i] = w[i - nk] ^ temp;
  }
  // Equivalent inverse cipher: rounds reversed, InvMixColumns on the inner ones.
  for (int r = 0; r <= st.rounds; ++r) {
    for (int j = 0; j < nb; ++j) {
      const uint32_t k = w[(st.rounds - r) * nb + j];
      st.decKeys[r * nb + j] = (r == 0 || r == st.rounds) ? k : InvMixColumn(k);
    }
  }
  st.hardwareKeys = blockLength == 16 && vg::aeshw::Available();
  if (st.hardwareKeys) {
    for (int i = 0; i < total; ++i) {
      StoreBe32(st.hwEncKeys + 4 * i, st.encKeys[i]);
      StoreBe32(st.hwDecKeys + 4 * i, st.decKeys[i]);
    }
  }
  st.initialised = true;
}

void CBlockCipher::EncryptBlock(const uint8_t* in, uint8_t* out) {
  State& st = *m_state;
  if (!st.initialised) throw std::runtime_error("Object not Initialized");
  if (st.blockLength == 16) {
    if (st.UseHardware()) {
      vg::aeshw::EncryptEcb(st.hwEncKeys, st.rounds, in, out, 1);
      return;
    }
    uint32_t s[4];
    Load16(in, s);
    EncryptWords16(st.encKeys, st.rounds, s);
    Store16(out, s);
  } else {
    EncryptGeneral(st.encKeys, st.rounds, st.blockLength / 4, in, out, st.work);
  }
}

void CBlockCipher::DecryptBlock(const uint8_t* in, uint8_t* out) {
  State& st = *m_state;
  if (!st.initialised) throw std::runtime_error("Object not Initialized");
  if (st.blockLength == 16) {
    if (st.UseHardware()) {
      vg::aeshw::DecryptEcb(st.hwDecKeys, st.rounds, in, out, 1);
      return;
    }
    uint32_t s[4];
    Load16(in, s);
    DecryptWords16(st.decKeys, st.rounds, s);
    Store16(out, s);
  } else {
    DecryptGeneral(st.decKeys, st.rounds, st.blockLength / 4, in, out, st.work);
  }
}

void CBlockCipher::Encrypt(const uint8_t* in, uint8_t* out, size_t n, int mode) {
  State& st = *m_state;
  if (!st.initialised) throw std::runtime_error("Object not Initialized");
  const size_t bl = static_cast<size_t>(st.blockLength);
  if (n == 0 || n % bl != 0) throw std::runtime_error("Data not multiple of Block Size");
  const size_t blocks = n / bl;

  if (st.UseHardware()) {
    if (mode == CHAIN_CBC) {
      vg::aeshw::EncryptCbc(st.hwEncKeys, st.rounds, st.chain, in, out, blocks);
    } else if (mode == CHAIN_CFB) {
      vg::aeshw::EncryptCfb(st.hwEncKeys, st.rounds, st.chain, in, out, blocks);
    } else {
      vg::aeshw::EncryptEcb(st.hwEncKeys, st.rounds, in, out, blocks);
    }
    return;
  }

  if (bl == 16) {
    uint32_t c[4];
    uint32_t s[4];
    Load16(st.chain, c);
    for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
      Load16(in, s);
      if (mode == CHAIN_CBC) {
        for (int i = 0; i < 4; ++i) c[i] ^= s[i];
        EncryptWords16(st.encKeys, st.rounds, c);
        Store16(out, c);
      } else if (mode == CHAIN_CFB) {
        EncryptWords16(st.encKeys, st.rounds, c);
        for (int i = 0; i < 4; ++i) c[i] ^= s[i];
        Store16(out, c);
      } else {
        EncryptWords16(st.encKeys, st.rounds, s);
        Store16(out, s);
      }
    }
    Store16(st.chain, c);
    return;
  }

  uint8_t block[32];
  for (size_t b = 0; b < blocks; ++b, in += bl, out += bl) {
    if (mode == CHAIN_CBC) {
      for (size_t i = 0; i < bl; ++i) st.chain[i] ^= in[i];
      EncryptGeneral(st.encKeys, st.rounds, st.blockLength / 4, st.chain, out, st.work);
      std::memcpy(st.chain, out, bl);
    } else if (mode == CHAIN_CFB) {
      EncryptGeneral(st.encKeys, st.rounds, st.blockLength / 4, st.chain, block, st.work);
      for (size_t i = 0; i < bl; ++i) out[i] = block[i] ^ in[i];
      std::memcpy(st.chain, out, bl);
    } else {
      EncryptGeneral(st.encKeys, st.rounds, st.blockLength / 4, in, out, st.work);
    }
  }
  SecureZero(block, sizeof block);
}

void CBlockCipher::Decrypt(const uint8_t* in, uint8_t* out, size_t n, int mode) {
  State& st = *m_state;
  if (!st.initialised) throw std::runtime_error("Object not Initialized");
  const size_t bl = static_cast<size_t>(st.blockLength);
  if (n == 0 || n % bl != 0) throw std::runtime_error("Data not multiple of Block Size");
  const size_t blocks = n / bl;

  if (st.UseHardware()) {
    if (mode == CHAIN_CBC) {
      vg::aeshw::DecryptCbc(st.hwDecKeys, st.rounds, st.chain, in, out, blocks);
    } else if (mode == CHAIN_CFB) {
      vg::aeshw::DecryptCfb(st.hwEncKeys, st.rounds, st.chain, in, out, blocks);
    } else {
      vg::aeshw::DecryptEcb(st.hwDecKeys, st.rounds, in, out, blocks);
    }
    return;
  }

  if (bl == 16) {
    uint32_t c[4];
    uint32_t s[4];
    uint32_t x[4];
    Load16(st.chain, c);
    for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
      Load16(in, s);
      if (mode == CHAIN_CBC) {
        std::memcpy(x, s, sizeof x);
        DecryptWords16(st.decKeys, st.rounds, x);
        for (int i = 0; i < 4; ++i) x[i] ^= c[i];
        std::memcpy(c, s, sizeof c);
        Store16(out, x);
      } else if (mode == CHAIN_CFB) {
        EncryptWords16(st.encKeys, st.rounds, c);
        for (int i = 0; i < 4; ++i) x[i] = c[i] ^ s[i];
        std::memcpy(c, s, sizeof c);
        Store16(out, x);
      } else {
        DecryptWords16(st.decKeys, st.rounds, s);
        Store16(out, s);
      }
    }
    Store16(st.chain, c);
    return;
  }

  // Input is copied aside first so that in == out works as well.
  uint8_t block[32];
  uint8_t cipherText[32];
  for (size_t b = 0; b < blocks; ++b, in += bl, out += bl) {
    std::memcpy(cipherText, in, bl);
    if (mode == CHAIN_CBC) {
      DecryptGeneral(st.decKeys, st.rounds, st.blockLength / 4, cipherText, out, st.work);
      for (size_t i = 0; i < bl; ++i) out[i] ^= st.chain[i];
      std::memcpy(st.chain, cipherText, bl);
    } else if (mode == CHAIN_CFB) {
      EncryptGeneral(st.encKeys, st.rounds, st.blockLength / 4, st.chain, block, st.work);
      for (size_t i = 0; i < bl; ++i) out[i] = block[i] ^ cipherText[i];
      std::memcpy(st.chain, cipherText, bl);
    } else {
      DecryptGeneral(st.decKeys, st.rounds, st.blockLength / 4, cipherText, out, st.work);
    }
  }
  SecureZero(block, sizeof block);
}
