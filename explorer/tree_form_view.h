#pragma once
// The folder tree pane: the window's folder tree filling the pane, starting at the standard
// top level with folders only. A folder the user selects is reported to the window with
// NAV_TREE; a double click opens the folder in the desktop's file manager (and expands or
// collapses it as usual); SelectFolder follows the other panes without reporting back.
#include <QHash>
#include <QUrl>
#include <QWidget>
#include <functional>

#include "explorer/shell_tree_ctrl.h"
#include "framework/command_target.h"

// Width in pixels of the red fill of the busy bar, at most 50. With a known total it is
// done * 50 / total; with total 0 (not yet known) it approaches full length as children
// arrive: 0, 8, 16, 23, 34 and 47 after 0, 1, 2, 3, 5 and 10 children, never more than 49.
int BusyBarFillWidth(int64_t total, int64_t done);

// The tree kind of the pane: a ShellTreeCtrl whose "Loading..." placeholder carries a small
// busy bar, a black frame 56 pixels wide starting 3 pixels after the text with a red fill
// inside, drawn from the reading worker's progress.
class CPaneTreeCtrl : public ShellTreeCtrl {
  Q_OBJECT
 public:
  explicit CPaneTreeCtrl(QWidget* parent = nullptr);

  // The fill width drawn for a placeholder, -1 when it has no busy bar.
  int BusyFillWidth(const QTreeWidgetItem* placeholder) const;
  // The frame and fill of a placeholder's bar in viewport coordinates (empty when hidden).
  QRect BusyFrameRect(const QTreeWidgetItem* placeholder) const;
  QRect BusyFillRect(const QTreeWidgetItem* placeholder) const;

 protected:
  void PrepareBusyIndicator(QTreeWidgetItem* placeholder) override;
  void DrawBusyIndicator(QTreeWidgetItem* placeholder, bool tick, int64_t total,
                         int64_t done) override;
  void EndBusyIndicator(QTreeWidgetItem* placeholder) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect PlaceholderTextRect(const QTreeWidgetItem* placeholder) const;

  QHash<const QTreeWidgetItem*, int> m_fillWidths;
};

class CTreeFormView : public QWidget, public ICommandTarget {
  Q_OBJECT
 public:
  // Opens a folder in the desktop's file manager; true when that was started.
  using FolderOpener = std::function<bool(const QUrl& folder)>;

  explicit CTreeFormView(INavigator* navigator, QWidget* parent = nullptr);
  ~CTreeFormView() override;

  // Loads the top level the first time; later calls change nothing.
  void OnInitialUpdate();
  // Selects the folder without reporting it back; a path the tree cannot resolve leaves
  // the selection as it is.
  void SelectFolder(const QString& path);
  // The folder selected in the tree (empty for none or for the computer).
  QString SelectedFolder() const;

  CPaneTreeCtrl* Tree() const { return m_tree; }
  // Replaces QDesktopServices::openUrl (tests).
  void SetFolderOpener(FolderOpener opener) { m_opener = std::move(opener); }

  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

 signals:
  void SelectionChanged();

 private:
  void OnTreeSelectionChanged();
  void OnTreeDoubleClicked(QTreeWidgetItem* item);
  static bool IsReportable(const QString& path);

  INavigator* m_navigator;
  CPaneTreeCtrl* m_tree;
  FolderOpener m_opener;
  bool m_initialized = false;
};
