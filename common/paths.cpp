#include "common/paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "common/text.h"

bool FileExists(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint64_t FileLength(const std::string& path) {
  if (!FileExists(path)) return 0;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

static std::string_view TrimSlashes(std::string_view p) {
  while (!p.empty() && p.back() == '/') p.remove_suffix(1);
  return p;
}

std::string ParentFolder(std::string_view path) {
  const std::string_view p = TrimSlashes(path);
  const size_t pos = p.rfind('/');
  if (pos == std::string_view::npos) return std::string();
  return std::string(p.substr(0, pos + 1));
}

std::string LastPathComponent(std::string_view path) {
  const std::string_view p = TrimSlashes(path);
  // The root names itself; an entry directly below it is named without the separator.
  if (p.empty() && !path.empty()) return "/";
  const size_t pos = p.rfind('/');
  if (pos == std::string_view::npos) return std::string(p);
  return std::string(p.substr(pos + 1));
}

std::string PathExtension(std::string_view path) {
  const std::string_view p = TrimSlashes(path);
  const size_t pos = p.rfind('.');
  if (pos == std::string_view::npos || pos == 0) return std::string(p);
  return std::string(p.substr(pos + 1));
}

std::string WithTrailingSlash(std::string_view path) {
  std::string s(path);
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::string WithoutTrailingSlash(std::string_view path) {
  std::string s(TrimSlashes(path));
  if (s.empty() && !path.empty()) s = "/";
  return s;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  return WithTrailingSlash(folder) + std::string(name);
}

std::string UserName() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) {
    return std::string(pw->pw_name).substr(0, 256);
  }
  if (const char* u = std::getenv("USER")) return std::string(u).substr(0, 256);
  return std::string();
}

std::string CurrentFolder() {
  std::vector<char> buf(PATH_MAX + 1);
  if (!::getcwd(buf.data(), buf.size())) return std::string();
  return std::string(buf.data());
}

std::string ProgramPath() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buf.data(), static_cast<size_t>(n));
}

static bool MakeFolders(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
      }
    }
    if (i < path.size()) partial += path[i];
  }
  return IsFolder(path);
}

bool IsPortableProgramFolder(const std::string& folder) {
  if (folder.empty() || ::access(folder.c_str(), W_OK) != 0) return false;
  // The install rules put the programs in PREFIX/bin and the documentation in
  // PREFIX/VG_INSTALL_DOCDIR.
  const std::string prefix = ParentFolder(WithoutTrailingSlash(folder));
  return prefix.empty() || !IsFolder(JoinPath(prefix, VG_INSTALL_DOCDIR));
}

std::string ProgramFolder() {
  if (const char* home = std::getenv("VELLUMGUARD_HOME"); home && *home) {
    const std::string folder = WithTrailingSlash(home);
    MakeFolders(WithoutTrailingSlash(folder));
    return folder;
  }
  const std::string exeFolder = ParentFolder(ProgramPath());
  if (IsPortableProgramFolder(exeFolder)) return exeFolder;
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    data = xdg;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    data = JoinPath(h, ".local/share");
  } else if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) {
    data = JoinPath(pw->pw_dir, ".local/share");
  } else {
    data = "/tmp";
  }
  const std::string folder = JoinPath(data, "Vellumguard");
  MakeFolders(folder);
  return WithTrailingSlash(folder);
}

std::string ProtectedPathOf(std::string_view plain) {
  return std::string(plain) + std::string(kProtectedSuffix);
}

std::string PlainPathOf(std::string_view protectedPath) {
  if (protectedPath.size() < kProtectedSuffix.size()) return std::string();
  return std::string(protectedPath.substr(0, protectedPath.size() - kProtectedSuffix.size()));
}

bool IsProtectedPath(std::string_view path) {
  return EndsWith(path, kProtectedSuffix);
}

static char Fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Iterative glob with one backtracking point: linear in practice, no recursion depth.
static bool Glob(std::string_view name, std::string_view pat) {
  size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pat.size() && (pat[p] == '?' || Fold(pat[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

bool WildcardMatch(std::string_view name, std::string_view pattern) {
  if (Glob(name, pattern)) return true;
  // "name.*" also finds "name": the search treats a name without a dot as ending in ".".
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return Glob(name, pattern.substr(0, pattern.size() - 2));
  }
  return false;
}
