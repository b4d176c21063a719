#include "common/text.h"

#include <initializer_list>

#include "common/bytes.h"

namespace {
void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
}  // namespace

namespace {

std::u16string Utf8To16(std::string_view s, bool keepBytes) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (b0 < 0x80) {
      cp = b0;
    } else {
      size_t need = 0;
      char32_t min = 0;
      if ((b0 & 0xE0) == 0xC0)
        need = 1, cp = b0 & 0x1F, min = 0x80;
      else if ((b0 & 0xF0) == 0xE0)
        need = 2, cp = b0 & 0x0F, min = 0x800;
      else if ((b0 & 0xF8) == 0xF0)
        need = 3, cp = b0 & 0x07, min = 0x10000;
      bool ok = need > 0 && i + need < s.size();
      for (size_t k = 1; ok && k <= need; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
          ok = false;
        else
          cp = (cp << 6) | (b & 0x3F);
      }
      if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
        len = need + 1;
      } else {
        cp = keepBytes ? 0xDC00 + b0 : 0xFFFD;
        len = 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16To8(std::u16string_view s, bool keepBytes) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (keepBytes && cp >= 0xDC80 && cp <= 0xDCFF) {
      out += static_cast<char>(cp - 0xDC00);  // a byte that was not UTF-8, given back
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace

std::u16string FromUtf8(std::string_view utf8) {
  return Utf8To16(utf8, false);
}

std::string ToUtf8(std::u16string_view utf16) {
  return Utf16To8(utf16, false);
}

std::u16string FromUtf8KeepingBytes(std::string_view utf8) {
  return Utf8To16(utf8, true);
}

std::string ToUtf8KeepingBytes(std::u16string_view utf16) {
  return Utf16To8(utf16, true);
}

std::vector<uint8_t> Utf16LeBytes(std::string_view utf8) {
  // Passwords pass through here: the UTF-16 form is wiped, and out never moves.
  std::u16string u = FromUtf8(utf8);
  std::vector<uint8_t> out;
  out.reserve(u.size() * 2);
  for (char16_t c : u) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  SecureZero(u.data(), u.size() * sizeof(char16_t));
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}
