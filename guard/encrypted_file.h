#pragma once
// Whole-file access to the program's small encrypted files (settings files, guard
// lists): the payload of one encrypted stream under a password, read into memory with a
// size bound, or written crash-safely (temporary file beside the target, sync, rename).
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/safe_file.h"

enum EncryptedFileResult : int {
  ENCFILE_OK = 1,
  ENCFILE_NOT_ACCEPTED = 0,  // not an encrypted stream of this password (or too short)
  ENCFILE_IO_ERROR = -1,     // missing, not a regular file, unreadable
  ENCFILE_TOO_LARGE = -2,    // more payload than maxBytes
  ENCFILE_UNTRUSTED = -3,    // ownOnly: owned by another user or writable by others
};

// Reads the payload of path. Never opens anything but a regular file (a FIFO would
// block). With ownOnly, a file that someone else could have planted or changed (another
// owner, writable by group or others) is refused.
int ReadEncryptedFile(const std::string& path, std::string_view password, uint64_t maxBytes,
                      std::vector<uint8_t>& payload, SysError* error = nullptr,
                      bool ownOnly = false);

// Writes payload as an encrypted stream under password to path: the stream goes to a
// temporary name in the same folder (created exclusively at 0600), gets mode on its
// descriptor, is synced, and is renamed over path.
// On failure path is untouched and no temporary file is left.
SysError WriteEncryptedFile(const std::string& path, std::string_view password,
                            const std::vector<uint8_t>& payload, mode_t mode = 0600);
