// Saving the configuration to the directory subtree: a new subtree written beside the
// root entry, then put in its place by two renames.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/outcome.h"
#include "store/directory/session.h"

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

// Where a directory save is, for tests that break things at a given point.
enum class SaveStage {
  Checked,         // every check passed, nothing written yet
  StagingHalfway,  // half of the new entries sent
  Staged,          // the new subtree is complete beside the stored one
  BetweenRenames,  // the stored root renamed away, the new one not yet in its place
  Swapped,         // the new configuration is the stored one; the old not yet deleted
};

// The stored configuration as it was before a save, renamed away by the save's swap, and
// what is needed to reach its server: left by a save whose options ask for it
// (SaveOptions::leaveOldCopy), for RemoveOldCopy.
struct OldCopy {
  std::string dn;  // empty: no old copy to remove
  // Non-empty: the configuration root whose leftovers of earlier saves (marked subtrees
  // beside it; old copies with a time in their name only when at least leftoverSeconds
  // old) are removed after the old copy (ClearLeftovers).
  std::string leftoversOf;
  long leftoverSeconds = 600;
  ldapx::ServerSettings server;
  ldapx::Timeouts timeouts;
  std::string password;
};

// How a directory save goes about its work. The defaults are what the program uses.
struct SaveOptions {
  // Write the staging subtree in one LDAP transaction when the server offers them.
  // Off by default: slapd 2.5.13 with its default number of threads goes down now and
  // then when it commits any transaction that holds a request (even one add or one
  // rename); never without transactions. A save must not take the directory down, and
  // the staged save is whole without them.
  bool useTransactions = false;
  // The save removes a marked "old" subtree of another save that carries a time in its
  // name only when it is at least this old: a save that runs at the same time may be
  // about to rename it back (ClearLeftovers).
  long oldLeftoverSeconds = 600;
  // A long run of siblings (more than 32) is written one sibling after the other, each
  // add sent once the one before it is answered, when a request to the server comes
  // back within this time; otherwise in waves whose order is checked. Zero: always in
  // waves.
  std::chrono::microseconds chainedRoundTrip{600};
  // A wave asks the server to hand back each add's change sequence number with its
  // answer (the post-read control), and stops sending a run where its order broke.
  // False, or a server that hands nothing back: the numbers are read with a search
  // after each wave.
  bool readBackOrder = true;
  // With the numbers handed back, a sibling taken up out of order is put in its place by
  // a modify that changes nothing but its number (and those sent after it likewise), so
  // the run goes on without waiting. False, or a server that refuses the modify: the
  // siblings after it are deleted and sent again in the next wave.
  bool touchOutOfOrder = true;
  // The time between two adds of a run whose answers carry the numbers. Closer, slapd on
  // two cores took up several at once far more often; further apart, the time of the
  // spacing outweighed what it kept in order.
  std::chrono::microseconds streamSpacing{300};
  // Non-null: the old copy of the stored configuration, and the leftovers of earlier
  // saves beside the root, are not removed before the save returns but described here
  // (dn empty when there is no old copy), so that they can be removed while the program
  // goes on (RemoveOldCopy, OldCopyRemover). Null: removed before the save returns.
  OldCopy* leaveOldCopy = nullptr;
  // Called at each stage (may be empty).
  std::function<void(SaveStage)> onStage;
  // Called (when not empty) once the new subtree is staged, just before the swap (or
  // before a save in place deletes the stored entries). A failed result stops the save:
  // the staged subtree is removed, the stored configuration stays as it was, and the
  // result's problems are the save's.
  std::function<msg::Result()> beforeSwap;
  // Where LDIF backups go (empty: ${XDG_DATA_HOME:-~/.local/share}/orvelle/backups).
  std::string backupFolder;
};

// Saves the whole configuration to the directory subtree at session.subtreeDn through
// session.connection. Succeeds when everything was written, with a warning (62139) when
// the old copy could not be removed; else exactly one message says why (62143 when the
// user cancelled). Shows nothing: the caller shows what the result holds.
//
// A directory save never writes, renames or deletes an entry that is not its own: the
// target must be a configuration root entry, or must not exist (it is then created).
// Every record check and every check of what the server would refuse runs before the
// first write. The new configuration is written as a fresh subtree beside the root entry
// (named "<root name>.orvelle-save-<token>"; its adds in one transaction where the server
// offers them and the options ask for it, otherwise many at a time with the order of
// siblings checked and mended, so that the load gives them back in the configuration's
// order), then takes the root's place by two renames (the stored root to its
// OldCopyValue, "<root name>.orvelle-old-id-<its unique id>", which every server that takes
// writes gives it alike; the new one to the root's name; the first is undone when the
// second fails); only then is the old subtree deleted. A failure before the swap
// leaves the stored configuration as it was. Where the server refuses the entry beside
// the root or the subtree rename, the save writes in place after an LDIF backup of the
// stored subtree, and puts the backup back when that fails. A lost connection is opened
// again with the session's settings and password (session.connection is then the new
// one, or null when that failed). `wait` (may be null) shows progress, may cancel
// the save until the swap, and is closed on every path.
msg::Result SaveConfiguration(Session& session, const Configuration& configuration,
                              PleaseWait* wait = nullptr, const SaveOptions& options = {});

// Removes a save's old copy, then the leftovers of earlier saves beside its root, over a
// connection of its own, opened and bound with the copy's details; safe on any thread.
// Succeeds when the copy is gone (or was never there). Else fails with warning 62139,
// or with nothing to say when the removal was cancelled through the calling thread's
// ldapx::CancelScope; what is left keeps its marked name and a later save removes it.
// Leftovers that could not be removed are not reported.
msg::Result RemoveOldCopy(const OldCopy& copy);

// The default folder of the LDIF backups.
std::string DefaultBackupFolder();

}  // namespace directory
