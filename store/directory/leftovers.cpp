#include "store/directory/leftovers.h"

#include "platform/ldap/dn.h"
#include "platform/ldap/qerror.h"
#include "platform/support/messages.h"
#include "platform/support/savetags.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"
#include "store/directory/subtreedelete.h"

namespace directory {

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void ClearLeftovers(ldapx::Connection& conn, const std::string& rootDn, long minAgeSeconds) {
  const auto rootRdn = ldapx::FirstRdn(rootDn);
  const auto parent = ldapx::ParentDn(rootDn);
  if (!rootRdn || !parent || parent->empty()) return;
  const std::string& type = rootRdn->type;
  const std::string filter = "(&(objectClass=ovConfigurationRoot)(" + type + "=" +
                             ldapx::EscapeFilterValue(rootRdn->value + ".orvelle-") + "*))";
  const ldapx::SearchResult found =
      conn.Search(*parent, ldapx::Scope::OneLevel, filter, {"1.1"}, true);
  if (found.code != ldapx::kSuccess) return;
  const std::string tooYoung = kvaro::UtcStamp(minAgeSeconds);
  int k = 0;
  for (const ldapx::Entry& e : found.entries) {
    const auto rdn = ldapx::FirstRdn(e.dn);
    if (!rdn || !SameIgnoringCase(rdn->type, type)) continue;
    const std::string save = rootRdn->value + std::string(kSaveMark);
    const std::string old = rootRdn->value + std::string(kOldMark);
    const bool isOld = StartsWithIgnoringCase(rdn->value, old);
    if (!isOld && !StartsWithIgnoringCase(rdn->value, save)) continue;
    const std::string_view tag = std::string_view(rdn->value).substr((isOld ? old : save).size());
    if (!kvaro::IsTimedTag(tag) || (isOld && !kvaro::MadeNoLaterThan(tag, tooYoung))) continue;
    const std::string claimed = type + "=" +
                                ldapx::EscapeDnValue(rootRdn->value + std::string(kOldMark) +
                                                     kvaro::TimedTag() + "-" + std::to_string(k++));
    if (ldapx::Rename(conn, e.dn, claimed) != ldapx::kSuccess) continue;
    RemoveSubtree(conn, claimed + "," + *parent, true);
  }
  for (const std::string& copy : ReplicatedRootCopies(conn, rootDn))
    RemoveSubtree(conn, copy, true);
}

std::vector<std::string> ReplicatedRootCopies(ldapx::Connection& conn, const std::string& rootDn) {
  const auto rootRdn = ldapx::FirstRdn(rootDn);
  const auto parent = ldapx::ParentDn(rootDn);
  const auto root = ldapx::Dn::Parse(rootDn);
  if (!rootRdn || !parent || parent->empty() || !root) return {};
  // The copies are of class ldapSubEntry, which 389 Directory Server returns only to a
  // filter that names it.
  const std::string filter = "(&(objectClass=ovConfigurationRoot)(nsds5ReplConflict=*)(" +
                             rootRdn->type + "=" + ldapx::EscapeFilterValue(rootRdn->value) +
                             ")(|(objectClass=ldapSubEntry)(objectClass=*)))";
  const ldapx::SearchResult found =
      conn.Search(*parent, ldapx::Scope::OneLevel, filter, {"1.1"}, true);
  std::vector<std::string> copies;
  if (found.code != ldapx::kSuccess) return copies;
  for (const ldapx::Entry& e : found.entries)
    if (!e.dn.empty() && ldapx::Dn::Parse(e.dn) != root) copies.push_back(e.dn);
  return copies;
}

msg::Result RemoveOldCopy(const OldCopy& copy) {
  if (copy.dn.empty() && copy.leftoversOf.empty()) return true;
  std::string where = copy.dn.empty() ? copy.leftoversOf : copy.dn;
  // The same protection as the logon: never in plain text where the logon was not.
  const Logon logon = OpenAndBind(copy.server, copy.password, copy.timeouts);
  int error = logon.code != ldapx::kSuccess ? logon.code : ldapx::kServerDown;
  if (logon.connection) {
    error =
        copy.dn.empty() ? ldapx::kSuccess : RemoveSubtree(*logon.connection, copy.dn, true, &where);
    if (!copy.leftoversOf.empty() && error != ldapx::kCancelled)
      ClearLeftovers(*logon.connection, copy.leftoversOf, copy.leftoverSeconds);
  }
  if (error == ldapx::kSuccess) return true;
  msg::Result failed;
  if (error != ldapx::kCancelled)
    failed.problems.push_back(
        msg::Problem{62139, {where, kvaro::QError(error).Text()}, msg::Icon::Warning});
  return failed;
}

}  // namespace directory
