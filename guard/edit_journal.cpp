#include "guard/edit_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/paths.h"
#include "engine/digest.h"

namespace {

constexpr uint64_t kMaxJournalBytes = 64 * 1024;
constexpr const char* kJournalMagic = "vellumguard-edit-journal 1";

std::string Hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

bool FromHex(const std::string& s, uint8_t* out, size_t n) {
  if (s.size() != 2 * n) return false;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < n; ++i) {
    const int hi = nibble(s[2 * i]), lo = nibble(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

// Paths may hold any byte but NUL: line feeds and "%" are escaped.
std::string Escape(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c == '%' || c == '\n' || c == '\r') {
      out += '%';
      out += Hex(reinterpret_cast<const uint8_t*>(&c), 1);
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\0') return false;
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    uint8_t c = 0;
    if (i + 2 >= s.size()) return false;
    if (!FromHex(s.substr(i + 1, 2), &c, 1) || c == 0) return false;
    out += static_cast<char>(c);
    i += 2;
  }
  return true;
}

bool ParseIdentity(std::istringstream& in, FileIdentity& id) {
  in >> id.dev >> id.ino >> id.size >> id.mtimeSec >> id.mtimeNsec >> id.ctimeSec >> id.ctimeNsec;
  return !in.fail();
}

std::string IdentityText(const FileIdentity& id) {
  std::ostringstream out;
  out << id.dev << ' ' << id.ino << ' ' << id.size << ' ' << id.mtimeSec << ' ' << id.mtimeNsec
      << ' ' << id.ctimeSec << ' ' << id.ctimeNsec;
  return out.str();
}

// One "key value" line into the journal; false for an unknown key or a bad value.
bool ParseLine(const std::string& key, const std::string& value, EditJournal& j, int& seen) {
  std::istringstream in(value);
  if (key == "original") return Unescape(value, j.original) && (seen |= 1);
  if (key == "target") return Unescape(value, j.target) && (seen |= 2);
  if (key == "name") return Unescape(value, j.name) && (seen |= 4);
  if (key == "salt") return FromHex(value, j.salt, kEditSaltSize) && (seen |= 8);
  if (key == "hash") return FromHex(value, j.hash, kEditHashSize) && (seen |= 16);
  if (key == "written") return ParseIdentity(in, j.written) && (seen |= 32);
  if (key == "level") {
    in >> j.level;
    return !in.fail() && j.level >= 0 && j.level <= 9 && (seen |= 64);
  }
  if (key == "pending") {
    std::string hash;
    in >> hash >> j.pendingDev >> j.pendingIno;
    j.pending = true;
    return !in.fail() && FromHex(hash, j.pendingHash, kEditHashSize);
  }
  return false;
}

bool IsSafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::string JournalPathOf(const std::string& sessionFolder) {
  return WithoutTrailingSlash(sessionFolder) + ".session";
}

std::string SessionFolderOf(const std::string& journalPath) {
  constexpr std::string_view suffix = ".session";
  if (journalPath.size() <= suffix.size()) return {};
  return WithTrailingSlash(journalPath.substr(0, journalPath.size() - suffix.size()));
}

SysError WriteJournal(const std::string& path, const EditJournal& j) {
  std::ostringstream out;
  out << kJournalMagic << "\noriginal " << Escape(j.original) << "\ntarget " << Escape(j.target)
      << "\nname " << Escape(j.name) << "\nlevel " << j.level << "\nsalt "
      << Hex(j.salt, kEditSaltSize) << "\nhash " << Hex(j.hash, kEditHashSize) << "\nwritten "
      << IdentityText(j.written) << "\n";
  if (j.pending) {
    out << "pending " << Hex(j.pendingHash, kEditHashSize) << ' ' << j.pendingDev << ' '
        << j.pendingIno << "\n";
  }
  const std::string text = out.str();
  return WriteFileAtomically(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool ReadJournal(const std::string& path, EditJournal& journal, std::string& error) {
  std::vector<uint8_t> bytes;
  if (SysError e = ReadWholeFile(path, kMaxJournalBytes, bytes); !e.ok()) {
    error = e.Reason();
    return false;
  }
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  EditJournal j;
  int seen = 0;
  bool first = true;
  while (std::getline(in, line)) {
    if (first) {
      first = false;
      if (line != kJournalMagic) break;
      continue;
    }
    const size_t space = line.find(' ');
    if (space == std::string::npos ||
        !ParseLine(line.substr(0, space), line.substr(space + 1), j, seen)) {
      seen = -1;
      break;
    }
  }
  if (seen != 127 || j.original.empty() || j.original[0] != '/' || j.target.empty() ||
      j.target[0] != '/' || !IsSafeName(j.name)) {
    error = "not a session record of this program";
    return false;
  }
  journal = std::move(j);
  return true;
}

SysError HashFile(const std::string& path, const uint8_t salt[kEditSaltSize],
                  uint8_t hash[kEditHashSize], FileIdentity* identity) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ErrnoError(path, "open");
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int e = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    return {e, path, "fstat"};
  }
  CDigest digest;
  digest.Select(static_cast<int>(kEditHashSize));
  digest.Update(salt, kEditSaltSize);
  std::vector<uint8_t> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      SysError e = ErrnoError(path, "read");
      ::close(fd);
      return e;
    }
    digest.Update(buffer.data(), static_cast<size_t>(n));
  }
  SecureZero(buffer.data(), buffer.size());
  digest.Final(hash);
  if (identity) *identity = IdentityOf(st);
  if (::close(fd) != 0) return ErrnoError(path, "close");
  return {};
}
