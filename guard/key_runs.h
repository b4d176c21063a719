#pragma once
// Runs of the key operations over many protected files: which files a named path stands
// for, the work spread over several threads with results told in list order, the check
// of each file (verify), and the settings files that follow a new key.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/key_ops.h"
#include "guard/file_collector.h"

// The protected files of a run and the folders it looked in (each with a trailing "/").
struct KeyRunFiles {
  std::vector<std::string> files;  // no name twice, in the order found
  std::set<std::string> folders;
  std::set<std::string> named;  // the files, for the check against doubles
  // The files as the scan found them, one entry per file in the same order: a run over
  // them works in the folders the scan opened (see CHeldFolders).
  RunFiles scanned;
};

// Adds what an absolute path stands for: a folder's protected files (recursive: its
// subfolders' too); a protected file itself; a plain name whose protected file exists.
// False when it stands for no protected file at all (a folder without any is true).
bool AddKeyRunPath(KeyRunFiles& run, const std::string& path, bool recursive);

// Runs work(worker, i) for every i below count on up to jobs workers (the calling thread
// is worker 0). An item is finished by Done(i), from the work call or later (a batch
// finishes several at its commit); report(i, started) then follows for each item in
// index order, one call at a time. stop() is asked before each new item; items never
// started are reported with started false. flush(worker) runs after a worker's last item.
class COrderedRun {
 public:
  using Work = std::function<void(size_t worker, size_t i)>;
  using Report = std::function<void(size_t i, bool started)>;
  COrderedRun(size_t count, Report report);
  COrderedRun(const COrderedRun&) = delete;
  COrderedRun& operator=(const COrderedRun&) = delete;
  void Done(size_t i);
  // Returns when every item was reported.
  void Run(int jobs, const Work& work, const std::function<void(size_t worker)>& flush,
           const std::function<bool()>& stop);

 private:
  void Worker(size_t worker, const Work& work, const std::function<void(size_t)>& flush,
              const std::function<bool()>& stop);
  void ReportReadyLocked();

  size_t m_count;
  Report m_report;
  std::vector<char> m_done;
  std::vector<char> m_started;
  size_t m_reported = 0;
  std::atomic<size_t> m_next{0};
  std::mutex m_lock;
};

// The verdict on one protected file, with the words the tool and the window show:
// "ok", "wrong password", "damaged (at byte N)", or the reason it could not be read.
std::string VerifyVerdictText(const PayloadCheck& check);

// Checks entry i of files under key, in the folder the scan opened for it (a folder
// replaced since fails it: kFolderReplacedReason).
PayloadCheck VerifyRunFile(const RunFiles& files, size_t i, const uint8_t key[32], bool zlibOnly,
                           ProgressProc progress = nullptr, void* user = nullptr);
// Checks every entry of files under key with jobs threads; told(i, check) in list order.
// stop makes the files not yet started come back as CODEC_CANCELLED.
void VerifyFiles(const RunFiles& files, const uint8_t key[32], int jobs, bool zlibOnly,
                 const std::function<bool()>& stop,
                 const std::function<void(size_t i, const PayloadCheck& check)>& told);

// Rewrites the folder settings file ("zde.tmp") of each folder whose file holds oldKey,
// so that "Use last password" offers the new one. The folders rewritten, and the reasons
// of those that could not be.
struct FollowedSettings {
  std::vector<std::string> rewritten;
  std::vector<SysError> failures;
};
FollowedSettings FollowNewKeyInFolders(const std::set<std::string>& folders,
                                       const uint8_t oldKey[32], const uint8_t newKey[32]);
