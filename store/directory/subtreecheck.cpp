#include "store/directory/subtreecheck.h"

#include "store/directory/entrylayout.h"

namespace directory {

namespace {

constexpr int kConnectError = ldapx::kConnectError;

SubtreeTarget Failure(int code, const ldapx::Connection& connection) {
  SubtreeTarget target;
  target.state = SubtreeTarget::State::Failed;
  target.code = code;
  target.detail = connection.diagnostic();
  return target;
}

}  // namespace

bool IsConnectionLost(int code) { return code == ldapx::kServerDown || code == kConnectError; }

SubtreeTarget CheckSubtreeTarget(ldapx::Connection& connection, const std::string& parentDn,
                                 const std::string& rootDn) {
  SubtreeTarget target;
  const ldapx::SearchResult parent =
      connection.Search(parentDn, ldapx::Scope::Base, "(objectClass=*)", {"1.1"});
  if (parent.code == ldapx::kNoSuchObject) {
    target.state = SubtreeTarget::State::NoParent;
    target.code = parent.code;
    return target;
  }
  if (parent.code != ldapx::kSuccess) return Failure(parent.code, connection);
  if (parent.entries.empty()) {
    // Found but not readable: the server hides it from this user.
    target.state = SubtreeTarget::State::NoParent;
    return target;
  }

  const ldapx::SearchResult root =
      connection.Search(rootDn, ldapx::Scope::Base, "(objectClass=*)", {"objectClass"});
  if (root.code == ldapx::kNoSuchObject) {
    target.state = SubtreeTarget::State::Free;
    return target;
  }
  if (root.code != ldapx::kSuccess) return Failure(root.code, connection);
  // An entry the user may not read is still there, and still not known to be ours.
  target.state = !root.entries.empty() && IsConfigurationRoot(root.entries.front())
                     ? SubtreeTarget::State::Configuration
                     : SubtreeTarget::State::NotOurs;
  return target;
}

}  // namespace directory
