#include "engine/block_cipher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "engine_test_util.h"

namespace {

// Runs a test body on the table path, and again on the AES-instruction path when the
// processor has one; restores the default afterwards.
class PathScope {
 public:
  explicit PathScope(bool hardware) { CBlockCipher::SetHardwareAllowed(hardware); }
  ~PathScope() { CBlockCipher::SetHardwareAllowed(true); }
};

class CipherPaths : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !CBlockCipher::HardwareAvailable()) {
      GTEST_SKIP() << "no AES instructions on this processor";
    }
    m_scope = std::make_unique<PathScope>(GetParam());
  }
  void TearDown() override { m_scope.reset(); }
  std::unique_ptr<PathScope> m_scope;
};

std::string ExpectThrow(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// ---- OpenSSL as the independent oracle ----

const EVP_CIPHER* OpenSslCipher(size_t keyLength, int mode) {
  if (mode == CHAIN_CBC) {
    return keyLength == 16   ? EVP_aes_128_cbc()
           : keyLength == 24 ? EVP_aes_192_cbc()
                             : EVP_aes_256_cbc();
  }
  if (mode == CHAIN_CFB) {
    // Full-block CFB: the whole 16-byte ciphertext block is the next feedback.
    return keyLength == 16   ? EVP_aes_128_cfb128()
           : keyLength == 24 ? EVP_aes_192_cfb128()
                             : EVP_aes_256_cfb128();
  }
  return keyLength == 16   ? EVP_aes_128_ecb()
         : keyLength == 24 ? EVP_aes_192_ecb()
                           : EVP_aes_256_ecb();
}

Bytes OpenSsl(bool encrypt, const Bytes& key, const Bytes& iv, int mode, const Bytes& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  EXPECT_EQ(1, EVP_CipherInit_ex(ctx, OpenSslCipher(key.size(), mode), nullptr, key.data(),
                                 mode == CHAIN_ECB ? nullptr : iv.data(), encrypt ? 1 : 0));
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(1, EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())));
  EXPECT_EQ(1, EVP_CipherFinal_ex(ctx, out.data() + n1, &n2));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

// Our cipher over consecutive pieces of random sizes, to prove the chain carries over.
Bytes Ours(bool encrypt, const Bytes& key, const Bytes& iv, int mode, const Bytes& in,
           std::mt19937_64* splitter) {
  CBlockCipher c;
  c.MakeKey(key.data(), iv.data(), static_cast<int>(key.size()), 16);
  Bytes out(in.size());
  size_t at = 0;
  while (at < in.size()) {
    size_t blocks = (in.size() - at) / 16;
    if (splitter) blocks = 1 + (*splitter)() % blocks;
    const size_t n = blocks * 16;
    if (encrypt) {
      c.Encrypt(in.data() + at, out.data() + at, n, mode);
    } else {
      c.Decrypt(in.data() + at, out.data() + at, n, mode);
    }
    at += n;
  }
  return out;
}

// ---- a textbook Rijndael (byte-oriented, straight from the algorithm's description) ----

uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
    b >>= 1;
  }
  return r;
}

uint8_t RefSbox(uint8_t x) {
  uint8_t inv = 0;
  for (int y = 1; y < 256 && x != 0; ++y) {
    if (GfMul(x, static_cast<uint8_t>(y)) == 1) inv = static_cast<uint8_t>(y);
  }
  uint8_t s = 0x63;
  for (int bit = 0; bit < 8; ++bit) {
    const int v = ((inv >> bit) ^ (inv >> ((bit + 4) % 8)) ^ (inv >> ((bit + 5) % 8)) ^
                   (inv >> ((bit + 6) % 8)) ^ (inv >> ((bit + 7) % 8))) &
                  1;
    s ^= static_cast<uint8_t>(v << bit);
  }
  return s;
}

Bytes RefRijndaelEncrypt(const Bytes& key, const Bytes& in) {
  static uint8_t sbox[256];
  static bool ready = false;
  if (!ready) {
    for (int i = 0; i < 256; ++i) sbox[i] = RefSbox(static_cast<uint8_t>(i));
    ready = true;
  }
  const int nk = static_cast<int>(key.size() / 4);
  const int nb = static_cast<int>(in.size() / 4);
  const int nr = std::max(nk, nb) + 6;
  // Key expansion on bytes: word i is w[4i .. 4i+3].
  Bytes w(static_cast<size_t>(4 * nb * (nr + 1)));
  std::copy(key.begin(), key.end(), w.begin());
  uint8_t rcon = 1;
  for (int i = nk; i < nb * (nr + 1); ++i) {
    uint8_t t[4] = {w[4 * i - 4], w[4 * i - 3], w[4 * i - 2], w[4 * i - 1]};
    if (i % nk == 0) {
      const uint8_t first = t[0];
      t[0] = static_cast<uint8_t>(sbox[t[1]] ^ rcon);
      t[1] = sbox[t[2]];
      t[2] = sbox[t[3]];
      t[3] = sbox[first];
      rcon = GfMul(rcon, 2);
    } else if (nk > 6 && i % nk == 4) {
      for (auto& b : t) b = sbox[b];
    }
    for (int k = 0; k < 4; ++k) w[4 * i + k] = w[4 * (i - nk) + k] ^ t[k];
  }
  const int shift[4] = {0, 1, nb == 8 ? 3 : 2, nb == 8 ? 4 : 3};
  Bytes s = in;  // s[r + 4c]
  auto addKey = [&](int round) {
    for (size_t k = 0; k < s.size(); ++k) s[k] ^= w[static_cast<size_t>(round * 4 * nb) + k];
  };
  addKey(0);
  for (int round = 1; round <= nr; ++round) {
    for (auto& b : s) b = sbox[b];
    Bytes t = s;
    for (int r = 1; r < 4; ++r) {
      for (int c = 0; c < nb; ++c) s[r + 4 * c] = t[r + 4 * ((c + shift[r]) % nb)];
    }
    if (round != nr) {
      for (int c = 0; c < nb; ++c) {
        uint8_t* col = &s[4 * c];
        const uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = GfMul(a0, 2) ^ GfMul(a1, 3) ^ a2 ^ a3;
        col[1] = a0 ^ GfMul(a1, 2) ^ GfMul(a2, 3) ^ a3;
        col[2] = a0 ^ a1 ^ GfMul(a2, 2) ^ GfMul(a3, 3);
        col[3] = GfMul(a0, 3) ^ a1 ^ a2 ^ GfMul(a3, 2);
      }
    }
    addKey(round);
  }
  return s;
}

Bytes Sequence(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
  return b;
}

}  // namespace

// FIPS 197 Appendix B and C.
TEST_P(CipherPaths, Fips197Vectors) {
  struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
  } const vectors[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
       "3925841d02dc09fbdc118597196a0b32"},
      {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
       "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
       "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const auto& v : vectors) {
    const Bytes key = FromHex(v.key), plain = FromHex(v.plain);
    const Bytes zero(16, 0);
    CBlockCipher c;
    c.MakeKey(key.data(), zero.data(), static_cast<int>(key.size()), 16);
    Bytes out(16), back(16);
    c.EncryptBlock(plain.data(), out.data());
    EXPECT_EQ(v.cipher, ToHex(out)) << v.key;
    c.DecryptBlock(out.data(), back.data());
    EXPECT_EQ(plain, back) << v.key;
    // The same through the buffer interface in ECB.
    c.Encrypt(plain.data(), out.data(), 16, CHAIN_ECB);
    EXPECT_EQ(v.cipher, ToHex(out)) << v.key;
    c.Decrypt(out.data(), back.data(), 16, CHAIN_ECB);
    EXPECT_EQ(plain, back) << v.key;
  }
}

// NIST SP 800-38A F.2.5 (CBC-AES256) and F.3.17 (CFB128-AES256).
TEST_P(CipherPaths, Sp80038aAes256Vectors) {
  const Bytes key = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = FromHex(
      "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
  const std::string cbc =
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
  const std::string cfb =
      "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
      "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471";
  EXPECT_EQ(cbc, ToHex(Ours(true, key, iv, CHAIN_CBC, plain, nullptr)));
  EXPECT_EQ(plain, Ours(false, key, iv, CHAIN_CBC, FromHex(cbc), nullptr));
  EXPECT_EQ(cfb, ToHex(Ours(true, key, iv, CHAIN_CFB, plain, nullptr)));
  EXPECT_EQ(plain, Ours(false, key, iv, CHAIN_CFB, FromHex(cfb), nullptr));
}

TEST_P(CipherPaths, CbcOverFourCallsEqualsOneCall) {
  const Bytes key = Sequence(32), iv = FromHex("f0e1d2c3b4a5968778695a4b3c2d1e0f");
  const Bytes plain = Sequence(64);
  for (int mode : {CHAIN_CBC, CHAIN_CFB}) {
    CBlockCipher one, four;
    one.MakeKey(key.data(), iv.data(), 32, 16);
    four.MakeKey(key.data(), iv.data(), 32, 16);
    Bytes a(64), b(64);
    one.Encrypt(plain.data(), a.data(), 64, mode);
    for (int i = 0; i < 4; ++i) four.Encrypt(plain.data() + 16 * i, b.data() + 16 * i, 16, mode);
    EXPECT_EQ(a, b) << mode;
    // Re-keying resets the chain: the same call gives the same output again.
    one.MakeKey(key.data(), iv.data(), 32, 16);
    Bytes again(64);
    one.Encrypt(plain.data(), again.data(), 64, mode);
    EXPECT_EQ(a, again) << mode;
  }
}

TEST_P(CipherPaths, MatchesOpenSslOnRandomInput) {
  std::mt19937_64 rng(1234 + GetParam());
  for (int round = 0; round < 300; ++round) {
    const size_t keyLength = round % 5 == 0 ? 16 : round % 7 == 0 ? 24 : 32;
    const int mode = round % 3;
    const Bytes key = RandomBytes(rng, keyLength), iv = RandomBytes(rng, 16);
    const size_t blocks = 1 + rng() % (round % 10 == 0 ? 600 : 40);
    const Bytes plain = RandomBytes(rng, blocks * 16);
    const Bytes expected = OpenSsl(true, key, iv, mode, plain);
    ASSERT_EQ(expected, Ours(true, key, iv, mode, plain, nullptr)) << round;
    ASSERT_EQ(expected, Ours(true, key, iv, mode, plain, &rng)) << round;
    ASSERT_EQ(plain, Ours(false, key, iv, mode, expected, nullptr)) << round;
    ASSERT_EQ(plain, Ours(false, key, iv, mode, expected, &rng)) << round;
    ASSERT_EQ(plain, OpenSsl(false, key, iv, mode, expected)) << round;
  }
}

TEST_P(CipherPaths, InPlaceBuffers) {
  std::mt19937_64 rng(77);
  const Bytes key = RandomBytes(rng, 32), iv = RandomBytes(rng, 16);
  const Bytes plain = RandomBytes(rng, 16 * 37);
  for (int mode : {CHAIN_ECB, CHAIN_CBC, CHAIN_CFB}) {
    const Bytes expected = OpenSsl(true, key, iv, mode, plain);
    CBlockCipher c;
    c.MakeKey(key.data(), iv.data(), 32, 16);
    Bytes buf = plain;
    c.Encrypt(buf.data(), buf.data(), buf.size(), mode);
    EXPECT_EQ(expected, buf) << mode;
    c.MakeKey(key.data(), iv.data(), 32, 16);
    c.Decrypt(buf.data(), buf.data(), buf.size(), mode);
    EXPECT_EQ(plain, buf) << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(TableAndHardware, CipherPaths, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Hardware" : "Table";
                         });

TEST(BlockCipher, HardwareAndTablePathsAgree) {
  if (!CBlockCipher::HardwareAvailable()) GTEST_SKIP() << "no AES instructions";
  std::mt19937_64 rng(99);
  for (int round = 0; round < 100; ++round) {
    const size_t keyLength = 16 + 8 * (round % 3);
    const int mode = round % 3;
    const Bytes key = RandomBytes(rng, keyLength), iv = RandomBytes(rng, 16);
    const Bytes plain = RandomBytes(rng, 16 * (1 + rng() % 100));
    Bytes table, hardware, tableBack, hardwareBack;
    {
      PathScope scope(false);
      table = Ours(true, key, iv, mode, plain, &rng);
      tableBack = Ours(false, key, iv, mode, table, &rng);
    }
    hardware = Ours(true, key, iv, mode, plain, &rng);
    hardwareBack = Ours(false, key, iv, mode, hardware, &rng);
    ASSERT_EQ(table, hardware) << round;
    ASSERT_EQ(plain, tableBack) << round;
    ASSERT_EQ(plain, hardwareBack) << round;
  }
  // A chain started on one path continues correctly on the other.
  const Bytes key = RandomBytes(rng, 32), iv = RandomBytes(rng, 16);
  const Bytes plain = RandomBytes(rng, 16 * 64);
  CBlockCipher c;
  c.MakeKey(key.data(), iv.data(), 32, 16);
  Bytes out(plain.size());
  c.Encrypt(plain.data(), out.data(), 16 * 32, CHAIN_CBC);
  {
    PathScope scope(false);
    c.Encrypt(plain.data() + 16 * 32, out.data() + 16 * 32, 16 * 32, CHAIN_CBC);
  }
  EXPECT_EQ(OpenSsl(true, key, iv, CHAIN_CBC, plain), out);
}

// 24- and 32-byte blocks follow the Rijndael proposal; checked against the textbook
// algorithm above, which itself is checked on the 16-byte FIPS vector first.
TEST(BlockCipher, RijndaelAllKeyAndBlockLengths) {
  EXPECT_EQ("3925841d02dc09fbdc118597196a0b32",
            ToHex(RefRijndaelEncrypt(FromHex("2b7e151628aed2a6abf7158809cf4f3c"),
                                     FromHex("3243f6a8885a308d313198a2e0370734"))));
  std::mt19937_64 rng(5);
  for (int keyLength : {16, 24, 32}) {
    for (int blockLength : {16, 24, 32}) {
      for (int round = 0; round < 20; ++round) {
        const Bytes key = RandomBytes(rng, static_cast<size_t>(keyLength));
        const Bytes plain = RandomBytes(rng, static_cast<size_t>(blockLength));
        const Bytes iv = RandomBytes(rng, static_cast<size_t>(blockLength));
        CBlockCipher c;
        c.MakeKey(key.data(), iv.data(), keyLength, blockLength);
        Bytes out(plain.size()), back(plain.size());
        c.EncryptBlock(plain.data(), out.data());
        ASSERT_EQ(RefRijndaelEncrypt(key, plain), out) << keyLength << "/" << blockLength;
        c.DecryptBlock(out.data(), back.data());
        ASSERT_EQ(plain, back);
      }
      // Chained modes over several blocks: CBC by hand from single blocks, and round trips.
      const Bytes key = RandomBytes(rng, static_cast<size_t>(keyLength));
      const Bytes iv = RandomBytes(rng, static_cast<size_t>(blockLength));
      const Bytes plain = RandomBytes(rng, static_cast<size_t>(blockLength) * 5);
      Bytes chain = iv, expected;
      for (size_t b = 0; b < 5; ++b) {
        for (size_t i = 0; i < chain.size(); ++i) chain[i] ^= plain[b * chain.size() + i];
        chain = RefRijndaelEncrypt(key, chain);
        expected.insert(expected.end(), chain.begin(), chain.end());
      }
      for (int mode : {CHAIN_ECB, CHAIN_CBC, CHAIN_CFB}) {
        CBlockCipher c;
        c.MakeKey(key.data(), iv.data(), keyLength, blockLength);
        Bytes out(plain.size()), back(plain.size());
        c.Encrypt(plain.data(), out.data(), plain.size(), mode);
        if (mode == CHAIN_CBC) {
          EXPECT_EQ(expected, out);
        }
        c.MakeKey(key.data(), iv.data(), keyLength, blockLength);
        c.Decrypt(out.data(), back.data(), out.size(), mode);
        EXPECT_EQ(plain, back) << keyLength << "/" << blockLength << " mode " << mode;
      }
    }
  }
}

TEST(BlockCipher, MisuseThrowsTheFixedMessages) {
  const Bytes key = Sequence(32), iv = Sequence(32);
  Bytes buf(64);
  CBlockCipher c;
  EXPECT_EQ("Object not Initialized", ExpectThrow([&] { c.EncryptBlock(buf.data(), buf.data()); }));
  EXPECT_EQ("Object not Initialized", ExpectThrow([&] { c.DecryptBlock(buf.data(), buf.data()); }));
  EXPECT_EQ("Object not Initialized",
            ExpectThrow([&] { c.Encrypt(buf.data(), buf.data(), 16, CHAIN_CBC); }));
  EXPECT_EQ("Object not Initialized",
            ExpectThrow([&] { c.Decrypt(buf.data(), buf.data(), 16, CHAIN_CBC); }));
  EXPECT_EQ("Empty key", ExpectThrow([&] { c.MakeKey(nullptr, iv.data(), 20, 17); }));
  EXPECT_EQ("Incorrect key length", ExpectThrow([&] { c.MakeKey(key.data(), iv.data(), 20, 16); }));
  EXPECT_EQ("Incorrect block length",
            ExpectThrow([&] { c.MakeKey(key.data(), iv.data(), 32, 20); }));
  // Failed MakeKey calls left it uninitialised.
  EXPECT_EQ("Object not Initialized", ExpectThrow([&] { c.EncryptBlock(buf.data(), buf.data()); }));

  c.MakeKey(key.data(), iv.data(), 32, 16);
  Bytes out(64);
  c.EncryptBlock(buf.data(), out.data());
  const Bytes before = out;
  EXPECT_EQ("Data not multiple of Block Size",
            ExpectThrow([&] { c.Encrypt(buf.data(), out.data(), 0, CHAIN_CBC); }));
  EXPECT_EQ("Data not multiple of Block Size",
            ExpectThrow([&] { c.Encrypt(buf.data(), out.data(), 17, CHAIN_CBC); }));
  EXPECT_EQ("Data not multiple of Block Size",
            ExpectThrow([&] { c.Decrypt(buf.data(), out.data(), 40, CHAIN_ECB); }));
  // A failed re-key changes nothing: the old key still encrypts the same way.
  EXPECT_THROW(c.MakeKey(key.data(), iv.data(), 8, 16), std::runtime_error);
  Bytes again(16);
  c.EncryptBlock(buf.data(), again.data());
  EXPECT_TRUE(std::equal(again.begin(), again.end(), before.begin()));
  // With a 32-byte block, 48 bytes is not a whole number of blocks.
  c.MakeKey(key.data(), iv.data(), 32, 32);
  EXPECT_EQ("Data not multiple of Block Size",
            ExpectThrow([&] { c.Encrypt(buf.data(), out.data(), 48, CHAIN_CBC); }));
}
