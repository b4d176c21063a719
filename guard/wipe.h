#pragma once
// The wipe: a plain file overwritten with a marker at a fixed stride, then deleted.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/safe_file.h"
#include "engine/file_codec.h"

// The 19 bytes written over a plain file before it is deleted (no terminator).
inline constexpr std::string_view kWipeMarker = "<VellumguardWiped/>";
static_assert(kWipeMarker.size() == 19);

// Bytes a wipe leaves between two markers, by the last three characters of the whole
// path (no regard to ASCII case): 10 for TXT DOC XLS, 200 for ZIP RAR JPG GIF AVI MPG
// WMV, 300 for EXE, else 30. It is the path's end, not its extension: a.docx gets 30.
uint64_t WipeStrideFor(std::string_view path);

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
// nothing is changed), -1 when a read or write of the overwriting failed (the file was
// deleted all the same, its content not overwritten).
int WipeAndDeleteFile(const std::string& path, std::string_view marker, uint64_t stride,
                      ProgressProc callback, void* user);

// Wipes and deletes a plain file that a killed wipe left under a temporary name (for
// RemoveStaleTempFiles); the stride comes from the name it had.
void WipeStaleTempFile(const std::string& tempPath);
// The same for a name in a folder held by descriptor (for RemoveStaleTempFilesAt).
void WipeStaleTempFileAt(int folderFd, const std::string& tempName);

// Overwritten: moved aside to moved and overwritten, neither synced nor deleted (a
// batch does both for all its files at once). NotOverwritten: a read or write of the
// overwriting failed (err); the file is deleted as for Deleted, or with moved left there
// as for Overwritten.
enum class WipeOutcome { Deleted, NotOpened, Changed, HardLinked, Overwritten, NotOverwritten };

// The wipe of WipeAndDeleteFile, for the batches. With expected, a file that is not the
// one that was encoded (replaced, written to) is left alone (Changed); a file with other
// names is always left alone (HardLinked, links receives their count). err receives the
// errno when the file could not be opened or moved (NotOpened). With moved, the
// overwritten file is left under its temporary name there, unsynced (Overwritten).
WipeOutcome Wipe(const std::string& path, std::string_view marker, uint64_t stride,
                 ProgressProc callback, void* user, const FileIdentity* expected, uint64_t& links,
                 int& err, std::string* moved = nullptr);
// The same for name in the folder held by folderFd (moved then names a file in it too).
WipeOutcome WipeAt(int folderFd, const std::string& name, std::string_view marker, uint64_t stride,
                   ProgressProc callback, void* user, const FileIdentity* expected, uint64_t& links,
                   int& err, std::string* moved = nullptr);
