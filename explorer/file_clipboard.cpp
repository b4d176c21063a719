#include "explorer/file_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace {

QString WithoutSlash(const QString& path) {
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  return p;
}

}  // namespace

QMimeData* MakeFileMimeData(const QStringList& paths, bool cut) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  QByteArray gnome = cut ? "cut" : "copy";
  QStringList plain;
  for (const QString& path : paths) {
    const QString p = WithoutSlash(path);
    const QUrl url = QUrl::fromLocalFile(p);
    urls.append(url);
    gnome += '\n';
    gnome += url.toEncoded();
    plain.append(p);
  }
  data->setUrls(urls);
  data->setText(plain.join(QLatin1Char('\n')));
  data->setData(QString::fromLatin1(kGnomeCopiedFilesMime), gnome);
  if (cut) data->setData(QString::fromLatin1(kKdeCutSelectionMime), QByteArray("1"));
  return data;
}

ClipboardFiles FilesFromMimeData(const QMimeData* data) {
  ClipboardFiles files;
  if (!data) return files;
  const QString gnomeType = QString::fromLatin1(kGnomeCopiedFilesMime);
  QList<QUrl> urls;
  if (data->hasFormat(gnomeType)) {
    const QList<QByteArray> lines = data->data(gnomeType).split('\n');
    if (!lines.isEmpty()) {
      files.cut = lines.first().trimmed() == "cut";
      for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (!line.isEmpty()) urls.append(QUrl::fromEncoded(line));
      }
    }
  }
  if (urls.isEmpty() && data->hasUrls()) {
    urls = data->urls();
    const QString kdeType = QString::fromLatin1(kKdeCutSelectionMime);
    files.cut = data->hasFormat(kdeType) && data->data(kdeType).startsWith('1');
  }
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) {
      const QString path = WithoutSlash(url.toLocalFile());
      if (!path.isEmpty()) files.paths.append(path);
    }
  }
  if (files.paths.isEmpty()) files.cut = false;
  return files;
}

void PutFilesOnClipboard(const QStringList& paths, bool cut) {
  if (paths.isEmpty()) return;
  QGuiApplication::clipboard()->setMimeData(MakeFileMimeData(paths, cut));
}

ClipboardFiles FilesOnClipboard() {
  return FilesFromMimeData(QGuiApplication::clipboard()->mimeData());
}

bool ClipboardHasFiles() {
  // Only the offered formats: update handlers ask often, and reading the data itself
  // would be a round trip to the program that owns the clipboard.
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data && (data->hasFormat(QString::fromLatin1(kGnomeCopiedFilesMime)) ||
                  data->hasFormat(QStringLiteral("text/uri-list")));
}

void ClearClipboardIfHolding(const QStringList& paths) {
  const ClipboardFiles now = FilesOnClipboard();
  QStringList wanted;
  for (const QString& p : paths) wanted.append(WithoutSlash(p));
  if (!now.IsEmpty() && now.paths == wanted) QGuiApplication::clipboard()->clear();
}
