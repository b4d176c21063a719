#include "framework/app_profile.h"

#include <QDir>

namespace {
QString HomeOverride() {
  return qEnvironmentVariable("VELLUMGUARD_HOME");
}
}  // namespace

QString AppProfilePath() {
  const QString home = HomeOverride();
  if (!home.isEmpty())
    return QDir(home).filePath(kProfileOrganisation + QLatin1Char('/') + kProfileApplication +
                               QStringLiteral(".conf"));
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, kProfileOrganisation,
                   kProfileApplication)
      .fileName();
}

std::unique_ptr<QSettings> OpenAppProfile() {
  if (HomeOverride().isEmpty())
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       kProfileOrganisation, kProfileApplication);
  return std::make_unique<QSettings>(AppProfilePath(), QSettings::IniFormat);
}
