#pragma once
// The framework's questions to the user: message boxes captioned "Vellumguard" and the
// file dialogs. Everything in the window that asks goes through here, so tests can
// answer in place of a user.
#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

struct FrameworkPrompts {
  // A message box captioned "Vellumguard"; returns the button pressed.
  std::function<QMessageBox::StandardButton(QWidget* owner, const QString& text,
                                            QMessageBox::Icon icon,
                                            QMessageBox::StandardButtons buttons)>
      message;
  // The open (forSave false) or save file dialog; returns the chosen path or empty.
  std::function<QString(QWidget* owner, bool forSave, const QString& suggested)> chooseFile;
};

// The prompts in use; tests replace members and RestoreDefaultPrompts() undoes that.
FrameworkPrompts& Prompts();
void RestoreDefaultPrompts();

// Shorthands for Prompts().message.
QMessageBox::StandardButton AppMessageBox(QWidget* owner, const QString& text,
                                          QMessageBox::Icon icon = QMessageBox::Information,
                                          QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// The same with the button that Enter presses: No for a question whose Yes would replace
// something, so that a stray Enter keeps it. Hooks in Prompts() see the box without it.
QMessageBox::StandardButton AppMessageBox(QWidget* owner, const QString& text,
                                          QMessageBox::Icon icon,
                                          QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton);

inline const QString kAppCaption = QStringLiteral("Vellumguard");
