// Hostile state files: never a crash or a huge allocation; what was read writes back to
// bytes that parse to the same state. Paths are remembered only when their files exist;
// nothing is written.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "guardlist/app_state.h"

// The replay driver's seed hook returns a C++ value; it is only ever called from C++.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t LLVMFuzzerSeedCount() {
  return 2;
}
extern "C" std::vector<uint8_t> LLVMFuzzerSeed(size_t index) {
  AppState s;
  ResetAppState(s);
  KnownListPaths paths;
  if (index == 1) paths = {"/nonexistent-vellumguard-fuzz/a.dlt", "/etc/hostname"};
  return BuildAppStateBytes(s, paths);  // the paths need not exist to be written
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AppState s;
  ResetAppState(s);
  KnownListPaths paths;
  ParseAppStateBytes(data, size, s, paths);
  // Every remembered path came from a record of at least 6 bytes.
  if (paths.size() > size / 6) std::abort();
  const std::vector<uint8_t> again = BuildAppStateBytes(s, paths);
  AppState back;
  KnownListPaths backPaths;
  if (!ParseAppStateBytes(again.data(), again.size(), back, backPaths)) std::abort();
  if (BuildAppStateBytes(back, backPaths) != again) std::abort();
  return 0;
}
