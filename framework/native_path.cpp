#include "framework/native_path.h"

#include <cstdint>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + the byte, for bytes 0x80..0xFF

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the valid UTF-8 sequence at s[i] and its code point, or 0 when the bytes
// there are not one (overlong forms, encoded surrogates and values above U+10FFFF are not).
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& c) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b0 = byte(i);
  size_t length;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, min = 0x80, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, min = 0x800, c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, min = 0x10000, c = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string Native(const QString& path) {
  std::string out;
  out.reserve(static_cast<size_t>(path.size()));
  const qsizetype n = path.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = path[i].unicode();
    if (u < 0xD800 || u > 0xDFFF) {
      AppendUtf8(out, u);
    } else if (QChar::isHighSurrogate(u) && i + 1 < n && path[i + 1].isLowSurrogate()) {
      AppendUtf8(out, QChar::surrogateToUcs4(u, path[i + 1].unicode()));
      ++i;
    } else if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) {
      out += static_cast<char>(u - kEscapeBase);
    } else {
      AppendUtf8(out, 0xFFFD);
    }
  }
  return out;
}

QString FromNative(std::string_view native) {
  QString out;
  out.reserve(static_cast<qsizetype>(native.size()));
  for (size_t i = 0; i < native.size();) {
    const auto b = static_cast<uint8_t>(native[i]);
    if (b < 0x80) {
      out += QChar(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    char32_t c = 0;
    if (const size_t length = DecodeUtf8(native, i, c)) {
      if (c < 0x10000) {
        out += QChar(static_cast<char16_t>(c));
      } else {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
      }
      i += length;
    } else {
      out += QChar(static_cast<char16_t>(kEscapeBase + b));
      ++i;
    }
  }
  return out;
}
