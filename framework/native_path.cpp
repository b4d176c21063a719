#include "framework/native_path.h"

#include "common/text.h"

// The same convention as the names the program stores in its files (common/text.h), so a
// path read from a list file and the same path read from the disk are one QString.

std::string Native(const QString& path) {
  return ToUtf8KeepingBytes(std::u16string_view(reinterpret_cast<const char16_t*>(path.utf16()),
                                                static_cast<size_t>(path.size())));
}

QString FromNative(std::string_view native) {
  const std::u16string utf16 = FromUtf8KeepingBytes(native);
  return QString(reinterpret_cast<const QChar*>(utf16.data()),
                 static_cast<qsizetype>(utf16.size()));
}
