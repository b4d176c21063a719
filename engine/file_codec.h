#pragma once
// Turns one plain file into its protected form and back. The protected file is an
// encrypted stream whose payload is the magic "AES" 0x01 followed by a zlib stream
// (RFC 1950) of the whole plain file.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "common/sys_error.h"

class CEncryptedStream;
namespace vg::codec {
class SourceFile;
}

// Progress callback: total and done in bytes (see Encode/Decode), chunk the bytes of this
// step, user passed through unchanged. Return non-zero to go on, zero to stop.
using ProgressProc = int (*)(uint64_t total, uint64_t done, uint64_t chunk, void* user);

enum CodecResult : int32_t {
  CODEC_OK = 0,
  CODEC_IO_ERROR = -1,
  CODEC_ZLIB_ERROR = -3,
  CODEC_NO_MEMORY = -5,
  CODEC_CANCELLED = -6,
  CODEC_BAD_KEY = -7,
};

inline constexpr uint8_t kCodecMagic[4] = {0x41, 0x45, 0x53, 0x01};

class CFileCodec {
 public:
  CFileCodec() = default;
  virtual ~CFileCodec();  // zeroes the key digest and the password

  // Reads m_source (never through a symbolic link), writes m_destination (created or
  // truncated; only created when m_createNew is set). CODEC_OK only when the whole file
  // was compressed and the destination's final flush, fsync and close all succeeded; a
  // late write failure (disk full) is CODEC_IO_ERROR. The destination gets the source's
  // permission bits and times (and owner, as root) before it is synced. The destination
  // is left to the caller on failure. total = source length, done = plain bytes read.
  int Encode(ProgressProc progress = nullptr, void* user = nullptr);
  // Reads m_source (protected), writes m_destination, synced to disk before CODEC_OK.
  // The output is written at mode 0600 under a temporary name and gets the protected
  // file's permission bits and times (and owner, as root) before it takes its name, so
  // the plaintext is never open to more users than the protected file was.
  // CODEC_BAD_KEY before any output exists when the key fails the header check or the
  // magic (or the file is shorter than a header; a header that cannot be read is
  // CODEC_IO_ERROR); on any other failure the partial destination is deleted. done and chunk count
  // payload bytes read; total is the protected file's length.
  int Decode(ProgressProc progress = nullptr, void* user = nullptr);

  // After Encode got as far as opening them: the source as it was when it was opened
  // (so a caller can tell whether it changed since) and the destination it wrote (also
  // after Decode with m_deferSync).
  const struct stat& SourceStat() const { return m_sourceStat; }
  const struct stat& DestinationStat() const { return m_destinationStat; }

  // After CODEC_IO_ERROR: the failed system call's errno and the file it concerned, the
  // source or the destination, for messages that name the file and the reason; err is 0
  // when no system call failed (a payload shorter than the magic). ok() after any other
  // result.
  const SysError& LastError() const { return m_error; }

  uint32_t m_bufferSize = 4096;
  std::string m_source;
  std::string m_destination;
  int32_t m_level = 6;
  std::string m_password;  // UTF-8
  uint8_t m_keyDigest[32] = {};
  int32_t m_usePasswordText = 1;
  bool m_createNew = false;
  // A folder descriptor that relative m_source and m_destination names are taken in (the
  // caller keeps it open during Encode and Decode); AT_FDCWD, the default, is the current
  // folder. Decode needs m_deferSync for a folder other than AT_FDCWD.
  int m_folder = AT_FDCWD;
  // The caller makes the output durable, for many files with one sync: Encode does not
  // sync its destination, and Decode writes m_destination itself (a fresh temporary
  // name: created exclusively at 0600, an existing name fails with EEXIST), gives it
  // its attributes and leaves it there on CODEC_OK, neither synced nor renamed.
  bool m_deferSync = false;
  // Deflate and inflate with zlib alone even where the build has ISA-L (which restores
  // every file and protects at level 1 several times faster). Both engines read
  // each other's files and give the same result for every input; tests compare them.
  bool m_zlibOnly = false;

  // True when the build has ISA-L.
  static bool FastEngineBuiltIn();

 private:
  int KeyStream(CEncryptedStream& stream, bool reading);
  int EncodeInto(CEncryptedStream& stream, ProgressProc progress, void* user);
  int DeflateWhole(vg::codec::SourceFile& source, CEncryptedStream& stream, ProgressProc progress,
                   void* user);
  // head[0..headSize): bytes already read from source, deflated first.
  int DeflateStreaming(vg::codec::SourceFile& source, CEncryptedStream& stream,
                       ProgressProc progress, void* user, const uint8_t* head = nullptr,
                       size_t headSize = 0);
  int DecodeFrom(CEncryptedStream& stream, ProgressProc progress, void* user);
  bool ReportDecoded(uint64_t chunk, uint64_t total, uint64_t& reported, ProgressProc progress,
                     void* user) const;
  // Records the reason; returns CODEC_IO_ERROR.
  int IoError(SysError error);

  SysError m_error;
  struct stat m_sourceStat {};
  struct stat m_destinationStat {};
};
