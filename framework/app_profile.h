#pragma once
// The per-user application profile: recent files and the progress window's position.
// It lives under the organisation "Local AppWizard-Generated Applications" and the
// application "Vellumguard"; with VELLUMGUARD_HOME set it is kept below that folder, so
// tests and portable copies never touch the user's own profile.
#include <QSettings>
#include <QString>
#include <memory>

inline const QString kProfileOrganisation =
    QStringLiteral("Local AppWizard-Generated Applications");
inline const QString kProfileApplication = QStringLiteral("Vellumguard");

std::unique_ptr<QSettings> OpenAppProfile();
// The profile file, for messages and tests.
QString AppProfilePath();
