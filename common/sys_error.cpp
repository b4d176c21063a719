#include "common/sys_error.h"

#include <cerrno>
#include <cstring>

std::string SysError::Reason() const {
  if (err == 0) return {};
  std::string reason = std::strerror(err);
  if (replaced) reason += " (the new file is in place, but may be lost if the computer stops now)";
  return reason;
}

std::string SysError::Describe(std::string_view action) const {
  std::string s(action);
  if (!path.empty()) s += " \"" + path + "\"";
  if (err != 0) s += ": " + Reason();
  return s;
}

SysError ErrnoError(std::string path, const char* what) {
  const int err = errno;
  return {err != 0 ? err : EIO, std::move(path), what};
}
