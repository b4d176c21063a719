#pragma once
// The one container of the program: a 2-byte password check, a 16-byte random IV, then
// the payload, whose whole 16-byte blocks are AES-256 encrypted in the chosen chaining
// mode (one chain over the whole payload) and whose last L mod 16 bytes are XORed with
// the IV. No length, padding or trailer: the file is 18 + L bytes.
//
// Calling order: construct; Open; SetPassword or SetKeyDigest (writes or reads the
// header); optionally SetBufferSize; Write... or Read...; Close (or destruction).
// Results: -1 I/O, allocation or wrong state; -2 missing key or key failing the check.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/block_cipher.h"

enum StreamKind : int32_t { STREAM_CLOSED = 0, STREAM_READ = 1, STREAM_WRITE = 2 };

class CEncryptedStream {
 public:
  CEncryptedStream();                              // buffer for 4096 bytes (4112)
  explicit CEncryptedStream(uint32_t bufferSize);  // the codec passes 0 (16 bytes)
  virtual ~CEncryptedStream();                     // Close, then free the buffer
  CEncryptedStream(const CEncryptedStream&) = delete;
  CEncryptedStream& operator=(const CEncryptedStream&) = delete;

  // 1 on success; 0 (with errno) when already open, kind is not 1 or 2, or the file
  // cannot be opened. Writing creates or truncates the file (mode 0600 for a new file),
  // or, after SetCreateNew(true), only creates it: an existing name fails with EEXIST.
  // A symbolic link is never followed for writing.
  int Open(const std::string& path, int kind, int chainMode);
  void SetCreateNew(bool createNew) { m_createNew = createNew; }
  // A relative path given to Open names a file in this folder (a descriptor the caller
  // keeps open until Open returns); AT_FDCWD, the default, is the current folder.
  void SetFolder(int folderFd) { m_folderFd = folderFd; }
  // 0 for an empty text; else SetKeyDigest(SHA-256 of the UTF-16LE code units).
  int SetPassword(std::string_view passwordUtf8);
  // -2 for null; else copies the key and reads or writes the header when open (1 on
  // success), or returns 1 when not open (the header then comes with the first Read or
  // Write).
  int SetKeyDigest(const uint8_t* key32);
  // New size = (n / 16 + 1) * 16, or -1 when the allocation fails.
  int64_t SetBufferSize(uint64_t n);
  int64_t BufferSize() const { return static_cast<int64_t>(m_bufferSize); }
  // n, or -1 on failure.
  int64_t Write(const void* src, uint64_t n);
  // Bytes delivered (fewer than n only at the end of the data), 0 for null dst, -1 on
  // failure.
  int64_t Read(void* dst, uint64_t n);
  // 1 if the stream was open (after flushing and closing), 0 if it was not. Whether the
  // final flush, sync or close failed is told by CloseError().
  int Close();

  // When set before Close, Close syncs the file to disk (fsync) after the final flush.
  void SetSyncOnClose(bool sync) { m_syncOnClose = sync; }
  // When set before Close, Close gives the written file the permission bits, owner (as
  // root) and times of from after the final flush (ApplyAttributes); a failure is a
  // CloseError().
  void SetAttributesOnClose(const struct stat& from) { m_closeAttributes = from; }
  // The open file's descriptor (-1 when closed), for fstat.
  int Descriptor() const { return m_fd; }
  // The file's status when Open opened it.
  const struct stat& OpenedStatus() const { return m_opened; }
  // errno of the first failed write, flush, sync or close of this stream while open for
  // writing (0 when none failed). Reset by Open.
  int CloseError() const { return m_writeError; }
  // errno of a failed read or write of the header: a -1 of SetKeyDigest with 0 here is a
  // file shorter than a header (or a call in the wrong state), not a failed system call.
  int HeaderError() const { return m_headerError; }

  const uint8_t* Iv() const { return m_iv; }

 private:
  int WriteHeader();
  int ReadHeader();
  bool WriteToFile(const uint8_t* p, size_t n);  // records the first errno
  bool FlushStaged();  // writes the ciphertext gathered in the scratch block
  bool EmitBuffer();   // encrypts the full buffer into the scratch block
  int Refill();        // 1 when bytes were decrypted into the buffer, 0 at the end, -1
  void MaskWithIv(uint8_t* p, size_t n) const;

  int32_t m_chainMode = CHAIN_ECB;
  int32_t m_kind = STREAM_CLOSED;
  size_t m_bufferSize = 0;
  bool m_keySet = false;
  bool m_headerDone = false;
  uint8_t m_key[32];
  uint8_t m_iv[16];
  size_t m_position = 0;
  size_t m_valid = 0;
  uint8_t* m_buffer = nullptr;
  // One scratch block, reused for every buffer: a whole number of buffers (about 64 KiB)
  // of ciphertext on its way to or from the file, so that small buffers do not cost one
  // system call each. Writing: m_staged bytes wait in it. Reading: bytes m_ioPos to
  // m_ioFill are read ahead and not yet decrypted.
  uint8_t* m_scratch = nullptr;
  size_t m_scratchSize = 0;
  size_t m_staged = 0;
  size_t m_ioPos = 0;
  size_t m_ioFill = 0;
  bool m_fileEnded = false;
  CBlockCipher m_cipher;
  int m_fd = -1;
  std::string m_path;
  bool m_atEnd = false;
  bool m_syncOnClose = false;
  bool m_createNew = false;
  int m_folderFd = AT_FDCWD;
  std::optional<struct stat> m_closeAttributes;
  struct stat m_opened {};
  int m_writeError = 0;
  int m_headerError = 0;
};
