// Protecting an edit session's documents back and finishing the session.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <utility>
#include <vector>

#include "common/paths.h"
#include "engine/file_codec.h"
#include "guard/edit_place.h"
#include "guard/edit_session.h"
#include "guard/encryption_settings.h"
#include "guard/protect_settings.h"
#include "guard/single_file.h"

namespace {

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

std::string EncodeFailure(int result, int err) {
  if (result == CODEC_NO_MEMORY) return "not enough memory";
  if (result == CODEC_ZLIB_ERROR) return "compression failed";
  return err != 0 ? std::strerror(err) : "reading or writing failed";
}

// "NAME (edited 2026-12-08 23-10-05).~de" beside "NAME.~de"; copy > 1 numbers a second
// conflict within the same second.
std::string ConflictPath(const std::string& protectedPath, int copy) {
  char date[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::strftime(date, sizeof date, "%Y-%m-%d %H-%M-%S", &local);
  std::string name = PlainPathOf(protectedPath);
  name += " (edited ";
  name += date;
  if (copy > 1) {
    name += ' ';
    name += std::to_string(copy);
  }
  name += ')';
  name += kProtectedSuffix;
  return name;
}

// The file the session wrote last, apart from the change time that a rename sets.
bool SameWrite(const struct stat& st, const FileIdentity& ours) {
  const FileIdentity now = IdentityOf(st);
  return now.dev == ours.dev && now.ino == ours.ino && now.size == ours.size &&
         now.mtimeSec == ours.mtimeSec && now.mtimeNsec == ours.mtimeNsec;
}

int Exchange(const std::string& a, const std::string& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
}

// Puts temp in place of target, which holds what the session wrote last (ours). The two
// are swapped in one step and what came out is looked at afterwards, so a change made
// after the session looked is never replaced: it is swapped back, and 1 with errno
// EEXIST sends temp to a conflict name. 0 replaced (the old file is gone), 1 not.
int ReplaceOurs(const std::string& temp, const std::string& target, const FileIdentity& ours,
                const std::function<bool(EditStep)>& hook, SysError& error) {
  if (Exchange(temp, target) != 0) {
    // A file system without the exchange: the plain rename, after the check alone.
    if (errno == EINVAL || errno == ENOSYS) return ::rename(temp.c_str(), target.c_str());
    // Target gone since the check: its name is free unless someone takes it first.
    if (errno == ENOENT) return RenameNoReplace(temp, target);
    return -1;
  }
  struct stat out {};
  if (::lstat(temp.c_str(), &out) != 0) return 0;  // removed by someone: nothing to keep
  if (SameWrite(out, ours)) {
    if (::unlink(temp.c_str()) != 0) error = ErrnoError(temp, "unlink");
    return 0;
  }
  if (hook) hook(EditStep::Exchanged);
  if (Exchange(temp, target) != 0) {
    // Ours stays at target; theirs must not stay under a temporary name that gets cleaned.
    error = ErrnoError(target, "rename");
    for (int copy = 1; copy < 100; ++copy) {
      if (RenameNoReplace(temp, ConflictPath(target, copy)) == 0 || errno != EEXIST) break;
    }
    return 0;
  }
  errno = EEXIST;
  return -1;
}

// Gives the durable file temp the name target (replacing it when it holds ours, the
// file the session wrote last), or, when target is someone else's, a conflict name
// beside it. written gets the name it took.
SysError Commit(const std::string& temp, const std::string& target, const FileIdentity* ours,
                const std::function<bool(EditStep)>& hook, std::string& written) {
  if (SysError e = SyncPath(temp); !e.ok()) return e;
  written = target;
  SysError replaceError;
  int renamed =
      ours ? ReplaceOurs(temp, target, *ours, hook, replaceError) : RenameNoReplace(temp, target);
  if (!replaceError.ok()) return replaceError;
  for (int copy = 1; renamed != 0 && errno == EEXIST && copy < 100; ++copy) {
    written = ConflictPath(target, copy);
    renamed = RenameNoReplace(temp, written);
  }
  if (renamed != 0) return ErrnoError(written, "rename");
  return SyncParentFolder(written);
}

bool SameFile(const std::string& path, const struct stat& st) {
  struct stat now {};
  return ::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

}  // namespace

std::string CEditSession::WriteTemporary(const std::string& source, const std::string& target,
                                         const FileIdentity& before, std::string& error) {
  CFileCodec codec;
  codec.m_bufferSize = kCodecBufferSize;
  codec.m_usePasswordText = 0;
  std::memcpy(codec.m_keyDigest, m_key, sizeof codec.m_keyDigest);
  codec.m_level = m_journal.level;
  codec.m_source = source;
  codec.m_createNew = true;
  codec.m_deferSync = true;
  std::string temp;
  int result = CODEC_IO_ERROR;
  // A taken temporary name (planted, or left over) is never written through: another.
  for (int attempt = 0; attempt < 4; ++attempt) {
    temp = codec.m_destination = TempPathFor(target);
    result = codec.Encode();
    if (result != CODEC_IO_ERROR || codec.LastError().err != EEXIST ||
        codec.LastError().path != temp) {
      break;
    }
  }
  auto drop = [&](std::string reason) {
    if (result != CODEC_IO_ERROR || codec.LastError().path != temp ||
        codec.LastError().err != EEXIST) {
      ::unlink(temp.c_str());
    }
    error = std::move(reason);
    return std::string();
  };
  if (result != CODEC_OK) {
    return drop("Cannot protect " + Quoted(source) + " into " + Quoted(target) + ": " +
                EncodeFailure(result, codec.LastError().err));
  }
  // Written to while it was read: the editor's next event brings it back here.
  struct stat now {};
  if (IdentityOf(codec.SourceStat()) != before || ::lstat(source.c_str(), &now) != 0 ||
      IdentityOf(now) != before) {
    return drop("");
  }
  // The protected file keeps its own permission bits, whatever the editor's file has.
  const int fd = ::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const bool moded = fd >= 0 && ::fchmod(fd, m_mode) == 0;
  const int err = errno;
  if ((fd >= 0 && ::close(fd) != 0) || !moded) {
    return drop("Cannot protect into " + Quoted(target) + ": " + std::strerror(err));
  }
  if (m_stepHook && !m_stepHook(EditStep::Encoded)) {
    return drop("Cannot protect into " + Quoted(target) + ": stopped");
  }
  return temp;
}

EditSaveResult CEditSession::Protect(const std::string& source, const uint8_t hash[kEditHashSize],
                                     const FileIdentity& before, bool main) {
  if (!m_haveKey) {
    return {EditSaveStatus::Failed,
            {},
            "The password of " + Quoted(m_journal.original) + " is needed to protect changes"};
  }
  const std::string target = main ? m_journal.target
                                  : ParentFolder(m_journal.original) + LastPathComponent(source) +
                                        std::string(kProtectedSuffix);
  // Only the protected file as the session left it may be replaced; anything else there
  // is someone's change.
  struct stat st {};
  const bool exists = ::lstat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    return {
        EditSaveStatus::Failed, {}, ErrnoError(target, "lstat").Describe("Cannot protect into")};
  }
  const bool replace = main && exists && IdentityOf(st) == m_journal.written;
  std::string error;
  const std::string temp = WriteTemporary(source, target, before, error);
  if (temp.empty()) {
    return {error.empty() ? EditSaveStatus::NotReady : EditSaveStatus::Failed, {}, error};
  }
  struct stat tempStat {};
  if (::lstat(temp.c_str(), &tempStat) != 0) {
    SysError e = ErrnoError(temp, "lstat");
    ::unlink(temp.c_str());
    return {EditSaveStatus::Failed, {}, e.Describe("Cannot protect into")};
  }
  if (main) {
    m_journal.pending = true;
    std::memcpy(m_journal.pendingHash, hash, kEditHashSize);
    m_journal.pendingDev = tempStat.st_dev;
    m_journal.pendingIno = tempStat.st_ino;
    if (SysError e = WriteJournal(JournalPathOf(m_folder), m_journal); !e.ok()) {
      ::unlink(temp.c_str());
      return {EditSaveStatus::Failed, {}, e.Describe("Cannot write the session record")};
    }
  }
  if (m_stepHook && !m_stepHook(EditStep::BeforeRename)) {
    ::unlink(temp.c_str());
    return {EditSaveStatus::Failed, {}, "Cannot protect into " + Quoted(target) + ": stopped"};
  }
  std::string written;
  const SysError committed =
      Commit(temp, target, replace ? &m_journal.written : nullptr, m_stepHook, written);
  if (!committed.ok() && !SameFile(written, tempStat)) ::unlink(temp.c_str());
  if (m_stepHook) m_stepHook(EditStep::Renamed);
  if (main && SameFile(written, tempStat)) {
    // Renamed, even when the folder's sync failed: the next save replaces it again.
    ::lstat(written.c_str(), &st);
    m_journal.written = IdentityOf(st);
    m_journal.target = written;
    if (committed.ok()) std::memcpy(m_journal.hash, hash, kEditHashSize);
  }
  m_journal.pending = false;
  const SysError recorded = main ? WriteJournal(JournalPathOf(m_folder), m_journal) : SysError{};
  if (!committed.ok()) {
    return {EditSaveStatus::Failed, {}, committed.Describe("Cannot protect into")};
  }
  EditSaveResult result{
      written == target ? EditSaveStatus::Saved : EditSaveStatus::Conflict, written, {}};
  if (result.status == EditSaveStatus::Conflict) {
    result.message = Quoted(target) + " was changed by someone else meanwhile; the edited " +
                     "version was saved as " + Quoted(written);
  }
  if (!recorded.ok()) result.message += recorded.Describe("Cannot write the session record");
  return result;
}

bool CEditSession::RescueInterruptedExchange() {
  // The save is in place; the file it was swapped with lies under a temporary name of
  // this target. The one swapped last (the newest change time) is it; it is ours when
  // it is the file the session wrote last.
  const std::string target = m_journal.target;
  const std::string temps = LastPathComponent(TempPathFor(target, TempKind::Write));
  const std::string prefix = temps.substr(0, temps.rfind('.') + 1);
  std::string out;
  struct stat outStat {};
  for (const std::string& name : FolderNames(ParentFolder(target))) {
    struct stat cand {};
    const std::string path = ParentFolder(target) + name;
    if (name.rfind(prefix, 0) != 0 || TempKindOf(name) != TempKind::Write ||
        ::lstat(path.c_str(), &cand) != 0 || !S_ISREG(cand.st_mode)) {
      continue;
    }
    if (out.empty() || std::make_pair(cand.st_ctim.tv_sec, cand.st_ctim.tv_nsec) >
                           std::make_pair(outStat.st_ctim.tv_sec, outStat.st_ctim.tv_nsec)) {
      out = path;
      outStat = cand;
    }
  }
  if (out.empty() || SameWrite(outStat, m_journal.written)) return false;
  if (Exchange(out, target) != 0) {
    m_recoveryMessages.push_back(
        ErrnoError(target, "rename").Describe("Cannot put back the change in"));
    return false;
  }
  std::string copy;
  for (int n = 1; n < 100 && copy.empty(); ++n) {
    if (RenameNoReplace(out, ConflictPath(target, n)) == 0) {
      copy = ConflictPath(target, n);
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (copy.empty()) {
    // Theirs is back in place; the save stays under its temporary name for the user.
    m_recoveryMessages.push_back(
        ErrnoError(out, "rename").Describe("Cannot keep the edited version"));
    return true;
  }
  static_cast<void>(SyncParentFolder(target));
  struct stat st {};
  if (::lstat(copy.c_str(), &st) == 0) m_journal.written = IdentityOf(st);
  m_journal.target = copy;
  std::memcpy(m_journal.hash, m_journal.pendingHash, kEditHashSize);
  m_recoveryMessages.push_back(Quoted(target) + " was changed by someone else while a save was " +
                               "on its way; the edited version was saved as " + Quoted(copy));
  return true;
}

bool CEditSession::Finish(std::vector<std::string>& messages) {
  EditSaveResult saved = SaveNow();
  // A document written to while it was read: read it again, it is quiet now or soon.
  for (int again = 0; saved.status == EditSaveStatus::NotReady && again < 3; ++again) {
    if (!PathExists(DocumentPath())) break;
    saved = SaveNow();
  }
  if (!saved.message.empty()) messages.push_back(saved.message);
  if (saved.status == EditSaveStatus::Failed ||
      (saved.status == EditSaveStatus::NotReady && PathExists(DocumentPath()))) {
    return false;
  }
  for (const std::string& name : OtherDocuments()) {
    struct stat st {};
    if (::lstat((m_folder + name).c_str(), &st) != 0) continue;
    const EditSaveResult other = Protect(m_folder + name, nullptr, IdentityOf(st), false);
    if (!other.message.empty()) messages.push_back(other.message);
    if (other.status != EditSaveStatus::Saved && other.status != EditSaveStatus::Conflict) {
      if (other.status == EditSaveStatus::NotReady) {
        messages.push_back(Quoted(m_folder + name) + " changed while it was being protected");
      }
      return false;
    }
    m_othersDone.insert(name);
  }
  std::string error;
  if (!RemoveAll(error)) {
    messages.push_back("Cannot remove the edited copy in " + Quoted(m_folder) + ": " + error);
    return false;
  }
  return true;
}

bool CEditSession::Discard(std::string& error) {
  return RemoveAll(error);
}

int EditLevelFor(const std::string& protectedPath) {
  CEncryptionSettings settings = BuiltInSettings();
  const std::string defaultPath = ProgramFolder() + std::string(kDefaultSettingsName);
  if (FileExists(defaultPath)) (void)settings.Load(defaultPath);
  const std::string folderPath = ParentFolder(protectedPath) + std::string(kFolderSettingsName);
  if (FileExists(folderPath)) (void)settings.Load(folderPath);
  const std::string noZip =
      settings.m_noZipMask.empty() ? std::string(kDefaultNoZipMask) : settings.m_noZipMask;
  if (MatchMaskList(PlainPathOf(protectedPath), noZip)) return 0;
  return UsableZipLevel(settings.m_zipLevel);
}
