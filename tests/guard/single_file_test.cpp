// Protecting and restoring one file, the wipe, the progress step.
#include "guard/single_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "common/paths.h"
#include "engine/digest.h"
#include "engine/file_codec.h"
#include "fake_guard_ui.h"
#include "guard_test_util.h"
#include "tests/common/durable_calls.h"

namespace {

using Strings = std::vector<std::string>;

// The wipe as a marker-by-marker model: marker at every k * (stride + m) <= length.
std::vector<uint8_t> ModelWipe(std::vector<uint8_t> content, uint64_t stride) {
  const uint64_t length = content.size();
  const uint64_t m = kWipeMarker.size();
  for (uint64_t at = 0; at <= length; at += stride + m) {
    if (content.size() < at + m) content.resize(at + m, 0);
    std::memcpy(content.data() + at, kWipeMarker.data(), m);
  }
  return content;
}

// The whole content of an open file, which stays readable after its name is deleted: how
// a test sees what a wipe left on the disk (a second name would make the wipe refuse).
std::vector<uint8_t> ReadOpenFile(int fd) {
  struct stat st {};
  EXPECT_EQ(::fstat(fd, &st), 0);
  std::vector<uint8_t> out(static_cast<size_t>(st.st_size));
  EXPECT_EQ(::pread(fd, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
  return out;
}

struct WipeCalls {
  uint64_t calls = 0;
  uint64_t chunks = 0;
  int stopAfter = -1;
};

int CountWipe(uint64_t, uint64_t, uint64_t chunk, void* user) {
  auto* w = static_cast<WipeCalls*>(user);
  ++w->calls;
  w->chunks += chunk;
  return w->stopAfter < 0 || static_cast<int>(w->calls) < w->stopAfter;
}

class SingleFile : public GuardTest {
 protected:
  std::vector<uint8_t> m_key = KeyOf("pass word");

  // Protects name holding content; returns the result.
  int Protect(const std::string& name, FakeGuardUi& ui, int level = 6,
              IProgressWindow* progress = nullptr) {
    return EncryptOneFile(ui, P(name), m_key.data(), level, progress);
  }
};

TEST(WipeStride, ByTheLastThreeCharactersOfThePath) {
  EXPECT_EQ(WipeStrideFor("/d/a.doc"), 10u);
  EXPECT_EQ(WipeStrideFor("/d/a.DOC"), 10u);
  EXPECT_EQ(WipeStrideFor("/d/a.TxT"), 10u);
  EXPECT_EQ(WipeStrideFor("/d/a.xls"), 10u);
  EXPECT_EQ(WipeStrideFor("/d/notes.docx"), 30u);  // ends in "ocx"
  EXPECT_EQ(WipeStrideFor("/d/photo.jpeg"), 30u);  // ends in "peg"
  EXPECT_EQ(WipeStrideFor("/d/photo.jpg"), 200u);
  EXPECT_EQ(WipeStrideFor("/d/a.wmv"), 200u);
  EXPECT_EQ(WipeStrideFor("/d/ajpg"), 200u);  // no dot needed
  EXPECT_EQ(WipeStrideFor("/d/setup.EXE"), 300u);
  EXPECT_EQ(WipeStrideFor("/d/a.bin"), 30u);
  EXPECT_EQ(WipeStrideFor("ab"), 30u);
}

TEST(WipeMarker, IsNineteenBytes) {
  EXPECT_EQ(kWipeMarker.size(), 19u);
}

TEST_F(SingleFile, WipeWritesTheMarkersAtTheModelsOffsetsThenDeletes) {
  struct Case {
    size_t size;
    const char* name;
  };
  const Case cases[] = {{0, "empty.txt"},
                        {5, "short.bin"},
                        {19, "marker.bin"},
                        {1000, "x.txt"},
                        {1 << 20, "block.bin"},
                        {(1 << 20) + 7, "block7.exe"},
                        {(3 << 20) - 1, "three.zip"}};
  for (const Case& c : cases) {
    const std::string path = P(c.name);
    const auto content = RandomBytes(c.size, static_cast<uint32_t>(c.size));
    WriteBytes(path, content);
    const int keep = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(keep, 0);
    const uint64_t stride = WipeStrideFor(path);
    WipeCalls calls;
    EXPECT_EQ(WipeAndDeleteFile(path, kWipeMarker, stride, CountWipe, &calls), 1) << c.name;
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(ReadOpenFile(keep), ModelWipe(content, stride)) << c.name;
    ::close(keep);
    // One call per block; the chunks add up to what a call per marker would give.
    const uint64_t markers = c.size / (stride + 19) + 1;
    EXPECT_EQ(calls.chunks, markers * (stride + 19)) << c.name;
    EXPECT_LE(calls.calls, c.size / (1 << 20) + 1) << c.name;
    EXPECT_TRUE(TempNames(Dir()).empty());
  }
}

TEST_F(SingleFile, AStoppedWipeStillDeletesAndStrideZeroOnlyDeletes) {
  const auto content = RandomBytes(3 << 20);
  WriteBytes(P("a.bin"), content);
  const int keep = ::open(P("a.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(keep, 0);
  WipeCalls calls;
  calls.stopAfter = 1;
  EXPECT_EQ(WipeAndDeleteFile(P("a.bin"), kWipeMarker, 30, CountWipe, &calls), 1);
  EXPECT_EQ(calls.calls, 1u);
  EXPECT_FALSE(Exists(P("a.bin")));
  const auto kept = ReadOpenFile(keep);
  ::close(keep);
  EXPECT_EQ(0, std::memcmp(kept.data(), kWipeMarker.data(), 19));
  EXPECT_EQ(std::vector<uint8_t>(kept.end() - 100, kept.end()),
            std::vector<uint8_t>(content.end() - 100, content.end()));

  WriteBytes(P("b.bin"), content);
  const int keepB = ::open(P("b.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(keepB, 0);
  EXPECT_EQ(WipeAndDeleteFile(P("b.bin"), kWipeMarker, 0, CountWipe, &calls), 1);
  EXPECT_FALSE(Exists(P("b.bin")));
  EXPECT_EQ(ReadOpenFile(keepB), content);
  ::close(keepB);
}

TEST_F(SingleFile, WipeNeverGoesThroughALinkNorOpensAFifo) {
  const auto content = RandomBytes(5000);
  WriteBytes(P("target.txt"), content);
  ASSERT_EQ(::symlink(P("target.txt").c_str(), P("link.txt").c_str()), 0);
  EXPECT_EQ(WipeAndDeleteFile(P("link.txt"), kWipeMarker, 10, nullptr, nullptr), 0);
  EXPECT_TRUE(Exists(P("link.txt")));
  EXPECT_EQ(ReadBytes(P("target.txt")), content);
  ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);
  EXPECT_EQ(WipeAndDeleteFile(P("fifo"), kWipeMarker, 10, nullptr, nullptr), 0);
  EXPECT_TRUE(Exists(P("fifo")));
  EXPECT_EQ(WipeAndDeleteFile(P("missing"), kWipeMarker, 10, nullptr, nullptr), 0);
}

TEST_F(SingleFile, ProtectThenRestoreRoundTripsAroundTheBufferSizes) {
  FakeGuardUi ui;
  for (size_t size : {0u, 1u, 15u, 16u, 1023u, 1024u, 1039u, 1040u, 1041u, 100000u}) {
    const std::string name = std::to_string(size).append(".txt");
    const auto content = TextLike(size, static_cast<uint32_t>(size));
    WriteBytes(P(name), content);
    ASSERT_EQ(Protect(name, ui), ENCRYPT_DONE) << size;
    EXPECT_FALSE(Exists(P(name)));
    ASSERT_TRUE(Exists(P(name + ".~de")));
    uint8_t digest[32];
    std::memcpy(digest, m_key.data(), 32);
    ASSERT_EQ(DecryptOneFile(ui, P(name + ".~de"), digest, nullptr), DECRYPT_DONE) << size;
    EXPECT_EQ(ReadBytes(P(name)), content) << size;
    EXPECT_FALSE(Exists(P(name + ".~de")));
  }
  EXPECT_TRUE(ui.log.empty());
  EXPECT_TRUE(TempNames(Dir()).empty());
}

TEST_F(SingleFile, PermissionBitsTravelWithTheFile) {
  FakeGuardUi ui;
  WriteText(P("a.txt"), "private");
  ASSERT_EQ(::chmod(P("a.txt").c_str(), 0640), 0);
  ASSERT_EQ(Protect("a.txt", ui), ENCRYPT_DONE);
  struct stat st {};
  ASSERT_EQ(::stat(P("a.txt.~de").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  uint8_t digest[32];
  std::memcpy(digest, m_key.data(), 32);
  ASSERT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_DONE);
  ASSERT_EQ(::stat(P("a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SingleFile, AFailedProtectLeavesThePlainFileAndAnOlderProtectedFile) {
  FakeGuardUi ui;
  WriteText(P("a.txt"), "plain");
  WriteText(P("a.txt.~de"), "an older protected file");
  // Level 42 makes the codec fail before it has written anything useful.
  EXPECT_EQ(Protect("a.txt", ui, 42), ENCRYPT_FAILED);
  EXPECT_EQ(ReadText(P("a.txt")), "plain");
  EXPECT_EQ(ReadText(P("a.txt.~de")), "an older protected file");
  EXPECT_TRUE(TempNames(Dir()).empty());
  ASSERT_EQ(ui.log.size(), 1u);
  EXPECT_EQ(ui.log[0],
            "message Error Ok: Encryption error or can not access the file \"a.txt\"\n\n"
            "compression failed");
}

TEST_F(SingleFile, ProtectRefusesLinksAndMissingFilesNamingTheReason) {
  FakeGuardUi ui;
  WriteText(P("real.txt"), "real");
  ASSERT_EQ(::symlink(P("real.txt").c_str(), P("link.txt").c_str()), 0);
  EXPECT_EQ(Protect("link.txt", ui), ENCRYPT_FAILED);
  EXPECT_EQ(Protect("gone.txt", ui), ENCRYPT_FAILED);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0],
            "Encryption error or can not access the file \"link.txt\"\n\nIt is a symbolic link.");
  EXPECT_EQ(
      ui.messages[1],
      "Encryption error or can not access the file \"gone.txt\"\n\nNo such file or directory");
  EXPECT_EQ(ReadText(P("real.txt")), "real");
  EXPECT_FALSE(Exists(P("link.txt.~de")));
  EXPECT_FALSE(Exists(P("real.txt.~de")));

  // Nor is a protected file restored through a link: the link is refused for what it is.
  ASSERT_EQ(Protect("real.txt", ui), ENCRYPT_DONE);
  ASSERT_EQ(::symlink(P("real.txt.~de").c_str(), P("linked.txt.~de").c_str()), 0);
  std::vector<uint8_t> digest = m_key;
  EXPECT_EQ(DecryptOneFile(ui, P("linked.txt.~de"), digest.data(), nullptr), DECRYPT_FAILED);
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[2],
            "Decryption error or can not access the file \"linked.txt.~de\"\n\nIt is a symbolic "
            "link.");
  EXPECT_FALSE(Exists(P("linked.txt")));
  EXPECT_TRUE(Exists(P("real.txt.~de")));
}

TEST_F(SingleFile, CancelWhileProtectingLeavesEverythingAsItWas) {
  FakeGuardUi ui;
  const auto content = TextLike(200000);
  WriteBytes(P("a.txt"), content);
  WriteText(P("a.txt.~de"), "older");
  ui.cancelAfterSteps = 3;
  auto progress = ui.OpenProgress("Encrypting");
  EXPECT_EQ(Protect("a.txt", ui, 6, progress.get()), ENCRYPT_CANCELLED);
  EXPECT_EQ(ReadBytes(P("a.txt")), content);
  EXPECT_EQ(ReadText(P("a.txt.~de")), "older");
  EXPECT_TRUE(TempNames(Dir()).empty());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SingleFile, ProgressStepsTheBarByTenthsOfEachChunk) {
  FakeGuardUi ui;
  auto progress = ui.OpenProgress("Encrypting");
  EXPECT_EQ(ProgressStep(0, 0, 12345, progress.get()), 1);
  EXPECT_EQ(ui.barPosition, 1234u);
  EXPECT_EQ(ProgressStep(0, 0, 9, progress.get()), 1);
  EXPECT_EQ(ui.barPosition, 1234u);
  EXPECT_EQ(ProgressStep(0, 0, 5, nullptr), 1);
  ui.cancelled = true;
  EXPECT_EQ(ProgressStep(0, 0, 1000, progress.get()), 0);
  EXPECT_EQ(ui.barPosition, 1234u);

  // Protecting advances about two tenths of the size (encoding and wiping).
  FakeGuardUi run;
  const auto content = TextLike(500000);
  WriteBytes(P("b.txt"), content);
  auto window = run.OpenProgress("Encrypting");
  ASSERT_EQ(Protect("b.txt", run, 6, window.get()), ENCRYPT_DONE);
  EXPECT_NEAR(static_cast<double>(run.barPosition), 2 * 500000 / 10.0, 500000 / 10.0 * 0.05);
}

class Restore : public SingleFile {
 protected:
  void SetUp() override {
    SingleFile::SetUp();
    FakeGuardUi ui;
    m_content = TextLike(30000);
    WriteBytes(P("a.txt"), m_content);
    ASSERT_EQ(Protect("a.txt", ui), ENCRYPT_DONE);
    m_protected = ReadBytes(P("a.txt.~de"));
  }
  std::vector<uint8_t> m_content;
  std::vector<uint8_t> m_protected;
};

TEST_F(Restore, AWrongKeyAsksAtMostThreeTimesWithThePathAsPrompt) {
  FakeGuardUi ui;
  ui.passwords = {std::string("wrong"), std::string("also wrong"), std::string("still wrong")};
  uint8_t digest[32] = {};
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_FAILED);
  EXPECT_EQ(ui.prompts, (Strings{P("a.txt.~de"), P("a.txt.~de"), P("a.txt.~de")}));
  EXPECT_FALSE(Exists(P("a.txt")));
  EXPECT_EQ(ReadBytes(P("a.txt.~de")), m_protected);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(TempNames(Dir()).empty());
}

TEST_F(Restore, TheKeyTypedLastStaysInTheRunsBuffer) {
  FakeGuardUi ui;
  ui.passwords = {std::string("wrong"), std::string("pass word")};
  uint8_t digest[32] = {};
  auto progress = ui.OpenProgress("Decrypting");
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, progress.get()), DECRYPT_DONE);
  EXPECT_EQ(0, std::memcmp(digest, m_key.data(), 32));
  EXPECT_EQ(ReadBytes(P("a.txt")), m_content);
  // The window hides for every prompt and comes back after it.
  EXPECT_EQ(ui.Lines("hide").size(), 2u);
  EXPECT_EQ(ui.Lines("show").size(), 2u);
}

TEST_F(Restore, ACancelledPromptStopsAndTouchesNothing) {
  FakeGuardUi ui;
  ui.passwords = {std::nullopt};
  uint8_t digest[32] = {};
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_PROMPT_CANCELLED);
  EXPECT_FALSE(Exists(P("a.txt")));
  EXPECT_EQ(ReadBytes(P("a.txt.~de")), m_protected);
}

TEST_F(Restore, AFailedRestoreNeverDeletesAnExistingPlainFile) {
  FakeGuardUi ui;
  WriteText(P("a.txt"), "the user's newer file");
  ui.passwords = {std::string("x"), std::string("y"), std::string("z")};
  uint8_t digest[32] = {};
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_FAILED);
  EXPECT_EQ(ReadText(P("a.txt")), "the user's newer file");
  // Cancelled while decoding.
  std::memcpy(digest, m_key.data(), 32);
  auto progress = ui.OpenProgress("Decrypting");
  ui.cancelAfterSteps = 1;
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, progress.get()), DECRYPT_CANCELLED);
  EXPECT_EQ(ReadText(P("a.txt")), "the user's newer file");
  EXPECT_EQ(ReadBytes(P("a.txt.~de")), m_protected);
  EXPECT_TRUE(TempNames(Dir()).empty());
  // A successful restore replaces it.
  progress.reset();
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_DONE);
  EXPECT_EQ(ReadBytes(P("a.txt")), m_content);
}

// 32 zero bytes mean "no key": a file someone sealed under them is not restored without
// a password, whatever the run's key buffer holds at the start.
TEST_F(Restore, AFileSealedUnderTheZeroKeyAsksForAPassword) {
  WriteBytes(P("z.txt"), m_content);
  CFileCodec codec;
  codec.m_usePasswordText = 0;
  codec.m_source = P("z.txt");
  codec.m_destination = P("z.txt.~de");
  ASSERT_EQ(codec.Encode(), CODEC_OK);
  ASSERT_EQ(::unlink(P("z.txt").c_str()), 0);
  const auto sealed = ReadBytes(P("z.txt.~de"));
  FakeGuardUi ui;
  ui.passwords = {std::nullopt};
  uint8_t digest[32] = {};
  EXPECT_EQ(DecryptOneFile(ui, P("z.txt.~de"), digest, nullptr), DECRYPT_PROMPT_CANCELLED);
  EXPECT_EQ(ui.prompts, Strings{P("z.txt.~de")});
  EXPECT_FALSE(Exists(P("z.txt")));
  EXPECT_EQ(ReadBytes(P("z.txt.~de")), sealed);
}

TEST_F(Restore, AMissingProtectedFileIsToldAsMissing) {
  FakeGuardUi ui;
  uint8_t digest[32];
  std::memcpy(digest, m_key.data(), 32);
  EXPECT_EQ(DecryptOneFile(ui, P("gone.txt.~de"), digest, nullptr), DECRYPT_FAILED);
  EXPECT_EQ(ui.messages, Strings{"Decryption error or can not access the file \"gone.txt.~de\"\n\n"
                                 "No such file or directory"});
}

TEST_F(Restore, ARestoreReplacesALinkAtThePlainNameInsteadOfWritingThroughIt) {
  FakeGuardUi ui;
  WriteText(P("outside"), "not to be touched");
  ASSERT_EQ(::symlink(P("outside").c_str(), P("a.txt").c_str()), 0);
  uint8_t digest[32];
  std::memcpy(digest, m_key.data(), 32);
  EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_DONE);
  EXPECT_EQ(ReadText(P("outside")), "not to be touched");
  struct stat st {};
  ASSERT_EQ(::lstat(P("a.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadBytes(P("a.txt")), m_content);
}

// A protected file damaged anywhere: the restore fails with -4, the protected file stays
// as it is, and no plain or temporary file is left.
TEST_F(Restore, DamagedProtectedFilesFailCleanly) {
  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
    bool asksForPassword;  // the header check or the magic fails: it looks like a wrong key
  };
  const size_t n = m_protected.size();
  const std::vector<Damage> damages = {
      {"empty", [](auto& b) { b.clear(); }, true},
      {"cut in the header", [](auto& b) { b.resize(10); }, true},
      {"header only", [](auto& b) { b.resize(18); }, false},
      {"cut in the magic", [](auto& b) { b.resize(20); }, false},
      {"cut after the magic", [](auto& b) { b.resize(22); }, true},  // read as a masked tail
      {"cut in half", [n](auto& b) { b.resize(n / 2); }, false},
      {"last byte missing", [n](auto& b) { b.resize(n - 1); }, false},
      {"check byte flipped", [](auto& b) { b[0] ^= 0x01; }, true},
      {"IV byte flipped", [](auto& b) { b[5] ^= 0x80; }, true},
      {"magic block flipped", [](auto& b) { b[18] ^= 0x04; }, true},
      {"zlib stream flipped", [n](auto& b) { b[n / 2] ^= 0x10; }, false},
      {"trailer flipped", [n](auto& b) { b[n - 3] ^= 0x01; }, false},
  };
  for (const Damage& d : damages) {
    auto bytes = m_protected;
    d.apply(bytes);
    WriteBytes(P("a.txt.~de"), bytes);
    FakeGuardUi ui;
    ui.passwords = {std::string("pass word"), std::string("pass word"), std::string("pass word")};
    uint8_t digest[32];
    std::memcpy(digest, m_key.data(), 32);
    EXPECT_EQ(DecryptOneFile(ui, P("a.txt.~de"), digest, nullptr), DECRYPT_FAILED) << d.what;
    EXPECT_EQ(ReadBytes(P("a.txt.~de")), bytes) << d.what;
    EXPECT_FALSE(Exists(P("a.txt"))) << d.what;
    EXPECT_TRUE(TempNames(Dir()).empty()) << d.what;
    EXPECT_EQ(ui.prompts.size(), d.asksForPassword ? 3u : 0u) << d.what;
    // Three wrong passwords stay silent; anything else tells the user why.
    ASSERT_EQ(ui.messages.size(), d.asksForPassword ? 0u : 1u) << d.what;
    if (!d.asksForPassword) {
      EXPECT_NE(ui.messages[0].find("damaged or not a protected file"), std::string::npos)
          << d.what << ": " << ui.messages[0];
    }
  }
}

// The disk fills while protecting: a clear failure, the plain file intact, no protected or
// temporary file left. RLIMIT_FSIZE in a child stands in for a full disk.
TEST_F(SingleFile, DiskFullWhileProtectingFailsCleanly) {
  const auto content = RandomBytes(400000);
  WriteBytes(P("big.bin"), content);
  WriteText(P("older.bin.~de"), "");
  const int rc = RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      100000, 100000
    };
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 99;
    FakeGuardUi ui;
    const int r = EncryptOneFile(ui, P("big.bin"), m_key.data(), 6, nullptr);
    if (r != ENCRYPT_FAILED || ui.messages.size() != 1) return 10;
    const std::string want =
        "Encryption error or can not access the file \"big.bin\"\n\nFile too large";
    return ui.messages[0] == want ? 0 : 11;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadBytes(P("big.bin")), content);
  EXPECT_FALSE(Exists(P("big.bin.~de")));
  EXPECT_TRUE(TempNames(Dir()).empty());
}

// The overwriting of the plain file fails after its protected file is durable: the file
// still goes, but the user is told it was not wiped and it is not counted as done.
TEST_F(SingleFile, AFailedOverwriteIsToldAsNotWiped) {
  FakeGuardUi ui;
  const auto content = RandomBytes(5000);
  WriteBytes(P("a.bin"), content);
  {
    DurableCallLog log("pwrite", ENOSPC);
    EXPECT_EQ(Protect("a.bin", ui), ENCRYPT_NOT_WIPED);
  }
  EXPECT_EQ(ui.messages, Strings{"\"a.bin\" was protected into \"a.bin.~de\" but not wiped: No "
                                 "space left on device"});
  EXPECT_FALSE(Exists(P("a.bin")));
  EXPECT_TRUE(TempNames(Dir()).empty());
  uint8_t digest[32];
  std::memcpy(digest, m_key.data(), 32);
  ASSERT_EQ(DecryptOneFile(ui, P("a.bin.~de"), digest, nullptr), DECRYPT_DONE);
  EXPECT_EQ(ReadBytes(P("a.bin")), content);
}

TEST_F(SingleFile, DiskFullWhileRestoringKeepsTheProtectedFile) {
  FakeGuardUi ui;
  const auto content = RandomBytes(400000);
  WriteBytes(P("big.bin"), content);
  ASSERT_EQ(Protect("big.bin", ui, 0), ENCRYPT_DONE);
  const auto protectedBytes = ReadBytes(P("big.bin.~de"));
  const int rc = RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      100000, 100000
    };
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 99;
    FakeGuardUi child;
    uint8_t digest[32];
    std::memcpy(digest, m_key.data(), 32);
    return DecryptOneFile(child, P("big.bin.~de"), digest, nullptr) == DECRYPT_FAILED ? 0 : 10;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadBytes(P("big.bin.~de")), protectedBytes);
  EXPECT_FALSE(Exists(P("big.bin")));
  EXPECT_TRUE(TempNames(Dir()).empty());
}

}  // namespace
