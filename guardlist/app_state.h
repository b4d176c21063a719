#pragma once
// What the program remembers between runs apart from the user's files: window and pane
// geometry, the column widths of the two list panes, and the list files the user has
// opened or saved. Stored in ProgramFolder() + "Vellumguard.dat", a plain little-endian
// file (docs/FORMAT.md), written crash-safely.
#include <cstdint>
#include <string>
#include <vector>

struct AppState {
  int32_t windowRect[4];  // left, top, right, bottom
  int32_t topPaneHeight;
  int32_t treePaneWidth;
  int32_t filePaneWidth;
  int32_t guardListColumns[10];
  int32_t fileListColumns[10];
};

// The known list paths: in the order they became known, no two equal without regard to
// ASCII case; only ever added to.
using KnownListPaths = std::vector<std::string>;

// The longest list path remembered (a path the file system can still open).
inline constexpr size_t kMaxListPathLength = 4095;

// The defaults: window 0, 0, 750, 550; top pane 130; tree 200; file pane 100; guard list
// columns 35, 180, 320, 50, 100, 50...; file list columns 250, 80, 150, 130, 100, 50....
void ResetAppState(AppState& state);

// Reads the state file. False when it is missing or cut short in the geometry (the
// blocks read before keep their values), or when a path record is empty, longer than
// the data that remains, or longer than kMaxListPathLength (paths read before it stay
// known). Every path goes through RememberListPath. file empty: the program folder's.
bool LoadAppState(AppState& state, KnownListPaths& paths, const std::string& file = "");
// Writes the state file crash-safely; false when that failed (the old file stays).
bool SaveAppState(const AppState& state, const KnownListPaths& paths, const std::string& file = "");

// Adds path unless it is known already (no regard to ASCII case). A path whose file is
// gone is tried on the volume the program runs from (guard/volume_relocation.h) and
// added as relocated when the file is there. True when a path was added.
bool RememberListPath(KnownListPaths& paths, const std::string& path);

// ProgramFolder() + "Vellumguard.dat".
std::string AppStatePath();

// The state file's contents, and their parser (what LoadAppState does after reading the
// file). Public for the tests and the fuzz target.
std::vector<uint8_t> BuildAppStateBytes(const AppState& state, const KnownListPaths& paths);
bool ParseAppStateBytes(const uint8_t* data, size_t size, AppState& state, KnownListPaths& paths);
