#include "engine/encrypted_stream.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "engine/digest.h"
#include "engine_test_util.h"
#include "tests/common/child_process.h"

namespace {

Bytes Sha256Utf16(const std::u16string& text) {
  Bytes units;
  for (char16_t c : text) {
    units.push_back(static_cast<uint8_t>(c & 0xFF));
    units.push_back(static_cast<uint8_t>(c >> 8));
  }
  Bytes key(32);
  unsigned int n = 0;
  EVP_Digest(units.data(), units.size(), key.data(), &n, EVP_sha256(), nullptr);
  return key;
}

// What the container must hold for a payload, computed with OpenSSL: check bytes, IV,
// whole blocks in CBC, then the tail XORed with the IV.
Bytes ExpectedContainer(const Bytes& key, const uint8_t* iv, const Bytes& payload) {
  Bytes md5(16);
  unsigned int n = 0;
  EVP_Digest(key.data(), key.size(), md5.data(), &n, EVP_md5(), nullptr);
  Bytes file;
  file.reserve(18 + payload.size() + 16);
  file.push_back(static_cast<uint8_t>(md5[0] ^ iv[0]));
  file.push_back(static_cast<uint8_t>(md5[1] ^ iv[1]));
  file.insert(file.end(), iv, iv + 16);
  const size_t whole = payload.size() / 16 * 16;
  if (whole > 0) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(whole + 16);
    int n1 = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n1, payload.data(), static_cast<int>(whole));
    EVP_CIPHER_CTX_free(ctx);
    file.insert(file.end(), out.begin(), out.begin() + n1);
  }
  for (size_t i = whole; i < payload.size(); ++i) {
    file.push_back(static_cast<uint8_t>(payload[i] ^ iv[(i - whole) % 16]));
  }
  return file;
}

// Writes payload in pieces of random sizes; returns the IV used.
Bytes WriteInPieces(const std::string& path, const Bytes& payload, uint32_t bufferRequest,
                    std::mt19937_64& rng, const char* password = "pw") {
  CEncryptedStream s(bufferRequest);
  EXPECT_EQ(1, s.Open(path, STREAM_WRITE, CHAIN_CBC));
  EXPECT_EQ(1, s.SetPassword(password));
  size_t at = 0;
  while (at < payload.size()) {
    const size_t n = std::min<size_t>(payload.size() - at, 1 + rng() % 3000);
    EXPECT_EQ(static_cast<int64_t>(n), s.Write(payload.data() + at, n));
    at += n;
  }
  Bytes iv(s.Iv(), s.Iv() + 16);
  EXPECT_EQ(1, s.Close());
  EXPECT_EQ(0, s.CloseError());
  return iv;
}

Bytes ReadInPieces(const std::string& path, uint32_t bufferRequest, std::mt19937_64& rng,
                   const char* password = "pw") {
  CEncryptedStream s(bufferRequest);
  EXPECT_EQ(1, s.Open(path, STREAM_READ, CHAIN_CBC));
  EXPECT_EQ(1, s.SetPassword(password));
  Bytes out;
  for (;;) {
    Bytes piece(1 + rng() % 3000);
    const int64_t n = s.Read(piece.data(), piece.size());
    EXPECT_GE(n, 0);
    if (n <= 0) break;
    out.insert(out.end(), piece.begin(), piece.begin() + n);
  }
  return out;
}

}  // namespace

TEST(EncryptedStream, FifteenBytesAreOnlyMaskedWithTheIv) {
  TempFolder dir;
  const std::string path = dir.File("p");
  const Bytes payload = FromHex("000102030405060708090a0b0c0d0e");
  CEncryptedStream s;
  ASSERT_EQ(1, s.Open(path, STREAM_WRITE, CHAIN_CBC));
  ASSERT_EQ(1, s.SetPassword("Vellumguard"));
  ASSERT_EQ(15, s.Write(payload.data(), payload.size()));
  const Bytes iv(s.Iv(), s.Iv() + 16);
  ASSERT_EQ(1, s.Close());
  const Bytes file = ReadFileBytes(path);
  ASSERT_EQ(33u, file.size());
  for (size_t i = 0; i < 15; ++i) EXPECT_EQ(payload[i] ^ iv[i], file[18 + i]);
  EXPECT_EQ(ExpectedContainer(Sha256Utf16(u"Vellumguard"), iv.data(), payload), file);
}

TEST(EncryptedStream, SixteenBytesAreOneEncryptedBlock) {
  TempFolder dir;
  const std::string path = dir.File("p");
  const Bytes payload(16, 0x41);
  CEncryptedStream s;
  ASSERT_EQ(1, s.Open(path, STREAM_WRITE, CHAIN_CBC));
  ASSERT_EQ(1, s.SetPassword("Vellumguard"));
  ASSERT_EQ(16, s.Write(payload.data(), payload.size()));
  const Bytes iv(s.Iv(), s.Iv() + 16);
  ASSERT_EQ(1, s.Close());
  const Bytes file = ReadFileBytes(path);
  ASSERT_EQ(34u, file.size());
  EXPECT_EQ(ExpectedContainer(Sha256Utf16(u"Vellumguard"), iv.data(), payload), file);
}

// Every size around the buffer boundaries, written and read through different buffer
// sizes in random pieces; the file must be exactly the documented container.
TEST(EncryptedStream, SizesAroundBoundariesAndMixedBufferSizes) {
  TempFolder dir;
  std::mt19937_64 rng(42);
  const Bytes key = Sha256Utf16(u"pw");
  for (size_t n :
       {0, 1, 15, 16, 17, 1039, 1040, 1041, 4111, 4112, 4113, 65535, 65536, 66560, 66561, 200003}) {
    const Bytes payload = RandomBytes(rng, n);
    for (auto [writeBuf, readBuf] :
         {std::pair<uint32_t, uint32_t>{4096, 1024}, {1024, 4096}, {0, 100000}, {100000, 0}}) {
      const std::string path = dir.File("f");
      const Bytes iv = WriteInPieces(path, payload, writeBuf, rng);
      const Bytes file = ReadFileBytes(path);
      ASSERT_EQ(18 + n, file.size());
      ASSERT_EQ(ExpectedContainer(key, iv.data(), payload), file) << n << " " << writeBuf;
      ASSERT_EQ(payload, ReadInPieces(path, readBuf, rng)) << n << " " << readBuf;
    }
  }
}

TEST(EncryptedStream, EcbAndCfbModesRoundTrip) {
  TempFolder dir;
  std::mt19937_64 rng(8);
  const Bytes payload = RandomBytes(rng, 5000);
  for (int mode : {CHAIN_ECB, CHAIN_CFB}) {
    const std::string path = dir.File("m");
    {
      CEncryptedStream s;
      ASSERT_EQ(1, s.Open(path, STREAM_WRITE, mode));
      ASSERT_EQ(1, s.SetPassword("x"));
      ASSERT_EQ(5000, s.Write(payload.data(), payload.size()));
    }
    CEncryptedStream r(1024);
    ASSERT_EQ(1, r.Open(path, STREAM_READ, mode));
    ASSERT_EQ(1, r.SetPassword("x"));
    Bytes back(6000);
    ASSERT_EQ(5000, r.Read(back.data(), back.size()));
    back.resize(5000);
    EXPECT_EQ(payload, back) << mode;
  }
}

TEST(EncryptedStream, PasswordRules) {
  TempFolder dir;
  const std::string path = dir.File("p");
  const Bytes payload = {1, 2, 3};
  {
    CEncryptedStream s;
    ASSERT_EQ(1, s.Open(path, STREAM_WRITE, CHAIN_CBC));
    EXPECT_EQ(0, s.SetPassword(""));  // nothing set
    EXPECT_EQ(-1, s.Write(payload.data(), 3));
    EXPECT_EQ(-2, s.SetKeyDigest(nullptr));
    ASSERT_EQ(1, s.SetPassword("right"));
    EXPECT_EQ(0, s.SetPassword("again"));  // the header is already written
    ASSERT_EQ(3, s.Write(payload.data(), 3));
  }
  CEncryptedStream r;
  ASSERT_EQ(1, r.Open(path, STREAM_READ, CHAIN_CBC));
  EXPECT_EQ(0, r.SetPassword(""));
  Bytes out(10);
  EXPECT_EQ(-1, r.Read(out.data(), out.size()));
  EXPECT_EQ(-2, r.SetPassword("wrong"));
  EXPECT_EQ(-1, r.Read(out.data(), out.size()));
  // The same object accepts the right password afterwards.
  ASSERT_EQ(1, r.SetPassword("right"));
  ASSERT_EQ(3, r.Read(out.data(), out.size()));
  EXPECT_EQ(payload, Bytes(out.begin(), out.begin() + 3));
  EXPECT_EQ(0, r.Read(out.data(), out.size()));
  EXPECT_EQ(0, r.Read(out.data(), out.size()));  // past the end stays 0
  EXPECT_EQ(0, r.Read(nullptr, 5));
}

TEST(EncryptedStream, KeyGivenBeforeOpenWritesHeaderWithFirstWrite) {
  TempFolder dir;
  const std::string path = dir.File("k");
  uint8_t key[32];
  GuardKeyDigest(key, "abc");
  {
    CEncryptedStream s;
    EXPECT_EQ(1, s.SetKeyDigest(key));
    ASSERT_EQ(1, s.Open(path, STREAM_WRITE, CHAIN_CBC));
    EXPECT_EQ(0u, ReadFileBytes(path).size());
    ASSERT_EQ(20, s.Write("twenty bytes of data", 20));
  }
  EXPECT_EQ(38u, ReadFileBytes(path).size());
  CEncryptedStream r;
  EXPECT_EQ(1, r.SetKeyDigest(key));
  ASSERT_EQ(1, r.Open(path, STREAM_READ, CHAIN_CBC));
  char out[32] = {};
  ASSERT_EQ(20, r.Read(out, sizeof out));
  EXPECT_EQ(std::string("twenty bytes of data"), std::string(out, 20));
}

TEST(EncryptedStream, ShortAndEmptyFiles) {
  TempFolder dir;
  for (size_t size : {0, 1, 17}) {
    const std::string path = dir.File("short");
    WriteFileBytes(path, Bytes(size, 7));
    CEncryptedStream r;
    ASSERT_EQ(1, r.Open(path, STREAM_READ, CHAIN_CBC));
    EXPECT_EQ(-1, r.SetPassword("pw")) << size;
    uint8_t b[4];
    EXPECT_EQ(-1, r.Read(b, 4));
  }
  // Closed without a key: an empty file. With a key and no data: the 18-byte header.
  {
    CEncryptedStream s;
    ASSERT_EQ(1, s.Open(dir.File("nokey"), STREAM_WRITE, CHAIN_CBC));
  }
  EXPECT_EQ(0u, ReadFileBytes(dir.File("nokey")).size());
  {
    CEncryptedStream s;
    ASSERT_EQ(1, s.Open(dir.File("header"), STREAM_WRITE, CHAIN_CBC));
    ASSERT_EQ(1, s.SetPassword("pw"));
  }
  EXPECT_EQ(18u, ReadFileBytes(dir.File("header")).size());
  CEncryptedStream r;
  ASSERT_EQ(1, r.Open(dir.File("header"), STREAM_READ, CHAIN_CBC));
  ASSERT_EQ(1, r.SetPassword("pw"));
  uint8_t b[4];
  EXPECT_EQ(0, r.Read(b, 4));
}

TEST(EncryptedStream, OpenAndCloseRules) {
  TempFolder dir;
  CEncryptedStream s;
  EXPECT_EQ(0, s.Close());
  EXPECT_EQ(0, s.Open(dir.File("x"), 3, CHAIN_CBC));
  EXPECT_EQ(0, s.Open(dir.File("missing"), STREAM_READ, CHAIN_CBC));
  EXPECT_EQ(0, s.Open(dir.Path(), STREAM_READ, CHAIN_CBC));  // a folder
  ASSERT_EQ(0, ::mkfifo(dir.File("fifo").c_str(), 0600));
  EXPECT_EQ(0, s.Open(dir.File("fifo"), STREAM_READ, CHAIN_CBC));  // and no hang
  EXPECT_EQ(0, s.Open(dir.File("fifo"), STREAM_WRITE, CHAIN_CBC));

  ASSERT_EQ(1, s.Open(dir.File("first"), STREAM_WRITE, CHAIN_CBC));
  EXPECT_EQ(0, s.Open(dir.File("second"), STREAM_WRITE, CHAIN_CBC));
  EXPECT_FALSE(PathExists(dir.File("second")));
  ASSERT_EQ(1, s.SetPassword("pw"));
  ASSERT_EQ(3, s.Write("abc", 3));
  EXPECT_EQ(1, s.Close());
  EXPECT_EQ(0, s.Close());
  EXPECT_EQ(21u, ReadFileBytes(dir.File("first")).size());

  struct stat st {};
  ASSERT_EQ(0, ::stat(dir.File("first").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST(EncryptedStream, BufferSizes) {
  CEncryptedStream s;
  EXPECT_EQ(4112, s.BufferSize());
  EXPECT_EQ(4112, s.SetBufferSize(4096));
  EXPECT_EQ(16, s.SetBufferSize(0));
  EXPECT_EQ(1040, s.SetBufferSize(1024));
  EXPECT_EQ(1040, s.SetBufferSize(1039));
  EXPECT_EQ(-1, s.SetBufferSize(~0ull));
  EXPECT_EQ(0, s.BufferSize());
  // Without a buffer the stream refuses to work, until a later call succeeds.
  TempFolder dir;
  ASSERT_EQ(1, s.Open(dir.File("b"), STREAM_WRITE, CHAIN_CBC));
  ASSERT_EQ(1, s.SetPassword("pw"));
  EXPECT_EQ(-1, s.Write("abc", 3));
  EXPECT_EQ(32, s.SetBufferSize(16));
  EXPECT_EQ(3, s.Write("abc", 3));
  CEncryptedStream c(0);
  EXPECT_EQ(16, c.BufferSize());
}

TEST(EncryptedStream, EachObjectDrawsItsOwnIv) {
  CEncryptedStream a, b;
  EXPECT_NE(0, std::memcmp(a.Iv(), b.Iv(), 16));
}

// A write that fails late (disk full, here a file size limit) must be visible through
// CloseError, both when it hits a buffer during Write and when it hits the final flush.
TEST(EncryptedStream, LateWriteFailureIsReported) {
  TempFolder dir;
  const std::string path = dir.File("limited");
  std::mt19937_64 rng(1);
  const Bytes payload = RandomBytes(rng, 300000);
  // Limit 1000: only the header fits; everything else fails in Close.
  const int atClose = RunWithFileSizeLimit(1000, [&] {
    CEncryptedStream s;
    if (s.Open(path, STREAM_WRITE, CHAIN_CBC) != 1 || s.SetPassword("pw") != 1) return 1;
    if (s.Write(payload.data(), 5000) != 5000) return 2;
    if (s.Close() != 1) return 3;
    return s.CloseError() == EFBIG ? 0 : 4;
  });
  EXPECT_EQ(0, atClose);
  // Limit 100000: a Write call fails once its buffers reach the limit, and the stream
  // stays failed.
  const int atWrite = RunWithFileSizeLimit(100000, [&] {
    CEncryptedStream s;
    if (s.Open(path, STREAM_WRITE, CHAIN_CBC) != 1 || s.SetPassword("pw") != 1) return 1;
    int64_t r = 0;
    size_t at = 0;
    while (at < payload.size() && (r = s.Write(payload.data() + at, 1000)) == 1000) at += 1000;
    if (r != -1 || at >= payload.size()) return 2;
    if (s.Write(payload.data(), 16) != -1) return 3;
    s.Close();
    return s.CloseError() == EFBIG ? 0 : 4;
  });
  EXPECT_EQ(0, atWrite);
  // Without a limit the same writes succeed and CloseError stays 0.
  CEncryptedStream s;
  ASSERT_EQ(1, s.Open(path, STREAM_WRITE, CHAIN_CBC));
  ASSERT_EQ(1, s.SetPassword("pw"));
  s.SetSyncOnClose(true);
  ASSERT_EQ(300000, s.Write(payload.data(), payload.size()));
  EXPECT_EQ(1, s.Close());
  EXPECT_EQ(0, s.CloseError());
}
