#pragma once
// Editing a protected file without restoring it beside itself. The plaintext lives in a
// private folder of its own under the edit place (guard/edit_place.h); the folder, not
// the file, is watched, because editors save by writing in place, by writing a
// temporary file and renaming it over the document, or by renaming the old one aside
// first. Every save that has settled and differs from the last protected content goes
// back into the protected file with the crash-safe sequence: an exclusive temporary file
// beside it, fsync, rename over it, fsync of its folder. A kill at any moment leaves the
// old or the new protected file.
//
// A protected file that changed on disk since the session last wrote it (a sync client,
// another edit) is never overwritten: the save goes to "NAME (edited DATE).~de" beside
// it, and later saves follow it there. The replacing rename swaps the two files in one
// step and looks at what came out, so a change landing during a save is swapped back.
//
// The session keeps the file's key in memory until it ends, and a journal beside its
// folder (guard/edit_journal.h) so that a session left by a crash can be finished.
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "guard/edit_journal.h"

enum class EditSaveStatus {
  Unchanged,  // the document equals what was protected last
  Saved,      // protected into the protected file
  Conflict,   // protected into a conflict copy, because the protected file had changed
  NotReady,   // the document is missing or changed while it was read: wait for more
  Failed,     // message says why; the protected file is as it was
};

struct EditSaveResult {
  EditSaveStatus status = EditSaveStatus::Unchanged;
  std::string path;     // Saved, Conflict: the protected file written
  std::string message;  // Conflict, Failed: for the user, naming the file and the reason
};

// Where a save can be stopped in tests: after the temporary file is complete, just
// before it is renamed over the protected file, and right after (before the journal
// learns of it). A hook returning false at the first two fails the save there as a
// fault would.
// Exchanged: the save's file and the protected file were swapped, and what came out is
// someone else's change, about to be swapped back.
enum class EditStep { Encoded, BeforeRename, Exchanged, Renamed };

class CEditSession {
 public:
  CEditSession() = default;
  ~CEditSession();  // closes the watch and the lock, zeroes the key; the folder stays
  CEditSession(const CEditSession&) = delete;
  CEditSession& operator=(const CEditSession&) = delete;

  // Decodes protectedPath with key into a new private folder under root (made ready with
  // PrepareEditRoot) and starts watching it. CODEC_OK; CODEC_BAD_KEY when the key does
  // not open the file (nothing was created); another codec result with error in words.
  int Open(const std::string& root, const std::string& protectedPath, const uint8_t key[32],
           int level, std::string& error);
  // Takes over the session of journalPath when no running process holds it (after a
  // crash). The key is unknown until SetKey. False with error in words.
  bool Adopt(const std::string& journalPath, std::string& error);
  // True when key opens the file saves go to (or nothing is there to check it against).
  bool KeyOpensTarget(const uint8_t key[32]) const;
  void SetKey(const uint8_t key[32]);

  const std::string& Folder() const { return m_folder; }
  std::string DocumentPath() const;
  const std::string& OriginalPath() const { return m_journal.original; }
  const std::string& TargetPath() const { return m_journal.target; }
  // The files of the folder that are documents but not the one opened ("Save As").
  std::vector<std::string> OtherDocuments() const;
  // The document differs from what was protected last, or other documents appeared.
  bool HasUnsavedChanges() const;
  // What Adopt did to a save that a crash cut off, in words (empty when nothing).
  const std::vector<std::string>& RecoveryMessages() const { return m_recoveryMessages; }
  // Some process holds a file of the folder open, or an editor's lock file is there.
  bool InUse() const;

  // The inotify descriptor to wait on (readable when the folder changed).
  int WatchDescriptor() const { return m_watch; }
  // Drains the watch; true when anything happened in the folder.
  bool ReadEvents();
  // Milliseconds until the last change has settled; -1 when nothing waits.
  int MillisecondsToSettle() const;
  // SaveNow once the folder has been quiet for m_settleMs; Unchanged before that.
  EditSaveResult SaveIfSettled();
  EditSaveResult SaveNow();

  // Saves a last time, protects every other document beside the original as its own
  // protected file, overwrites and removes every file of the folder, then the folder and
  // the journal. False (messages say why) leaves what could not be protected in place.
  bool Finish(std::vector<std::string>& messages);
  // Overwrites and removes everything without saving (the user discarded the changes).
  bool Discard(std::string& error);

  int m_settleMs = 500;
  std::function<bool(EditStep)> m_stepHook;

 private:
  using Clock = std::chrono::steady_clock;
  bool Lock(std::string& error);
  bool StartWatch(std::string& error);
  bool ResolvePending();
  // After a crash between swapping a save in and swapping someone else's change back:
  // puts their file back in place and the save into a conflict copy beside it (the
  // journal then names the copy). False when there was nothing to put back.
  bool RescueInterruptedExchange();
  std::vector<std::string> m_recoveryMessages;
  EditSaveResult Protect(const std::string& source, const uint8_t hash[kEditHashSize],
                         const FileIdentity& before, bool followTarget);
  std::string WriteTemporary(const std::string& source, const std::string& target,
                             const FileIdentity& before, std::string& error);
  bool RemoveAll(std::string& error);
  void Close();

  std::string m_folder;  // with a trailing "/"
  EditJournal m_journal;
  uint8_t m_key[32] = {};
  bool m_haveKey = false;
  mode_t m_mode = 0600;  // permission bits of the protected file
  int m_lock = -1;
  int m_watch = -1;
  bool m_changed = false;
  Clock::time_point m_changedAt{};
  std::set<std::string> m_othersDone;  // other documents already protected at Finish
};

// The zip level of saves into protectedPath: the folder's last protect settings, else
// the default settings, else the built-in level; 0 for names of the no-zip mask.
int EditLevelFor(const std::string& protectedPath);
// Overwrites and removes a session folder that has no journal, unless a running session
// holds it: 1 removed, 0 held, -1 failed (error says why).
int RemoveUnrecordedSessionFolder(const std::string& folder, std::string& error);
