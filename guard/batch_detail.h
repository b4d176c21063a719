#pragma once
// What the protect and restore batches share inside the guard library: the removal of
// their own temporary files, the failure texts and a path's entry for a batch that
// resolves its own folders. Not for use outside guard/.
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "guard/file_collector.h"
#include "guard/guard_ui.h"

class CHeldFolders;

namespace batch_detail {

inline constexpr int kMaxPasswordPrompts = 3;

// Removes the file this run created under name, and nothing that someone else may have
// put there since (or before: a name that was taken is not ours).
void RemoveOwnFile(int dir, const std::string& name, const struct stat& created);
std::string HardLinkReason(uint64_t links);
std::string CodecFailureReason(int result, int err);
int EncryptFailed(IGuardUi& ui, IProgressWindow* progress, const std::string& path,
                  const std::string& reason);
// A restore that failed for a reason other than the password: the user is told, or they
// would take the missing plain file for a restored one.
int DecryptFailed(IGuardUi& ui, IProgressWindow* progress, const std::string& path,
                  const std::string& reason);
std::string FolderOf(const std::string& path);
std::string EncryptFailedText(const std::string& path, const std::string& reason);
std::string CannotStoreText(const std::string& target, int err);
// The warning of a plain file whose protected file is durable but whose wipe failed.
std::string NotWipedText(const std::string& path, const std::string& target, int err);
bool SameInode(const struct stat& a, const struct stat& b);
std::string FolderFailureReason(int err);
// A path's entry for a batch that resolves its own folders; kNoFolder (errno set) when
// the folder cannot be opened.
FileEntry EntryOfPath(CHeldFolders& folders, const std::string& path);

}  // namespace batch_detail
