// What is at the place a new configuration subtree is to go: the parent entry must exist,
// and the root entry below it must either be missing or be a configuration root (which a
// save may then replace). Plain C++ over the LDAP layer; shows nothing.
#pragma once

#include <string>

#include "platform/ldap/ldapclient.h"

namespace directory {

struct SubtreeTarget {
  enum class State {
    Free,           // the parent exists and nothing is at the root DN
    Configuration,  // a configuration root entry is at the root DN
    NotOurs,        // an entry is at the root DN, but it is not a configuration root
    NoParent,       // the parent entry does not exist (or the user may not see it)
    Failed,         // the server could not be asked: `code` and `detail` say why
  };
  State state = State::Failed;
  int code = ldapx::kSuccess;
  std::string detail;  // the server's diagnostic message, when it sent one
};

// Reads the parent entry `parentDn` and the entry `rootDn` over `connection` (two base
// searches, each within the connection's operation limit and cancellable through
// ldapx::CancelScope) and says which case holds. Writes nothing.
SubtreeTarget CheckSubtreeTarget(ldapx::Connection& connection, const std::string& parentDn,
                                 const std::string& rootDn);

// True when `code` means the connection is gone (the server closed it or went away), so
// that opening it again may help.
bool IsConnectionLost(int code);

}  // namespace directory
