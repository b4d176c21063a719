#include "guard/encrypted_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/bytes.h"
#include "engine/encrypted_stream.h"

int ReadEncryptedFile(const std::string& path, std::string_view password, uint64_t maxBytes,
                      std::vector<uint8_t>& payload, SysError* error, bool ownOnly) {
  payload.clear();
  SysError local;
  SysError& err = error ? *error : local;
  err = {};
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    err = {errno, path};
    return ENCFILE_IO_ERROR;
  }
  if (!S_ISREG(st.st_mode)) {
    err = {S_ISDIR(st.st_mode) ? EISDIR : EINVAL, path};
    return ENCFILE_IO_ERROR;
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes + 18) {
    err = {EFBIG, path};
    return ENCFILE_TOO_LARGE;
  }
  CEncryptedStream stream;
  errno = 0;
  if (stream.Open(path, STREAM_READ, CHAIN_CBC) != 1) {
    err = {errno ? errno : EIO, path};
    return ENCFILE_IO_ERROR;
  }
  // Judged on the descriptor: the name may have been swapped since the stat above.
  if (ownOnly && (::fstat(stream.Descriptor(), &st) != 0 || !IsOwnPrivateFile(st))) {
    err = {EPERM, path};
    return ENCFILE_UNTRUSTED;
  }
  const int keyed = stream.SetPassword(password);
  if (keyed == -2 || keyed == 0) return ENCFILE_NOT_ACCEPTED;
  if (keyed < 0 && stream.HeaderError() != 0) {
    // Unreadable is not "another password": the caller must not offer to replace it.
    err = {stream.HeaderError(), path};
    return ENCFILE_IO_ERROR;
  }
  if (keyed < 0) {
    // A file shorter than the header is not one of ours either.
    return ENCFILE_NOT_ACCEPTED;
  }
  // The payload holds keys: its storage is sized from the file up front, and any move or
  // failure wipes what it held, as the chunk on the stack is wiped when done.
  ReserveWiping(payload, static_cast<size_t>(
                             std::min<uint64_t>(maxBytes, static_cast<uint64_t>(st.st_size))));
  uint8_t chunk[16384];
  int result = ENCFILE_OK;
  for (;;) {
    const int64_t n = stream.Read(chunk, sizeof chunk);
    if (n < 0) {
      err = {EIO, path};
      result = ENCFILE_IO_ERROR;
      break;
    }
    if (n == 0) break;
    if (payload.size() + static_cast<uint64_t>(n) > maxBytes) {
      err = {EFBIG, path};
      result = ENCFILE_TOO_LARGE;
      break;
    }
    ReserveWiping(payload, payload.size() + static_cast<size_t>(n));
    payload.insert(payload.end(), chunk, chunk + n);
  }
  SecureZero(chunk, sizeof chunk);
  if (result != ENCFILE_OK) {
    WipeCapacity(payload);
    return result;
  }
  stream.Close();
  return ENCFILE_OK;
}

SysError WriteEncryptedFile(const std::string& path, std::string_view password,
                            const std::vector<uint8_t>& payload, mode_t mode) {
  std::string temp;
  SysError err;
  {
    CEncryptedStream stream;
    stream.SetCreateNew(true);
    bool open = false;
    for (int attempt = 0; attempt < 16 && !open; ++attempt) {
      temp = TempPathFor(path);
      errno = 0;
      open = stream.Open(temp, STREAM_WRITE, CHAIN_CBC) == 1;
      if (!open && errno != EEXIST) break;
    }
    if (!open) return {errno ? errno : EIO, path};  // nothing was created
    stream.SetSyncOnClose(true);
    if (::fchmod(stream.Descriptor(), mode) != 0) {
      err = {errno, path};
    } else if (stream.SetPassword(password) != 1) {
      err = {stream.CloseError() ? stream.CloseError() : EIO, path};
    } else if (!payload.empty() && stream.Write(payload.data(), payload.size()) !=
                                       static_cast<int64_t>(payload.size())) {
      err = {stream.CloseError() ? stream.CloseError() : EIO, path};
    }
    stream.Close();
    if (err.ok() && stream.CloseError() != 0) err = {stream.CloseError(), path};
  }
  if (!err.ok()) {
    ::unlink(temp.c_str());
    return err;
  }
  err = CommitTempFile(temp, path);
  if (!err.ok()) err.path = path;
  return err;
}
