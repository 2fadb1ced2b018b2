#include "store/directory/leftovers.h"

#include <cctype>

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

// True when the GeneralizedTime `time` (as a server writes modifyTimestamp, UTC:
// "YYYYMMDDHHMMSSZ", maybe with a fraction) is at `stamp` (a kvaro::UtcStamp) or before.
bool IsStampNoLaterThan(std::string_view time, const std::string& stamp) {
  if (time.size() < 15 || time.back() != 'Z') return false;
  for (size_t i = 0; i < 14; ++i)
    if (time[i] < '0' || time[i] > '9') return false;
  return time.substr(0, 14) <= stamp;
}

}  // namespace

std::string UniqueIdOf(const ldapx::Entry& entry) {
  for (const std::string& type : UniqueIdAttributes()) {
    const ldapx::Attribute* a = entry.Find(type);
    if (a && a->values.size() == 1 && IsUniqueId(a->values.front())) return a->values.front();
  }
  return {};
}

bool IsUniqueId(std::string_view id) {
  size_t digits = 0;
  for (size_t i = 0; i < id.size(); ++i) {
    const char c = id[i];
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      ++digits;
    } else if (c != '-' || i == 0 || i + 1 == id.size() || id[i - 1] == '-') {
      return false;
    }
  }
  return digits == 32;
}

bool IsUniqueIdAttribute(std::string_view type) {
  for (const std::string& t : UniqueIdAttributes())
    if (SameIgnoringCase(type, t)) return true;
  return false;
}

bool IsIdTag(std::string_view tag) {
  return StartsWithIgnoringCase(tag, kIdTag) && IsUniqueId(tag.substr(kIdTag.size()));
}

const std::vector<std::string>& UniqueIdAttributes() {
  static const std::vector<std::string> types = {"nsUniqueId", "entryUUID"};
  return types;
}

std::string OldCopyValue(const std::string& rootValue, const ldapx::Entry& entry) {
  return OldCopyValue(rootValue, UniqueIdOf(entry));
}

std::string OldCopyValue(const std::string& rootValue, const std::string& uniqueId) {
  return rootValue + std::string(kOldMark) +
         (uniqueId.empty() ? kvaro::TimedTag() : std::string(kIdTag) + uniqueId);
}

int RemoveOldRoot(ldapx::Connection& conn, const std::string& oldDn, const std::string& rootDn,
                  std::string* failedDn) {
  const auto rootRdn = ldapx::FirstRdn(rootDn);
  const auto parent = ldapx::ParentDn(rootDn);
  std::vector<std::string> forms, ids;
  if (rootRdn && parent && !parent->empty()) {
    // Only 389 Directory Server (nsUniqueId) needs the renames: elsewhere the filter
    // matches nothing, and the subtree goes in one pass.
    const ldapx::SearchResult found =
        conn.Search(oldDn, ldapx::Scope::OneLevel, "(&(objectClass=ovSearchForm)(nsUniqueId=*))",
                    {"nsUniqueId"});
    for (const ldapx::Entry& form : found.entries)
      if (std::string id = UniqueIdOf(form); !id.empty()) {
        forms.push_back(form.dn);
        ids.push_back(std::move(id));
      }
  }
  if (forms.empty()) return RemoveSubtree(conn, oldDn, true, failedDn);
  // What is below the forms, and beside them, goes where it stands, many deletes in
  // flight; only the forms themselves, emptied, are renamed one by one.
  int rc = RemoveSubtree(conn, oldDn, false, failedDn, forms);
  if (rc != ldapx::kSuccess) return rc;
  std::vector<std::string> moved;
  for (size_t i = 0; i < forms.size(); ++i) {
    ldapx::EntryWrite out;
    out.kind = ldapx::EntryWrite::Kind::Rename;
    out.dn = forms[i];
    out.newRdn = "cn=" + ldapx::EscapeDnValue(OldCopyValue(rootRdn->value, ids[i]));
    out.newSuperior = *parent;
    // Where it cannot be moved, it goes with the old root.
    if (ldapx::WriteEntry(conn, out) == ldapx::kSuccess)
      moved.push_back(out.newRdn + "," + *parent);
  }
  rc = RemoveEntries(conn, moved, failedDn);
  if (rc != ldapx::kSuccess) return rc;
  return RemoveSubtree(conn, oldDn, true, failedDn);
}

void ClearLeftovers(ldapx::Connection& conn, const std::string& rootDn, long minAgeSeconds) {
  const auto rootRdn = ldapx::FirstRdn(rootDn);
  const auto parent = ldapx::ParentDn(rootDn);
  if (!rootRdn || !parent || parent->empty()) return;
  const std::string& type = rootRdn->type;
  const std::string filter = "(&(objectClass=ovConfigurationRoot)(" + type + "=" +
                             ldapx::EscapeFilterValue(rootRdn->value + ".orvelle-") + "*))";
  const ldapx::SearchResult found =
      conn.Search(*parent, ldapx::Scope::OneLevel, filter, UniqueIdAttributes());
  if (found.code != ldapx::kSuccess) return;
  const std::string tooYoung = kvaro::UtcStamp(minAgeSeconds);
  const std::string save = rootRdn->value + std::string(kSaveMark);
  const std::string old = rootRdn->value + std::string(kOldMark);
  std::vector<std::string> renamedAway;  // old copies named by their unique id
  for (const ldapx::Entry& e : found.entries) {
    const auto rdn = ldapx::FirstRdn(e.dn);
    if (!rdn || !SameIgnoringCase(rdn->type, type)) continue;
    const bool isOld = StartsWithIgnoringCase(rdn->value, old);
    if (!isOld && !StartsWithIgnoringCase(rdn->value, save)) continue;
    const std::string_view tag = std::string_view(rdn->value).substr((isOld ? old : save).size());
    if (isOld && IsIdTag(tag)) {
      renamedAway.push_back(e.dn);
      continue;
    }
    if (!kvaro::IsTimedTag(tag) || (isOld && !kvaro::MadeNoLaterThan(tag, tooYoung))) continue;
    // A name of its own: every server that takes it gives it the same one.
    const std::string claimed = type + "=" + ldapx::EscapeDnValue(OldCopyValue(rootRdn->value, e));
    if (ldapx::Rename(conn, e.dn, claimed) != ldapx::kSuccess) continue;
    RemoveOldRoot(conn, claimed + "," + *parent, rootDn);
  }
  // Forms and rule sets that a save moved out under their own names and did not remove.
  // A save of changes renames one back only to take itself back, within its run, and the
  // rename that moved it out renewed its modifyTimestamp (the server's time of that rename).
  const ldapx::SearchResult forms =
      conn.Search(*parent, ldapx::Scope::OneLevel,
                  "(&(|(objectClass=ovSearchForm)(objectClass=ovRuleSet))(cn=" +
                      ldapx::EscapeFilterValue(old + std::string(kIdTag)) + "*))",
                  {"modifyTimestamp"});
  if (forms.code == ldapx::kSuccess)
    for (const ldapx::Entry& e : forms.entries) {
      const auto rdn = ldapx::FirstRdn(e.dn);
      const ldapx::Attribute* stamp = e.Find("modifyTimestamp");
      if (!rdn || !SameIgnoringCase(rdn->type, "cn") || !StartsWithIgnoringCase(rdn->value, old) ||
          !IsIdTag(std::string_view(rdn->value).substr(old.size())) || !stamp ||
          stamp->values.size() != 1 || !IsStampNoLaterThan(stamp->values.front(), tooYoung))
        continue;
      RemoveSubtree(conn, e.dn, true);
    }
  // Read after the list: a root that stands now was put in place after each of these was
  // renamed away, so no save will rename one back.
  if (!renamedAway.empty() &&
      conn.Search(rootDn, ldapx::Scope::Base, "(objectClass=*)", {"1.1"}).code == ldapx::kSuccess)
    for (const std::string& dn : renamedAway) RemoveOldRoot(conn, dn, rootDn);
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
    error = copy.dn.empty() ? ldapx::kSuccess
                            : RemoveOldRoot(*logon.connection, copy.dn, copy.leftoversOf, &where);
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
