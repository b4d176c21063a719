// info: what a file is and which remembered key opens it, without asking anything; with
// a password also what it holds.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/key_support.h"
#include "cli/terminal.h"
#include "common/paths.h"
#include "engine/key_ops.h"
#include "guard/encryption_settings.h"
#include "guard/key_runs.h"
#include "guardlist/explorer_doc.h"

namespace {

// A remembered key, with the words info uses for it.
struct KnownKey {
  std::string name;       // for people
  std::string shortName;  // for scripts
  uint8_t key[32] = {};
  KnownKey() = default;
  KnownKey(const KnownKey&) = default;
  KnownKey& operator=(const KnownKey&) = default;
  ~KnownKey() { SecureZero(key, sizeof key); }
};

bool HasKey(const uint8_t key[32]) {
  for (int i = 0; i < 32; ++i)
    if (key[i] != 0) return true;
  return false;
}

// The key of a settings file, when it loads as ours and holds one.
std::optional<KnownKey> SettingsKey(const std::string& path, std::string name,
                                    std::string shortName) {
  CEncryptionSettings settings;
  if (!PathExists(path) || !settings.Load(path)) return std::nullopt;
  KnownKey k;
  settings.GetDigest(k.key);
  if (!HasKey(k.key)) return std::nullopt;
  k.name = std::move(name);
  k.shortName = std::move(shortName);
  return k;
}

// Why path is not a protected file, or empty when it looks like one.
std::string NotProtectedReason(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (!IsProtectedPath(path)) return "its name does not end in .~de";
  if (static_cast<uint64_t>(st.st_size) < kSmallestProtectedFile) {
    return "shorter than the " + std::to_string(kSmallestProtectedFile) +
           " bytes of the smallest protected file";
  }
  return {};
}

struct InfoLine {
  std::string path;
  uint64_t size = 0;
  std::string notProtected;  // empty: a protected file
  std::vector<const KnownKey*> opensWith;
  std::optional<PayloadCheck> withPassword;
};

void PrintHuman(const InfoLine& line) {
  std::printf("%s\n  size: %llu bytes\n", line.path.c_str(),
              static_cast<unsigned long long>(line.size));
  if (!line.notProtected.empty()) {
    std::printf("  not a protected file: %s\n", line.notProtected.c_str());
    return;
  }
  std::printf("  a protected file\n");
  std::string opens;
  for (const KnownKey* k : line.opensWith) opens += (opens.empty() ? "" : ", ") + k->name;
  std::printf("  opens with: %s\n",
              opens.empty() ? "none of the remembered passwords" : opens.c_str());
  if (!line.withPassword) return;
  const PayloadCheck& c = *line.withPassword;
  if (c.result != CODEC_OK) {
    std::printf("  with the password given: %s\n", VerifyVerdictText(c).c_str());
    return;
  }
  std::printf("  original size: %llu bytes, %s\n", static_cast<unsigned long long>(c.plainSize),
              c.stored ? "stored" : "compressed");
}

// path, size, "protected" or "not-protected", the reason, the keys that open it
// (comma-separated, "none"), then with a password: the verdict, original size, storage.
void PrintPorcelain(const InfoLine& line) {
  std::string opens;
  for (const KnownKey* k : line.opensWith) {
    if (!opens.empty()) opens += ',';
    opens += k->shortName;
  }
  std::string tail = "\t-\t-\t-";
  if (line.withPassword) {
    const PayloadCheck& c = *line.withPassword;
    tail = '\t';
    tail += VerifyVerdictText(c);
    if (c.result == CODEC_OK) {
      tail += '\t';
      tail += std::to_string(c.plainSize);
      tail += c.stored ? "\tstored" : "\tcompressed";
    } else {
      tail += "\t-\t-";
    }
  }
  std::printf("%s\t%llu\t%s\t%s\t%s%s\n", line.path.c_str(),
              static_cast<unsigned long long>(line.size),
              line.notProtected.empty() ? "protected" : "not-protected", line.notProtected.c_str(),
              line.notProtected.empty() ? (opens.empty() ? "none" : opens.c_str()) : "-",
              line.notProtected.empty() ? tail.c_str() : "\t-\t-\t-");
}

}  // namespace

int RunInfo(const CliOptions& o) {
  std::optional<KnownKey> listKey;
  if (o.listFile) {
    CExplorerDoc doc;
    if (!LoadGuardList(Absolute(*o.listFile), doc)) return GUARD_EXIT_USAGE;
    if (doc.HasPassword()) {
      listKey.emplace();
      std::memcpy(listKey->key, doc.m_digest, 32);
      listKey->name = "the list " + *o.listFile;
      listKey->shortName = "list";
    }
  }
  std::optional<KnownKey> defaultKey =
      SettingsKey(ProgramFolder() + std::string(kDefaultSettingsName),
                  "the default password (VellumDef.dat)", "VellumDef.dat");
  SecretKey given;
  const bool withPassword = o.passwordFile || o.passwordFd;
  if (withPassword) {
    if (const int failed = ObtainKey(o.passwordFile, o.passwordFd, "", given); failed != 0) {
      return failed;
    }
  }
  bool missing = false;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    InfoLine line;
    line.path = p;
    struct stat st {};
    if (::lstat(abs.c_str(), &st) != 0) {
      PrintError("cannot look at \"" + p + "\": " + std::strerror(errno));
      missing = true;
      continue;
    }
    line.size = static_cast<uint64_t>(st.st_size);
    line.notProtected = S_ISLNK(st.st_mode) ? "a symbolic link" : NotProtectedReason(abs, st);
    std::optional<KnownKey> folderKey =
        SettingsKey(ParentFolder(abs) + std::string(kFolderSettingsName),
                    "this folder's last password (zde.tmp)", "zde.tmp");
    if (line.notProtected.empty()) {
      for (const std::optional<KnownKey>* k : {&folderKey, &defaultKey, &listKey}) {
        if (*k && KeyOpensProtectedFile(abs, (*k)->key)) line.opensWith.push_back(&**k);
      }
      if (withPassword) line.withPassword = VerifyProtectedFile(abs, given.data(), false);
    }
    if (o.porcelain) {
      PrintPorcelain(line);
    } else {
      PrintHuman(line);
    }
  }
  std::fflush(stdout);
  return missing ? GUARD_EXIT_INCOMPLETE : GUARD_EXIT_DONE;
}
