#include "explorer/file_list_model.h"

#include <QMimeData>
#include <algorithm>

#include "explorer/file_clipboard.h"
#include "explorer/file_entry_sort.h"
#include "explorer/file_type_cache.h"

CFileListModel::CFileListModel(QObject* parent) : QAbstractItemModel(parent) {
  m_headings = {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Type"),
                QStringLiteral("Last Modified"), QStringLiteral("Attributes")};
}

const FileListEntry* CFileListModel::Entry(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= m_entries.size()) return nullptr;
  return &m_entries[static_cast<size_t>(row)];
}

void CFileListModel::FetchTypesForSort(FileEntryTable& entries, int column, bool volumes) {
  if (SortKeyOfColumn(column) != SortKey::Type) return;
  CFileTypeCache& cache = CFileTypeCache::Instance();
  for (FileListEntry& e : entries) cache.FetchType(e, volumes);
}

void CFileListModel::ResetEntries(FileEntryTable&& entries, bool volumes, int sortColumn,
                                  bool ascending) {
  if (sortColumn >= 0) {
    FetchTypesForSort(entries, sortColumn, volumes);
    SortEntries(entries, sortColumn, ascending);
  }
  beginResetModel();
  m_entries = std::move(entries);
  m_volumes = volumes;
  endResetModel();
}

void CFileListModel::SortRows(int column, bool ascending) {
  FetchTypesForSort(m_entries, column, m_volumes);
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> order;
  SortEntries(m_entries, column, ascending, &order);
  // Persistent indexes (selection, focus, open editors) follow their rows.
  std::vector<int> newRowOf(order.size());
  for (size_t i = 0; i < order.size(); ++i)
    newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& idx : from) {
    const auto r = static_cast<size_t>(idx.row());
    to.append(r < newRowOf.size() ? index(newRowOf[r], idx.column()) : QModelIndex());
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CFileListModel::SetHeadings(const QStringList& headings) {
  m_headings = headings;
  while (m_headings.size() < kColumns) m_headings.append(QString());
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

QModelIndex CFileListModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || column < 0 || column >= kColumns ||
      static_cast<size_t>(row) >= m_entries.size())
    return QModelIndex();
  return createIndex(row, column);
}

QModelIndex CFileListModel::parent(const QModelIndex&) const {
  return QModelIndex();
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

void CFileListModel::EnsureFetched(int row) const {
  FileListEntry& e = m_entries[static_cast<size_t>(row)];
  if (e.iconIndex < 0) CFileTypeCache::Instance().Fetch(e, m_volumes);
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<size_t>(index.row()) >= m_entries.size()) return QVariant();
  const int row = index.row();
  const FileListEntry& e = m_entries[static_cast<size_t>(row)];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      switch (index.column()) {
        case 0:
          return e.name;
        case 1:
          return e.IsFolder() ? QString() : SizeText(e.size);
        case 2:
          EnsureFetched(row);
          return e.typeText;
        case 3:
          if (e.IsFolder() || e.name.startsWith(QLatin1Char('.'))) return QString();
          return TimeText(e.lastWrite);
        case 4:
          return AttributeLetters(e.attributes);
        default:
          return QVariant();
      }
    case Qt::DecorationRole:
      if (index.column() != 0) return QVariant();
      EnsureFetched(row);
      return CFileTypeCache::Instance().Icon(e.iconIndex);
    case Qt::TextAlignmentRole:
      // Size and attributes line up on the right; the icon views place labels themselves.
      if (index.column() == 1 || index.column() == 4)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant();
    case Qt::ToolTipRole:
      return index.column() == 0 ? e.fullPath : QVariant();
    default:
      return QVariant();
  }
}

bool CFileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::EditRole) return false;
  emit RenameRequested(index.row(), value.toString());
  // Not accepted: the row keeps its label until the folder itself shows the new name.
  return false;
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return QVariant();
  if (role == Qt::DisplayRole) return m_headings.value(section);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue((section == 1 || section == 4 ? Qt::AlignRight : Qt::AlignLeft) |
                               Qt::AlignVCenter);
  }
  return QVariant();
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  const FileListEntry* e = Entry(index.row());
  if (!e) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
  if (e->IsParentRow()) return f;
  f |= Qt::ItemIsDragEnabled;
  if (e->IsFolder()) f |= Qt::ItemIsDropEnabled;
  if (index.column() == 0 && !m_volumes) f |= Qt::ItemIsEditable;
  return f;
}

QStringList CFileListModel::mimeTypes() const {
  return {QStringLiteral("text/uri-list")};
}

QMimeData* CFileListModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<int> rows;
  rows.reserve(static_cast<size_t>(indexes.size()));
  for (const QModelIndex& idx : indexes) rows.push_back(idx.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  QStringList paths;
  for (int r : rows) {
    const FileListEntry* e = Entry(r);
    // Dragging ".." would carry the parent folder along with the chosen files.
    if (e && !e->IsParentRow()) paths.append(e->fullPath);
  }
  if (paths.isEmpty()) return nullptr;
  QMimeData* data = MakeFileMimeData(paths, false);
  data->setData(QString::fromLatin1(kListDragMarkerMime), QByteArray(1, '\1'));
  return data;
}

Qt::DropActions CFileListModel::supportedDragActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions CFileListModel::supportedDropActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}
