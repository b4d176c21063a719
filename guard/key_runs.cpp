#include "guard/key_runs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "common/paths.h"
#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"
#include "guard/held_folders.h"

namespace {

void AddFile(KeyRunFiles& run, FileEntry entry) {
  if (!run.named.insert(entry.path).second) return;
  run.files.push_back(entry.path);
  run.scanned.entries.push_back(std::move(entry));
}

}  // namespace

bool AddKeyRunPath(KeyRunFiles& run, const std::string& path, bool recursive) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    CFileCollector collector;
    collector.UseFolders(run.scanned.folders.get());
    collector.SetRecursive(recursive);
    collector.SetRoot(path);
    collector.AddFilesMatching(kProtectedPattern);
    for (const std::string& folder : collector.Folders()) {
      run.folders.insert(WithTrailingSlash(folder));
    }
    for (FileEntry& e : collector.Entries()) AddFile(run, std::move(e));
    return true;
  }
  RunFiles found;
  found.folders = run.scanned.folders;
  if (CollectFilesToDecrypt(found, CGuardItem(path, 0)) == 0) return false;
  for (FileEntry& e : found.entries) {
    run.folders.insert(WithTrailingSlash(ParentFolder(e.path)));
    AddFile(run, std::move(e));
  }
  return true;
}

COrderedRun::COrderedRun(size_t count, Report report)
    : m_count(count), m_report(std::move(report)), m_done(count, 0), m_started(count, 0) {}

void COrderedRun::Done(size_t i) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_done[i] = 1;
  ReportReadyLocked();
}

void COrderedRun::ReportReadyLocked() {
  while (m_reported < m_count && m_done[m_reported]) {
    m_report(m_reported, m_started[m_reported] != 0);
    ++m_reported;
  }
}

void COrderedRun::Worker(size_t worker, const Work& work, const std::function<void(size_t)>& flush,
                         const std::function<bool()>& stop) {
  for (;;) {
    if (stop && stop()) break;
    const size_t i = m_next.fetch_add(1);
    if (i >= m_count) break;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_started[i] = 1;
    }
    work(worker, i);
  }
  if (flush) flush(worker);
}

void COrderedRun::Run(int jobs, const Work& work, const std::function<void(size_t)>& flush,
                      const std::function<bool()>& stop) {
  const size_t workers =
      std::max<size_t>(1, std::min<size_t>(static_cast<size_t>(std::max(jobs, 1)), m_count));
  std::vector<std::thread> threads;
  for (size_t w = 1; w < workers; ++w) {
    threads.emplace_back([this, w, &work, &flush, &stop] { Worker(w, work, flush, stop); });
  }
  Worker(0, work, flush, stop);
  for (std::thread& t : threads) t.join();
  std::lock_guard<std::mutex> lock(m_lock);
  for (size_t i = 0; i < m_count; ++i) {
    if (!m_started[i]) m_done[i] = 1;
  }
  ReportReadyLocked();
}

std::string VerifyVerdictText(const PayloadCheck& check) {
  switch (check.result) {
    case CODEC_OK:
      return "ok";
    case CODEC_BAD_KEY:
      return "wrong password";
    case CODEC_ZLIB_ERROR:
      return "damaged (at byte " + std::to_string(check.damagedAt) + ")";
    case CODEC_CANCELLED:
      return "cancelled";
    case CODEC_NO_MEMORY:
      return "not enough memory";
    default:
      if (check.error.err == ESTALE) return std::string("cannot be read: ") + kFolderReplacedReason;
      return "cannot be read: " +
             (check.error.ok() ? std::string("reading failed") : check.error.Reason());
  }
}

PayloadCheck VerifyRunFile(const RunFiles& files, size_t i, const uint8_t key[32], bool zlibOnly,
                           ProgressProc progress, void* user) {
  const FileEntry& entry = files.entries[i];
  if (entry.folder == FileEntry::kNoFolder || !files.folders) {
    return VerifyProtectedFile(entry.path, key, zlibOnly, progress, user);
  }
  const int fd = files.folders->Acquire(entry.folder);
  if (fd < 0) {
    PayloadCheck check;
    check.result = CODEC_IO_ERROR;
    check.error = ErrnoError(entry.path, "open");
    return check;
  }
  PayloadCheck check = VerifyProtectedFileAt(fd, entry.name, key, zlibOnly, progress, user);
  files.folders->Release(entry.folder);
  return check;
}

void VerifyFiles(const RunFiles& files, const uint8_t key[32], int jobs, bool zlibOnly,
                 const std::function<bool()>& stop,
                 const std::function<void(size_t i, const PayloadCheck& check)>& told) {
  std::vector<PayloadCheck> checks(files.entries.size());
  std::function<bool()> watched = stop;
  // The progress callback only watches for a stop: -j N has no one bar to move.
  auto watch = [](uint64_t, uint64_t, uint64_t, void* user) -> int {
    const auto* s = static_cast<const std::function<bool()>*>(user);
    return *s && (*s)() ? 0 : 1;
  };
  COrderedRun run(files.entries.size(), [&](size_t i, bool started) {
    if (!started) checks[i].result = CODEC_CANCELLED;
    told(i, checks[i]);
  });
  run.Run(
      jobs,
      [&](size_t, size_t i) {
        checks[i] = VerifyRunFile(files, i, key, zlibOnly, watch, &watched);
        run.Done(i);
      },
      nullptr, stop);
}

FollowedSettings FollowNewKeyInFolders(const std::set<std::string>& folders,
                                       const uint8_t oldKey[32], const uint8_t newKey[32]) {
  FollowedSettings followed;
  for (const std::string& folder : folders) {
    const std::string path = WithTrailingSlash(folder) + std::string(kFolderSettingsName);
    if (!PathExists(path)) continue;
    CEncryptionSettings settings;
    // Load refuses a file that is not this folder's own or that others could have written.
    if (!settings.Load(path)) continue;
    uint8_t held[32];
    settings.GetDigest(held);
    const bool same = std::memcmp(held, oldKey, sizeof held) == 0;
    SecureZero(held, sizeof held);
    if (!same) continue;
    settings.SetDigest(newKey);
    if (SysError e = settings.Save(path); !e.ok()) {
      followed.failures.push_back(std::move(e));
    } else {
      followed.rewritten.push_back(path);
    }
  }
  return followed;
}
