#pragma once
// Protecting one plain file into "NAME.~de" beside it and restoring it back.
//
// Crash safety: the protected file is written under a temporary name in the same folder,
// synced and renamed into place before the plain file is touched; a failed or cancelled
// protect removes only that temporary file, so the plain file and any protected file
// that existed before stay as they were. A restore decodes into a temporary file that
// replaces the plain name only when it is complete and synced; the protected file is
// deleted only after that, and a failed restore never deletes an existing plain file.
//
// Permissions, owner and times: the protected file gets the plain file's permission bits
// and times (and owner, when root protects another user's file), and the restored file
// gets the protected file's, so a file comes back as it was protected. Both are set on
// the descriptor before the file takes its name; a restored plaintext is never readable
// by anybody the protected file did not allow, not even for a moment.
//
// Concurrent changes: the plain file is wiped only when it is still the file that was
// encoded (device, inode, size, modification and change time); one replaced or written
// to meanwhile stays, the protected file just written goes, and the protect fails with
// "changed while it was being protected". A file with more than one hard link is not
// protected at all: the wipe would turn its other names into markers.
//
// Symbolic links: a symbolic link is never protected or wiped (wiping through it would
// overwrite a file elsewhere); restoring replaces a link at the plain name instead of
// writing through it.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/file_codec.h"
#include "guard/guard_ui.h"

// The codec's work buffer for both directions.
inline constexpr uint32_t kCodecBufferSize = 1024;

// The 19 bytes written over a plain file before it is deleted (no terminator).
inline constexpr std::string_view kWipeMarker = "<VellumguardWiped/>";
static_assert(kWipeMarker.size() == 19);

// Bytes a wipe leaves between two markers, by the last three characters of the whole
// path (no regard to ASCII case): 10 for TXT DOC XLS, 200 for ZIP RAR JPG GIF AVI MPG
// WMV, 300 for EXE, else 30. It is the path's end, not its extension: a.docx gets 30.
uint64_t WipeStrideFor(std::string_view path);

// Results of EncryptOneFile.
enum EncryptOneResult : int {
  ENCRYPT_DONE = 1,        // protected, plain file wiped and deleted
  ENCRYPT_CANCELLED = -2,  // the progress window was cancelled while encoding
  ENCRYPT_FAILED = -3,     // a message naming the file and the reason was shown
  ENCRYPT_NOT_WIPED = -4,  // protected, but the plain file could not be wiped (a warning
                           // "... but not wiped: REASON" was shown)
};
// Results of DecryptOneFile.
enum DecryptOneResult : int {
  DECRYPT_DONE = 1,               // restored, protected file deleted
  DECRYPT_PROMPT_CANCELLED = -2,  // the password prompt was cancelled: stop the run
  DECRYPT_CANCELLED = -3,         // the progress window was cancelled while decoding
  DECRYPT_FAILED = -4,            // three wrong passwords (no message), or a damaged file
                                  // or an I/O failure (a message with the reason)
};

// Protects path into path + ".~de" with the key digest and zip level (0 stores). An
// existing protected file is replaced only by a complete new one. progress may be null.
int EncryptOneFile(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                   IProgressWindow* progress);

// Restores path (which ends in ".~de") to the name without the suffix. digest is the
// run's key buffer: tried first, and replaced by the key of any password typed at the
// prompt (at most three prompts per file), so the next file starts with the last key
// that worked.
int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress);

// Overwrites the file with marker at offsets 0, m + s, 2(m + s), ... up to and including
// its length (m the marker's length, s = stride; the bytes between keep their content,
// a file shorter than the marker grows to hold one), syncs it and deletes it. The work
// is done in large read-modify-write blocks with one callback per block, whose chunk is
// (stride + m) times the markers of that block; a callback returning 0 ends the
// overwriting early, and the file is deleted all the same. The file is moved to a
// temporary name before it is overwritten, so an interrupted wipe never leaves damaged
// content under the file's own name. Never follows a symbolic link, never opens anything
// but a regular file, never touches a file with more than one hard link. Stride 0
// deletes without overwriting.
// Returns 1 when the file was deleted, 0 when it could not be opened or moved (then
// nothing is changed).
int WipeAndDeleteFile(const std::string& path, std::string_view marker, uint64_t stride,
                      ProgressProc callback, void* user);

// Wipes and deletes a plain file that a killed wipe left under a temporary name (for
// RemoveStaleTempFiles); the stride comes from the name it had.
void WipeStaleTempFile(const std::string& tempPath);

// The progress callback of the guard operations; user is the IProgressWindow* or null.
// Returns 0 when the window was cancelled, else steps the bar by chunk / 10, lets the
// window process its events (Esc cancels) and shows it.
int ProgressStep(uint64_t total, uint64_t done, uint64_t chunk, void* user);
