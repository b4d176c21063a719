// The listing rules of the file list, its texts, and its sort checked against the plain
// all-pairs exchange passes that define the order.
#include "explorer/file_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <string>

#include "framework/native_path.h"

namespace {

bool Touch(const QString& path, qint64 size = 0) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  return f.write(QByteArray(static_cast<int>(size), 'x')) == size;
}

QStringList Names(const FileEntryTable& t) {
  QStringList n;
  for (const auto& e : t) n << e.name;
  return n;
}

// The defining algorithm: every pair i, j over the whole range, exchanging rows.
int CompareKey(const FileListEntry& a, const FileListEntry& b, SortKey key) {
  switch (key) {
    case SortKey::Size:
      return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    case SortKey::Type:
      return QString::compare(a.typeText, b.typeText, Qt::CaseInsensitive);
    case SortKey::Time:
      return a.lastWrite < b.lastWrite ? -1 : (a.lastWrite > b.lastWrite ? 1 : 0);
    case SortKey::Attributes:
      return QString::compare(AttributeLetters(a.attributes), AttributeLetters(b.attributes));
    case SortKey::Name:
      break;
  }
  return QString::compare(a.name, b.name, Qt::CaseInsensitive);
}

void ReferenceSort(FileEntryTable& t, int column, bool ascending) {
  const int n = static_cast<int>(t.size());
  if (n < 2) return;
  const int start = t[0].name == QLatin1String("..") ? 1 : 0;
  int d = 0;
  for (const auto& e : t) d += e.IsFolder() ? 1 : 0;
  auto folderCmp = [](const FileListEntry& a, const FileListEntry& b) {
    if (a.IsFolder() && !b.IsFolder()) return 1;
    if (!a.IsFolder() && b.IsFolder()) return -1;
    return QString::compare(AttributeLetters(a.attributes), AttributeLetters(b.attributes));
  };
  for (int i = start; i < n; ++i)
    for (int j = start; j < n; ++j)
      if (folderCmp(t[i], t[j]) > 0) std::swap(t[i], t[j]);
  for (int i = start; i < d; ++i)
    for (int j = start; j < d; ++j) {
      const int c = QString::compare(t[i].fullPath, t[j].fullPath, Qt::CaseInsensitive);
      if ((ascending && c < 0) || (!ascending && c > 0)) std::swap(t[i], t[j]);
    }
  const SortKey key = SortKeyOfColumn(column);
  for (int i = d; i < n; ++i)
    for (int j = d; j < n; ++j) {
      const int c = CompareKey(t[i], t[j], key);
      if ((ascending && c < 0) || (!ascending && c > 0)) std::swap(t[i], t[j]);
    }
}

// Rows are compared by the key that orders them; rows with equal keys may come in any order.
QStringList KeySequence(const FileEntryTable& t, int column) {
  QStringList keys;
  const SortKey key = SortKeyOfColumn(column);
  for (const auto& e : t) {
    if (e.name == QLatin1String("..")) {
      keys << QStringLiteral("..");
    } else if (e.IsFolder()) {
      keys << QStringLiteral("D:") + e.fullPath.toLower();
    } else {
      switch (key) {
        case SortKey::Size:
          keys << QStringLiteral("F:%1").arg(e.size);
          break;
        case SortKey::Type:
          keys << QStringLiteral("F:") + e.typeText.toLower();
          break;
        case SortKey::Time:
          keys << QStringLiteral("F:%1").arg(e.lastWrite);
          break;
        case SortKey::Attributes:
          keys << QStringLiteral("F:") + AttributeLetters(e.attributes);
          break;
        case SortKey::Name:
          keys << QStringLiteral("F:") + e.name.toLower();
          break;
      }
    }
  }
  return keys;
}

FileEntryTable RandomTable(QRandomGenerator& rng, bool withParent) {
  static const char* const kNames[] = {"alpha", "Alpha", "beta",  "GAMMA", "delta", "b",
                                       "a.txt", "B.TXT", "c.doc", "zeta",  "Zeta",  "x"};
  static const char* const kTypes[] = {"", "Text", "text", "Word document", "ZIP archive"};
  FileEntryTable t;
  if (withParent) {
    FileListEntry p;
    p.name = QStringLiteral("..");
    p.fullPath = QStringLiteral("/");
    p.attributes = FILE_ATTR_DIRECTORY;
    t.push_back(p);
  }
  const int n = static_cast<int>(rng.bounded(40));
  for (int i = 0; i < n; ++i) {
    FileListEntry e;
    e.name = QString::fromLatin1(kNames[rng.bounded(12)]);
    e.fullPath = QStringLiteral("/d/") + e.name;
    const quint32 bits[] = {FILE_ATTR_READONLY, FILE_ATTR_HIDDEN, FILE_ATTR_SYSTEM,
                            FILE_ATTR_ARCHIVE, FILE_ATTR_COMPRESSED};
    for (quint32 b : bits)
      if (rng.bounded(4) == 0) e.attributes |= b;
    if (rng.bounded(3) == 0) {
      e.attributes |= FILE_ATTR_DIRECTORY;
    } else {
      e.size = rng.bounded(5) * 1000;
      e.lastWrite = 1'700'000'000 + rng.bounded(4);
      e.typeText = QString::fromLatin1(kTypes[rng.bounded(5)]);
    }
    t.push_back(e);
  }
  return t;
}

}  // namespace

class FileListingTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    qputenv("TZ", "UTC");
    ::tzset();
  }

  void listsFoldersFirstWithoutDotNames() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(QDir(root).mkdir(QStringLiteral("work")));
    QVERIFY(QDir(root).mkdir(QStringLiteral(".git")));
    QVERIFY(Touch(root + QStringLiteral("/a.txt"), 532));
    QVERIFY(Touch(root + QStringLiteral("/.profile")));
    QVERIFY(Touch(root + QStringLiteral("/.vgtmp.report.doc.123-abc")));
    QVERIFY(Touch(root + QStringLiteral("/zde.tmp")));
    QVERIFY(QDir(root).mkdir(QStringLiteral("Archive")));
    QVERIFY(::symlink("/nonexistent/target",
                      QFile::encodeName(root + QStringLiteral("/dangling")).constData()) == 0);
    QVERIFY(::mkfifo(QFile::encodeName(root + QStringLiteral("/pipe")).constData(), 0600) == 0);

    FileEntryTable t;
    QCOMPARE(ListFolder(t, root), 7);
    QCOMPARE(t[0].name, QStringLiteral(".."));
    QCOMPARE(t[0].fullPath, QFileInfo(root).absolutePath() + QLatin1Char('/'));
    QCOMPARE(t[0].attributes, quint32(FILE_ATTR_DIRECTORY));
    // Folders (in file system order) before files (in file system order).
    QStringList folders = Names(t).mid(1, 2);
    folders.sort();
    QCOMPARE(folders, QStringList({QStringLiteral("Archive"), QStringLiteral("work")}));
    QStringList files = Names(t).mid(3);
    files.sort();
    QCOMPARE(files, QStringList({QStringLiteral("a.txt"), QStringLiteral("dangling"),
                                 QStringLiteral("pipe"), QStringLiteral("zde.tmp")}));
    for (const auto& e : t) {
      QVERIFY2(!e.name.startsWith(QLatin1Char('.')) || e.name == QLatin1String(".."),
               qPrintable(e.name));
      if (e.name == QLatin1String("a.txt")) {
        QCOMPARE(e.size, quint64(532));
        QCOMPARE(e.fullPath, root + QStringLiteral("/a.txt"));
        QVERIFY(!(e.attributes & FILE_ATTR_SYSTEM));
        QVERIFY(e.lastWrite > 0);
      }
      if (e.name == QLatin1String("dangling") || e.name == QLatin1String("pipe"))
        QVERIFY(AttributeLetters(e.attributes).contains(QLatin1Char('S')));
      if (e.name == QLatin1String("work")) {
        QVERIFY(e.IsFolder());
        QCOMPARE(e.size, quint64(0));
        QCOMPARE(AttributeLetters(e.attributes), QString());
      }
    }
  }

  void hiddenNamesAndFailures() {
    QTemporaryDir dir;
    const QString root = dir.path();
    QVERIFY(Touch(root + QStringLiteral("/a.txt")));
    QVERIFY(Touch(root + QStringLiteral("/b.txt")));
    QFile hidden(root + QStringLiteral("/.hidden"));
    QVERIFY(hidden.open(QIODevice::WriteOnly));
    // A name that is not UTF-8 (Latin-1 "caf\xe9") is listed under a path that leads back
    // to it, not to the file whose name holds the replacement character itself.
    const std::string latin1 = Native(root) + "/caf\xe9";
    const std::string replacement = Native(root) + "/caf\xef\xbf\xbd";
    for (const std::string& name : {latin1, replacement}) {
      const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
      QVERIFY(fd >= 0);
      QCOMPARE(::write(fd, name.data(), name.size()), ssize_t(name.size()));
      QCOMPARE(::close(fd), 0);
    }
    hidden.write("b.txt\ncaf\xe9\n");
    hidden.close();
    FileEntryTable t;
    QCOMPARE(ListFolder(t, root + QLatin1Char('/')), 5);
    int odd = 0;
    for (const auto& e : t) {
      if (e.name == QLatin1String("b.txt"))
        QCOMPARE(AttributeLetters(e.attributes), QStringLiteral("H"));
      if (e.name == QLatin1String("a.txt")) QCOMPARE(AttributeLetters(e.attributes), QString());
      if (!e.name.startsWith(QLatin1String("caf"))) continue;
      const std::string path = Native(e.fullPath);
      struct stat st {};
      QCOMPARE(::stat(path.c_str(), &st), 0);
      QCOMPARE(quint64(st.st_size), e.size);  // the path leads to the entry's own file
      QCOMPARE(AttributeLetters(e.attributes), path == latin1 ? QStringLiteral("H") : QString());
      odd |= path == latin1 ? 1 : path == replacement ? 2 : 4;
    }
    QCOMPARE(odd, 3);
    // Not a folder: nothing changes.
    const FileEntryTable before = t;
    QCOMPARE(ListFolder(t, root + QStringLiteral("/missing")), 0);
    QCOMPARE(ListFolder(t, root + QStringLiteral("/a.txt")), 0);
    QCOMPARE(Names(t), Names(before));
  }

  void rootLeadsToComputer() {
    FileEntryTable t;
    QVERIFY(ListFolder(t, QStringLiteral("/")) > 0);
    QCOMPARE(t[0].name, QStringLiteral(".."));
    QCOMPARE(t[0].fullPath, QString::fromLatin1(kComputerPath));
    FileEntryTable volumes;
    QVERIFY(ListVolumes(volumes) >= 1);
    QCOMPARE(volumes[0].fullPath, QStringLiteral("/"));
    for (const auto& v : volumes) {
      QVERIFY(v.IsFolder());
      QVERIFY(v.fullPath.endsWith(QLatin1Char('/')));
      QVERIFY(!v.fullPath.startsWith(QLatin1String("/proc")));
    }
  }

  void sizeTexts_data() {
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << quint64(0) << "0 bytes";
    QTest::newRow("532") << quint64(532) << "532 bytes";
    QTest::newRow("1023") << quint64(1023) << "1023 bytes";
    QTest::newRow("1 KB") << quint64(1024) << "1.00 KB";
    QTest::newRow("1.20 KB") << quint64(1234) << "1.20 KB";
    QTest::newRow("truncated") << quint64(10239) << "9.99 KB";
    QTest::newRow("10 KB") << quint64(10240) << "10.0 KB";
    QTest::newRow("99.9 KB") << quint64(102399) << "99.9 KB";
    QTest::newRow("100 KB") << quint64(102400) << "100 KB";
    QTest::newRow("999 KB") << quint64(1023999) << "999 KB";
    QTest::newRow("1000 KB") << quint64(1024000) << "0.97 MB";
    QTest::newRow("3.45 MB") << quint64(3617588) << "3.45 MB";
    QTest::newRow("1 GB") << (quint64(1) << 30) << "1.00 GB";
    QTest::newRow("4 GB") << (quint64(4) << 30) << "4.00 GB";
    QTest::newRow("1 TB") << (quint64(1) << 40) << "1.00 TB";
    QTest::newRow("max") << ~quint64(0) << "15.9 EB";
  }
  void sizeTexts() {
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(SizeText(bytes), text);
  }

  void timeText() {
    const qint64 t = QDateTime(QDate(2026, 12, 7), QTime(3, 12, 12), Qt::UTC).toSecsSinceEpoch();
    QCOMPARE(TimeText(t), QStringLiteral("12/07/26 03:12:12"));
    QCOMPARE(TimeText(0), QStringLiteral("01/01/70 00:00:00"));
  }

  void attributeLetters_data() {
    QTest::addColumn<quint32>("bits");
    QTest::addColumn<QString>("letters");
    QTest::newRow("folder") << quint32(FILE_ATTR_DIRECTORY) << "";
    QTest::newRow("read-only hidden archive")
        << quint32(FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_ARCHIVE) << "AHR";
    QTest::newRow("all") << quint32(0x1 | 0x2 | 0x4 | 0x20 | 0x800 | 0x4000) << "AHRSCE";
    QTest::newRow("system compressed") << quint32(FILE_ATTR_COMPRESSED | FILE_ATTR_SYSTEM) << "SC";
    QTest::newRow("encrypted") << quint32(FILE_ATTR_ENCRYPTED) << "E";
  }
  void attributeLetters() {
    QFETCH(quint32, bits);
    QFETCH(QString, letters);
    QCOMPARE(AttributeLetters(bits), letters);
  }

  void sortMatchesExchangePasses() {
    QRandomGenerator rng(20261207);
    for (int round = 0; round < 300; ++round) {
      const FileEntryTable table = RandomTable(rng, round % 3 != 0);
      for (int column = 0; column <= 5; ++column) {
        for (bool ascending : {true, false}) {
          FileEntryTable ours = table;
          FileEntryTable reference = table;
          std::vector<int> order;
          SortEntries(ours, column, ascending, &order);
          ReferenceSort(reference, column, ascending);
          QCOMPARE(KeySequence(ours, column), KeySequence(reference, column));
          // The permutation names where every row came from.
          QCOMPARE(order.size(), table.size());
          for (size_t i = 0; i < order.size(); ++i)
            QCOMPARE(ours[i].fullPath, table[static_cast<size_t>(order[i])].fullPath);
        }
      }
    }
  }

  void sortBySizeDescending() {
    FileEntryTable t;
    auto add = [&t](const char* name, quint64 size, bool folder) {
      FileListEntry e;
      e.name = QString::fromLatin1(name);
      e.fullPath = QStringLiteral("/d/") + e.name;
      e.size = size;
      e.attributes = folder ? quint32(FILE_ATTR_DIRECTORY) : 0u;
      t.push_back(e);
    };
    add("..", 0, true);
    t[0].fullPath = QStringLiteral("/");
    add("small", 1, false);
    add("Alpha", 0, true);
    add("big", 900, false);
    add("zulu", 0, true);
    add("mid", 50, false);
    SortEntries(t, 1, false);
    QCOMPARE(Names(t), QStringList({"..", "zulu", "Alpha", "big", "mid", "small"}));
    SortEntries(t, 1, true);
    QCOMPARE(Names(t), QStringList({"..", "Alpha", "zulu", "small", "mid", "big"}));
    SortEntries(t, 0, true);
    QCOMPARE(Names(t), QStringList({"..", "Alpha", "zulu", "big", "mid", "small"}));
  }
};

QTEST_MAIN(FileListingTest)
#include "file_listing_test.moc"
