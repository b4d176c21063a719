// Runs killed at random moments: afterwards every file exists either as its original
// plain content or as a protected file that restores to it, and never as anything else.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>

#include "common/paths.h"
#include "common/safe_file.h"
#include "fake_guard_ui.h"
#include "guard/file_list_driver.h"
#include "guard/single_file.h"
#include "guard_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

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
  int Run(bool protect) {
    FakeGuardUi ui;
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

TEST_F(KillLoop, RunsKilledAtRandomMomentsNeverLoseOrDamageAFile) {
  // How long an undisturbed run takes here, to spread the kills over it.
  auto t0 = Clock::now();
  ASSERT_EQ(Run(true), 6);
  const auto protectTime = Clock::now() - t0;
  t0 = Clock::now();
  ASSERT_EQ(Run(false), 6);
  const auto restoreTime = Clock::now() - t0;
  CheckInvariant(-1);

  std::mt19937 rng(20240611);
  int killedMidway = 0;
  const int rounds = 40;
  for (int round = 0; round < rounds; ++round) {
    const bool protect = round % 2 == 0;
    const auto span =
        std::chrono::duration_cast<std::chrono::microseconds>(protect ? protectTime : restoreTime)
            .count();
    const auto delay = std::chrono::microseconds(rng() % static_cast<uint32_t>(span + 1));
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Run(protect);
      ::_exit(0);
    }
    const timespec ts{static_cast<time_t>(delay.count() / 1000000),
                      static_cast<long>(delay.count() % 1000000) * 1000};
    ::nanosleep(&ts, nullptr);
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) ++killedMidway;
    CheckInvariant(round);
    if (HasFailure()) break;
  }
  EXPECT_GT(killedMidway, rounds / 4) << "the kills should mostly land inside the runs";

  // A clean run afterwards finishes the job and removes what the killed runs left.
  Run(false);
  CheckInvariant(rounds);
  for (const auto& [name, content] : m_originals) EXPECT_EQ(ReadBytes(P(name)), content);
  EXPECT_TRUE(TempNames(Dir()).empty());
}

}  // namespace
