// verify and change-password: key operations on protected files that never put their
// plain text on the disk.
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/key_support.h"
#include "cli/terminal.h"
#include "common/paths.h"
#include "engine/digest.h"
#include "guard/file_list_driver.h"
#include "guard/key_runs.h"
#include "guard/rekey_batch.h"
#include "guardlist/explorer_doc.h"

namespace {

bool Interrupted() {
  return g_interrupted.load();
}

// Ctrl-C stops a large file in the middle too: it stays as it was.
int WatchInterrupt(uint64_t, uint64_t, uint64_t, void*) {
  return g_interrupted.load() ? 0 : 1;
}

struct VerifyTally {
  size_t ok = 0, wrongPassword = 0, damaged = 0, unreadable = 0, cancelled = 0;
};

int VerifyExitCode(const VerifyTally& t, bool missing) {
  if (g_interrupted) return GUARD_EXIT_CANCELLED;
  if (t.wrongPassword > 0 && t.ok + t.damaged + t.unreadable == 0) {
    return GUARD_EXIT_WRONG_PASSWORD;
  }
  const bool allOk = t.wrongPassword + t.damaged + t.unreadable + t.cancelled == 0;
  return allOk && !missing ? GUARD_EXIT_DONE : GUARD_EXIT_INCOMPLETE;
}

// A guard list named among the paths of change-password: its stored key and its items.
struct NamedList {
  std::string path;
  bool follows = false;  // it held the old key: it gets the new one
};

// The paths of change-password: lists by their own rules, the rest as files and folders.
bool CollectRekeyPaths(const CliOptions& o, const uint8_t* oldKey, KeyRunFiles& run,
                       std::vector<NamedList>& lists, bool& wrongList) {
  bool missing = false;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    if (IsSymbolicLink(abs)) {
      PrintError("cannot change the password of \"" + p + "\": it is a symbolic link");
      missing = true;
    } else if (IsGuardListPath(abs)) {
      CExplorerDoc doc;
      if (!LoadGuardList(abs, doc)) {
        missing = true;
      } else if (doc.HasPassword() && std::memcmp(doc.m_digest, oldKey, 32) != 0) {
        // Lists carry no record of who made them: only one who knows the list's own
        // password may give it a new one.
        PrintError("the list \"" + p + "\" has another password: it and its files are left");
        wrongList = true;
      } else {
        for (const CGuardItem& item : doc.m_items) {
          AddKeyRunPath(run, item.m_path, item.IsFolder() && item.m_subfolders != 0);
        }
        lists.push_back({abs, doc.HasPassword()});
      }
    } else if (!AddKeyRunPath(run, abs, o.recursive)) {
      PrintError("cannot change the password of \"" + p + "\": no protected file of that name");
      missing = true;
    }
  }
  return missing;
}

bool GiveListsTheNewKey(const std::vector<NamedList>& lists, const uint8_t* newKey) {
  bool ok = true;
  for (const NamedList& list : lists) {
    if (!list.follows) continue;
    CExplorerDoc doc;
    if (!LoadGuardList(list.path, doc)) {
      ok = false;
      continue;
    }
    std::memcpy(doc.m_digest, newKey, sizeof doc.m_digest);
    if (const SysError e = doc.Store(list.path); !e.ok()) {
      PrintError("cannot give the list \"" + list.path + "\" its new password: " + e.Reason());
      ok = false;
    }
  }
  return ok;
}

struct RekeyTally {
  size_t done = 0, wrongPassword = 0, failed = 0, cancelled = 0;
  std::set<std::string> doneIn;  // folders with a re-keyed file
};

void TellRekeyed(const std::string& path, int result, const std::string& reason, RekeyTally& t) {
  switch (result) {
    case REKEY_DONE:
      ++t.done;
      t.doneIn.insert(WithTrailingSlash(ParentFolder(path)));
      break;
    case REKEY_WRONG_PASSWORD:
      ++t.wrongPassword;
      PrintError("wrong password for \"" + path + "\": left as it is");
      break;
    case REKEY_CANCELLED:
      ++t.cancelled;
      break;
    default:
      ++t.failed;
      PrintError("cannot change the password of \"" + path + "\": " + reason);
      break;
  }
}

int RekeyExitCode(const RekeyTally& t, bool wrongList, bool incomplete) {
  if (g_interrupted) return GUARD_EXIT_CANCELLED;
  if ((t.wrongPassword > 0 || wrongList) && t.done + t.failed == 0) {
    return GUARD_EXIT_WRONG_PASSWORD;
  }
  const bool clean = t.wrongPassword + t.failed + t.cancelled == 0 && !wrongList;
  return clean && !incomplete ? GUARD_EXIT_DONE : GUARD_EXIT_INCOMPLETE;
}

}  // namespace

int RunVerify(const CliOptions& o) {
  KeyRunFiles run;
  bool missing = false;
  for (const std::string& p : o.paths) {
    if (!AddKeyRunPath(run, Absolute(p), o.recursive)) {
      PrintError("cannot verify \"" + p + "\": no protected file of that name");
      missing = true;
    }
  }
  if (run.files.empty()) return missing ? GUARD_EXIT_INCOMPLETE : GUARD_EXIT_DONE;
  SecretKey key;
  if (const int failed = ObtainKey(o.passwordFile, o.passwordFd, "Password: ", key); failed != 0) {
    return failed;
  }
  VerifyTally t;
  VerifyFiles(run.scanned, key.data(), o.jobs, false, Interrupted,
              [&](size_t i, const PayloadCheck& check) {
                switch (check.result) {
                  case CODEC_OK:
                    ++t.ok;
                    break;
                  case CODEC_BAD_KEY:
                    ++t.wrongPassword;
                    break;
                  case CODEC_ZLIB_ERROR:
                    ++t.damaged;
                    break;
                  case CODEC_CANCELLED:
                    ++t.cancelled;
                    return;
                  default:
                    ++t.unreadable;
                    break;
                }
                if (check.result != CODEC_OK || !o.quiet) {
                  std::printf("%s: %s\n", run.files[i].c_str(), VerifyVerdictText(check).c_str());
                }
              });
  if (!o.quiet) {
    std::printf("%zu checked: %zu ok, %zu wrong password, %zu damaged, %zu unreadable%s\n",
                t.ok + t.wrongPassword + t.damaged + t.unreadable, t.ok, t.wrongPassword, t.damaged,
                t.unreadable, t.cancelled > 0 ? ", cancelled" : "");
  }
  std::fflush(stdout);
  return VerifyExitCode(t, missing);
}

int RunChangePassword(const CliOptions& o) {
  SecretKey oldKey, newKey;
  if (const int failed = ObtainKey(o.passwordFile, o.passwordFd, "Old password: ", oldKey);
      failed != 0) {
    return failed;
  }
  if (const int failed = ObtainNewKey(o, newKey); failed != 0) return failed;
  if (std::memcmp(oldKey.data(), newKey.data(), 32) == 0) {
    PrintError("the new password is the old one");
    return GUARD_EXIT_USAGE;
  }
  KeyRunFiles run;
  std::vector<NamedList> lists;
  bool wrongList = false;
  const bool missing = CollectRekeyPaths(o, oldKey.data(), run, lists, wrongList);
  RemoveStaleTempFilesIn(*run.scanned.folders);
  RekeyTally t;
  RekeyFiles(run.scanned, oldKey.data(), newKey.data(), o.jobs, WatchInterrupt, nullptr,
             Interrupted, [&](size_t i, int result, const std::string& reason) {
               TellRekeyed(run.files[i], result, reason, t);
             });
  // "Use last password" and the lists follow only a run that went to its end, or the
  // folders where files took the new key before it stopped.
  const FollowedSettings followed =
      FollowNewKeyInFolders(g_interrupted ? t.doneIn : run.folders, oldKey.data(), newKey.data());
  for (const SysError& e : followed.failures) {
    PrintError("cannot give \"" + e.path + "\" the new password: " + e.Reason());
  }
  bool listsOk = true;
  if (!g_interrupted) listsOk = GiveListsTheNewKey(lists, newKey.data());
  if (!o.quiet) {
    std::fprintf(stderr, "%zu %s a new password, %zu wrong password, %zu failed%s.\n", t.done,
                 t.done == 1 ? "file has" : "files have", t.wrongPassword, t.failed,
                 t.cancelled > 0 ? ", the rest cancelled" : "");
  }
  return RekeyExitCode(t, wrongList, missing || !listsOk || !followed.failures.empty());
}
