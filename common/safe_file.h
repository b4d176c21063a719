#pragma once
// Crash-safe writing. A file the user cares about is written to a temporary dot-name in
// the same folder, synced, renamed over its target, and the folder is synced; a failure
// at any step leaves the target as it was. Temporary names have one recognisable form,
// ".vgtmp.<name>.<random>", which listings, collectors and drivers skip.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kTempPrefix = ".vgtmp.";

// A failed system call: errno and the path it concerned. ok() when err == 0.
struct SysError {
  int err = 0;
  std::string path;
  bool ok() const { return err == 0; }
  // "cannot write /a/b: No space left on device" style text for messages.
  std::string Describe(std::string_view what) const;
};

bool IsTempName(std::string_view nameOrPath);
// A fresh temporary path beside target (same folder), not yet existing.
std::string TempPathFor(std::string_view target);
// fsync of an open descriptor / of a path opened read-only / of a path's folder.
SysError SyncFd(int fd, const std::string& path);
SysError SyncPath(const std::string& path);
SysError SyncParentFolder(const std::string& path);
// fsync temp, rename it over target, fsync the folder. On failure temp is removed and
// target is untouched.
SysError CommitTempFile(const std::string& temp, const std::string& target);
// Writes bytes to target crash-safely (temp, fsync, rename, folder fsync).
SysError WriteFileAtomically(const std::string& target, const std::vector<uint8_t>& bytes);
// Reads a whole regular file of at most maxBytes; larger files fail with EFBIG.
SysError ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out);
// Removes leftover temporary files of interrupted runs whose target would be in folder
// and whose owner process is gone; returns how many were removed.
int RemoveStaleTempFiles(const std::string& folder);
