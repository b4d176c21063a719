// The add-folder dialog, the folder picker, the hyperlink label and the pane's pictures.
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "framework/browse_folder.h"
#include "framework/link_label.h"
#include "framework/shell_open.h"
#include "framework/svg_icon.h"
#include "guardlist/ui/add_folder_dlg.h"
#include "guardlist/ui/guard_list_model.h"
#include "pane_test_support.h"

class ListDialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { QVERIFY(m_dir.isValid()); }
  void cleanup() {
    CancelPendingModals();
    SetUrlOpener({});
  }

  void addFolderValidatesOnOk_data();
  void addFolderValidatesOnOk();
  void addFolderExchangesMembers();
  void addFolderBrowseStartsAtCurrentFolder();
  void addFolderBrowseCancelKeepsPath();
  void browseFolderCancelReturnsFalse();
  void linkLabelColoursFollowPointerAndVisits();
  void linkLabelOpenFailureShowsBox_data();
  void linkLabelOpenFailureShowsBox();
  void linkLabelFitsToText_data();
  void linkLabelFitsToText();
  void everyPictureLoadsAndNoTwoStatusesLookAlike();

 private:
  QTemporaryDir m_dir;
};

void ListDialogsTest::addFolderValidatesOnOk_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("message");  // empty: the dialog closes with OK
  const QString base = m_dir.path();
  QDir(base).mkpath(QStringLiteral("folder"));
  QFile file(base + QStringLiteral("/plain.txt"));
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();
  QTest::newRow("empty") << QString() << QStringLiteral("Please enter folder path");
  QTest::newRow("a file") << base + QStringLiteral("/plain.txt")
                          << QStringLiteral("The folder \"%1/plain.txt\" is not existed").arg(base);
  QTest::newRow("missing") << base + QStringLiteral("/gone")
                           << QStringLiteral("The folder \"%1/gone\" is not existed").arg(base);
  QTest::newRow("folder") << base + QStringLiteral("/folder") << QString();
}

void ListDialogsTest::addFolderValidatesOnOk() {
  QFETCH(QString, typed);
  QFETCH(QString, message);
  PromptRecorder prompts;
  CAddFolderDlg dlg;
  dlg.show();
  dlg.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->setText(typed);
  QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
  if (message.isEmpty()) {
    QVERIFY(prompts.messages.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.m_folderPath, typed);
  } else {
    QCOMPARE(prompts.Texts(), QStringList{message});
    QCOMPARE(prompts.messages[0].icon, QMessageBox::Critical);
    QVERIFY(dlg.isVisible());  // the dialog stays open
  }
}

void ListDialogsTest::addFolderExchangesMembers() {
  CAddFolderDlg dlg;
  QCOMPARE(dlg.m_excludeMask, QStringLiteral("Vellum*.*|"));
  QCOMPARE(dlg.windowTitle(), QStringLiteral("Add Folder to List"));
  dlg.m_caption = QStringLiteral("Encryption setting of folder");
  dlg.m_folderPath = m_dir.path();
  dlg.m_includeMask = QStringLiteral("*.doc|");
  dlg.m_encryptSubfolders = true;
  dlg.show();
  QCOMPARE(dlg.windowTitle(), QStringLiteral("Encryption setting of folder"));
  auto* include = dlg.findChild<QLineEdit*>(QStringLiteral("includeEdit"));
  auto* exclude = dlg.findChild<QLineEdit*>(QStringLiteral("excludeEdit"));
  auto* subfolders = dlg.findChild<QCheckBox*>(QStringLiteral("subfoldersCheck"));
  QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text(), m_dir.path());
  QCOMPARE(include->text(), QStringLiteral("*.doc|"));
  QCOMPARE(exclude->text(), QStringLiteral("Vellum*.*|"));
  QVERIFY(subfolders->isChecked());

  // Cancel reads nothing back.
  include->setText(QStringLiteral("*.xls|"));
  dlg.reject();
  QCOMPARE(dlg.m_includeMask, QStringLiteral("*.doc|"));

  // OK takes every control, masks as typed.
  dlg.show();
  include->setText(QStringLiteral("*.xls|"));
  exclude->setText(QString());
  subfolders->setChecked(false);
  dlg.accept();
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_includeMask, QStringLiteral("*.xls|"));
  QCOMPARE(dlg.m_excludeMask, QString());
  QVERIFY(!dlg.m_encryptSubfolders);
}

void ListDialogsTest::addFolderBrowseStartsAtCurrentFolder() {
  QDir(m_dir.path()).mkpath(QStringLiteral("start/picked"));
  const QString start = QDir(m_dir.path() + QStringLiteral("/start")).canonicalPath();
  const QString old = QDir::currentPath();
  QVERIFY(QDir::setCurrent(start));
  CAddFolderDlg dlg;
  dlg.show();
  QString title, directory;
  OnNextModal<QFileDialog>([&](QFileDialog* picker) {
    title = picker->windowTitle();
    directory = QDir(picker->directory()).canonicalPath();
    picker->setDirectory(start + QStringLiteral("/picked"));
    static_cast<QDialog*>(picker)->accept();
  });
  QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("browseButton")), Qt::LeftButton);
  QDir::setCurrent(old);
  QCOMPARE(title, QStringLiteral("Select folder to insert to the list"));
  QCOMPARE(directory, start);
  QCOMPARE(QDir(dlg.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text()).canonicalPath(),
           start + QStringLiteral("/picked"));
}

void ListDialogsTest::addFolderBrowseCancelKeepsPath() {
  QDir(m_dir.path()).mkpath(QStringLiteral("kept"));
  const QString kept = QDir(m_dir.path() + QStringLiteral("/kept")).canonicalPath();
  CAddFolderDlg dlg;
  dlg.m_folderPath = kept;
  dlg.show();
  QString directory;
  OnNextModal<QFileDialog>([&](QFileDialog* picker) {
    directory = QDir(picker->directory()).canonicalPath();
    picker->reject();
  });
  QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("browseButton")), Qt::LeftButton);
  QCOMPARE(directory, kept);  // the typed folder is preselected
  QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text(), kept);
}

void ListDialogsTest::browseFolderCancelReturnsFalse() {
  CBrowseFolder browse;
  browse.m_title = QStringLiteral("Pick");
  browse.m_initialFolder = m_dir.path() + QStringLiteral("/does-not-exist");
  QString out = QStringLiteral("left over");
  OnNextModal<QFileDialog>([](QFileDialog* picker) { picker->reject(); });
  QVERIFY(!browse.Browse(out));
  QVERIFY(out.isEmpty());
}

void ListDialogsTest::linkLabelColoursFollowPointerAndVisits() {
  QList<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });
  QWidget parent;
  auto* link = new CLinkLabel(QStringLiteral("https://example.invalid/"), &parent);
  link->move(50, 50);  // away from where the pointer starts
  parent.resize(300, 100);
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  QCOMPARE(link->Target(), QStringLiteral("https://example.invalid/"));
  QCOMPARE(link->toolTip(), link->Target());
  QVERIFY(link->font().underline());
  QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
  QCOMPARE(link->CurrentColour(), QColor(0, 0, 238));

  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), link->mapToGlobal(QPointF(1, 1)));
  QApplication::sendEvent(link, &enter);
  QCOMPARE(link->CurrentColour(), QColor(255, 92, 0));
  QCOMPARE(link->palette().color(QPalette::Active, QPalette::WindowText), QColor(255, 92, 0));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  QCOMPARE(link->CurrentColour(), QColor(0, 0, 238));

  QSignalSpy spy(link, &CLinkLabel::Opened);
  QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
  QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.invalid/"))});
  QCOMPARE(spy.count(), 1);
  QVERIFY(link->IsVisited());
  QCOMPARE(link->CurrentColour(), QColor(85, 26, 139));
  // Hovering a visited link still shows the hover colour, and leaving it the visited one.
  QApplication::sendEvent(link, &enter);
  QCOMPARE(link->CurrentColour(), QColor(255, 92, 0));
  QApplication::sendEvent(link, &leave);
  QCOMPARE(link->CurrentColour(), QColor(85, 26, 139));
}

void ListDialogsTest::linkLabelOpenFailureShowsBox_data() {
  QTest::addColumn<QString>("target");
  QTest::addColumn<bool>("openerWorks");
  QTest::addColumn<QString>("reason");
  QTest::newRow("no application") << QStringLiteral("https://example.invalid/") << false
                                  << QStringLiteral(
                                         "There is no application associated\nwith the given "
                                         "filename extension.");
  QTest::newRow("missing file") << m_dir.path() + QStringLiteral("/missing.html") << true
                                << QStringLiteral("The specified file was not found.");
  QTest::newRow("missing folder") << m_dir.path() + QStringLiteral("/no/such/page.html") << true
                                  << QStringLiteral("The specified path was not found.");
}

void ListDialogsTest::linkLabelOpenFailureShowsBox() {
  QFETCH(QString, target);
  QFETCH(bool, openerWorks);
  QFETCH(QString, reason);
  int calls = 0;
  SetUrlOpener([&](const QUrl&) {
    ++calls;
    return openerWorks;
  });
  PromptRecorder prompts;
  QWidget parent;
  auto* link = new CLinkLabel(QStringLiteral("link"), &parent);
  link->SetTarget(target);
  parent.show();
  QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
  QCOMPARE(prompts.Texts(), QStringList{QStringLiteral("Unable to open hyperlink:\n\n") + reason});
  QCOMPARE(prompts.messages[0].icon, QMessageBox::Warning);
  QVERIFY(!link->IsVisited());
  QCOMPARE(calls, openerWorks ? 0 : 1);  // a missing file never reaches the desktop
  QCOMPARE(CLinkLabel::OpenErrorText(1234), QStringLiteral("Unknown Error (1234) occurred."));
}

void ListDialogsTest::linkLabelFitsToText_data() {
  QTest::addColumn<int>("alignment");
  QTest::addColumn<int>("expectedLeft");  // -1: centred
  QTest::newRow("left") << int(Qt::AlignLeft | Qt::AlignTop) << 10;
  QTest::newRow("right") << int(Qt::AlignRight | Qt::AlignTop) << -2;
  QTest::newRow("centred") << int(Qt::AlignHCenter | Qt::AlignVCenter) << -1;
}

void ListDialogsTest::linkLabelFitsToText() {
  QFETCH(int, alignment);
  QFETCH(int, expectedLeft);
  QWidget parent;
  parent.resize(400, 200);
  auto* link = new CLinkLabel(QStringLiteral("short"), &parent);
  link->setAlignment(Qt::Alignment(alignment));
  link->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  link->setGeometry(10, 20, 300, 60);
  link->FitToText();
  const QSize text = QFontMetrics(link->font()).size(Qt::TextSingleLine, QStringLiteral("short"));
  QCOMPARE(link->size(), text);
  if (expectedLeft == 10) {
    QCOMPARE(link->x(), 10);
    QCOMPARE(link->y(), 20);
  } else if (expectedLeft == -2) {
    QCOMPARE(link->geometry().right(), 309);
  } else {
    QCOMPARE(link->x(), 10 + (300 - text.width()) / 2);
    QCOMPARE(link->y(), 20 + (60 - text.height()) / 2);
  }
}

void ListDialogsTest::everyPictureLoadsAndNoTwoStatusesLookAlike() {
  // Every picture the pane's resources hold draws something (a file left out of the
  // resource file or broken by an edit gives an empty icon), and the six status pictures
  // differ from each other, so no status is shown with another's picture.
  InitGuardListResources();
  QList<QImage> statuses;
  QStringList names;
  QDirIterator it(QStringLiteral(":/guardlist"));
  while (it.hasNext()) {
    const QString path = it.next();
    names << it.fileName();
    const QImage image = LoadSvgIcon(path).pixmap(32, 32).toImage();
    QVERIFY2(!image.isNull(), qPrintable(path));
    bool ink = false;
    for (int y = 0; y < image.height() && !ink; ++y)
      for (int x = 0; x < image.width() && !ink; ++x) ink = image.pixelColor(x, y).alpha() > 200;
    QVERIFY2(ink, qPrintable(path));
    if (it.fileName().startsWith(QLatin1String("status_"))) {
      for (const QImage& other : statuses) QVERIFY2(image != other, qPrintable(path));
      statuses << image;
    }
  }
  QCOMPARE(statuses.size(), 6);
  QVERIFY(names.contains(QStringLiteral("menu_encrypt.svg")));
  QVERIFY(names.contains(QStringLiteral("menu_decrypt.svg")));
  // A broken or missing file gives no icon rather than a wrong one.
  QFile broken(m_dir.path() + QStringLiteral("/broken.svg"));
  QVERIFY(broken.open(QIODevice::WriteOnly));
  broken.write("<svg><rect width=\"4\"");
  broken.close();
  QVERIFY(LoadSvgIcon(broken.fileName()).isNull());
  QVERIFY(LoadSvgIcon(m_dir.path() + QStringLiteral("/none.svg")).isNull());
}

QTEST_MAIN(ListDialogsTest)
#include "list_dialogs_test.moc"
