#include "framework/shell_open.h"

#include <QDesktopServices>

namespace {
UrlOpener& Opener() {
  static UrlOpener opener;
  return opener;
}
}  // namespace

bool OpenWithDesktop(const QUrl& url) {
  if (Opener()) return Opener()(url);
  return QDesktopServices::openUrl(url);
}

void SetUrlOpener(UrlOpener opener) {
  Opener() = std::move(opener);
}
