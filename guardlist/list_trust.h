#pragma once
// Which guard list keys this user may protect with unasked. A list file carries its key,
// so a list someone else made would protect the user's files under the sender's key; a
// key counts as the user's own only when they made the list or typed its password here.
//
// The record lives in the profile folder ("trusted-lists"): a random 32-byte secret and
// one HMAC-SHA-256 of each trusted key under it, never the key itself. A record that is
// not the user's own private file, or is damaged, trusts nothing.
#include <cstdint>
#include <string>

#include "common/sys_error.h"
#include "guard/guard_ui.h"

// The profile folder: $VELLUMGUARD_HOME/vellumguard/ when that is set, otherwise
// $XDG_CONFIG_HOME/vellumguard/ (by default ~/.config/vellumguard/). Ends in "/".
std::string ProfileFolder();
// ProfileFolder() + "trusted-lists".
std::string ListTrustPath();

// Whether digest is in the record. The all-zero digest ("no key") is never trusted.
bool IsListKeyTrusted(const uint8_t digest[32]);
// Adds digest to the record (created at mode 0600 when missing, written crash-safely).
// The oldest entries give way beyond a few thousand.
SysError TrustListKey(const uint8_t digest[32]);

enum ListKeyCheck : int {
  LIST_KEY_TRUSTED = 1,    // made or typed here before: nothing was asked
  LIST_KEY_CONFIRMED = 2,  // the password typed now matches; the key is trusted from now on
  LIST_KEY_WRONG = 3,      // three passwords that did not match
  LIST_KEY_NOT_GIVEN = 4,  // the prompt was cancelled, or nobody could be asked
};

// Before a list protects anything: a trusted key passes; otherwise the list's password
// is asked (ui.AskListPassword with listPath) up to three times and must give the list's
// key. When recording a confirmed key failed, *recordError says why (the run may go on).
int ConfirmListKey(const uint8_t digest[32], const std::string& listPath, IGuardUi& ui,
                   SysError* recordError = nullptr);
