#pragma once
// Edit sessions left by a crash: at the next start (the window, a verb, or
// "vellumguard-cli recover") sessions whose program has ended are looked at. One whose
// document equals its last protected content is wiped at once; one with unsaved changes
// is handed to the caller, who asks the user to protect it now or discard it. Nothing
// that differs is deleted without the user's word.
#include <memory>
#include <string>
#include <vector>

#include "guard/edit_session.h"

struct OrphanScan {
  // Sessions with unsaved changes, taken over (locked) for the caller: SetKey and
  // Finish to protect them, Discard to drop them; left alone they stay for next time.
  std::vector<std::unique_ptr<CEditSession>> unsaved;
  int wiped = 0;                      // sessions removed because nothing was unsaved
  std::vector<std::string> messages;  // failures, naming the file and the reason
};

// Looks at every session under root (see guard/edit_place.h); running ones are left.
OrphanScan FindOrphanSessions(const std::string& root);
