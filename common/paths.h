#pragma once
// Path helpers shared by every layer. Paths are UTF-8 native paths with "/" as the
// separator; folder paths may carry a trailing "/".
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kProtectedSuffix = ".~de";
inline constexpr std::string_view kFolderSettingsName = "zde.tmp";
inline constexpr std::string_view kDefaultSettingsName = "VellumDef.dat";
inline constexpr std::string_view kStateFileName = "Vellumguard.dat";

// A regular file (after following a final symlink) that can be opened for reading.
bool FileExists(const std::string& path);
// An existing directory (after following a final symlink).
bool IsFolder(const std::string& path);
// The file's length in bytes; 0 when it cannot be opened for reading.
uint64_t FileLength(const std::string& path);
// Drops trailing "/", then keeps the text up to and including the last "/" (empty when
// there is none): "/a/b/" and "/a/b.txt" both give "/a/".
std::string ParentFolder(std::string_view path);
// Drops trailing "/", then the text after the last "/" ("/home" gives "home"); the whole
// text when there is none, and "/" for the root itself.
std::string LastPathComponent(std::string_view path);
// Drops trailing "/", then the text after the last dot; the whole text when the last dot
// is the first character or there is none.
std::string PathExtension(std::string_view path);
// Adds a trailing "/" unless there is one.
std::string WithTrailingSlash(std::string_view path);
// Removes trailing "/" but keeps "/" itself.
std::string WithoutTrailingSlash(std::string_view path);
// path + "/" + name without doubling the separator.
std::string JoinPath(std::string_view folder, std::string_view name);

std::string UserName();
std::string CurrentFolder();
std::string ProgramPath();
// Where the default settings, the state file and list scratch data live, with a trailing
// "/": $VELLUMGUARD_HOME when set, else the program's folder when it is a portable copy,
// else $XDG_DATA_HOME/Vellumguard/ (created on first use).
std::string ProgramFolder();
// True when folder holds an unpacked, portable copy of the programs: writable, and not
// the bin folder of an installation (one with the documentation folder beside it, such
// as /usr/bin, which is writable when root runs the program).
bool IsPortableProgramFolder(const std::string& folder);

// The protected file of a plain file, and the plain file of a protected file.
std::string ProtectedPathOf(std::string_view plain);
std::string PlainPathOf(std::string_view protectedPath);
bool IsProtectedPath(std::string_view path);  // ends in ".~de", exact

// The file system search rules users know: no regard to ASCII case, "*" any run, "?" one
// character, and a pattern ending in ".*" also matches names without a dot.
bool WildcardMatch(std::string_view name, std::string_view pattern);
