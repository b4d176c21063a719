#include "guardlist/ui/explorer_document.h"

#include <QFileInfo>
#include <cstring>

#include "framework/native_path.h"
#include "framework/prompts.h"

CExplorerDocument::CExplorerDocument(QObject* parent) : CDocument(parent) {
  // The model's flag and the framework's move together, whichever side changes first;
  // each side only reports a real change, so the mirror stops after one round.
  m_doc.SetModifiedHook([this](bool modified) { SetModifiedFlag(modified); });
  connect(this, &CDocument::ModifiedChanged, this, [this](bool modified) {
    if (m_doc.IsModified() != modified) m_doc.SetModifiedFlag(modified);
  });
}

CExplorerDocument::~CExplorerDocument() {
  m_doc.SetModifiedHook(nullptr);
}

void CExplorerDocument::SetGuardUiFactory(GuardUiFactory factory, QWidget* owner) {
  m_guardUi = std::move(factory);
  m_guardUiOwner = owner;
}

QWidget* CExplorerDocument::DialogOwner() const {
  if (OwnerWindow()) return OwnerWindow();
  return m_guardUiOwner.data();
}

bool CExplorerDocument::EditListSettings() {
  if (!m_guardUi) return false;
  std::unique_ptr<IGuardUi> ui = m_guardUi(m_guardUiOwner ? m_guardUiOwner.data() : DialogOwner());
  if (!ui) return false;
  return m_doc.EditListSettings(*ui);
}

void CExplorerDocument::DeleteContents() {
  m_doc.m_items.clear();
}

bool CExplorerDocument::OnNewDocument() {
  if (!CDocument::OnNewDocument()) return false;
  std::unique_ptr<IGuardUi> ui;
  if (!m_doc.m_firstNew && m_guardUi) ui = m_guardUi(m_guardUiOwner.data());
  const bool ok = m_doc.NewDocument(ui.get());
  UpdateAllViews();
  return ok;
}

void CExplorerDocument::Remember(const QString& path) {
  if (m_knownPaths) RememberListPath(*m_knownPaths, Native(QFileInfo(path).absoluteFilePath()));
}

bool CExplorerDocument::OnOpenDocument(const QString& path) {
  // Read into a fresh model first, so that a file that is no list leaves the open list
  // untouched (and is never overwritten by saving an empty list over it).
  CExplorerDoc loaded;
  std::string error;
  const int result = loaded.Load(Native(path), &error);
  if (result != LIST_LOADED && result != LIST_DAMAGED) {
    AppMessageBox(DialogOwner(),
                  error.empty() ? QStringLiteral("Cannot open the list file \"%1\".").arg(path)
                                : QString::fromStdString(error),
                  QMessageBox::Warning);
    return false;
  }
  if (!CDocument::OnOpenDocument(path)) return false;  // says why itself
  m_doc.m_items = std::move(loaded.m_items);
  m_doc.m_zipLevel = loaded.m_zipLevel;
  m_doc.m_includeMask = loaded.m_includeMask;
  m_doc.m_excludeMask = loaded.m_excludeMask;
  m_doc.m_noZipMask = loaded.m_noZipMask;
  std::memcpy(m_doc.m_digest, loaded.m_digest, sizeof m_doc.m_digest);
  m_doc.SetModifiedFlag(false);
  UpdateAllViews();
  if (result == LIST_DAMAGED)
    AppMessageBox(DialogOwner(), QString::fromStdString(error), QMessageBox::Warning);
  Remember(path);
  return true;
}

bool CExplorerDocument::OnSaveDocument(const QString& path) {
  Remember(path);
  std::string error;
  if (!m_doc.Store(Native(path), &error)) {
    AppMessageBox(DialogOwner(),
                  error.empty() ? QStringLiteral("Cannot save the list file \"%1\".").arg(path)
                                : QString::fromStdString(error),
                  QMessageBox::Warning);
    return false;
  }
  return CDocument::OnSaveDocument(path);
}
