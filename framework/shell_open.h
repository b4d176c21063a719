#pragma once
// Opening files, folders and links with the desktop's default application. Tests put a
// recording opener in place so that nothing is started.
#include <QUrl>
#include <functional>

using UrlOpener = std::function<bool(const QUrl& url)>;

// True when the desktop accepted the request.
bool OpenWithDesktop(const QUrl& url);
// Replaces the opener for the whole program; an empty function restores the desktop's.
void SetUrlOpener(UrlOpener opener);
