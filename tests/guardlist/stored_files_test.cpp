// The stored-file vectors of tests/data: files this program wrote, each read back and
// compared with the values decoded from it by hand (docs/FORMAT.md) that the .expected
// file beside it holds.
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/digest.h"
#include "guard/encrypted_file.h"
#include "guard/encryption_settings.h"
#include "guard_test_util.h"
#include "guardlist/app_state.h"
#include "guardlist/explorer_doc.h"

namespace {

using Values = std::map<std::string, std::string>;

std::string Data(const std::string& name) {
  return std::string(VG_TEST_DATA) + "/" + name;
}

// "name: value" lines; "#" starts a comment line.
Values Expected(const std::string& name) {
  Values values;
  std::ifstream in(Data(name + ".expected"));
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
    values[line.substr(0, colon)] = line.substr(colon + 2);
  }
  EXPECT_FALSE(values.empty()) << name;
  return values;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string s;
  char buf[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    s += buf;
  }
  return s;
}

template <typename T>
std::string Joined(const T* values, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (i ? " " : "") + std::to_string(values[i]);
  return s;
}

// A settings file as the program reads it at the path it was written for; a copy read
// at any other path is refused.
Values SettingsValues(const std::string& name, const std::string& ownPath) {
  std::vector<uint8_t> payload;
  if (ReadEncryptedFile(Data(name), kFixedPassword, kMaxSettingsPayload, payload) != ENCFILE_OK)
    return {{"error", "not an encrypted file"}};
  CEncryptionSettings other;
  EXPECT_FALSE(other.ParsePayload(payload.data(), payload.size(), ownPath + ".elsewhere"));
  CEncryptionSettings s;
  if (!s.ParsePayload(payload.data(), payload.size(), ownPath)) return {{"error", "refused"}};
  return {{"path", ownPath},
          {"key", Hex(s.m_digest, sizeof s.m_digest)},
          {"level", std::to_string(s.m_zipLevel)},
          {"include", s.m_includeMask},
          {"exclude", s.m_excludeMask},
          {"no-zip", s.m_noZipMask}};
}

Values ListValues(const std::string& name) {
  CExplorerDoc doc;
  SysError error;
  if (doc.Load(Data(name), &error) != LIST_LOADED) return {{"error", error.Describe("load")}};
  // Parse, then write: the same payload.
  std::vector<uint8_t> payload;
  EXPECT_EQ(ReadEncryptedFile(Data(name), kFixedPassword, 1 << 20, payload), ENCFILE_OK);
  EXPECT_EQ(doc.BuildPayload(), payload);
  Values v = {{"key", Hex(doc.m_digest, sizeof doc.m_digest)},
              {"level", std::to_string(doc.m_zipLevel)},
              {"include", doc.m_includeMask},
              {"exclude", doc.m_excludeMask},
              {"no-zip", doc.m_noZipMask},
              {"items", std::to_string(doc.m_items.size())}};
  for (size_t i = 0; i < doc.m_items.size(); ++i) {
    const CGuardItem& item = doc.m_items[i];
    v["item " + std::to_string(i)] =
        "path=" + item.m_path + " folder=" + std::to_string(item.m_folder) +
        " subfolders=" + std::to_string(item.m_subfolders) +
        " state=" + std::to_string(item.m_state) + " include=" + item.m_includeMask +
        " exclude=" + item.m_excludeMask;
  }
  return v;
}

Values StateValues(const std::string& name) {
  AppState state;
  ResetAppState(state);
  KnownListPaths known;
  if (!LoadAppState(state, known, Data(name))) return {{"error", "not read"}};
  EXPECT_EQ(BuildAppStateBytes(state, known), ReadBytes(Data(name)));
  std::string lists;
  for (const std::string& path : known) lists += (lists.empty() ? "" : " ") + path;
  return {
      {"window", Joined(state.windowRect, 4)},
      {"panes", std::to_string(state.topPaneHeight) + " " + std::to_string(state.treePaneWidth) +
                    " " + std::to_string(state.filePaneWidth)},
      {"guard list columns", Joined(state.guardListColumns, 10)},
      {"file list columns", Joined(state.fileListColumns, 10)},
      {"known lists", lists}};
}

Values ProtectedValues(const std::string& name, const std::string& password,
                       const std::string& scratch) {
  bool ok = false;
  const std::vector<uint8_t> plain = DecodeToMemory(Data(name), password, scratch, ok);
  if (!ok) return {{"error", "not restored"}};
  uint8_t sha[32];
  ComputeDigest(sha, plain.data(), plain.size(), 32);
  return {{"password", password},
          {"size", std::to_string(plain.size())},
          {"sha256", Hex(sha, sizeof sha)}};
}

TEST_F(GuardTest, StoredFileVectorsDecodeToTheValuesBesideThem) {
  const Values protectedFile = Expected("report.txt.~de");
  EXPECT_EQ(ProtectedValues("report.txt.~de", protectedFile.at("password"), P("restored")),
            protectedFile);
  for (const char* name : {"zde.tmp", "VellumDef.dat"}) {
    const Values want = Expected(name);
    EXPECT_EQ(SettingsValues(name, want.at("path")), want) << name;
  }
  EXPECT_EQ(ListValues("guard.dlt"), Expected("guard.dlt"));
  EXPECT_EQ(StateValues("Vellumguard.dat"), Expected("Vellumguard.dat"));
}

}  // namespace
