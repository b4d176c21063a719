#include "engine_test_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

Bytes FromHex(std::string_view hex) {
  Bytes out;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int high = -1;
  for (char c : hex) {
    const int v = nibble(c);
    if (v < 0) continue;  // spaces for readability
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

Bytes RandomBytes(std::mt19937_64& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes TextLikeBytes(std::mt19937_64& rng, size_t n) {
  static const char* words[] = {"the ",  "guard ", "file ",  "folder ", "protect ", "restore ",
                                "list ", "key ",   "of ",    "and ",    "a ",       "password ",
                                "zlib ", "block ", "value ", "report ", "2024 ",    "settings "};
  Bytes b;
  b.reserve(n);
  while (b.size() < n) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    for (const char* p = w; *p && b.size() < n; ++p) b.push_back(static_cast<uint8_t>(*p));
    if (rng() % 12 == 0 && b.size() < n) b.push_back('\n');
  }
  return b;
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vg-engine-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempFolder::~TempFolder() {
  for (const auto& name : Entries()) ::unlink(File(name).c_str());
  ::rmdir(m_path.c_str());
}

std::vector<std::string> TempFolder::Entries() const {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(m_path.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  return names;
}
