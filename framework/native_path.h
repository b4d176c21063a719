#pragma once
// The one conversion between a path as the user interface holds it (QString) and as the
// file system and the core take it (the name's bytes in a std::string).
//
// A Linux file name is any run of bytes; most are UTF-8, but a name copied from an old
// archive or another system may not be. Qt's own QFile::encodeName and decodeName turn
// each invalid byte into U+FFFD, so such a file could not be opened again, and worse, the
// mangled path could name a different file. Here a byte that is not part of valid UTF-8
// becomes the lone surrogate U+DC00 + byte (the convention of Python's surrogateescape),
// and turns back into that very byte: FromNative then Native gives the bytes back
// unchanged, for every name. Valid UTF-8 reads as usual, so such names show as text.
// This is the convention of the names stored in the program's files (common/text.h).
#include <QString>
#include <string>
#include <string_view>

// The file-system form of path. A lone surrogate outside U+DC80..U+DCFF (no name read
// with FromNative holds one) is written as U+FFFD.
std::string Native(const QString& path);

// The user-interface form of the file-system path native.
QString FromNative(std::string_view native);
