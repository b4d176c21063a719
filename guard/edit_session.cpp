#include "guard/edit_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/paths.h"
#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/file_codec.h"
#include "guard/edit_place.h"
#include "guard/single_file.h"

namespace {

void Random(uint8_t* p, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::getrandom(p + got, n - got, 0);
    if (r > 0) got += static_cast<size_t>(r);
    // getrandom only fails on EINTR once the pool is ready; a short read is retried.
  }
}

std::string RandomId() {
  uint8_t bytes[8];
  Random(bytes, sizeof bytes);
  static const char digits[] = "0123456789abcdef";
  std::string id;
  for (const uint8_t b : bytes) {
    id += digits[b >> 4];
    id += digits[b & 15];
  }
  return id;
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

bool SameHash(const uint8_t* a, const uint8_t* b) {
  return std::memcmp(a, b, kEditHashSize) == 0;
}

// Documents are the files an editor leaves for the user: not hidden (lock files, swap
// files, GLib's .goutputstream-*), not backups ending in "~", not our own temporaries.
bool IsDocumentName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.back() != '~' && !IsTempName(name);
}

// Overwrites a regular file's bytes with zeros and removes it; anything else is removed.
bool WipeEntry(int folderFd, const char* name, std::string& error);

bool WipeFolderContents(int fd, std::string& error) {
  DIR* dir = ::fdopendir(::dup(fd));
  if (!dir) {
    error = std::strerror(errno);
    return false;
  }
  ::rewinddir(dir);  // the duplicate shares its position with fd
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  bool ok = true;
  for (const std::string& name : names) ok = WipeEntry(fd, name.c_str(), error) && ok;
  return ok;
}

bool WipeEntry(int folderFd, const char* name, std::string& error) {
  struct stat st {};
  if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    const int sub = ::openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool ok = sub >= 0 && WipeFolderContents(sub, error);
    if (sub >= 0) ::close(sub);
    if (!ok || ::unlinkat(folderFd, name, AT_REMOVEDIR) != 0) {
      if (error.empty()) error = std::string(name) + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (S_ISREG(st.st_mode)) {
    const int fd = ::openat(folderFd, name, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      static const std::vector<uint8_t> zeros(64 * 1024);
      bool written = true;
      for (off_t at = 0; written && at < st.st_size;) {
        const size_t n =
            static_cast<size_t>(std::min<off_t>(st.st_size - at, static_cast<off_t>(zeros.size())));
        const ssize_t w = ::pwrite(fd, zeros.data(), n, at);
        written = w > 0;
        at += w > 0 ? w : 0;
      }
      if ((::fdatasync(fd) != 0 && errno != EINVAL) | (::close(fd) != 0)) written = false;
      if (!written) error = std::string(name) + ": " + std::strerror(errno);
    }
  }
  if (::unlinkat(folderFd, name, 0) != 0 && errno != ENOENT) {
    error = std::string(name) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

CEditSession::~CEditSession() {
  Close();
  SecureZero(m_key, sizeof m_key);
}

void CEditSession::Close() {
  if (m_watch >= 0) ::close(m_watch);  // a watch descriptor's close cannot lose data
  if (m_lock >= 0) ::close(m_lock);    // closing releases the lock
  m_watch = m_lock = -1;
}

std::string CEditSession::DocumentPath() const {
  return m_folder + m_journal.name;
}

void CEditSession::SetKey(const uint8_t key[32]) {
  std::memcpy(m_key, key, sizeof m_key);
  m_haveKey = true;
}

bool CEditSession::KeyOpensTarget(const uint8_t key[32]) const {
  CEncryptedStream stream(0);
  if (stream.Open(m_journal.target, STREAM_READ, CHAIN_CBC) != 1) return errno == ENOENT;
  uint8_t magic[sizeof kCodecMagic] = {};
  return stream.SetKeyDigest(key) == 1 && stream.Read(magic, sizeof magic) == sizeof magic &&
         std::memcmp(magic, kCodecMagic, sizeof magic) == 0;
}

bool CEditSession::Lock(std::string& error) {
  // The lock on the folder tells a running session from one left by a crash: the kernel
  // drops it when its holder dies, whatever the holder's process id becomes later.
  m_lock = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (m_lock < 0) {
    error = Quoted(m_folder) + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? "it is being edited by a running program"
                                 : Quoted(m_folder) + ": " + std::strerror(errno);
    ::close(m_lock);
    m_lock = -1;
    return false;
  }
  return true;
}

bool CEditSession::StartWatch(std::string& error) {
  m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  constexpr uint32_t kEvents =
      IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;
  if (m_watch < 0 || ::inotify_add_watch(m_watch, m_folder.c_str(), kEvents) < 0) {
    error = "cannot watch " + Quoted(m_folder) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int CEditSession::Open(const std::string& root, const std::string& protectedPath,
                       const uint8_t key[32], int level, std::string& error) {
  struct stat st {};
  if (::stat(protectedPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISREG(st.st_mode) || errno == 0 ? std::strerror(errno) : "it is not a regular file";
    return CODEC_IO_ERROR;
  }
  m_journal.original = m_journal.target = protectedPath;
  m_journal.name = LastPathComponent(PlainPathOf(protectedPath));
  m_journal.level = level;
  m_journal.written = IdentityOf(st);
  m_mode = st.st_mode & 07777;
  if (!KeyOpensTarget(key)) return CODEC_BAD_KEY;
  SetKey(key);
  m_folder = EditSessionsFolder(root) + RandomId() + "/";
  if (::mkdir(m_folder.c_str(), 0700) != 0) {
    error = "cannot make " + Quoted(m_folder) + ": " + std::strerror(errno);
    return CODEC_IO_ERROR;
  }
  if (!Lock(error)) {
    ::rmdir(m_folder.c_str());
    return CODEC_IO_ERROR;
  }
  CFileCodec codec;
  codec.m_bufferSize = kCodecBufferSize;
  codec.m_usePasswordText = 0;
  std::memcpy(codec.m_keyDigest, key, sizeof codec.m_keyDigest);
  codec.m_source = protectedPath;
  codec.m_destination = DocumentPath();
  int result = codec.Decode();
  if (result == CODEC_OK) {
    // A read-only protected file still gives a document the editor can save.
    if (::chmod(DocumentPath().c_str(), (m_mode & 0777) | S_IRUSR | S_IWUSR) != 0) {
      result = CODEC_IO_ERROR;
      error = Quoted(DocumentPath()) + ": " + std::strerror(errno);
    }
  } else {
    error =
        result == CODEC_IO_ERROR ? codec.LastError().Reason() : "damaged or not a protected file";
  }
  Random(m_journal.salt, sizeof m_journal.salt);
  if (result == CODEC_OK) {
    if (SysError e = HashFile(DocumentPath(), m_journal.salt, m_journal.hash); !e.ok()) {
      result = CODEC_IO_ERROR, error = e.Describe("cannot read");
    } else if (SysError w = WriteJournal(JournalPathOf(m_folder), m_journal); !w.ok()) {
      result = CODEC_IO_ERROR, error = w.Describe("cannot write");
    } else if (!StartWatch(error)) {
      result = CODEC_IO_ERROR;
    }
  }
  if (result != CODEC_OK) {
    std::string ignored;
    RemoveAll(ignored);
  }
  return result;
}

bool CEditSession::Adopt(const std::string& journalPath, std::string& error) {
  if (!ReadJournal(journalPath, m_journal, error)) return false;
  m_folder = SessionFolderOf(journalPath);
  struct stat st {};
  if (::lstat(m_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = "its folder " + Quoted(m_folder) + " is missing";
    return false;
  }
  if (!Lock(error)) return false;
  if (::stat(m_journal.target.c_str(), &st) == 0) m_mode = st.st_mode & 07777;
  return ResolvePending();
}

// A save that was on its way when the session ended: if its temporary file took the
// protected file's name, that content is the last protected one.
bool CEditSession::ResolvePending() {
  if (!m_journal.pending) return true;
  struct stat st {};
  if (::lstat(m_journal.target.c_str(), &st) == 0 && st.st_dev == m_journal.pendingDev &&
      st.st_ino == m_journal.pendingIno && !RescueInterruptedExchange()) {
    std::memcpy(m_journal.hash, m_journal.pendingHash, kEditHashSize);
    m_journal.written = IdentityOf(st);
  }
  m_journal.pending = false;
  return WriteJournal(JournalPathOf(m_folder), m_journal).ok();
}

std::vector<std::string> CEditSession::OtherDocuments() const {
  std::vector<std::string> names;
  for (const std::string& name : FolderNames(m_folder)) {
    struct stat st {};
    if (name == m_journal.name || !IsDocumentName(name) || m_othersDone.count(name)) continue;
    if (::lstat((m_folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(name);
    }
  }
  return names;
}

bool CEditSession::HasUnsavedChanges() const {
  uint8_t hash[kEditHashSize];
  const SysError e = HashFile(DocumentPath(), m_journal.salt, hash);
  if (!e.ok() && e.err != ENOENT) return true;  // unreadable: let the user decide
  return (e.ok() && !SameHash(hash, m_journal.hash)) || !OtherDocuments().empty();
}

bool CEditSession::InUse() const {
  return FolderHeldOpen(m_folder) || HasEditorLockFile(m_folder, m_journal.name);
}

bool CEditSession::ReadEvents() {
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  for (;;) {
    const ssize_t n = ::read(m_watch, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN: drained
    any = true;
  }
  if (any) {
    m_changed = true;
    m_changedAt = Clock::now();
  }
  return any;
}

int CEditSession::MillisecondsToSettle() const {
  if (!m_changed) return -1;
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_changedAt).count();
  return waited >= m_settleMs ? 0 : static_cast<int>(m_settleMs - waited);
}

EditSaveResult CEditSession::SaveIfSettled() {
  if (MillisecondsToSettle() != 0) return {};
  m_changed = false;
  EditSaveResult result = SaveNow();
  if (result.status == EditSaveStatus::Failed) {
    // Try again later (a full disk may get room), not at every event.
    m_changed = true;
    m_changedAt = Clock::now() + std::chrono::seconds(5);
  }
  return result;
}

EditSaveResult CEditSession::SaveNow() {
  uint8_t hash[kEditHashSize];
  FileIdentity before;
  if (SysError e = HashFile(DocumentPath(), m_journal.salt, hash, &before); !e.ok()) {
    if (e.err == ENOENT) return {EditSaveStatus::NotReady, {}, {}};
    return {EditSaveStatus::Failed, {}, e.Describe("Cannot read the edited document")};
  }
  if (SameHash(hash, m_journal.hash)) return {};
  return Protect(DocumentPath(), hash, before, true);
}

bool CEditSession::RemoveAll(std::string& error) {
  if (m_lock < 0 && !Lock(error)) return false;
  if (!WipeFolderContents(m_lock, error)) return false;
  Close();
  if (::rmdir(m_folder.c_str()) != 0 && errno != ENOENT) {
    error = Quoted(m_folder) + ": " + std::strerror(errno);
    return false;
  }
  const std::string journal = JournalPathOf(m_folder);
  if (::unlink(journal.c_str()) != 0 && errno != ENOENT) {
    error = Quoted(journal) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int RemoveUnrecordedSessionFolder(const std::string& folder, std::string& error) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  int result = 0;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    result = WipeFolderContents(fd, error) && ::rmdir(folder.c_str()) == 0 ? 1 : -1;
    if (result < 0 && error.empty()) error = std::strerror(errno);
  }
  ::close(fd);  // read-only folder descriptor: nothing to lose
  return result;
}
