// The guard list document: items, settings, the ".dlt" file, sorting, status texts.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <random>

#include "common/bytes.h"
#include "common/paths.h"
#include "common/text.h"
#include "engine/digest.h"
#include "fake_guard_ui.h"
#include "guard/encrypted_file.h"
#include "guard/encryption_settings.h"
#include "guard_test_util.h"
#include "guardlist/explorer_doc.h"

namespace {

using Strings = std::vector<std::string>;

class ListDoc : public GuardTest {
 protected:
  void Fill(CExplorerDoc& doc) {
    const auto key = KeyOf("list key");
    std::memcpy(doc.m_digest, key.data(), 32);
    doc.m_zipLevel = 4;
    doc.m_includeMask = "*.*|";
    doc.m_excludeMask = "Vellum*.*|*.bak|";
    doc.m_noZipMask = "*.zip|";
    MakeFolder(P("docs/sub"));
    WriteText(P("docs/a.txt"), "a");
    WriteText(P("b.txt"), "b");
    CGuardItem folder(P("docs/"), 1);
    folder.m_includeMask = "*.txt|";
    folder.m_excludeMask = "x*|";
    folder.m_subfolders = 1;
    folder.m_state = 3;
    ASSERT_EQ(doc.AddItem(folder), 0);
    CGuardItem file(P("b.txt"), 0);
    file.m_state = 1;
    ASSERT_EQ(doc.AddItem(file), 1);
    ASSERT_EQ(doc.AddItem(CGuardItem(P("gone/\xC3\xA9t\xC3\xA9.doc"), 0)), 2);
    // A name from a system that is not UTF-8 (Latin-1 "ete") is kept byte for byte.
    ASSERT_EQ(doc.AddItem(CGuardItem(P("gone/\xE9t\xE9.doc"), 0)), 3);
  }
  static void ExpectSame(const CExplorerDoc& a, const CExplorerDoc& b) {
    EXPECT_EQ(0, std::memcmp(a.m_digest, b.m_digest, 32));
    EXPECT_EQ(a.m_zipLevel, b.m_zipLevel);
    EXPECT_EQ(a.m_includeMask, b.m_includeMask);
    EXPECT_EQ(a.m_excludeMask, b.m_excludeMask);
    EXPECT_EQ(a.m_noZipMask, b.m_noZipMask);
    ASSERT_EQ(a.m_items.size(), b.m_items.size());
    for (size_t i = 0; i < a.m_items.size(); ++i) {
      const CGuardItem& x = a.m_items[i];
      const CGuardItem& y = b.m_items[i];
      EXPECT_EQ(x.m_path, y.m_path);
      EXPECT_EQ(x.m_folder, y.m_folder);
      EXPECT_EQ(x.m_subfolders, y.m_subfolders);
      EXPECT_EQ(x.m_state, y.m_state);
      EXPECT_EQ(x.m_includeMask, y.m_includeMask);
      EXPECT_EQ(x.m_excludeMask, y.m_excludeMask);
    }
  }
};

TEST_F(ListDoc, StoreAndLoadKeepItemsFlagsMasksLevelDigestAndStates) {
  CExplorerDoc doc;
  Fill(doc);
  EXPECT_TRUE(doc.IsModified());
  ASSERT_TRUE(doc.Store(P("my.dlt")).ok());
  CExplorerDoc loaded;
  EXPECT_EQ(loaded.Load(P("my.dlt")), LIST_LOADED);
  ExpectSame(doc, loaded);
  EXPECT_FALSE(loaded.IsModified());
  // No scratch file anywhere, no temporary file beside the list.
  EXPECT_TRUE(ListNames(Home()).empty());
  EXPECT_TRUE(TempNames(Dir()).empty());
  // Parse then build gives the same bytes.
  EXPECT_EQ(loaded.BuildPayload(), doc.BuildPayload());

  // An item with a relative path would name whatever the working folder holds, one with
  // "." or ".." a place beside the folder it shows: dropped, and the list is damaged.
  for (const std::string& bad : {std::string("relative/b.txt"), P("sub/../../etc/passwd"),
                                 P("./b.txt"), P("sub/.."), std::string("/../b")}) {
    CExplorerDoc hostile;
    Fill(hostile);
    hostile.m_items.insert(hostile.m_items.begin() + 1, CGuardItem(bad, 0));
    const auto withBad = hostile.BuildPayload();
    CExplorerDoc refused;
    EXPECT_EQ(refused.ParsePayload(withBad.data(), withBad.size(), P("my.dlt")), LIST_DAMAGED)
        << bad;
    EXPECT_EQ(refused.m_items.size(), loaded.m_items.size()) << bad;
    EXPECT_EQ(refused.FindItem(bad), -1) << bad;
  }
}

TEST_F(ListDoc, PayloadLayout) {
  CExplorerDoc doc;
  doc.m_items.push_back(CGuardItem("/f", 0));
  const auto bytes = doc.BuildPayload();
  ByteReader r(bytes);
  uint8_t magic[4], digest[32];
  int32_t level = -1, count = -1, folder = -1, sub = -1, state = -1;
  std::string inc, exc, nozip, path, iinc, iexc;
  ASSERT_TRUE(r.Bytes(magic, 4) && r.Bytes(digest, 32) && r.I32(level) && r.CountedString(inc) &&
              r.CountedString(exc) && r.CountedString(nozip) && r.I32(count) &&
              r.CountedString(path) && r.I32(folder) && r.I32(sub) && r.I32(state) &&
              r.CountedString(iinc) && r.CountedString(iexc));
  EXPECT_EQ(0, std::memcmp(magic, "VGD\n", 4));
  EXPECT_EQ(level, 6);
  EXPECT_EQ(inc, "*.*|");
  EXPECT_EQ(exc, "Vellum*.*|");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(path, "/f");
  EXPECT_EQ(r.Remaining(), 0u);
}

TEST_F(ListDoc, FilesThatAreNoListsAreRefusedAndChangeNothing) {
  CExplorerDoc doc;
  Fill(doc);
  const auto before = doc.BuildPayload();
  SysError why;
  WriteText(P("plain.dlt"), "this is not a list file at all, just some text");
  EXPECT_EQ(doc.Load(P("plain.dlt"), &why), LIST_NOT_A_LIST);
  EXPECT_NE(ListLoadMessage(LIST_NOT_A_LIST, P("plain.dlt"), why).find(P("plain.dlt")),
            std::string::npos);
  auto other = before;
  other[0] = 'W';
  ASSERT_TRUE(WriteEncryptedFile(P("magic.dlt"), kFixedPassword, other).ok());
  EXPECT_EQ(doc.Load(P("magic.dlt")), LIST_NOT_A_LIST);
  ASSERT_TRUE(WriteEncryptedFile(P("pw.dlt"), "another password", before).ok());
  EXPECT_EQ(doc.Load(P("pw.dlt")), LIST_NOT_A_LIST);
  EXPECT_EQ(doc.Load(P("missing.dlt"), &why), LIST_IO_ERROR);
  EXPECT_EQ(why.err, ENOENT);
  EXPECT_NE(ListLoadMessage(LIST_IO_ERROR, P("missing.dlt"), why).find("No such file"),
            std::string::npos);
  EXPECT_EQ(doc.Load(Dir()), LIST_IO_ERROR);
  EXPECT_EQ(doc.BuildPayload(), before);
}

TEST_F(ListDoc, ALevelAboveNineStopsAfterTheDigestWithLevelSix) {
  CExplorerDoc doc;
  Fill(doc);
  auto bytes = doc.BuildPayload();
  bytes[36] = 10;  // the level follows magic and digest
  CExplorerDoc loaded;
  loaded.m_items.push_back(CGuardItem("/old", 0));
  EXPECT_EQ(loaded.ParsePayload(bytes.data(), bytes.size(), P("x.dlt")), LIST_DAMAGED);
  EXPECT_EQ(loaded.m_zipLevel, 6);
  EXPECT_TRUE(loaded.m_items.empty());
  EXPECT_EQ(0, std::memcmp(loaded.m_digest, doc.m_digest, 32));
  EXPECT_EQ(loaded.m_excludeMask, "Vellum*.*|");  // not read: stays
}

TEST_F(ListDoc, EveryTruncationKeepsAPrefixOfTheItems) {
  CExplorerDoc doc;
  Fill(doc);
  const auto bytes = doc.BuildPayload();
  for (size_t n = 0; n < bytes.size(); ++n) {
    CExplorerDoc loaded;
    const int r = loaded.ParsePayload(bytes.data(), n, P("x.dlt"));
    EXPECT_EQ(r, n < 4 ? LIST_NOT_A_LIST : LIST_DAMAGED) << n;
    ASSERT_LE(loaded.m_items.size(), doc.m_items.size());
    for (size_t i = 0; i < loaded.m_items.size(); ++i) {
      EXPECT_EQ(loaded.m_items[i].m_path, doc.m_items[i].m_path) << n;
    }
  }
}

TEST_F(ListDoc, HostileCountsAreRefusedWithoutHugeAllocations) {
  CExplorerDoc doc;
  Fill(doc);
  auto bytes = doc.BuildPayload();
  // The item count sits after magic, digest, level and the three masks.
  size_t at = 4 + 32 + 4;
  for (int k = 0; k < 3; ++k) {
    uint32_t units = 0;
    std::memcpy(&units, &bytes[at], 4);
    at += 4 + 2 * units;
  }
  for (uint32_t count : {0x7FFFFFFFu, 1000000u, 5u}) {
    auto bad = bytes;
    std::memcpy(&bad[at], &count, 4);
    CExplorerDoc loaded;
    EXPECT_EQ(loaded.ParsePayload(bad.data(), bad.size(), P("x.dlt")), LIST_DAMAGED) << count;
    EXPECT_EQ(loaded.m_items.size(), 4u);  // the items that are there
  }
  auto negative = bytes;
  const uint32_t minus = 0xFFFFFFFFu;
  std::memcpy(&negative[at], &minus, 4);
  CExplorerDoc loaded;
  EXPECT_EQ(loaded.ParsePayload(negative.data(), negative.size(), P("x.dlt")), LIST_DAMAGED);
  EXPECT_TRUE(loaded.m_items.empty());
  // A string count past the data.
  auto longString = bytes;
  const uint32_t huge = 0x40000000u;
  std::memcpy(&longString[40], &huge, 4);
  EXPECT_EQ(loaded.ParsePayload(longString.data(), longString.size(), P("x.dlt")), LIST_DAMAGED);
}

TEST_F(ListDoc, AFailedStoreIsReportedAndTheOldListStays) {
  CExplorerDoc doc;
  Fill(doc);
  ASSERT_TRUE(doc.Store(P("my.dlt")).ok());
  const auto before = ReadBytes(P("my.dlt"));
  const SysError why = doc.Store(P("nowhere/my.dlt"));
  EXPECT_EQ(why.err, ENOENT);
  EXPECT_EQ(why.path, P("nowhere/my.dlt"));
  // The disk fills during the save of a larger list.
  for (int i = 0; i < 3000; ++i)
    doc.m_items.push_back(CGuardItem(P(std::to_string(i).append(".f")), 0));
  const int rc = RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      4096, 4096
    };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    return doc.Store(P("my.dlt")).ok() ? 0 : 1;
  });
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(ReadBytes(P("my.dlt")), before);
  EXPECT_TRUE(TempNames(Dir()).empty());
}

TEST_F(ListDoc, AddItemFiltersAndRefusesDuplicates) {
  CExplorerDoc doc;
  EXPECT_FALSE(doc.IsModified());
  int hooked = 0;
  doc.SetModifiedHook([&](bool modified) { hooked += modified ? 1 : 0; });
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/b.txt.~de", 0)), 0);
  EXPECT_EQ(doc.m_items[0].m_path, "/a/b.txt");
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/b.txt", 0)), -1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/zde.tmp", 0)), -1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/list.dlt", 0)), -1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/list.dltx", 0)), -1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/VellumDef.dat", 0)), -1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/vellumdef.dat", 0)), 1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/B.txt", 0)), 2);  // FindItem: case matters
  EXPECT_EQ(doc.FindItem("/a/B.txt"), 2);
  EXPECT_EQ(doc.FindItem("/a/b.TXT"), -1);
  // Masks judge the last component, so a folder by its own name.
  doc.m_excludeMask = "Vellum*.*|Priv*|";
  EXPECT_EQ(doc.AddItem(CGuardItem("/home/Private/", 1)), -1);
  EXPECT_EQ(doc.AddItem(CGuardItem("/Private/docs/", 1)), 3);
  doc.m_includeMask = "";
  EXPECT_EQ(doc.AddItem(CGuardItem("/a/new.txt", 0)), -1);
  EXPECT_EQ(hooked, 4);
  // A protected file is listed under its plain name, with the status of that name.
  doc.m_includeMask = "*.*|";
  WriteText(P("c.txt.~de"), "x");
  CGuardItem given(P("c.txt.~de"), 0);
  EvaluateItemStatus(given);  // as a caller does, on the name it was given
  const int at = doc.AddItem(given);
  ASSERT_GE(at, 0);
  EXPECT_EQ(doc.m_items[static_cast<size_t>(at)].m_state, STATUS_ENCRYPTING);
}

// The exchange passes of the original sort, literally: n^2 comparisons per pass.
int LiteralCompare(const CGuardItem& a, const CGuardItem& b, int key) {
  auto cmp = [](std::string x, std::string y) { return AsciiLower(x).compare(AsciiLower(y)); };
  switch (key) {
    case 1:
      return cmp(LastPathComponent(a.m_path), LastPathComponent(b.m_path));
    case 2:
      return cmp(a.m_path, b.m_path);
    case 3:
      if (a.m_folder && !b.m_folder) return 1;
      if (!a.m_folder && b.m_folder) return -1;
      return cmp(PathExtension(a.m_path), PathExtension(b.m_path));
    default:
      break;
  }
  switch (key) {
    case 4:
      return a.m_state < b.m_state ? -1 : a.m_state > b.m_state;
  }
  return 0;
}
void LiteralPass(std::vector<CGuardItem>& v, size_t first, size_t last, int key, bool asc) {
  for (size_t j = first; j < last; ++j) {
    for (size_t c = first; c < last; ++c) {
      const int r = LiteralCompare(v[j], v[c], key);
      if (asc ? r < 0 : r > 0) std::swap(v[j], v[c]);
    }
  }
}
void LiteralSort(std::vector<CGuardItem>& v, bool asc, int key) {
  if (v.size() < 2) return;
  const size_t f = std::count_if(v.begin(), v.end(), [](auto& i) { return i.m_folder != 0; });
  LiteralPass(v, 0, v.size(), 3, false);
  LiteralPass(v, 0, f, 1, asc);
  LiteralPass(v, f, v.size(), key, asc);
}

TEST_F(ListDoc, SortingGivesTheOrderOfKeysOfTheExchangePasses) {
  CExplorerDoc doc;
  for (const char* p : {"/z/b.txt", "/y/Beta/", "/x/a.doc", "/w/alpha/", "/v/C.TXT"}) {
    CGuardItem item(p, p[std::strlen(p) - 1] == '/');
    doc.m_items.push_back(item);
  }
  doc.SortItems(true, SORT_NAME);
  Strings order;
  for (const auto& i : doc.m_items) order.push_back(i.m_path);
  EXPECT_EQ(order, (Strings{"/w/alpha/", "/y/Beta/", "/x/a.doc", "/z/b.txt", "/v/C.TXT"}));
  EXPECT_TRUE(doc.IsModified());

  std::mt19937 rng(7);
  const char* names[] = {"a", "B", "b", "c.txt", "C.TXT", "d.doc", "e.Doc", "f", ".g", "h.x.y"};
  for (int round = 0; round < 200; ++round) {
    std::vector<CGuardItem> items;
    const size_t n = rng() % 12;
    for (size_t i = 0; i < n; ++i) {
      CGuardItem item("/" + std::string(names[rng() % 10]) + "/" + names[rng() % 10],
                      static_cast<int32_t>(rng() % 3 == 0));
      item.m_state = static_cast<int32_t>(rng() % 6);
      items.push_back(item);
    }
    for (int key = 1; key <= 4; ++key) {
      for (bool asc : {true, false}) {
        CExplorerDoc sorted;
        sorted.m_items = items;
        sorted.SortItems(asc, key);
        auto literal = items;
        LiteralSort(literal, asc, key);
        ASSERT_EQ(sorted.m_items.size(), literal.size());
        const size_t f =
            std::count_if(items.begin(), items.end(), [](auto& i) { return i.m_folder; });
        for (size_t i = 0; i < literal.size(); ++i) {
          const int k = i < f ? 1 : key;
          EXPECT_EQ(LiteralCompare(sorted.m_items[i], literal[i], k), 0)
              << "round " << round << " key " << key << " asc " << asc << " at " << i;
          EXPECT_EQ(sorted.m_items[i].m_folder, literal[i].m_folder);
          // Equal keys too end where the exchange passes leave them.
          EXPECT_EQ(sorted.m_items[i].m_path, literal[i].m_path)
              << "round " << round << " at " << i;
          EXPECT_EQ(sorted.m_items[i].m_state, literal[i].m_state);
        }
      }
    }
  }
}

TEST_F(ListDoc, StatusIsComputedFromTheDiskAndShownWithTheListTexts) {
  WriteText(P("plain.txt"), "x");
  WriteText(P("prot.txt.~de"), "x");
  CGuardItem plain(P("plain.txt"), 0), prot(P("prot.txt"), 0), gone(P("gone.txt"), 0);
  EXPECT_EQ(EvaluateItemStatus(plain), STATUS_NOT_ENCRYPTED);
  EXPECT_EQ(EvaluateItemStatus(prot), STATUS_ENCRYPTING);
  EXPECT_EQ(EvaluateItemStatus(gone), STATUS_NOT_FOUND);
  EXPECT_EQ(ItemStatusText(plain), "Not encrypted");
  EXPECT_EQ(ItemStatusText(prot), "Encrypting");
  EXPECT_EQ(ItemStatusText(gone), "Not found");
  CGuardItem folder(P("nowhere/"), 1);
  EXPECT_EQ(EvaluateItemStatus(folder), STATUS_FOLDER);  // folders are not looked at
  EXPECT_EQ(ItemStatusText(folder), "Not encrypt subfolders, Not encrypted");
  folder.m_subfolders = 1;
  EXPECT_EQ(ItemStatusText(folder), "Encrypt subfolers, Not encrypted");
  folder.m_state = STATUS_FOLDER_ENCRYPTING;
  EXPECT_EQ(EvaluateItemStatus(folder), STATUS_FOLDER_ENCRYPTING);  // from a stored list
  EXPECT_EQ(ItemStatusText(folder), "Encrypt subfolers, Encrypting");
  folder.m_state = STATUS_FOLDER_NOT_FOUND;
  EXPECT_EQ(ItemStatusText(folder), "Not found");
  folder.m_state = STATUS_REMOVING;
  EXPECT_EQ(ItemStatusText(folder), "");
  EXPECT_EQ(ItemTypeText(folder), "_Dir");
  EXPECT_EQ(ItemTypeText(plain), ".txt");
}

TEST_F(ListDoc, NewDocumentTakesTheDefaultsButNeverTheDefaultPassword) {
  CEncryptionSettings defaults;
  const auto key = KeyOf("default");
  defaults.SetDigest(key.data());
  defaults.m_zipLevel = 2;
  defaults.m_excludeMask = "*.bak|";
  ASSERT_TRUE(defaults.Save(ProgramFolder() + "VellumDef.dat").ok());
  CExplorerDoc doc;
  doc.m_items.push_back(CGuardItem("/x", 0));
  FakeGuardUi ui;
  EXPECT_TRUE(doc.NewDocument(&ui));  // the start-up document: no dialog
  EXPECT_TRUE(ui.log.empty());
  EXPECT_TRUE(doc.m_items.empty());
  EXPECT_FALSE(doc.HasPassword());
  EXPECT_EQ(doc.m_zipLevel, 2);
  EXPECT_EQ(doc.m_excludeMask, "*.bak|");
  EXPECT_EQ(doc.m_includeMask, "*.*");
  EXPECT_FALSE(doc.IsModified());

  ui.settingsAnswers = {TypePassword("new list", 7)};
  EXPECT_TRUE(doc.NewDocument(&ui));
  EXPECT_EQ(ui.log, Strings{"settings: Encryption setting flags 14"});
  EXPECT_EQ(ui.settingsShown[0].zipLevel, 2);
  EXPECT_EQ(doc.m_zipLevel, 7);
  EXPECT_EQ(0, std::memcmp(doc.m_digest, KeyOf("new list").data(), 32));
  EXPECT_TRUE(doc.IsModified());
}

TEST_F(ListDoc, EditListSettingsKeepsTheDigestWithoutATypedPasswordAndCancelChangesNothing) {
  CExplorerDoc doc;
  const auto key = KeyOf("old");
  std::memcpy(doc.m_digest, key.data(), 32);
  FakeGuardUi ui;
  ui.settingsAnswers = {CancelDialog(), [](SettingsDialogData& d) {
                          d.noZipMask = "*.iso|";
                          d.zipLevel = 12;
                          return true;
                        }};
  EXPECT_FALSE(doc.EditListSettings(ui));
  EXPECT_FALSE(doc.IsModified());
  EXPECT_TRUE(doc.EditListSettings(ui));
  EXPECT_EQ(doc.m_noZipMask, "*.iso|");
  EXPECT_EQ(doc.m_zipLevel, 6);
  EXPECT_EQ(0, std::memcmp(doc.m_digest, key.data(), 32));
  EXPECT_TRUE(doc.IsModified());
}

}  // namespace
