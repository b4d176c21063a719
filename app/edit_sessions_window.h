#pragma once
// The small window "Files being edited": one line per edit session with "Finish Editing"
// and "Show in Folder". It is shown whenever sessions are open, with or without the
// main window; a tray icon is added where the desktop has a tray (never instead).
#include <QStringList>
#include <QWidget>

#include "guard/ui/guard_ui_factory.h"

class CEditOwner;
class QPushButton;
class QSystemTrayIcon;
class QTreeWidget;

// "vellumguard --edit FILE.~de...": hands the files to the running owner, or becomes the
// owner (recovering what a crash left) and runs until every session is finished. The
// exit code: 0 when the files were handed over or every session was finished, 1 when
// none could begin.
int RunEditVerb(const QStringList& paths, const GuardUiFactory& guardUi);

class CEditSessionsWindow : public QWidget {
  Q_OBJECT
 public:
  explicit CEditSessionsWindow(CEditOwner& owner, QWidget* parent = nullptr);

  QTreeWidget* List() const { return m_list; }
  // Without the main window, closing this window means quitting: it asks first.
  void SetClosingQuits(bool quits) { m_closingQuits = quits; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Refill();
  void FinishSelected();
  void ShowSelectedInFolder();
  int SelectedIndex() const;

  CEditOwner& m_owner;
  QTreeWidget* m_list = nullptr;
  QPushButton* m_finish = nullptr;
  QPushButton* m_show = nullptr;
  QSystemTrayIcon* m_tray = nullptr;
  bool m_closingQuits = false;
};
