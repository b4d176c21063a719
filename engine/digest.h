#pragma once
// MD5 (RFC 1321), SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512 (FIPS 180-2), selected by
// digest length in bytes: 16, 20, 28, 32, 48, 64. The password-to-key derivations of the
// program's files live here too.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"

class CDigest {
 public:
  CDigest();
  virtual ~CDigest();
  CDigest(const CDigest&) = delete;
  CDigest& operator=(const CDigest&) = delete;

  // True for the six lengths above (starting a fresh computation); otherwise false and
  // the earlier selection stays.
  bool Select(int digestLength);
  void Update(const void* data, size_t n);  // nothing when nothing is selected
  void Final(uint8_t* out);                 // digest-length bytes; nothing when none selected
  int Length() const { return m_length; }

 private:
  struct Md5Ctx;
  struct Sha1Ctx;
  struct Sha2Ctx;
  int m_length = 0;
  Md5Ctx* m_md5 = nullptr;
  Sha1Ctx* m_sha1 = nullptr;
  Sha2Ctx* m_sha2 = nullptr;
};

// One-shot digest; an unsupported length leaves out untouched.
void ComputeDigest(uint8_t* out, const void* data, size_t n, int digestLength);

// The key of protected files: SHA-256 over an 11-byte salt (built at run time from a
// fixed constant, never stored) followed by the password's UTF-16LE code units.
void GuardKeyDigest(uint8_t out[32], std::string_view passwordUtf8);

// SHA-1 compression of one 64-byte block on a 20-byte state, words little-endian in
// memory and no padding: the mixing step of the random pool.
void Sha1CompressLe(uint8_t state[20], const uint8_t block[64]);

// A 32-byte key digest on the stack that wipes itself when it goes out of scope, with
// the store the compiler cannot drop. Use it instead of a bare array zeroed by hand.
// The bytes live on pages locked in memory and left out of core dumps
// (common/secret_memory.h) while such slots are free, else in the object itself.
struct SecretKey {
  SecretKey();
  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;
  ~SecretKey();
  uint8_t* data() { return m_bytes; }
  const uint8_t* data() const { return m_bytes; }
  static constexpr size_t size() { return 32; }

 private:
  uint8_t* m_bytes;
  uint8_t m_inline[32] = {};
};
