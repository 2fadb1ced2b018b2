#include "store/directory/inplacesave.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "platform/ldap/dn.h"
#include "platform/ldap/qerror.h"
#include "platform/support/atomicfile.h"
#include "platform/support/messages.h"
#include "platform/support/savetags.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorystore.h"
#include "store/directory/orderedwrite.h"
#include "store/directory/subtreedelete.h"

namespace directory {

namespace {

// The key the server tells `dn` apart by (Dn::Key); nullopt when the text is no DN.
std::optional<std::string> KeyOf(const std::string& dn) {
  const auto parsed = ldapx::Dn::Parse(dn);
  return parsed ? std::optional<std::string>(parsed->Key()) : std::nullopt;
}

// Writes `text` to `path` so that it is on disk when this returns true (readable by the
// owner only when new).
bool WriteDurably(const std::string& path, const std::string& text, std::string& error) {
  return kvaro::WriteFileAtomically(path, text, &error, true);
}

// The entries of a subtree read with ReadSubtree, base first, then depth first with
// siblings in the order they were added (entryCSN), as the loader reads them back. What
// replication left below the base (LeftByReplication), and everything below that, is not
// taken: the load never reads it, and a server does not take such an entry back.
// `after[k]` is the position that must be added before position k (the previous
// sibling, else the parent; -1 for the base and its first child).
struct Backup {
  std::vector<const ldapx::Entry*> entries;
  std::vector<int> after;
  std::vector<int> parent;  // position of the parent; -1 for the base and its children
};

Backup InAddingOrder(const ldapx::SearchResult& all, const std::string& base) {
  const std::vector<long> parents = ParentIndexes(all, base);
  const size_t count = all.entries.size();
  std::vector<std::vector<size_t>> children(count);
  std::vector<size_t> top;
  long baseIndex = -1;
  const auto baseDn = ldapx::Dn::Parse(base);
  for (size_t i = 0; i < count; ++i) {
    if (parents[i] != kNoParent && LeftByReplication(all.entries[i])) continue;
    if (parents[i] == kParentIsBase) top.push_back(i);
    if (parents[i] >= 0) children[parents[i]].push_back(i);
    if (parents[i] == kNoParent && baseIndex < 0 && ldapx::Dn::Parse(all.entries[i].dn) == baseDn)
      baseIndex = static_cast<long>(i);
  }
  auto csn = [&](size_t i) -> std::string {
    const ldapx::Attribute* a = all.entries[i].Find("entryCSN");
    return a && !a->values.empty() ? a->values.front() : std::string();
  };
  auto sortByCsn = [&](std::vector<size_t>& list) {
    std::stable_sort(list.begin(), list.end(), [&](size_t a, size_t b) { return csn(a) < csn(b); });
  };
  sortByCsn(top);
  for (auto& c : children) sortByCsn(c);
  Backup out;
  if (baseIndex < 0) return out;  // no base: nothing that could be put back
  out.entries.push_back(&all.entries[baseIndex]);
  out.after.push_back(-1);
  out.parent.push_back(-1);
  // Pre-order walk: (entry, position of its parent; -1 for a child of the base).
  std::vector<std::pair<size_t, int>> stack;
  auto push = [&](const std::vector<size_t>& list, int parentPos) {
    // In reverse, so that the first sibling is taken first.
    for (size_t k = list.size(); k-- > 0;) stack.emplace_back(list[k], parentPos);
  };
  std::unordered_map<int, int> lastChild;  // parent position -> its last child's position
  push(top, -1);
  while (!stack.empty()) {
    const auto [i, parentPos] = stack.back();
    stack.pop_back();
    const int pos = static_cast<int>(out.entries.size());
    const auto last = lastChild.find(parentPos);
    out.entries.push_back(&all.entries[i]);
    out.after.push_back(last != lastChild.end() ? last->second : parentPos);
    out.parent.push_back(parentPos);
    lastChild[parentPos] = pos;
    push(children[i], pos);
  }
  return out;
}

// The attributes of an entry as an add request, the operational ones left out.
ldapx::ModList UserAttributes(const ldapx::Entry& entry) {
  ldapx::ModList mods;
  for (const ldapx::Attribute& a : entry.attributes)
    if (!a.values.empty() && !SameIgnoringCase(a.type, "entryCSN") &&
        !SameIgnoringCase(a.type, "nsds5ReplConflict"))
      mods.Add(a.type, a.values);
  return mods;
}

// The user attributes of an entry in one order (types in lower case), to tell whether
// two reads of an entry hold the same.
std::vector<std::string> Contents(const ldapx::Entry& entry) {
  std::vector<std::string> out;
  const ldapx::ModList mods = UserAttributes(entry);
  for (const ldapx::Attribute& a : mods.attributes()) {
    std::string type;
    for (char c : a.type) type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& v : a.values) out.push_back(type + '\0' + v);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string CsnOf(const ldapx::Entry& entry) {
  const ldapx::Attribute* a = entry.Find("entryCSN");
  return a && !a->values.empty() ? a->values.front() : std::string();
}

std::string BackupLdif(const Backup& backup) {
  std::string out = "version: 1\n\n";
  for (const ldapx::Entry* e : backup.entries) {
    out += ldapx::LdifLine("dn", e->dn);
    const ldapx::ModList mods = UserAttributes(*e);
    for (const ldapx::Attribute& a : mods.attributes())
      for (const std::string& v : a.values) out += ldapx::LdifLine(a.type, v);
    out += "\n";
  }
  return out;
}

class InPlaceSaver {
 public:
  InPlaceSaver(const InPlaceTarget& target, OrderedWriter& writer)
      : connection_(*target.connection),
        rootDn_(target.rootDn),
        bindDn_(target.bindDn),
        plan_(*target.plan),
        token_(target.token),
        backupFolder_(target.backupFolder),
        target_(target),
        writer_(writer) {}

  // The save in place, where the directory refuses the entry beside the root or the
  // subtree rename: a durable LDIF backup of the stored subtree first, then the entries
  // below the root deleted and the new ones written; on failure the backup is put back.
  bool Run() {
    ldapx::Connection& conn = connection_;
    const ldapx::SearchResult stored =
        ReadSubtree(conn, rootDn_, {"*", "entryCSN", "nsds5ReplConflict"}, false);
    if (stored.code != ldapx::kSuccess) {
      Show(62121, {rootDn_});
      return false;
    }
    const Backup backup = InAddingOrder(stored, rootDn_);
    if (backup.entries.empty()) {
      Show(62121, {rootDn_});
      return false;
    }
    if (!RightsAllowInPlace()) return false;
    const std::string folder = backupFolder_.empty() ? DefaultBackupFolder() : backupFolder_;
    std::string name;
    for (char c : rootDn_)
      name += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    if (name.size() > 80) name.resize(80);
    const std::string path =
        folder + "/" + name + "-" + kvaro::UtcStamp(0) + "-" + token_.substr(15) + ".ldif";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string error;
    if (ec || !WriteDurably(path, BackupLdif(backup), error)) {
      Show(62142, {path + (ec ? ": " + ec.message() : error.empty() ? "" : ": " + error)});
      return false;
    }
    if (Cancelled()) return CancelledNow();

    SetMessage(std::string(msg::LoadString(62010)));
    std::string failedDn = rootDn_;
    bool wroteNew = false;
    int rc = RemoveSubtree(connection_, rootDn_, false, &failedDn);
    if (rc == ldapx::kSuccess) {
      SetMessage(std::string(msg::LoadString(62011)));
      std::vector<ldapx::Connection::AddRequest> requests;
      requests.reserve(plan_.size());
      for (const PlannedEntry& e : plan_) requests.push_back({e.dn, e.mods, e.after});
      int failed = -1;
      wroteNew = true;
      // The stored entries are gone now: a cancel is no longer taken.
      rc = writer_.AddInOrder(requests, rootDn_, 1, failed, false);
      if (rc == ldapx::kSuccess) return true;
      failedDn = failed >= 0 ? plan_[failed].dn : rootDn_;
    }
    const std::vector<std::string> notBack = Restore(backup, wroteNew);
    const std::string reason = kvaro::QError(rc).Text();
    if (notBack.empty()) {
      Show(62140, {failedDn, reason, path});
    } else {
      problems_.push_back(msg::Problem{62141,
                                       {msg::Displayable(failedDn), msg::Displayable(reason),
                                        msg::DisplayableLines(notBack), msg::Displayable(path)},
                                       msg::Icon::Error,
                                       true});
    }
    return false;
  }

  // Where the server tells what a user may do (get-effective-rights), a save in place that
  // it would refuse part-way is refused before anything is written: every stored entry
  // below the root must be one the user may delete, and the root one it may add entries
  // below. Where it does not tell, or the rights cannot be read, the restore after a
  // failure is what keeps the stored configuration. False after the message.
  bool RightsAllowInPlace() {
    ldapx::Connection& conn = connection_;
    if (bindDn_.empty() || !ldapx::OffersControl(conn, ldapx::kEffectiveRightsOid)) return true;
    const ldapx::SearchResult rights = ldapx::ReadEntryRights(conn, rootDn_, bindDn_);
    if (rights.code != ldapx::kSuccess) return true;
    const auto rootDn = ldapx::Dn::Parse(rootDn_);
    std::vector<std::string> refused;
    for (const ldapx::Entry& e : rights.entries) {
      const ldapx::Attribute* a = e.Find("entryLevelRights");
      if (!a || a->values.empty()) continue;  // nothing said: nothing known
      const char needed = ldapx::Dn::Parse(e.dn) == rootDn ? 'a' : 'd';
      if (a->values.front().find(needed) == std::string::npos) refused.push_back(e.dn);
    }
    if (refused.empty()) return true;
    problems_.push_back(msg::Problem{62147,
                                     {msg::Displayable(bindDn_), msg::DisplayableLines(refused)},
                                     msg::Icon::Error,
                                     true});
    return false;
  }

  // Puts the stored configuration back from `backup` after a failed save in place, then
  // reads it back to prove it. With `wroteNew` the stored entries were all gone and new
  // ones may have been written: those are removed first. An entry that is still there as
  // the backup holds it (its delete was refused, or never sent) is left as it is; siblings
  // keep their order. Returns the DNs of the entries that are not back as the backup holds
  // them (missing, different, out of order) and of those below the root that it does not
  // hold; empty when the configuration is back.
  std::vector<std::string> Restore(const Backup& backup, bool wroteNew) {
    ldapx::Connection& conn = connection_;
    if (wroteNew) RemoveSubtree(connection_, rootDn_, false);  // what stays shows in the read below
    const size_t n = backup.entries.size();
    std::vector<std::optional<std::string>> keys(n);
    for (size_t k = 0; k < n; ++k) keys[k] = KeyOf(backup.entries[k]->dn);

    enum class Fate : char { Missing, Kept, Differs, Added };
    std::vector<Fate> fate(n, Fate::Missing);
    fate[0] = Fate::Kept;  // the root entry is never removed
    bool anyThere = false;
    {
      const ldapx::SearchResult now = ReadSubtree(conn, rootDn_, {"*", "entryCSN"}, false);
      std::unordered_map<std::string, const ldapx::Entry*> there;
      for (const ldapx::Entry& e : now.entries)
        if (auto key = KeyOf(e.dn)) there.emplace(std::move(*key), &e);
      for (size_t k = 1; k < n; ++k) {
        const auto found = keys[k] ? there.find(*keys[k]) : there.end();
        if (found == there.end()) continue;
        fate[k] =
            Contents(*found->second) == Contents(*backup.entries[k]) ? Fate::Kept : Fate::Differs;
        anyThere = true;
      }
    }
    const auto present = [&](int k) { return k < 0 || fate[k] != Fate::Missing; };

    if (!anyThere) {
      // Nothing left below the root (the usual case when the new entries were refused):
      // everything goes back many at a time, each sibling after the one before it.
      std::vector<ldapx::Connection::AddRequest> requests;
      requests.reserve(n - 1);
      for (size_t k = 1; k < n; ++k) {
        const int after = backup.after[k] >= 1 ? backup.after[k] - 1 : -1;
        requests.push_back({backup.entries[k]->dn, UserAttributes(*backup.entries[k]), after});
      }
      int failed = -1;
      std::vector<int> codes;
      conn.AddMany(requests, kAddWindow, &failed, &codes);
      for (size_t k = 1; k < n; ++k)
        if (codes[k - 1] == ldapx::kSuccess) fate[k] = Fate::Added;
    }
    // The rest one at a time, in the backup's order: what is missing is added where its
    // parent is there. Siblings load in the order of their change sequence numbers, so an
    // entry that stayed after a sibling that was put back is touched (its object classes
    // written again as they are), which gives it a number after that sibling's.
    std::vector<char> sinceAdded(n, 0);  // a child of this position was put back
    const auto parentOf = [&](size_t k) {
      return static_cast<size_t>(std::max(0, backup.parent[k]));
    };
    for (size_t k = 1; k < n; ++k) {
      const size_t parent = parentOf(k);
      if (fate[k] == Fate::Added) {
        sinceAdded[parent] = 1;
        continue;
      }
      if (fate[k] == Fate::Missing && present(backup.parent[k])) {
        if (conn.Add(backup.entries[k]->dn, UserAttributes(*backup.entries[k])) ==
            ldapx::kSuccess) {
          fate[k] = Fate::Added;
          sinceAdded[parent] = 1;
        }
      } else if (fate[k] == Fate::Kept && sinceAdded[parent]) {
        if (const ldapx::Attribute* classes = backup.entries[k]->Find("objectClass"))
          conn.Replace(backup.entries[k]->dn, ldapx::ModList().Add(classes->type, classes->values));
      }
    }
    return NotBack(backup, keys);
  }

  // Reads the subtree at the root back and compares it with `backup` (see Restore).
  std::vector<std::string> NotBack(const Backup& backup,
                                   const std::vector<std::optional<std::string>>& keys) {
    const ldapx::SearchResult now = ReadSubtree(connection_, rootDn_, {"*", "entryCSN"}, false);
    if (now.code != ldapx::kSuccess) return {rootDn_};
    std::unordered_map<std::string, const ldapx::Entry*> there;
    for (const ldapx::Entry& e : now.entries)
      if (auto key = KeyOf(e.dn)) there.emplace(std::move(*key), &e);
    std::vector<std::string> out;
    const size_t n = backup.entries.size();
    std::vector<const ldapx::Entry*> read(n, nullptr);
    for (size_t k = 0; k < n; ++k) {
      const auto found = keys[k] ? there.find(*keys[k]) : there.end();
      if (found == there.end() ||
          (k > 0 && Contents(*found->second) != Contents(*backup.entries[k]))) {
        out.push_back(backup.entries[k]->dn);
      } else {
        read[k] = found->second;
      }
      if (found != there.end()) there.erase(found);
    }
    // Siblings in the backup's order must have rising numbers (where the server keeps them).
    std::unordered_map<int, std::string> lastCsn;  // parent position -> its last child's
    for (size_t k = 1; k < n; ++k) {
      if (!read[k]) continue;
      const std::string csn = CsnOf(*read[k]);
      if (csn.empty()) continue;
      std::string& last = lastCsn[backup.parent[k]];
      if (!last.empty() && !(last < csn)) out.push_back(backup.entries[k]->dn);
      last = csn;
    }
    for (const ldapx::Entry& e : now.entries)
      if (const auto key = KeyOf(e.dn); key && there.count(*key)) out.push_back(e.dn);
    return out;
  }

 private:
  // What the save has to say, for its caller to show.
  void Show(int id, std::vector<std::string> args) {
    problems_.push_back(msg::Problem{id, std::move(args), msg::Icon::Error});
  }
  bool Cancelled() const { return target_.cancelled && target_.cancelled(); }
  // The administrator asked for it, so it is told as a fact, not as an error.
  bool CancelledNow() {
    problems_.push_back(msg::Problem{62143, {}, msg::Icon::Information});
    return false;
  }
  void SetMessage(const std::string& text) {
    if (target_.setMessage) target_.setMessage(text);
  }

  ldapx::Connection& connection_;
  const std::string& rootDn_;
  const std::string& bindDn_;
  const EntryPlan& plan_;
  const std::string& token_;
  const std::string& backupFolder_;
  const InPlaceTarget& target_;
  OrderedWriter& writer_;

 public:
  msg::Problems problems_;
};

}  // namespace

msg::Result SaveInPlace(const InPlaceTarget& target, OrderedWriter& writer) {
  InPlaceSaver saver(target, writer);
  msg::Result result = saver.Run();
  result.problems = std::move(saver.problems_);
  return result;
}

}  // namespace directory
