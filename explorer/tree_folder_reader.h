#pragma once
// The worker side of the folder tree: reads the subfolders of one folder with what the tree
// shows of them (names, kinds, expand buttons, symbolic-link loops), lists the mounted
// volumes, and orders them. Nothing here touches a widget, so all of it runs on the tree's
// worker threads.
//
// Expand buttons follow the file system's link counts instead of listing every subfolder: a
// folder's link count is 2 plus its subfolders on the usual Unix file systems. Removable,
// optical and network volumes get a button without being touched, so an empty drive or a
// hung server never stalls the listing of the folder that holds their mount point.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "explorer/lazy_tree_ctrl.h"
#include "explorer/mount_table.h"

enum class TreeItemKind : uint8_t {
  kFolder,
  kFolderLink,  // a symbolic link to a folder
  kFile,
  kHome,
  kDesktop,
  kFileSystem,  // the file system root "/"
  kComputer,    // "computer:///", the mounted volumes
  kFixedVolume,
  kRemovableVolume,
  kNetworkVolume,
  kOpticalVolume,
};

// Removable, network and optical volumes: slow to read, never probed.
bool IsSlowKind(TreeItemKind kind);

struct TreeChildRecord {
  QString id;    // its element of the tree's id lists: the name, or a volume's mount point
  QString name;  // the text shown
  QString path;  // file-system path; empty for the computer node
  TreeItemKind kind = TreeItemKind::kFolder;
  bool hasChildren = false;  // expand button before its children are read
  bool loop = false;         // a link back to the folder itself or one above: never expanded
};

enum class FolderReadStatus : uint8_t {
  kRead,           // listed (possibly partly, if it vanished meanwhile)
  kNotBound,       // the folder is gone or is no folder any more
  kNotEnumerated,  // it exists but cannot be listed (permissions, I/O error)
};

struct FolderReadRequest {
  QString path;  // absolute folder path as the tree knows it (may run through links)
  bool showFiles = false;
  // Called just before the folder is opened; a non-zero errno fails the opening with it.
  // Lets tests stand in for unreadable, vanishing or slow folders.
  std::function<int(const std::string& folder)> openHook;
  // The mount points to judge children by; null reads the system's.
  std::shared_ptr<const CMountTable> mounts;
};

struct FolderReadResult {
  FolderReadStatus status = FolderReadStatus::kNotEnumerated;
  std::vector<TreeChildRecord> children;  // folders first, then in natural name order
  bool parentIsFixedRoot = false;         // the folder is the mount point of a fixed volume
  int error = 0;                          // errno of a failure
};

// Reports SetLoadProgress (0, 0), AddLoadProgress (1) per child and (1, 1) at the end. Names
// beginning with a dot (hidden files and the program's temporary files) are left out.
FolderReadResult ReadFolderChildren(const FolderReadRequest& request, CLoadProgress& progress);
// The mounted volumes (QStorageInfo) without pseudo and snap file systems, by mount point.
std::vector<TreeChildRecord> ReadComputerVolumes(CLoadProgress& progress);
// Whether a folder has a visible subfolder, judged from its link count and, when that
// cannot tell, from its first few hundred entries.
bool FolderHasSubfolders(const std::string& path);

// Folders and volumes before files, each group in the natural order of names
// (explorer/natural_order.h).
void SortTreeChildren(std::vector<TreeChildRecord>& children);
