#include "store/directory/renamecheck.h"

#include <optional>

#include "platform/support/savetags.h"
#include "store/directory/entrylayout.h"
#include "store/directory/leftovers.h"

namespace directory {

namespace {

constexpr int kBelowChild = 3;  // more than the two that 389 DS with LMDB moves

// Whether the root DSE names 389 Directory Server as the vendor; nullopt when it could
// not be read.
std::optional<bool> Is389(ldapx::Connection& conn) {
  const ldapx::SearchResult dse =
      conn.Search("", ldapx::Scope::Base, "(objectClass=*)", {"vendorName"});
  if (dse.code != ldapx::kSuccess) return std::nullopt;
  if (dse.entries.empty()) return false;
  const ldapx::Attribute* vendor = dse.entries.front().Find("vendorName");
  if (!vendor) return false;
  for (const std::string& v : vendor->values)
    if (v.find("389") != std::string::npos) return true;
  return false;
}

// The entries of the check below `top`, parents first.
std::vector<std::string> CheckDns(const std::string& top) {
  std::vector<std::string> dns{top, "cn=set," + top};
  for (int i = 0; i < kBelowChild; ++i)
    dns.push_back("cn=rule " + std::to_string(i) + ",cn=set," + top);
  return dns;
}

// Codes below zero come from the client (server lost, no answer in time, cancelled):
// nothing more is sent then, and a later save removes what the check left.
bool Unanswered(int code) { return code < 0; }

// Removes what the check added, deepest first, wherever each entry ended up.
void RemoveCheck(ldapx::Connection& conn, const std::string& first, const std::string& second) {
  const std::vector<std::string> a = CheckDns(first), b = CheckDns(second);
  for (size_t i = a.size(); i-- > 0;)
    if (conn.Delete(b[i]) != ldapx::kSuccess) conn.Delete(a[i]);
}

SubtreeRenames Check(ldapx::Connection& conn, const std::string& rootDn,
                     const std::function<void(std::string_view)>& onStep) {
  const auto rdn = ldapx::FirstRdn(rootDn);
  const auto parent = ldapx::ParentDn(rootDn);
  if (!rdn || !parent || parent->empty() || !SameIgnoringCase(rdn->type, "cn"))
    return SubtreeRenames::Unknown;
  const std::optional<bool> is389 = Is389(conn);
  if (!is389) return SubtreeRenames::Unknown;
  if (!*is389) return SubtreeRenames::Whole;
  const std::string base = rdn->value + std::string(kSaveMark);
  const std::string firstValue = base + kvaro::TimedTag();
  const std::string secondValue = base + kvaro::TimedTag();
  const std::string first = "cn=" + ldapx::EscapeDnValue(firstValue) + "," + *parent;
  const std::string second = "cn=" + ldapx::EscapeDnValue(secondValue) + "," + *parent;
  const std::vector<std::string> dns = CheckDns(first);
  ldapx::ModList rule;
  rule.Add("objectClass", {"top", "ovSearchClass"});
  ldapx::ModList set;
  set.Add("objectClass", {"top", "ovRuleSet"});
  for (size_t i = 0; i < dns.size(); ++i) {
    const int rc = conn.Add(dns[i], i == 0 ? RootAttributes() : i == 1 ? set : rule);
    if (rc == ldapx::kSuccess) continue;
    if (!Unanswered(rc) && i > 0) RemoveCheck(conn, first, first);
    return SubtreeRenames::Unknown;
  }
  if (onStep) onStep("added");
  const int renamed = ldapx::Rename(conn, first, "cn=" + ldapx::EscapeDnValue(secondValue));
  if (renamed != ldapx::kSuccess) {
    if (!Unanswered(renamed)) RemoveCheck(conn, first, first);
    return SubtreeRenames::Unknown;
  }
  if (onStep) onStep("renamed");
  const ldapx::SearchResult moved =
      conn.Search("cn=set," + second, ldapx::Scope::OneLevel, "(objectClass=*)", {"1.1"});
  if (Unanswered(moved.code)) return SubtreeRenames::Unknown;
  SubtreeRenames answer = SubtreeRenames::Unknown;
  if (moved.code == ldapx::kSuccess)
    answer = moved.entries.size() == kBelowChild ? SubtreeRenames::Whole : SubtreeRenames::Partial;
  RemoveCheck(conn, first, second);
  return answer;
}

}  // namespace

SubtreeRenames CheckSubtreeRenames(Session& session,
                                   const std::function<void(std::string_view)>& onStep) {
  if (!session.connection) return SubtreeRenames::Unknown;
  ldapx::Connection& conn = *session.connection;
  const std::string server = conn.host() + ":" + std::to_string(conn.port());
  if (session.renamesCheckedOn == server) return session.subtreeRenames;
  const SubtreeRenames answer = Check(conn, session.subtreeDn, onStep);
  if (answer == SubtreeRenames::Unknown) return answer;  // asked again next time
  session.renamesCheckedOn = server;
  session.subtreeRenames = answer;
  return answer;
}

}  // namespace directory
