#include "guardlist/ui/top_view.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "framework/command_ids.h"

CTopView::CTopView(CExplorerDocument* document, INavigator* navigator, GuardUiFactory guardUi,
                   QWidget* parent)
    : CTopListForm(document, navigator, std::move(guardUi), parent) {
  setAcceptDrops(true);
}

bool CTopView::OnCommand(int id) {
  switch (id) {
    case ID_EDIT_COPY:
      OnCopy();
      return true;
    case ID_EDIT_PASTE:
      OnPaste();
      return true;
    default:
      return CTopListForm::OnCommand(id);
  }
}

bool CTopView::OnUpdateCommand(int id, CommandUpdate& update) {
  switch (id) {
    case ID_EDIT_COPY:
      update.Enable(!SelectedRows().isEmpty());
      return true;
    case ID_EDIT_PASTE:
      update.Enable(ClipboardHasFiles());
      return true;
    default:
      return CTopListForm::OnUpdateCommand(id, update);
  }
}

QMimeData* CTopView::FileListMimeData(const QStringList& paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  QByteArray gnome("copy");
  for (const QString& path : paths) {
    const QUrl url = QUrl::fromLocalFile(path);
    urls << url;
    gnome += '\n' + url.toEncoded();
  }
  data->setUrls(urls);
  data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
  data->setData(QStringLiteral("application/x-kde-cutselection"), QByteArray("0"));
  return data;
}

void CTopView::OnCopy() {
  const QStringList paths = SelectedPaths();
  if (paths.isEmpty()) return;
  QApplication::clipboard()->setMimeData(FileListMimeData(paths));
}

void CTopView::OnPaste() {
  const QStringList files = LocalFiles(QApplication::clipboard()->mimeData());
  if (files.isEmpty()) return;
  AddDroppedPaths(files);
}

void CTopView::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void CTopView::dragMoveEvent(QDragMoveEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void CTopView::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty()) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  // The add-folder dialogs run after the drop has ended: a modal dialog inside the drop
  // would hold the file manager's drag open.
  QPointer<CTopView> self(this);
  QTimer::singleShot(0, this, [self, files] {
    if (self) self->AddDroppedPaths(files);
  });
}
