#include "common/safe_file.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "common/fd_io.h"
#include "common/paths.h"
#include "tests/common/child_process.h"
#include "tests/common/durable_calls.h"

namespace {
std::string MakeTempFolder() {
  std::string tmpl = ::testing::TempDir() + "vg-safe-XXXXXX";
  EXPECT_NE(::mkdtemp(tmpl.data()), nullptr);
  return tmpl;
}
std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
}  // namespace

TEST(SafeFile, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
  const std::string dir = MakeTempFolder();
  const std::string target = dir + "/list.dlt";
  ASSERT_TRUE(WriteFileAtomically(target, {'o', 'l', 'd'}).ok());
  ASSERT_TRUE(WriteFileAtomically(target, {'n', 'e', 'w', '!'}).ok());
  EXPECT_EQ(Slurp(target), "new!");
  EXPECT_EQ(RemoveStaleTempFiles(dir), 0);
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadWholeFile(target, 100, back).ok());
  EXPECT_EQ(back.size(), 4u);
  EXPECT_EQ(ReadWholeFile(target, 3, back).err, EFBIG);
}

// A disk that fills during the write (a file size limit, which binds root too) leaves
// the old file and no temporary file, and says why.
TEST(SafeFile, FailedWriteKeepsTheOldFile) {
  const std::string dir = MakeTempFolder();
  const std::string target = dir + "/keep.dat";
  ASSERT_TRUE(WriteFileAtomically(target, {'k'}).ok());
  const std::vector<uint8_t> large(100000, 'x');
  const int rc = RunWithFileSizeLimit(4096, [&] {
    const SysError e = WriteFileAtomically(target, large);
    return e.err == EFBIG && e.path == target ? 0 : 1;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Slurp(target), "k");
  EXPECT_EQ(RemoveStaleTempFiles(dir), 0);  // nothing was left behind to remove
}

// The new content is synced before it takes the name, and the folder after: a crash at
// any moment leaves either the old file or the whole new one. Each step that fails
// leaves the old file (the folder sync comes after the rename: the error says so).
TEST(SafeFile, WritesAreSyncedBeforeTheRenameAndTheFolderAfter) {
  const std::string dir = MakeTempFolder();
  const std::string target = dir + "/state.dat";
  const std::vector<std::string> order = {"write", "fsync file", "rename", "fsync folder"};
  {
    DurableCallLog log;
    ASSERT_TRUE(WriteFileAtomically(target, {'o', 'l', 'd'}).ok());
    EXPECT_EQ(log.Steps(), order);
    ASSERT_EQ(log.Renames().size(), 1u);
    EXPECT_EQ(log.Renames()[0].second, target);
  }
  {
    // The other crash-safe path: a temporary file written elsewhere, then committed.
    std::string temp;
    const int fd = CreateTempFile(target, temp);
    ASSERT_GE(fd, 0);
    DurableCallLog log;
    ASSERT_TRUE(WriteAll(fd, "new", 3));
    ::close(fd);
    ASSERT_TRUE(CommitTempFile(temp, target).ok());
    EXPECT_EQ(log.Steps(), order);
  }
  EXPECT_EQ(Slurp(target), "new");
  for (const char* step : {"write", "fsync file", "rename"}) {
    DurableCallLog log(step, ENOSPC);
    const SysError e = WriteFileAtomically(target, {'b', 'a', 'd'});
    EXPECT_EQ(e.err, ENOSPC) << step;
    EXPECT_EQ(e.path, target) << step;
    EXPECT_EQ(Slurp(target), "new") << step;
  }
  // The folder's sync fails after the rename: the error says the file was replaced.
  DurableCallLog log("fsync folder", EIO);
  const SysError e = WriteFileAtomically(target, {'l', 'a', 's', 't'});
  EXPECT_EQ(e.err, EIO);
  EXPECT_TRUE(e.replaced);
  EXPECT_EQ(e.path, target);
  EXPECT_NE(e.Reason().find("the new file is in place"), std::string::npos);
  EXPECT_EQ(Slurp(target), "last");
  EXPECT_EQ(RemoveStaleTempFiles(dir), 0);
}

TEST(SafeFile, TemporaryNamesAreRecognisedAndStaleOnesRemoved) {
  const std::string dir = MakeTempFolder();
  const std::string temp = TempPathFor(dir + "/a.txt.~de");
  EXPECT_EQ(ParentFolder(temp), dir + "/");
  EXPECT_TRUE(IsTempName(temp));
  EXPECT_FALSE(IsTempName(dir + "/a.txt"));
  // A leftover of a process that no longer exists (pid 0 is never a live writer here).
  const std::string stale = dir + "/.vgtmp.a.txt.999999999-1";
  std::ofstream(stale) << "x";
  std::ofstream(temp) << "mine";  // our own, still running: kept
  EXPECT_EQ(RemoveStaleTempFiles(dir), 1);
  EXPECT_FALSE(FileExists(stale));
  EXPECT_TRUE(FileExists(temp));
}

// A signal that arrives while a read waits (a terminal resized, a child ended) must not
// end the read early or fail it.
TEST(FdIo, ReadsSurviveSignals) {
  struct sigaction sa {};
  struct sigaction old {};
  sa.sa_handler = [](int) {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a waiting read fails with EINTR unless it is repeated
  ASSERT_EQ(0, ::sigaction(SIGUSR1, &sa, &old));
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  const pthread_t reader = ::pthread_self();
  std::thread writer([&] {
    ::usleep(100000);
    ::pthread_kill(reader, SIGUSR1);
    ::usleep(100000);
    EXPECT_TRUE(WriteAll(fds[1], "ab", 2));
    ::usleep(100000);
    ::pthread_kill(reader, SIGUSR1);
    ::usleep(100000);
    EXPECT_TRUE(WriteAll(fds[1], "cd", 2));
  });
  char buf[4] = {};
  EXPECT_EQ(ReadFull(fds[0], buf, 4), 4);
  writer.join();
  EXPECT_EQ(std::string(buf, 4), "abcd");
  ::close(fds[0]);
  ::close(fds[1]);
  ::sigaction(SIGUSR1, &old, nullptr);
}
