#pragma once
// The per-user application profile: recent files, the window's and the progress window's
// places. It is $XDG_CONFIG_HOME/vellumguard/vellumguard.conf (Qt's own place for the
// organisation and application "vellumguard"); with VELLUMGUARD_HOME set it is
// vellumguard.conf in that folder, so tests and portable copies never touch the user's
// own profile.
#include <QSettings>
#include <QString>
#include <memory>

inline const QString kProfileOrganisation = QStringLiteral("vellumguard");
inline const QString kProfileApplication = QStringLiteral("vellumguard");

std::unique_ptr<QSettings> OpenAppProfile();
// The profile file, for messages and tests.
QString AppProfilePath();
// Earlier versions kept the profile in a folder named after the Windows wizard's
// registry key. Moves such a profile to AppProfilePath() when there is none there yet
// (once, at start); true when a profile was moved. A failure is told on stderr and
// leaves the old file where it was.
bool MoveOldAppProfile();
