#pragma once
// "About Vellumguard": the program icon, the version line, the about text (what the
// program does, the known limits of its protection, the licence notices) and two links.
// The link targets are build options (VG_CONTACT_EMAIL, VG_WEBSITE): without a website the
// link opens the README shipped with the program; without an address the e-mail line is
// disabled.
#include <QDialog>
#include <QString>
#include <string>

class CLinkLabel;
class QLabel;
class QPlainTextEdit;

class CAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutBox(QWidget* parent = nullptr);

  // The stored about text (UTF-8); shown when the box appears.
  std::string m_aboutText;

  CLinkLabel* EmailLink() const { return m_emailLink; }
  CLinkLabel* WebsiteLink() const { return m_websiteLink; }
  QPlainTextEdit* AboutEdit() const { return m_aboutEdit; }

  // The e-mail address and the website the program was built with (may be empty).
  static QString ContactEmail();
  static QString Website();
  // Where the website link leads: the website, else the README beside the program or in
  // its documentation folder (empty when neither is there).
  static QString WebsiteTarget();
  // The documentation file name (README.md, FORMAT.md) beside the program or in the
  // documentation folder of its installation or build folder; empty when not found.
  static QString DocumentationFile(const QString& name);
  // The text shown in the middle of the box.
  static std::string DefaultAboutText();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPlainTextEdit* m_aboutEdit;
  QLabel* m_emailLabel;
  CLinkLabel* m_emailLink;
  CLinkLabel* m_websiteLink;
};
