#pragma once
// What the key commands share: the passwords they take as keys, and guard lists named
// among their paths.
#include <optional>
#include <string>

#include "cli/options.h"
#include "engine/digest.h"

class CExplorerDoc;

// The key of the password from the file, the descriptor or (neither given) the terminal.
// 0, or the exit code after the failure was reported: 2 nothing to read it from, 130
// interrupted.
int ObtainKey(const std::optional<std::string>& file, const std::optional<int>& fd,
              const std::string& prompt, SecretKey& key);
// The key of the new password: --new-password-file, --new-password-fd, or the terminal,
// asked twice. 0 or the exit code, as ObtainKey.
int ObtainNewKey(const CliOptions& options, SecretKey& key);

// A regular file named "*.dlt".
bool IsGuardListPath(const std::string& path);
// Loads a whole list; false (reported) when it is missing, damaged or not a list.
bool LoadGuardList(const std::string& path, CExplorerDoc& doc);
