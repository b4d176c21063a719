#pragma once
// Paths stored in the program's files (list items, known list paths, the own path of a
// settings file) may name a removable volume that is now mounted somewhere else: the
// stick that was /media/alice/STICK on one machine is /media/bob/STICK on another, or
// /media/bob/STICK1 after a second stick took the old name. A stored path whose volume
// is gone is tried again under the mount point of a volume that holds a known file (the
// list file, the program), the way a changed drive letter would be swapped.
#include <string>

// The folder on which the file system holding path is mounted, without a trailing "/"
// ("/" for the root file system): the highest ancestor of the resolved path on the same
// device. Empty when path cannot be resolved.
std::string MountPointOf(const std::string& path);

// The relocation rule. With M the mount point of anchor, made of k components (k >= 1,
// so the root file system never relocates anything): when stored has more than k
// components, its first component equals M's first component (both under /media, both
// under /run, ...), and its first k components do not name an existing folder (the
// volume it was on is not mounted there any more), the result is M followed by the rest
// of stored. Otherwise empty. The result is a candidate: callers use it only when it
// exists.
std::string RelocateToVolumeOf(const std::string& stored, const std::string& anchor);
// The same rule with the mount point given (as MountPointOf returns it), for callers that
// relocate many paths against one anchor.
std::string RelocateUnderMount(const std::string& stored, const std::string& mount);
