#include "app/edit_launch.h"

#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

namespace {

// The desktop ids listed for type under group in one file ("[Default Applications]",
// "[MIME Cache]"), in order.
QStringList IdsIn(const QString& file, const QString& group, const QString& type) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream in(&f);
  bool inGroup = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
    } else if (inGroup && line.startsWith(type + QLatin1Char('='))) {
      return line.mid(type.size() + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
  }
  return {};
}

// The Exec value of a desktop file's [Desktop Entry] group.
QString ExecOf(const QString& desktopFile) {
  QFile f(desktopFile);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream in(&f);
  bool inEntry = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) inEntry = line == QLatin1String("[Desktop Entry]");
    if (inEntry && line.startsWith(QLatin1String("Exec="))) return line.mid(5);
  }
  return {};
}

QStringList CandidateIds(const QString& type) {
  QStringList files;
  for (const QString& dir :
       QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
    files << dir + QStringLiteral("/mimeapps.list");
  for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
    files << dir + QStringLiteral("/mimeapps.list");
  QStringList ids;
  for (const QString& file : files)
    ids << IdsIn(file, QStringLiteral("Default Applications"), type);
  for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
    ids << IdsIn(dir + QStringLiteral("/mimeinfo.cache"), QStringLiteral("MIME Cache"), type);
  return ids;
}

}  // namespace

QStringList ExpandExecLine(const QString& exec, const QString& path) {
  QStringList args;
  for (const QString& word : QProcess::splitCommand(exec)) {
    if (word == QLatin1String("%f") || word == QLatin1String("%F") || word == QLatin1String("%u") ||
        word == QLatin1String("%U")) {
      args << path;
    } else if (word.size() == 2 && word[0] == QLatin1Char('%')) {
      continue;  // %i, %c, %k and the deprecated codes
    } else {
      QString w = word;
      args << w.replace(QLatin1String("%%"), QLatin1String("%"));
    }
  }
  // An Exec line without a field code takes the file at the end.
  if (!args.isEmpty() && !args.contains(path)) args << path;
  return args;
}

QStringList DefaultApplicationCommand(const QString& path) {
  QMimeDatabase mimes;
  const QMimeType type = mimes.mimeTypeForFile(path);
  QStringList types{type.name()};
  types << type.parentMimeTypes();
  for (const QString& name : types) {
    for (const QString& id : CandidateIds(name)) {
      const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
      if (file.isEmpty()) continue;
      const QStringList args = ExpandExecLine(ExecOf(file), path);
      // Never hand a document back to this program (it would come straight back here).
      if (!args.isEmpty() && !args.front().endsWith(QLatin1String("vellumguard"))) return args;
    }
  }
  return {};
}
