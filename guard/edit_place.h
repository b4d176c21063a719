#pragma once
// Where edit sessions keep the plaintext they hand to an editor, and how to tell whether
// an editor still has it. The plaintext belongs in memory-backed storage private to the
// user ($XDG_RUNTIME_DIR is a tmpfs of 0700 on systemd machines), never beside the
// protected file and never in a folder on a disk that backups or sync clients read.
#include <sys/types.h>

#include <string>
#include <vector>

#include "common/sys_error.h"

enum class EditPlaceKind {
  Memory,    // $XDG_RUNTIME_DIR on tmpfs or ramfs
  Disk,      // $XDG_RUNTIME_DIR is set but not memory-backed
  NoRuntime  // $XDG_RUNTIME_DIR is unset or not an absolute path
};

struct EditPlace {
  EditPlaceKind kind = EditPlaceKind::NoRuntime;
  // The folder of all sessions, with a trailing "/": $XDG_RUNTIME_DIR/vellumguard/, or,
  // without the variable, the program folder's "runtime/" (used only when the user
  // accepts a disk).
  std::string root;
  // Why the place is not memory-backed, in words for the user; empty for Memory.
  std::string reason;
};

// Looks at the environment and the file system; creates nothing.
EditPlace FindEditPlace();
// True when the file system holding path is tmpfs or ramfs (statfs).
bool IsMemoryFileSystem(const std::string& path);
// Creates root and root/edit/ at mode 0700 when missing; refuses folders that are
// symbolic links, owned by someone else or open to other users.
SysError PrepareEditRoot(const std::string& root);
// The folder that holds the sessions of root (with a trailing "/").
std::string EditSessionsFolder(const std::string& root);

// True when a process other than this one holds a file of folder open (/proc/*/fd).
// Processes of other users cannot be looked at; they cannot open the 0700 folder either.
bool FolderHeldOpen(const std::string& folder);
// True when a process of the process group is alive (a zombie is not): an application
// started in a group of its own has ended only when everything it forked has ended too.
bool ProcessGroupAlive(pid_t group);
// True when folder holds an editor's lock file for the document name: LibreOffice's
// ".~lock.NAME#", vim's ".NAME.swp" (and ".swo"), emacs' ".#NAME".
bool HasEditorLockFile(const std::string& folder, const std::string& name);
// The names in folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder);
