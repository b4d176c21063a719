#pragma once
// The record an edit session keeps beside its folder, so that a session left by a crash
// can be found and finished: which protected file it writes to, the document's name,
// and a salted hash of the content last protected. Never plaintext, never a key.
//
// One text file per session, "<id>.session" beside the session folder "<id>/", replaced
// crash-safely on every change. Its reader treats every byte as hostile: a bounded size,
// known keys only, complete fields, paths that are absolute and names without "/".
#include <cstdint>
#include <string>

#include "common/safe_file.h"
#include "common/sys_error.h"

inline constexpr size_t kEditHashSize = 32;
inline constexpr size_t kEditSaltSize = 16;

struct EditJournal {
  std::string original;  // the protected file the session was opened on
  std::string target;    // where saves go now: original, or its conflict copy
  std::string name;      // the document's name in the session folder
  int level = 6;         // zip level of the saves
  uint8_t salt[kEditSaltSize] = {};
  uint8_t hash[kEditHashSize] = {};  // salted SHA-256 of the content target holds
  FileIdentity written;              // target as the session last wrote or found it
  // Set while a save is on its way: its hash and the inode of its temporary file, which
  // keeps that inode when it is renamed over target.
  bool pending = false;
  uint8_t pendingHash[kEditHashSize] = {};
  uint64_t pendingDev = 0, pendingIno = 0;
};

// "<sessions folder>/<id>.session" for the session folder "<sessions folder>/<id>/".
std::string JournalPathOf(const std::string& sessionFolder);
// The session folder of a journal path (the inverse).
std::string SessionFolderOf(const std::string& journalPath);

SysError WriteJournal(const std::string& path, const EditJournal& journal);
// False with a reason in words when the file is missing, too large or not a journal.
bool ReadJournal(const std::string& path, EditJournal& journal, std::string& error);

// The salted SHA-256 of a regular file (read in chunks, never through a symbolic link),
// with the identity of the file that was read. ok() or the failed call.
SysError HashFile(const std::string& path, const uint8_t salt[kEditSaltSize],
                  uint8_t hash[kEditHashSize], FileIdentity* identity = nullptr);
