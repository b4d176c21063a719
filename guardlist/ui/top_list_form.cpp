#include "guardlist/ui/top_list_form.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "common/paths.h"
#include "framework/command_ids.h"
#include "framework/edit_request.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "framework/shell_open.h"
#include "framework/sort_list_ctrl.h"
#include "framework/svg_icon.h"
#include "guard/file_collector.h"
#include "guard/file_list_driver.h"
#include "guard/guard_command.h"
#include "guard/guard_item.h"
#include "guardlist/ui/add_folder_dlg.h"
#include "guardlist/ui/explorer_document.h"
#include "guardlist/ui/guard_list_model.h"

namespace {

// The guard list's default column widths (the first five of the application state's).
const int kDefaultWidths[COL_COUNT] = {35, 180, 320, 50, 100};

// Grid lines between the cells, as the report list draws them.
class CGridDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    const QRect r = option.rect;
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
  }
};

}  // namespace

CTopListForm::CTopListForm(CExplorerDocument* document, INavigator* navigator,
                           GuardUiFactory guardUi, QWidget* parent)
    : QWidget(parent), m_document(document), m_navigator(navigator), m_guardUi(std::move(guardUi)) {
  InitGuardListResources();
  m_list = new CSortListCtrl(this);
  m_list->setObjectName(QStringLiteral("guardList"));
  m_model = new CGuardListModel(&m_document->Items(), this);
  m_list->SetModel(m_model);
  m_list->SetViewType(CSortListCtrl::VIEW_REPORT);
  QTreeView* report = m_list->ReportView();
  report->setItemDelegate(new CGridDelegate(report));
  report->setIconSize(QSize(16, 16));
  // The list is no drag source, and drops belong to the pane (CTopView).
  report->setDragEnabled(false);
  report->setDragDropMode(QAbstractItemView::NoDragDrop);
  report->viewport()->setAcceptDrops(false);
  report->setAcceptDrops(false);
  m_list->IconView()->viewport()->setAcceptDrops(false);
  m_list->IconView()->setDragEnabled(false);
  m_list->setAcceptDrops(false);
  SetColumnWidths(QList<int>(std::begin(kDefaultWidths), std::end(kDefaultWidths)));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_list);
  setFocusProxy(m_list);

  m_list->SortCallback = [this](CSortListCtrl*, int column, int ascending) -> int {
    if (column != COL_NAME && column != COL_PATH && column != COL_TYPE) return 0;
    m_document->SortItems(ascending != 0, column);  // keys 1 name, 2 path, 3 type
    Refresh(false);                                 // the rows now hold other items
    return 1;
  };
  connect(m_list, &CSortListCtrl::SelectionChanged, this, &CTopListForm::SelectionMoved);
  connect(m_list, &CSortListCtrl::RowDoubleClicked, this,
          [this](int) { OnCommand(ID_GUARD_OPEN); });
  connect(m_list, &CSortListCtrl::ContextMenuRequested, this, &CTopListForm::ShowContextMenu);
  // A new or opened list: other items, even when as many.
  connect(m_document, &CDocument::Changed, this, [this] { Refresh(false); });

  // The status column shows what is on disk: the rows on screen are drawn again every
  // second, which looks at the disk for those rows only.
  m_liveStatus = new QTimer(this);
  m_liveStatus->setInterval(1000);
  connect(m_liveStatus, &QTimer::timeout, this, [this] {
    if (isVisible() && !m_document->Items().empty()) m_list->ReportView()->viewport()->update();
  });
  m_liveStatus->start();

  m_document->SetGuardUiFactory(m_guardUi, this);
  Refresh();
}

CTopListForm::~CTopListForm() = default;

QList<int> CTopListForm::ColumnWidths() const {
  return m_list->ColumnWidths();
}

void CTopListForm::SetColumnWidths(const QList<int>& widths) {
  m_list->SetColumnWidths(widths);
}

void CTopListForm::Refresh(bool keepSelection) {
  ++m_generation;
  const size_t count = m_document->Items().size();
  QList<int> selected;
  int focused = -1;
  if (keepSelection && count == m_shownCount) {
    selected = m_list->SelectedRows();
    focused = m_list->FocusedRow();
  }
  m_model->Refresh();
  m_shownCount = count;
  if (!selected.isEmpty()) {
    m_list->SelectRows(selected);
    if (focused >= 0) m_list->SetFocusedRow(focused);
  }
  emit SelectionChanged();
}

void CTopListForm::SelectionMoved() {
  ++m_generation;
  emit SelectionChanged();
}

QList<int> CTopListForm::SelectedRows() const {
  QList<int> rows = m_list->SelectedRows();
  const int count = static_cast<int>(m_document->Items().size());
  rows.erase(
      std::remove_if(rows.begin(), rows.end(), [count](int r) { return r < 0 || r >= count; }),
      rows.end());
  return rows;
}

QStringList CTopListForm::SelectedPaths() const {
  QStringList paths;
  const auto& items = m_document->Items();
  for (int row : SelectedRows()) paths << FromNative(items[static_cast<size_t>(row)].m_path);
  return paths;
}

bool CTopListForm::OnUpdateCommand(int id, CommandUpdate& update) {
  const bool any = !SelectedRows().isEmpty();
  const bool notEmpty = !m_document->Items().empty();
  switch (id) {
    case ID_LIST_INSERT_FILES:
    case ID_LIST_INSERT_FOLDERS:
    case ID_LIST_PROPERTIES:
      update.Enable(true);
      return true;
    case ID_LIST_REMOVE_SELECTED:
    case ID_GUARD_OPEN:
      update.Enable(any);
      return true;
    case ID_LIST_REMOVE_ALL:
    case ID_GUARD_ENCRYPT_ALL:
    case ID_GUARD_DECRYPT_ALL:
      update.Enable(notEmpty);
      return true;
    case ID_GUARD_EDIT:
      update.Enable(!ProtectedFileToEdit().isEmpty());
      return true;
    case ID_GUARD_ENCRYPT:
    case ID_GUARD_DECRYPT: {
      const bool encrypt = id == ID_GUARD_ENCRYPT;
      update.Enable(any && SelectionYields(encrypt));
      update.SetText(GuardCommandText(encrypt));
      return true;
    }
    default:
      return false;
  }
}

bool CTopListForm::OnCommand(int id) {
  switch (id) {
    case ID_LIST_INSERT_FILES:
      OnInsertFiles();
      return true;
    case ID_LIST_INSERT_FOLDERS:
      OnInsertFolders();
      return true;
    case ID_LIST_REMOVE_SELECTED:
      OnRemoveSelected();
      return true;
    case ID_LIST_REMOVE_ALL:
      OnRemoveAll();
      return true;
    case ID_LIST_PROPERTIES:
      OnProperties();
      return true;
    case ID_GUARD_ENCRYPT:
      OnEncrypt(false);
      return true;
    case ID_GUARD_DECRYPT:
      OnDecrypt(false);
      return true;
    case ID_GUARD_ENCRYPT_ALL:
      OnEncrypt(true);
      return true;
    case ID_GUARD_DECRYPT_ALL:
      OnDecrypt(true);
      return true;
    case ID_GUARD_OPEN:
      OnOpen();
      return true;
    case ID_GUARD_EDIT:
      OnEdit();
      return true;
    default:
      return false;
  }
}

QString CTopListForm::ProtectedFileToEdit() const {
  const QList<int> rows = SelectedRows();
  if (rows.size() != 1) return {};
  CGuardItem item = m_document->Items()[static_cast<size_t>(rows.front())];
  // Only a file whose protected form is there and whose plain form is not.
  if (item.IsFolder() || EvaluateItemStatus(item) != STATUS_ENCRYPTING) return {};
  return FromNative(ProtectedPathOf(item.m_path));
}

void CTopListForm::OnEdit() {
  const QString path = ProtectedFileToEdit();
  if (path.isEmpty()) return;
  if (CanEditProtectedFiles()) {
    EditProtectedFile(path);
    return;
  }
  AppMessageBox(this,
                QStringLiteral("Cannot edit \"%1\": no program is set up to edit it.").arg(path),
                QMessageBox::Warning);
}

void CTopListForm::BuildContextMenu(QMenu* menu) {
  const bool any = !SelectedRows().isEmpty();
  const bool notEmpty = !m_document->Items().empty();
  auto add = [&](int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    return action;
  };
  if (any) menu->setDefaultAction(add(ID_GUARD_OPEN, QStringLiteral("Open")));
  const bool encrypts = any && SelectionYields(true);
  const bool decrypts = any && SelectionYields(false);
  if (encrypts || decrypts) menu->addSeparator();
  if (encrypts) {
    add(ID_GUARD_ENCRYPT, GuardCommandText(true))
        ->setIcon(LoadSvgIcon(QStringLiteral(":/guardlist/menu_encrypt.svg")));
  }
  if (decrypts) {
    add(ID_GUARD_DECRYPT, GuardCommandText(false))
        ->setIcon(LoadSvgIcon(QStringLiteral(":/guardlist/menu_decrypt.svg")));
  }
  if (!ProtectedFileToEdit().isEmpty()) add(ID_GUARD_EDIT, QStringLiteral("Edit Protected File"));
  if (any) menu->addSeparator();
  add(ID_LIST_INSERT_FILES, QStringLiteral("Insert files"));
  add(ID_LIST_INSERT_FOLDERS, QStringLiteral("Insert folder"));
  if (notEmpty) menu->addSeparator();
  if (any) add(ID_LIST_REMOVE_SELECTED, QStringLiteral("Remove from the list"));
  if (notEmpty) add(ID_LIST_REMOVE_ALL, QStringLiteral("Remove all"));
  if (notEmpty) menu->addSeparator();
  if (any) add(ID_EDIT_COPY, QStringLiteral("Copy"));
  if (ClipboardHasFiles()) add(ID_EDIT_PASTE, QStringLiteral("Paste"));
  menu->addSeparator();
  add(ID_LIST_PROPERTIES, QStringLiteral("Properties"));
}

void CTopListForm::ShowContextMenu(const QPoint& globalPos) {
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("guardListMenu"));
  BuildContextMenu(&menu);
  QPointer<CTopListForm> self(this);
  QAction* chosen = menu.exec(globalPos);
  if (!self || !chosen) return;
  const int id = chosen->data().toInt();
  if (id != 0) OnCommand(id);
}

void CTopListForm::OnInsertFiles() {
  const QStringList files =
      QFileDialog::getOpenFileNames(this, QStringLiteral("Add Files to the list"),
                                    FromNative(CurrentFolder()), QStringLiteral("All Files (*)"));
  for (const QString& file : files) m_document->AddItem(CGuardItem(Native(file), 0));
  Refresh();
}

bool CTopListForm::AddFolderThroughDialog(const QString& path) {
  CAddFolderDlg dlg(this);
  dlg.m_folderPath = path;
  dlg.m_includeMask = QString::fromStdString(m_document->IncludeMask());
  dlg.m_excludeMask = QString::fromStdString(m_document->ExcludeMask());
  if (dlg.exec() != QDialog::Accepted) return false;
  CGuardItem item(Native(dlg.m_folderPath), 1);
  item.m_subfolders = dlg.m_encryptSubfolders ? 1 : 0;
  item.m_includeMask = dlg.m_includeMask.toStdString();
  item.m_excludeMask = dlg.m_excludeMask.toStdString();
  m_document->AddItem(item);
  return true;
}

void CTopListForm::OnInsertFolders() {
  AddFolderThroughDialog(QString());
  Refresh();
}

void CTopListForm::OnRemoveSelected() {
  // The list keeps its modified flag: removing is not a change the list asks to save.
  // Removed by row, from the last to the first: a state stored in the list file may be
  // any number, so no state can serve as a mark.
  auto& items = m_document->Items();
  const QList<int> rows = SelectedRows();
  for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
    const int row = *it;
    if (row >= 0 && static_cast<size_t>(row) < items.size()) items.erase(items.begin() + row);
  }
  Refresh();
}

void CTopListForm::OnRemoveAll() {
  const auto answer = AppMessageBox(
      this, QStringLiteral("Do you wnat to remove all files and folders in the list?"),
      QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
  if (answer != QMessageBox::Yes) return;
  std::vector<CGuardItem>().swap(m_document->Items());
  Refresh();
}

void CTopListForm::OnProperties() {
  const QList<int> rows = SelectedRows();
  auto& items = m_document->Items();
  if (rows.isEmpty() || !items[static_cast<size_t>(rows.first())].IsFolder()) {
    m_document->EditListSettings();
    return;
  }
  const size_t index = static_cast<size_t>(rows.first());
  if (!IsFolder(items[index].m_path)) return;
  CAddFolderDlg dlg(this);
  dlg.m_caption = QStringLiteral("Encryption setting of folder");
  dlg.m_folderPath = FromNative(items[index].m_path);
  dlg.m_encryptSubfolders = items[index].m_subfolders != 0;
  dlg.m_includeMask = QString::fromStdString(items[index].m_includeMask);
  dlg.m_excludeMask = QString::fromStdString(items[index].m_excludeMask);
  if (dlg.exec() != QDialog::Accepted) return;
  // The dialog ran modally: the list may have changed under it.
  if (index >= items.size()) return;
  CGuardItem& item = items[index];
  item.m_path = Native(dlg.m_folderPath);
  item.m_subfolders = dlg.m_encryptSubfolders ? 1 : 0;
  item.m_includeMask = dlg.m_includeMask.toStdString();
  item.m_excludeMask = dlg.m_excludeMask.toStdString();
  m_document->SetModifiedFlag(true);
  Refresh();
}

void CTopListForm::OnOpen() {
  const QList<int> rows = SelectedRows();
  if (rows.isEmpty()) return;
  const CGuardItem item = m_document->Items()[static_cast<size_t>(rows.first())];
  if (item.IsFolder()) {
    if (IsFolder(item.m_path) && m_navigator)
      m_navigator->NavigateTo(FromNative(item.m_path), NAV_ELSEWHERE);
    return;
  }
  // A protected file is restored first, so that the application opens the real file.
  std::vector<std::string> paths;
  CollectFilesToDecrypt(paths, item);
  if (!paths.empty() && m_guardUi) {
    std::unique_ptr<IGuardUi> ui = m_guardUi(this);
    if (ui) ReportRun(RunRestoreList(*ui, paths));
    Refresh();
  }
  const QString path = FromNative(item.m_path);
  if (!paths.empty() && FileExists(item.m_path)) {
    // Restored just now, perhaps from someone else: never run it or hand it back here.
    if (const OpenRisk risk = OpenRiskOf(path); risk != OpenRisk::None) {
      if (AppMessageBox(this, NotOpenedText(path, risk), QMessageBox::Warning,
                        QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        ShowInFolder(path);
      }
      return;
    }
  }
  if (!OpenWithDesktop(FileUrlFromNative(item.m_path))) {
    AppMessageBox(
        this,
        QStringLiteral("Cannot open \"%1\": %2")
            .arg(path, FileExists(item.m_path) ? QStringLiteral("no application opens this file.")
                                               : QStringLiteral("the file does not exist.")),
        QMessageBox::Warning);
  }
}

void CTopListForm::AddDroppedPaths(const QStringList& paths) {
  for (const QString& path : paths) {
    const std::string p = Native(path);
    if (IsFolder(p)) {
      AddFolderThroughDialog(path);
    } else if (FileExists(p)) {
      m_document->AddItem(CGuardItem(p, 0));
    }
  }
  Refresh();
}

bool CTopListForm::ClipboardHasFiles() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  return data && !LocalFiles(data).isEmpty();
}

QStringList CTopListForm::LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
  }
  return files;
}
