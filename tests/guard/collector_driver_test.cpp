// Expanding items and running lists: orders, masks, prompts, counts, cancel.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/paths.h"
#include "fake_guard_ui.h"
#include "guard/file_collector.h"
#include "guard/file_list_driver.h"
#include "guard/guard_command.h"
#include "guard/parallel_runner.h"
#include "guard/rekey_batch.h"
#include "guard/single_file.h"
#include "guard_test_util.h"

namespace {

using Strings = std::vector<std::string>;

class Collect : public GuardTest {
 protected:
  void SetUp() override {
    GuardTest::SetUp();
    // root/ a.txt b.log zde.tmp c.txt.~de; sub1/ d.txt; sub1/deep/ e.txt; sub2/ f.TXT
    MakeFolder(P("root/sub1/deep"));
    MakeFolder(P("root/sub2"));
    for (const char* f : {"root/a.txt", "root/b.log", "root/zde.tmp", "root/c.txt.~de",
                          "root/sub1/d.txt", "root/sub1/deep/e.txt", "root/sub2/f.TXT"}) {
      WriteText(P(f), f);
    }
  }
  CGuardItem Folder(const std::string& include, const std::string& exclude, bool subfolders) {
    CGuardItem item(P("root/"), 1);
    item.m_includeMask = include;
    item.m_excludeMask = exclude;
    item.m_subfolders = subfolders ? 1 : 0;
    return item;
  }
};

TEST_F(Collect, FoldersComeInPostOrderRootLast) {
  CFileCollector c;
  c.SetRecursive(true);
  c.SetRoot(P("root///"));
  EXPECT_EQ(c.Root(), P("root"));
  EXPECT_EQ(c.Folders(), (Strings{P("root/sub1/deep"), P("root/sub1"), P("root/sub2"), P("root")}));
  CFileCollector flat;
  flat.SetRoot(P("root/"));
  EXPECT_EQ(flat.Folders(), Strings{P("root")});
  CFileCollector top;
  top.SetRoot("/");
  EXPECT_EQ(top.Root(), "/");
}

TEST_F(Collect, ScansSkipLinksFifosAndTemporaryFiles) {
  ASSERT_EQ(::symlink(P("root").c_str(), P("root/sub2/loop").c_str()), 0);
  ASSERT_EQ(::symlink(P("root/a.txt").c_str(), P("root/link.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(P("root/pipe.txt").c_str(), 0600), 0);
  WriteText(P("root/.vgtmp.a.txt.~de.1-2"), "temp");
  CFileCollector c;
  c.SetRecursive(true);
  c.SetRoot(P("root"));
  EXPECT_EQ(c.Folders().size(), 4u);  // the loop is not followed
  c.AddFilesMatching("*.*");
  Strings names;
  for (const auto& e : c.Entries()) names.push_back(e.path.substr(Dir().size() + 1));
  EXPECT_EQ(names, (Strings{"root/sub1/deep/e.txt", "root/sub1/d.txt", "root/sub2/f.TXT",
                            "root/a.txt", "root/b.log", "root/c.txt.~de", "root/zde.tmp"}));
  EXPECT_EQ(c.Entries()[0].size, std::string("root/sub1/deep/e.txt").size());
}

TEST_F(Collect, EncryptExpansionOrdersByPatternThenPostOrderAndAppliesMasks) {
  Strings out;
  // Include patterns follow the search's rules (no case), exclude patterns the program's
  // own (case matters): "*.LOG" keeps b.log, "*.log" drops it.
  EXPECT_EQ(CollectFilesToEncrypt(out, Folder("*.TXT|*.*|", "*.LOG|", true)), 9);
  Strings names;
  for (const auto& p : out) names.push_back(p.substr(Dir().size() + 1));
  EXPECT_EQ(names, (Strings{"root/sub1/deep/e.txt", "root/sub1/d.txt", "root/sub2/f.TXT",
                            "root/a.txt",  // *.TXT
                            "root/sub1/deep/e.txt", "root/sub1/d.txt", "root/sub2/f.TXT",
                            "root/a.txt", "root/b.log"}))
      << "protected and settings files never appear";
  out.clear();
  EXPECT_EQ(CollectFilesToEncrypt(out, Folder("*.*|", "*.log|", false)), 1);
  EXPECT_EQ(out, Strings{P("root/a.txt")});
}

TEST_F(Collect, FileItemsExpandToExistingRegularFilesOnly) {
  Strings out;
  EXPECT_EQ(CollectFilesToEncrypt(out, CGuardItem(P("root/a.txt.~de"), 0)), 1);
  EXPECT_EQ(out, Strings{P("root/a.txt")});
  out.clear();
  EXPECT_EQ(CollectFilesToEncrypt(out, CGuardItem(P("root/c.txt.~de"), 0)), 0);  // no c.txt
  EXPECT_EQ(CollectFilesToEncrypt(out, CGuardItem(P("root/none"), 0)), 0);
  ASSERT_EQ(::symlink(P("root/a.txt").c_str(), P("root/link").c_str()), 0);
  EXPECT_EQ(CollectFilesToEncrypt(out, CGuardItem(P("root/link"), 0)), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(CollectFilesToDecrypt(out, CGuardItem(P("root/c.txt"), 0)), 1);
  EXPECT_EQ(CollectFilesToDecrypt(out, CGuardItem(P("root/c.txt.~de"), 0)), 1);
  EXPECT_EQ(CollectFilesToDecrypt(out, CGuardItem(P("root/a.txt"), 0)), 0);
  EXPECT_EQ(out, (Strings{P("root/c.txt.~de"), P("root/c.txt.~de")}));
}

TEST_F(Collect, DecryptExpansionIgnoresMasks) {
  WriteText(P("root/sub1/deep/x.~DE"), "x");  // the search has no regard to case
  Strings out;
  EXPECT_EQ(CollectFilesToDecrypt(out, Folder("*.none|", "*.~de|", true)), 2);
  EXPECT_EQ(out, (Strings{P("root/sub1/deep/x.~DE"), P("root/c.txt.~de")}));
}

class Drive : public GuardTest {
 protected:
  std::vector<uint8_t> m_key = KeyOf("pw");
  std::vector<uint8_t> m_a = TextLike(5000, 1), m_b = TextLike(7000, 2), m_c = TextLike(3000, 3);
  void SetUp() override {
    GuardTest::SetUp();
    WriteBytes(P("a.txt"), m_a);
    WriteBytes(P("b.txt"), m_b);
    WriteBytes(P("c.txt"), m_c);
  }
  Strings Three() const { return {P("a.txt"), P("b.txt"), P("c.txt")}; }
  Strings ThreeProtected() const { return {P("a.txt.~de"), P("b.txt.~de"), P("c.txt.~de")}; }
};

TEST_F(Drive, NoUsableKeyOrNothingToDoShowsNothing) {
  FakeGuardUi ui;
  uint8_t zero[32] = {};
  EXPECT_EQ(EncryptFileList(ui, Three(), zero, 6, ""), 0);
  std::vector<uint8_t> key = m_key;
  key[0] = key[1] = key[2] = 0;
  key[3] = 1;
  EXPECT_EQ(EncryptFileList(ui, Three(), key.data(), 6, ""), 0);
  EXPECT_EQ(EncryptFileList(ui, Three(), nullptr, 6, ""), 0);
  EXPECT_EQ(EncryptFileList(ui, {}, m_key.data(), 6, ""), 0);
  EXPECT_EQ(EncryptFileList(ui, {P("x.~de"), P("zde.tmp")}, m_key.data(), 6, ""), 0);
  EXPECT_EQ(DecryptFileList(ui, {}), 0);
  EXPECT_EQ(DecryptFileList(ui, Three()), 0);
  EXPECT_TRUE(ui.log.empty());
  EXPECT_EQ(ReadBytes(P("a.txt")), m_a);
}

TEST_F(Drive, ProtectRunShowsEachPathAndCountsTheFilesDone) {
  FakeGuardUi ui;
  ui.logShows = false;
  EXPECT_EQ(EncryptFileList(ui, Three(), m_key.data(), 6, ""), 3);
  EXPECT_EQ(ui.log, (Strings{"progress: Encrypting", "range 0 3000", "status: " + P("a.txt"),
                             "status: " + P("b.txt"), "status: " + P("c.txt"), "close", "focus"}));
  EXPECT_EQ(ListNames(Dir()), (Strings{".home", "a.txt.~de", "b.txt.~de", "c.txt.~de"}));

  const uint64_t upper = TotalSize(PrepareDecryptEntries(ThreeProtected())) / 10;
  ASSERT_GT(upper, 0u);
  FakeGuardUi back;
  back.logShows = false;
  back.passwords = {std::string("pw")};
  EXPECT_EQ(DecryptFileList(back, ThreeProtected()), 3);
  // All-zero start: one prompt, for the first file; the key then serves the others.
  EXPECT_EQ(back.log,
            (Strings{"progress: Decrypting", "range 0 " + std::to_string(upper),
                     "status: " + P("a.txt.~de"), "hide", "password: " + P("a.txt.~de"),
                     "status: " + P("b.txt.~de"), "status: " + P("c.txt.~de"), "close", "focus"}));
  EXPECT_EQ(ReadBytes(P("a.txt")), m_a);
  EXPECT_EQ(ReadBytes(P("c.txt")), m_c);
}

TEST_F(Drive, OverwritePromptsNameTheFullProtectedPathOrThePlainName) {
  WriteText(P("b.txt.~de"), "older");
  FakeGuardUi ui;
  ui.messageAnswers = {MSG_NO};
  EXPECT_EQ(EncryptFileList(ui, Three(), m_key.data(), 6, ""), 2);
  EXPECT_EQ(ui.Lines("message"), Strings{"message Question YesNo: The file " + P("b.txt.~de") +
                                         " is already existed, Do you want to overwrite?"});
  EXPECT_EQ(ReadBytes(P("b.txt")), m_b);
  EXPECT_EQ(ReadText(P("b.txt.~de")), "older");
  // The skipped file's share is added to the bar all the same.
  EXPECT_GE(ui.barPosition, 2 * 7000 / 10u);

  // Restoring: a.txt exists again; the question names the file only.
  WriteText(P("a.txt"), "newer");
  FakeGuardUi back;
  back.passwords = {std::string("pw")};
  back.messageAnswers = {MSG_NO};
  EXPECT_EQ(DecryptFileList(back, {P("a.txt.~de"), P("c.txt.~de")}), 1);
  EXPECT_EQ(back.Lines("message"),
            Strings{"message Question YesNo: The file a.txt is already existed, Do you want to "
                    "overwrite?"});
  EXPECT_EQ(ReadText(P("a.txt")), "newer");
  EXPECT_EQ(ReadBytes(P("c.txt")), m_c);

  // Yes replaces it.
  FakeGuardUi yes;
  yes.passwords = {std::string("pw")};
  yes.messageAnswers = {MSG_YES};
  EXPECT_EQ(DecryptFileList(yes, {P("a.txt.~de")}), 1);
  EXPECT_EQ(ReadBytes(P("a.txt")), m_a);

  // The files before a question are finished first: their messages come before it.
  MakeFolder(P("d.txt.~de"));  // d's protected file cannot take its name
  WriteText(P("d.txt.~de/x"), "x");
  WriteText(P("d.txt"), "d");
  WriteText(P("e.txt"), "e");
  WriteText(P("e.txt.~de"), "older e");
  FakeGuardUi order;
  order.messageAnswers = {MSG_YES, MSG_OK, MSG_YES};
  EXPECT_EQ(EncryptFileList(order, {P("d.txt"), P("e.txt")}, m_key.data(), 6, ""), 1);
  const Strings shown = order.Lines("message");
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[1].rfind("message Error Ok: Encryption error or can not access the file "
                           "\"d.txt\"",
                           0),
            0u)
      << shown[1];
  EXPECT_NE(shown[2].find(P("e.txt.~de")), std::string::npos) << shown[2];
}

TEST_F(Drive, AFileMetTwiceIsWorkedOnOnce) {
  CGuardItem item(Dir(), 1);
  item.m_includeMask = "*.txt|*.*|";
  item.m_excludeMask = "Vellum*.*|";
  Strings paths;
  ASSERT_EQ(CollectFilesToEncrypt(paths, item), 6);
  FakeGuardUi ui;
  const GuardOutcome outcome = RunProtectList(ui, paths, m_key.data(), 6, "", 1);
  EXPECT_EQ(OutcomeText(outcome), "Protected 3 of 3 files");
  EXPECT_EQ(OutcomeExitCode(outcome), GUARD_EXIT_DONE);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ListNames(Dir()), (Strings{".home", "a.txt.~de", "b.txt.~de", "c.txt.~de"}));

  // One file by two names, through a link to its folder, in a parallel run: protected
  // once, and its protected file restores to it (not to the markers of its wipe).
  MakeFolder(P("docs"));
  const std::vector<uint8_t> x = RandomBytes(300000, 7);
  WriteBytes(P("docs/x"), x);
  ASSERT_EQ(::symlink(P("docs").c_str(), P("link").c_str()), 0);
  for (const int jobs : {2, 1}) {
    Strings told;
    FakeGuardUi twice;
    EXPECT_EQ(
        ParallelEncryptFileList(twice, {P("docs/x"), P("link/x")}, m_key.data(), 6, "", jobs,
                                [&](const FileEntry& e, ListStep) { told.push_back(e.path); }),
        1);
    EXPECT_EQ(told, Strings{P("docs/x")}) << jobs;
    FakeGuardUi back;
    back.passwords = {std::string("pw")};
    EXPECT_EQ(DecryptFileList(back, {P("docs/x.~de"), P("link/x.~de")}), 1);
    EXPECT_EQ(ReadBytes(P("docs/x")), x) << jobs;
  }
}

TEST_F(Drive, TheNoZipMaskStoresMatchingFilesAndALevelAboveNineIsSix) {
  const auto text = TextLike(100000);
  for (const char* name : {"s.zip", "s.RAR", "s.dat", "t.dat"}) WriteBytes(P(name), text);
  FakeGuardUi ui;
  // Empty no-zip mask: the default one (*.zip stored, *.RAR compressed).
  EXPECT_EQ(EncryptFileList(ui, {P("s.zip"), P("s.RAR")}, m_key.data(), 9, ""), 2);
  EXPECT_GT(FileLength(P("s.zip.~de")), 100000u);
  EXPECT_LT(FileLength(P("s.RAR.~de")), 40000u);
  EXPECT_EQ(EncryptFileList(ui, {P("s.dat")}, m_key.data(), 1000, "*.dat|"), 1);
  EXPECT_GT(FileLength(P("s.dat.~de")), 100000u);
  // 1000 becomes 6, not a failure: the file is compressed.
  EXPECT_EQ(EncryptFileList(ui, {P("t.dat")}, m_key.data(), 1000, "*.zip|"), 1);
  EXPECT_LT(FileLength(P("t.dat.~de")), 40000u);
}

TEST_F(Drive, CancelStopsAfterTheCurrentFile) {
  FakeGuardUi ui;
  // The window is cancelled while the second file is encoded: it is left as it was, the
  // first one (waiting in the batch) is finished, the run stops.
  ui.cancelAfterSteps = 6;  // a.txt: 5 encode chunks (its wipe comes with the commit)
  EXPECT_EQ(EncryptFileList(ui, Three(), m_key.data(), 6, ""), 1);
  EXPECT_FALSE(Exists(P("a.txt")));
  EXPECT_EQ(ReadBytes(P("b.txt")), m_b);
  EXPECT_EQ(ReadBytes(P("c.txt")), m_c);
  EXPECT_FALSE(Exists(P("b.txt.~de")));
  EXPECT_FALSE(Exists(P("c.txt.~de")));
  EXPECT_EQ(ui.Lines("status").size(), 2u);
  EXPECT_TRUE(TempNames(Dir()).empty());
}

TEST_F(Drive, ACancelledPromptEndsTheRestoreRun) {
  FakeGuardUi ui;
  ASSERT_EQ(EncryptFileList(ui, Three(), m_key.data(), 6, ""), 3);
  // A user slow to cancel: the other workers of a parallel run are waiting meanwhile.
  class SlowToCancel : public FakeGuardUi {
   public:
    bool AskPassword(const std::string& prompt, std::string& password) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return FakeGuardUi::AskPassword(prompt, password);
    }
  };
  for (const int jobs : {1, 3}) {
    SlowToCancel back;
    back.passwords = {std::nullopt};
    EXPECT_EQ(jobs == 1 ? DecryptFileList(back, ThreeProtected())
                        : ParallelDecryptFileList(back, ThreeProtected(), jobs),
              0);
    EXPECT_EQ(back.prompts.size(), 1u) << jobs << " at once";
    EXPECT_EQ(back.Lines("status").size(), 1u) << jobs << " at once";
    EXPECT_EQ(ListNames(Dir()), (Strings{".home", "a.txt.~de", "b.txt.~de", "c.txt.~de"}));
  }
}

// The system gives one thread of the three asked for: the run goes on with the threads
// that started instead of ending the program.
TEST_F(Drive, AParallelRunGoesOnWithTheThreadsThatStarted) {
  FakeGuardUi ui;
  SetThreadStartLimitForTesting(1);
  const int done = ParallelEncryptFileList(ui, Three(), m_key.data(), 6, "", 3);
  SetThreadStartLimitForTesting(-1);
  EXPECT_EQ(done, 3);
  EXPECT_EQ(ListNames(Dir()), (Strings{".home", "a.txt.~de", "b.txt.~de", "c.txt.~de"}));
}

TEST_F(Drive, AFailedFileShowsItsMessageAndTheRunGoesOn) {
  ASSERT_EQ(::symlink(P("a.txt").c_str(), P("link.txt").c_str()), 0);
  FakeGuardUi ui;
  EXPECT_EQ(EncryptFileList(ui, {P("link.txt"), P("b.txt")}, m_key.data(), 6, ""), 1);
  EXPECT_EQ(ui.Lines("message"),
            Strings{"message Error Ok: Encryption error or can not access the file \"link.txt\"\n\n"
                    "It is a symbolic link."});
  EXPECT_EQ(ReadBytes(P("a.txt")), m_a);
  EXPECT_TRUE(Exists(P("b.txt.~de")));

  // A restore that fails (here: damaged) is not counted and shows nothing.
  WriteText(P("bad.txt.~de"), "not a protected file at all, but long enough");
  FakeGuardUi back;
  back.passwords = {std::string("pw"), std::string("pw"), std::string("pw"), std::string("pw")};
  EXPECT_EQ(DecryptFileList(back, {P("bad.txt.~de"), P("b.txt.~de")}), 1);
  EXPECT_TRUE(back.messages.empty());
  EXPECT_TRUE(Exists(P("bad.txt.~de")));
  EXPECT_EQ(ReadBytes(P("b.txt")), m_b);

  // Failed files keep no folder open while the run goes on: damaged files in many
  // folders, then a good one, which still finds a descriptor.
  ASSERT_EQ(EncryptFileList(ui, {P("b.txt")}, m_key.data(), 6, ""), 1);
  Strings list;
  for (int i = 0; i < 12; ++i) {
    const std::string folder = P("f" + std::to_string(i));
    MakeFolder(folder);
    const std::vector<uint8_t> whole = ReadBytes(P("b.txt.~de"));
    WriteBytes(folder + "/cut.~de", std::vector<uint8_t>(whole.begin(), whole.end() - 40));
    list.push_back(folder + "/cut.~de");
  }
  list.push_back(P("b.txt.~de"));
  FakeGuardUi many;
  many.passwords = {std::string("pw")};
  std::vector<size_t> open;
  EXPECT_EQ(DecryptFileList(many, list,
                            [&](const FileEntry&, ListStep) {
                              open.push_back(ListNames("/proc/self/fd").size());
                            }),
            1);
  ASSERT_EQ(open.size(), list.size());
  EXPECT_LE(*std::max_element(open.begin(), open.end()), open.front() + 1);
}

TEST_F(Drive, ADeepTreeRunsWithinAFewDescriptors) {
  // 150 nested folders with a file in each, scanned, protected, given a new password and
  // restored under a limit of 64 open descriptors, one worker and two.
  std::string folder = P("deep");
  MakeFolder(folder);
  for (int i = 0; i < 150; ++i) {
    WriteText(folder + "/f.txt", std::to_string(i));
    folder += "/d";
    MakeFolder(folder);
  }
  CGuardItem item(P("deep"), 1);
  item.m_subfolders = 1;
  item.m_includeMask = "*.*|";
  for (const int jobs : {1, 2}) {
    const int rc = RunInChild([&] {
      const rlimit few{64, 64};
      if (::setrlimit(RLIMIT_NOFILE, &few) != 0) return 2;
      FakeGuardUi ui;
      ui.passwords = {std::string("pw")};
      RunFiles files;
      if (CollectFilesToEncrypt(files, item) != 150) return 3;
      if (RunProtectList(ui, files, m_key.data(), 6, "", jobs).done != 150) return 4;
      RunFiles back;
      if (CollectFilesToDecrypt(back, item) != 150) return 5;
      const std::vector<uint8_t> newKey = KeyOf("pw2");
      int rekeyed = 0;
      RekeyFiles(
          back, m_key.data(), newKey.data(), jobs, nullptr, nullptr, [] { return false; },
          [&](size_t, int result, const std::string&) { rekeyed += result == REKEY_DONE; });
      if (rekeyed != 150) return 6;
      ui.passwords = {std::string("pw2")};
      if (RunRestoreList(ui, back, jobs).done != 150) return 7;
      return ui.messages.empty() ? 0 : 8;
    });
    EXPECT_EQ(rc, 0) << jobs;
  }
  EXPECT_EQ(ReadText(P("deep/d/d/f.txt")), "2");
}

TEST_F(Drive, StaleTemporaryFilesOfDeadRunsAreRemovedBesideTheTargets) {
  // pid 2^22 + 1 is above the kernel's limit: no such process can be running.
  const std::string stale = P(".vgtmp.a.txt.~de.4194305-abc");
  WriteText(stale, "left by a killed run");
  const std::string live = P(".vgtmp.b.txt.~de." + std::to_string(::getpid()) + "-abc");
  WriteText(live, "a run in progress");
  FakeGuardUi ui;
  EXPECT_EQ(EncryptFileList(ui, {P("a.txt")}, m_key.data(), 6, ""), 1);
  EXPECT_FALSE(Exists(stale));
  EXPECT_TRUE(Exists(live));
}

}  // namespace
