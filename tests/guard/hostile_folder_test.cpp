// Protecting and restoring in a folder that others can write, and with files that change
// under the run: planted symbolic links, hard links, files replaced or appended to while
// they are protected, the modes a restored plaintext passes through, settings files that
// are not the user's own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "common/paths.h"
#include "common/safe_file.h"
#include "fake_guard_ui.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"
#include "guard/file_list_driver.h"
#include "guard/guard_command.h"
#include "guard/key_runs.h"
#include "guard/protect_settings.h"
#include "guard/rekey_batch.h"
#include "guard/single_file.h"
#include "guard_test_util.h"

namespace {

// A progress window that runs a test's action at every step of the bar: the codec and
// the wipe call it between their chunks, which makes "during the run" deterministic.
class SteppingProgress : public IProgressWindow {
 public:
  explicit SteppingProgress(std::function<void(int)> onStep) : m_onStep(std::move(onStep)) {}
  bool IsCancelled() const override { return false; }
  void Hide() override {}
  void Show() override {}
  void SetBarRange(uint64_t, uint64_t, uint64_t) override {}
  uint64_t SetBarStep(uint64_t) override { return 0; }
  uint64_t StepBar() override {
    m_onStep(m_steps++);
    return 0;
  }
  void SetStatusText(const std::string&) override {}
  void PumpMessages(bool) override {}
  void CloseProgress() override {}

 private:
  std::function<void(int)> m_onStep;
  int m_steps = 0;
};

// Temporary names made predictable: the random part counts 1, 2, 3, ... from each reset.
uint64_t g_nextRandom = 1;
uint64_t CountingRandom() {
  return g_nextRandom++;
}

std::string TempName(const std::string& folder, const std::string& target, uint64_t random,
                     bool wipe) {
  char tag[64];
  std::snprintf(tag, sizeof tag, ".%d-%016llx%s", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(random), wipe ? "w" : "");
  return folder + "/.vgtmp." + target + tag;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class HostileFolder : public GuardTest {
 protected:
  std::vector<uint8_t> m_key = KeyOf("pass word");
  void TearDown() override {
    SetTempNameRandomForTesting(nullptr);
    GuardTest::TearDown();
  }
};

TEST_F(HostileFolder, LinksPlantedAtTheNextTemporaryNamesAreNeverWrittenThrough) {
  // The victim lies outside the folder; every name the tool could pick first points at it.
  TempFolder outside;
  const std::string victim = outside / "victim";
  WriteText(victim, "not yours");
  ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
  WriteText(P("a.txt"), "plain text of a");
  auto plant = [&] {
    for (uint64_t r = 1; r <= 3; ++r) {
      for (const char* target : {"a.txt.~de", "a.txt", "zde.tmp"}) {
        for (bool wipe : {false, true}) {
          const std::string name = TempName(Dir(), target, r, wipe);
          if (!Exists(name)) {
            ASSERT_EQ(::symlink(victim.c_str(), name.c_str()), 0);
          }
        }
      }
    }
  };
  plant();
  SetTempNameRandomForTesting(CountingRandom);

  FakeGuardUi ui;
  g_nextRandom = 1;
  EXPECT_EQ(EncryptOneFile(ui, P("a.txt"), m_key.data(), 6, nullptr), ENCRYPT_DONE);
  EXPECT_TRUE(ui.messages.empty());
  g_nextRandom = 1;
  CEncryptionSettings settings;
  EXPECT_TRUE(settings.Save(P("zde.tmp")).ok());
  g_nextRandom = 1;
  std::vector<uint8_t> digest = m_key;
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest.data(), nullptr), DECRYPT_DONE);

  EXPECT_EQ(ReadText(P("a.txt")), "plain text of a");
  EXPECT_EQ(ReadText(victim), "not yours");
  EXPECT_EQ(ModeOf(victim), 0644u);
}

// Names that took a new file in the last run (the batch's renames).
std::vector<std::string> g_renamed;
void RecordRename(BatchStep step, const std::string& path, bool) {
  if (step == BatchStep::Rename) g_renamed.push_back(path);
}

TEST_F(HostileFolder, AFileWithHardLinksIsNotProtected) {
  WriteText(P("a.txt"), "shared content");
  ASSERT_EQ(::link(P("a.txt").c_str(), P("other-name.txt").c_str()), 0);
  FakeGuardUi ui;
  g_renamed.clear();
  SetBatchStepHookForTesting(RecordRename);
  EXPECT_EQ(EncryptOneFile(ui, P("a.txt"), m_key.data(), 6, nullptr), ENCRYPT_FAILED);
  SetBatchStepHookForTesting(nullptr);
  // Refused before anything is written, not only at its wipe.
  EXPECT_TRUE(g_renamed.empty());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("has 2 hard links"), std::string::npos) << ui.messages[0];
  EXPECT_EQ(ReadText(P("other-name.txt")), "shared content");
  EXPECT_EQ(ReadText(P("a.txt")), "shared content");
  EXPECT_FALSE(Exists(P("a.txt.~de")));
}

// Runs a test's action once, at the first step of this kind of a run.
std::function<void()> g_atFirstStep;
BatchStep g_actingStep = BatchStep::Wipe;
void ActAtFirstStep(BatchStep step, const std::string&, bool) {
  if (step == g_actingStep && g_atFirstStep) {
    const std::function<void()> act = std::move(g_atFirstStep);
    g_atFirstStep = nullptr;
    act();
  }
}

enum class RunKind { Protect, Restore, ChangePassword };

// The run's files of tree/ (and those outside), as a run of kind finds them.
std::vector<std::string> PrepareSwapTree(const std::string& dir, const TempFolder& outside,
                                         RunKind kind, const std::vector<uint8_t>& key) {
  auto at = [&](const char* name) { return dir + "/" + name; };
  WriteText(outside / "2.txt", "not yours");
  MakeFolder(at("tree/a"));
  MakeFolder(at("tree/b"));
  WriteText(at("tree/a/1.txt"), "one");
  WriteText(at("tree/b/2.txt"), "two");
  WriteText(at("tree/0.txt"), "zero");
  if (kind != RunKind::Protect) {
    FakeGuardUi before;
    EXPECT_EQ(
        EncryptFileList(
            before, {at("tree/a/1.txt"), at("tree/b/2.txt"), at("tree/0.txt"), outside / "2.txt"},
            key.data(), 6, ""),
        4);
  }
  CGuardItem item(at("tree/"), 1);
  item.m_subfolders = 1;
  item.m_includeMask = "*.*|";
  std::vector<std::string> paths;
  if (kind == RunKind::Protect)
    CollectFilesToEncrypt(paths, item);
  else
    CollectFilesToDecrypt(paths, item);
  return paths;
}

// Runs kind over paths; the files done and the messages (or failure reasons).
int RunOver(RunKind kind, const std::vector<std::string>& paths, const std::vector<uint8_t>& key,
            std::vector<std::string>& messages) {
  FakeGuardUi ui;
  ui.passwords = {std::string("swap")};
  int done = 0;
  if (kind == RunKind::Protect) {
    done = EncryptFileList(ui, paths, key.data(), 6, "");
  } else if (kind == RunKind::Restore) {
    done = DecryptFileList(ui, paths);
  } else {
    const std::vector<uint8_t> newKey = KeyOf("new swap");
    RekeyFiles(
        paths, key.data(), newKey.data(), 1, nullptr, nullptr, [] { return false; },
        [&](size_t i, int result, const std::string& reason) {
          if (result == REKEY_DONE) ++done;
          if (!reason.empty()) messages.push_back("\"" + paths[i] + "\"\n\n" + reason);
        });
  }
  messages.insert(messages.end(), ui.messages.begin(), ui.messages.end());
  return done;
}

TEST_F(HostileFolder, AFolderSwappedForALinkDuringARunIsNeverWorkedThrough) {
  // Someone who can write tree/ swaps tree/b for a link to a folder outside while the
  // run is busy in tree/a: the files of tree/b fail, nothing outside is touched.
  const std::vector<uint8_t> key = KeyOf("swap");
  for (const RunKind kind : {RunKind::Protect, RunKind::Restore, RunKind::ChangePassword}) {
    SCOPED_TRACE(static_cast<int>(kind));
    const bool protect = kind == RunKind::Protect;
    TempFolder outside;
    const std::vector<std::string> paths = PrepareSwapTree(Dir(), outside, kind, key);
    ASSERT_EQ(paths.size(), 3u);
    const std::vector<std::string> outsideBefore = ListNames(outside.Path());
    const std::string outsideFile = outside / (protect ? "2.txt" : "2.txt.~de");
    const std::string outsideBytes = ReadText(outsideFile);
    g_atFirstStep = [&] {
      ASSERT_EQ(::rename(P("tree/b").c_str(), P("tree/b.moved").c_str()), 0);
      ASSERT_EQ(::symlink(outside.Path().c_str(), P("tree/b").c_str()), 0);
    };
    g_actingStep = kind == RunKind::Protect   ? BatchStep::Wipe
                   : kind == RunKind::Restore ? BatchStep::Unlink
                                              : BatchStep::Rename;
    SetBatchLimitsForTesting(1, 0);
    SetBatchStepHookForTesting(ActAtFirstStep);
    std::vector<std::string> messages;
    EXPECT_EQ(RunOver(kind, paths, key, messages), 2);
    SetBatchStepHookForTesting(nullptr);
    SetBatchLimitsForTesting(0, 0);
    EXPECT_EQ(ListNames(outside.Path()), outsideBefore);
    EXPECT_EQ(ReadText(outsideFile), outsideBytes);
    EXPECT_EQ(ListNames(P("tree/b.moved")),
              std::vector<std::string>{protect ? "2.txt" : "2.txt.~de"});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("2.txt" + std::string(protect ? "" : ".~de") +
                               "\"\n\nits folder was replaced during the run"),
              std::string::npos)
        << messages[0];
    ASSERT_EQ(::unlink(P("tree/b").c_str()), 0);
    std::filesystem::remove_all(P("tree"));
  }
}

TEST_F(HostileFolder, AFolderSwappedBetweenTheScanAndTheRunIsNeverWorkedThrough) {
  // tree/ holds no file of its own, so tree/b is the shallowest folder of its files: it
  // is swapped for a link after the scan, before the run's first step.
  const std::vector<uint8_t> key = KeyOf("swap");
  for (const bool protect : {true, false}) {
    SCOPED_TRACE(protect);
    TempFolder outside;
    WriteText(outside / "2.txt", "not yours");
    MakeFolder(P("tree/a"));
    MakeFolder(P("tree/b"));
    WriteText(P("tree/a/1.txt"), "one");
    WriteText(P("tree/b/2.txt"), "two");
    if (!protect) {
      FakeGuardUi before;
      ASSERT_EQ(EncryptFileList(before, {P("tree/a/1.txt"), P("tree/b/2.txt"), outside / "2.txt"},
                                key.data(), 6, ""),
                3);
    }
    const std::string outsideFile = outside / (protect ? "2.txt" : "2.txt.~de");
    const std::string outsideBytes = ReadText(outsideFile);
    const std::vector<std::string> outsideBefore = ListNames(outside.Path());
    CGuardItem item(P("tree"), 1);
    item.m_subfolders = 1;
    item.m_includeMask = "*.*|";
    RunFiles files;
    ASSERT_EQ(protect ? CollectFilesToEncrypt(files, item) : CollectFilesToDecrypt(files, item), 2);
    ASSERT_EQ(::rename(P("tree/b").c_str(), P("tree/b.moved").c_str()), 0);
    ASSERT_EQ(::symlink(outside.Path().c_str(), P("tree/b").c_str()), 0);
    if (!protect) {
      // Verify, which writes nothing, does not read through the swapped folder either.
      std::vector<std::string> verdicts(2);
      VerifyFiles(
          files, key.data(), 1, false, [] { return false; },
          [&](size_t i, const PayloadCheck& check) { verdicts[i] = VerifyVerdictText(check); });
      EXPECT_EQ(verdicts, (std::vector<std::string>{
                              "ok", "cannot be read: its folder was replaced during the run"}));
    }
    FakeGuardUi ui;
    ui.passwords = {std::string("swap")};
    const GuardOutcome outcome =
        protect ? RunProtectList(ui, files, key.data(), 6, "") : RunRestoreList(ui, files);
    EXPECT_EQ(outcome.done, 1);
    EXPECT_EQ(ListNames(outside.Path()), outsideBefore);
    EXPECT_EQ(ReadText(outsideFile), outsideBytes);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("its folder was replaced during the run"), std::string::npos)
        << ui.messages[0];
    ASSERT_EQ(::unlink(P("tree/b").c_str()), 0);
    std::filesystem::remove_all(P("tree"));
  }
}

TEST_F(HostileFolder, AFileChangedWhileItIsProtectedIsKeptAndTheRunFails) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"appended.txt",
       [](const std::string& path) {
         FILE* f = std::fopen(path.c_str(), "ab");
         ASSERT_NE(f, nullptr);
         std::fputs(" and more", f);
         ASSERT_EQ(std::fclose(f), 0);
       },
       "first version and more"},
      {"replaced.txt",
       [this](const std::string& path) {
         // An editor saving by rename: a new file takes the name.
         WriteText(P("editor.tmp"), "second version");
         ASSERT_EQ(::rename(P("editor.tmp").c_str(), path.c_str()), 0);
       },
       "second version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = P(c.name);
    WriteText(path, "first version");
    SteppingProgress progress([&](int step) {
      if (step == 0) c.change(path);
    });
    FakeGuardUi ui;
    EXPECT_EQ(EncryptOneFile(ui, path, m_key.data(), 6, &progress), ENCRYPT_FAILED);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("changed while it was being protected"), std::string::npos);
    EXPECT_EQ(ReadText(path), c.expected);
    EXPECT_FALSE(Exists(ProtectedPathOf(path)));
    EXPECT_TRUE(TempNames(Dir()).empty());
  }
}

TEST_F(HostileFolder, ARestoredPrivateFileIsNeverReadableByOthersAndKeepsItsTime) {
  const mode_t oldMask = ::umask(0);  // the loosest umask a user could have
  WriteBytes(P("secret.txt"), TextLike(300000));
  ASSERT_EQ(::chmod(P("secret.txt").c_str(), 0600), 0);
  const struct timespec times[2] = {{1000000000, 0}, {1234567890, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, P("secret.txt").c_str(), times, 0), 0);
  FakeGuardUi ui;
  ASSERT_EQ(EncryptOneFile(ui, P("secret.txt"), m_key.data(), 6, nullptr), ENCRYPT_DONE);
  EXPECT_EQ(ModeOf(P("secret.txt.~de")), 0600u);

  std::vector<std::string> exposed;
  int samples = 0;
  SteppingProgress progress([&](int) {
    for (const std::string& name : ListNames(Dir())) {
      struct stat st {};
      if (::lstat(P(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      ++samples;
      if (st.st_mode & 077) exposed.push_back(name);
    }
  });
  std::vector<uint8_t> digest = m_key;
  EXPECT_EQ(DecryptOneFile(ui, P("secret.txt.~de"), digest.data(), &progress), DECRYPT_DONE);
  ::umask(oldMask);
  EXPECT_GT(samples, 1);
  EXPECT_TRUE(exposed.empty()) << exposed.front();
  EXPECT_EQ(ModeOf(P("secret.txt")), 0600u);
  struct stat st {};
  ASSERT_EQ(::stat(P("secret.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500);
}

TEST_F(HostileFolder, SettingsFilesOthersCouldHaveWrittenAreNotOffered) {
  // The folder's name is not UTF-8 (Latin-1 "work" with an o-umlaut): "Use last password"
  // works there all the same.
  const std::string folder = P("w\xF6rk");
  MakeFolder(folder);
  WriteText(folder + "/a.txt", "a");
  CEncryptionSettings mine;
  mine.SetDigest(KeyOf("my key").data());
  ASSERT_TRUE(mine.Save(folder + "/zde.tmp").ok());
  auto flagsOffered = [&] {
    FakeGuardUi ui;
    ui.settingsAnswers.push_back(CancelDialog());
    ProtectSettings result;
    SettleProtectSettings(ui, ProtectKind::Selection, {folder + "/a.txt"}, result);
    return ui.settingsShown.empty() ? -1 : ui.settingsShown[0].flags;
  };
  EXPECT_EQ(flagsOffered() & SETTINGS_NO_LAST, 0);

  ASSERT_EQ(::chmod((folder + "/zde.tmp").c_str(), 0620), 0);  // group-writable
  EXPECT_NE(flagsOffered() & SETTINGS_NO_LAST, 0);
  ASSERT_EQ(::chmod((folder + "/zde.tmp").c_str(), 0600), 0);

  if (::geteuid() != 0) {
    GTEST_SKIP() << "a settings file of another owner needs root to make (chown)";
  }
  ASSERT_EQ(::chown((folder + "/zde.tmp").c_str(), 65534, 65534), 0);
  EXPECT_NE(flagsOffered() & SETTINGS_NO_LAST, 0);
}

}  // namespace

namespace {

TEST_F(HostileFolder, APlainFileLeftByAKilledWipeIsWipedByTheNextRunEvenWithNothingToDo) {
  // Moved aside by a wipe whose process is gone (no process has that id).
  const std::string left = P(".vgtmp.notes.txt.999999999-00000000000000aaw");
  WriteText(left, std::string(200, 'p'));
  const int watch = ::open(left.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(watch, 0);
  FakeGuardUi ui;
  EXPECT_EQ(DecryptFileList(ui, {P("nothing-here.txt.~de")}), 0);
  EXPECT_FALSE(Exists(left));
  char head[19] = {};
  ASSERT_EQ(::pread(watch, head, sizeof head, 0), 19);
  ::close(watch);
  EXPECT_EQ(std::string_view(head, 19), kWipeMarker);
}

}  // namespace

namespace {

TEST_F(HostileFolder, ATargetThatCannotBeReadStillGetsTheOverwriteQuestion) {
  // A name that exists but does not read as a file: a link to nowhere (a file without
  // read permission is the same case for anyone but root).
  WriteText(P("a.txt"), "plain");
  ASSERT_EQ(::symlink(P("nowhere").c_str(), P("a.txt.~de").c_str()), 0);
  FakeGuardUi ui;
  ui.messageAnswers = {MSG_NO};
  const auto key = KeyOf("pw");
  EXPECT_EQ(EncryptFileList(ui, {P("a.txt")}, key.data(), 6, ""), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("already existed"), std::string::npos);
  EXPECT_EQ(ReadText(P("a.txt")), "plain");
  char target[64] = {};
  EXPECT_GT(::readlink(P("a.txt.~de").c_str(), target, sizeof target - 1), 0);
}

}  // namespace
