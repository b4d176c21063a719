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
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/paths.h"
#include "engine/digest.h"
#include "engine/file_codec.h"
#include "guard/edit_place.h"

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
  // Each test leaves a tree of plain and protected files; a run of the suite must not
  // leave them in the temporary folder.
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
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

TEST_F(CliTest, FolderWithoutSubfoldersSaysWhatStaysPlain) {
  Result p = RunCli({"protect", "--password-file", m_pw, m_data});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_NE(p.err.find("Protected 3 of 3 files; 5 files in subfolders not protected."),
            std::string::npos)
      << p.err;
  EXPECT_EQ(CountProtected(), 3);
}

// 32 zero bytes mean "no key": a file sealed under them is not restored without a
// password; a password whose key would read as "no key" is refused, not a quiet run that
// protects nothing.
TEST_F(CliTest, KeysThatMeanNoKeyAreNeitherTriedNorMade) {
  const std::string file = m_data + "/f0.txt";
  {
    CFileCodec codec;
    codec.m_usePasswordText = 0;
    codec.m_source = file;
    codec.m_destination = m_dir + "/sealed.txt.~de";
    ASSERT_EQ(codec.Encode(), CODEC_OK);
  }
  Result restore = RunCli({"restore", m_dir + "/sealed.txt.~de"});
  EXPECT_EQ(restore.code, 2) << restore.err;
  EXPECT_FALSE(FileExists(m_dir + "/sealed.txt"));

  Spit(m_dir + "/unusable", "luv4c");  // its key starts with three zero bytes
  Result protect = RunCli({"protect", "--password-file", m_dir + "/unusable", file});
  EXPECT_EQ(protect.code, 2);
  EXPECT_NE(protect.err.find("This password cannot be used"), std::string::npos) << protect.err;
  EXPECT_EQ(Snapshot(m_data), m_original);
}

// Before it reads a password the tool makes itself not dumpable and sets its core file
// limit to 0. The /proc files of a process that is not dumpable belong to root, so the
// tool runs as another user than root here (nobody, when the test runs as root).
TEST_F(CliTest, TheToolHoldingAPasswordIsNotDumpableAndLeavesNoCoreFile) {
  int pw[2];
  ASSERT_EQ(::pipe(pw), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(97);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(pw[0], 3);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::close(pw[1]);
    std::vector<std::string> args = {"protect", "--password-fd", "3", "/nothing-here"};
    auto argv = Argv(args);
    ::execv(argv[0], argv.data());
    _exit(98);
  }
  ::close(pw[0]);
  // The tool waits for the password on descriptor 3; its limits tell when it got there.
  const std::string proc = "/proc/" + std::to_string(pid);
  std::string core;
  for (int i = 0; i < 4000 && core != "0 0"; ++i) {
    std::istringstream limits(Slurp(proc + "/limits"));
    for (std::string line; std::getline(limits, line);) {
      if (line.rfind("Max core file size", 0) != 0) continue;
      std::istringstream fields(line.substr(18));
      std::string soft, hard;
      fields >> soft >> hard;
      core = soft + " " + hard;
    }
    if (core != "0 0") ::usleep(5000);
  }
  EXPECT_EQ(core, "0 0");
  struct stat st {};
  ASSERT_EQ(::stat((proc + "/status").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u) << "the tool is dumpable";
  ::close(pw[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << status;  // ended on its own once the password came
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

// verify, info and change-password on one protected tree: a wrong old password changes
// no byte; a right one moves every file, the folder's settings file and a list along.
TEST_F(CliTest, KeyCommandsVerifyTellAndChangeThePassword) {
  ASSERT_EQ(RunCli({"protect", "-r", "--password-file", m_pw, m_data}).code, 0);
  const std::string f0 = m_data + "/f0.txt.~de";
  const std::string list = m_dir + "/my.dlt";
  ASSERT_EQ(RunCli({"list", "new", list, "--password-file", m_pw}).code, 0);
  ASSERT_EQ(RunCli({"list", "add", list, "-r", m_data + "/sub"}).code, 0);
  Result v = RunCli({"verify", "-r", "-j", "3", "--password-file", m_pw, m_data});
  EXPECT_EQ(v.code, 0) << v.err;
  EXPECT_NE(v.out.find(f0 + ": ok\n"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("8 checked: 8 ok, 0 wrong password, 0 damaged"), std::string::npos);
  EXPECT_EQ(RunCli({"verify", "-r", "--password-file", m_dir + "/wrong", m_data}).code, 3);

  // info: a foreign file, a short one, a damaged one; which remembered keys open them.
  Spit(m_dir + "/foreign.~de", std::string(100, 'x'));
  Spit(m_dir + "/short.~de", "tiny");
  std::string damaged = Slurp(f0);
  damaged.resize(damaged.size() - 5);
  Spit(m_dir + "/cut.~de", damaged);
  Result info = RunCli({"info", "--porcelain", "--list", list, "--password-file", m_pw, f0,
                        m_data + "/sub/f2.txt.~de", m_dir + "/foreign.~de", m_dir + "/short.~de",
                        m_dir + "/cut.~de"});
  EXPECT_EQ(info.code, 0) << info.err;
  const std::string f0Size = std::to_string(Slurp(f0).size());
  const std::string f0Plain = std::to_string(m_original["/f0.txt"].size());
  EXPECT_NE(info.out.find(f0 + "\t" + f0Size + "\tprotected\t\tzde.tmp,list\tok\t" + f0Plain +
                          "\tcompressed\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("/foreign.~de\t100\tprotected\t\tnone\twrong password\t"),
            std::string::npos);
  EXPECT_NE(info.out.find("/short.~de\t4\tnot-protected\tshorter than"), std::string::npos);
  EXPECT_NE(info.out.find("/cut.~de\t" + std::to_string(damaged.size()) +
                          "\tprotected\t\tlist\tdamaged (at byte "),
            std::string::npos);

  Spit(m_dir + "/new", "battery staple\n");
  const auto before = Snapshot(m_data);
  Result wrong = RunCli({"change-password", "-r", "--password-file", m_dir + "/wrong",
                         "--new-password-file", m_dir + "/new", m_data, list});
  EXPECT_EQ(wrong.code, 3) << wrong.err;
  EXPECT_EQ(Snapshot(m_data), before);
  struct stat was {};
  ASSERT_EQ(::stat(f0.c_str(), &was), 0);
  Result changed = RunCli({"change-password", "-r", "-j", "2", "--password-file", m_pw,
                           "--new-password-file", m_dir + "/new", m_data, list});
  ASSERT_EQ(changed.code, 0) << changed.err;
  struct stat now {};
  ASSERT_EQ(::stat(f0.c_str(), &now), 0);
  EXPECT_EQ(now.st_mtim.tv_sec, was.st_mtim.tv_sec);
  EXPECT_EQ(now.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
  EXPECT_EQ(now.st_mode, was.st_mode);
  EXPECT_EQ(RunCli({"verify", "-r", "--password-file", m_pw, m_data}).code, 3);
  Result tell = RunCli({"info", "--porcelain", "--list", list, f0});
  EXPECT_NE(tell.out.find("\tzde.tmp,list\t"), std::string::npos) << tell.out;
  Result r = RunCli({"restore", "-r", "--password-file", m_dir + "/new", m_data});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(PlainFiles(), m_original);
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

namespace {

// An editor for edit: saves "$SAVE" by a temporary file and a rename. With KILL set, it
// stops the tool first and kills it after the save, so the save never went back.
const char* const kFakeEditor =
    "#!/bin/sh\n"
    "p=$PPID\n"
    "while [ \"$(cat /proc/$p/comm)\" != vellumguard-cli ]; do p=$(cut -d' ' -f4 /proc/$p/stat); "
    "done\n"
    "[ -n \"$KILL\" ] && kill -STOP $p\n"
    "printf '%s' \"$SAVE\" > \"$1.part\" && mv -f \"$1.part\" \"$1\"\n"
    "[ -n \"$KILL\" ] && kill -9 $p\n"
    "exit 0\n";

class CliEditTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    m_file = m_data + "/f0.txt";
    ASSERT_EQ(RunCli({"protect", "--password-file", m_pw, m_file}).code, 0);
    Spit(m_dir + "/editor.sh", kFakeEditor);
    ::chmod((m_dir + "/editor.sh").c_str(), 0700);
    ::setenv("EDITOR", (m_dir + "/editor.sh").c_str(), 1);
    ::unsetenv("VISUAL");
    ::unsetenv("KILL");
    // A private memory folder when the machine has one; else the disk, as allowed.
    m_runtime = m_dir + "/runtime";
    if (IsMemoryFileSystem("/dev/shm")) {
      char tmpl[] = "/dev/shm/vg-edit-XXXXXX";
      ASSERT_NE(::mkdtemp(tmpl), nullptr);
      m_runtime = tmpl;
    }
    ::mkdir(m_runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
  }
  void TearDown() override {
    const std::string rm = "rm -rf '" + m_runtime + "'";
    EXPECT_EQ(std::system(rm.c_str()), 0);
    CliTest::TearDown();
  }
  std::vector<std::string> Edit() {
    std::vector<std::string> args = {"edit", "--password-file", m_pw, m_file + ".~de"};
    if (!IsMemoryFileSystem(m_runtime)) args.insert(args.begin() + 1, "--allow-disk");
    return args;
  }
  std::string Restored() {
    Result r = RunCli({"restore", "--password-file", m_pw, m_file + ".~de"});
    EXPECT_EQ(r.code, 0) << r.err;
    return Slurp(m_file);
  }
  std::string m_file, m_runtime;
};

TEST_F(CliEditTest, EditProtectsTheSaveAndRefusesADiskUnlessAllowed) {
  ::setenv("SAVE", "edited on the command line", 1);
  const auto before = Snapshot(m_data);
  ::unsetenv("XDG_RUNTIME_DIR");
  Result unset = RunCli({"edit", "--password-file", m_pw, m_file + ".~de"});
  EXPECT_EQ(unset.code, 2);
  EXPECT_NE(unset.err.find("XDG_RUNTIME_DIR is not set"), std::string::npos) << unset.err;
  ::setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  if (!IsMemoryFileSystem(m_dir)) {
    Result disk = RunCli({"edit", "--password-file", m_pw, m_file + ".~de"});
    EXPECT_EQ(disk.code, 2);
    EXPECT_NE(disk.err.find("--allow-disk"), std::string::npos) << disk.err;
  }
  EXPECT_EQ(Snapshot(m_data), before);
  ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
  Result wrong = RunCli({"edit", "--password-file", m_dir + "/wrong", m_file + ".~de"});
  EXPECT_EQ(wrong.code, 3) << wrong.err;
  Result edit = RunCli(Edit());
  EXPECT_EQ(edit.code, 0) << edit.err;
  auto after = Snapshot(m_data);
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after.count("/f0.txt.~de"), 1u);
  EXPECT_EQ(Snapshot(m_runtime + "/vellumguard"), (std::map<std::string, std::string>{}));
  // The plain text of the save is nowhere in the test's folders (home included).
  for (const auto& [path, content] : Snapshot(m_dir)) {
    EXPECT_EQ(content.find("edited on the command line"), std::string::npos) << path;
  }
  EXPECT_EQ(Restored(), "edited on the command line");
}

TEST_F(CliEditTest, ASaveCutOffByAKillIsOfferedByRecoverAndProtectedWithYes) {
  ::setenv("SAVE", "saved just before the kill", 1);
  ::setenv("KILL", "1", 1);
  Result edit = RunCli(Edit());
  EXPECT_EQ(edit.code, 128 + SIGKILL) << edit.err;
  ::unsetenv("KILL");
  Result ask = RunCli({"recover"});
  EXPECT_EQ(ask.code, 1);
  EXPECT_NE(ask.err.find("has unsaved changes"), std::string::npos) << ask.err;
  Result yes = RunCli({"recover", "--yes", "--password-file", m_pw});
  EXPECT_EQ(yes.code, 0) << yes.err;
  EXPECT_EQ(Snapshot(m_runtime + "/vellumguard"), (std::map<std::string, std::string>{}));
  EXPECT_EQ(Restored(), "saved just before the kill");
}

}  // namespace
