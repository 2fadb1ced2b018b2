// Loading the configuration from the directory: the logon loop and the rebuilding of
// rule sets and forms from the configuration subtree, with a warning for every entry
// that cannot become a valid record.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/outcome.h"
#include "store/directory/session.h"

namespace kvaro {
class Oidtable;
}

namespace directory {

class PleaseWait;

// Asks the user for the bind DN and password (the logon dialog, or a test's answers), and
// tells what the load has to say.
class CredentialsPrompt {
 public:
  virtual ~CredentialsPrompt() = default;
  // Fills dn and password and returns true on OK; false when the user cancels. On a
  // repeated call the values typed the time before are offered again.
  virtual bool Ask(std::string& dn, std::string& password) = 0;
  // Tells the user `problems`, in order: why a logon or the read after it failed (before
  // Ask is called again), or what a load left out. Called on the loading thread.
  virtual void Tell(const msg::Problems& problems) = 0;
};

enum class LoadResult {
  Loaded,     // logged on and loaded (possibly with warnings)
  NoServer,   // no server address configured: the caller starts the set-up wizard
  Cancelled,  // the user cancelled the logon: the caller ends the program with status 0
};

// Logs on (asking again after telling message 61276 with the reason until the bind succeeds or
// the user cancels the logon dialog) and loads the subtree at session.subtreeDn into the
// configuration. Every message goes to prompt.Tell (the load's warnings once it
// loaded); none is shown here. The bind DN and password typed last are kept in
// session.server.bindDn and session.password, the bound connection in session.connection. When the
// entry at subtreeDn exists but is not a configuration root, nothing is loaded: message 62131, then
// NoServer, so that the caller starts the set-up wizard instead of showing it as an empty
// configuration. `wait` (may be null) is shown while the server is asked and closed before the
// logon dialog or a message about the logon shows. A wait that ran out (message 62190) or was
// cancelled (no message), also during the load, leads back to the logon dialog; so does
// a read of the subtree the server refuses for another reason than its absence (message
// 62121 with the reason), so that no empty configuration stands in for the stored one.
// `serverSchemaInto` (may be null; normally the same table as `table`): after each
// logon the server's own attribute types and object classes it lacks are added to it
// (MergeServerSchema), before the load checks names against `table`.
LoadResult LoadFromDirectory(Session& session, Configuration& configuration,
                             const kvaro::Oidtable& table, CredentialsPrompt& prompt,
                             const ldapx::Timeouts& timeouts = {}, PleaseWait* wait = nullptr,
                             kvaro::Oidtable* serverSchemaInto = nullptr);

// Adds to `table` the attribute types and object classes of the server's subschema
// entry that it knows by none of their names or OID, so that names of the site's own
// schema are accepted. Returns how many definitions were added; `added` (may be null)
// receives them in the table's file syntax ("attributetype ( ... )"). -1 when the
// subschema entry could not be read (the table is unchanged).
int MergeServerSchema(kvaro::Oidtable& table, ldapx::Connection& connection,
                      std::vector<std::string>* added = nullptr);

// Loads the rule sets and forms below `subtreeDn` over an open, bound
// connection (without logon). Siblings are taken in the order they were added (by
// entryCSN; the server's order when it keeps none), so rule sets, rules and forms come
// back in the order they were saved. Warnings (records left out) are appended to
// `warnings` in that order. False when the subtree could not be read at all, or when its base entry
// is not a configuration root (object class ovConfigurationRoot; then `notConfiguration`, when
// given, is set): the configuration then stays without rule sets and forms. `code` (when given)
// receives the result code of the read.
bool LoadSubtree(Configuration& configuration, const std::string& subtreeDn,
                 const kvaro::Oidtable& table, ldapx::Connection& connection,
                 msg::Problems& warnings, int* code = nullptr, bool* notConfiguration = nullptr);

// LoadSubtree of session.subtreeDn over session.connection that keeps what it read in
// session.loaded (with `keepState`: the stored versions read first), for the next save;
// session.loaded is unknown without `keepState`, when the load failed or the server
// keeps no versions.
bool LoadSession(Session& session, Configuration& configuration, const kvaro::Oidtable& table,
                 msg::Problems& warnings, int* code = nullptr, bool* notConfiguration = nullptr,
                 bool keepState = true);

// Rebuilds the rule sets and forms from `result`, the entries of the subtree at
// `subtreeDn` in any order, as LoadSubtree does once it has read them. Needs
// no connection; warnings are appended to `warnings`.
void LoadEntries(Configuration& configuration, const std::string& subtreeDn,
                 const kvaro::Oidtable& table, const ldapx::SearchResult& result,
                 msg::Problems& warnings);

// The entries of the subtree at `base` (the base entry included), read with one subtree
// search; when the server's size limit stops that, read level by level instead. The
// result is in the server's order, each entry after its parent.
ldapx::SearchResult ReadSubtree(ldapx::Connection& connection, const std::string& base,
                                const std::vector<std::string>& attributes, bool typesOnly);

// Whether `entry` (read with nsds5ReplConflict) is one that replication between servers
// that both take writes left: a second copy of an entry added or renamed on two servers
// at once, or a glue entry. The load reads neither, nor anything below one.
bool LeftByReplication(const ldapx::Entry& entry);

// For each entry of `result` (a read of the subtree at `base`), the index of its parent
// entry in `result`; kParentIsBase for a child of `base`, kNoParent for `base` itself and
// for entries whose parent is not in the result. DNs are compared as the server
// compares them (case and spacing ignored).
inline constexpr long kParentIsBase = -1;
inline constexpr long kNoParent = -2;
std::vector<long> ParentIndexes(const ldapx::SearchResult& result, const std::string& base);

}  // namespace directory
