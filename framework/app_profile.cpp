#include "framework/app_profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "common/paths.h"
#include "framework/native_path.h"

namespace {

const QString kOldOrganisation = QStringLiteral("Local AppWizard-Generated Applications");
const QString kOldApplication = QStringLiteral("Vellumguard");

QString HomeOverride() {
  return qEnvironmentVariable("VELLUMGUARD_HOME");
}

QString OldProfileIn(const QString& folder) {
  return QDir(folder).filePath(kOldOrganisation + QLatin1Char('/') + kOldApplication +
                               QStringLiteral(".conf"));
}

// Where earlier versions may have left the profile, first found first.
QStringList OldProfilePaths() {
  const QString home = HomeOverride();
  if (!home.isEmpty()) return {OldProfileIn(home)};
  return {
      QSettings(QSettings::NativeFormat, QSettings::UserScope, kOldOrganisation, kOldApplication)
          .fileName(),
      OldProfileIn(FromNative(ProgramFolder()))};
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
  const QString newPath = AppProfilePath();
  if (QFileInfo::exists(newPath)) return false;
  QString oldPath;
  for (const QString& candidate : OldProfilePaths()) {
    if (QFileInfo::exists(candidate)) {
      oldPath = candidate;
      break;
    }
  }
  if (oldPath.isEmpty()) return false;
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
