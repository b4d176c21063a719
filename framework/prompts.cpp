#include "framework/prompts.h"

#include <QFileDialog>

#include "framework/document.h"

namespace {
// The default button asked for by the AppMessageBox call under way; the box takes it once.
QMessageBox::StandardButton g_nextDefault = QMessageBox::NoButton;

QMessageBox::StandardButton DefaultMessage(QWidget* owner, const QString& text,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, kAppCaption, text, buttons, owner);
  box.setTextFormat(Qt::PlainText);
  if (g_nextDefault != QMessageBox::NoButton && buttons.testFlag(g_nextDefault))
    box.setDefaultButton(g_nextDefault);
  g_nextDefault = QMessageBox::NoButton;
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString DefaultChooseFile(QWidget* owner, bool forSave, const QString& suggested) {
  const DocumentFileType& type = CDocument::FileType();
  QFileDialog dialog(owner, forSave ? QObject::tr("Save As") : QObject::tr("Open"));
  dialog.setNameFilters({type.filter, QObject::tr("All Files (*)")});
  if (forSave) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(type.extension.mid(1));
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!suggested.isEmpty()) dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

FrameworkPrompts Defaults() {
  FrameworkPrompts p;
  p.message = DefaultMessage;
  p.chooseFile = DefaultChooseFile;
  return p;
}
}  // namespace

FrameworkPrompts& Prompts() {
  static FrameworkPrompts prompts = Defaults();
  return prompts;
}

void RestoreDefaultPrompts() {
  Prompts() = Defaults();
}

QMessageBox::StandardButton AppMessageBox(QWidget* owner, const QString& text,
                                          QMessageBox::Icon icon,
                                          QMessageBox::StandardButtons buttons) {
  return Prompts().message(owner, text, icon, buttons);
}

QMessageBox::StandardButton AppMessageBox(QWidget* owner, const QString& text,
                                          QMessageBox::Icon icon,
                                          QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton) {
  g_nextDefault = defaultButton;
  const QMessageBox::StandardButton answer = Prompts().message(owner, text, icon, buttons);
  g_nextDefault = QMessageBox::NoButton;
  return answer;
}
