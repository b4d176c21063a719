#pragma once
// The item model of the file list over its entry table. It holds no copies: every text and
// icon is answered from the table when a view asks for it, and type texts and icons are
// fetched only for rows that are drawn, then kept in the entry. Edits of a name are not
// applied here: they are handed to the control as RenameRequested and reported as not
// accepted, so a row keeps its label until the folder shows the new name.
#include <QAbstractItemModel>
#include <QStringList>
#include <vector>

#include "explorer/file_listing.h"

class CFileListModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  static constexpr int kColumns = 5;

  explicit CFileListModel(QObject* parent = nullptr);

  const FileEntryTable& Entries() const { return m_entries; }
  const FileListEntry* Entry(int row) const;
  // Replaces the whole table, sorted first by sortColumn unless it is -1; volumes marks
  // the computer view.
  void ResetEntries(FileEntryTable&& entries, bool volumes, int sortColumn = -1,
                    bool ascending = true);
  bool ShowsVolumes() const { return m_volumes; }
  // Sorts the rows (see SortEntries); the selection and the focused row follow their
  // entries. Sorting by type fetches the missing type texts first.
  void SortRows(int column, bool ascending);

  void SetHeadings(const QStringList& headings);
  QStringList Headings() const { return m_headings; }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;

 signals:
  void RenameRequested(int row, const QString& newName);

 private:
  void EnsureFetched(int row) const;
  static void FetchTypesForSort(FileEntryTable& entries, int column, bool volumes);

  // Type texts and icons are filled in lazily by data(), hence mutable.
  mutable FileEntryTable m_entries;
  bool m_volumes = false;
  QStringList m_headings;
};
