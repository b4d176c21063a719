#pragma once
// Paths of the explorer panes between Qt and the file system. A QString path becomes the
// native bytes through the locale's file name codec (QFile::encodeName), so a name that is
// not valid UTF-8 comes back unchanged; toStdString would mangle it.
#include <QString>
#include <string>

// The native path of a QString path.
std::string NativePath(const QString& path);
// The QString of a native path.
QString PathFromNative(const std::string& path);
// The path without trailing "/"; "/" itself stays.
QString TrimmedPath(const QString& path);
// The canonical form of a native path (links, "." and ".." resolved); empty when it cannot
// be resolved (gone, a dangling link, no permission).
std::string CanonicalPath(const std::string& path);
