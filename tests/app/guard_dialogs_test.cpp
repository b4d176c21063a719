// The settings and password dialogs: limits, the level's arrows, the two password
// choices with their placeholder and the disabling flags, validation on OK, and the
// password prompt's shortening.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "framework/prompts.h"
#include "guard/ui/encryption_settings_dlg.h"
#include "guard/ui/password_dlg.h"

class GuardDialogsTest : public QObject {
  Q_OBJECT
 private:
  QStringList m_messages;

 private slots:
  void init() {
    m_messages.clear();
    Prompts().message = [this](QWidget*, const QString& text, QMessageBox::Icon,
                               QMessageBox::StandardButtons) {
      m_messages << text;
      return QMessageBox::Ok;
    };
  }
  void cleanup() { RestoreDefaultPrompts(); }

  void settingsFlagsDisableTheirControls_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("defaultEnabled");
    QTest::addColumn<bool>("lastEnabled");
    QTest::addColumn<bool>("subfoldersEnabled");
    QTest::newRow("none") << 0 << true << true << true;
    QTest::newRow("2") << 2 << false << true << true;
    QTest::newRow("4") << 4 << true << false << true;
    QTest::newRow("8") << 8 << true << true << false;
    QTest::newRow("14") << 14 << false << false << false;
  }
  void settingsFlagsDisableTheirControls() {
    QFETCH(int, flags);
    CEncryptionSettingsDlg dlg;
    dlg.SetFlags(flags);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QFETCH(bool, defaultEnabled);
    QFETCH(bool, lastEnabled);
    QFETCH(bool, subfoldersEnabled);
    QCOMPARE(dlg.UseDefaultCheck()->isEnabled(), defaultEnabled);
    QCOMPARE(dlg.UseLastCheck()->isEnabled(), lastEnabled);
    QCOMPARE(dlg.SubfoldersCheck()->isEnabled(), subfoldersEnabled);
    QCOMPARE(QApplication::focusWidget(), dlg.PasswordEdit());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Encryption Settings"));
  }

  void settingsTitleAndInitialValues() {
    CEncryptionSettingsDlg dlg;
    dlg.SetTitle(QStringLiteral("Default setting"));
    dlg.m_zipLevel = 3;
    dlg.m_includeMask = QStringLiteral("*.*|");
    dlg.m_excludeMask = QStringLiteral("Vellum*.*|");
    dlg.m_noZipMask = QStringLiteral("*.zip|");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Default setting"));
    QCOMPARE(dlg.LevelSpin()->Edit()->text(), QStringLiteral("3"));
    QCOMPARE(dlg.IncludeEdit()->text(), QStringLiteral("*.*|"));
    QCOMPARE(dlg.ExcludeEdit()->text(), QStringLiteral("Vellum*.*|"));
    QCOMPARE(dlg.NoZipEdit()->text(), QStringLiteral("*.zip|"));
    QVERIFY(dlg.LevelSpin()->Edit()->isReadOnly());
    // The level's edit holds its digit whole (two digits, even) beside the arrows.
    QLineEdit* level = dlg.LevelSpin()->Edit();
    QVERIFY2(level->width() >= level->fontMetrics().horizontalAdvance(QStringLiteral("00")) + 4,
             qPrintable(QString::number(level->width())));
    QVERIFY(!dlg.SubfoldersCheck()->isChecked());
    QCOMPARE(dlg.PasswordEdit()->echoMode(), QLineEdit::Password);
    QCOMPARE(dlg.ConfirmEdit()->echoMode(), QLineEdit::Password);
  }

  void passwordEditsTakeAtMost32Characters() {
    CEncryptionSettingsDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QString typed(33, QLatin1Char('x'));
    QTest::keyClicks(dlg.PasswordEdit(), typed);
    QTest::keyClicks(dlg.ConfirmEdit(), typed);
    QCOMPARE(dlg.PasswordEdit()->text().size(), 32);
    QCOMPARE(dlg.ConfirmEdit()->text().size(), 32);

    CPasswordDlg password;
    password.show();
    QVERIFY(QTest::qWaitForWindowExposed(&password));
    QTest::keyClicks(password.PasswordEdit(), typed);
    QCOMPARE(password.PasswordEdit()->text().size(), 32);
  }

  void levelArrowsStayWithinZeroToNine() {
    CEncryptionSettingsDlg dlg;
    dlg.m_zipLevel = 8;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QLineEdit* level = dlg.LevelSpin()->Edit();
    dlg.LevelSpin()->setFocus();
    QTest::keyClick(dlg.LevelSpin(), Qt::Key_Up);
    QCOMPARE(level->text(), QStringLiteral("9"));
    QTest::keyClick(dlg.LevelSpin(), Qt::Key_Up);  // 10 is refused
    QCOMPARE(level->text(), QStringLiteral("9"));
    dlg.LevelSpin()->stepBy(-9);
    QCOMPARE(level->text(), QStringLiteral("0"));
    QTest::keyClick(dlg.LevelSpin(), Qt::Key_Down);  // -1 is refused
    QCOMPARE(level->text(), QStringLiteral("0"));
    dlg.LevelSpin()->stepBy(5);
    QCOMPARE(level->text(), QStringLiteral("5"));
    dlg.LevelSpin()->stepBy(100);  // a jump past 9 is refused as a whole
    QCOMPARE(level->text(), QStringLiteral("5"));
    // Typing into the level is not possible.
    QTest::keyClicks(level, QStringLiteral("7"));
    QCOMPARE(level->text(), QStringLiteral("5"));
  }

  void useLastPasswordFillsPlaceholderAndDisables() {
    CEncryptionSettingsDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClicks(dlg.PasswordEdit(), QStringLiteral("typed"));
    QTest::mouseClick(dlg.UseLastCheck(), Qt::LeftButton);
    QCOMPARE(dlg.PasswordEdit()->text(), QStringLiteral("0123456789"));
    QCOMPARE(dlg.ConfirmEdit()->text(), QStringLiteral("0123456789"));
    QVERIFY(!dlg.PasswordEdit()->isEnabled());
    QVERIFY(!dlg.ConfirmEdit()->isEnabled());
    QVERIFY(!dlg.UseDefaultCheck()->isEnabled());
    QTest::mouseClick(dlg.UseLastCheck(), Qt::LeftButton);
    QCOMPARE(dlg.PasswordEdit()->text(), QString());
    QCOMPARE(dlg.ConfirmEdit()->text(), QString());
    QVERIFY(dlg.PasswordEdit()->isEnabled());
    QVERIFY(dlg.ConfirmEdit()->isEnabled());
    QVERIFY(dlg.UseDefaultCheck()->isEnabled());
    QCOMPARE(QApplication::focusWidget(), dlg.PasswordEdit());
  }

  void uncheckingKeepsTheFlagsDisabling() {
    CEncryptionSettingsDlg dlg;
    dlg.SetFlags(CEncryptionSettingsDlg::kNoDefaultPassword);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.UseLastCheck(), Qt::LeftButton);
    QTest::mouseClick(dlg.UseLastCheck(), Qt::LeftButton);
    QVERIFY(!dlg.UseDefaultCheck()->isEnabled());

    CEncryptionSettingsDlg other;
    other.SetFlags(CEncryptionSettingsDlg::kNoLastPassword);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QTest::mouseClick(other.UseDefaultCheck(), Qt::LeftButton);
    QCOMPARE(other.PasswordEdit()->text(), QStringLiteral("0123456789"));
    QVERIFY(!other.UseLastCheck()->isEnabled());
    QTest::mouseClick(other.UseDefaultCheck(), Qt::LeftButton);
    QVERIFY(!other.UseLastCheck()->isEnabled());
    QVERIFY(other.PasswordEdit()->isEnabled());
  }

  void okValidatesPasswordAndConfirmation() {
    CEncryptionSettingsDlg dlg;
    dlg.SetFlags(14);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    QCOMPARE(m_messages, QStringList{QStringLiteral("Please enter password!")});
    QVERIFY(dlg.isVisible());
    QCOMPARE(QApplication::focusWidget(), dlg.PasswordEdit());

    QTest::keyClicks(dlg.PasswordEdit(), QStringLiteral("secret"));
    QTest::keyClicks(dlg.ConfirmEdit(), QStringLiteral("Secret"));
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    QCOMPARE(m_messages.last(), QStringLiteral("Password does not match"));
    QVERIFY(dlg.isVisible());

    dlg.ConfirmEdit()->setText(QStringLiteral("secret"));
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_password, QStringLiteral("secret"));
    QCOMPARE(m_messages.size(), 2);
  }

  void placeholderPassesValidation() {
    CEncryptionSettingsDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.UseDefaultCheck(), Qt::LeftButton);
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(dlg.m_useDefaultPassword);
    QVERIFY(m_messages.isEmpty());
  }

  void levelOutOfRangeIsRefusedOnOk() {
    CEncryptionSettingsDlg dlg;
    dlg.m_zipLevel = 12;  // e.g. from a settings file written by someone else
    dlg.m_password = dlg.m_confirm = QStringLiteral("pw");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    QCOMPARE(m_messages, QStringList{QStringLiteral("Please enter an integer between 0 and 9.")});
    QVERIFY(dlg.isVisible());
    dlg.LevelSpin()->stepBy(-3);  // 9
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_zipLevel, 9);
  }

  void passwordPromptShortening_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");
    const QString fifty = QStringLiteral("/a/") + QString(47, QLatin1Char('b'));
    QTest::newRow("50 stays") << fifty << fifty;
    const QString eighty = QStringLiteral("/home/user/") + QString(69, QLatin1Char('c'));
    QTest::newRow("80 shortened") << eighty << QStringLiteral("...") + eighty.right(50);
    QTest::newRow("percent kept") << QStringLiteral("/tmp/100%s.txt")
                                  << QStringLiteral("/tmp/100%s.txt");
  }
  void passwordPromptShortening() {
    QFETCH(QString, path);
    CPasswordDlg dlg;
    dlg.SetPrompt(QStringLiteral("%s"), {path});
    QFETCH(QString, shown);
    QCOMPARE(dlg.PromptLabel()->text(), shown);
  }

  void passwordDialogAcceptsEmptyAndEscCancels() {
    CPasswordDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Enter Password"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(QApplication::focusWidget(), dlg.PasswordEdit());
    QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.Password(), QString());

    CPasswordDlg other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QTest::keyClicks(other.PasswordEdit(), QStringLiteral("abc"));
    QTest::keyClick(other.PasswordEdit(), Qt::Key_Escape);
    QCOMPARE(other.result(), int(QDialog::Rejected));
    QVERIFY(!other.isVisible());
  }
};

QTEST_MAIN(GuardDialogsTest)
#include "guard_dialogs_test.moc"
