#pragma once
// Path helpers of the explorer panes (the QString <-> file-system conversion itself is
// framework/native_path.h).
#include <QString>
#include <string>

// The path without trailing "/"; "/" itself stays.
QString TrimmedPath(const QString& path);
// The canonical form of a native path (links, "." and ".." resolved); empty when it cannot
// be resolved (gone, a dangling link, no permission).
std::string CanonicalPath(const std::string& path);
