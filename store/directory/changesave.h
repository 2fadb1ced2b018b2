// Saving to the directory only what changed since the configuration was loaded (or last
// saved), after checking that nobody else wrote what this save would write or remove.
#pragma once

#include "model/configuration.h"
#include "platform/support/outcome.h"
#include "store/directory/directorysave.h"
#include "store/directory/loadedstate.h"
#include "store/directory/session.h"

namespace directory {

// Writes the differences between session.loaded and `configuration` below
// session.subtreeDn: adds, modifies, renames and deletes, each of one entry, in an order
// in which every state in between loads without warnings (what a record refers to is
// written before the reference, references go before what they name is removed) and
// siblings load back in the configuration's order (siblings after a changed one are
// touched in order). A rule set that is added, and a form that is added, removed, or
// gains or loses groups or fields, is written complete below a marked entry beside the
// root and moved in with one rename (a stored form moved out first, beside the root under
// a name made of its unique id, OldCopyValue, or into a marked entry on a server that
// keeps none, and removed at the end), so that every rule set and form is stored whole,
// old or new.
//
// First the stored versions are read again, with the kind of version the load found:
// those of the entries this save writes, removes or names, the subtrees of those it
// removes, and the DNs where it adds a rule set, rule or form (the whole subtree where
// that would take more than a few reads). Only the records it writes or removes are
// checked as the whole save checks them. When an entry this save would write or
// remove changed since the load, or an entry appeared where it would add one or below
// one it would remove, nothing is written and the result fails with
// msg::id::kChangedSinceLoad (the subtree and one line per record). Where the server
// offers the assertion control each modify, rename and delete asserts the version that
// was loaded, so a write in between fails the same way (what was written before is taken
// back).
//
// Sets `whole` (and writes nothing) when the whole save must run instead: no load state,
// a change that moves records between parents or renames rules or rule sets, entries the
// load left out, or more changes than half the configuration. The versions are checked
// first then as well, against every entry: a whole save writes them all (and the caller
// checks them again before its swap: CheckUnchangedSinceLoad).
//
// On success session.loaded is what the save left. A failed write stops the save and
// what it wrote is taken back (a refused removal, which comes last, leaves the rest
// written; the message says so). A lost connection is opened again once before the
// check, with the session's settings and password.
msg::Result SaveChanges(Session& session, const Configuration& configuration, PleaseWait* wait,
                        const SaveOptions& options, bool& whole);

// Whether the stored configuration is still as session.loaded says (one read of the
// subtree's versions): fails with msg::id::kChangedSinceLoad naming what changed, as a
// save of changes that must write everything does. Succeeds when nothing was loaded
// from session.subtreeDn (there is nothing to hold it to).
msg::Result CheckUnchangedSinceLoad(Session& session, const Configuration& configuration);

// The state of `configuration` as the directory holds it after a whole save below
// session.subtreeDn (one read of the subtree's versions); unknown when that read failed.
void RefreshLoadedState(Session& session, const Configuration& configuration);

}  // namespace directory
