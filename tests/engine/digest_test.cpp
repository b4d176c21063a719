#include "engine/digest.h"

#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "engine/hash_blocks.h"
#include "engine/random_pool.h"
#include "engine_test_util.h"

namespace {

std::string Digest(int length, const void* data, size_t n) {
  uint8_t out[64];
  ComputeDigest(out, data, n, length);
  return ToHex(out, static_cast<size_t>(length));
}

std::string Digest(int length, const std::string& s) {
  return Digest(length, s.data(), s.size());
}

const EVP_MD* OpenSslMd(int length) {
  switch (length) {
    case 16:
      return EVP_md5();
    case 20:
      return EVP_sha1();
    case 28:
      return EVP_sha224();
    case 32:
      return EVP_sha256();
    case 48:
      return EVP_sha384();
    default:
      return EVP_sha512();
  }
}

Bytes OpenSslDigest(int length, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), out.data(), &n, OpenSslMd(length), nullptr));
  out.resize(n);
  return out;
}

constexpr int kLengths[] = {16, 20, 28, 32, 48, 64};

}  // namespace

// RFC 1321 appendix A.5.
TEST(Digest, Md5Rfc1321) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Digest(16, ""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Digest(16, "a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Digest(16, "abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Digest(16, "message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Digest(16, "abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            Digest(16, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Digest(16,
                   "1234567890123456789012345678901234567890123456789012345678901234567890"
                   "1234567890"));
}

// FIPS 180-2 appendices and its change notice for SHA-224.
TEST(Digest, Fips1802) {
  const std::string abc = "abc";
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string two64 =
      "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnop"
      "qrlmnopqrsmnopqrstnopqrstu";
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Digest(20, abc));
  EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1", Digest(20, two));
  EXPECT_EQ("23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7", Digest(28, abc));
  EXPECT_EQ("75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525", Digest(28, two));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Digest(32, abc));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", Digest(32, two));
  EXPECT_EQ(
      "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
      "34c825a7",
      Digest(48, abc));
  EXPECT_EQ(
      "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa"
      "91746039",
      Digest(48, two64));
  EXPECT_EQ(
      "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
      "a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
      Digest(64, abc));
  EXPECT_EQ(
      "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99de"
      "c4b5433ac7d329eeb6dd26545e96e55b874be909",
      Digest(64, two64));

  const std::string million(1000000, 'a');
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", Digest(20, million));
  EXPECT_EQ("20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67", Digest(28, million));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            Digest(32, million));
  EXPECT_EQ(
      "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd8"
      "7f3d8985",
      Digest(48, million));
  EXPECT_EQ(
      "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432c"
      "e577c31beb009c5c2c49aa2e4eadb217ad8cc09b",
      Digest(64, million));
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", Digest(16, million));
}

// Feeding the same bytes in one piece, byte by byte, or split at any offset gives the
// same digest; lengths around the block and padding boundaries matter most.
TEST(Digest, SplitsDoNotChangeTheResult) {
  std::mt19937_64 rng(3);
  for (size_t n : {0, 1, 55, 56, 63, 64, 65, 111, 112, 119, 127, 128, 129, 300}) {
    const Bytes data = RandomBytes(rng, n);
    for (int length : kLengths) {
      const std::string oneShot = Digest(length, data.data(), data.size());
      CDigest bytewise;
      ASSERT_TRUE(bytewise.Select(length));
      for (uint8_t b : data) bytewise.Update(&b, 1);
      uint8_t out[64];
      bytewise.Final(out);
      ASSERT_EQ(oneShot, ToHex(out, static_cast<size_t>(length))) << length << " n=" << n;
      for (size_t split = 0; split <= n; ++split) {
        CDigest d;
        ASSERT_TRUE(d.Select(length));
        d.Update(data.data(), split);
        d.Update(data.data() + split, n - split);
        d.Final(out);
        ASSERT_EQ(oneShot, ToHex(out, static_cast<size_t>(length))) << length << " split " << split;
      }
    }
  }
}

TEST(Digest, MatchesOpenSslOnRandomInput) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 200; ++round) {
    const Bytes data = RandomBytes(rng, rng() % (round % 20 == 0 ? 100000 : 600));
    for (int length : kLengths) {
      const Bytes expected = OpenSslDigest(length, data);
      ASSERT_EQ(ToHex(expected), Digest(length, data.data(), data.size())) << length;
    }
  }
}

TEST(Digest, SelectionRules) {
  CDigest d;
  uint8_t out[64];
  std::memset(out, 0xAA, sizeof out);
  d.Update("abc", 3);  // nothing selected: no effect
  d.Final(out);
  EXPECT_EQ(std::string(128, 'a'), ToHex(out, 64));
  EXPECT_FALSE(d.Select(24));
  EXPECT_EQ(0, d.Length());
  ASSERT_TRUE(d.Select(32));
  d.Update("ab", 2);
  // A failed selection keeps the running computation.
  EXPECT_FALSE(d.Select(24));
  EXPECT_EQ(32, d.Length());
  d.Update("c", 1);
  d.Final(out);
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", ToHex(out, 32));
  // A new selection starts afresh, also when switching between SHA-2 lengths.
  ASSERT_TRUE(d.Select(48));
  ASSERT_TRUE(d.Select(28));
  d.Update("abc", 3);
  d.Final(out);
  EXPECT_EQ("23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7", ToHex(out, 28));

  uint8_t untouched[64];
  std::memset(untouched, 0x5C, sizeof untouched);
  ComputeDigest(untouched, "abc", 3, 24);
  for (uint8_t b : untouched) ASSERT_EQ(0x5C, b);
}

// The key of protected files. The salt is built from "Vellum#Ward" with k = 0x5A
// (docs/FORMAT.md); these values are part of the file format and must never change.
TEST(Digest, GuardKeyDigestIsTheDocumentedDerivation) {
  const Bytes salt = FromHex("5a 65 53 65 4a 7d 04 09 32 1a 24");
  const std::pair<std::string, std::u16string> passwords[] = {
      {"", u""},
      {"secret", u"secret"},
      {"P\xc3\xa4ssw\xc3\xb6rd \xe2\x82\xac", u"P\u00e4ssw\u00f6rd \u20ac"}};
  for (const auto& [utf8, utf16] : passwords) {
    Bytes input = salt;
    for (char16_t cu : utf16) {
      input.push_back(static_cast<uint8_t>(cu & 0xFF));
      input.push_back(static_cast<uint8_t>(cu >> 8));
    }
    uint8_t ours[32];
    GuardKeyDigest(ours, utf8);
    EXPECT_EQ(ToHex(OpenSslDigest(32, input)), ToHex(ours, 32)) << utf8;
  }
  // The example of docs/FORMAT.md, computed there with Python's hashlib.
  uint8_t key[32];
  GuardKeyDigest(key, "correct horse");
  EXPECT_EQ("5eadabb7045a47d5d0dc0f54417723ca7ca7f2d3c90f2a3a8b15588d910f1042", ToHex(key, 32));
}

// The pool's mixing step is SHA-1's compression with words taken little-endian: on a
// byte-swapped block and state it must reproduce SHA-1 itself.
TEST(Digest, Sha1CompressLeIsSha1OnSwappedWords) {
  uint8_t block[64] = {};
  block[0] = 'a';
  block[1] = 'b';
  block[2] = 'c';
  block[3] = 0x80;
  block[63] = 24;  // bit length, big-endian
  uint8_t swapped[64];
  for (int i = 0; i < 64; ++i) swapped[i] = block[(i & ~3) + 3 - (i & 3)];
  const uint32_t init[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  uint8_t state[20];
  for (int i = 0; i < 5; ++i) {
    for (int k = 0; k < 4; ++k) state[4 * i + k] = static_cast<uint8_t>(init[i] >> (8 * k));
  }
  Sha1CompressLe(state, swapped);
  uint8_t digest[20];
  for (int i = 0; i < 20; ++i) digest[i] = state[(i & ~3) + 3 - (i & 3)];
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", ToHex(digest, 20));

  // Where the processor has SHA instructions they serve instead: same results as the
  // portable rounds on any state and block.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 2000; ++round) {
    uint32_t m[16], fast[5], portable[5];
    for (uint32_t& w : m) w = next();
    for (int i = 0; i < 5; ++i) fast[i] = portable[i] = next();
    vg::hash::Sha1CompressWords(fast, m);
    vg::hash::Sha1CompressWordsPortable(portable, m);
    ASSERT_EQ(0, std::memcmp(fast, portable, sizeof fast)) << "round " << round;
  }
}

TEST(Digest, SecureZeroClears) {
  uint8_t buf[37];
  std::memset(buf, 0xFF, sizeof buf);
  SecureZero(buf, sizeof buf);
  for (uint8_t b : buf) ASSERT_EQ(0, b);
  SecureZero(nullptr, 5);  // tolerated
}

// ---- random pool ----

namespace {
std::vector<size_t> g_requests;
uint8_t g_counter = 0;
// A predictable source that hands out at most 7 bytes per call.
size_t CountingEntropy(uint8_t* buf, size_t wanted) {
  g_requests.push_back(wanted);
  const size_t n = wanted < 7 ? wanted : 7;
  for (size_t i = 0; i < n; ++i) buf[i] = g_counter++;
  return n;
}
size_t BrokenEntropy(uint8_t*, size_t) {
  return 0;
}
}  // namespace

TEST(RandomPool, RefillAsksForTheRemainingLength) {
  g_requests.clear();
  g_counter = 0;
  CRandomPool pool;
  pool.Init(&CountingEntropy);
  // Two refreshes of 260 bytes, 7 at a time: 260, 253, 246, ... down to 1 each time.
  ASSERT_EQ(2 * 38u, g_requests.size());
  EXPECT_EQ(260u, g_requests[0]);
  EXPECT_EQ(253u, g_requests[1]);
  EXPECT_EQ(1u, g_requests[37]);
  EXPECT_EQ(260u, g_requests[38]);
}

TEST(RandomPool, DeterministicSourceGivesTheSameStreamInAnyPieces) {
  g_counter = 0;
  CRandomPool a;
  a.Init(&CountingEntropy);
  Bytes whole(1000);
  a.Generate(whole.data(), whole.size());

  g_counter = 0;
  CRandomPool b;
  b.Init(&CountingEntropy);
  Bytes pieces(1000);
  size_t at = 0;
  for (size_t step : {1, 259, 1, 260, 3, 476}) {
    b.Generate(pieces.data() + at, step);
    at += step;
  }
  ASSERT_EQ(1000u, at);
  EXPECT_EQ(whole, pieces);
  // The pool's stream is fixed by its definition: a change to Init, Refresh or Mix shows.
  EXPECT_EQ("27804d1684948827561eafff0819baaa3b327d78a1f2caa99f39",
            ToHex(whole.data(), 16) + ToHex(whole.data() + 990, 10));
  // Output does not repeat across refreshes.
  EXPECT_NE(Bytes(whole.begin(), whole.begin() + 260),
            Bytes(whole.begin() + 260, whole.begin() + 520));
}

TEST(RandomPool, SourceThatDeliversNothingDoesNotHang) {
  CRandomPool pool;
  pool.Init(&BrokenEntropy);
  Bytes out(600);
  pool.Generate(out.data(), out.size());
  SUCCEED();
}

TEST(RandomPool, KernelSourceGivesDifferentBytesEachTime) {
  uint8_t a[16], b[16];
  GenerateRandomBytes(a, sizeof a);
  GenerateRandomBytes(b, sizeof b);
  EXPECT_NE(0, std::memcmp(a, b, sizeof a));
  uint8_t k[300];
  EXPECT_GT(KernelEntropy(k, sizeof k), 0u);

  // A forked child draws other bytes than its parent, though both hold the same stock.
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    uint8_t c[16];
    GenerateRandomBytes(c, sizeof c);
    _exit(::write(fds[1], c, sizeof c) == static_cast<ssize_t>(sizeof c) ? 0 : 1);
  }
  uint8_t mine[16], theirs[16];
  GenerateRandomBytes(mine, sizeof mine);
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_EQ(static_cast<ssize_t>(sizeof theirs), ::read(fds[0], theirs, sizeof theirs));
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_NE(0, std::memcmp(mine, theirs, sizeof mine));
}
