#pragma once
// The Properties window of the context menu: name, type, location, size, times, owner and
// permissions of one item, or the count and total size of several. It is modeless and
// deletes itself when closed, like the desktop's property windows.
#include <QDialog>
#include <QStringList>

class CFilePropertiesDialog : public QDialog {
  Q_OBJECT
 public:
  CFilePropertiesDialog(const QStringList& paths, QWidget* parent = nullptr);
  // The rows shown, as (label, value) pairs in order.
  const QList<QPair<QString, QString>>& Rows() const { return m_rows; }

 private:
  void AddRow(const QString& label, const QString& value);
  void AddItemRows(const QString& path);
  void AddSelectionRows(const QStringList& paths);
  QList<QPair<QString, QString>> m_rows;
};

// Shows the window for the paths (folders may carry a trailing "/") and returns at once.
CFilePropertiesDialog* ShowFileProperties(QWidget* owner, const QStringList& paths);
