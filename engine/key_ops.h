#pragma once
// Work on a protected file's payload without ever writing its plain text: checking that
// it opens and inflates cleanly (verify), and moving it under another key (re-key) by
// decrypting the payload and encrypting the very same bytes again under a fresh IV. The
// deflate stream is never recompressed, so a re-key runs at the speed of AES. Memory is
// a few buffers whatever the file's size.
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "common/sys_error.h"
#include "engine/file_codec.h"

// What a look at a protected file's payload found.
struct PayloadCheck {
  // CODEC_OK (it inflated cleanly, the Adler-32 matched), CODEC_BAD_KEY (the key fails
  // the header check or the magic), CODEC_ZLIB_ERROR (damaged: see damagedAt),
  // CODEC_IO_ERROR (see error), CODEC_CANCELLED or CODEC_NO_MEMORY.
  int result = CODEC_IO_ERROR;
  // Damaged: the offset in the protected file where the fault showed (its length when it
  // ends inside the stream).
  uint64_t damagedAt = 0;
  uint64_t fileSize = 0;   // the protected file's length
  uint64_t plainSize = 0;  // bytes the stream inflated to (the original size when OK)
  // The first deflate block keeps its bytes as they are: level 0, or content that does
  // not compress.
  bool stored = false;
  SysError error;
  struct stat source {};   // the protected file as it was opened
  struct stat written {};  // re-key: the new file (st_ino 0 when none was created)
};

// Byte offset of the payload in a protected file, and its smallest valid length.
inline constexpr uint64_t kPayloadOffset = 18;
inline constexpr uint64_t kSmallestProtectedFile = kPayloadOffset + 4;

// Decrypts path under key and inflates it to nowhere, with the engine restore would
// use (zlib alone when zlibOnly). Writes nothing. progress: total = the file's length,
// done = payload bytes read.
PayloadCheck VerifyProtectedFile(const std::string& path, const uint8_t key[32], bool zlibOnly,
                                 ProgressProc progress = nullptr, void* user = nullptr);
// The same for name in the folder held as folderFd.
PayloadCheck VerifyProtectedFileAt(int folderFd, const std::string& name, const uint8_t key[32],
                                   bool zlibOnly, ProgressProc progress = nullptr,
                                   void* user = nullptr);

// Writes temp (created exclusively, never through a symbolic link) with source's payload
// under newKey, after checking along the way that it inflates cleanly under oldKey. On
// CODEC_OK temp holds the whole new file with source's permission bits and times (and
// owner, as root), not synced: the caller makes it durable and renames it. On any other
// result temp is removed again (when it still is the file created here).
PayloadCheck RekeyProtectedFile(const std::string& source, const std::string& temp,
                                const uint8_t oldKey[32], const uint8_t newKey[32], bool zlibOnly,
                                ProgressProc progress = nullptr, void* user = nullptr);
// The same with source and temp names in the folder held as folderFd: no path is
// resolved again, so a folder swapped for a link on the way is never written through.
PayloadCheck RekeyProtectedFileAt(int folderFd, const std::string& source, const std::string& temp,
                                  const uint8_t oldKey[32], const uint8_t newKey[32], bool zlibOnly,
                                  ProgressProc progress = nullptr, void* user = nullptr);

// True when the key passes the file's header check and opens the magic: a quick answer
// to "which key opens it", without reading further than the first block.
bool KeyOpensProtectedFile(const std::string& path, const uint8_t key[32]);
