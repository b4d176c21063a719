#pragma once
// Helpers shared by the engine tests: hex, random bytes, a temporary folder, whole-file
// reads and writes.
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.h"  // PathExists

using Bytes = std::vector<uint8_t>;

Bytes FromHex(std::string_view hex);
std::string ToHex(const uint8_t* p, size_t n);
inline std::string ToHex(const Bytes& b) {
  return ToHex(b.data(), b.size());
}
Bytes RandomBytes(std::mt19937_64& rng, size_t n);
// Deflate-friendly text: words from a small vocabulary with line breaks.
Bytes TextLikeBytes(std::mt19937_64& rng, size_t n);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

// A fresh folder under $TMPDIR (or /tmp), removed with its files at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return m_path; }
  std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }
  // Names of the entries in the folder (no "." and "..").
  std::vector<std::string> Entries() const;

 private:
  std::string m_path;
};
