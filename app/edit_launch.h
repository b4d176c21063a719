#pragma once
// Starting the desktop's default application for a file as a process of our own, so that
// its end can be seen: the MIME type's default from the mimeapps.list files (then the
// desktop's cache), and that application's Exec line with the file in place of its
// field code.
#include <QString>
#include <QStringList>

// The program and its arguments for path; empty when no application is set up.
QStringList DefaultApplicationCommand(const QString& path);
// The arguments of a desktop entry's Exec value for one file (field codes replaced,
// quoting undone); empty when the line is unusable.
QStringList ExpandExecLine(const QString& exec, const QString& path);
