// Settling the settings of a protect command.
#include "guard/protect_settings.h"

#include <cstring>

#include "common/paths.h"
#include "engine/digest.h"
#include "fake_guard_ui.h"
#include "guard/encryption_settings.h"
#include "guard_test_util.h"

namespace {

using Strings = std::vector<std::string>;

class Settle : public GuardTest {
 protected:
  void SetUp() override {
    GuardTest::SetUp();
    MakeFolder(P("work/inner"));
    MakeFolder(P("flat"));
    WriteText(P("work/a.txt"), "a");
    WriteText(P("flat/b.txt"), "b");
  }
  std::string Work() const { return P("work/"); }
};

TEST_F(Settle, WithoutSettingsFilesOnlyTheTypedPasswordIsOfferedAndCancelWritesNothing) {
  FakeGuardUi ui;
  ui.settingsAnswers = {CancelDialog()};
  ProtectSettings result;
  EXPECT_FALSE(SettleProtectSettings(ui, ProtectKind::WholeFolder, {P("flat")}, result));
  ASSERT_EQ(ui.settingsShown.size(), 1u);
  const SettingsDialogData& d = ui.settingsShown[0];
  EXPECT_EQ(d.title, "Encryption setting of \"flat\"");
  EXPECT_EQ(d.flags, SETTINGS_NO_DEFAULT | SETTINGS_NO_LAST | SETTINGS_NO_SUBFOLDERS);
  EXPECT_EQ(d.zipLevel, 6);
  EXPECT_EQ(d.includeMask, "*.*|");
  EXPECT_EQ(d.excludeMask, "Vellum*.*|");
  EXPECT_EQ(d.noZipMask, "*.rar|*.zip|*.cab|*.mp3|*.wma|*.wmv|*.avi|*.jpg|*.pdf|");
  EXPECT_FALSE(d.encryptSubfolders);
  EXPECT_FALSE(Exists(P("flat/zde.tmp")));
}

TEST_F(Settle, TheTypedChoiceIsSavedAndOfferedAsLastPasswordNextTime) {
  FakeGuardUi ui;
  ui.settingsAnswers = {[](SettingsDialogData& d) {
    d.password = d.confirm = "typed";
    d.zipLevel = 2;
    d.includeMask = "*.txt|";
    d.encryptSubfolders = true;
    return true;
  }};
  ProtectSettings first;
  ASSERT_TRUE(SettleProtectSettings(ui, ProtectKind::WholeFolder, {Work()}, first));
  EXPECT_EQ(ui.settingsShown[0].flags, SETTINGS_NO_DEFAULT | SETTINGS_NO_LAST);  // inner/ exists
  EXPECT_EQ(0, std::memcmp(first.digest, KeyOf("typed").data(), 32));
  EXPECT_EQ(first.level, 2);
  EXPECT_EQ(first.includeMask, "*.txt|");
  EXPECT_TRUE(first.encryptSubfolders);
  EXPECT_EQ(first.settingsPath, P("work/zde.tmp"));
  EXPECT_TRUE(first.settingsSaved);

  // The next command in that folder offers "Use last password" and the stored masks.
  FakeGuardUi again;
  again.settingsAnswers = {[](SettingsDialogData& d) {
    d.useLastPassword = true;
    d.password = d.confirm = "0123456789";
    return true;
  }};
  ProtectSettings second;
  ASSERT_TRUE(SettleProtectSettings(again, ProtectKind::Selection, {P("work/a.txt")}, second));
  EXPECT_EQ(again.settingsShown[0].title, "Encryption setting of \"a.txt\"");
  EXPECT_EQ(again.settingsShown[0].flags, SETTINGS_NO_DEFAULT | SETTINGS_NO_SUBFOLDERS);
  EXPECT_EQ(again.settingsShown[0].zipLevel, 2);
  EXPECT_EQ(again.settingsShown[0].includeMask, "*.txt|");
  EXPECT_EQ(0, std::memcmp(second.digest, first.digest, 32));
}

TEST_F(Settle, TheDefaultSettingsFileGivesValuesAndTheDefaultPassword) {
  CEncryptionSettings defaults;
  const auto key = KeyOf("default");
  defaults.SetDigest(key.data());
  defaults.m_zipLevel = 77;  // offered as 6
  defaults.m_noZipMask = "*.iso|";
  ASSERT_TRUE(defaults.Save(ProgramFolder() + "VellumDef.dat").ok());
  FakeGuardUi ui;
  ui.settingsAnswers = {[](SettingsDialogData& d) {
    d.useDefaultPassword = true;
    return true;
  }};
  ProtectSettings result;
  ASSERT_TRUE(SettleProtectSettings(ui, ProtectKind::Selection, {P("flat/b.txt")}, result));
  const SettingsDialogData& d = ui.settingsShown[0];
  EXPECT_EQ(d.flags, SETTINGS_NO_LAST | SETTINGS_NO_SUBFOLDERS);
  EXPECT_EQ(d.zipLevel, 6);
  EXPECT_EQ(d.noZipMask, "*.iso|");
  EXPECT_EQ(d.includeMask, "*.*");  // the record's own default, as stored
  EXPECT_EQ(0, std::memcmp(result.digest, key.data(), 32));
  EXPECT_TRUE(Exists(P("flat/zde.tmp")));
}

TEST_F(Settle, SeveralFoldersWriteBesideTheFirstButNeverReadIt) {
  auto ok = [](SettingsDialogData& d) {
    d.password = d.confirm = "pw";
    return true;
  };
  FakeGuardUi ui;
  ui.settingsAnswers = {ok, ok};
  ProtectSettings result;
  const Strings two = {P("work/"), P("flat/")};
  ASSERT_TRUE(SettleProtectSettings(ui, ProtectKind::Selection, two, result));
  EXPECT_EQ(result.settingsPath, Dir() + "/zde.tmp");
  EXPECT_TRUE(Exists(Dir() + "/zde.tmp"));
  ASSERT_TRUE(SettleProtectSettings(ui, ProtectKind::Selection, two, result));
  EXPECT_EQ(ui.settingsShown[1].title, "");  // several entries: no title
  EXPECT_EQ(ui.settingsShown[1].flags, SETTINGS_NO_DEFAULT | SETTINGS_NO_LAST);

  // One folder: its own settings file; a file selection: the first entry's folder.
  FakeGuardUi one;
  one.settingsAnswers = {ok};
  ASSERT_TRUE(SettleProtectSettings(one, ProtectKind::Selection, {P("flat/")}, result));
  EXPECT_EQ(result.settingsPath, P("flat/zde.tmp"));
  EXPECT_EQ(one.settingsShown[0].title, "Encryption setting of \"flat\"");
  FakeGuardUi mixed;
  mixed.settingsAnswers = {ok};
  ASSERT_TRUE(
      SettleProtectSettings(mixed, ProtectKind::Selection, {P("work/"), P("flat/b.txt")}, result));
  EXPECT_EQ(result.settingsPath, Dir() + "/zde.tmp");
  EXPECT_EQ(mixed.settingsShown[0].flags, SETTINGS_NO_DEFAULT);  // read: last offered
  // A protected file before the one folder is no file to protect: the folder's own.
  WriteText(P("work/a.txt.~de"), "x");
  FakeGuardUi beside;
  beside.settingsAnswers = {ok};
  ASSERT_TRUE(SettleProtectSettings(beside, ProtectKind::Selection,
                                    {P("work/a.txt.~de"), P("flat/")}, result));
  EXPECT_EQ(result.settingsPath, P("flat/zde.tmp"));
}

// About one password in 16.7 million has a key that starts with three zero bytes, which
// the stored files read as "no key": such a password is refused with a message, and a
// settings file that holds such a key offers no "Use last password".
TEST_F(Settle, APasswordWhoseKeyMeansNoKeyIsRefused) {
  const std::string unusable = "luv4c";  // found by search: its key is 00 00 00 3a ...
  ASSERT_EQ(KeyOf(unusable)[0] | KeyOf(unusable)[1] | KeyOf(unusable)[2], 0);
  EXPECT_FALSE(IsUsablePassword(unusable));
  EXPECT_TRUE(IsUsablePassword("luv4d"));
  FakeGuardUi ui;
  ui.settingsAnswers = {TypePassword(unusable)};
  ProtectSettings result;
  EXPECT_FALSE(SettleProtectSettings(ui, ProtectKind::WholeFolder, {Work()}, result));
  EXPECT_EQ(ui.messages, Strings{std::string(kUnusablePasswordText)});
  EXPECT_FALSE(Exists(P("work/zde.tmp")));

  CEncryptionSettings noKey;
  noKey.SetDigest(KeyOf(unusable).data());
  ASSERT_TRUE(noKey.Save(P("work/zde.tmp")).ok());
  FakeGuardUi again;
  again.settingsAnswers = {CancelDialog()};
  EXPECT_FALSE(SettleProtectSettings(again, ProtectKind::WholeFolder, {Work()}, result));
  EXPECT_EQ(again.settingsShown[0].flags, SETTINGS_NO_DEFAULT | SETTINGS_NO_LAST);
}

TEST_F(Settle, AnUnwritableFolderDoesNotStopTheCommand) {
  FakeGuardUi ui;
  ui.settingsAnswers = {TypePassword("pw")};
  ProtectSettings result;
  EXPECT_TRUE(SettleProtectSettings(ui, ProtectKind::WholeFolder, {P("gone")}, result));
  EXPECT_FALSE(result.settingsSaved);
  EXPECT_EQ(0, std::memcmp(result.digest, KeyOf("pw").data(), 32));
}

}  // namespace
