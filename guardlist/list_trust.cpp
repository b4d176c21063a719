#include "guardlist/list_trust.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/fd_io.h"
#include "common/paths.h"
#include "common/safe_file.h"
#include "engine/digest.h"
#include "engine/random_pool.h"

namespace {

constexpr uint8_t kTrustMagic[4] = {'V', 'G', 'K', '1'};
constexpr size_t kSecretBytes = 32;
constexpr size_t kEntryBytes = 32;
constexpr size_t kHeaderBytes = sizeof kTrustMagic + kSecretBytes;
constexpr size_t kMaxEntries = 4096;
constexpr int kMaxListPasswordPrompts = 3;

bool IsZeroKey(const uint8_t digest[32]) {
  uint8_t any = 0;
  for (size_t i = 0; i < 32; ++i) any |= digest[i];
  return any == 0;
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

// HMAC-SHA-256 (RFC 2104) of a key digest under the record's secret.
void KeyedHash(uint8_t out[32], const uint8_t secret[kSecretBytes], const uint8_t digest[32]) {
  uint8_t pad[64];
  uint8_t inner[32];
  CDigest sha;
  std::memset(pad, 0x36, sizeof pad);
  for (size_t i = 0; i < kSecretBytes; ++i) pad[i] ^= secret[i];
  sha.Select(32);
  sha.Update(pad, sizeof pad);
  sha.Update(digest, 32);
  sha.Final(inner);
  std::memset(pad, 0x5c, sizeof pad);
  for (size_t i = 0; i < kSecretBytes; ++i) pad[i] ^= secret[i];
  sha.Select(32);
  sha.Update(pad, sizeof pad);
  sha.Update(inner, sizeof inner);
  sha.Final(out);
  SecureZero(pad, sizeof pad);
  SecureZero(inner, sizeof inner);
}

std::string ConfigHome() {
  if (const char* home = std::getenv("VELLUMGUARD_HOME"); home && *home) {
    return JoinPath(home, "vellumguard");
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/') {
    return JoinPath(xdg, "vellumguard");
  }
  if (const char* h = std::getenv("HOME"); h && *h) return JoinPath(h, ".config/vellumguard");
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) {
    return JoinPath(pw->pw_dir, ".config/vellumguard");
  }
  return std::string();
}

SysError MakeProfileFolder(const std::string& folder) {
  std::string partial;
  for (size_t i = 0; i <= folder.size(); ++i) {
    if ((i == folder.size() || folder[i] == '/') && !partial.empty() &&
        ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      return ErrnoError(partial, "mkdir");
    }
    if (i < folder.size()) partial += folder[i];
  }
  return {};
}

// The record's bytes when it is the user's own private regular file of a sane size and
// form; empty otherwise (a missing, foreign or damaged record trusts nothing).
std::vector<uint8_t> ReadRecord(const std::string& path) {
  std::vector<uint8_t> bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return bytes;
  struct stat st {};
  constexpr off_t kMaxBytes = kHeaderBytes + kMaxEntries * kEntryBytes;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && IsOwnPrivateFile(st) &&
      st.st_size >= static_cast<off_t>(kHeaderBytes) && st.st_size <= kMaxBytes &&
      (st.st_size - kHeaderBytes) % kEntryBytes == 0) {
    bytes.resize(static_cast<size_t>(st.st_size));
    const ssize_t n = ReadFull(fd, bytes.data(), bytes.size());
    if (n != static_cast<ssize_t>(bytes.size()) ||
        std::memcmp(bytes.data(), kTrustMagic, sizeof kTrustMagic) != 0) {
      bytes.clear();
    }
  }
  ::close(fd);  // read-only
  return bytes;
}

bool RecordHolds(const std::vector<uint8_t>& record, const uint8_t digest[32]) {
  if (record.size() < kHeaderBytes) return false;
  uint8_t mac[32];
  KeyedHash(mac, record.data() + sizeof kTrustMagic, digest);
  bool found = false;
  for (size_t at = kHeaderBytes; at + kEntryBytes <= record.size(); at += kEntryBytes) {
    found = SameBytes(record.data() + at, mac, kEntryBytes) || found;
  }
  SecureZero(mac, sizeof mac);
  return found;
}

std::string ListNotice(int attempt) {
  const std::string elsewhere =
      "This list was made elsewhere: enter its password to protect with it.";
  return attempt > 1 ? "Wrong password. Please try again.\n" + elsewhere : elsewhere;
}

}  // namespace

std::string ProfileFolder() {
  const std::string home = ConfigHome();
  return home.empty() ? std::string() : WithTrailingSlash(home);
}

std::string ListTrustPath() {
  const std::string folder = ProfileFolder();
  return folder.empty() ? std::string() : folder + "trusted-lists";
}

bool IsListKeyTrusted(const uint8_t digest[32]) {
  if (IsZeroKey(digest)) return false;
  const std::string path = ListTrustPath();
  return !path.empty() && RecordHolds(ReadRecord(path), digest);
}

SysError TrustListKey(const uint8_t digest[32]) {
  if (IsZeroKey(digest)) return {};
  const std::string path = ListTrustPath();
  if (path.empty()) return {ENOENT, "~/.config/vellumguard/", "open"};
  std::vector<uint8_t> record = ReadRecord(path);
  if (RecordHolds(record, digest)) return {};
  if (record.empty()) {
    record.resize(kHeaderBytes);
    std::memcpy(record.data(), kTrustMagic, sizeof kTrustMagic);
    GenerateRandomBytes(record.data() + sizeof kTrustMagic, kSecretBytes);
  } else if ((record.size() - kHeaderBytes) / kEntryBytes >= kMaxEntries) {
    record.erase(record.begin() + kHeaderBytes, record.begin() + kHeaderBytes + kEntryBytes);
  }
  uint8_t mac[32];
  KeyedHash(mac, record.data() + sizeof kTrustMagic, digest);
  record.insert(record.end(), mac, mac + sizeof mac);
  SecureZero(mac, sizeof mac);
  if (SysError e = MakeProfileFolder(WithoutTrailingSlash(ProfileFolder())); !e.ok()) return e;
  SysError e = WriteFileAtomically(path, record);
  SecureZero(record.data(), record.size());
  return e;
}

int ConfirmListKey(const uint8_t digest[32], const std::string& listPath, IGuardUi& ui,
                   SysError* recordError) {
  if (IsListKeyTrusted(digest)) return LIST_KEY_TRUSTED;
  for (int attempt = 1; attempt <= kMaxListPasswordPrompts; ++attempt) {
    std::string password;
    if (!ui.AskPasswordWithNotice(listPath, ListNotice(attempt), password)) {
      SecureZero(password.data(), password.size());
      return LIST_KEY_NOT_GIVEN;
    }
    uint8_t typed[32];
    GuardKeyDigest(typed, password);
    SecureZero(password.data(), password.size());
    const bool match = SameBytes(typed, digest, sizeof typed);
    SecureZero(typed, sizeof typed);
    if (match) {
      SysError e = TrustListKey(digest);
      if (recordError) *recordError = std::move(e);
      return LIST_KEY_CONFIRMED;
    }
  }
  return LIST_KEY_WRONG;
}
