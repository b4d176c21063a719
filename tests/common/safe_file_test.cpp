#include "common/safe_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "common/paths.h"

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

TEST(SafeFile, FailedWriteKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  const std::string dir = MakeTempFolder();
  const std::string target = dir + "/keep.dat";
  ASSERT_TRUE(WriteFileAtomically(target, {'k'}).ok());
  ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
  const SysError e = WriteFileAtomically(target, {'x', 'y'});
  ::chmod(dir.c_str(), 0700);
  EXPECT_FALSE(e.ok());
  EXPECT_EQ(Slurp(target), "k");
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
