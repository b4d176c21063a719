// The worker side of the folder tree: what a folder's listing yields, its order, expand
// buttons, links and loops, failures, and the mount table.
#include <unistd.h>

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

#include "explorer/natural_order.h"
#include "explorer/tree_folder_reader.h"
#include "folder_tree_test_support.h"

using namespace folder_tree_test;

namespace {

const TreeChildRecord* Find(const FolderReadResult& result, const QString& name) {
  for (const TreeChildRecord& record : result.children) {
    if (record.name == name) return &record;
  }
  return nullptr;
}

QStringList Names(const FolderReadResult& result) {
  QStringList names;
  for (const TreeChildRecord& record : result.children) names << record.name;
  return names;
}

FolderReadResult Read(const QString& path, bool showFiles = false,
                      std::shared_ptr<const CMountTable> mounts = nullptr) {
  CLoadProgress progress(nullptr);
  FolderReadRequest request;
  request.path = path;
  request.showFiles = showFiles;
  request.mounts = std::move(mounts);
  return ReadFolderChildren(request, progress);
}

bool Link(const QString& target, const QString& link) {
  return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

}  // namespace

class FolderTreeReaderTest : public QObject {
  Q_OBJECT

 private slots:
  void naturalOrder_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("digits by value") << "a2"
                                     << "a10" << -1;
    QTest::newRow("case ignored") << "Beta"
                                  << "alpha" << 1;
    QTest::newRow("case decides ties") << "abc"
                                       << "ABC" << 1;
    QTest::newRow("leading zeros tie") << "x01"
                                       << "x1" << -1;
    QTest::newRow("prefix first") << "file"
                                  << "file1" << -1;
    QTest::newRow("number then text") << "file9z"
                                      << "file10a" << -1;
    QTest::newRow("long numbers") << "v123456789012345678901"
                                  << "v99" << 1;
    QTest::newRow("equal") << "same"
                           << "same" << 0;
    QTest::newRow("non-ascii folded")
        << QString::fromUtf8("\xc3\x84pfel") << QString::fromUtf8("\xc3\xa4pfel") << -1;
  }
  void naturalOrder() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    QCOMPARE(CompareNaturally(a, b), sign);
    QCOMPARE(CompareNaturally(b, a), -sign);
  }

  void mountInfoParsing() {
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "36 22 98:0 /mnt1 /mnt/with\\040space rw,noatime master:1 - nfs4 srv:/x rw\n"
        "37 22 0:5 / /media/u/STICK rw - vfat /dev/sdb1 rw\n"
        "garbage line\n"
        "38 22 0:6 / /no/dash rw shared:2\n"
        "39 22 0:7 / /cd ro - iso9660 /dev/sr0 ro";
    const std::vector<MountEntry> entries = ParseMountInfo(text);
    QCOMPARE(entries.size(), size_t(4));
    QCOMPARE(entries[1].mountPoint, std::string("/mnt/with space"));
    QCOMPARE(entries[1].fsType, std::string("nfs4"));
    QCOMPARE(entries[1].source, std::string("srv:/x"));
    QCOMPARE(entries[3].mountPoint, std::string("/cd"));

    const CMountTable table = CMountTable::FromEntries(entries);
    VolumeKind kind = VolumeKind::kFixed;
    QVERIFY(table.KindAt("/mnt/with space", kind));
    QCOMPARE(kind, VolumeKind::kNetwork);
    QVERIFY(table.KindAt("/media/u/STICK", kind));
    QCOMPARE(kind, VolumeKind::kRemovable);
    QVERIFY(table.KindAt("/cd", kind));
    QCOMPARE(kind, VolumeKind::kOptical);
    QVERIFY(!table.KindAt("/mnt", kind));
  }

  void volumeKinds_data() {
    QTest::addColumn<QString>("fsType");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<int>("kind");
    QTest::newRow("cifs") << "cifs"
                          << "//srv/share"
                          << "/mnt/share" << int(VolumeKind::kNetwork);
    QTest::newRow("sshfs") << "fuse.sshfs"
                           << "u@h:"
                           << "/home/u/h" << int(VolumeKind::kNetwork);
    QTest::newRow("dvd") << "udf"
                         << "/dev/sr0"
                         << "/mnt/dvd" << int(VolumeKind::kOptical);
    QTest::newRow("run media") << "exfat"
                               << "/dev/sdc1"
                               << "/run/media/u/CARD" << int(VolumeKind::kRemovable);
    QTest::newRow("fixed") << "ext4"
                           << "/dev/no-such-disk"
                           << "/data" << int(VolumeKind::kFixed);
  }
  void volumeKinds() {
    QFETCH(QString, fsType);
    QFETCH(QString, source);
    QFETCH(QString, mountPoint);
    QFETCH(int, kind);
    QCOMPARE(
        int(ClassifyVolume(fsType.toStdString(), source.toStdString(), mountPoint.toStdString())),
        kind);
  }

  // Names, order, hidden entries and expand buttons of one listing.
  void listingOfAFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(MakeEntries(dir.path(), {"beta10/", "beta2/", "Alpha/sub/", "Empty/", "filesonly/a.txt",
                                     "filesonly/b.txt", "hiddenonly/.git/", "mixed/.git/",
                                     "mixed/src/", ".hidden/sub/", ".vgtmp.target.1234", "top.txt",
                                     "many/a/", "many/b/", "many/c/", "many/d/"}));
    CLoadProgress progress(nullptr);
    FolderReadRequest request;
    request.path = dir.path();
    const FolderReadResult result = ReadFolderChildren(request, progress);
    QCOMPARE(result.status, FolderReadStatus::kRead);
    QCOMPARE(Names(result), QStringList({"Alpha", "beta2", "beta10", "Empty", "filesonly",
                                         "hiddenonly", "many", "mixed"}));
    QCOMPARE(Find(result, "Alpha")->hasChildren, true);
    QCOMPARE(Find(result, "Empty")->hasChildren, false);
    QCOMPARE(Find(result, "filesonly")->hasChildren, false);
    QCOMPARE(Find(result, "hiddenonly")->hasChildren, false);  // only a dot folder inside
    QCOMPARE(Find(result, "mixed")->hasChildren, true);
    QCOMPARE(Find(result, "many")->hasChildren, true);
    QCOMPARE(Find(result, "Alpha")->path, dir.path() + "/Alpha");
    QCOMPARE(Find(result, "Alpha")->id, QString("Alpha"));
    QCOMPARE(Find(result, "Alpha")->kind, TreeItemKind::kFolder);
    // Progress: (0, 0), one per child, then (1, 1).
    QCOMPARE(progress.Total(), int64_t(1));
    QCOMPARE(progress.Done(), int64_t(1));

    const FolderReadResult withFiles = Read(dir.path(), true);
    QCOMPARE(Names(withFiles).mid(8), QStringList({"top.txt"}));  // files after folders
    QCOMPARE(Find(withFiles, "top.txt")->kind, TreeItemKind::kFile);
    QCOMPARE(Find(withFiles, "Empty")->hasChildren, true);  // files may be inside
    QVERIFY(!Find(withFiles, ".vgtmp.target.1234"));
  }

  // Links to folders show as folders; links back into their own branch never expand.
  void linksAndLoops() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"loops/sub/", "other/inner/", "m1/real/", "m2/real/"}));
    const QString loops = dir.path() + "/loops";
    QVERIFY(Link(".", loops + "/self"));
    QVERIFY(Link("..", loops + "/up"));
    QVERIFY(Link("/", loops + "/root"));
    QVERIFY(Link("../other", loops + "/sideways"));
    QVERIFY(Link("selfref", loops + "/selfref"));  // resolves to nothing
    QVERIFY(Link("missing", loops + "/dangling"));
    QVERIFY(Link("../m2", dir.path() + "/m1/to2"));
    QVERIFY(Link("../m1", dir.path() + "/m2/to1"));

    const FolderReadResult result = Read(loops);
    QCOMPARE(Names(result), QStringList({"root", "self", "sideways", "sub", "up"}));
    for (const char* name : {"self", "up", "root"}) {
      QVERIFY2(Find(result, name)->loop, name);
      QVERIFY2(!Find(result, name)->hasChildren, name);
      QCOMPARE(Find(result, name)->kind, TreeItemKind::kFolderLink);
    }
    QVERIFY(!Find(result, "sideways")->loop);
    QVERIFY(Find(result, "sideways")->hasChildren);
    QCOMPARE(Find(result, "sideways")->path, loops + "/sideways");
    QVERIFY(!Find(result, "sub")->loop);

    // Going round m1/to2/to1 leads back to m1, which is on the branch.
    const FolderReadResult viaLink = Read(dir.path() + "/m1/to2");
    QCOMPARE(Names(viaLink), QStringList({"real", "to1"}));
    QVERIFY(Find(viaLink, "to1")->loop);
    QVERIFY(!Find(viaLink, "real")->loop);

    // Shown as files at most when files are listed.
    const FolderReadResult withFiles = Read(loops, true);
    QCOMPARE(Find(withFiles, "dangling")->kind, TreeItemKind::kFile);
    QCOMPARE(Find(withFiles, "selfref")->kind, TreeItemKind::kFile);
  }

  void failures() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"folder/sub/", "file.txt"}));
    QCOMPARE(Read(dir.path() + "/missing").status, FolderReadStatus::kNotBound);
    QCOMPARE(Read(dir.path() + "/file.txt").status, FolderReadStatus::kNotBound);

    CLoadProgress progress(nullptr);
    FolderReadRequest request;
    request.path = dir.path() + "/folder";
    std::string seen;
    request.openHook = [&seen](const std::string& folder) {
      seen = folder;
      return EACCES;
    };
    FolderReadResult result = ReadFolderChildren(request, progress);
    QCOMPARE(result.status, FolderReadStatus::kNotEnumerated);
    QCOMPARE(result.error, EACCES);
    QCOMPARE(QString::fromStdString(seen), dir.path() + "/folder");
    QVERIFY(result.children.empty());

    if (::geteuid() != 0) {  // permissions do not stop root
      QVERIFY(QFile::setPermissions(dir.path() + "/folder", QFileDevice::WriteOwner));
      QCOMPARE(Read(dir.path() + "/folder").status, FolderReadStatus::kNotEnumerated);
      QVERIFY(QFile::setPermissions(dir.path() + "/folder", QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner |
                                                                QFileDevice::ExeOwner));
    }
  }

  // The mount point of a slow volume gets a button without being looked at: here the
  // "volume" is a dangling link, which any look would have dropped.
  void slowMountPointsAreNotTouched() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"plain/"}));
    QVERIFY(Link("nowhere", dir.path() + "/dvd"));
    const std::string base = QFile::encodeName(QDir(dir.path()).canonicalPath()).toStdString();
    auto mounts = std::make_shared<const CMountTable>(
        CMountTable::FromEntries({{base, "ext4", "/dev/no-such-disk"},
                                  {base + "/dvd", "udf", "/dev/sr9"},
                                  {base + "/plain", "nfs", "srv:/p"}}));
    const FolderReadResult result = Read(dir.path(), false, mounts);
    QVERIFY(result.parentIsFixedRoot);
    QCOMPARE(Names(result), QStringList({"dvd", "plain"}));
    QVERIFY(IsSlowKind(Find(result, "plain")->kind));
    QCOMPARE(Find(result, "plain")->kind, TreeItemKind::kNetworkVolume);
    QVERIFY(Find(result, "plain")->hasChildren);  // empty, but never probed
    QCOMPARE(Find(result, "dvd")->kind, TreeItemKind::kOpticalVolume);
    QVERIFY(Find(result, "dvd")->hasChildren);

    const FolderReadResult plain = Read(dir.path() + "/plain", false, mounts);
    QVERIFY(!plain.parentIsFixedRoot);
  }

  void cancelledReadStopsEarly() {
    QTemporaryDir dir;
    QStringList many;
    for (int i = 0; i < 600; ++i) many << QString("f%1/").arg(i);
    QVERIFY(MakeEntries(dir.path(), many));
    CLoadProgress progress(nullptr);
    progress.Cancel();
    FolderReadRequest request;
    request.path = dir.path();
    const FolderReadResult result = ReadFolderChildren(request, progress);
    QVERIFY(result.children.size() < 600);
    QCOMPARE(Read(dir.path()).children.size(), size_t(600));
  }
};

QTEST_GUILESS_MAIN(FolderTreeReaderTest)
#include "folder_tree_reader_test.moc"
