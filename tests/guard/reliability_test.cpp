// Runs killed at random moments: afterwards every file exists either as its original
// plain content or as a protected file that restores to it, and never as anything else.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>

#include "common/paths.h"
#include "common/safe_file.h"
#include "fake_guard_ui.h"
#include "guard/file_list_driver.h"
#include "guard/rekey_batch.h"
#include "guard/single_file.h"
#include "guard_test_util.h"

namespace {

class KillLoop : public GuardTest {
 protected:
  void SetUp() override {
    GuardTest::SetUp();
    const size_t sizes[] = {0, 1, 1040, 70000, 300000, 900000};
    for (size_t i = 0; i < std::size(sizes); ++i) {
      const std::string name = std::to_string(i).append(i % 2 ? ".txt" : ".bin");
      m_originals[name] = i % 2 ? TextLike(sizes[i], static_cast<uint32_t>(i))
                                : RandomBytes(sizes[i], static_cast<uint32_t>(i));
      WriteBytes(P(name), m_originals[name]);
    }
  }

  // Protect everything there is in plain form, or restore everything protected.
  // onStep is called at every progress step.
  int Run(bool protect, void (*onStep)() = nullptr) {
    FakeGuardUi ui;
    ui.onStep = onStep;
    std::vector<std::string> paths;
    for (const auto& [name, content] : m_originals) {
      paths.push_back(protect ? P(name) : ProtectedPathOf(P(name)));
      // Both forms may exist after a kill between rename and wipe: replace the other one.
      ui.messageAnswers.push_back(MSG_YES);
    }
    ui.passwords = {std::string("kill test")};
    const auto key = KeyOf("kill test");
    return protect ? EncryptFileList(ui, paths, key.data(), 6, "*.bin|")
                   : DecryptFileList(ui, paths);
  }

  // Every name exists as its original or as a protected file that restores to it; an
  // existing plain file is always the original and an existing protected file always
  // restores to it.
  void CheckInvariant(int round) {
    for (const auto& [name, content] : m_originals) {
      const bool plain = Exists(P(name));
      const bool prot = Exists(P(name + ".~de"));
      EXPECT_TRUE(plain || prot) << name << " lost in round " << round;
      if (plain) {
        EXPECT_EQ(ReadBytes(P(name)), content) << name << " round " << round;
      }
      if (prot) {
        bool ok = false;
        const auto restored = DecodeToMemory(P(name + ".~de"), "kill test", P("check.out"), ok);
        EXPECT_TRUE(ok) << name << ".~de does not restore, round " << round;
        EXPECT_EQ(restored, content) << name << ".~de round " << round;
      }
    }
    for (const std::string& n : ListNames(Dir())) {
      if (n == ".home" || IsTempName(n)) continue;
      const std::string plain = IsProtectedPath(n) ? PlainPathOf(n) : n;
      EXPECT_TRUE(m_originals.count(plain)) << "unexpected file " << n << " in round " << round;
    }
  }

  std::map<std::string, std::vector<uint8_t>> m_originals;
};

// Where a kill lands is counted, never timed: a step is a progress step of a file or a
// step of a batch's commit, and each round's run kills itself at a random one of them.
int g_randomKillAt = 0;
int g_randomSeen = 0;
void CountStep() {
  if (++g_randomSeen == g_randomKillAt) ::raise(SIGKILL);
}
void CountBatchStep(BatchStep, const std::string&, bool) {
  CountStep();
}

TEST_F(KillLoop, RunsKilledAtRandomMomentsNeverLoseOrDamageAFile) {
  // How many steps an undisturbed run takes here, to spread the kills over it.
  int steps[2] = {0, 0};  // restore, protect
  for (const bool protect : {true, false}) {
    g_randomSeen = 0;
    g_randomKillAt = 0;
    SetBatchStepHookForTesting(CountBatchStep);
    ASSERT_EQ(Run(protect, CountStep), 6);
    SetBatchStepHookForTesting(nullptr);
    steps[protect] = g_randomSeen;
  }
  CheckInvariant(-1);
  ASSERT_GT(steps[true], 12);
  ASSERT_GT(steps[false], 8);

  std::mt19937 rng(20240611);
  int killedMidway = 0;
  const int rounds = 40;
  for (int round = 0; round < rounds; ++round) {
    const bool protect = round % 2 == 0;
    const int at = 1 + static_cast<int>(rng() % static_cast<uint32_t>(steps[protect]));
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      g_randomSeen = 0;
      g_randomKillAt = at;
      SetBatchStepHookForTesting(CountBatchStep);
      Run(protect, CountStep);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) ++killedMidway;
    CheckInvariant(round);
    if (HasFailure()) break;
  }
  // A run that starts where a killed one stopped has fewer steps left, so a kill may
  // fall after its end; counted steps make how many land inside the same on every
  // machine (20 of 40 here).
  EXPECT_GT(killedMidway, rounds / 4) << "the kills should mostly land inside the runs";

  // A clean run afterwards finishes the job and removes what the killed runs left.
  Run(false);
  CheckInvariant(rounds);
  for (const auto& [name, content] : m_originals) EXPECT_EQ(ReadBytes(P(name)), content);
  EXPECT_TRUE(TempNames(Dir()).empty());
}

// Kills at every step of a commit, in batches of 4 (so that a run of six files crosses a
// batch boundary, and the batch of 2 after it syncs file by file): before the batch's
// sync, between the renames, between the wipes, before the sync of the wipes, between
// the unlinks.
int g_killAtStep = 0;
int g_stepsSeen = 0;
void KillAtStep(BatchStep, const std::string&, bool) {
  if (++g_stepsSeen == g_killAtStep) ::raise(SIGKILL);
}

TEST_F(KillLoop, KillsBetweenTheStepsOfABatchLoseNothing) {
  SetBatchLimitsForTesting(4, 0);
  int steps[2] = {0, 0};  // restore, protect
  for (const bool protect : {true, false}) {
    g_stepsSeen = 0;
    g_killAtStep = 0;
    SetBatchStepHookForTesting(KillAtStep);
    ASSERT_EQ(Run(protect), 6);
    SetBatchStepHookForTesting(nullptr);
    steps[protect] = g_stepsSeen;
  }
  CheckInvariant(-1);
  ASSERT_GT(steps[true], 12);  // at least a rename, a wipe and an unlink per file
  ASSERT_GT(steps[false], 8);
  int round = 0;
  for (const bool protect : {true, false}) {
    for (int at = 1; at <= steps[protect]; ++at, ++round) {
      // Every file in the form the killed run starts from.
      Run(!protect);
      for (const auto& [name, content] : m_originals)
        ASSERT_TRUE(Exists(P(protect ? name : name + ".~de"))) << name << " round " << round;
      std::fflush(nullptr);
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        g_stepsSeen = 0;
        g_killAtStep = at;
        SetBatchStepHookForTesting(KillAtStep);
        Run(protect);
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFSIGNALED(status)) << "step " << at << " was never reached";
      CheckInvariant(round);
      if (HasFailure()) break;
    }
  }
  SetBatchLimitsForTesting(0, 0);
  Run(false);
  CheckInvariant(round);
  for (const auto& [name, content] : m_originals) EXPECT_EQ(ReadBytes(P(name)), content);
  EXPECT_TRUE(TempNames(Dir()).empty());
}

// Password changes killed at every step, inside a file's re-key (its progress calls) and
// between the steps of each commit: every file stays whole under one of the two keys,
// and never appears in plain form.
int KillAtProgress(uint64_t, uint64_t, uint64_t, void*) {
  if (++g_stepsSeen == g_killAtStep) ::raise(SIGKILL);
  return 1;
}

TEST_F(KillLoop, PasswordChangesKilledAtEveryStepKeepEachFileUnderOneOfTheTwoKeys) {
  ASSERT_EQ(Run(true), 6);
  SetBatchLimitsForTesting(4, 0);
  const auto oldKey = KeyOf("kill test");
  const auto newKey = KeyOf("new kill test");
  std::vector<std::string> files;
  for (const auto& [name, content] : m_originals) files.push_back(P(name + ".~de"));
  auto rekey = [&](const std::vector<uint8_t>& from, const std::vector<uint8_t>& to) {
    int done = 0;
    RekeyFiles(files, from.data(), to.data(), 1, KillAtProgress, nullptr, nullptr,
               [&](size_t, int result, const std::string&) { done += result == REKEY_DONE; });
    return done;
  };
  g_stepsSeen = 0;
  g_killAtStep = 0;
  SetBatchStepHookForTesting(KillAtStep);
  ASSERT_EQ(rekey(oldKey, newKey), 6);
  SetBatchStepHookForTesting(nullptr);
  const int steps = g_stepsSeen;
  ASSERT_GT(steps, 12);  // progress of each file, a rename each, the syncs
  for (int at = 1; at <= steps; ++at) {
    rekey(newKey, oldKey);  // every file under the old key again
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      g_stepsSeen = 0;
      g_killAtStep = at;
      SetBatchStepHookForTesting(KillAtStep);
      rekey(oldKey, newKey);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "step " << at << " was never reached";
    for (const auto& [name, content] : m_originals) {
      EXPECT_FALSE(Exists(P(name))) << name << " step " << at;
      bool ok = false;
      auto restored = DecodeToMemory(P(name + ".~de"), "kill test", P("check.out"), ok);
      if (!ok) restored = DecodeToMemory(P(name + ".~de"), "new kill test", P("check.out"), ok);
      EXPECT_TRUE(ok) << name << " opens with neither key, step " << at;
      EXPECT_EQ(restored, content) << name << " step " << at;
    }
    if (HasFailure()) break;
  }
  SetBatchLimitsForTesting(0, 0);
  RemoveStaleTempFiles(Dir());
  EXPECT_TRUE(TempNames(Dir()).empty());
  rekey(newKey, oldKey);
  Run(false);
  for (const auto& [name, content] : m_originals) EXPECT_EQ(ReadBytes(P(name)), content);
}

// Watches the steps of the commits as they happen: a plain file keeps its content until
// its wipe, which comes only after its protected file was synced, renamed and its name
// synced; a protected file is deleted only after its restored file went the same way.
struct StepRecord {
  BatchStep step;
  std::string path;
  bool wholeFileSystem;
};
std::vector<StepRecord> g_steps;
const std::map<std::string, std::vector<uint8_t>>* g_plain = nullptr;  // path, content
bool g_restoring = false;
std::vector<std::string> g_touchedEarly;

void RecordStep(BatchStep step, const std::string& path, bool whole) {
  g_steps.push_back({step, path, whole});
  std::set<std::string> wiped;
  for (const StepRecord& r : g_steps)
    if (r.step == BatchStep::Wipe) wiped.insert(r.path);
  for (const auto& [plain, content] : *g_plain) {
    if (g_restoring) {
      // The protected file is there, untouched, until its own unlink.
      if (step == BatchStep::Unlink && path == ProtectedPathOf(plain) &&
          ReadBytes(plain) != content) {
        g_touchedEarly.push_back("deleted before restored: " + path);
      }
      continue;
    }
    if (wiped.count(plain) == 0 && ReadBytes(plain) != content)
      g_touchedEarly.push_back("touched before its wipe: " + plain);
    if (step == BatchStep::Wipe && path == plain && !Exists(ProtectedPathOf(plain)))
      g_touchedEarly.push_back("wiped without its protected file: " + plain);
  }
}

std::string FolderOfPath(const std::string& path) {
  return path.substr(0, path.rfind('/'));
}

uint64_t DeviceOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// Whether the sync recorded at r made file durable: a syncfs of its file system, or an
// fsync of the file itself (then under the temporary name it had, for new files) or,
// for a sync of names, of its folder.
bool Covers(const StepRecord& r, const std::string& file, const std::string& tempOf) {
  const std::string folder = FolderOfPath(file);
  if (r.wholeFileSystem) return DeviceOf(r.path) == DeviceOf(folder);
  if (r.step == BatchStep::SyncNames) return r.path == folder || r.path == folder + "/";
  if (r.path == file) return true;
  const std::string name = r.path.substr(r.path.rfind('/') + 1);
  return FolderOfPath(r.path) == folder &&
         name.rfind(std::string(kTempPrefix) + tempOf.substr(tempOf.rfind('/') + 1) + ".", 0) == 0;
}

// Index of the first record of step about path (after from), or -1.
int Find(BatchStep step, const std::function<bool(const std::string&)>& about, int from = -1) {
  for (int i = from + 1; i < static_cast<int>(g_steps.size()); ++i)
    if (g_steps[i].step == step && about(g_steps[i].path)) return i;
  return -1;
}

// A sync of kind step between from and to that covers file.
bool SyncedBetween(BatchStep step, int from, int to, const std::string& file,
                   const std::string& tempOf) {
  for (int i = from + 1; i < to; ++i)
    if (g_steps[i].step == step && Covers(g_steps[i], file, tempOf)) return true;
  return false;
}

TEST_F(KillLoop, ABatchSyncsRenamesAndSyncsBeforeItTouchesAnySource) {
  MakeFolder(P("two"));
  std::map<std::string, std::vector<uint8_t>> plain;
  for (int i = 0; i < 9; ++i) {
    const std::string name = (i < 6 ? "" : "two/") + std::to_string(i) + ".txt";
    plain[P(name)] = TextLike(100 + 3000 * static_cast<size_t>(i), static_cast<uint32_t>(i));
    WriteBytes(P(name), plain[P(name)]);
  }
  std::vector<std::string> paths;
  for (const auto& [path, content] : plain) paths.push_back(path);
  const auto key = KeyOf("kill test");
  g_plain = &plain;
  // One batch of nine (a syncfs where the kernel's reports errors), then batches of two
  // (synced file by file), then nine on a FUSE mount, whose daemon a syncfs never asks:
  // every file and folder is synced on its own.
  constexpr int64_t kFuse = 0x65735546;
  for (const size_t limit : {size_t{0}, size_t{2}, size_t{1}}) {
    SetBatchLimitsForTesting(limit == 1 ? 0 : limit, 0);
    SetFileSystemTypeForTesting(limit == 1 ? kFuse : 0);
    for (const bool restoring : {false, true}) {
      g_steps.clear();
      g_restoring = restoring;
      SetBatchStepHookForTesting(RecordStep);
      FakeGuardUi ui;
      ui.passwords = {std::string("kill test")};
      std::vector<std::string> list;
      for (const std::string& p : paths) list.push_back(restoring ? ProtectedPathOf(p) : p);
      const int done =
          restoring ? DecryptFileList(ui, list) : EncryptFileList(ui, list, key.data(), 6, "");
      SetBatchStepHookForTesting(nullptr);
      ASSERT_EQ(done, 9) << limit;
      if (limit == 1) {
        for (const StepRecord& r : g_steps) EXPECT_FALSE(r.wholeFileSystem) << r.path;
      }
      for (const auto& [path, content] : plain) {
        const std::string target = restoring ? path : ProtectedPathOf(path);
        const int renamed =
            Find(BatchStep::Rename, [&](const std::string& s) { return s == target; });
        ASSERT_GE(renamed, 0) << target;
        EXPECT_TRUE(SyncedBetween(BatchStep::SyncNew, -1, renamed, target, target)) << target;
        if (restoring) {
          const int unlinked = Find(
              BatchStep::Unlink, [&](const std::string& s) { return s == ProtectedPathOf(path); });
          ASSERT_GT(unlinked, renamed) << path;
          EXPECT_TRUE(SyncedBetween(BatchStep::SyncNames, renamed, unlinked, target, target))
              << path;
          continue;
        }
        const int wiped = Find(BatchStep::Wipe, [&](const std::string& s) { return s == path; });
        ASSERT_GT(wiped, renamed) << path;
        EXPECT_TRUE(SyncedBetween(BatchStep::SyncNames, renamed, wiped, target, target)) << path;
        // The wiped file goes under its temporary name, after the wipes were synced.
        const int unlinked = Find(
            BatchStep::Unlink,
            [&](const std::string& s) {
              return Covers({BatchStep::SyncNew, s, false}, path, path);
            },
            wiped);
        ASSERT_GT(unlinked, wiped) << path;
        EXPECT_TRUE(SyncedBetween(BatchStep::SyncWipes, wiped, unlinked, g_steps[unlinked].path,
                                  g_steps[unlinked].path))
            << path;
      }
      EXPECT_EQ(g_touchedEarly, std::vector<std::string>{}) << limit;
      for (const auto& [path, content] : plain) EXPECT_EQ(Exists(path), restoring) << path;
    }
  }
  SetBatchLimitsForTesting(0, 0);
  SetFileSystemTypeForTesting(0);
  g_plain = nullptr;
  for (const auto& [path, content] : plain) EXPECT_EQ(ReadBytes(path), content);
}

}  // namespace
