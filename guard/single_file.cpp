#include "guard/single_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"

namespace {

constexpr int kMaxPasswordPrompts = 3;
// Large enough that a wipe costs a few system calls per megabyte, small enough to stay
// in the cache.
constexpr size_t kWipeBlock = 1u << 20;

// Removes the file this run created under name, and nothing that someone else may have
// put there since (or before: a name that was taken is not ours).
void RemoveOwnFile(const std::string& name, const struct stat& created) {
  struct stat st {};
  if (created.st_ino == 0 || ::lstat(name.c_str(), &st) != 0 || st.st_dev != created.st_dev ||
      st.st_ino != created.st_ino) {
    return;
  }
  if (::unlink(name.c_str()) != 0) {
    // Left for RemoveStaleTempFiles of a later run; nothing else can be done here.
  }
}

// Overwritten: moved aside to moved and overwritten, neither synced nor deleted (a
// batch does both for all its files at once).
enum class WipeOutcome { Deleted, NotOpened, Changed, HardLinked, Overwritten };

std::string HardLinkReason(uint64_t links) {
  return FormatText(
      "has %s hard links; protecting it would leave its content under the other names",
      {std::to_string(links)});
}

std::string CodecFailureReason(int result, int err) {
  switch (result) {
    case CODEC_ZLIB_ERROR:
      return "compression failed";
    case CODEC_NO_MEMORY:
      return "not enough memory";
    default:
      return err != 0 ? std::string(std::strerror(err)) : std::string("reading or writing failed");
  }
}

int EncryptFailed(IGuardUi& ui, IProgressWindow* progress, const std::string& path,
                  const std::string& reason) {
  if (progress && !progress->IsCancelled()) progress->Hide();
  std::string text =
      FormatText("Encryption error or can not access the file \"%s\"", {LastPathComponent(path)});
  if (!reason.empty()) text += "\n\n" + reason;
  ui.ShowMessage(text, MsgIcon::Error, MsgButtons::Ok);
  return ENCRYPT_FAILED;
}

// A restore that failed for a reason other than the password: the user is told, or they
// would take the missing plain file for a restored one.
int DecryptFailed(IGuardUi& ui, IProgressWindow* progress, const std::string& path,
                  const std::string& reason) {
  if (progress && !progress->IsCancelled()) progress->Hide();
  ui.ShowMessage(
      FormatText("Decryption error or can not access the file \"%s\"", {LastPathComponent(path)}) +
          "\n\n" + reason,
      MsgIcon::Error, MsgButtons::Ok);
  return DECRYPT_FAILED;
}

bool ReadFully(int fd, uint8_t* buf, size_t n, uint64_t offset, size_t& got) {
  got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, buf + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool WriteFully(int fd, const uint8_t* buf, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(fd, buf + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

// Writes marker at the start of every period (stride + marker length) of the file's
// first length bytes, and over the start of the last period even where it lies past the
// end, one block at a time. Stops early on a read or write error or when callback asks.
void OverwriteWithMarkers(int fd, uint64_t length, std::string_view marker, uint64_t stride,
                          ProgressProc callback, void* user) {
  const uint64_t m = marker.size();
  if (m == 0) return;
  const uint64_t period = stride > UINT64_MAX - m ? UINT64_MAX : stride + m;
  const uint64_t lastStart = (length / period) * period;
  const uint64_t end = lastStart + m;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(kWipeBlock, end)));
  for (uint64_t blockStart = 0; blockStart < end;) {
    const uint64_t blockEnd = std::min<uint64_t>(blockStart + block.size(), end);
    const size_t n = static_cast<size_t>(blockEnd - blockStart);
    size_t got = 0;
    const size_t readable =
        blockStart < length ? static_cast<size_t>(std::min<uint64_t>(n, length - blockStart)) : 0;
    if (!ReadFully(fd, block.data(), readable, blockStart, got)) break;
    std::fill(block.begin() + static_cast<ptrdiff_t>(got),
              block.begin() + static_cast<ptrdiff_t>(n), 0);
    uint64_t k = blockStart < m ? 0 : (blockStart - m) / period + 1;
    uint64_t starts = 0;
    for (; k <= lastStart / period; ++k) {
      const uint64_t at = k * period;
      if (at >= blockEnd) break;
      if (at >= blockStart) ++starts;
      const uint64_t from = std::max(at, blockStart);
      const uint64_t to = std::min(at + m, blockEnd);
      std::memcpy(block.data() + (from - blockStart), marker.data() + (from - at),
                  static_cast<size_t>(to - from));
    }
    if (!WriteFully(fd, block.data(), n, blockStart)) break;
    blockStart = blockEnd;
    if (callback && starts > 0 &&
        callback(length, blockStart - n,
                 starts > UINT64_MAX / period ? UINT64_MAX : starts * period, user) == 0) {
      break;
    }
  }
  SecureZero(block.data(), block.size());
}

// The wipe of WipeAndDeleteFile. With expected, a file that is not the one that was
// encoded (replaced, written to) is left alone; a file with other names is always left
// alone. err receives the errno when the file could not be opened or moved.
// With moved, the overwritten file is left under its temporary name there, unsynced.
WipeOutcome Wipe(const std::string& path, std::string_view marker, uint64_t stride,
                 ProgressProc callback, void* user, const FileIdentity* expected, uint64_t& links,
                 int& err, std::string* movedOut = nullptr) {
  err = 0;
  links = 1;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return WipeOutcome::NotOpened;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    return WipeOutcome::NotOpened;
  }
  if (expected && IdentityOf(st) != *expected) {
    ::close(fd);
    return WipeOutcome::Changed;
  }
  if (st.st_nlink > 1) {
    // Overwriting the shared content would turn the other names into markers.
    links = st.st_nlink;
    ::close(fd);
    return WipeOutcome::HardLinked;
  }
  if (stride == 0) {
    ::close(fd);
    if (::unlink(path.c_str()) == 0) return WipeOutcome::Deleted;
    err = errno;
    return WipeOutcome::NotOpened;
  }
  // Work on the file under a temporary name: an interrupted wipe then leaves a stale
  // temporary file that a later run wipes and removes, not half-wiped content under the
  // real name. The rename is not synced: the protected file is complete and durable
  // already, so should a crash bring the old name back, nothing is lost, and one sync per
  // file less matters when thousands of small files are protected.
  std::string moved;
  int renamed = -1;
  for (int attempt = 0; attempt < 16 && renamed != 0; ++attempt) {
    moved = TempPathFor(path, TempKind::Wipe);
    renamed = RenameNoReplace(path, moved);
    if (renamed != 0 && errno != EEXIST) break;  // a taken name: another one
  }
  if (renamed != 0) {
    err = errno;
    ::close(fd);
    return WipeOutcome::NotOpened;
  }
  struct stat check {};
  if (::lstat(moved.c_str(), &check) != 0 || check.st_dev != st.st_dev ||
      check.st_ino != st.st_ino) {
    // Someone replaced the file between open and rename: put theirs back, touch nothing.
    if (RenameNoReplace(moved, path) != 0) {
      // Left under the temporary name; the next run's stale-file cleanup removes it.
    }
    ::close(fd);
    return WipeOutcome::Changed;
  }

  OverwriteWithMarkers(fd, static_cast<uint64_t>(st.st_size), marker, stride, callback, user);
  if (movedOut) {
    if (::close(fd) != 0) {
      // The batch's sync of the wipes reports nothing for it either; the file goes.
    }
    *movedOut = moved;
    return WipeOutcome::Overwritten;
  }
  // Without the sync the markers might never reach the disk before the blocks are freed.
  const bool synced = ::fsync(fd) == 0;
  if (::close(fd) != 0 || !synced) {
    // Nothing to be done: the protected file is complete, so the file goes all the same.
  }
  // No folder sync: should the removal be lost in a crash, what reappears is a wiped
  // temporary file, which the next run beside it removes.
  if (::unlink(moved.c_str()) == 0) return WipeOutcome::Deleted;
  err = errno;
  return WipeOutcome::NotOpened;
}

}  // namespace

uint64_t WipeStrideFor(std::string_view path) {
  if (path.size() < 3) return 30;
  const std::string tail = AsciiLower(path.substr(path.size() - 3));
  if (tail == "txt" || tail == "doc" || tail == "xls") return 10;
  if (tail == "zip" || tail == "rar" || tail == "jpg" || tail == "gif" || tail == "avi" ||
      tail == "mpg" || tail == "wmv") {
    return 200;
  }
  if (tail == "exe") return 300;
  return 30;
}

int ProgressStep(uint64_t /*total*/, uint64_t /*done*/, uint64_t chunk, void* user) {
  auto* progress = static_cast<IProgressWindow*>(user);
  if (!progress) return 1;
  if (progress->IsCancelled()) return 0;
  progress->SetBarStep(chunk / 10);
  progress->StepBar();
  progress->PumpMessages(true);
  progress->Show();
  return 1;
}

int WipeAndDeleteFile(const std::string& path, std::string_view marker, uint64_t stride,
                      ProgressProc callback, void* user) {
  uint64_t links = 0;
  int err = 0;
  return Wipe(path, marker, stride, callback, user, nullptr, links, err) == WipeOutcome::Deleted
             ? 1
             : 0;
}

void WipeStaleTempFile(const std::string& tempPath) {
  // The name holds the plain file's name, whose end picks the stride.
  std::string name = LastPathComponent(tempPath).substr(kTempPrefix.size());
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  uint64_t links = 0;
  int err = 0;
  if (Wipe(tempPath, kWipeMarker, WipeStrideFor(name), nullptr, nullptr, nullptr, links, err) !=
      WipeOutcome::Deleted) {
    // Not ours to overwrite or not there any more; a name is all that can go.
    ::unlink(tempPath.c_str());
  }
}

namespace {

BatchStepHook g_stepHook = nullptr;
size_t g_batchFiles = kBatchFiles;
uint64_t g_batchBytes = kBatchBytes;

void Announce(BatchStep step, const std::string& path, bool wholeFileSystem = false) {
  if (g_stepHook) g_stepHook(step, path, wholeFileSystem);
}

// Fewer files than this are synced one by one: a few fsyncs cost less than a syncfs that
// may have to write out what other programs left in the cache.
constexpr size_t kSyncfsFromFiles = 4;

// syncfs reports write errors (of any file of the file system since the descriptor was
// opened) from Linux 5.8 on; before that it returned 0 whatever happened.
bool SyncfsReportsErrors() {
  static const bool reports = [] {
    struct utsname u {};
    int major = 0;
    int minor = 0;
    if (::uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
    return major > 5 || (major == 5 && minor >= 8);
  }();
  return reports;
}

// fsync of a file the batch wrote, by name: 0, or the errno (ESTALE when the name no
// longer holds that file).
int SyncWritten(const std::string& path, const struct stat& written) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (st.st_dev != written.st_dev || st.st_ino != written.st_ino) {
    err = ESTALE;
  } else if (::fsync(fd) != 0) {
    err = errno;
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

// Makes the named files' content durable: one syncfs per file system when there are
// enough of them and syncfs can be trusted, else (or when it failed, to learn which file
// it was) one fsync each. The errno per file, in order.
std::vector<int> SyncFiles(BatchStep step, const CBatchFolders& folders,
                           const std::vector<std::pair<std::string, struct stat>>& files) {
  std::vector<int> errs(files.size(), 0);
  if (files.empty()) return errs;
  if (files.size() >= kSyncfsFromFiles && folders.SyncFileSystems(step)) return errs;
  for (size_t i = 0; i < files.size(); ++i) {
    Announce(step, files[i].first);
    errs[i] = SyncWritten(files[i].first, files[i].second);
  }
  return errs;
}

// Makes the entries of the given folders durable; the errno per folder.
std::map<std::string, int> SyncNames(const CBatchFolders& folders, size_t files,
                                     const std::set<std::string>& names) {
  if (files >= kSyncfsFromFiles && folders.SyncFileSystems(BatchStep::SyncNames)) {
    std::map<std::string, int> none;
    for (const std::string& f : names) none[f] = 0;
    return none;
  }
  return folders.SyncEach(BatchStep::SyncNames, names);
}

std::string FolderOf(const std::string& path) {
  const std::string folder = ParentFolder(path);
  return folder.empty() ? std::string("./") : folder;
}

std::string EncryptFailedText(const std::string& path, const std::string& reason) {
  std::string text =
      FormatText("Encryption error or can not access the file \"%s\"", {LastPathComponent(path)});
  if (!reason.empty()) text += "\n\n" + reason;
  return text;
}

std::string CannotStoreText(const std::string& target, int err) {
  return FormatText("Cannot store \"%s\": %s",
                    {LastPathComponent(target),
                     err == ESTALE ? "it was replaced while it was stored" : std::strerror(err)});
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

// The wipes of a batch of several files: the bar moves, but a cancel does not cut them
// short. Those files were all encoded before the cancel, and one at a time each would
// have been wiped to its end before the run saw it; the run ends after the commit. A
// file alone in its batch (any large file) stops its overwriting at a cancel, as ever.
static int WipeStepToTheEnd(uint64_t total, uint64_t done, uint64_t chunk, void* user) {
  ProgressStep(total, done, chunk, user);
  return 1;
}

void SetBatchStepHookForTesting(BatchStepHook hook) {
  g_stepHook = hook;
}

void SetBatchLimitsForTesting(size_t files, uint64_t bytes) {
  g_batchFiles = files > 0 ? files : kBatchFiles;
  g_batchBytes = bytes > 0 ? bytes : kBatchBytes;
}

size_t BatchFileLimit() {
  return g_batchFiles;
}

uint64_t BatchByteLimit() {
  return g_batchBytes;
}

CBatchFolders::~CBatchFolders() {
  CloseAll();
}

void CBatchFolders::Open(const std::string& folder) {
  for (const auto& [name, fd] : m_open)
    if (name == folder) return;
  m_open.emplace_back(folder, ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void CBatchFolders::CloseAll() {
  for (const auto& [name, fd] : m_open) {
    if (fd >= 0 && ::close(fd) != 0) {
      // Read-only descriptor of a folder: nothing was written through it.
    }
  }
  m_open.clear();
}

bool CBatchFolders::SyncFileSystems(BatchStep step) const {
  if (m_open.empty() || !SyncfsReportsErrors()) return false;
  std::set<uint64_t> synced;
  for (const auto& [name, fd] : m_open) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return false;
    if (!synced.insert(st.st_dev).second) continue;
    Announce(step, name, true);
    if (::syncfs(fd) != 0) return false;
  }
  return true;
}

std::map<std::string, int> CBatchFolders::SyncEach(BatchStep step,
                                                   const std::set<std::string>& folders) const {
  std::map<std::string, int> errs;
  for (const std::string& folder : folders) {
    Announce(step, folder);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      errs[folder] = errno;
      continue;
    }
    // Some file systems refuse fsync on folders; that is not a failure of the rename.
    errs[folder] = ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
    if (::close(fd) != 0) {
      // Read-only descriptor: nothing was written through it.
    }
  }
  return errs;
}

// ---- protect ----

CEncryptBatch::~CEncryptBatch() {
  for (const Item& item : m_items) {
    if (!item.renamed) RemoveOwnFile(item.temp, item.written);
  }
}

void CEncryptBatch::Fail(Item& item, int result, std::string message, MsgIcon icon) {
  item.result = result;
  item.message = std::move(message);
  item.icon = icon;
}

bool CEncryptBatch::Holds(const std::string& name) const {
  if (m_names.count(name)) return true;
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0 && m_files.count({st.st_dev, st.st_ino});
}

int CEncryptBatch::Add(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                       IProgressWindow* progress, size_t tag) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return EncryptFailed(ui, progress, path, std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return EncryptFailed(ui, progress, path, "It is a symbolic link.");
  if (!S_ISREG(st.st_mode)) return EncryptFailed(ui, progress, path, "It is not a regular file.");
  if (st.st_nlink > 1) return EncryptFailed(ui, progress, path, HardLinkReason(st.st_nlink));

  Item item;
  item.tag = tag;
  item.path = path;
  item.target = ProtectedPathOf(path);
  // Opened before anything is written, so that its sync reports what goes wrong after.
  m_folders.Open(FolderOf(item.target));
  int result = 0;
  int err = 0;
  {
    CFileCodec codec;
    codec.m_bufferSize = kCodecBufferSize;
    codec.m_usePasswordText = 0;
    std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
    codec.m_level = level;
    codec.m_source = path;
    codec.m_createNew = true;
    codec.m_deferSync = true;
    // A taken temporary name (planted, or left over) is never written through: another.
    for (int attempt = 0; attempt < 4; ++attempt) {
      item.temp = TempPathFor(item.target);
      codec.m_destination = item.temp;
      result = codec.Encode(ProgressStep, progress);
      if (result != CODEC_IO_ERROR || codec.LastError().err != EEXIST ||
          codec.LastError().path != item.temp) {
        break;
      }
    }
    err = codec.LastError().err;
    item.encoded = codec.SourceStat();
    item.written = codec.DestinationStat();
  }
  if (result != CODEC_OK) {
    RemoveOwnFile(item.temp, item.written);
    if (result == CODEC_CANCELLED) return ENCRYPT_CANCELLED;
    return EncryptFailed(ui, progress, path, CodecFailureReason(result, err));
  }
  m_names.insert(item.path);
  m_names.insert(item.target);
  m_files.insert({item.encoded.st_dev, item.encoded.st_ino});
  m_bytes += static_cast<uint64_t>(item.encoded.st_size);
  m_items.push_back(std::move(item));
  return ENCRYPT_PENDING;
}

// Step 2 of Commit: the names, for the files whose content is durable (dataErrs[i] == 0).
// What has the name must be the file written: someone who can write the folder could
// have swapped the temporary name, and no plain file is wiped for a file we did not write.
// Returns the folders that got a new name; renamed counts the files.
std::set<std::string> CEncryptBatch::RenameWritten(const std::vector<int>& dataErrs,
                                                   size_t& renamed) {
  std::set<std::string> renamedIn;
  for (size_t i = 0; i < m_items.size(); ++i) {
    Item& item = m_items[i];
    if (dataErrs[i] != 0) {
      RemoveOwnFile(item.temp, item.written);
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, std::strerror(dataErrs[i])));
      continue;
    }
    Announce(BatchStep::Rename, item.target);
    if (::rename(item.temp.c_str(), item.target.c_str()) != 0) {
      const int e = errno;
      RemoveOwnFile(item.temp, item.written);
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, CannotStoreText(item.target, e)));
      continue;
    }
    item.renamed = true;
    struct stat st {};
    int e = 0;
    if (::lstat(item.target.c_str(), &st) != 0) {
      e = errno;
    } else if (!SameInode(st, item.written)) {
      e = ESTALE;
    }
    if (e != 0) {
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, CannotStoreText(item.target, e)));
      continue;
    }
    renamedIn.insert(FolderOf(item.target));
    ++renamed;
  }
  return renamedIn;
}

// Step 4 of Commit for one file whose protected file is durable: moves the plain file
// aside and overwrites it, unsynced. True when it waits for the sync of the wipes and its
// removal (item.moved); false when it is gone already or left alone (item failed).
bool CEncryptBatch::WipeRenamed(Item& item, IProgressWindow* progress) {
  const FileIdentity expected = IdentityOf(item.encoded);
  uint64_t links = 0;
  int err = 0;
  Announce(BatchStep::Wipe, item.path);
  const WipeOutcome outcome = Wipe(item.path, kWipeMarker, WipeStrideFor(item.path),
                                   m_items.size() > 1 ? WipeStepToTheEnd : ProgressStep, progress,
                                   &expected, links, err, &item.moved);
  switch (outcome) {
    case WipeOutcome::Overwritten:
      return true;
    case WipeOutcome::Deleted:
      break;
    case WipeOutcome::Changed:
    case WipeOutcome::HardLinked:
      // The protected file holds a version that is no longer the file's content: it
      // goes (its removal is made durable with the wipes), and the plain file stays as
      // the user left it.
      RemoveOwnFile(item.target, item.written);
      Fail(item, ENCRYPT_FAILED,
           EncryptFailedText(item.path, outcome == WipeOutcome::Changed
                                            ? "changed while it was being protected"
                                            : HardLinkReason(links)));
      break;
    case WipeOutcome::NotOpened:
      Fail(item, ENCRYPT_NOT_WIPED,
           FormatText("\"%s\" was protected into \"%s\" but not wiped: %s",
                      {LastPathComponent(item.path), LastPathComponent(item.target),
                       std::strerror(err != 0 ? err : EIO)}),
           MsgIcon::Warning);
      break;
  }
  return false;
}

void CEncryptBatch::Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done) {
  if (m_items.empty()) return;
  // 1. The protected files' content, before any of them takes its name.
  std::vector<std::pair<std::string, struct stat>> files;
  for (const Item& item : m_items) files.emplace_back(item.temp, item.written);
  const std::vector<int> dataErrs = SyncFiles(BatchStep::SyncNew, m_folders, files);
  // 2. Their names, checked to hold the files written.
  size_t renamed = 0;
  const std::set<std::string> renamedIn = RenameWritten(dataErrs, renamed);
  // 3. The names, before any plain file is touched.
  const std::map<std::string, int> nameErrs = SyncNames(m_folders, renamed, renamedIn);
  // 4. The wipes, each moved aside and overwritten, not yet synced.
  std::vector<std::pair<std::string, struct stat>> wiped;
  std::vector<Item*> wipedItems;
  for (Item& item : m_items) {
    if (item.result != ENCRYPT_DONE) continue;
    if (const int e = nameErrs.at(FolderOf(item.target)); e != 0) {
      // Without a durable protected file the plain file must not be wiped.
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, CannotStoreText(item.target, e)));
      continue;
    }
    if (WipeRenamed(item, progress)) {
      struct stat st {};
      st.st_dev = item.encoded.st_dev;
      st.st_ino = item.encoded.st_ino;
      wiped.emplace_back(item.moved, st);
      wipedItems.push_back(&item);
    }
  }
  // 5. The markers, before their blocks are freed. A failure changes nothing: the
  // protected files are complete, so the plain files go all the same.
  SyncFiles(BatchStep::SyncWipes, m_folders, wiped);
  // 6. The wiped files. Should a removal be lost in a crash, what reappears is a wiped
  // temporary file, which the next run beside it removes.
  for (Item* item : wipedItems) {
    Announce(BatchStep::Unlink, item->moved);
    if (::unlink(item->moved.c_str()) != 0) {
      Fail(*item, ENCRYPT_NOT_WIPED,
           FormatText("\"%s\" was protected into \"%s\" but not wiped: %s",
                      {LastPathComponent(item->path), LastPathComponent(item->target),
                       std::strerror(errno)}),
           MsgIcon::Warning);
    }
  }
  std::vector<Item> items = std::move(m_items);
  m_items.clear();
  m_names.clear();
  m_files.clear();
  m_bytes = 0;
  m_folders.CloseAll();
  for (Item& item : items) {
    if (!item.message.empty()) {
      if (progress && !progress->IsCancelled()) progress->Hide();
      ui.ShowMessage(item.message, item.icon, MsgButtons::Ok);
    }
    if (done) done(item.tag, item.result);
  }
}

int EncryptOneFile(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                   IProgressWindow* progress) {
  CEncryptBatch batch;
  const int added = batch.Add(ui, path, digest, level, progress, 0);
  if (added != ENCRYPT_PENDING) return added;
  int result = ENCRYPT_FAILED;
  batch.Commit(ui, progress, [&](size_t, int r) { result = r; });
  return result;
}

// ---- restore ----

CDecryptBatch::~CDecryptBatch() {
  for (const Item& item : m_items) {
    if (!item.renamed) RemoveOwnFile(item.temp, item.written);
  }
}

void CDecryptBatch::Fail(Item& item, const std::string& reason) {
  item.result = DECRYPT_FAILED;
  item.message = FormatText("Decryption error or can not access the file \"%s\"",
                            {LastPathComponent(item.path)}) +
                 "\n\n" + reason;
}

bool CDecryptBatch::Holds(const std::string& name) const {
  if (m_names.count(name)) return true;
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0 && m_files.count({st.st_dev, st.st_ino});
}

int CDecryptBatch::Add(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                       IProgressWindow* progress, size_t tag) {
  if (!IsProtectedPath(path)) return DECRYPT_FAILED;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return DecryptFailed(ui, progress, path,
                         S_ISREG(st.st_mode) ? std::strerror(errno) : "It is not a regular file.");
  }
  Item item;
  item.tag = tag;
  item.path = path;
  item.target = PlainPathOf(path);
  item.source = st;
  m_folders.Open(FolderOf(item.target));

  // The restored file is written under a temporary name beside the target and takes the
  // target's name only at the commit; any failure leaves an existing target alone.
  CFileCodec codec;
  codec.m_bufferSize = kCodecBufferSize;
  codec.m_usePasswordText = 0;
  codec.m_deferSync = true;
  std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
  codec.m_source = path;
  auto decode = [&] {
    int r = CODEC_IO_ERROR;
    // A taken temporary name (planted, or left over) is never written through: another.
    for (int attempt = 0; attempt < 4; ++attempt) {
      item.temp = TempPathFor(item.target);
      codec.m_destination = item.temp;
      r = codec.Decode(ProgressStep, progress);
      if (r != CODEC_IO_ERROR || codec.LastError().err != EEXIST ||
          codec.LastError().path != item.temp) {
        break;
      }
    }
    return r;
  };
  int result = decode();
  for (int attempts = 0; result == CODEC_BAD_KEY; ++attempts) {
    if (attempts >= kMaxPasswordPrompts) return DECRYPT_FAILED;
    if (progress && !progress->IsCancelled()) progress->Hide();
    std::string password;
    const bool ok = ui.AskPassword(path, password);
    if (progress && !progress->IsCancelled()) progress->Show();
    if (!ok) {
      SecureZero(password.data(), password.size());
      return DECRYPT_PROMPT_CANCELLED;
    }
    GuardKeyDigest(digest, password);
    SecureZero(password.data(), password.size());
    std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
    result = decode();
  }
  if (result == CODEC_CANCELLED) return DECRYPT_CANCELLED;
  if (result != CODEC_OK) {
    return DecryptFailed(
        ui, progress, path,
        // An I/O failure without a system error is a payload that
        // ended too early.
        result == CODEC_ZLIB_ERROR || (result == CODEC_IO_ERROR && codec.LastError().err == 0)
            ? std::string("damaged or not a protected file")
            : CodecFailureReason(result, codec.LastError().err));
  }
  item.written = codec.DestinationStat();
  m_names.insert(item.path);
  m_names.insert(item.target);
  m_files.insert({st.st_dev, st.st_ino});
  m_bytes += static_cast<uint64_t>(st.st_size);
  m_items.push_back(std::move(item));
  return DECRYPT_PENDING;
}

void CDecryptBatch::Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done) {
  if (m_items.empty()) return;
  // 1. The restored files' content, before any of them takes its name.
  std::vector<std::pair<std::string, struct stat>> files;
  for (const Item& item : m_items) files.emplace_back(item.temp, item.written);
  const std::vector<int> dataErrs = SyncFiles(BatchStep::SyncNew, m_folders, files);
  // 2. Their names.
  std::set<std::string> renamedIn;
  size_t renamed = 0;
  for (size_t i = 0; i < m_items.size(); ++i) {
    Item& item = m_items[i];
    if (dataErrs[i] != 0) {
      RemoveOwnFile(item.temp, item.written);
      Fail(item, std::strerror(dataErrs[i]));
      continue;
    }
    Announce(BatchStep::Rename, item.target);
    if (::rename(item.temp.c_str(), item.target.c_str()) != 0) {
      const int e = errno;
      RemoveOwnFile(item.temp, item.written);
      Fail(item, std::strerror(e));
      continue;
    }
    item.renamed = true;
    struct stat st {};
    if (::lstat(item.target.c_str(), &st) != 0 || !SameInode(st, item.written)) {
      // Not the file we wrote (the temporary name was swapped): the protected file stays.
      Fail(item, "it was replaced while it was restored");
      continue;
    }
    renamedIn.insert(FolderOf(item.target));
    ++renamed;
  }
  // 3. The names, before any protected file is deleted.
  const std::map<std::string, int> nameErrs = SyncNames(m_folders, renamed, renamedIn);
  // 4. The protected files, now that their restored files are durable. A removal lost in
  // a crash leaves both, which loses nothing; a protected file that is not the one
  // decoded any more (protected again meanwhile) stays.
  for (Item& item : m_items) {
    if (item.result != DECRYPT_DONE) continue;
    if (const int e = nameErrs.at(FolderOf(item.target)); e != 0) {
      // The new name may not survive a crash: take the output back and keep the
      // protected file.
      RemoveOwnFile(item.target, item.written);
      Fail(item, std::strerror(e));
      continue;
    }
    struct stat st {};
    if (::lstat(item.path.c_str(), &st) != 0 || !SameInode(st, item.source)) continue;
    Announce(BatchStep::Unlink, item.path);
    if (::unlink(item.path.c_str()) != 0) {
      // Both files stay (a read-only folder, say); the restore itself succeeded.
    }
  }
  std::vector<Item> items = std::move(m_items);
  m_items.clear();
  m_names.clear();
  m_files.clear();
  m_bytes = 0;
  m_folders.CloseAll();
  for (Item& item : items) {
    if (!item.message.empty()) {
      if (progress && !progress->IsCancelled()) progress->Hide();
      ui.ShowMessage(item.message, MsgIcon::Error, MsgButtons::Ok);
    }
    if (done) done(item.tag, item.result);
  }
}

int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress) {
  CDecryptBatch batch;
  const int added = batch.Add(ui, path, digest, progress, 0);
  if (added != DECRYPT_PENDING) return added;
  int result = DECRYPT_FAILED;
  batch.Commit(ui, progress, [&](size_t, int r) { result = r; });
  return result;
}
