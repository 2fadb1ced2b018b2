// Saving the configuration: to the directory subtree (delete the stored entries below
// the root entry, then write every rule set and form) or to the local files.
#pragma once

#include <string>

#include "configuration.h"
#include "ldapclient.h"

namespace directory {

// The "Please Wait..." window as the save sees it (a widget in the program, a recorder
// in tests, nothing in the command-line tool).
class PleaseWait {
 public:
  virtual ~PleaseWait() = default;
  // Shows the window with a heading and a message, painted at once.
  virtual void Show(const std::string& heading, const std::string& message) = 0;
  // Replaces the message, painted at once.
  virtual void SetMessage(const std::string& message) = 0;
  // How far the work is: `done` of `total` steps (entries written of all). May be
  // called from a worker thread.
  virtual void SetProgress(long done, long total) {
    (void)done;
    (void)total;
  }
  // True once the user asked to cancel. Work that can still be undone stops and
  // undoes itself; after the point of no return it is ignored. May be called from a
  // worker thread.
  virtual bool CancelRequested() const { return false; }
  virtual void Close() = 0;
};

// Saves the whole configuration where it lives: startupMode 1 writes the directory
// subtree through configuration.connection, anything else the local files
// (SaveToFiles). Every record check runs before anything is deleted, so a configuration
// that may not be stored leaves the stored one untouched. True when everything was
// written; false after exactly one message. `wait` (may be null) is shown during a
// directory save and closed on every path.
bool SaveConfiguration(Configuration& configuration, PleaseWait* wait = nullptr);

// Deletes every entry below `dn`, children before parents, depth first, in the server's
// order; with `deleteSelf` also `dn` itself. Stops at the first refusal (message 61264
// with the DN and error text; 61263 when the entries could not be listed). True on
// success.
bool DeleteSubtree(ldapx::Connection& connection, const std::string& dn, bool deleteSelf);

}  // namespace directory
