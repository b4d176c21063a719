#include "guardlist/app_state.h"

#include <cstring>

#include "common/bytes.h"
#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "guard/volume_relocation.h"

namespace {

constexpr int32_t kDefaultGuardColumns[10] = {35, 180, 320, 50, 100, 50, 50, 50, 50, 50};
constexpr int32_t kDefaultFileColumns[10] = {250, 80, 150, 130, 100, 50, 50, 50, 50, 50};
// Geometry plus a path record per known list; nothing near this size is a state file.
constexpr uint64_t kMaxStateFile = 16u << 20;

bool ReadBlock(ByteReader& reader, int32_t* values, size_t count) {
  if (reader.Remaining() < count * 4) {
    reader.Fail();
    return false;
  }
  for (size_t i = 0; i < count; ++i) reader.I32(values[i]);
  return true;
}

}  // namespace

void ResetAppState(AppState& state) {
  state.windowRect[0] = 0;
  state.windowRect[1] = 0;
  state.windowRect[2] = 750;
  state.windowRect[3] = 550;
  state.topPaneHeight = 130;
  state.treePaneWidth = 200;
  state.filePaneWidth = 100;
  std::memcpy(state.guardListColumns, kDefaultGuardColumns, sizeof kDefaultGuardColumns);
  std::memcpy(state.fileListColumns, kDefaultFileColumns, sizeof kDefaultFileColumns);
}

std::string AppStatePath() {
  return ProgramFolder() + std::string(kStateFileName);
}

std::vector<uint8_t> BuildAppStateBytes(const AppState& state, const KnownListPaths& paths) {
  ByteWriter writer;
  for (int32_t v : state.windowRect) writer.I32(v);
  writer.I32(state.topPaneHeight);
  writer.I32(state.treePaneWidth);
  writer.I32(state.filePaneWidth);
  for (int32_t v : state.guardListColumns) writer.I32(v);
  for (int32_t v : state.fileListColumns) writer.I32(v);
  writer.U32(static_cast<uint32_t>(paths.size()));
  for (const std::string& p : paths) writer.CountedString(p);
  return std::move(writer.Data());
}

bool ParseAppStateBytes(const uint8_t* data, size_t size, AppState& state, KnownListPaths& paths) {
  ByteReader reader(data, size);
  if (!ReadBlock(reader, state.windowRect, 4)) return false;
  int32_t panes[3];
  if (!ReadBlock(reader, panes, 3)) return false;
  state.topPaneHeight = panes[0];
  state.treePaneWidth = panes[1];
  state.filePaneWidth = panes[2];
  if (!ReadBlock(reader, state.guardListColumns, 10)) return false;
  if (!ReadBlock(reader, state.fileListColumns, 10)) return false;
  uint32_t count = 0;
  if (!reader.U32(count)) return true;  // no count: no known lists
  // Records are read one at a time, never allocated by the count; a count the data
  // cannot hold fails at the first missing record.
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t units = 0;
    if (!reader.U32(units) || units == 0 || units > reader.Remaining() / 2) return false;
    std::u16string text(units, u'\0');
    for (uint32_t k = 0; k < units; ++k) {
      uint8_t b[2];
      reader.Bytes(b, 2);
      text[k] = static_cast<char16_t>(b[0] | (b[1] << 8));
    }
    // The text ends at its first zero unit.
    if (const size_t z = text.find(u'\0'); z != std::u16string::npos) text.resize(z);
    if (text.size() > kMaxListPathLength) return false;
    RememberListPath(paths, ToUtf8KeepingBytes(text));
  }
  return true;
}

bool LoadAppState(AppState& state, KnownListPaths& paths, const std::string& file) {
  const std::string path = file.empty() ? AppStatePath() : file;
  RemoveStaleTempFiles(ParentFolder(path));
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, kMaxStateFile, bytes).ok()) return false;
  return ParseAppStateBytes(bytes.data(), bytes.size(), state, paths);
}

bool SaveAppState(const AppState& state, const KnownListPaths& paths, const std::string& file) {
  const std::string path = file.empty() ? AppStatePath() : file;
  return WriteFileAtomically(path, BuildAppStateBytes(state, paths)).ok();
}

bool RememberListPath(KnownListPaths& paths, const std::string& path) {
  if (path.empty() || path.size() > kMaxListPathLength) return false;
  for (const std::string& known : paths) {
    if (EqualsNoCase(known, path)) return false;
  }
  if (FileExists(path)) {
    paths.push_back(path);
    return true;
  }
  const std::string moved = RelocateToVolumeOf(path, ProgramPath());
  if (!moved.empty() && FileExists(moved)) {
    for (const std::string& known : paths) {
      if (EqualsNoCase(known, moved)) return false;
    }
    paths.push_back(moved);
    return true;
  }
  return false;
}
