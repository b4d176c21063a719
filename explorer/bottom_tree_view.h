#pragma once
// The folder tree pane as the main frame creates it, bottom left in the splitter. It is the
// tree form view as it stands; the frame talks to it through SelectFolder and the command
// route.
#include "explorer/tree_form_view.h"

class CBottomTreeView : public CTreeFormView {
  Q_OBJECT
 public:
  explicit CBottomTreeView(INavigator* navigator, QWidget* parent = nullptr);

  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

 protected:
  // The tree covers the pane; the pane draws nothing of its own.
  void paintEvent(QPaintEvent* event) override;
};
