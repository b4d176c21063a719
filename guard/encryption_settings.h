#pragma once
// The settings of a protect operation (key digest, zip level, include, exclude and no-zip
// masks), their encrypted settings files ("zde.tmp" in a folder, "VellumDef.dat" in the
// program folder) and the mask language.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/sys_error.h"

// The fixed password of the program's own encrypted files (settings and list files).
inline constexpr std::string_view kFixedPassword = "Vellumguard";
// Names the program's own files.
inline constexpr std::string_view kOwnFilesMask = "Vellum*.*|";
inline constexpr std::string_view kDefaultNoZipMask =
    "*.rar|*.zip|*.cab|*.mp3|*.wma|*.wmv|*.avi|*.jpg|*.pdf|";
// The include mask of a fresh settings record, and the one the protect commands and the
// list start from (the same single pattern once split).
inline constexpr std::string_view kRecordIncludeMask = "*.*";
inline constexpr std::string_view kDefaultIncludeMask = "*.*|";
inline constexpr std::string_view kMaskSeparator = "|";
// Patterns that are never protected, whatever the masks say.
inline constexpr std::string_view kProtectedPattern = "*.~de";
inline constexpr std::string_view kSettingsPattern = "zde.tmp";
inline constexpr int kDefaultZipLevel = 6;

// A settings file holds a few short texts; anything larger is not one.
inline constexpr uint64_t kMaxSettingsPayload = 1u << 20;

// A key digest whose first three bytes are zero means "no key" wherever one is stored
// (all zero: no password set yet). It never protects a file and is never tried as a key.
bool IsUsableKeyDigest(const uint8_t* digest);
// False for the rare password (about one in 16.7 million) whose key is such a digest;
// every place that takes a new password refuses it with kUnusablePasswordText.
bool IsUsablePassword(std::string_view passwordUtf8);
inline constexpr std::string_view kUnusablePasswordText =
    "This password cannot be used: its key would read as \"no password\". Please choose "
    "another password.";

class CEncryptionSettings {
 public:
  CEncryptionSettings();
  virtual ~CEncryptionSettings();  // zeroes the digest
  CEncryptionSettings(const CEncryptionSettings&) = default;
  CEncryptionSettings& operator=(const CEncryptionSettings&) = default;

  void SetDigest(const uint8_t digest[32]);
  void GetDigest(uint8_t digest[32]) const;

  // Accepts the file only when it is an encrypted stream under the fixed password with
  // the magic "DST\n", was written for this very path (no regard to ASCII case; a path
  // on a removable volume that is now mounted elsewhere counts as the same, see
  // guard/volume_relocation.h), and every field is complete with counts that fit the
  // data, and the file is owned by the effective user and writable by nobody else. On
  // false the record is unchanged. The stored level is taken as it is.
  bool Load(const std::string& path);
  // Writes the file crash-safely (temporary file, sync, rename); on failure the reason,
  // and the old file stays as it was.
  [[nodiscard]] SysError Save(const std::string& path) const;

  // Parses a decrypted settings payload for the file at path (what Load does after
  // decrypting). Public for the fuzz target and the tests.
  bool ParsePayload(const uint8_t* data, size_t size, const std::string& path);
  std::vector<uint8_t> BuildPayload(const std::string& path) const;

  uint8_t m_digest[32] = {};
  int32_t m_zipLevel = kDefaultZipLevel;
  std::string m_includeMask;
  std::string m_excludeMask;
  std::string m_noZipMask;
};

// Splits a mask text at the separator. Elements end at a separator that lies strictly
// after the element's start; an empty element (two separators in a row, or a leading
// separator) ends the splitting and the rest of the text, separators included, becomes
// one last element. "*.rar|*.zip|" gives "*.rar", "*.zip"; "" gives nothing.
std::vector<std::string> SplitList(std::string_view text,
                                   std::string_view separator = kMaskSeparator);

// The program's own pattern rule, on the last path component: name and pattern are each
// split into base and extension at the last dot (a leading dot of the name does not
// split; a pattern starting with a dot is all extension); each part is compared from its
// first character: "*" ends it with a match, "?" needs any character, anything else must
// be equal (case matters), and a used-up pattern part matches whatever is left. So "*.*"
// matches every name, "*.rar" matches a.rarx but not a.RAR, "" matches everything.
bool MatchMask(std::string_view path, std::string_view pattern);
// True when any pattern of SplitList(mask, separator) matches; an empty list matches
// nothing.
bool MatchMaskList(std::string_view path, std::string_view mask,
                   std::string_view separator = kMaskSeparator);
