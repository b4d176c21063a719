// Hostile decrypted settings payloads: never a crash or a huge allocation; an accepted
// payload writes back to a payload that parses to the same record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "guard/encryption_settings.h"

namespace {
const std::string kPath = "/fuzz/folder/zde.tmp";

CEncryptionSettings Seed(int i) {
  CEncryptionSettings s;
  s.m_zipLevel = i;
  for (int k = 0; k < 32; ++k) s.m_digest[k] = static_cast<uint8_t>(k * (i + 1));
  if (i == 1) s.m_includeMask = "*.txt|\xC3\xA9*.doc|";
  if (i == 2) s.m_noZipMask.clear();
  return s;
}
}  // namespace

// The replay driver's seed hook returns a C++ value; it is only ever called from C++.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t LLVMFuzzerSeedCount() {
  return 3;
}
extern "C" std::vector<uint8_t> LLVMFuzzerSeed(size_t index) {
  return Seed(static_cast<int>(index)).BuildPayload(kPath);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CEncryptionSettings s;
  if (!s.ParsePayload(data, size, kPath)) {
    CEncryptionSettings fresh;
    if (s.m_zipLevel != fresh.m_zipLevel || s.m_includeMask != fresh.m_includeMask) std::abort();
    return 0;
  }
  const std::vector<uint8_t> again = s.BuildPayload(kPath);
  CEncryptionSettings back;
  if (!back.ParsePayload(again.data(), again.size(), kPath)) std::abort();
  if (std::memcmp(back.m_digest, s.m_digest, 32) != 0 || back.m_zipLevel != s.m_zipLevel ||
      back.m_includeMask != s.m_includeMask || back.m_excludeMask != s.m_excludeMask ||
      back.m_noZipMask != s.m_noZipMask) {
    std::abort();
  }
  // The masks of a hostile file go through the matcher too.
  MatchMaskList("/a/b.txt", s.m_includeMask);
  MatchMaskList("/a/b.txt", s.m_noZipMask);
  return 0;
}
