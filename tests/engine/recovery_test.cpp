// Files of the program read back with nothing but OpenSSL, zlib and the layout that
// docs/FORMAT.md describes: the proof that a user can recover a file with standard
// tools. Nothing of the engine is used on the reading side.
#include <openssl/evp.h>
#include <zlib.h>

#include <random>

#include <gtest/gtest.h>

#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/file_codec.h"
#include "engine_test_util.h"

namespace {

Bytes Digest(const EVP_MD* md, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

Bytes Utf16Le(const std::u16string& s) {
  Bytes b;
  for (char16_t c : s) {
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}

// The container: 2 check bytes, 16 IV bytes, whole blocks in AES-256-CBC, tail XOR IV.
// Returns false when the check bytes do not fit the key.
bool OpenContainer(const Bytes& file, const Bytes& key, Bytes& payload) {
  if (file.size() < 18) return false;
  const Bytes iv(file.begin() + 2, file.begin() + 18);
  const Bytes md5 = Digest(EVP_md5(), key);
  if ((md5[0] ^ iv[0]) != file[0] || (md5[1] ^ iv[1]) != file[1]) return false;
  const size_t length = file.size() - 18;
  const size_t whole = length / 16 * 16;
  payload.assign(whole + 16, 0);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_DecryptUpdate(ctx, payload.data(), &n, file.data() + 18, static_cast<int>(whole));
  EVP_CIPHER_CTX_free(ctx);
  payload.resize(static_cast<size_t>(n));
  for (size_t i = 0; i < length - whole; ++i) {
    payload.push_back(static_cast<uint8_t>(file[18 + whole + i] ^ iv[i]));
  }
  return true;
}

Bytes Inflate(const uint8_t* data, size_t n) {
  z_stream z{};
  EXPECT_EQ(Z_OK, inflateInit(&z));
  Bytes out;
  uint8_t chunk[65536];
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(n);
  int r;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  } while (r == Z_OK);
  EXPECT_EQ(Z_STREAM_END, r);
  inflateEnd(&z);
  return out;
}

}  // namespace

TEST(Recovery, ProtectedFileWithStandardTools) {
  TempFolder dir;
  std::mt19937_64 rng(2024);
  // 2,500,000 bytes take the path that deflates pieces of the file on several cores.
  for (size_t size : {0, 15, 1040, 123457, 2500000}) {
    const Bytes plain = TextLikeBytes(rng, size);
    WriteFileBytes(dir.File("plain"), plain);
    CFileCodec codec;
    codec.m_bufferSize = 1024;
    codec.m_usePasswordText = 0;
    GuardKeyDigest(codec.m_keyDigest, "correct horse");
    codec.m_source = dir.File("plain");
    codec.m_destination = dir.File("plain.~de");
    ASSERT_EQ(CODEC_OK, codec.Encode());

    // Key: SHA-256 over the documented 11 salt bytes and the UTF-16LE password.
    Bytes keyInput = FromHex("5a 65 53 65 4a 7d 04 09 32 1a 24");
    const Bytes pw = Utf16Le(u"correct horse");
    keyInput.insert(keyInput.end(), pw.begin(), pw.end());
    const Bytes key = Digest(EVP_sha256(), keyInput);

    Bytes payload;
    ASSERT_TRUE(OpenContainer(ReadFileBytes(dir.File("plain.~de")), key, payload));
    ASSERT_GE(payload.size(), 4u);
    EXPECT_EQ((Bytes{0x41, 0x45, 0x53, 0x01}), Bytes(payload.begin(), payload.begin() + 4));
    EXPECT_EQ(plain, Inflate(payload.data() + 4, payload.size() - 4)) << size;

    // A wrong password fails the check bytes (or, rarely, the magic).
    Bytes wrongInput = keyInput;
    wrongInput.back() ^= 1;
    Bytes ignored;
    const bool passes = OpenContainer(ReadFileBytes(dir.File("plain.~de")),
                                      Digest(EVP_sha256(), wrongInput), ignored);
    EXPECT_TRUE(!passes || ignored.size() < 4 || ignored[3] != 1 || ignored[0] != 0x41);
  }
}

TEST(Recovery, ProgramFileUnderTheFixedPassword) {
  TempFolder dir;
  std::mt19937_64 rng(7);
  const Bytes payload = RandomBytes(rng, 4321);  // whole blocks and a 1-byte tail
  {
    CEncryptedStream s;
    ASSERT_EQ(1, s.Open(dir.File("list.dlt"), STREAM_WRITE, CHAIN_CBC));
    ASSERT_EQ(1, s.SetPassword("Vellumguard"));
    ASSERT_EQ(4321, s.Write(payload.data(), payload.size()));
    ASSERT_EQ(1, s.Close());
  }
  const Bytes key = Digest(EVP_sha256(), Utf16Le(u"Vellumguard"));
  EXPECT_EQ("0429f2b74a924713c5eaa56a4d151d583fb02797b875d32f98de0f3da5c79045", ToHex(key));
  Bytes back;
  ASSERT_TRUE(OpenContainer(ReadFileBytes(dir.File("list.dlt")), key, back));
  EXPECT_EQ(payload, back);
}
