#include "framework/command_router.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QTimer>
#include <QWidget>

#include "framework/document.h"

namespace {
const char* const kCommandIdProperty = "vgCommandId";
}  // namespace

CCommandRouter::CCommandRouter(QWidget* window)
    : QObject(window), m_window(window), m_updateTimer(new QTimer(this)) {
  m_updateTimer->setSingleShot(true);
  m_updateTimer->setInterval(0);
  connect(m_updateTimer, &QTimer::timeout, this, [this] { UpdateCommands(); });
  connect(qApp, &QApplication::focusChanged, this, &CCommandRouter::OnFocusChanged);
}

CCommandRouter::~CCommandRouter() = default;

QAction* CCommandRouter::AddCommand(int id, const QString& text, const QString& prompt,
                                    const QList<QKeySequence>& shortcuts) {
  auto* action = new QAction(text, m_window);
  action->setProperty(kCommandIdProperty, id);
  const int newline = prompt.indexOf(QLatin1Char('\n'));
  const QString status = newline < 0 ? prompt : prompt.left(newline);
  const QString tip = newline < 0 ? QString() : prompt.mid(newline + 1);
  action->setStatusTip(status);
  if (!tip.isEmpty()) action->setToolTip(tip);
  if (!shortcuts.isEmpty()) {
    action->setShortcuts(shortcuts);
    action->setShortcutContext(Qt::WindowShortcut);
  }
  m_window->addAction(action);
  connect(action, &QAction::triggered, this, [this, id] { Route(id); });
  m_actions.insert(id, action);
  m_order.append(id);
  return action;
}

int CCommandRouter::CommandIdOf(const QAction* action) {
  return action ? action->property(kCommandIdProperty).toInt() : 0;
}

void CCommandRouter::AddPane(QWidget* pane, ICommandTarget* target) {
  m_panes.append(Pane{pane, target});
  if (!m_activePane) m_activePane = pane;
  // A pane that declares SelectionChanged() tells us when its commands may change.
  const QMetaObject* meta = pane->metaObject();
  const int index = meta->indexOfSignal("SelectionChanged()");
  if (index >= 0) {
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("ScheduleUpdate()"));
    connect(pane, meta->method(index), this, slot);
  }
}

void CCommandRouter::SetDocument(CDocument* document) {
  if (m_document) disconnect(m_document, nullptr, this, nullptr);
  m_document = document;
  if (document)
    connect(document, &CDocument::ModifiedChanged, this, &CCommandRouter::ScheduleUpdate);
}

QWidget* CCommandRouter::PaneAt(int index) const {
  return index >= 0 && index < m_panes.size() ? m_panes.at(index).widget.data() : nullptr;
}

const CCommandRouter::Pane* CCommandRouter::FindPane(const QWidget* widget) const {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    for (const Pane& pane : m_panes)
      if (pane.widget == w) return &pane;
    if (w->isWindow()) break;
  }
  return nullptr;
}

void CCommandRouter::SetActivePane(QWidget* pane) {
  if (m_activePane == pane) return;
  m_activePane = pane;
  ScheduleUpdate();
}

void CCommandRouter::OnFocusChanged(QWidget* /*old*/, QWidget* now) {
  if (const Pane* pane = FindPane(now)) m_activePane = pane->widget;
  ScheduleUpdate();
}

void CCommandRouter::ActivateNextPane(bool forward) {
  const int count = m_panes.size();
  if (count == 0) return;
  int current = 0;
  for (int i = 0; i < count; ++i)
    if (m_panes.at(i).widget == m_activePane) current = i;
  for (int step = 1; step <= count; ++step) {
    const int next = (current + (forward ? step : count - step)) % count;
    QWidget* widget = m_panes.at(next).widget;
    if (widget && widget->isVisible()) {
      m_activePane = widget;
      QWidget* focus = widget->focusProxy() ? widget->focusProxy() : widget;
      if (focus->focusPolicy() == Qt::NoFocus) {
        // Give the focus to the first child that takes it.
        const auto children = widget->findChildren<QWidget*>();
        for (QWidget* child : children)
          if (child->isVisible() && child->focusPolicy() != Qt::NoFocus) {
            focus = child;
            break;
          }
      }
      focus->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      ScheduleUpdate();
      return;
    }
  }
}

ICommandTarget* CCommandRouter::ActiveTarget() const {
  if (!m_activePane) return nullptr;
  for (const Pane& pane : m_panes)
    if (pane.widget == m_activePane) return pane.target;
  return nullptr;
}

bool CCommandRouter::Route(int id) {
  bool handled = false;
  if (ICommandTarget* pane = ActiveTarget(); pane && pane->OnCommand(id))
    handled = true;
  else if (m_document && m_document->OnCommand(id))
    handled = true;
  else if (m_frame && m_frame->OnCommand(id))
    handled = true;
  else if (m_app && m_app->OnCommand(id))
    handled = true;
  if (handled) emit CommandRouted(id);
  ScheduleUpdate();
  return handled;
}

CommandUpdate CCommandRouter::QueryUpdate(int id) const {
  CommandUpdate update;
  if (ICommandTarget* pane = ActiveTarget(); pane && pane->OnUpdateCommand(id, update))
    return update;
  update = CommandUpdate();
  if (m_document && m_document->OnUpdateCommand(id, update)) return update;
  update = CommandUpdate();
  if (m_frame && m_frame->OnUpdateCommand(id, update)) return update;
  update = CommandUpdate();
  if (m_app && m_app->OnUpdateCommand(id, update)) return update;
  // Nobody handles it: the command is shown disabled.
  update = CommandUpdate();
  update.Enable(false);
  return update;
}

void CCommandRouter::Apply(QAction* action, const CommandUpdate& update) {
  action->setEnabled(update.enabled);
  if (update.setChecked) {
    action->setCheckable(true);
    action->setChecked(update.checked);
  }
  if (update.setText) action->setText(update.text);
}

void CCommandRouter::UpdateCommands() {
  for (int id : m_order) Apply(m_actions.value(id), QueryUpdate(id));
}

void CCommandRouter::UpdateCommands(const QList<QAction*>& actions) {
  for (QAction* action : actions) {
    const int id = CommandIdOf(action);
    if (id != 0 && m_actions.value(id) == action) Apply(action, QueryUpdate(id));
  }
}

void CCommandRouter::ScheduleUpdate() {
  if (!m_updateTimer->isActive()) m_updateTimer->start();
}

void CCommandRouter::WatchMenu(QMenu* menu) {
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateCommands(menu->actions()); });
}
