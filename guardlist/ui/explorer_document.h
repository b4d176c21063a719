#pragma once
// The guard list as the window's document: the framework's New, Open, Save and Save As
// on the list model CExplorerDoc, with its modified flag mirrored, the list's settings
// dialog, and every list file opened or saved handed to the known list paths.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/command_target.h"
#include "framework/document.h"
#include "guard/ui/guard_ui_factory.h"
#include "guardlist/app_state.h"
#include "guardlist/explorer_doc.h"

class CExplorerDocument : public CDocument {
  Q_OBJECT
 public:
  explicit CExplorerDocument(QObject* parent = nullptr);
  ~CExplorerDocument() override;

  CExplorerDoc& Core() { return m_doc; }
  const CExplorerDoc& Core() const { return m_doc; }
  std::vector<CGuardItem>& Items() { return m_doc.m_items; }
  const std::vector<CGuardItem>& Items() const { return m_doc.m_items; }

  // The list model's operations (each marks the document modified as the model says).
  int AddItem(const CGuardItem& item) { return m_doc.AddItem(item); }
  int FindItem(const std::string& path) const { return m_doc.FindItem(path); }
  void SortItems(bool ascending, int key) { m_doc.SortItems(ascending, key); }
  // The list's settings dialog, owned by the window given with SetGuardUiFactory. False
  // when cancelled or when no window can show it.
  bool EditListSettings();

  bool HasPassword() const { return m_doc.HasPassword(); }
  const uint8_t* KeyDigest() const { return m_doc.m_digest; }
  int ZipLevel() const { return m_doc.m_zipLevel; }
  const std::string& IncludeMask() const { return m_doc.m_includeMask; }
  const std::string& ExcludeMask() const { return m_doc.m_excludeMask; }
  const std::string& NoZipMask() const { return m_doc.m_noZipMask; }

  // Where the list's dialogs come from (the settings dialog of New and Properties).
  void SetGuardUiFactory(GuardUiFactory factory, QWidget* owner);
  bool HasGuardUiFactory() const { return static_cast<bool>(m_guardUi); }
  // The application's register of known list paths (guardlist/app_state.h); every list
  // opened or saved is handed to it. Not owned; may stay unset (nothing is remembered).
  void SetKnownListPaths(KnownListPaths* paths) { m_knownPaths = paths; }
  KnownListPaths* KnownPaths() const { return m_knownPaths; }

  void DeleteContents() override;
  // Empties the list and takes the default settings; from the second time on (List,
  // New) the list's settings dialog opens too.
  bool OnNewDocument() override;
  // Reads the list file. A file that is not a list, or cannot be read, is refused with a
  // message and the document stays as it was; a damaged list opens with what stood
  // before the damage, after a warning.
  bool OnOpenDocument(const QString& path) override;
  // Remembers the path, then writes the list crash-safely; a failure is reported with
  // the file and the reason and leaves the old file and the modified flag as they were.
  bool OnSaveDocument(const QString& path) override;

 private:
  QWidget* DialogOwner() const;
  void Remember(const QString& path);

  CExplorerDoc m_doc;
  GuardUiFactory m_guardUi;
  QPointer<QWidget> m_guardUiOwner;
  KnownListPaths* m_knownPaths = nullptr;
};
