#include "guardlist/explorer_doc.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/bytes.h"
#include "common/paths.h"
#include "common/text.h"
#include "engine/digest.h"
#include "guard/encrypted_file.h"
#include "guard/encryption_settings.h"
#include "guard/protect_settings.h"
#include "guard/volume_relocation.h"
#include "guardlist/exchange_order.h"
#include "guardlist/list_trust.h"

namespace {

constexpr uint8_t kListMagic[4] = {0x56, 0x47, 0x44, 0x0A};  // "VGD\n"
// The smallest stored item: an empty path and two empty masks (6 bytes each as counted
// strings) and three 4-byte numbers.
constexpr size_t kMinItemBytes = 3 * 6 + 3 * 4;

// Looks for the item's path on the volume of the list file, then of the program, when it
// is gone where it was stored.
class ItemRelocator {
 public:
  explicit ItemRelocator(const std::string& listPath) : m_listPath(listPath) {}

  std::string Relocate(const CGuardItem& item) {
    const std::string& path = item.m_path;
    if (item.IsFolder()) {
      if (IsFolder(path)) return path;
    } else if (FileExists(path) || FileExists(ProtectedPathOf(path))) {
      return path;
    }
    for (const std::string& mount : Mounts()) {
      const std::string candidate = RelocateUnderMount(path, mount);
      if (candidate.empty()) continue;
      if (item.IsFolder() ? IsFolder(candidate)
                          : FileExists(candidate) || FileExists(ProtectedPathOf(candidate))) {
        return candidate;
      }
    }
    return path;
  }

 private:
  const std::vector<std::string>& Mounts() {
    if (!m_mounts) {
      m_mounts.emplace();
      for (const std::string& anchor : {m_listPath, ProgramFolder()}) {
        if (anchor.empty()) continue;
        const std::string mount = MountPointOf(anchor);
        if (!mount.empty() && mount != "/" &&
            std::find(m_mounts->begin(), m_mounts->end(), mount) == m_mounts->end()) {
          m_mounts->push_back(mount);
        }
      }
    }
    return *m_mounts;
  }

  std::string m_listPath;
  std::optional<std::vector<std::string>> m_mounts;
};

// An absolute path none of whose components is "." or "..".
bool IsPlainAbsolutePath(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

struct SortKeyed {
  std::string text;
  int32_t number = 0;
  size_t index = 0;
};

int Compare(const SortKeyed& a, const SortKeyed& b, int key) {
  switch (key) {
    case SORT_NAME:
    case SORT_PATH:
      return a.text.compare(b.text);
    case SORT_TYPE:
      if (a.number != b.number) return a.number > b.number ? 1 : -1;  // folder before file
      return a.text.compare(b.text);
    case SORT_STATE:
      return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    default:
      return 0;
  }
}

// Orders items [first, last) by key as the list's exchange pass does (equal keys end in
// the order that pass leaves them). The keys are computed once per item, so a pass costs
// O(n log n) comparisons of prepared strings.
void SortRange(std::vector<CGuardItem>& items, size_t first, size_t last, int key, bool ascending) {
  if (last - first < 2) return;
  std::vector<SortKeyed> keyed(last - first);
  for (size_t i = first; i < last; ++i) {
    SortKeyed& k = keyed[i - first];
    const CGuardItem& item = items[i];
    k.index = i;
    switch (key) {
      case SORT_NAME:
        k.text = AsciiLower(LastPathComponent(item.m_path));
        break;
      case SORT_PATH:
        k.text = AsciiLower(item.m_path);
        break;
      case SORT_TYPE:
        k.text = AsciiLower(PathExtension(item.m_path));
        k.number = item.IsFolder() ? 1 : 0;
        break;
      case SORT_STATE:
        k.number = item.m_state;
        break;
      default:
        break;
    }
  }
  // Each item's key as a number: its place among the distinct keys, in the pass's order.
  std::vector<size_t> byKey(keyed.size());
  for (size_t i = 0; i < byKey.size(); ++i) byKey[i] = i;
  std::sort(byKey.begin(), byKey.end(), [&](size_t a, size_t b) {
    const int c = Compare(keyed[a], keyed[b], key);
    return ascending ? c < 0 : c > 0;
  });
  std::vector<int> ranks(keyed.size());
  int rank = 0;
  for (size_t i = 0; i < byKey.size(); ++i) {
    if (i > 0 && Compare(keyed[byKey[i - 1]], keyed[byKey[i]], key) != 0) ++rank;
    ranks[byKey[i]] = rank;
  }
  std::vector<CGuardItem> sorted;
  sorted.reserve(keyed.size());
  for (size_t i : ExchangePassOrder(ranks)) sorted.push_back(std::move(items[keyed[i].index]));
  std::move(sorted.begin(), sorted.end(), items.begin() + static_cast<ptrdiff_t>(first));
}

}  // namespace

int32_t EvaluateItemStatus(CGuardItem& item) {
  if (item.IsFolder()) {
    if (item.m_state < STATUS_FOLDER) item.m_state = STATUS_FOLDER;
  } else if (FileExists(item.m_path)) {
    item.m_state = STATUS_NOT_ENCRYPTED;
  } else if (FileExists(ProtectedPathOf(item.m_path))) {
    item.m_state = STATUS_ENCRYPTING;
  } else {
    item.m_state = STATUS_NOT_FOUND;
  }
  return item.m_state;
}

std::string ItemStatusText(const CGuardItem& item) {
  const std::string subfolders = item.m_subfolders ? "Encrypt subfolers" : "Not encrypt subfolders";
  switch (item.m_state) {
    case STATUS_NOT_ENCRYPTED:
      return "Not encrypted";
    case STATUS_ENCRYPTING:
      return "Encrypting";
    case STATUS_NOT_FOUND:
    case STATUS_FOLDER_NOT_FOUND:
      return "Not found";
    case STATUS_FOLDER:
      return subfolders + ", " + "Not encrypted";
    case STATUS_FOLDER_ENCRYPTING:
      return subfolders + ", " + "Encrypting";
    default:
      return std::string();
  }
}

std::string ItemTypeText(const CGuardItem& item) {
  if (item.IsFolder()) return "_Dir";
  const std::string extension = PathExtension(item.m_path);
  std::string text;
  text.reserve(extension.size() + 1);
  text += '.';
  text += extension;
  return text;
}

CExplorerDoc::CExplorerDoc() {
  ResetSettings();
}

CExplorerDoc::~CExplorerDoc() {
  SecureZero(m_digest, sizeof m_digest);
}

void CExplorerDoc::ResetSettings() {
  SecureZero(m_digest, sizeof m_digest);
  const CEncryptionSettings builtIn = BuiltInSettings();
  m_zipLevel = builtIn.m_zipLevel;
  m_includeMask = builtIn.m_includeMask;
  m_excludeMask = builtIn.m_excludeMask;
  m_noZipMask = builtIn.m_noZipMask;
}

void CExplorerDoc::SetModifiedFlag(bool modified) {
  m_modified = modified;
  if (m_modifiedHook) m_modifiedHook(modified);
}

bool CExplorerDoc::HasPassword() const {
  for (uint8_t b : m_digest) {
    if (b != 0) return true;
  }
  return false;
}

bool CExplorerDoc::NewDocument(IGuardUi* ui) {
  m_items.clear();
  ResetSettings();
  CEncryptionSettings defaults;
  if (defaults.Load(ProgramFolder() + std::string(kDefaultSettingsName))) {
    m_zipLevel = UsableZipLevel(defaults.m_zipLevel);
    m_includeMask = defaults.m_includeMask;
    m_excludeMask = defaults.m_excludeMask;
    m_noZipMask = defaults.m_noZipMask;
  }
  SetModifiedFlag(false);
  if (m_firstNew) {
    m_firstNew = false;
  } else if (ui) {
    EditListSettings(*ui);
  }
  return true;
}

std::vector<uint8_t> CExplorerDoc::BuildPayload() const {
  ByteWriter writer;
  writer.Bytes(kListMagic, sizeof kListMagic);
  writer.Bytes(m_digest, sizeof m_digest);
  writer.I32(m_zipLevel);
  writer.CountedString(m_includeMask);
  writer.CountedString(m_excludeMask);
  writer.CountedString(m_noZipMask);
  writer.U32(static_cast<uint32_t>(m_items.size()));
  for (const CGuardItem& item : m_items) {
    writer.CountedString(item.m_path);
    writer.I32(item.m_folder);
    writer.I32(item.m_subfolders);
    writer.I32(item.m_state);
    writer.CountedString(item.m_includeMask);
    writer.CountedString(item.m_excludeMask);
  }
  return std::move(writer.Data());
}

int CExplorerDoc::ParsePayload(const uint8_t* data, size_t size, const std::string& listPath) {
  ByteReader reader(data, size);
  uint8_t magic[4];
  if (!reader.Bytes(magic, 4) || std::memcmp(magic, kListMagic, 4) != 0) return LIST_NOT_A_LIST;

  // A fault stops reading; what was read before it is taken, the rest stays as it was.
  SecretKey digest;
  std::memcpy(digest.data(), m_digest, digest.size());
  int32_t level = m_zipLevel;
  std::string include = m_includeMask, exclude = m_excludeMask, noZip = m_noZipMask;
  std::vector<CGuardItem> items;
  bool complete = false;
  do {
    if (!reader.Bytes(digest.data(), digest.size())) break;
    uint32_t storedLevel = 0;
    if (!reader.U32(storedLevel) || storedLevel > 9) {
      level = kDefaultZipLevel;
      break;
    }
    level = static_cast<int32_t>(storedLevel);
    if (!reader.CountedString(include) || !reader.CountedString(exclude) ||
        !reader.CountedString(noZip)) {
      break;
    }
    int32_t count = 0;
    if (!reader.I32(count) || count < 0) break;
    // A count the data cannot hold marks a hostile or cut file; the items that are
    // there are still taken one by one, never allocated by the count.
    const bool countFits = static_cast<uint64_t>(count) <= reader.Remaining() / kMinItemBytes;
    ItemRelocator relocator(listPath);
    int32_t read = 0;
    bool refused = false;
    for (; read < count; ++read) {
      CGuardItem item;
      reader.CountedString(item.m_path);
      reader.I32(item.m_folder);
      reader.I32(item.m_subfolders);
      reader.I32(item.m_state);
      reader.CountedString(item.m_includeMask);
      reader.CountedString(item.m_excludeMask);
      if (!reader.Ok()) break;
      // A relative path would name whatever lies under the working folder of the day,
      // and "." or ".." would reach past the folder the list shows: such an item is
      // dropped and the list counts as damaged.
      if (!IsPlainAbsolutePath(item.m_path)) {
        refused = true;
        continue;
      }
      item.m_path = relocator.Relocate(item);
      items.push_back(std::move(item));
    }
    complete = countFits && read == count && !refused;
  } while (false);

  m_items = std::move(items);
  std::memcpy(m_digest, digest.data(), digest.size());
  m_zipLevel = level;
  m_includeMask = std::move(include);
  m_excludeMask = std::move(exclude);
  m_noZipMask = std::move(noZip);
  SetModifiedFlag(false);
  return complete ? LIST_LOADED : LIST_DAMAGED;
}

std::string ListLoadMessage(int result, const std::string& path, const SysError& error) {
  switch (result) {
    case LIST_NOT_A_LIST:
      return FormatText("\"%s\" is not a Vellumguard list file.", {path});
    case LIST_IO_ERROR:
      return SysError{error.err, path, error.what}.Describe("Cannot open the list file");
    case LIST_DAMAGED:
      return FormatText(
          "The list file \"%s\" is damaged: only what stood before the damage was read.", {path});
    default:
      return {};
  }
}

int CExplorerDoc::Load(const std::string& path, SysError* error) {
  std::vector<uint8_t> payload;
  SysError err;
  const int read = ReadEncryptedFile(path, kFixedPassword, kMaxListPayload, payload, &err);
  if (read == ENCFILE_NOT_ACCEPTED) return LIST_NOT_A_LIST;
  if (read != ENCFILE_OK) {
    if (error) *error = std::move(err);
    return LIST_IO_ERROR;
  }
  const int result = ParsePayload(payload.data(), payload.size(), path);
  SecureZero(payload.data(), payload.size());
  return result;
}

SysError CExplorerDoc::Store(const std::string& path) const {
  std::vector<uint8_t> payload = BuildPayload();
  SysError err = WriteEncryptedFile(path, kFixedPassword, payload, 0600);
  SecureZero(payload.data(), payload.size());
  return err;
}

int CExplorerDoc::AddItem(const CGuardItem& item) {
  CGuardItem added = item;
  if (IsProtectedPath(added.m_path)) {
    // Listed under its plain name: a status the caller took from the protected name is
    // not that name's.
    added.m_path = PlainPathOf(added.m_path);
    if (!added.IsFolder()) EvaluateItemStatus(added);
  }
  const std::string& path = added.m_path;
  if (MatchMask(path, kSettingsPattern) || MatchMask(path, ".dlt") ||
      !MatchMaskList(path, m_includeMask) || MatchMaskList(path, m_excludeMask) ||
      FindItem(path) >= 0) {
    return -1;
  }
  SetModifiedFlag();
  m_items.push_back(std::move(added));
  return static_cast<int>(m_items.size()) - 1;
}

int CExplorerDoc::FindItem(std::string_view path) const {
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i].m_path == path) return static_cast<int>(i);
  }
  return -1;
}

void CExplorerDoc::SortItems(bool ascending, int key) {
  if (m_items.size() < 2) return;
  const size_t folders = static_cast<size_t>(std::count_if(
      m_items.begin(), m_items.end(), [](const CGuardItem& i) { return i.IsFolder(); }));
  SortRange(m_items, 0, m_items.size(), SORT_TYPE, false);
  SortRange(m_items, 0, folders, SORT_NAME, ascending);
  SortRange(m_items, folders, m_items.size(), key, ascending);
  SetModifiedFlag();
}

bool CExplorerDoc::EditListSettings(IGuardUi& ui) {
  SettingsDialogData data;
  data.title = "Encryption setting";
  data.flags = SETTINGS_NO_DEFAULT | SETTINGS_NO_LAST | SETTINGS_NO_SUBFOLDERS;
  data.zipLevel = m_zipLevel;
  data.includeMask = m_includeMask;
  data.excludeMask = m_excludeMask;
  data.noZipMask = m_noZipMask;
  const bool ok = ui.EditSettings(data);
  if (ok) {
    m_zipLevel = UsableZipLevel(data.zipLevel);
    m_includeMask = data.includeMask;
    m_excludeMask = data.excludeMask;
    m_noZipMask = data.noZipMask;
    if (!data.password.empty()) {
      GuardKeyDigest(m_digest, data.password);
      // A password typed here makes the list this user's own: no later question.
      if (const SysError e = TrustListKey(m_digest); !e.ok()) {
        ui.ShowMessage(e.Describe("Cannot record the list's password as yours in"),
                       MsgIcon::Warning, MsgButtons::Ok);
      }
    }
    SetModifiedFlag();
  }
  SecureZero(data.password.data(), data.password.size());
  SecureZero(data.confirm.data(), data.confirm.size());
  return ok;
}
