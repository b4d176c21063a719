#pragma once
// The guard list pane across the top of the window: the list with its commands
// (CTopListForm), plus copy, paste and files dropped from the desktop's file manager.
#include <QStringList>

#include "guardlist/ui/top_list_form.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;

class CTopView : public CTopListForm {
  Q_OBJECT
 public:
  CTopView(CExplorerDocument* document, INavigator* navigator, GuardUiFactory guardUi,
           QWidget* parent = nullptr);

  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

  // The clipboard form of a list of files: text/uri-list and the file managers' own
  // formats for copied files.
  static QMimeData* FileListMimeData(const QStringList& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void OnCopy();
  void OnPaste();
};
