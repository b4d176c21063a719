#pragma once
// The paste engine behind PasteFiles: one run copies or moves its sources into a target
// folder, entry by entry, asking before anything is replaced and reporting every failure
// through IFileOpUi with the file and the reason. Copies go to a temporary name beside the
// target, are synced and only then renamed into place; a move across file systems removes
// each source only after its copy is complete.
#include <sys/stat.h>

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

#include "explorer/file_operations.h"

class CPasteRun {
 public:
  CPasteRun(PasteMode mode, IFileOpUi& ui) : m_mode(mode), m_ui(ui) {}

  FileOpResult Run(const QStringList& sources, const QString& targetFolder);

 private:
  QString Verb() const;
  void Failure(const std::string& path, const QString& reason);
  // One source given by the user, into the target folder (or as its copy beside itself).
  void TopLevel(const std::string& src, const std::string& targetFolder);
  // Asks before dst is replaced. True to replace; false to skip (m_stop set on Cancel).
  bool ConfirmReplace(const std::string& dst);
  // Copies or moves one entry; true when it is complete at dst.
  bool Entry(const std::string& src, const std::string& dst);
  // Reports progress after an entry is complete; the entry itself stays done on Cancel.
  bool Tick(const std::string& path);
  bool Folder(const std::string& src, const std::string& dst, const struct stat& st, bool exists,
              const struct stat& dstSt);
  // Copies or moves every entry of the folder src into dst; all turns false when one did
  // not make it. False when the run cannot go on in this folder (unlistable, cancelled).
  bool FolderEntries(const std::string& src, const std::string& dst, bool& all);
  // A folder made by this run gets the permissions of its original.
  void SetFolderMode(const std::string& dst, const struct stat& st);
  // Writes a copy of src (a file or a link) under dst through a temporary name.
  bool CopyOne(const std::string& src, const std::string& dst, const struct stat& st, bool replace);
  bool CopyLink(const std::string& src, const std::string& dst, const std::string& temp,
                const struct stat& st, bool replace);
  // The contents from in to out, with progress; 0, an errno, or -1 when the user cancelled.
  int CopyContents(int in, int out, const std::string& src);
  bool Commit(const std::string& src, const std::string& temp, const std::string& dst,
              bool replace);

  PasteMode m_mode;
  IFileOpUi& m_ui;
  FileOpResult m_result;
  uint64_t m_total = 0;
  uint64_t m_done = 0;
  bool m_stop = false;
};
