// A session with the directory that keeps the configuration: which server and subtree,
// the password typed at the logon, the open connection, and what was loaded. The application holds
// it beside the configuration; the records know nothing of it.
#pragma once

#include <memory>
#include <string>

#include "platform/ldap/serversettings.h"
#include "store/directory/loadedstate.h"

namespace ldapx {
class Connection;
}

namespace directory {

// What a server does with the entries below one it renames (CheckSubtreeRenames).
enum class SubtreeRenames {
  Whole,    // every entry below moves with it
  Partial,  // some entries below keep their old DNs
  Unknown,  // not known (the check was not allowed, or the server was lost): taken as whole
};

struct Session {
  ldapx::ServerSettings server;
  // The DN of the configuration's root entry.
  std::string subtreeDn;
  // The password of server.bindDn, as typed at the logon (never stored).
  std::string password;
  // The open, bound connection; null before the logon and after it was lost.
  std::shared_ptr<ldapx::Connection> connection;
  // What the last load or save read of the stored configuration, for the next save to
  // write only what changed and to notice what others wrote meanwhile.
  LoadedState loaded = {};
  // What the server at renamesCheckedOn ("host:port") does when it renames a subtree.
  std::string renamesCheckedOn = {};
  SubtreeRenames subtreeRenames = SubtreeRenames::Unknown;
  // Whether a save told the user that this server's renames leave entries behind.
  bool partialRenamesTold = false;
};

}  // namespace directory
