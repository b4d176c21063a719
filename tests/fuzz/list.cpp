// Hostile decrypted list payloads: never a crash or a huge allocation; what was read
// writes back to a payload that parses to the same list.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "guardlist/explorer_doc.h"

namespace {
// Item paths under a folder that does not exist, so relocation finds nothing.
const std::string kList = "/nonexistent-vellumguard-fuzz/list.dlt";

std::vector<uint8_t> Seed(size_t i) {
  CExplorerDoc doc;
  for (size_t k = 0; k < i * 3; ++k) {
    CGuardItem item("/nonexistent-vellumguard-fuzz/item" + std::to_string(k), k % 2);
    item.m_state = static_cast<int32_t>(k % 6);
    item.m_includeMask = k % 3 ? "*.*|" : "";
    doc.m_items.push_back(item);
  }
  doc.m_digest[0] = static_cast<uint8_t>(i);
  return doc.BuildPayload();
}
}  // namespace

// The replay driver's seed hook returns a C++ value; it is only ever called from C++.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t LLVMFuzzerSeedCount() {
  return 3;
}
extern "C" std::vector<uint8_t> LLVMFuzzerSeed(size_t index) {
  return Seed(index);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CExplorerDoc doc;
  const int result = doc.ParsePayload(data, size, kList);
  if (result == LIST_NOT_A_LIST) return 0;
  if (doc.m_items.size() > size / 30) std::abort();  // items come from the data only
  const std::vector<uint8_t> again = doc.BuildPayload();
  CExplorerDoc back;
  if (back.ParsePayload(again.data(), again.size(), kList) != LIST_LOADED) std::abort();
  if (back.BuildPayload() != again) std::abort();
  for (CGuardItem& item : doc.m_items) ItemStatusText(item);
  doc.SortItems(true, SORT_NAME);
  doc.SortItems(false, SORT_TYPE);
  return 0;
}
