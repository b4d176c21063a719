#include "app/edit_sessions_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/edit_owner.h"
#include "framework/shell_open.h"

CEditSessionsWindow::CEditSessionsWindow(CEditOwner& owner, QWidget* parent)
    : QWidget(parent, Qt::Window), m_owner(owner) {
  setWindowTitle(QStringLiteral("Files being edited"));
  m_list = new QTreeWidget(this);
  m_list->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Saved into")});
  m_list->setRootIsDecorated(false);
  m_list->header()->setStretchLastSection(true);
  m_finish = new QPushButton(QStringLiteral("&Finish Editing"), this);
  m_show = new QPushButton(QStringLiteral("&Show in Folder"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_show);
  buttons->addWidget(m_finish);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list);
  layout->addLayout(buttons);
  resize(560, 220);
  connect(m_finish, &QPushButton::clicked, this, &CEditSessionsWindow::FinishSelected);
  connect(m_show, &QPushButton::clicked, this, &CEditSessionsWindow::ShowSelectedInFolder);
  connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
    m_finish->setEnabled(SelectedIndex() >= 0);
    m_show->setEnabled(SelectedIndex() >= 0);
  });
  connect(&m_owner, &CEditOwner::SessionsChanged, this, &CEditSessionsWindow::Refill);
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    m_tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_tray->setToolTip(windowTitle());
    auto* menu = new QMenu(this);
    menu->addAction(windowTitle(), this, [this] {
      show();
      raise();
      activateWindow();
    });
    m_tray->setContextMenu(menu);
  }
  Refill();
}

void CEditSessionsWindow::Refill() {
  m_list->clear();
  for (const CEditOwner::Info& info : m_owner.Sessions()) {
    auto* item = new QTreeWidgetItem(m_list);
    // An application that ended at once handed the file to one running elsewhere: only
    // the user knows when that one is done with it.
    const QString state = info.running    ? QString()
                          : info.handedOn ? QStringLiteral(
                                                " (application ended; waits for "
                                                "Finish Editing)")
                                          : QStringLiteral(" (application closed)");
    item->setText(0, QFileInfo(info.document).fileName() + state);
    item->setText(1, info.protectedPath);
    item->setToolTip(1, info.protectedPath);
  }
  if (m_list->topLevelItemCount() > 0) m_list->setCurrentItem(m_list->topLevelItem(0));
  m_finish->setEnabled(SelectedIndex() >= 0);
  m_show->setEnabled(SelectedIndex() >= 0);
  const bool any = m_owner.Count() > 0;
  if (m_tray) m_tray->setVisible(any);
  if (any && !isVisible()) show();
}

int CEditSessionsWindow::SelectedIndex() const {
  QTreeWidgetItem* item = m_list->currentItem();
  return item ? m_list->indexOfTopLevelItem(item) : -1;
}

void CEditSessionsWindow::FinishSelected() {
  m_owner.Finish(SelectedIndex());
}

void CEditSessionsWindow::ShowSelectedInFolder() {
  const int index = SelectedIndex();
  const std::vector<CEditOwner::Info> sessions = m_owner.Sessions();
  if (index < 0 || index >= static_cast<int>(sessions.size())) return;
  OpenWithDesktop(QUrl::fromLocalFile(
      QFileInfo(sessions[static_cast<size_t>(index)].protectedPath).absolutePath()));
}

void CEditSessionsWindow::closeEvent(QCloseEvent* event) {
  if (m_closingQuits && !m_owner.ConfirmQuit()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

int RunEditVerb(const QStringList& paths, const GuardUiFactory& guardUi) {
  if (CEditOwner::HandOver(paths)) return 0;
  CEditOwner owner(guardUi);
  // Without the socket this process still edits; later files just cannot join it.
  (void)owner.Listen();
  owner.RecoverOrphans();
  CEditSessionsWindow window(owner);
  window.SetClosingQuits(true);
  QApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&owner, &CEditOwner::SessionsChanged, &window, [&owner] {
    if (owner.Count() == 0) QApplication::quit();
  });
  bool any = false;
  for (const QString& p : paths) any = owner.Edit(p) || any;
  if (owner.Count() == 0) return any ? 0 : 1;
  return QApplication::exec();
}
