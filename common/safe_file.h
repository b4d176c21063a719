#pragma once
// Crash-safe writing. A file the user cares about is written to a temporary dot-name in
// the same folder, synced, renamed over its target, and the folder is synced; a failure
// at any step leaves the target as it was. Temporary names have one recognisable form,
// ".vgtmp.<name>.<pid>-<random>", which listings, collectors and drivers skip.
//
// Folders may be writable by others, so every file is created with O_CREAT|O_EXCL|
// O_NOFOLLOW at mode 0600 under a name with 64 random bits from the kernel, and modes,
// owners and times are set on the descriptor, never by path.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/sys_error.h"

inline constexpr std::string_view kTempPrefix = ".vgtmp.";

bool IsTempName(std::string_view nameOrPath);
// What a temporary file holds: new content on its way to its name, or a plain file moved
// aside to be wiped (a stale one of those is wiped too, not only unlinked).
enum class TempKind { Write, Wipe };
// A fresh temporary path beside target (same folder): the process id and 64 random bits
// from the kernel.
std::string TempPathFor(std::string_view target, TempKind kind = TempKind::Write);
TempKind TempKindOf(std::string_view nameOrPath);
// Creates a temporary file beside target with O_CREAT|O_EXCL|O_NOFOLLOW at mode 0600,
// trying a fresh name when one is taken. Returns the descriptor (read-write) and the name
// in temp, or -1 with errno.
int CreateTempFile(std::string_view target, std::string& temp);
// Tests replace the 64 random bits of temporary names to know them in advance; nullptr
// restores the kernel's.
void SetTempNameRandomForTesting(uint64_t (*source)());

// Who may have changed a file: device, inode, size, modification and change time. A file
// replaced by rename has another inode; one written to has another size or change time.
struct FileIdentity {
  uint64_t dev = 0;
  uint64_t ino = 0;
  int64_t size = 0;
  int64_t mtimeSec = 0, mtimeNsec = 0;
  int64_t ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const struct stat& st);

// Gives the open file fd the permission bits, (when running as root and they differ)
// the owner and group, and the access and modification times of from. Call after the
// last write, before the file gets its name. current: the file's own status when the
// caller already has it (its owner is all that is used); otherwise it is read.
SysError ApplyAttributes(int fd, const struct stat& from, const std::string& path,
                         const struct stat* current = nullptr);
// A file of ours to trust: owned by the effective user and writable by nobody else.
bool IsOwnPrivateFile(const struct stat& st);
// Renames without replacing an existing name where the file system allows it.
int RenameNoReplace(const std::string& from, const std::string& to);
// The same within one folder held by descriptor (names relative to it; AT_FDCWD: paths).
int RenameNoReplaceAt(int folder, const std::string& from, const std::string& to);
// fsync of an open descriptor / of a path opened read-only / of a path's folder. The
// folder's sync is the step that makes a rename survive a crash.
SysError SyncFd(int fd, const std::string& path);
SysError SyncPath(const std::string& path);
SysError SyncParentFolder(const std::string& path);
// fsync temp, rename it over target, fsync the folder. On a failure up to the rename temp
// is removed and target is untouched. A failure of the folder's sync comes after target
// was replaced: the error (what "fsync folder", path target) has replaced set.
SysError CommitTempFile(const std::string& temp, const std::string& target);
// Writes bytes to target crash-safely (temp, fsync, rename, folder fsync); failures as
// for CommitTempFile.
SysError WriteFileAtomically(const std::string& target, const std::vector<uint8_t>& bytes);
// Reads a whole regular file of at most maxBytes; larger files fail with EFBIG.
SysError ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out);
// Removes leftover temporary files of interrupted runs whose target would be in folder
// and whose owner process is gone; returns how many were removed. A plain file that was
// moved aside to be wiped is handed to wipe (which deletes it) when given.
int RemoveStaleTempFiles(const std::string& folder,
                         void (*wipe)(const std::string& path) = nullptr);
// The same in a folder held by descriptor (folder names it); wipe gets the descriptor and
// the temporary file's name in it.
int RemoveStaleTempFilesAt(int folderFd, void (*wipe)(int folderFd, const std::string& name));
