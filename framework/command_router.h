#pragma once
// One QAction per command identifier, and the route a command travels: the pane that
// has (or last had) the keyboard focus, the document, the frame, the application. The
// first target that handles a command runs it. Update handlers decide enabled, check
// and text; a command that no target handles is disabled (Undo and Print, for example).
// States are brought up to date before a menu is shown, when the focus moves between
// panes, when a pane reports a new selection and after every command.
#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "framework/command_target.h"

class CDocument;
class QAction;
class QMenu;
class QTimer;

class CCommandRouter : public QObject {
  Q_OBJECT
 public:
  // Actions are added to window, so their shortcuts work anywhere inside it.
  explicit CCommandRouter(QWidget* window);
  ~CCommandRouter() override;

  // The action of command id. prompt is "status text\ntooltip" (the tooltip may be
  // missing); text may carry "\t" and the shortcut's text after it.
  QAction* AddCommand(int id, const QString& text, const QString& prompt = QString(),
                      const QList<QKeySequence>& shortcuts = {});
  QAction* Action(int id) const { return m_actions.value(id); }
  QList<int> CommandIds() const { return m_order; }
  // The command identifier of an action made here, or 0.
  static int CommandIdOf(const QAction* action);

  // The route. Panes are kept in the order given (F6 moves along it).
  void AddPane(QWidget* pane, ICommandTarget* target);
  void SetDocument(CDocument* document);
  void SetFrameTarget(ICommandTarget* target) { m_frame = target; }
  void SetAppTarget(ICommandTarget* target) { m_app = target; }

  // The pane on the route: the one holding the focus, else the last one that held it.
  QWidget* ActivePane() const { return m_activePane; }
  void SetActivePane(QWidget* pane);
  // Moves the focus to the next (or previous) pane.
  void ActivateNextPane(bool forward);
  int PaneCount() const { return m_panes.size(); }
  QWidget* PaneAt(int index) const;

  // Runs the command on the first target that handles it; false when none did.
  bool Route(int id);
  // The state that the route gives the command (disabled when nobody handles it).
  CommandUpdate QueryUpdate(int id) const;
  // Applies the route's states to every action, or to the given ones.
  void UpdateCommands();
  void UpdateCommands(const QList<QAction*>& actions);
  // The menu's actions are updated every time before it opens.
  void WatchMenu(QMenu* menu);

 public slots:
  // Brings the states up to date soon (several requests in a row update once).
  void ScheduleUpdate();

 signals:
  void CommandRouted(int id);

 private:
  struct Pane {
    QPointer<QWidget> widget;
    ICommandTarget* target;
  };
  void OnFocusChanged(QWidget* old, QWidget* now);
  const Pane* FindPane(const QWidget* widget) const;
  ICommandTarget* ActiveTarget() const;
  void Apply(QAction* action, const CommandUpdate& update);

  QWidget* m_window;
  QHash<int, QAction*> m_actions;
  QList<int> m_order;
  QList<Pane> m_panes;
  QPointer<QWidget> m_activePane;
  QPointer<CDocument> m_document;
  ICommandTarget* m_frame = nullptr;
  ICommandTarget* m_app = nullptr;
  QTimer* m_updateTimer;
};
