#include "explorer/tree_icon_set.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32};

// The link mark drawn by hand where the theme has no link emblem.
void PaintLinkArrow(QPainter& painter, const QRect& box, int e) {
  painter.fillRect(box, Qt::white);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(box.adjusted(0, 0, -1, -1));
  const QPoint from(box.left() + 2, box.bottom() - 1);
  const QPoint to(box.right() - 1, box.top() + 2);
  painter.drawLine(from, to);
  painter.drawLine(to, to + QPoint(-e / 3, 0));
  painter.drawLine(to, to + QPoint(0, e / 3));
}

}  // namespace

QIcon CTreeIconSet::IconFor(TreeItemKind kind) const {
  const int key = static_cast<int>(kind);
  auto it = m_icons.find(key);
  if (it == m_icons.end()) it = m_icons.insert(key, MakeIcon(kind));
  return it.value();
}

QIcon CTreeIconSet::Themed(const char* name, QAbstractFileIconProvider::IconType fallback) const {
  const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
  return icon.isNull() ? m_iconProvider.icon(fallback) : icon;
}

QIcon CTreeIconSet::FolderIcon() const {
  QIcon folder = m_iconProvider.icon(QAbstractFileIconProvider::Folder);
  const QIcon open = QIcon::fromTheme(QStringLiteral("folder-open"));
  if (open.isNull()) return folder;
  QIcon both;
  for (int size : kIconSizes) {
    both.addPixmap(folder.pixmap(size), QIcon::Normal);
    both.addPixmap(open.pixmap(size), QIcon::Selected);
  }
  return both;
}

QIcon CTreeIconSet::FolderLinkIcon() const {
  const QIcon folder = IconFor(TreeItemKind::kFolder);
  const QIcon emblem = QIcon::fromTheme(QStringLiteral("emblem-symbolic-link"));
  QIcon linked;
  for (int size : kIconSizes) {
    QPixmap pixmap = folder.pixmap(size);
    if (pixmap.isNull()) continue;
    QPainter painter(&pixmap);
    const int e = std::max(7, size / 2);
    const QRect box(0, pixmap.height() - e, e, e);
    if (!emblem.isNull()) {
      emblem.paint(&painter, box);
    } else {
      PaintLinkArrow(painter, box, e);
    }
    painter.end();
    linked.addPixmap(pixmap);
  }
  return linked.isNull() ? folder : linked;
}

QIcon CTreeIconSet::MakeIcon(TreeItemKind kind) const {
  switch (kind) {
    case TreeItemKind::kFolder:
      return FolderIcon();
    case TreeItemKind::kFolderLink:
      return FolderLinkIcon();
    case TreeItemKind::kFile:
      return m_iconProvider.icon(QAbstractFileIconProvider::File);
    case TreeItemKind::kHome:
      return Themed("user-home", QAbstractFileIconProvider::Folder);
    case TreeItemKind::kDesktop:
      return Themed("user-desktop", QAbstractFileIconProvider::Desktop);
    case TreeItemKind::kFileSystem:
    case TreeItemKind::kFixedVolume:
      return Themed("drive-harddisk", QAbstractFileIconProvider::Drive);
    case TreeItemKind::kComputer:
      return Themed("computer", QAbstractFileIconProvider::Computer);
    case TreeItemKind::kRemovableVolume:
      return Themed("drive-removable-media", QAbstractFileIconProvider::Drive);
    case TreeItemKind::kNetworkVolume:
      return Themed("folder-remote", QAbstractFileIconProvider::Network);
    case TreeItemKind::kOpticalVolume:
      return Themed("drive-optical", QAbstractFileIconProvider::Drive);
  }
  return {};
}
