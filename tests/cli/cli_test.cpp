// Drives the built vellumguard-cli as a user would: without a terminal for scripted
// runs, and on a pseudo-terminal where it must ask.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/paths.h"
#include "engine/digest.h"

namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::string ReadAllFd(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> v;
  static std::string exe = VG_CLI_PATH;
  v.push_back(exe.data());
  for (auto& a : args) v.push_back(a.data());
  v.push_back(nullptr);
  return v;
}

// Runs the tool in a new session, so it has no controlling terminal.
Result RunCli(std::vector<std::string> args, const std::string& cwd = "") {
  int out[2], err[2];
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_EQ(::pipe(err), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::close(out[0]), ::close(err[0]);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(99);
    auto argv = Argv(args);
    ::execv(argv[0], argv.data());
    _exit(98);
  }
  ::close(out[1]), ::close(err[1]);
  Result r;
  std::thread t([&] { r.err = ReadAllFd(err[0]); });
  r.out = ReadAllFd(out[0]);
  t.join();
  ::close(out[0]), ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// A session on a pseudo-terminal: waits for a text, then types a line.
class PtySession {
 public:
  explicit PtySession(std::vector<std::string> args) {
    m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
    if (m_pid == 0) {
      auto argv = Argv(args);
      ::execv(argv[0], argv.data());
      _exit(98);
    }
  }
  ~PtySession() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    ::close(m_master);
  }
  // Reads until text appears (true) or 20 s pass or the tool ends (false).
  bool Expect(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_seen.find(text, m_consumed) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p{m_master, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) {
        char buf[1024];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0) return false;
        m_seen.append(buf, static_cast<size_t>(n));
      }
    }
    m_consumed = m_seen.find(text, m_consumed) + text.size();
    return true;
  }
  void Type(const std::string& line) {
    const std::string s = line + "\n";
    EXPECT_EQ(::write(m_master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  int Wait() {
    // Drain output so the tool never blocks on a full terminal.
    for (;;) {
      char buf[1024];
      const ssize_t n = ::read(m_master, buf, sizeof buf);
      if (n <= 0) break;
      m_seen.append(buf, static_cast<size_t>(n));
    }
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& Seen() const { return m_seen; }

 private:
  int m_master = -1;
  pid_t m_pid = -1;
  std::string m_seen;
  size_t m_consumed = 0;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "vg-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    m_dir = tmpl;
    m_home = m_dir + "/home";
    ::mkdir(m_home.c_str(), 0700);
    setenv("VELLUMGUARD_HOME", m_home.c_str(), 1);
    m_data = m_dir + "/data";
    ::mkdir(m_data.c_str(), 0700);
    ::mkdir((m_data + "/sub").c_str(), 0700);
    ::mkdir((m_data + "/sub/deep").c_str(), 0700);
    std::mt19937 rng(7);
    for (int i = 0; i < 6; ++i) {
      std::string text;
      for (int k = 0; k < 2000 * (i + 1); ++k)
        text += "line " + std::to_string(rng() % 1000) + "\n";
      const std::string where = i < 2 ? m_data : i < 4 ? m_data + "/sub" : m_data + "/sub/deep";
      Spit(where + "/f" + std::to_string(i) + ".txt", text);
    }
    std::string noise(70000, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    Spit(m_data + "/sub/photo.jpg", noise);
    Spit(m_data + "/empty.txt", "");
    m_original = Snapshot(m_data);
    m_pw = m_dir + "/pw";
    Spit(m_pw, "correct horse\n");
    Spit(m_dir + "/wrong", "wrong horse\n");
  }

  // Every regular file below root (relative path -> content).
  static std::map<std::string, std::string> Snapshot(const std::string& root,
                                                     const std::string& rel = "") {
    std::map<std::string, std::string> m;
    DIR* d = ::opendir((root + rel).c_str());
    if (!d) return m;
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string r = rel + "/" + name;
      struct stat st {};
      ::lstat((root + r).c_str(), &st);
      if (S_ISDIR(st.st_mode)) {
        auto sub = Snapshot(root, r);
        m.insert(sub.begin(), sub.end());
      } else {
        m[r] = Slurp(root + r);
      }
    }
    ::closedir(d);
    return m;
  }

  // The plain files of the tree, ignoring the settings file a protect leaves.
  std::map<std::string, std::string> PlainFiles() {
    auto m = Snapshot(m_data);
    m.erase("/zde.tmp");
    return m;
  }

  int CountProtected() {
    int n = 0;
    for (const auto& [path, content] : Snapshot(m_data)) n += IsProtectedPath(path);
    return n;
  }

  std::string m_dir, m_home, m_data, m_pw;
  std::map<std::string, std::string> m_original;
};

TEST_F(CliTest, FolderRoundTripRestoresEveryByteAndLeavesOnlyProtectedFiles) {
  Result p = RunCli({"protect", "-r", "--password-file", m_pw, "-j", "1", m_data});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_EQ(CountProtected(), static_cast<int>(m_original.size()));
  for (const auto& [path, content] : Snapshot(m_data)) {
    EXPECT_TRUE(IsProtectedPath(path) || path == "/zde.tmp") << path;
  }
  Result r = RunCli({"restore", "-r", "--password-file", m_pw, m_data});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(PlainFiles(), m_original);
}

TEST_F(CliTest, ParallelRunsGiveTheSameFilesCountsAndMessagesAsOneAtATime) {
  Result p1 = RunCli({"protect", "-r", "--password-file", m_pw, "-j", "1", m_data});
  const auto protectedOnce = Snapshot(m_data);
  Result r1 = RunCli({"restore", "-r", "--password-file", m_pw, "-j", "1", m_data});
  Result p4 = RunCli({"protect", "-r", "--password-file", m_pw, "-j", "4", m_data});
  std::map<std::string, size_t> names1, names4;
  for (const auto& [path, c] : protectedOnce) names1[path] = 1;
  for (const auto& [path, c] : Snapshot(m_data)) names4[path] = 1;
  Result r4 = RunCli({"restore", "-r", "--password-file", m_pw, "-j", "4", m_data});
  EXPECT_EQ(p1.code, 0);
  EXPECT_EQ(p4.code, 0);
  EXPECT_EQ(r1.code, 0);
  EXPECT_EQ(r4.code, 0);
  EXPECT_EQ(p1.err, p4.err);
  EXPECT_EQ(r1.err, r4.err);
  EXPECT_EQ(names1, names4);
  EXPECT_EQ(PlainFiles(), m_original);
}

TEST_F(CliTest, WrongPasswordEndsWithCodeThreeAndLeavesProtectedFiles) {
  ASSERT_EQ(RunCli({"protect", "-r", "--password-file", m_pw, m_data}).code, 0);
  const auto before = Snapshot(m_data);
  for (const char* jobs : {"1", "3"}) {
    Result r = RunCli({"restore", "-r", "-j", jobs, "--password-file", m_dir + "/wrong", m_data});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("wrong password for"), std::string::npos);
    EXPECT_EQ(Snapshot(m_data), before);  // nothing restored, nothing lost, no leftovers
  }
}

TEST_F(CliTest, OverwriteQuestionsFollowYesAndNoAndDefaultToNoWithoutTerminal) {
  const std::string file = m_data + "/f0.txt";
  ASSERT_EQ(RunCli({"protect", "--password-file", m_pw, file}).code, 0);
  const std::string protectedBytes = Slurp(file + ".~de");
  Spit(file, "a newer plain file");
  Result no = RunCli({"protect", "--password-file", m_pw, file});  // no terminal: No
  EXPECT_EQ(no.code, 1);
  EXPECT_EQ(Slurp(file), "a newer plain file");
  EXPECT_EQ(Slurp(file + ".~de"), protectedBytes);
  EXPECT_EQ(RunCli({"protect", "--no", "--password-file", m_pw, file}).code, 1);
  EXPECT_EQ(Slurp(file + ".~de"), protectedBytes);
  Result yes = RunCli({"protect", "--yes", "--password-file", m_pw, file});
  EXPECT_EQ(yes.code, 0) << yes.err;
  EXPECT_FALSE(FileExists(file));
  // A restore that nobody can be asked about is skipped: 1, not the wrong password's 3.
  Spit(file, "in the way");
  EXPECT_EQ(RunCli({"restore", "--password-file", m_pw, file + ".~de"}).code, 1);
  EXPECT_EQ(Slurp(file), "in the way");
  ::unlink(file.c_str());
  ASSERT_EQ(RunCli({"restore", "--password-file", m_pw, file + ".~de"}).code, 0);
  EXPECT_EQ(Slurp(file), "a newer plain file");
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndMissingOrLinkedPathsWithOne) {
  // What the parser refuses is in options_test.cpp; here, that refusals end with 2.
  Result bad = RunCli({"protect", "--level", "12", m_data});
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "vellumguard-cli: --level takes a number from 0 to 9\n");
  EXPECT_EQ(RunCli({"protect", "--password-file", m_dir + "/nope", m_data}).code, 2);
  // A named path that is missing or a symbolic link is a failure of the run, and a run
  // that protected nothing leaves no settings file behind.
  EXPECT_EQ(RunCli({"protect", "--password-file", m_pw, m_dir + "/nothing-here"}).code, 1);
  ASSERT_EQ(::symlink((m_data + "/f0.txt").c_str(), (m_dir + "/link.txt").c_str()), 0);
  ASSERT_EQ(::symlink(m_data.c_str(), (m_dir + "/linked-folder").c_str()), 0);
  for (const char* link : {"/link.txt", "/linked-folder"}) {
    Result r = RunCli({"protect", "--password-file", m_pw, m_dir + link});
    EXPECT_EQ(r.code, 1) << link;
    EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunCli({"restore", "--password-file", m_pw, m_dir + "/nothing-here.~de"}).code, 1);
  EXPECT_FALSE(FileExists(m_dir + "/zde.tmp"));
  ::unlink((m_dir + "/link.txt").c_str());
  ::unlink((m_dir + "/linked-folder").c_str());
  // No password option and no terminal: refused before anything is touched.
  EXPECT_EQ(RunCli({"protect", m_data}).code, 2);
  Result last = RunCli({"protect", "--use-last", m_data + "/sub"});
  EXPECT_EQ(last.code, 2);
  EXPECT_NE(last.err.find("no last password"), std::string::npos);
  EXPECT_EQ(Snapshot(m_data), m_original);
  EXPECT_EQ(RunCli({"--help"}).code, 0);
}

TEST_F(CliTest, UseLastTakesTheKeyOfTheFolderSettingsFile) {
  ASSERT_EQ(RunCli({"protect", "--password-file", m_pw, m_data + "/f0.txt"}).code, 0);
  Result p = RunCli({"protect", "--use-last", m_data + "/f1.txt"});
  ASSERT_EQ(p.code, 0) << p.err;
  // Both files restore with the one password.
  Result r = RunCli({"restore", "--password-file", m_pw, m_data});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(PlainFiles(), m_original);
}

TEST_F(CliTest, TerminalPromptsConfirmTheNewPasswordAndAllowThreeAttempts) {
  const std::string file = m_data + "/f1.txt";
  {
    PtySession s({"protect", file});
    ASSERT_TRUE(s.Expect("Password: ")) << s.Seen();
    s.Type("secret");
    ASSERT_TRUE(s.Expect("Confirm: "));
    s.Type("secrex");
    ASSERT_TRUE(s.Expect("Password does not match"));
    ASSERT_TRUE(s.Expect("Password: "));
    s.Type("secret");
    ASSERT_TRUE(s.Expect("Confirm: "));
    s.Type("secret");
    EXPECT_EQ(s.Wait(), 0) << s.Seen();
    EXPECT_EQ(s.Seen().find("secret"), std::string::npos) << "the password was echoed";
  }
  ASSERT_TRUE(FileExists(file + ".~de"));
  {
    PtySession s({"restore", file + ".~de"});
    for (int attempt = 0; attempt < 3; ++attempt) {
      ASSERT_TRUE(s.Expect("Password for ")) << attempt;
      s.Type("nope");
    }
    EXPECT_EQ(s.Wait(), 3) << s.Seen();
    EXPECT_TRUE(FileExists(file + ".~de"));
    EXPECT_FALSE(FileExists(file));
  }
  {
    PtySession s({"restore", file + ".~de"});
    ASSERT_TRUE(s.Expect("Password for "));
    s.Type("nope");
    ASSERT_TRUE(s.Expect("Password for "));
    s.Type("secret");
    EXPECT_EQ(s.Wait(), 0) << s.Seen();
  }
  EXPECT_EQ(Slurp(file), m_original["/f1.txt"]);
  {
    // The overwrite question is asked on the terminal; a stray Enter answers No.
    ASSERT_EQ(RunCli({"protect", "--password-file", m_pw, file}).code, 0);
    Spit(file, "again");
    PtySession s({"restore", "--password-file", m_pw, file + ".~de"});
    ASSERT_TRUE(s.Expect("is already existed, Do you want to overwrite? [y/N]"));
    s.Type("");
    EXPECT_EQ(s.Wait(), 1);
    EXPECT_EQ(Slurp(file), "again");
  }
}

TEST_F(CliTest, GuardListsRoundTripThroughNewAddShowProtectRestore) {
  const std::string list = m_dir + "/my.dlt";
  ASSERT_EQ(RunCli({"list", "new", list, "--password-file", m_pw}).code, 0);
  EXPECT_EQ(RunCli({"list", "new", list, "--password-file", m_pw}).code, 2);  // exists
  ASSERT_EQ(RunCli({"list", "add", list, "-r", m_data + "/sub"}).code, 0);
  ASSERT_EQ(RunCli({"list", "add", list, m_data + "/f0.txt"}).code, 0);
  EXPECT_EQ(RunCli({"list", "add", list, m_data + "/f0.txt"}).code, 1);  // already listed
  Result show = RunCli({"list", "show", list});
  ASSERT_EQ(show.code, 0);
  EXPECT_NE(show.out.find("kind\tsubfolders\tstatus\tpath\tinclude\texclude\n"), std::string::npos);
  EXPECT_NE(show.out.find("folder\t1\t"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("file\t0\tNot encrypted\t" + m_data + "/f0.txt\t"), std::string::npos)
      << show.out;
  Result p = RunCli({"list", "protect", list});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_TRUE(FileExists(m_data + "/sub/deep/f5.txt.~de"));
  EXPECT_TRUE(FileExists(m_data + "/f0.txt.~de"));
  EXPECT_TRUE(FileExists(m_data + "/f1.txt"));  // not in the list
  EXPECT_NE(RunCli({"list", "show", list}).out.find("file\t0\tEncrypting\t"), std::string::npos);
  Result r = RunCli({"list", "restore", list, "--password-file", m_pw});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(PlainFiles(), m_original);
  ASSERT_EQ(RunCli({"list", "remove", list, m_data + "/f0.txt"}).code, 0);
  EXPECT_EQ(RunCli({"list", "show", list}).out.find(m_data + "/f0.txt"), std::string::npos);
  Spit(m_dir + "/junk.dlt", "not a list at all");
  EXPECT_EQ(RunCli({"list", "show", m_dir + "/junk.dlt"}).code, 2);
}

TEST_F(CliTest, AListMadeElsewhereProtectsOnlyWithItsPasswordGivenHere) {
  const std::string list = m_dir + "/sent.dlt";
  ASSERT_EQ(RunCli({"list", "new", list, "--password-file", m_pw}).code, 0);
  ASSERT_EQ(RunCli({"list", "add", list, m_data + "/f0.txt"}).code, 0);
  // Received by another user: their profile never saw the list's password.
  const std::string other = m_dir + "/other-home";
  ::mkdir(other.c_str(), 0700);
  setenv("VELLUMGUARD_HOME", other.c_str(), 1);
  Result none = RunCli({"list", "protect", list});
  EXPECT_EQ(none.code, 2) << none.err;
  EXPECT_NE(none.err.find("made elsewhere"), std::string::npos) << none.err;
  Result wrong = RunCli({"list", "protect", list, "--password-file", m_dir + "/wrong"});
  EXPECT_EQ(wrong.code, 3) << wrong.err;
  EXPECT_EQ(PlainFiles(), m_original);
  Result right = RunCli({"list", "protect", list, "--password-file", m_pw});
  ASSERT_EQ(right.code, 0) << right.err;
  EXPECT_TRUE(FileExists(m_data + "/f0.txt.~de"));
  // Typed once, the key is this user's too; restoring never needed more than the key.
  ASSERT_EQ(RunCli({"list", "restore", list, "--password-file", m_pw}).code, 0);
  EXPECT_EQ(RunCli({"list", "protect", list}).code, 0);
  const std::string record = Slurp(other + "/vellumguard/trusted-lists");
  EXPECT_EQ(record.size(), 4u + 32u + 32u);
  uint8_t key[32];
  GuardKeyDigest(key, "correct horse");
  EXPECT_EQ(record.find(std::string(reinterpret_cast<char*>(key), 32)), std::string::npos);
}

TEST_F(CliTest, KilledOrInterruptedRunsLoseNothing) {
  // A larger file so that signals land in the middle of the work.
  std::string big;
  std::mt19937 rng(3);
  for (int i = 0; i < 400000; ++i) big += "word" + std::to_string(rng() % 100000) + " ";
  Spit(m_data + "/big.txt", big);
  m_original = Snapshot(m_data);
  // Private files: no moment of any run may leave a copy that others can read.
  for (const auto& [path, content] : m_original) ::chmod((m_data + path).c_str(), 0600);
  std::function<void(const std::string&)> expectPrivate = [&](const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      struct stat st {};
      if (name == "." || name == ".." || ::lstat((folder + "/" + name).c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        expectPrivate(folder + "/" + name);
      } else if (name != "zde.tmp") {
        EXPECT_EQ(st.st_mode & 077, 0u) << folder << "/" << name;
      }
    }
    ::closedir(d);
  };
  // The tool signals itself at a chosen step (a progress or commit step), so where the
  // kill lands does not depend on how busy the machine is.
  // Kills early in a run (always reached while there is work), interrupts later; the
  // fourth protect is never stopped, so that the restores find work.
  const int atStep[8] = {5, 300, 7, 1 << 30, 3, 300, 7, 1000};
  for (int round = 0; round < 8; ++round) {
    const bool interrupt = round % 2 == 1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setsid();
      const int devnull = ::open("/dev/null", O_RDWR);
      ::dup2(devnull, 0), ::dup2(devnull, 1), ::dup2(devnull, 2);
      const std::string at =
          std::to_string(atStep[round]) + " " + std::to_string(interrupt ? SIGINT : SIGKILL);
      setenv("VELLUMGUARD_TEST_SIGNAL_AT_STEP", at.c_str(), 1);
      std::vector<std::string> args = {"protect",         "-r", "--yes", "-j", "1",
                                       "--password-file", m_pw, m_data};
      if (round >= 4) args[0] = "restore";
      auto argv = Argv(args);
      ::execv(argv[0], argv.data());
      _exit(98);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (interrupt) {
      // Interrupted during the commit, a run finishes the batch it started.
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    } else {
      EXPECT_TRUE(WIFSIGNALED(status)) << "step " << atStep[round] << " was never reached";
    }
    // Every file is there as itself or as a protected file (checked by restoring below).
    for (const auto& [path, content] : m_original) {
      const bool plain = FileExists(m_data + path) && Slurp(m_data + path) == content;
      EXPECT_TRUE(plain || FileExists(m_data + path + ".~de")) << path << " round " << round;
    }
    expectPrivate(m_data);
  }
  Result r = RunCli({"restore", "-r", "--yes", "--password-file", m_pw, m_data});
  EXPECT_TRUE(r.code == 0) << r.err;
  auto now = PlainFiles();
  for (auto it = now.begin(); it != now.end();) {
    // Temporary files of killed runs are dot-names; the next run removes them.
    it = LastPathComponent(it->first).rfind(".vgtmp.", 0) == 0 ? now.erase(it) : std::next(it);
  }
  EXPECT_EQ(now, m_original);
}

}  // namespace
