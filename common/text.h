#pragma once
// Text helpers. Below the user interface texts are UTF-8 std::string; the program's files
// store texts as counted UTF-16LE strings and passwords are hashed as UTF-16LE code units.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 to UTF-16. Invalid sequences become U+FFFD, so every byte string converts.
std::u16string FromUtf8(std::string_view utf8);
// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view utf16);
// For names stored in the program's files: a byte that is not part of valid UTF-8 (a
// file name from a non-UTF-8 system) becomes a lone low surrogate U+DC80 + byte on the
// way in and the same byte on the way out, so every name round-trips exactly; valid
// UTF-8 converts as above.
std::u16string FromUtf8KeepingBytes(std::string_view utf8);
std::string ToUtf8KeepingBytes(std::u16string_view utf16);
// The UTF-16LE bytes of a UTF-8 text, without a terminator (what keys are hashed from).
std::vector<uint8_t> Utf16LeBytes(std::string_view utf8);
// ASCII-only case folding, enough for the fixed names and suffixes the program compares.
std::string AsciiLower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EndsWith(std::string_view s, std::string_view suffix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);
// printf-style "%s" substitution for the program's message texts: every "%s" in order
// takes the next argument; nothing else in the format or the arguments is interpreted.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);
