// Mask language and settings files.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "common/bytes.h"
#include "common/safe_file.h"
#include "engine/digest.h"
#include "guard/encrypted_file.h"
#include "guard/encryption_settings.h"
#include "guard/volume_relocation.h"
#include "guard_test_util.h"

namespace {

using Strings = std::vector<std::string>;

TEST(SplitList, ElementsEndAtSeparatorsAndAnEmptyElementEndsTheSplitting) {
  EXPECT_EQ(SplitList("*.rar|*.zip|"), (Strings{"*.rar", "*.zip"}));
  EXPECT_EQ(SplitList("*.*"), (Strings{"*.*"}));
  EXPECT_EQ(SplitList("a|b"), (Strings{"a", "b"}));
  EXPECT_EQ(SplitList(""), Strings{});
  EXPECT_EQ(SplitList("|"), (Strings{"|"}));
  // A doubled separator: the elements before it, then the rest as one element.
  EXPECT_EQ(SplitList("*.rar||*.zip|"), (Strings{"*.rar", "|*.zip|"}));
  // A leading separator: one element, the whole text.
  EXPECT_EQ(SplitList("|*.rar|*.zip"), (Strings{"|*.rar|*.zip"}));
}

struct MaskCase {
  const char* path;
  const char* pattern;
  bool match;
};

TEST(MatchMask, OwnRulesIncludingTheOddOnes) {
  const MaskCase cases[] = {
      {"a.rar", "*.rar", true},
      {"a.rarx", "*.rar", true},  // a used-up pattern part matches a longer name part
      {"a.RAR", "*.rar", false},  // case matters
      {"a", "*.rar", false},      // no extension
      {"abc", "*.*", true},       // "*.*" matches names without a dot
      {".profile", "*.*", true},  // a leading dot does not split the name
      {"zde.tmp", "zde.tmp", true},
      {"zdex.tmp1", "zde.tmp", true},
      {"zd.tmp", "zde.tmp", false},
      {"list.dlt", ".dlt", true},  // a pattern starting with a dot is all extension
      {"list.dltx", ".dlt", true},
      {"list.dl", ".dlt", false},
      {"anything.at.all", "", true},  // an empty pattern matches everything
      {"VellumDef.dat", "Vellum*.*", true},
      {"Vellumguard.tmp", "Vellum*.*", true},
      {"vellumdef.dat", "Vellum*.*", false},
      {"ab.txt", "a?.txt", true},
      {"a.txt", "a?.txt", false},       // '?' needs a character
      {"/home/u/Docs/", "Doc?", true},  // folders are judged by their own name
      {"/home/u/report.~de", "*.~de", true},
      {"/a.b/c", "*.b", false},  // only the last component counts
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(MatchMask(c.path, c.pattern), c.match) << c.path << " vs " << c.pattern;
  }
}

TEST(MatchMask, QuestionMarkStandsForOneUtf16Unit) {
  EXPECT_TRUE(MatchMask("\xC3\xA9.txt", "?.txt"));          // é is one unit
  EXPECT_FALSE(MatchMask("\xC3\xA9", "??"));                // not two
  EXPECT_TRUE(MatchMask("\xF0\x9F\x98\x80", "??"));         // an emoji is two units
  EXPECT_FALSE(MatchMask("\xC3\xA9.TXT", "\xC3\xA9.txt"));  // case still matters
}

TEST(MatchMaskList, AnyPatternMatchesAndEmptyMatchesNothing) {
  EXPECT_FALSE(MatchMaskList("a.txt", ""));
  EXPECT_TRUE(MatchMaskList("a.zip", kDefaultNoZipMask));
  EXPECT_FALSE(MatchMaskList("x.RAR", kDefaultNoZipMask));  // compressed after all
  EXPECT_TRUE(MatchMaskList("VellumDef.dat", kOwnFilesMask));
  EXPECT_FALSE(MatchMaskList("vellumdef.dat", kOwnFilesMask));
  // The element made of a doubled separator and the rest matches nothing useful.
  EXPECT_TRUE(MatchMaskList("a.rar", "*.rar||*.zip|"));
  EXPECT_FALSE(MatchMaskList("a.zip", "*.rar||*.zip|"));
}

class SettingsFile : public GuardTest {
 protected:
  CEncryptionSettings Sample() {
    CEncryptionSettings s;
    const auto key = KeyOf("secret");
    s.SetDigest(key.data());
    s.m_zipLevel = 3;
    s.m_includeMask = "*.txt|*.doc|";
    s.m_excludeMask = "Vellum*.*|tmp*|";
    s.m_noZipMask = "*.zip|\xC3\xA9*.bin|";
    return s;
  }
  static void ExpectSame(const CEncryptionSettings& a, const CEncryptionSettings& b) {
    EXPECT_EQ(0, std::memcmp(a.m_digest, b.m_digest, 32));
    EXPECT_EQ(a.m_zipLevel, b.m_zipLevel);
    EXPECT_EQ(a.m_includeMask, b.m_includeMask);
    EXPECT_EQ(a.m_excludeMask, b.m_excludeMask);
    EXPECT_EQ(a.m_noZipMask, b.m_noZipMask);
  }
};

TEST_F(SettingsFile, DefaultsOfAFreshRecord) {
  CEncryptionSettings s;
  EXPECT_EQ(s.m_zipLevel, 6);
  EXPECT_EQ(s.m_includeMask, "*.*");
  EXPECT_EQ(s.m_excludeMask, "Vellum*.*|");
  EXPECT_EQ(s.m_noZipMask, "*.rar|*.zip|*.cab|*.mp3|*.wma|*.wmv|*.avi|*.jpg|*.pdf|");
  for (uint8_t b : s.m_digest) EXPECT_EQ(b, 0);
}

TEST_F(SettingsFile, SaveThenLoadGivesTheSameRecordAndLeavesNoTemporaryFile) {
  const std::string path = P("zde.tmp");
  ASSERT_TRUE(Sample().Save(path).ok());
  CEncryptionSettings loaded;
  ASSERT_TRUE(loaded.Load(path));
  ExpectSame(Sample(), loaded);
  EXPECT_EQ(ListNames(Dir()), (Strings{".home", "zde.tmp"}));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds the key digest
}

TEST_F(SettingsFile, PayloadLayoutIsMagicOwnPathUserDigestLevelMasks) {
  const CEncryptionSettings s = Sample();
  const std::vector<uint8_t> payload = s.BuildPayload("/dir/zde.tmp");
  ByteReader r(payload);
  uint8_t magic[4];
  ASSERT_TRUE(r.Bytes(magic, 4));
  EXPECT_EQ(0, std::memcmp(magic, "DST\n", 4));
  std::string own, user, inc, exc, nozip;
  uint8_t digest[32];
  int32_t level = 0;
  ASSERT_TRUE(r.CountedString(own) && r.CountedString(user) && r.Bytes(digest, 32) &&
              r.I32(level) && r.CountedString(inc) && r.CountedString(exc) &&
              r.CountedString(nozip));
  EXPECT_EQ(own, "dir/zde.tmp");  // the first character is left out
  EXPECT_EQ(level, 3);
  EXPECT_EQ(inc, s.m_includeMask);
  EXPECT_EQ(exc, s.m_excludeMask);
  EXPECT_EQ(nozip, s.m_noZipMask);
  EXPECT_EQ(r.Remaining(), 0u);
}

TEST_F(SettingsFile, ARecordIsRefusedForAnotherPathOrMagicOrPasswordAndStaysUnchanged) {
  const std::string path = P("zde.tmp");
  ASSERT_TRUE(Sample().Save(path).ok());
  // Copied into another folder: written for another path.
  MakeFolder(P("other"));
  WriteBytes(P("other/zde.tmp"), ReadBytes(path));
  CEncryptionSettings fresh;
  EXPECT_FALSE(fresh.Load(P("other/zde.tmp")));
  ExpectSame(CEncryptionSettings(), fresh);
  // The path compares without regard to ASCII case.
  const auto payload = Sample().BuildPayload(path);
  CEncryptionSettings byCase;
  std::string upper = path;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(byCase.ParsePayload(payload.data(), payload.size(), upper));
  // Another magic.
  auto other = payload;
  other[3] = 'X';
  ASSERT_TRUE(WriteEncryptedFile(path, kFixedPassword, other).ok());
  EXPECT_FALSE(fresh.Load(path));
  // Another password.
  ASSERT_TRUE(WriteEncryptedFile(path, "not the fixed one", payload).ok());
  EXPECT_FALSE(fresh.Load(path));
  // Not an encrypted stream at all, a missing file, a folder, a FIFO.
  WriteText(path, "plain text");
  EXPECT_FALSE(fresh.Load(path));
  EXPECT_FALSE(fresh.Load(P("missing")));
  EXPECT_FALSE(fresh.Load(Dir()));
  ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(fresh.Load(P("fifo")));
  ExpectSame(CEncryptionSettings(), fresh);
}

TEST_F(SettingsFile, ALevelAboveNineIsTakenAsStored) {
  CEncryptionSettings s = Sample();
  s.m_zipLevel = 42;
  ASSERT_TRUE(s.Save(P("zde.tmp")).ok());
  CEncryptionSettings loaded;
  ASSERT_TRUE(loaded.Load(P("zde.tmp")));
  EXPECT_EQ(loaded.m_zipLevel, 42);  // replaced by 6 where it is used
}

TEST_F(SettingsFile, EveryTruncationAndHostileCountsAreRefusedWithoutChange) {
  const std::string path = "/x/zde.tmp";
  const std::vector<uint8_t> payload = Sample().BuildPayload(path);
  for (size_t n = 0; n < payload.size(); ++n) {
    CEncryptionSettings s;
    EXPECT_FALSE(s.ParsePayload(payload.data(), n, path)) << n;
    ExpectSame(CEncryptionSettings(), s);
  }
  // Plant hostile counts at each counted string.
  const size_t ownCount = 4;
  for (uint32_t hostile : {0u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu}) {
    auto bad = payload;
    for (int k = 0; k < 4; ++k) bad[ownCount + k] = static_cast<uint8_t>(hostile >> (8 * k));
    CEncryptionSettings s;
    EXPECT_FALSE(s.ParsePayload(bad.data(), bad.size(), path));
  }
  // The last mask's count made one larger than the data.
  auto bad = payload;
  const size_t lastCount = bad.size() - 2 * (Sample().m_noZipMask.size() + 1) - 4;
  bad[lastCount] += 1;
  CEncryptionSettings s;
  EXPECT_FALSE(s.ParsePayload(bad.data(), bad.size(), path));
}

TEST_F(SettingsFile, AFailedSaveIsReportedAndLeavesTheOldFile) {
  EXPECT_FALSE(Sample().Save(P("no/such/folder/zde.tmp")).ok());
  const SysError why = Sample().Save(P("no/zde.tmp"));
  EXPECT_EQ(why.path, P("no/zde.tmp"));
  EXPECT_EQ(why.err, ENOENT);

  // The disk fills while a new settings file is written: the old one stays whole.
  const std::string path = P("zde.tmp");
  ASSERT_TRUE(Sample().Save(path).ok());
  const auto before = ReadBytes(path);
  CEncryptionSettings huge = Sample();
  huge.m_includeMask.assign(200000, 'x');
  const int rc = RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      65536, 65536
    };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    return huge.Save(path).ok() ? 0 : 1;
  });
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_TRUE(TempNames(Dir()).empty());
}

TEST_F(SettingsFile, ALargeFileIsNotReadIntoMemory) {
  // More payload than any settings file has: refused before reading it.
  const std::vector<uint8_t> big(kMaxSettingsPayload + 1, 'a');
  ASSERT_TRUE(WriteEncryptedFile(P("zde.tmp"), kFixedPassword, big).ok());
  std::vector<uint8_t> out;
  EXPECT_EQ(ReadEncryptedFile(P("zde.tmp"), kFixedPassword, kMaxSettingsPayload, out),
            ENCFILE_TOO_LARGE);
  EXPECT_TRUE(out.empty());
}

TEST_F(SettingsFile, VolumeRelocationSwapsTheMountPointOfAVolumeThatIsGone) {
  const std::string mount = P("media/bob/NEW");
  MakeFolder(mount + "/docs");
  const std::string old = P("media/bob/OLD/docs/a.txt");
  EXPECT_EQ(RelocateUnderMount(old, mount), mount + "/docs/a.txt");
  EXPECT_EQ(RelocateUnderMount(P("media/bob/OLD/docs/"), mount), mount + "/docs/");
  // The old volume is still there: nothing to relocate.
  MakeFolder(P("media/bob/OLD"));
  EXPECT_EQ(RelocateUnderMount(old, mount), "");
  // Not deeper than the mount point, another top folder, the root file system.
  EXPECT_EQ(RelocateUnderMount(P("media/bob"), mount), "");
  EXPECT_EQ(RelocateUnderMount("/elsewhere/bob/OLD/a.txt", mount), "");
  EXPECT_EQ(RelocateUnderMount(old, "/"), "");
  EXPECT_EQ(RelocateUnderMount("relative/a.txt", mount), "");
  EXPECT_EQ(MountPointOf("/"), "/");
  EXPECT_EQ(MountPointOf(P("missing")), "");
  const std::string m = MountPointOf(Dir());
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(Dir().rfind(m == "/" ? "/" : m + "/", 0), 0u) << m;
}

}  // namespace
