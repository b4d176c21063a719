#include "guardlist/ui/guard_list_model.h"

#include "common/paths.h"
#include "framework/native_path.h"
#include "framework/svg_icon.h"
#include "guardlist/explorer_doc.h"

namespace {
const char* const kHeaders[COL_COUNT] = {"No", "Name", "Path", "Type", "Note"};
const char* const kStatusImages[kStatusImageCount] = {
    ":/guardlist/status_file_plain.svg",       ":/guardlist/status_file_protected.svg",
    ":/guardlist/status_file_missing.svg",     ":/guardlist/status_folder_plain.svg",
    ":/guardlist/status_folder_protected.svg", ":/guardlist/status_folder_missing.svg",
};
}  // namespace

void InitGuardListResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(guardlist_ui);
    return true;
  }();
  (void)done;
}

QString NameCellText(const CGuardItem& item) {
  return FromNative(LastPathComponent(item.m_path));
}

QString TypeCellText(const CGuardItem& item) {
  if (item.IsFolder()) return QString::fromStdString(ItemTypeText(item));
  const std::string name = LastPathComponent(item.m_path);
  // "." and the text after the last dot; a dot name (".bashrc") is its own extension.
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return QString();
  return QStringLiteral(".") + FromNative(std::string_view(name).substr(dot + 1));
}

CGuardListModel::CGuardListModel(std::vector<CGuardItem>* items, QObject* parent)
    : QAbstractTableModel(parent), m_items(items) {
  InitGuardListResources();
  for (int i = 0; i < kStatusImageCount; ++i)
    m_icons[i] = LoadSvgIcon(QString::fromLatin1(kStatusImages[i]));
}

void CGuardListModel::Refresh() {
  beginResetModel();
  endResetModel();
}

const QIcon& CGuardListModel::StatusIcon(int status) const {
  static const QIcon none;
  return status >= 0 && status < kStatusImageCount ? m_icons[status] : none;
}

int CGuardListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_items->size());
}

int CGuardListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : COL_COUNT;
}

QVariant CGuardListModel::data(const QModelIndex& index, int role) const {
  const int row = index.row();
  if (!index.isValid() || row < 0 || static_cast<size_t>(row) >= m_items->size()) return {};
  const int column = index.column();
  const bool image = role == Qt::DecorationRole && column == COL_NO;
  const bool text = role == Qt::DisplayRole || role == Qt::ToolTipRole;
  if (!image && !text) return {};
  CGuardItem& item = (*m_items)[static_cast<size_t>(row)];
  int status = item.m_state;
  if (image || column == COL_NOTE) {
    ++m_statusChecks;
    status = EvaluateItemStatus(item);
  }
  if (image) return StatusIcon(status);
  switch (column) {
    case COL_NO:
      return QString::number(row + 1);
    case COL_NAME:
      return NameCellText(item);
    case COL_PATH:
      return FromNative(item.m_path);
    case COL_TYPE:
      return TypeCellText(item);
    case COL_NOTE:
      return QString::fromStdString(ItemStatusText(item));
    default:
      return {};
  }
}

QVariant CGuardListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= COL_COUNT) return {};
  return QString::fromLatin1(kHeaders[section]);
}

Qt::ItemFlags CGuardListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
