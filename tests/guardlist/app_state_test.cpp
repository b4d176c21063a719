// The application state file.
#include "guardlist/app_state.h"

#include <cstring>

#include "common/bytes.h"
#include "common/paths.h"
#include "guard_test_util.h"

namespace {

using Strings = std::vector<std::string>;

class State : public GuardTest {
 protected:
  AppState Sample() {
    AppState s;
    ResetAppState(s);
    s.windowRect[0] = -5;
    s.windowRect[2] = 1920;
    s.topPaneHeight = 222;
    s.guardListColumns[9] = 77;
    s.fileListColumns[0] = 301;
    return s;
  }
};

TEST_F(State, DefaultsOfAFirstStart) {
  AppState s;
  std::memset(&s, 0x55, sizeof s);
  ResetAppState(s);
  EXPECT_EQ(std::vector<int32_t>(s.windowRect, s.windowRect + 4),
            (std::vector<int32_t>{0, 0, 750, 550}));
  EXPECT_EQ(s.topPaneHeight, 130);
  EXPECT_EQ(s.treePaneWidth, 200);
  EXPECT_EQ(s.filePaneWidth, 100);
  EXPECT_EQ(std::vector<int32_t>(s.guardListColumns, s.guardListColumns + 10),
            (std::vector<int32_t>{35, 180, 320, 50, 100, 50, 50, 50, 50, 50}));
  EXPECT_EQ(std::vector<int32_t>(s.fileListColumns, s.fileListColumns + 10),
            (std::vector<int32_t>{250, 80, 150, 130, 100, 50, 50, 50, 50, 50}));
  AppState loaded;
  KnownListPaths paths;
  EXPECT_FALSE(LoadAppState(loaded, paths));  // no file yet
  EXPECT_EQ(AppStatePath(), Home() + "/Vellumguard.dat");
}

TEST_F(State, SaveThenLoadRoundTripsAndTheLayoutIsFixed) {
  // The second name is not UTF-8 (Latin-1 "two" with an o-umlaut): one unit, kept exactly.
  WriteText(P("one.dlt"), "x");
  WriteText(P("tw\xF6.dlt"), "x");
  KnownListPaths paths;
  EXPECT_TRUE(RememberListPath(paths, P("one.dlt")));
  EXPECT_TRUE(RememberListPath(paths, P("tw\xF6.dlt")));
  ASSERT_TRUE(SaveAppState(Sample(), paths));
  const auto bytes = ReadBytes(AppStatePath());
  ASSERT_GE(bytes.size(), 112u);
  int32_t v = 0;
  std::memcpy(&v, &bytes[0], 4);
  EXPECT_EQ(v, -5);
  std::memcpy(&v, &bytes[16], 4);
  EXPECT_EQ(v, 222);
  std::memcpy(&v, &bytes[28 + 36], 4);
  EXPECT_EQ(v, 77);
  std::memcpy(&v, &bytes[68], 4);
  EXPECT_EQ(v, 301);
  std::memcpy(&v, &bytes[108], 4);
  EXPECT_EQ(v, 2);
  std::memcpy(&v, &bytes[112], 4);
  EXPECT_EQ(v, static_cast<int32_t>(P("one.dlt").size() + 1));
  EXPECT_EQ(bytes.size(), 112u + 2 * (4 + 2 * (P("one.dlt").size() + 1)));

  AppState loaded;
  ResetAppState(loaded);
  KnownListPaths back;
  ASSERT_TRUE(LoadAppState(loaded, back));
  const AppState sample = Sample();
  EXPECT_EQ(0, std::memcmp(&loaded, &sample, sizeof loaded));
  EXPECT_EQ(back, paths);
  EXPECT_EQ(BuildAppStateBytes(loaded, back), bytes);
  EXPECT_TRUE(TempNames(Home()).empty());
}

TEST_F(State, RememberedPathsAreUniqueWithoutRegardToCaseAndMustExist) {
  WriteText(P("List.dlt"), "x");
  KnownListPaths paths;
  EXPECT_TRUE(RememberListPath(paths, P("List.dlt")));
  EXPECT_FALSE(RememberListPath(paths, P("List.dlt")));
  EXPECT_FALSE(RememberListPath(paths, P("LIST.DLT")));
  EXPECT_FALSE(RememberListPath(paths, P("missing.dlt")));
  EXPECT_FALSE(RememberListPath(paths, ""));
  EXPECT_FALSE(RememberListPath(paths, "/" + std::string(kMaxListPathLength, 'a')));
  EXPECT_EQ(paths, Strings{P("List.dlt")});
}

TEST_F(State, DamagedFilesFailButKeepWhatWasReadBefore) {
  WriteText(P("a.dlt"), "x");
  WriteText(P("b.dlt"), "x");
  const auto good = BuildAppStateBytes(Sample(), {P("a.dlt"), P("gone.dlt"), P("b.dlt")});
  AppState s;
  KnownListPaths paths;
  // A path that no longer exists is dropped; the others are known.
  ASSERT_TRUE(ParseAppStateBytes(good.data(), good.size(), s, paths));
  EXPECT_EQ(paths, (Strings{P("a.dlt"), P("b.dlt")}));

  // Cut in the geometry: false, the blocks before keep the values read.
  ResetAppState(s);
  paths.clear();
  EXPECT_FALSE(ParseAppStateBytes(good.data(), 20, s, paths));
  EXPECT_EQ(s.windowRect[0], -5);
  EXPECT_EQ(s.topPaneHeight, 130);
  // No count: true, no paths.
  EXPECT_TRUE(ParseAppStateBytes(good.data(), 108, s, paths));
  EXPECT_TRUE(paths.empty());
  // Cut inside the second record: false, the first path stays known.
  const size_t firstEnd = 112 + 4 + 2 * (P("a.dlt").size() + 1);
  EXPECT_FALSE(ParseAppStateBytes(good.data(), firstEnd + 6, s, paths));
  EXPECT_EQ(paths, Strings{P("a.dlt")});
  // Every other cut: no crash, and a failure unless it ends between records.
  for (size_t n = 0; n < good.size(); ++n) {
    KnownListPaths p;
    const bool ok = ParseAppStateBytes(good.data(), n, s, p);
    EXPECT_EQ(ok, n >= 108 && n < 112) << n;  // a missing or partial count: no paths
  }
  // A record with count 0, and hostile counts.
  auto zero = good;
  std::memset(&zero[112], 0, 4);
  paths.clear();
  EXPECT_FALSE(ParseAppStateBytes(zero.data(), zero.size(), s, paths));
  for (uint32_t hostile : {0xFFFFFFFFu, 0x80000000u, 100000u}) {
    auto bad = good;
    std::memcpy(&bad[108], &hostile, 4);  // more records than there are
    paths.clear();
    EXPECT_FALSE(ParseAppStateBytes(bad.data(), bad.size(), s, paths));
    EXPECT_EQ(paths.size(), 2u);
    bad = good;
    std::memcpy(&bad[112], &hostile, 4);  // a record longer than the data
    paths.clear();
    EXPECT_FALSE(ParseAppStateBytes(bad.data(), bad.size(), s, paths));
    EXPECT_TRUE(paths.empty());
  }
}

TEST_F(State, ATextEndsAtItsFirstZeroUnit) {
  WriteText(P("a.dlt"), "x");
  std::vector<uint8_t> bytes = BuildAppStateBytes(Sample(), {});
  const std::string path = P("a.dlt");
  const uint32_t units = static_cast<uint32_t>(path.size() + 3);  // two extra units after
  bytes[108] = 1;
  for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<uint8_t>(units >> (8 * k)));
  for (char c : path) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  for (int b : {0, 0, int('z'), 0, int('z'), 0})
    bytes.push_back(static_cast<uint8_t>(b));  // no final zero unit
  AppState s;
  KnownListPaths paths;
  EXPECT_TRUE(ParseAppStateBytes(bytes.data(), bytes.size(), s, paths));
  EXPECT_EQ(paths, Strings{path});
}

TEST_F(State, AFailedSaveReportsFalseAndKeepsTheOldFile) {
  ASSERT_TRUE(SaveAppState(Sample(), {}));
  const auto before = ReadBytes(AppStatePath());
  AppState other;
  ResetAppState(other);
  EXPECT_FALSE(SaveAppState(other, {}, P("no/such/Vellumguard.dat")));
  EXPECT_EQ(ReadBytes(AppStatePath()), before);
  // A huge or non-regular state file is not read.
  KnownListPaths none;
  EXPECT_FALSE(LoadAppState(other, none, Dir()));
}

}  // namespace
