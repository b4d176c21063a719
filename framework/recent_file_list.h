#pragma once
// The recent-file list: most recent first, at most ten entries, no two equal; kept in
// the application profile (section "Recent File List", values "File1".."File10").
#include <QString>
#include <QStringList>

class CRecentFileList {
 public:
  explicit CRecentFileList(int size = 10);

  // Moves or puts the path at the front.
  void Add(const QString& path);
  void Remove(int index);
  int Size() const { return m_size; }
  int Count() const { return m_paths.size(); }
  QString At(int index) const { return m_paths.value(index); }
  const QStringList& Paths() const { return m_paths; }
  // The menu text of entry index: "&1 /path/file.dlt", long paths shortened in the middle.
  QString MenuText(int index) const;

  void ReadList();
  void WriteList() const;

 private:
  int m_size;
  QStringList m_paths;
};
