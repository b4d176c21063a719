#include "guard/edit_recovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/paths.h"
#include "common/safe_file.h"
#include "guard/edit_place.h"
#include "guard/wipe.h"

namespace {

bool EndsWithSession(const std::string& name) {
  constexpr std::string_view suffix = ".session";
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A session whose journal was never written (the program ended while it decoded): its
// folder holds at most the decoded document, which no editor had yet.
void WipeUnrecorded(const std::string& folder, OrphanScan& scan) {
  std::string error;
  const int removed = RemoveUnrecordedSessionFolder(folder, error);
  if (removed > 0) ++scan.wiped;
  if (removed < 0) scan.messages.push_back("Cannot remove \"" + folder + "\": " + error);
}

void LookAtJournal(const std::string& journal, OrphanScan& scan) {
  auto session = std::make_unique<CEditSession>();
  std::string error;
  if (!session->Adopt(journal, error)) {
    struct stat st {};
    // A record without its folder is all that is left of a finished session.
    if (::lstat(SessionFolderOf(journal).c_str(), &st) != 0 && errno == ENOENT) {
      if (::unlink(journal.c_str()) != 0 && errno != ENOENT) {
        scan.messages.push_back(ErrnoError(journal, "unlink").Describe("Cannot remove"));
      }
    }
    return;
  }
  // Adopt put back someone else's change that a cut-off save had swapped out; what is
  // left of that save beside the protected file goes.
  for (const std::string& m : session->RecoveryMessages()) scan.messages.push_back(m);
  RemoveStaleTempFiles(ParentFolder(session->TargetPath()), WipeStaleTempFile);
  if (session->HasUnsavedChanges()) {
    scan.unsaved.push_back(std::move(session));
    return;
  }
  std::vector<std::string> messages;
  if (session->Finish(messages)) {
    ++scan.wiped;
  } else {
    for (std::string& m : messages) scan.messages.push_back(std::move(m));
  }
}

}  // namespace

OrphanScan FindOrphanSessions(const std::string& root) {
  OrphanScan scan;
  const std::string folder = EditSessionsFolder(root);
  const std::vector<std::string> names = FolderNames(folder);
  for (const std::string& name : names) {
    if (EndsWithSession(name)) LookAtJournal(folder + name, scan);
  }
  for (const std::string& name : names) {
    struct stat st {};
    if (IsTempName(name) || EndsWithSession(name) || ::lstat((folder + name).c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
      continue;
    }
    if (::lstat(JournalPathOf(folder + name).c_str(), &st) != 0 && errno == ENOENT) {
      WipeUnrecorded(folder + name + "/", scan);
    }
  }
  return scan;
}
