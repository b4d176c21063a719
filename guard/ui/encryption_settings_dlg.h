#pragma once
// "Encryption Settings": password with confirmation, zip level, the three file masks and
// the choices to use the default or the last password instead of a typed one. The
// caller fills the members, runs the dialog, and reads the members after OK.
#include <QAbstractSpinBox>
#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The zip level's edit with its up-down arrows. The arrows only report the change they
// ask for; the dialog decides what the edit shows.
class CLevelSpinBox : public QAbstractSpinBox {
  Q_OBJECT
 public:
  explicit CLevelSpinBox(QWidget* parent = nullptr);
  void stepBy(int steps) override;
  QLineEdit* Edit() const { return lineEdit(); }
  // Room for two digits beside the arrows: the base class has no value range to measure.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 signals:
  void ChangeRequested(int delta);

 protected:
  StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
};

class CEncryptionSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  // Disabling flags.
  static constexpr int kNoDefaultPassword = 2;
  static constexpr int kNoLastPassword = 4;
  static constexpr int kNoSubfolders = 8;
  static constexpr int kPasswordLimit = 32;
  static inline const QString kPlaceholder = QStringLiteral("0123456789");

  explicit CEncryptionSettingsDlg(QWidget* parent = nullptr);

  void SetTitle(const QString& title) { m_title = title; }
  void SetFlags(int flags) { m_flags = flags; }

  // Exchanges the members with the controls. Taking the values in checks the zip level
  // (0..9) and says so when it is out of range; false then.
  bool UpdateData(bool saveAndValidate);

  // Members, as the caller sets and reads them.
  QString m_title;
  int m_flags = 0;
  QString m_password;
  QString m_confirm;
  int m_zipLevel = 6;
  QString m_includeMask;
  QString m_excludeMask;
  QString m_noZipMask;
  bool m_useDefaultPassword = false;
  bool m_useLastPassword = false;
  bool m_encryptSubfolders = false;

  // The controls, for the window's tests and the keyboard.
  QLineEdit* PasswordEdit() const { return m_passwordEdit; }
  QLineEdit* ConfirmEdit() const { return m_confirmEdit; }
  CLevelSpinBox* LevelSpin() const { return m_levelSpin; }
  QLineEdit* IncludeEdit() const { return m_includeEdit; }
  QLineEdit* ExcludeEdit() const { return m_excludeEdit; }
  QLineEdit* NoZipEdit() const { return m_noZipEdit; }
  QCheckBox* UseDefaultCheck() const { return m_useDefaultCheck; }
  QCheckBox* UseLastCheck() const { return m_useLastCheck; }
  QCheckBox* SubfoldersCheck() const { return m_subfoldersCheck; }
  QPushButton* OkButton() const { return m_okButton; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnLevelChange(int delta);
  void OnUseLastClicked();
  void OnUseDefaultClicked();

  QLineEdit* m_passwordEdit;
  QLineEdit* m_confirmEdit;
  CLevelSpinBox* m_levelSpin;
  QLineEdit* m_includeEdit;
  QLineEdit* m_excludeEdit;
  QLineEdit* m_noZipEdit;
  QCheckBox* m_useDefaultCheck;
  QCheckBox* m_useLastCheck;
  QCheckBox* m_subfoldersCheck;
  QPushButton* m_okButton;
  QPushButton* m_cancelButton;
  bool m_initialised = false;
};
