#pragma once
// The guard list as a five-column table for the list pane. It keeps no rows of its own:
// every cell is read from the document's items when the view asks, and the status of an
// item is checked on disk whenever its image or its "Note" cell is drawn, so only the
// rows on screen cost a look at the disk.
#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <vector>

#include "guard/guard_item.h"

enum GuardListColumn : int { COL_NO = 0, COL_NAME, COL_PATH, COL_TYPE, COL_NOTE, COL_COUNT };

// One picture per status number (ItemStatus, guardlist/explorer_doc.h).
inline constexpr int kStatusImageCount = 6;

// Makes the pictures of the list pane available (the library is static).
void InitGuardListResources();

// The "Type" cell: "_Dir" for folders, "." and the extension of the file's own name for
// files; empty for a name without an extension (a dot in a folder above does not count).
QString TypeCellText(const CGuardItem& item);
QString NameCellText(const CGuardItem& item);

class CGuardListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit CGuardListModel(std::vector<CGuardItem>* items, QObject* parent = nullptr);

  // The item array may have changed in any way: rows are asked for again.
  void Refresh();
  const QIcon& StatusIcon(int status) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // How many disk checks the cells have asked for (tests and benchmarks).
  qint64 StatusChecks() const { return m_statusChecks; }

 private:
  std::vector<CGuardItem>* m_items;
  QIcon m_icons[kStatusImageCount];
  mutable qint64 m_statusChecks = 0;
};
