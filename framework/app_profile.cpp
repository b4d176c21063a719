#include "framework/app_profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

const QString kOldOrganisation = QStringLiteral("Local AppWizard-Generated Applications");
const QString kOldApplication = QStringLiteral("Vellumguard");

QString HomeOverride() {
  return qEnvironmentVariable("VELLUMGUARD_HOME");
}

QString OldProfilePath() {
  const QString home = HomeOverride();
  if (!home.isEmpty())
    return QDir(home).filePath(kOldOrganisation + QLatin1Char('/') + kOldApplication +
                               QStringLiteral(".conf"));
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOldOrganisation, kOldApplication)
      .fileName();
}

}  // namespace

QString AppProfilePath() {
  const QString home = HomeOverride();
  if (!home.isEmpty()) return QDir(home).filePath(kProfileApplication + QStringLiteral(".conf"));
  return QSettings(QSettings::IniFormat, QSettings::UserScope, kProfileOrganisation,
                   kProfileApplication)
      .fileName();
}

std::unique_ptr<QSettings> OpenAppProfile() {
  return std::make_unique<QSettings>(AppProfilePath(), QSettings::IniFormat);
}

bool MoveOldAppProfile() {
  const QString oldPath = OldProfilePath();
  const QString newPath = AppProfilePath();
  if (!QFileInfo::exists(oldPath) || QFileInfo::exists(newPath)) return false;
  const QString folder = QFileInfo(newPath).absolutePath();
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "vellumguard: cannot create %s to move the settings there\n",
                 qPrintable(folder));
    return false;
  }
  QFile old(oldPath);
  if (!old.rename(newPath)) {
    std::fprintf(stderr, "vellumguard: cannot move the settings %s to %s: %s\n",
                 qPrintable(oldPath), qPrintable(newPath), qPrintable(old.errorString()));
    return false;
  }
  // The old folder goes too when nothing else is left in it.
  QDir().rmdir(QFileInfo(oldPath).absolutePath());
  return true;
}
