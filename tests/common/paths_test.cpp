#include "common/paths.h"

#include <filesystem>

#include <gtest/gtest.h>

TEST(Paths, ParentLastAndExtensionFollowTheSeparatorRules) {
  EXPECT_EQ(ParentFolder("/a/b/"), "/a/");
  EXPECT_EQ(ParentFolder("/a/b.txt"), "/a/");
  EXPECT_EQ(ParentFolder("b.txt"), "");
  EXPECT_EQ(ParentFolder("/"), "");
  EXPECT_EQ(LastPathComponent("/a/b/"), "b");
  EXPECT_EQ(LastPathComponent("/a/b.txt"), "b.txt");
  EXPECT_EQ(LastPathComponent("/a"), "a");  // an entry of the root: no separator in its name
  EXPECT_EQ(LastPathComponent("/a/"), "a");
  EXPECT_EQ(LastPathComponent("/"), "/");
  EXPECT_EQ(LastPathComponent("//"), "/");
  EXPECT_EQ(LastPathComponent("name"), "name");
  EXPECT_EQ(PathExtension("/a/b.tar.gz"), "gz");
  EXPECT_EQ(PathExtension(".profile"), ".profile");
  EXPECT_EQ(PathExtension("/a/b/"), "/a/b");  // no dot: the whole text less trailing "/"
  EXPECT_EQ(WithoutTrailingSlash("///"), "/");
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
}

TEST(Paths, ProtectedNamesAppendAndDropTheSuffix) {
  EXPECT_EQ(ProtectedPathOf("/x/report.txt"), "/x/report.txt.~de");
  EXPECT_EQ(PlainPathOf("/x/report.txt.~de"), "/x/report.txt");
  EXPECT_TRUE(IsProtectedPath("a.~de"));
  EXPECT_FALSE(IsProtectedPath("a.~DE"));
  EXPECT_EQ(PlainPathOf("ab"), "");
}

TEST(Paths, WildcardFollowsTheFileSystemSearch) {
  EXPECT_TRUE(WildcardMatch("Report.TXT", "*.txt"));
  EXPECT_TRUE(WildcardMatch("README", "*.*"));  // ".*" also matches names without a dot
  EXPECT_TRUE(WildcardMatch("a.b.c", "*.*"));
  EXPECT_TRUE(WildcardMatch("abc", "a?c"));
  EXPECT_FALSE(WildcardMatch("ac", "a?c"));
  EXPECT_FALSE(WildcardMatch("a.txt.~de", "*.txt"));
  EXPECT_TRUE(WildcardMatch("a.txt.~de", "*.~de"));
  EXPECT_TRUE(WildcardMatch("x", "*"));
  EXPECT_FALSE(WildcardMatch("x", ""));
  // Many stars against a long name stays fast and right (no exponential backtracking).
  EXPECT_FALSE(WildcardMatch(std::string(5000, 'a'), "*a*a*a*a*a*a*a*b"));
}

TEST(Paths, ProgramFolderHonoursTheHomeVariable) {
  const std::string home = ::testing::TempDir() + "vg-home-test";
  setenv("VELLUMGUARD_HOME", home.c_str(), 1);
  EXPECT_EQ(ProgramFolder(), home + "/");
  EXPECT_TRUE(IsFolder(home));
}

TEST(Paths, AnInstalledProgramFolderIsNotAPortableCopy) {
  const std::string root = ::testing::TempDir() + "vg-prefix-test";
  std::filesystem::create_directories(root + "/portable");
  std::filesystem::create_directories(root + "/usr/bin");
  std::filesystem::create_directories(root + "/usr/share/doc/vellumguard");
  EXPECT_TRUE(IsPortableProgramFolder(root + "/portable/"));
  // A writable bin folder of an installation (root running /usr/bin/vellumguard) keeps
  // the state and settings files out of it.
  EXPECT_FALSE(IsPortableProgramFolder(root + "/usr/bin/"));
  EXPECT_FALSE(IsPortableProgramFolder(root + "/missing/"));
}
