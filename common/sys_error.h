#pragma once
// The one way a failure reason travels between modules: the errno of the failed system
// call, the file it concerned and which step failed. Functions that only succeed or fail
// return it; functions whose design gives result codes return the code and fill one
// given by pointer. The type is [[nodiscard]]: a reason is never dropped silently.
#include <string>
#include <string_view>

struct [[nodiscard]] SysError {
  int err = 0;            // errno; 0 means success
  std::string path;       // the file or folder the call concerned, as the caller named it
  const char* what = "";  // the step, a fixed text: "open", "write", "fsync", "rename"...
  // The change took place all the same and only making it durable failed (a file that
  // replaced its target, whose folder could not be synced): Reason says so.
  bool replaced = false;

  bool ok() const { return err == 0; }
  // The reason in the system's words ("No space left on device"); empty when ok().
  std::string Reason() const;
  // action "path": reason, for messages ("Cannot save the list file "/a/b.dlt": No space
  // left on device"). The path is left out when empty.
  std::string Describe(std::string_view action) const;
};

// errno as it is now, with the path and the step; for the line right after a failed call.
SysError ErrnoError(std::string path, const char* what);
