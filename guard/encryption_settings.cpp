#include "guard/encryption_settings.h"

#include <cstring>

#include "common/bytes.h"
#include "common/paths.h"
#include "common/text.h"
#include "engine/digest.h"
#include "guard/encrypted_file.h"
#include "guard/volume_relocation.h"

namespace {

constexpr uint8_t kSettingsMagic[4] = {0x44, 0x53, 0x54, 0x0A};  // "DST\n"

// The stored own path leaves out the first character of the full path (a drive letter
// where the format began; the leading "/" here).
std::string OwnPathField(const std::string& path) {
  return path.empty() ? path : path.substr(1);
}

bool OwnPathMatches(const std::string& stored, const std::string& path) {
  if (EqualsNoCase(stored, OwnPathField(path))) return true;
  if (path.empty()) return false;
  const std::string relocated = RelocateToVolumeOf(path.substr(0, 1) + stored, path);
  return !relocated.empty() && EqualsNoCase(relocated, path);
}

template <typename Char>
bool MatchPart(std::basic_string_view<Char> name, std::basic_string_view<Char> pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == Char('*')) return true;
    if (i >= name.size()) return false;
    if (pattern[i] != Char('?') && pattern[i] != name[i]) return false;
  }
  return true;
}

template <typename Char>
bool MatchName(std::basic_string_view<Char> name, std::basic_string_view<Char> pattern) {
  using View = std::basic_string_view<Char>;
  View base = name, ext;
  if (const size_t dot = name.rfind(Char('.')); dot != View::npos && dot != 0) {
    base = name.substr(0, dot);
    ext = name.substr(dot + 1);
  }
  View patBase = pattern, patExt;
  if (!pattern.empty() && pattern[0] == Char('.')) {
    patBase = View();
    patExt = pattern.substr(1);
  } else if (const size_t dot = pattern.rfind(Char('.')); dot != View::npos && dot != 0) {
    patBase = pattern.substr(0, dot);
    patExt = pattern.substr(dot + 1);
  }
  return MatchPart(base, patBase) && MatchPart(ext, patExt);
}

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool IsUsableKeyDigest(const uint8_t* digest) {
  return digest && (digest[0] != 0 || digest[1] != 0 || digest[2] != 0);
}

bool IsUsablePassword(std::string_view passwordUtf8) {
  SecretKey digest;
  GuardKeyDigest(digest.data(), passwordUtf8);
  return IsUsableKeyDigest(digest.data());
}

CEncryptionSettings::CEncryptionSettings()
    : m_includeMask(kRecordIncludeMask),
      m_excludeMask(kOwnFilesMask),
      m_noZipMask(kDefaultNoZipMask) {}

CEncryptionSettings::~CEncryptionSettings() {
  SecureZero(m_digest, sizeof m_digest);
}

void CEncryptionSettings::SetDigest(const uint8_t digest[32]) {
  std::memcpy(m_digest, digest, sizeof m_digest);
}

void CEncryptionSettings::GetDigest(uint8_t digest[32]) const {
  std::memcpy(digest, m_digest, sizeof m_digest);
}

bool CEncryptionSettings::ParsePayload(const uint8_t* data, size_t size, const std::string& path) {
  ByteReader reader(data, size);
  uint8_t magic[4];
  if (!reader.Bytes(magic, 4) || std::memcmp(magic, kSettingsMagic, 4) != 0) return false;
  std::string ownPath;
  if (!reader.CountedString(ownPath) || !OwnPathMatches(ownPath, path)) return false;
  std::string userName, include, exclude, noZip;
  SecretKey digest;
  int32_t level = 0;
  reader.CountedString(userName);
  reader.Bytes(digest.data(), digest.size());
  reader.I32(level);
  reader.CountedString(include);
  reader.CountedString(exclude);
  reader.CountedString(noZip);
  if (!reader.Ok()) return false;
  std::memcpy(m_digest, digest.data(), digest.size());
  m_zipLevel = level;
  m_includeMask = std::move(include);
  m_excludeMask = std::move(exclude);
  m_noZipMask = std::move(noZip);
  return true;
}

std::vector<uint8_t> CEncryptionSettings::BuildPayload(const std::string& path) const {
  ByteWriter writer;
  writer.Bytes(kSettingsMagic, sizeof kSettingsMagic);
  writer.CountedString(OwnPathField(path));
  writer.CountedString(UserName());
  writer.Bytes(m_digest, sizeof m_digest);
  writer.I32(m_zipLevel);
  writer.CountedString(m_includeMask);
  writer.CountedString(m_excludeMask);
  writer.CountedString(m_noZipMask);
  return std::move(writer.Data());
}

bool CEncryptionSettings::Load(const std::string& path) {
  std::vector<uint8_t> payload;
  // A settings file someone else could have planted or changed would have our files
  // protected under their key: it counts as absent.
  if (ReadEncryptedFile(path, kFixedPassword, kMaxSettingsPayload, payload, nullptr, true) !=
      ENCFILE_OK) {
    return false;
  }
  const bool accepted = ParsePayload(payload.data(), payload.size(), path);
  SecureZero(payload.data(), payload.size());
  return accepted;
}

SysError CEncryptionSettings::Save(const std::string& path) const {
  std::vector<uint8_t> payload = BuildPayload(path);
  SysError err = WriteEncryptedFile(path, kFixedPassword, payload, 0600);
  SecureZero(payload.data(), payload.size());
  return err;
}

std::vector<std::string> SplitList(std::string_view text, std::string_view separator) {
  std::vector<std::string> out;
  if (separator.empty()) {
    if (!text.empty()) out.emplace_back(text);
    return out;
  }
  size_t start = 0;
  for (;;) {
    const size_t pos = text.find(separator, start);
    if (pos == std::string_view::npos || pos <= start) break;
    out.emplace_back(text.substr(start, pos - start));
    start = pos + separator.size();
  }
  if (start < text.size()) out.emplace_back(text.substr(start));
  return out;
}

bool MatchMask(std::string_view path, std::string_view pattern) {
  const std::string name = LastPathComponent(path);
  // '?' stands for one UTF-16 unit, as the rule was defined; ASCII needs no conversion.
  if (IsAscii(name) && IsAscii(pattern)) {
    return MatchName<char>(name, pattern);
  }
  const std::u16string wideName = FromUtf8(name);
  const std::u16string widePattern = FromUtf8(pattern);
  return MatchName<char16_t>(wideName, widePattern);
}

bool MatchMaskList(std::string_view path, std::string_view mask, std::string_view separator) {
  for (const std::string& pattern : SplitList(mask, separator)) {
    if (MatchMask(path, pattern)) return true;
  }
  return false;
}
