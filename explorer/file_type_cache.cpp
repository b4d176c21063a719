#include "explorer/file_type_cache.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "framework/svg_icon.h"

// The pictures of the program's own file types, built into the library.
static void InitExplorerIcons() {
  static const bool done = [] {
    Q_INIT_RESOURCE(explorer_icons);
    return true;
  }();
  (void)done;
}

namespace {

QString KeyOf(const FileListEntry& entry, bool volume) {
  if (volume) return QStringLiteral("v:");
  if (entry.IsFolder()) return QStringLiteral("d:");
  // Everything after the first dot decides the match of the MIME globs in practice; a name
  // without one is its own key.
  const qsizetype dot = entry.name.indexOf(QLatin1Char('.'), 1);
  if (dot < 0) return QStringLiteral("n:") + entry.name;
  return QStringLiteral("s:") + entry.name.mid(dot + 1);
}

}  // namespace

namespace {
CFileTypeCache* g_cache = nullptr;

constexpr const char* kProtectedMime = "application/x-vellumguard-protected";
constexpr const char* kListMime = "application/x-vellumguard-list";

// The program's own file types, whether or not the desktop's MIME database has them yet
// (a copy that was never installed): without this they would look like plain files.
QString OwnMimeOf(const QString& name) {
  if (name.endsWith(QLatin1String(".~de"))) return QString::fromLatin1(kProtectedMime);
  if (name.endsWith(QLatin1String(".dlt"), Qt::CaseInsensitive))
    return QString::fromLatin1(kListMime);
  return {};
}

// The theme's icon for our type when it has one (the installed package puts it there),
// else the picture built into the program.
QIcon OwnTypeIcon(const QString& mimeName) {
  InitExplorerIcons();
  QString iconName = mimeName;
  iconName.replace(QLatin1Char('/'), QLatin1Char('-'));
  return QIcon::fromTheme(iconName, LoadSvgIcon(QStringLiteral(":/explorer/mimetypes/") + iconName +
                                                QStringLiteral(".svg")));
}

}  // namespace

CFileTypeCache& CFileTypeCache::Instance() {
  if (!g_cache) {
    g_cache = new CFileTypeCache;
    // Icons must go while the application still exists; a later application starts anew.
    qAddPostRoutine([] {
      delete g_cache;
      g_cache = nullptr;
    });
  }
  return *g_cache;
}

CFileTypeCache::TypeInfo& CFileTypeCache::Lookup(const FileListEntry& entry, bool volume) {
  const QString key = KeyOf(entry, volume);
  auto it = m_byKey.find(key);
  if (it != m_byKey.end()) return it.value();
  TypeInfo info;
  QMimeType mime;
  if (volume) {
    mime = m_mimeDb.mimeTypeForName(QStringLiteral("inode/mount-point"));
  } else if (entry.IsFolder()) {
    mime = m_mimeDb.mimeTypeForName(QStringLiteral("inode/directory"));
  } else {
    mime = m_mimeDb.mimeTypeForFile(entry.name, QMimeDatabase::MatchExtension);
  }
  info.mimeName = mime.isValid() ? mime.name() : QStringLiteral("application/octet-stream");
  if (!volume && !entry.IsFolder()) {
    if (const QString own = OwnMimeOf(entry.name); !own.isEmpty()) info.mimeName = own;
  }
  info.typeText = mime.isValid() && !mime.isDefault() ? mime.comment() : QString();
  if (info.typeText.isEmpty()) {
    // Unknown types are named after their extension, as the shell does: "~DE File".
    const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
    info.typeText = dot > 0 && dot + 1 < entry.name.size()
                        ? entry.name.mid(dot + 1).toUpper() + QStringLiteral(" File")
                        : QStringLiteral("File");
  }
  return m_byKey.insert(key, info).value();
}

int CFileTypeCache::IconFor(const QString& mimeName, const FileListEntry& entry, bool volume) {
  const QString key = volume ? QStringLiteral("volume") : mimeName;
  if (auto it = m_iconByMime.constFind(key); it != m_iconByMime.constEnd()) return it.value();
  QIcon icon;
  if (volume) {
    icon = m_iconProvider.icon(QAbstractFileIconProvider::Drive);
  } else if (entry.IsFolder()) {
    icon = m_iconProvider.icon(QAbstractFileIconProvider::Folder);
  } else if (mimeName == QLatin1String(kProtectedMime) || mimeName == QLatin1String(kListMime)) {
    icon = OwnTypeIcon(mimeName);
  } else {
    // The first file of a type stands for all of them, as one image list entry does.
    icon = m_iconProvider.icon(QFileInfo(entry.fullPath));
    if (icon.isNull()) icon = m_iconProvider.icon(QAbstractFileIconProvider::File);
  }
  m_icons.append(icon);
  const int index = static_cast<int>(m_icons.size() - 1);
  m_iconByMime.insert(key, index);
  return index;
}

void CFileTypeCache::FetchType(FileListEntry& entry, bool volume) {
  if (!entry.typeText.isEmpty()) return;
  // Rows of one folder mostly repeat a few suffixes: the last one answers without a lookup.
  if (!volume && !entry.IsFolder() && !m_lastSuffix.isEmpty() &&
      entry.name.endsWith(m_lastSuffix) &&
      entry.name.indexOf(QLatin1Char('.'), 1) == entry.name.size() - m_lastSuffix.size()) {
    entry.typeText = m_lastType;
    return;
  }
  const TypeInfo& info = Lookup(entry, volume);
  entry.typeText = info.typeText;
  const qsizetype dot = entry.name.indexOf(QLatin1Char('.'), 1);
  if (!volume && !entry.IsFolder() && dot > 0) {
    m_lastSuffix = entry.name.mid(dot);
    m_lastType = info.typeText;
  }
}

void CFileTypeCache::Fetch(FileListEntry& entry, bool volume) {
  TypeInfo& info = Lookup(entry, volume);
  if (info.iconIndex < 0) info.iconIndex = IconFor(info.mimeName, entry, volume);
  entry.typeText = info.typeText;
  entry.iconIndex = info.iconIndex;
}

QIcon CFileTypeCache::Icon(int index) const {
  if (index < 0 || index >= m_icons.size()) return QIcon();
  return m_icons[index];
}
