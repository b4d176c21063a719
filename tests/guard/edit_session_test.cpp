// Edit sessions driven by fake editors (small shell scripts) the way real editors save:
// after each save the protected file decodes to that save and the folder of the
// protected file holds nothing else; faults and kills lose neither the old nor the new
// content; a protected file changed by someone else is never overwritten.
#include "guard/edit_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "common/paths.h"
#include "common/safe_file.h"
#include "fake_guard_ui.h"
#include "guard/edit_place.h"
#include "guard/edit_recovery.h"
#include "guard/single_file.h"
#include "guard_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kPassword = "edit test";

std::string Bytes(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

// A fake editor: save() is the way this editor saves "$2" into the document "$1"; after
// each save it waits until the test has seen the save protected ("$ACK/k" appears).
std::string EditorScript(const std::string& save, int saves) {
  return "#!/bin/sh\n"
         "doc=\"$1\"; dir=$(dirname \"$doc\"); name=$(basename \"$doc\")\n"
         "save() {\n" +
         save +
         "\n}\n"
         "k=1\n"
         "while [ $k -le " +
         std::to_string(saves) +
         " ]; do\n"
         "  save \"version $k of the document\"\n"
         "  while [ ! -e \"$ACK/$k\" ]; do sleep 0.02; done\n"
         "  k=$((k + 1))\n"
         "done\n";
}

class EditSessionTest : public GuardTest {
 protected:
  void SetUp() override {
    GuardTest::SetUp();
    m_root = P("run/vellumguard/");
    MakeFolder(P("run"));
    ASSERT_TRUE(PrepareEditRoot(m_root).ok());
    MakeFolder(P("docs"));
    MakeFolder(P("ack"));
    WriteText(P("docs/report.txt"), "version 0 of the document");
    Protect(P("docs/report.txt"));
  }
  void TearDown() override {
    if (m_editor > 0) {
      ::kill(m_editor, SIGKILL);
      ::waitpid(m_editor, nullptr, 0);
    }
    GuardTest::TearDown();
  }

  void Protect(const std::string& plain) {
    FakeGuardUi ui;
    const auto key = KeyOf(kPassword);
    ASSERT_EQ(EncryptOneFile(ui, plain, key.data(), 6, nullptr), ENCRYPT_DONE);
  }
  std::string Decoded(const std::string& protectedPath) {
    bool ok = false;
    const std::string text = Bytes(DecodeToMemory(protectedPath, kPassword, P("scratch"), ok));
    return ok ? text : "<not decodable>";
  }
  int Open(CEditSession& session) {
    const auto key = KeyOf(kPassword);
    std::string error;
    session.m_settleMs = 20;
    const int r = session.Open(m_root, P("docs/report.txt.~de"), key.data(), 6, error);
    EXPECT_EQ(error, "");
    return r;
  }
  void StartEditor(const std::string& save, int saves, const std::string& document) {
    WriteText(P("editor.sh"), EditorScript(save, saves));
    ::setenv("ACK", P("ack").c_str(), 1);
    m_editor = ::fork();
    if (m_editor == 0) {
      ::execl("/bin/sh", "sh", P("editor.sh").c_str(), document.c_str(), nullptr);
      ::_exit(127);
    }
  }
  // Runs the session's loop until done() holds (true) or 20 s pass (false). The bound
  // only ends a broken run; every result comes from the condition.
  bool PumpUntil(CEditSession& session, const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      pollfd p{session.WatchDescriptor(), POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) session.ReadEvents();
      const EditSaveResult r = session.SaveIfSettled();
      if (r.status == EditSaveStatus::Failed) ADD_FAILURE() << r.message;
      if (done()) return true;
    }
    return false;
  }
  bool EditorEnded() {
    int status = 0;
    if (::waitpid(m_editor, &status, WNOHANG) != m_editor) return false;
    m_editor = -1;
    return true;
  }
  // The saves of the editor, each seen in the protected file before the next one.
  void ExpectEverySaveProtected(CEditSession& session, int saves) {
    const std::string target = P("docs/report.txt.~de");
    for (int k = 1; k <= saves; ++k) {
      const std::string want = "version " + std::to_string(k) + " of the document";
      EXPECT_TRUE(PumpUntil(session, [&] { return Decoded(target) == want; })) << "save " << k;
      EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
      WriteText(P("ack/" + std::to_string(k)), "");
    }
    EXPECT_TRUE(PumpUntil(session, [&] { return EditorEnded(); }));
  }

  std::string m_root;
  pid_t m_editor = -1;
};

struct EditorCase {
  const char* name;
  const char* save;  // the body of save(): "$doc" the document, "$1" the new content
};

// In place; GLib's temporary and rename; the old file renamed to NAME~ first; a lock
// file like LibreOffice's around a save by a temporary name.
const EditorCase kEditors[] = {
    {"in place", "printf '%s' \"$1\" > \"$doc\""},
    {"GLib rename",
     "t=\"$dir/.goutputstream-$(od -An -N3 -tx1 /dev/urandom | tr -d ' ')\"\n"
     "printf '%s' \"$1\" > \"$t\" && mv -f \"$t\" \"$doc\""},
    {"backup first", "mv -f \"$doc\" \"$doc~\" && printf '%s' \"$1\" > \"$doc\""},
    {"lock churn",
     "touch \"$dir/.~lock.$name#\"\n"
     "printf '%s' \"$1\" > \"$dir/lu$$.tmp\" && mv -f \"$dir/lu$$.tmp\" \"$doc\"\n"
     "rm -f \"$dir/.~lock.$name#\""},
};

TEST_F(EditSessionTest, EverySaveOfEachEditorReachesTheProtectedFileAndFinishingLeavesNothing) {
  for (const EditorCase& editor : kEditors) {
    SCOPED_TRACE(editor.name);
    for (const std::string& name : ListNames(P("ack"))) ::unlink(P("ack/" + name).c_str());
    CEditSession session;
    ASSERT_EQ(Open(session), CODEC_OK);
    EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
    StartEditor(editor.save, 3, session.DocumentPath());
    ExpectEverySaveProtected(session, 3);
    std::vector<std::string> messages;
    EXPECT_TRUE(session.Finish(messages));
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_EQ(ListNames(m_root + "edit"), std::vector<std::string>{});
    EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
    EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "version 3 of the document");
  }
}

TEST_F(EditSessionTest, AHundredSavesInASecondEndWithTheLastOneAndASaveAsIsProtectedBeside) {
  CEditSession session;
  ASSERT_EQ(Open(session), CODEC_OK);
  const std::string storm =
      "i=1; while [ $i -le 100 ]; do printf '%s' \"$1 $i\" > \"$doc.new\"; "
      "mv -f \"$doc.new\" \"$doc\"; i=$((i + 1)); done\n"
      "printf 'saved as' > \"$dir/copy.txt\"";
  StartEditor(storm, 1, session.DocumentPath());
  const std::string want = "version 1 of the document 100";
  EXPECT_TRUE(PumpUntil(session, [&] { return Decoded(P("docs/report.txt.~de")) == want; }));
  EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
  WriteText(P("ack/1"), "");
  EXPECT_TRUE(PumpUntil(session, [&] { return EditorEnded(); }));
  EXPECT_EQ(session.OtherDocuments(), std::vector<std::string>{"copy.txt"});
  std::vector<std::string> messages;
  EXPECT_TRUE(session.Finish(messages));
  EXPECT_EQ(ListNames(P("docs")), (std::vector<std::string>{"copy.txt.~de", "report.txt.~de"}));
  EXPECT_EQ(Decoded(P("docs/copy.txt.~de")), "saved as");
  EXPECT_EQ(ListNames(m_root + "edit"), std::vector<std::string>{});
}
}  // namespace

namespace {

TEST_F(EditSessionTest, AFaultOrAKillAtAnyStepLeavesTheOldOrTheNewContentAndRecoveryOffersIt) {
  // A fault before the rename: the old content, no temporary file; then the save goes on.
  {
    CEditSession session;
    ASSERT_EQ(Open(session), CODEC_OK);
    WriteText(session.DocumentPath(), "faulted save");
    for (const EditStep at : {EditStep::Encoded, EditStep::BeforeRename}) {
      session.m_stepHook = [at](EditStep step) { return step != at; };
      EXPECT_EQ(session.SaveNow().status, EditSaveStatus::Failed);
      EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "version 0 of the document");
      EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
    }
    session.m_stepHook = nullptr;
    EXPECT_EQ(session.SaveNow().status, EditSaveStatus::Saved);
    EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "faulted save");
    std::vector<std::string> messages;
    EXPECT_TRUE(session.Finish(messages));
  }
  // Killed before the rename: the old content stays and recovery offers the change; killed
  // right after it: the new content is there and recovery has nothing to ask.
  struct Kill {
    EditStep at;
    const char* left;
    size_t offered;
  };
  for (const Kill kill :
       {Kill{EditStep::Encoded, "faulted save", 1}, Kill{EditStep::BeforeRename, "faulted save", 1},
        Kill{EditStep::Renamed, "killed save", 0}}) {
    const int status = RunInChild([&] {
      CEditSession session;
      if (Open(session) != CODEC_OK) return 1;
      WriteText(session.DocumentPath(), "killed save");
      session.m_stepHook = [&](EditStep step) {
        if (step == kill.at) ::raise(SIGKILL);
        return true;
      };
      (void)session.SaveNow();
      return 2;
    });
    ASSERT_EQ(status, 128 + SIGKILL);
    EXPECT_EQ(Decoded(P("docs/report.txt.~de")),
              kill.offered ? kill.left : std::string("killed save"));
    OrphanScan scan = FindOrphanSessions(m_root);
    EXPECT_EQ(scan.messages, std::vector<std::string>{});
    ASSERT_EQ(scan.unsaved.size(), kill.offered);
    EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
    if (kill.offered) {
      CEditSession& orphan = *scan.unsaved.front();
      EXPECT_FALSE(orphan.KeyOpensTarget(KeyOf("another password").data()));
      EXPECT_TRUE(orphan.KeyOpensTarget(KeyOf(kPassword).data()));
      orphan.SetKey(KeyOf(kPassword).data());
      std::vector<std::string> messages;
      EXPECT_TRUE(orphan.Finish(messages));
      EXPECT_EQ(messages, std::vector<std::string>{});
    }
    EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "killed save");
    EXPECT_EQ(ListNames(m_root + "edit"), std::vector<std::string>{});
    EXPECT_EQ(ListNames(P("docs")), std::vector<std::string>{"report.txt.~de"});
    WriteText(P("docs/report.txt"), "faulted save");
    ::unlink(P("docs/report.txt.~de").c_str());
    Protect(P("docs/report.txt"));
  }
}

TEST_F(EditSessionTest,
       AProtectedFileChangedBySomeoneElseEvenDuringASaveIsKeptAndTheSaveGoesBeside) {
  CEditSession session;
  ASSERT_EQ(Open(session), CODEC_OK);
  MakeFolder(P("theirs"));
  WriteText(P("theirs/report.txt"), "their version");
  Protect(P("theirs/report.txt"));
  ASSERT_EQ(::rename(P("theirs/report.txt.~de").c_str(), P("docs/report.txt.~de").c_str()), 0);
  WriteText(session.DocumentPath(), "my version");
  const EditSaveResult first = session.SaveNow();
  ASSERT_EQ(first.status, EditSaveStatus::Conflict);
  EXPECT_EQ(first.path.rfind(P("docs/report.txt (edited "), 0), 0u) << first.path;
  EXPECT_NE(first.message.find(first.path), std::string::npos);
  EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "their version");
  EXPECT_EQ(Decoded(first.path), "my version");
  // Later saves follow the copy.
  WriteText(session.DocumentPath(), "my second version");
  const EditSaveResult second = session.SaveNow();
  EXPECT_EQ(second.status, EditSaveStatus::Saved);
  EXPECT_EQ(second.path, first.path);
  EXPECT_EQ(Decoded(first.path), "my second version");
  EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "their version");
  std::vector<std::string> messages;
  EXPECT_TRUE(session.Finish(messages));
  EXPECT_EQ(ListNames(P("docs")).size(), 2u);

  // A change that lands after the session looked and before its rename, by a rename
  // over the protected file or written into it, is kept all the same.
  for (const bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "written into it" : "renamed over it");
    for (const std::string& name : ListNames(P("docs"))) ::unlink(P("docs/" + name).c_str());
    WriteText(P("docs/report.txt"), "version 0 of the document");
    Protect(P("docs/report.txt"));
    WriteText(P("theirs/report.txt"), "their late version");
    Protect(P("theirs/report.txt"));
    CEditSession late;
    ASSERT_EQ(Open(late), CODEC_OK);
    WriteText(late.DocumentPath(), "my late version");
    late.m_stepHook = [&](EditStep step) {
      if (step != EditStep::BeforeRename) return true;
      const std::string theirs = P("theirs/report.txt.~de");
      if (inPlace) WriteText(P("docs/report.txt.~de"), ReadText(theirs));
      EXPECT_EQ(::rename(theirs.c_str(),
                         inPlace ? P("scratch").c_str() : P("docs/report.txt.~de").c_str()),
                0);
      return true;
    };
    const EditSaveResult saved = late.SaveNow();
    EXPECT_EQ(saved.status, EditSaveStatus::Conflict);
    EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "their late version");
    EXPECT_EQ(Decoded(saved.path), "my late version");
    EXPECT_EQ(ListNames(P("docs")).size(), 2u);
    EXPECT_TRUE(late.Finish(messages));
  }

  // Killed after the swap, before their change was swapped back: recovery puts it back
  // and keeps the save as a copy, before any cleanup of temporary files sees it.
  for (const std::string& name : ListNames(P("docs"))) ::unlink(P("docs/" + name).c_str());
  WriteText(P("docs/report.txt"), "version 0 of the document");
  Protect(P("docs/report.txt"));
  WriteText(P("theirs/report.txt"), "their version");
  Protect(P("theirs/report.txt"));
  const int status = RunInChild([&] {
    CEditSession killed;
    if (Open(killed) != CODEC_OK) return 1;
    WriteText(killed.DocumentPath(), "my version");
    killed.m_stepHook = [&](EditStep step) {
      if (step == EditStep::BeforeRename) {
        ::rename(P("theirs/report.txt.~de").c_str(), P("docs/report.txt.~de").c_str());
      }
      if (step == EditStep::Exchanged) ::raise(SIGKILL);
      return true;
    };
    (void)killed.SaveNow();
    return 2;
  });
  ASSERT_EQ(status, 128 + SIGKILL);
  OrphanScan scan = FindOrphanSessions(m_root);
  ASSERT_EQ(scan.messages.size(), 1u);
  EXPECT_NE(scan.messages[0].find("was changed by someone else"), std::string::npos);
  EXPECT_TRUE(scan.unsaved.empty());
  EXPECT_EQ(Decoded(P("docs/report.txt.~de")), "their version");
  const std::vector<std::string> left = ListNames(P("docs"));
  ASSERT_EQ(left.size(), 2u);
  const std::string copy = left[0] == "report.txt.~de" ? left[1] : left[0];
  EXPECT_EQ(copy.rfind("report.txt (edited ", 0), 0u) << copy;
  EXPECT_EQ(Decoded(P("docs/" + copy)), "my version");
  EXPECT_EQ(ListNames(m_root + "edit"), std::vector<std::string>{});
}

TEST_F(EditSessionTest, AWrongKeyCreatesNothingAndOnlyAMemoryFolderIsTakenWithoutAsking) {
  CEditSession session;
  std::string error;
  EXPECT_EQ(session.Open(m_root, P("docs/report.txt.~de"), KeyOf("wrong").data(), 6, error),
            CODEC_BAD_KEY);
  EXPECT_EQ(ListNames(m_root + "edit"), std::vector<std::string>{});

  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(FindEditPlace().kind, EditPlaceKind::NoRuntime);
  ::setenv("XDG_RUNTIME_DIR", Dir().c_str(), 1);
  EXPECT_EQ(FindEditPlace().kind,
            IsMemoryFileSystem(Dir()) ? EditPlaceKind::Memory : EditPlaceKind::Disk);
  if (IsMemoryFileSystem("/dev/shm")) {
    ::setenv("XDG_RUNTIME_DIR", "/dev/shm", 1);
    EXPECT_EQ(FindEditPlace().kind, EditPlaceKind::Memory);
  }
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  // A session folder open to others, or a link to one, is refused.
  MakeFolder(P("open/"));
  MakeFolder(P("open/vellumguard"));
  ASSERT_EQ(::chmod(P("open/vellumguard").c_str(), 0755), 0);
  EXPECT_FALSE(PrepareEditRoot(P("open/vellumguard/")).ok());
  ASSERT_EQ(::symlink(m_root.c_str(), P("link").c_str()), 0);
  EXPECT_FALSE(PrepareEditRoot(P("link/")).ok());
}

TEST_F(EditSessionTest, JournalsRoundTripAndDamagedOnesAreRefused) {
  EditJournal j;
  j.original = P("docs/a\nb%.txt.~de");
  j.target = P("docs/a\nb%.txt (edited x).~de");
  j.name = "a\nb%.txt";
  j.level = 3;
  j.salt[0] = 7;
  j.hash[31] = 9;
  j.written.ino = 42;
  const std::string path = P("j.session");
  ASSERT_TRUE(WriteJournal(path, j).ok());
  EditJournal back;
  std::string error;
  ASSERT_TRUE(ReadJournal(path, back, error)) << error;
  EXPECT_EQ(back.original, j.original);
  EXPECT_EQ(back.target, j.target);
  EXPECT_EQ(back.name, j.name);
  EXPECT_EQ(back.level, 3);
  EXPECT_EQ(back.salt[0], 7);
  EXPECT_EQ(back.hash[31], 9);
  EXPECT_EQ(back.written, j.written);
  // Any line missing, or a value that is not what it claims, is refused.
  const std::string text = ReadText(path);
  std::vector<std::string> damaged;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    const size_t end = text.find('\n', at + 1);
    if (end != std::string::npos) damaged.push_back(text.substr(0, at) + text.substr(end));
  }
  const std::pair<std::string, std::string> edits[] = {
      {"original /", "original x/"}, {"name a", "name /a"}, {"level 3", "level 12"},
      {"salt 07", "salt 0g"},        {"hash 00", "hash 0"}, {"%0a", "%00"},
      {"written 0", "written x"},    {"level", "volume"}};
  for (const auto& [from, to] : edits) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    damaged.push_back(t);
  }
  for (const std::string& t : damaged) {
    WriteText(path, t);
    EXPECT_FALSE(ReadJournal(path, back, error)) << t;
  }
}

}  // namespace
