#include "store/directory/directorysave.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string_view>
#include <unordered_map>

#include "platform/ldap/qerror.h"
#include "platform/support/atomicfile.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "store/directory/savecheck.h"
#include "store/files/templatefile.h"

namespace directory {

namespace {

// Closes the window on every way out of the save.
class WaitGuard {
 public:
  explicit WaitGuard(PleaseWait* wait) : wait_(wait) {}
  ~WaitGuard() {
    if (wait_) wait_->Close();
  }
  void Show(const std::string& message) {
    if (wait_) wait_->Show(std::string(msg::LoadString(61282)), message);
  }
  void SetMessage(const std::string& message) {
    if (wait_) wait_->SetMessage(message);
  }
  void SetProgress(long done, long total) {
    if (wait_) wait_->SetProgress(done, total);
  }
  bool Cancelled() const { return wait_ && wait_->CancelRequested(); }

 private:
  PleaseWait* wait_;
};

// Deletes in flight at once. A parent is sent only after all its children are gone.
constexpr int kDeleteWindow = 64;

// The attributes of an entry as an add request, to put it back.
ldapx::ModList AsMods(const ldapx::Entry& entry) {
  ldapx::ModList mods;
  for (const ldapx::Attribute& a : entry.attributes)
    if (!a.values.empty()) mods.Add(a.type, a.values);
  return mods;
}

// The entries of a subtree in deleting order (each child's subtree, children before
// their parent, siblings in the server's order); `needs[k]` lists the positions that must
// be gone before position k is sent. `order` holds the entry indexes (the base, when
// deleted, is last and not in `order`).
struct DeleteOrder {
  std::vector<size_t> order;
  std::vector<std::string> dns;
  std::vector<std::vector<int>> needs;
};

DeleteOrder OrderForDelete(const ldapx::SearchResult& all, const std::vector<long>& parents,
                           const std::string& dn, bool deleteSelf) {
  const size_t count = all.entries.size();
  std::vector<std::vector<size_t>> children(count);
  std::vector<size_t> top;
  for (size_t i = 0; i < count; ++i) {
    if (parents[i] == kParentIsBase) {
      top.push_back(i);
    } else if (parents[i] >= 0) {
      children[parents[i]].push_back(i);
    }
  }

  std::vector<size_t> order;  // entry indexes, in deleting order
  std::vector<std::vector<int>> needs;
  order.reserve(count);
  needs.reserve(count);
  std::vector<int> position(count, -1);
  // Post-order walk without recursion: (entry, next child to visit).
  std::vector<std::pair<size_t, size_t>> stack;
  auto visitAll = [&](const std::vector<size_t>& roots) {
    for (size_t r : roots) {
      stack.emplace_back(r, 0);
      while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next < children[node].size()) {
          const size_t child = children[node][next++];
          stack.emplace_back(child, 0);
          continue;
        }
        std::vector<int> need;
        for (size_t child : children[node]) need.push_back(position[child]);
        position[node] = static_cast<int>(order.size());
        order.push_back(node);
        needs.push_back(std::move(need));
        stack.pop_back();
      }
    }
  };
  visitAll(top);
  std::vector<std::string> dns;
  dns.reserve(order.size() + 1);
  for (size_t i : order) dns.push_back(all.entries[i].dn);
  if (deleteSelf) {
    std::vector<int> need;
    for (size_t child : top) need.push_back(position[child]);
    dns.push_back(dn);
    needs.push_back(std::move(need));
  }
  return DeleteOrder{std::move(order), std::move(dns), std::move(needs)};
}

}  // namespace

bool DeleteSubtree(ldapx::Connection& connection, const std::string& dn, bool deleteSelf) {
  // One search reads the whole subtree. The entries are deleted in the order a
  // level-by-level walk would take them (each child's subtree, children before their
  // parent, siblings in the server's order), with many deletes in flight: each waits
  // only for its own children. The entries are read with their attributes so that any
  // deleted ahead of a refused one can be put back, which leaves the directory as a
  // one-at-a-time walk that stops at the refusal would.
  const ldapx::SearchResult all = ReadSubtree(connection, dn, {"*"}, false);
  if (all.code != ldapx::kSuccess) {
    msg::Show(61263, {dn, kvaro::QError(all.code).Text()}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  const std::vector<long> parents = ParentIndexes(all, dn);
  const size_t count = all.entries.size();
  DeleteOrder plan = OrderForDelete(all, parents, dn, deleteSelf);
  std::vector<size_t>& order = plan.order;
  std::vector<std::string>& dns = plan.dns;
  std::vector<std::vector<int>>& needs = plan.needs;
  if (dns.empty()) return true;

  int failed = -1;
  std::vector<int> codes;
  int rc = connection.DeleteMany(dns, needs, kDeleteWindow, &failed, &codes);
  if (rc == ldapx::kSuccess) return true;

  // Entries before the refusal that were still waiting for their children are deleted
  // now, one at a time; one of them may be refused in turn and become the stopping point.
  for (int i = 0; i < failed; ++i) {
    if (codes[i] != ldapx::kNotSent) continue;
    codes[i] = connection.Delete(dns[i]);
    if (codes[i] != ldapx::kSuccess) {
      failed = i;
      rc = codes[i];
      break;
    }
  }
  // Put back, parents first, what was deleted beyond the stopping point.
  std::vector<bool> putBack(count, false);
  bool any = false;
  const std::string* lost = nullptr;
  int lostCode = ldapx::kSuccess;
  for (size_t k = static_cast<size_t>(failed) + 1; k < order.size(); ++k)
    if (codes[k] == ldapx::kSuccess) putBack[order[k]] = any = true;
  if (any) {
    std::vector<size_t> depth(count, 0);
    std::vector<size_t> byDepth;
    for (size_t i = 0; i < count; ++i) {
      if (!putBack[i]) continue;
      for (long p = parents[i]; p >= 0; p = parents[p]) ++depth[i];
      byDepth.push_back(i);
    }
    // Shallower entries first; among equals the server's order, which keeps siblings
    // in the order they had.
    std::stable_sort(byDepth.begin(), byDepth.end(),
                     [&](size_t a, size_t b) { return depth[a] < depth[b]; });
    for (size_t i : byDepth) {
      const int addRc = connection.Add(all.entries[i].dn, AsMods(all.entries[i]));
      if (addRc != ldapx::kSuccess) {
        lost = &all.entries[i].dn;
        lostCode = addRc;
        break;
      }
    }
  }
  msg::Show(61264, {dns[failed], kvaro::QError(rc).Text()}, msg::Buttons::Ok, msg::Icon::Error);
  // Only when the directory refused to take back an entry it had just given up: the
  // administrator must know that something is missing now.
  if (lost)
    msg::Show(62122, {*lost, kvaro::QError(lostCode).Text()}, msg::Buttons::Ok, msg::Icon::Error);
  return false;
}

namespace {

constexpr int kServerDown = ldapx::kServerDown;
constexpr int kConnectError = -11;  // LDAP_CONNECT_ERROR
// Adds in flight at once without transactions, and within one transaction. Deletes in
// flight when our own subtrees are removed. Well below the 1000 pending requests slapd
// allows an authenticated connection by default.
constexpr int kAddWindow = 256;
constexpr int kTxnWindow = 512;
constexpr int kRemoveWindow = 256;
// Without transactions the adds go in chunks, so that progress and cancel are seen.
constexpr size_t kChunk = 2000;
// Siblings of one run sent in its first wave, and at most in one wave.
constexpr size_t kFirstWave = 16;
constexpr size_t kMaxWave = 512;
// Runs of siblings up to this length are written one sibling after the other (all such
// runs at once) instead of in waves.
constexpr size_t kChainedRun = 32;
// The time between two adds of a wave: the first, the least and the most.
constexpr std::chrono::microseconds kFirstSpacing(100);
constexpr std::chrono::microseconds kLeastSpacing(40);
constexpr std::chrono::microseconds kMostSpacing(2000);

// Removes our own subtree at `dn` (with `dn` itself when `self`), quietly, many deletes
// in flight, children before parents. An entry that is already gone counts as removed:
// another save may have taken the subtree over. Returns the first failure, its DN in
// `failedDn`.
int RemoveSubtree(ldapx::Connection& conn, const std::string& dn, bool self,
                  std::string* failedDn = nullptr) {
  const ldapx::SearchResult all = ReadSubtree(conn, dn, {"1.1"}, true);
  if (all.code == ldapx::kNoSuchObject) return ldapx::kSuccess;
  if (all.code != ldapx::kSuccess) {
    if (failedDn) *failedDn = dn;
    return all.code;
  }
  const DeleteOrder order = OrderForDelete(all, ParentIndexes(all, dn), dn, self);
  if (order.dns.empty()) return ldapx::kSuccess;
  int failed = -1;
  std::vector<int> codes;
  if (conn.DeleteMany(order.dns, order.needs, kRemoveWindow, &failed, &codes) == ldapx::kCancelled)
    return ldapx::kCancelled;
  // The server's answer that stopped the deletes. A parent that waited for a refused child
  // comes earlier in the list but was never sent: that is no reason of its own.
  int notSent = -1;
  for (size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] == ldapx::kSuccess || codes[i] == ldapx::kNoSuchObject) continue;
    if (codes[i] == ldapx::kNotSent) {
      if (notSent < 0) notSent = static_cast<int>(i);
      continue;
    }
    if (failedDn) *failedDn = order.dns[i];
    return codes[i];
  }
  if (notSent >= 0) {
    if (failedDn) *failedDn = order.dns[notSent];
    return ldapx::kOther;
  }
  return ldapx::kSuccess;
}

// True when `child` is an entry directly below `parent`, both DNs as the plan builds
// them: the child's RDN, an unescaped comma (and a blank after it for rules), then the
// parent's DN unchanged.
bool IsChildDn(const std::string& child, const std::string& parent) {
  if (child.size() <= parent.size() + 1) return false;
  size_t k = child.size() - parent.size();
  if (child.compare(k, parent.size(), parent) != 0) return false;
  if (child[k - 1] == ' ') --k;
  if (k < 2 || child[k - 1] != ',') return false;
  size_t backslashes = 0;
  for (size_t j = k - 1; j > 0 && child[j - 1] == '\\'; --j) ++backslashes;
  return backslashes % 2 == 0;
}

// The shape of a list of adds whose `after` names either the parent or the previous
// sibling: each request's parent (-1: an entry that exists already), the sibling it
// must follow in the directory's order (-1: none) and its depth.
struct AddLayout {
  std::vector<int> parent, previous, depth;
  int depths = 0;
};

AddLayout LayoutOf(const std::vector<ldapx::Connection::AddRequest>& requests) {
  AddLayout l;
  const size_t n = requests.size();
  l.parent.assign(n, -1);
  l.previous.assign(n, -1);
  l.depth.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const int a = requests[i].after;
    if (a >= 0 && static_cast<size_t>(a) < i) {
      if (IsChildDn(requests[i].dn, requests[a].dn)) {
        l.parent[i] = a;
      } else {
        l.parent[i] = l.parent[a];
        l.previous[i] = a;
      }
    }
    l.depth[i] = l.parent[i] < 0 ? 0 : l.depth[l.parent[i]] + 1;
    l.depths = std::max(l.depths, l.depth[i] + 1);
  }
  return l;
}

bool IsLost(int code) { return code == kServerDown || code == kConnectError; }

// Refusals that mean "not here" rather than "not this": the entry beside the root or a
// subtree rename is not allowed (access, a server that cannot do it, another server's
// part of the tree). The save then writes in place instead.
bool RefusedHere(int code) {
  switch (code) {
    case 10:  // referral
    case 32:  // noSuchObject (the parent is not held by this server)
    case 50:  // insufficientAccessRights
    case 53:  // unwillingToPerform
    case 66:  // notAllowedOnNonLeaf
    case 71:  // affectsMultipleDSAs
      return true;
    default:
      return false;
  }
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string UtcStamp(long secondsAgo) {
  const std::time_t now = std::time(nullptr) - secondsAgo;
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
  return buf;
}

// A token no other save picks: the time (UTC, to the second, so that age can be read
// from a name) and 64 random bits.
std::string Token() {
  std::random_device rd;
  const uint64_t r = (static_cast<uint64_t>(rd()) << 32) ^ rd();
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(r));
  return UtcStamp(0) + "-" + buf;
}

// Marks of the names of our own subtrees beside the root: "<root name>" + mark + token.
constexpr std::string_view kSaveMark = ".orvelle-save-";
constexpr std::string_view kOldMark = ".orvelle-old-";

std::string DataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share";
}

// Writes `text` to `path` so that it is on disk when this returns true (readable by the
// owner only when new).
bool WriteDurably(const std::string& path, const std::string& text, std::string& error) {
  return kvaro::WriteFileAtomically(path, text, &error, true);
}

// The entries of a subtree read with ReadSubtree, base first, then depth first with
// siblings in the order they were added (entryCSN), as the loader reads them back.
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
  const auto baseKey = MatchKey(base);
  for (size_t i = 0; i < count; ++i) {
    if (parents[i] == kParentIsBase) top.push_back(i);
    if (parents[i] >= 0) children[parents[i]].push_back(i);
    if (parents[i] == kNoParent && baseIndex < 0 && MatchKey(all.entries[i].dn) == baseKey)
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
    if (!a.values.empty() && !SameIgnoringCase(a.type, "entryCSN")) mods.Add(a.type, a.values);
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
    out += LdifLine("dn", e->dn);
    const ldapx::ModList mods = UserAttributes(*e);
    for (const ldapx::Attribute& a : mods.attributes())
      for (const std::string& v : a.values) out += LdifLine(a.type, v);
    out += "\n";
  }
  return out;
}

// True when `tag` has the shape of what follows a mark in the names of our own subtrees:
// a token ("YYYYMMDDHHMMSS-" and 16 hex digits), and for a claimed leftover "-" and a
// number after it.
bool IsSaveTag(std::string_view tag) {
  const auto digits = [](std::string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const auto hex = [](std::string_view t) {
    return std::all_of(t.begin(), t.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
  };
  if (tag.size() < 31 || !digits(tag.substr(0, 14)) || tag[14] != '-' || !hex(tag.substr(15, 16)))
    return false;
  return tag.size() == 31 || (tag[31] == '-' && digits(tag.substr(32)));
}

// Removes what earlier saves left beside the configuration root `rootDn`: subtrees whose
// root is a configuration root named "<root name>" + a mark + a save's tag. A staging
// subtree is taken whatever its age (a save still writing it then fails, saying that
// another save changed the configuration); an old copy only when it was made at least
// `minAgeSeconds` ago, since a save between its two renames may be about to rename it
// back. Each is first renamed to a name of this removal, so that no two removals take the
// same subtree. Failures here lose nothing and are not reported: a later save tries again.
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
  const std::string tooYoung = UtcStamp(minAgeSeconds);
  int k = 0;
  for (const ldapx::Entry& e : found.entries) {
    const auto rdn = ldapx::FirstRdn(e.dn);
    if (!rdn || !SameIgnoringCase(rdn->type, type)) continue;
    const std::string save = rootRdn->value + std::string(kSaveMark);
    const std::string old = rootRdn->value + std::string(kOldMark);
    const bool isOld = StartsWithIgnoringCase(rdn->value, old);
    if (!isOld && !StartsWithIgnoringCase(rdn->value, save)) continue;
    const std::string_view tag = std::string_view(rdn->value).substr((isOld ? old : save).size());
    if (!IsSaveTag(tag) || (isOld && std::string(tag.substr(0, 14)) > tooYoung)) continue;
    const std::string claimed = type + "=" +
                                ldapx::EscapeDnValue(rootRdn->value + std::string(kOldMark) +
                                                     Token() + "-" + std::to_string(k++));
    if (ldapx::Rename(conn, e.dn, claimed) != ldapx::kSuccess) continue;
    RemoveSubtree(conn, claimed + "," + *parent, true);
  }
}

class DirectorySaver {
 public:
  DirectorySaver(Configuration& configuration, PleaseWait* wait, const SaveOptions& options)
      : config_(configuration), wait_(wait), options_(options) {}

  bool Run() {
    WaitGuard guard(wait_);
    guard_ = &guard;
    guard.Show(std::string(msg::LoadString(62011)));
    if (!CheckConfiguration(config_)) return false;
    rootDn_ = config_.subtreeDn;
    plan_ = PlanConfiguration(config_);
    if (!CheckEntryPlan(config_, plan_)) return false;
    total_ = static_cast<long>(plan_.size()) + 1;
    firstForm_ = plan_.size();
    for (size_t i = 0; i < plan_.size(); ++i)
      if (IsForm(plan_[i])) {
        firstForm_ = i;
        break;
      }

    if (!ReadRoot()) return false;
    Stage(SaveStage::Checked);
    ldapx::Connection& conn = *config_.connection;

    const auto rdn = ldapx::FirstRdn(rootDn_);
    const auto parent = ldapx::ParentDn(rootDn_);
    if (!rdn || !parent || parent->empty()) return InPlace(rootDn_, ldapx::kInsufficientAccess);
    rdnType_ = rdn->type;
    rdnValue_ = rdn->value;
    parentDn_ = *parent;
    token_ = Token();
    stagingDn_ = Rdn(std::string(kSaveMark)) + "," + parentDn_;
    oldDn_ = Rdn(std::string(kOldMark)) + "," + parentDn_;
    transactions_ = options_.useTransactions && ldapx::SupportsTransactions(conn);
    postRead_ = options_.readBackOrder;
    touch_ = options_.touchOutOfOrder;

    int failed = -1;
    const int rc = WriteStaging(failed);
    if (rc == ldapx::kCancelled) {
      Discard();  // what was added before the cancel (nothing inside a transaction)
      return Cancelled();
    }
    if (rc != ldapx::kSuccess) {
      if (failed == 0 && RefusedHere(rc) && exists_) return InPlace(stagingDn_, rc);
      Discard();
      // Every entry below the staged root is added below one added before it: one that is
      // gone was taken by another save (as a leftover of a failed one).
      if (rc == ldapx::kNoSuchObject && failed > 0) return ChangedMeanwhile(rc);
      const std::string dn = failed > 0 ? plan_[failed - 1].dn : rootDn_;
      Show(62137, {dn, kvaro::QError(rc).Text()});
      return false;
    }
    Stage(SaveStage::Staged);
    if (guard.Cancelled()) {
      Discard();
      return Cancelled();
    }
    if (!Swap()) return false;
    Stage(SaveStage::Swapped);
    guard.SetProgress(total_, total_);
    guard.SetMessage(std::string(msg::LoadString(62010)));
    // What earlier saves left beside the root may be many thousands of entries: their
    // removal goes with the old copy's, after the save where the options ask for that.
    if (options_.leaveOldCopy) {
      OldCopy& copy = *options_.leaveOldCopy;
      copy.dn = exists_ ? oldDn_ : std::string();
      copy.leftoversOf = rootDn_;
      copy.leftoverSeconds = options_.oldLeftoverSeconds;
      copy.host = config_.serverAddress;
      copy.port = config_.serverPort;
      copy.tls = TlsOf(config_);
      copy.timeouts = config_.connection->timeouts();
      copy.bindDn = config_.bindDn;
      copy.password = config_.bindPassword;
      return true;
    }
    if (exists_) {
      std::string where;
      const int del = RemoveSubtree(oldDn_, true, &where);
      if (del != ldapx::kSuccess)
        msg::Show(62139, {where, kvaro::QError(del).Text()}, msg::Buttons::Ok, msg::Icon::Warning);
    }
    ClearLeftovers(*config_.connection, rootDn_, options_.oldLeftoverSeconds);
    return true;
  }

 private:
  static bool IsForm(const PlannedEntry& e) {
    for (const ldapx::Attribute& a : e.mods.attributes())
      if (SameIgnoringCase(a.type, "objectClass"))
        for (const std::string& v : a.values)
          if (SameIgnoringCase(v, "ovSearchForm")) return true;
    return false;
  }

  void Show(int id, std::vector<std::string> args) {
    msg::Show(id, std::move(args), msg::Buttons::Ok, msg::Icon::Error);
  }

  void Stage(SaveStage stage) {
    if (options_.onStage) options_.onStage(stage);
  }

  std::string Rdn(const std::string& mark) const {
    return rdnType_ + "=" + ldapx::EscapeDnValue(rdnValue_ + mark + token_);
  }
  std::string RootRdn() const { return rdnType_ + "=" + ldapx::EscapeDnValue(rdnValue_); }

  bool Reconnect() {
    const ldapx::Timeouts timeouts =
        config_.connection ? config_.connection->timeouts() : ldapx::Timeouts{};
    // The same protection as the logon: a reconnect must never fall back to plain text.
    Logon logon = OpenAndBind(config_.serverAddress, config_.serverPort, config_.bindDn,
                              config_.bindPassword, timeouts, TlsOf(config_));
    if (logon.connection) {
      config_.connection = std::move(logon.connection);
      return true;
    }
    Show(62144,
         {kvaro::QError(logon.code != ldapx::kSuccess ? logon.code : ldapx::kServerDown).Text()});
    // The old connection is dead: the session has none until a save opens one again.
    config_.connection.reset();
    return false;
  }

  // Reads the root entry (opening the connection again when it was lost) and refuses a
  // target that is not ours.
  bool ReadRoot() {
    if (!config_.connection && !Reconnect()) return false;
    ldapx::SearchResult root =
        config_.connection->Search(rootDn_, ldapx::Scope::Base, "(objectClass=*)", {"*"});
    if (IsLost(root.code)) {
      if (!Reconnect()) return false;
      root = config_.connection->Search(rootDn_, ldapx::Scope::Base, "(objectClass=*)", {"*"});
    }
    if (root.code == ldapx::kNoSuchObject) {
      exists_ = false;
      return true;
    }
    if (root.code != ldapx::kSuccess) {
      ShowWithReason(62121, {rootDn_}, root.code, config_.connection->diagnostic());
      return false;
    }
    if (root.entries.empty()) {  // there, but hidden from this user
      Show(62121, {rootDn_});
      return false;
    }
    if (!IsConfigurationRoot(root.entries.front())) {
      Show(62130, {rootDn_});
      return false;
    }
    exists_ = true;
    rootEntry_ = std::move(root.entries.front());
    return true;
  }

  // The staged entries: the new root (a copy of every attribute of the stored root, its
  // naming value the marked one) and the plan below it.
  std::vector<ldapx::Connection::AddRequest> StagingRequests() const {
    std::vector<ldapx::Connection::AddRequest> requests;
    requests.reserve(plan_.size() + 1);
    ldapx::ModList rootMods;
    if (exists_) {
      const std::string staged = rdnValue_ + std::string(kSaveMark) + token_;
      for (const ldapx::Attribute& a : rootEntry_.attributes) {
        if (a.values.empty()) continue;
        std::vector<std::string> values = a.values;
        if (SameIgnoringCase(a.type, rdnType_)) values.push_back(staged);
        rootMods.Add(a.type, std::move(values));
      }
    } else {
      rootMods = RootAttributes();
    }
    requests.push_back({stagingDn_, std::move(rootMods), -1});
    EntryPlan staged;
    int previous = -1;
    for (const auto& rs : config_.ruleSets)
      previous = PlanRuleSet(*rs, stagingDn_, previous, staged);
    for (const auto& f : config_.searchForms) previous = PlanForm(*f, stagingDn_, previous, staged);
    for (PlannedEntry& e : staged)
      requests.push_back({std::move(e.dn), std::move(e.mods), e.after >= 0 ? e.after + 1 : 0});
    return requests;
  }

  void Progress(long done) {
    guard_->SetProgress(done, total_);
    if (!halfway_ && done * 2 >= total_) {
      halfway_ = true;
      Stage(SaveStage::StagingHalfway);
    }
    if (!formsShown_ && done > static_cast<long>(firstForm_)) {
      formsShown_ = true;
      guard_->SetMessage(std::string(msg::LoadString(62012)));
    }
  }

  // Adds `requests` without transactions (each request's `after` is its parent or the
  // sibling it must follow; the list holds parents before children) below `base`, so that
  // siblings come back from the directory in list order, reporting progress from
  // `progressBase` on. Returns the first failure; `failed` its index (-1: none known).
  //
  // The load puts siblings in the order of their change sequence numbers (entryCSN),
  // which the server hands out as it takes up each add; with several requests in flight
  // it may take them up in another order. Waiting for each sibling's answer before
  // sending the next costs one round trip per sibling. Instead each depth is written in
  // waves: the next few siblings of every run are sent at once, their sequence numbers
  // read back, and those after the first one out of order deleted again (they have no
  // children yet) to be sent in the next wave. The first of each wave follows a sibling
  // already answered, so every wave keeps at least one per run. Where the answers carry
  // the numbers (post-read), the runs go in one stream instead and siblings out of order
  // are touched into place (StreamRuns); where the server refuses that, a run sends
  // nothing more once its order broke, and a wave costs only what was in flight then.
  // Where the server keeps no sequence numbers, the siblings are written one after the
  // other.
  int AddInOrder(const std::vector<ldapx::Connection::AddRequest>& requests,
                 const std::string& base, long progressBase, int& failed, bool cancellable) {
    failed = -1;
    const AddLayout layout = LayoutOf(requests);
    std::vector<std::vector<int>> byDepth(static_cast<size_t>(layout.depths));
    for (size_t i = 0; i < requests.size(); ++i)
      byDepth[layout.depth[i]].push_back(static_cast<int>(i));
    long placed = progressBase;
    for (const std::vector<int>& level : byDepth) {
      // First every entry that follows no sibling (runs' first entries, input groups,
      // fields): no order among them matters.
      std::vector<int> free;
      for (int i : level)
        if (layout.previous[i] < 0) free.push_back(i);
      if (const int rc = AddInChunks(requests, free, nullptr, placed, failed, cancellable);
          rc != ldapx::kSuccess)
        return rc;
      const int rc = AddRuns(requests, layout, level, base, placed, failed, cancellable);
      if (rc != ldapx::kSuccess) return rc;
    }
    return ldapx::kSuccess;
  }

  // AddSome of `which` in chunks, so that progress and cancel are seen between them;
  // `placed` counts what was added.
  int AddInChunks(const std::vector<ldapx::Connection::AddRequest>& requests,
                  const std::vector<int>& which, const std::vector<int>* previous, long& placed,
                  int& failed, bool cancellable) {
    for (size_t begin = 0; begin < which.size(); begin += kChunk) {
      if (cancellable && guard_->Cancelled()) return ldapx::kCancelled;
      const size_t end = std::min(which.size(), begin + kChunk);
      const std::vector<int> part(which.begin() + static_cast<long>(begin),
                                  which.begin() + static_cast<long>(end));
      const int rc = AddSome(requests, part, previous, failed);
      if (rc != ldapx::kSuccess) return rc;
      placed += static_cast<long>(part.size());
      Progress(placed);
    }
    return ldapx::kSuccess;
  }

  // The waves of AddInOrder for the runs of siblings of one depth.
  int AddRuns(const std::vector<ldapx::Connection::AddRequest>& requests, const AddLayout& layout,
              const std::vector<int>& level, const std::string& base, long& placed, int& failed,
              bool cancellable) {
    // Each run: the entry already written that it follows, then its entries in order.
    std::vector<std::vector<int>> runs;
    std::unordered_map<int, size_t> runOf;
    for (int i : level) {
      const int p = layout.previous[i];
      if (p < 0) continue;
      auto found = runOf.find(p);
      size_t r = 0;
      if (found == runOf.end()) {
        r = runs.size();
        runs.push_back({p});
      } else {
        r = found->second;
      }
      runs[r].push_back(i);
      runOf[i] = r;
    }
    if (runs.empty()) return ldapx::kSuccess;

    // Short runs (a rule set's rules, a group's fields) go one sibling after the other,
    // every run at once: that keeps their order at no cost in requests, and a level of
    // many short runs takes as many round trips as its longest run. Long runs go so too
    // when the server is near. The list holds the runs' second entries first, then their
    // third, and so on, so that the ones that may go next are near its front.
    {
      bool anyLong = false;
      for (const std::vector<int>& run : runs) anyLong = anyLong || run.size() - 1 > kChainedRun;
      const bool chainAll = anyLong && NearServer(base);
      const auto chainedRun = [chainAll](const std::vector<int>& run) {
        return chainAll || run.size() - 1 <= kChainedRun;
      };
      std::vector<int> chained;
      for (size_t k = 1;; ++k) {
        bool any = false;
        for (const std::vector<int>& run : runs) {
          if (!chainedRun(run) || k >= run.size()) continue;
          chained.push_back(run[k]);
          any = true;
        }
        if (!any) break;
      }
      // A sibling's predecessor is always in its own chunk or an earlier one, which is
      // complete.
      if (const int rc =
              AddInChunks(requests, chained, &layout.previous, placed, failed, cancellable);
          rc != ldapx::kSuccess)
        return rc;
      std::erase_if(runs, chainedRun);
      if (runs.empty()) return ldapx::kSuccess;
    }

    // Runs that all share one parent (the records below the root) are read with one
    // level of search below it, not the whole subtree.
    int parent = layout.parent[runs.front()[0]];
    for (const std::vector<int>& run : runs)
      if (layout.parent[run[0]] != parent) parent = -2;
    CsnReader csns(*config_.connection, parent >= 0 ? requests[parent].dn : base, parent != -2);
    std::vector<size_t> kept(runs.size(), 0);  // position of the last entry in place
    std::vector<size_t> wave(runs.size(), kFirstWave);
    std::vector<std::string> lastCsn(runs.size());
    std::vector<char> blind(runs.size(), 0);
    // The adds of a wave must not come faster than the server takes them up, or they
    // queue and run side by side again: a wave cut short spaces the next one further
    // apart, a wave taken whole a little closer.
    std::chrono::microseconds spacing = postRead_ ? options_.streamSpacing : kFirstSpacing;
    {
      const int rc = csns.Read(std::string());
      if (rc != ldapx::kSuccess) {
        failed = runs.front()[1];
        return rc;
      }
      bool known = true;
      for (size_t r = 0; r < runs.size(); ++r) {
        const std::string* c = csns.Of(requests[runs[r][0]].dn);
        if (!c) {
          known = false;
          break;
        }
        lastCsn[r] = *c;
      }
      if (!known) {  // nothing to check the order by: one sibling after the other
        std::vector<int> rest;
        for (const std::vector<int>& run : runs)
          rest.insert(rest.end(), run.begin() + 1, run.end());
        const int rc2 = AddSome(requests, rest, &layout.previous, failed);
        if (rc2 == ldapx::kSuccess) {
          placed += static_cast<long>(rest.size());
          Progress(placed);
        }
        return rc2;
      }
    }
    if (postRead_ && touch_) {
      bool fallBack = false;
      const int rc =
          StreamRuns(requests, runs, base, lastCsn, kept, placed, failed, cancellable, fallBack);
      if (!fallBack) return rc;
    }
    while (true) {
      if (cancellable && guard_->Cancelled()) return ldapx::kCancelled;
      std::vector<int> sent;
      std::vector<std::pair<size_t, size_t>> span(runs.size());  // first, end in the run
      size_t widest = 0;
      for (size_t r = 0; r < runs.size(); ++r) {
        const size_t first = kept[r] + 1;
        const size_t end = blind[r] ? first : std::min(runs[r].size(), first + wave[r]);
        span[r] = {first, end};
        widest = std::max(widest, end - first);
      }
      // The runs take turns, and the adds go a little apart: the server then takes up
      // the siblings of a run in the order sent nearly always, and a wave keeps most of
      // what it sent. Sent all at once, about one in five came out of order (slapd on
      // two cores).
      std::vector<size_t> runOf;                             // position in `sent` -> run
      std::vector<std::vector<size_t>> sentAt(runs.size());  // run, position - first -> sent
      for (size_t k = 0; k < widest; ++k)
        for (size_t r = 0; r < runs.size(); ++r)
          if (span[r].first + k < span[r].second) {
            sentAt[r].push_back(sent.size());
            runOf.push_back(r);
            sent.push_back(runs[r][span[r].first + k]);
          }
      // The spacing is between two siblings of one run; the other runs' adds fill it.
      long active = 0;
      for (const auto& [first, end] : span) active += first < end ? 1 : 0;
      if (sent.empty()) {
        std::vector<int> rest;
        for (size_t r = 0; r < runs.size(); ++r)
          rest.insert(rest.end(), runs[r].begin() + static_cast<long>(kept[r] + 1), runs[r].end());
        const int rc = AddSome(requests, rest, &layout.previous, failed);
        if (rc == ldapx::kSuccess && !rest.empty()) {
          placed += static_cast<long>(rest.size());
          Progress(placed);
        }
        return rc;
      }
      // Where the server hands back each add's sequence number with its answer, a run
      // whose order broke sends nothing more in this wave: what is still in flight is
      // all that has to go again.
      std::vector<std::string> readBack(sent.size());
      std::vector<size_t> inOrder(runs.size(), 0);  // answered in order, from the first
      std::vector<std::string> orderCsn = lastCsn;
      std::vector<char> broken(runs.size(), 0);
      ldapx::Connection::AddHooks hooks;
      if (postRead_) {
        hooks.postRead = "entryCSN";
        hooks.onAdded = [&](size_t k, const std::string& csn) {
          readBack[k] = csn;
          const size_t r = runOf[k];
          while (!broken[r] && inOrder[r] < sentAt[r].size()) {
            const std::string& next = readBack[sentAt[r][inOrder[r]]];
            if (next.empty()) break;
            if (!(orderCsn[r] < next)) {
              broken[r] = 1;
            } else {
              orderCsn[r] = next;
              ++inOrder[r];
            }
          }
        };
        hooks.skip = [&](size_t k) { return broken[runOf[k]] != 0; };
      }
      const std::chrono::microseconds step = spacing / std::max(1L, active);
      const int window = postRead_ ? RoundTripWindow(base, step) : kAddWindow;
      std::vector<int> codes;
      int rc = AddSome(requests, sent, nullptr, failed, step, postRead_ ? &hooks : nullptr, &codes,
                       window);
      if (rc != ldapx::kSuccess) return rc;
      if (postRead_) {
        for (size_t k = 0; k < sent.size(); ++k)
          if (codes[k] == ldapx::kSuccess && readBack[k].empty()) postRead_ = false;
      }
      if (!postRead_) {
        std::string from;
        for (size_t r = 0; r < runs.size(); ++r)
          if (span[r].first < span[r].second && (from.empty() || lastCsn[r] < from))
            from = lastCsn[r];
        rc = csns.Read(from);
        if (rc != ldapx::kSuccess) {
          failed = sent.front();
          return rc;
        }
      }
      const auto csnOf = [&](size_t r, size_t k) -> const std::string* {
        if (!postRead_) return csns.Of(requests[runs[r][k]].dn);
        const size_t at = sentAt[r][k - span[r].first];
        return codes[at] == ldapx::kSuccess ? &readBack[at] : nullptr;
      };
      std::vector<int> undone;
      for (size_t r = 0; r < runs.size(); ++r) {
        const auto [first, end] = span[r];
        size_t k = first;
        for (; k < end; ++k) {
          const std::string* c = csnOf(r, k);
          if (!c && k == first) {
            // Sent after the entry it follows was answered, so in place; but nothing to
            // compare the rest of the run with: that goes one sibling after the other.
            blind[r] = true;
            ++k;
            break;
          }
          if (!c || !(lastCsn[r] < *c)) break;
          lastCsn[r] = *c;
        }
        placed += static_cast<long>(k - first);
        kept[r] = k - 1;
        // A wave taken whole may grow; one cut short starts again from what held. A wave
        // that stops itself where the order breaks can be as long as allowed.
        wave[r] = postRead_  ? kMaxWave
                  : k == end ? std::min(kMaxWave, wave[r] * 2)
                             : std::max<size_t>(2, (k - first) * 2);
        for (; k < end; ++k) {
          if (codes[sentAt[r][k - first]] != ldapx::kSuccess) continue;  // never sent
          undone.push_back(runs[r][k]);
        }
      }
      Progress(placed);
      if (!postRead_)
        spacing = undone.empty() ? std::max(kLeastSpacing, spacing * 4 / 5)
                                 : std::min(kMostSpacing, spacing * 3 / 2);
      rc = DeleteAgain(requests, undone, failed);
      if (rc != ldapx::kSuccess) return rc;
    }
  }

  // The runs of AddRuns as one stream, where the server hands back each write's sequence
  // number: the runs take turns, their adds go SaveOptions::streamSpacing apart, and as
  // the answers come in each run's entries are checked in order against the one before.
  // A sibling taken up before the one it follows is touched (a modify that leaves it as
  // it was but gives it a new number), and so is every sibling of its run sent after it,
  // in order, each once its add is answered; the stream does not stop for that. An
  // entry's number is the greatest handed back for it. `lastCsn` and `kept` as in
  // AddRuns, kept up to date. `fallBack` is set when the server hands back no numbers or
  // refuses a touch: the siblings added but not in place are deleted again, and the waves
  // go on from there (postRead_ or touch_ then false).
  int StreamRuns(const std::vector<ldapx::Connection::AddRequest>& requests,
                 const std::vector<std::vector<int>>& runs, const std::string& base,
                 std::vector<std::string>& lastCsn, std::vector<size_t>& kept, long& placed,
                 int& failed, bool cancellable, bool& fallBack) {
    struct Place {
      bool sent = false;   // its add went out
      bool added = false;  // its add succeeded
      bool stale = false;  // out of order: to be touched again
      int pending = 0;     // writes in flight
      std::string csn;     // the greatest number handed back for it
    };
    struct Run {
      size_t confirmed = 0;  // position of the last entry in place
      size_t next = 1;       // position of the next write
      std::vector<Place> at;
    };
    std::vector<Run> state(runs.size());
    std::unordered_map<size_t, std::pair<size_t, size_t>> where;  // request -> run, position
    size_t active = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
      state[r].confirmed = kept[r];
      state[r].next = kept[r] + 1;
      state[r].at.resize(runs[r].size());
      for (size_t k = kept[r] + 1; k < runs[r].size(); ++k)
        where.emplace(static_cast<size_t>(runs[r][k]), std::make_pair(r, k));
      active += kept[r] + 1 < runs[r].size() ? 1 : 0;
    }
    bool stop = false, cancelled = false, noNumbers = false;
    size_t turn = 0;
    long shown = placed;
    ldapx::Connection::OrderedHooks hooks;
    hooks.postRead = "entryCSN";
    hooks.touchType = "objectClass";
    hooks.next = [&]() -> std::optional<ldapx::Connection::OrderedWrite> {
      if (stop) return std::nullopt;
      if (cancellable && guard_->Cancelled()) {
        cancelled = stop = true;
        return std::nullopt;
      }
      for (size_t n = 0; n < runs.size(); ++n) {
        const size_t r = (turn + n) % runs.size();
        Run& run = state[r];
        if (run.next >= runs[r].size()) continue;
        Place& p = run.at[run.next];
        if (p.sent && !p.added) continue;  // a touch waits for the add's answer
        const ldapx::Connection::OrderedWrite w{static_cast<size_t>(runs[r][run.next]), p.sent, 0};
        p.sent = true;
        p.stale = false;
        ++p.pending;
        ++run.next;
        turn = r + 1;
        return w;
      }
      return std::nullopt;
    };
    hooks.answered = [&](const ldapx::Connection::OrderedWrite& w, int code,
                         const std::string& csn) {
      const auto [r, k] = where.at(w.index);
      Run& run = state[r];
      Place& p = run.at[k];
      --p.pending;
      if (code != ldapx::kSuccess) return;  // nothing more is sent
      if (!w.touch) p.added = true;
      if (csn.empty()) {
        noNumbers = stop = true;
        return;
      }
      if (p.csn < csn) p.csn = csn;
      while (run.confirmed + 1 < run.next) {
        const Place& q = run.at[run.confirmed + 1];
        if (q.stale || q.pending > 0 || q.csn.empty()) break;
        if (lastCsn[r] < q.csn) {
          lastCsn[r] = q.csn;
          ++run.confirmed;
          ++placed;
          continue;
        }
        // Taken up before the sibling it follows: it and all sent after it go again.
        for (size_t j = run.confirmed + 1; j < run.next; ++j) run.at[j].stale = true;
        run.next = run.confirmed + 1;
        break;
      }
      if (placed - shown >= 64) {
        shown = placed;
        Progress(placed);
      }
    };
    const std::chrono::microseconds step = options_.streamSpacing / std::max<size_t>(1, active);
    ldapx::Connection::OrderedWrite bad;
    const int rc =
        config_.connection->WriteInOrder(requests, RoundTripWindow(base, step), step, hooks, &bad);
    for (size_t r = 0; r < runs.size(); ++r) kept[r] = state[r].confirmed;
    Progress(placed);
    if (rc == ldapx::kSuccess && cancelled) return ldapx::kCancelled;
    const bool refusedTouch = rc != ldapx::kSuccess && bad.touch && rc != ldapx::kCancelled &&
                              rc != ldapx::kTimeout && rc != ldapx::kServerDown;
    if (rc != ldapx::kSuccess && !refusedTouch) {
      failed = static_cast<int>(bad.index);
      return rc;
    }
    if (rc == ldapx::kSuccess && !noNumbers) {
      for (size_t r = 0; r < runs.size(); ++r)
        if (state[r].confirmed + 1 < runs[r].size()) {
          failed = runs[r][state[r].confirmed + 1];
          return ldapx::kOther;
        }
      return ldapx::kSuccess;
    }
    // Back to the waves: what is not in place goes again there.
    fallBack = true;
    if (noNumbers) postRead_ = false;
    if (refusedTouch) touch_ = false;
    std::vector<int> undone;
    for (size_t r = 0; r < runs.size(); ++r)
      for (size_t k = state[r].confirmed + 1; k < runs[r].size(); ++k)
        if (state[r].at[k].added) undone.push_back(runs[r][k]);
    return DeleteAgain(requests, undone, failed);
  }

  // Deletes the entries of requests `which` again (siblings added out of order; they have
  // no children yet). Returns the first failure; `failed` its request.
  int DeleteAgain(const std::vector<ldapx::Connection::AddRequest>& requests,
                  const std::vector<int>& which, int& failed) {
    if (which.empty()) return ldapx::kSuccess;
    std::vector<std::string> dns;
    dns.reserve(which.size());
    for (int i : which) dns.push_back(requests[i].dn);
    int index = -1;
    const int rc = config_.connection->DeleteMany(dns, kRemoveWindow, &index);
    if (rc != ldapx::kSuccess) failed = index >= 0 ? which[index] : which.front();
    return rc;
  }

  // The most writes in flight for adds `step` apart: what one round trip to `base` holds,
  // and a few more, so that the answers are looked at while the adds go on.
  int RoundTripWindow(const std::string& base, std::chrono::microseconds step) {
    const auto trip = RoundTrip(base).value_or(std::chrono::milliseconds(5));
    return static_cast<int>(std::clamp<long>(
        trip.count() * 5 / 4 / std::max<long>(1, step.count()) + 4, 8, kAddWindow));
  }

  // True when a request to the server comes back within the options' chainedRoundTrip
  // (the best of three reads of `dn`, measured once per save). On a near server one
  // sibling after the other is several times faster than waves, whose order checks and
  // re-sent adds cost more than the wait for each answer (about 0.25 ms per sibling on
  // loopback against 1 ms in waves); far away, each answer costs a round trip.
  bool NearServer(const std::string& dn) {
    if (options_.chainedRoundTrip.count() <= 0) return false;
    const auto trip = RoundTrip(dn);
    return trip && *trip < options_.chainedRoundTrip;
  }

  // The time a request to the server takes to come back: the best of three reads of
  // `dn`, measured once per save; nothing when a read failed.
  std::optional<std::chrono::microseconds> RoundTrip(const std::string& dn) {
    if (!roundTrip_) {
      auto best = std::chrono::steady_clock::duration::max();
      for (int k = 0; k < 3; ++k) {
        const auto start = std::chrono::steady_clock::now();
        const ldapx::SearchResult r =
            config_.connection->Search(dn, ldapx::Scope::Base, "(objectClass=*)", {"1.1"});
        if (r.code != ldapx::kSuccess) return std::nullopt;
        best = std::min(best, std::chrono::steady_clock::now() - start);
      }
      roundTrip_ = std::chrono::duration_cast<std::chrono::microseconds>(best);
    }
    return roundTrip_;
  }

  // Reads the change sequence numbers of the entries below a base, all of them or those
  // from a given number on.
  class CsnReader {
   public:
    // With `oneLevel`, the entries directly below `base` only.
    CsnReader(ldapx::Connection& connection, std::string base, bool oneLevel)
        : connection_(connection), base_(std::move(base)), oneLevel_(oneLevel) {}
    // Reads the numbers not below `from` (empty: all).
    int Read(const std::string& from) {
      exact_.clear();
      normalised_.clear();
      if (!from.empty()) {
        read_ =
            connection_.Search(base_, oneLevel_ ? ldapx::Scope::OneLevel : ldapx::Scope::Subtree,
                               "(entryCSN>=" + ldapx::EscapeFilterValue(from) + ")", {"entryCSN"});
        if (read_.code == ldapx::kSuccess) return Index();
      }
      if (oneLevel_)
        read_ = connection_.Search(base_, ldapx::Scope::OneLevel, "(objectClass=*)", {"entryCSN"});
      // A size limit of the server: the whole subtree, read level by level.
      if (!oneLevel_ || read_.code != ldapx::kSuccess)
        read_ = ReadSubtree(connection_, base_, {"entryCSN"}, false);
      if (read_.code != ldapx::kSuccess) return read_.code;
      return Index();
    }
    // The number of the entry at `dn` as read (null when none was read).
    const std::string* Of(const std::string& dn) {
      const auto e = exact_.find(dn);
      if (e != exact_.end()) return e->second;
      // The server writes DNs its own way (no blank after a comma, other escapes).
      if (normalised_.empty()) {
        for (const auto& [text, csn] : exact_)
          if (const auto key = ldapx::NormalizeDn(std::string(text)))
            normalised_.emplace(*key, csn);
      }
      const auto key = ldapx::NormalizeDn(dn);
      const auto n = key ? normalised_.find(*key) : normalised_.end();
      return n == normalised_.end() ? nullptr : n->second;
    }

   private:
    int Index() {
      for (const ldapx::Entry& e : read_.entries)
        if (const ldapx::Attribute* csn = e.Find("entryCSN"); csn && !csn->values.empty())
          exact_.emplace(e.dn, &csn->values.front());
      return ldapx::kSuccess;
    }
    ldapx::Connection& connection_;
    std::string base_;
    bool oneLevel_;
    ldapx::SearchResult read_;
    std::unordered_map<std::string_view, const std::string*> exact_;
    std::unordered_map<std::string, const std::string*> normalised_;
  };

  // Adds requests `which` of `requests`, pipelined. With `previous`, each waits for the
  // sibling it follows when that is among `which`.
  int AddSome(const std::vector<ldapx::Connection::AddRequest>& requests,
              const std::vector<int>& which, const std::vector<int>* previous, int& failed,
              std::chrono::microseconds spacing = std::chrono::microseconds(0),
              const ldapx::Connection::AddHooks* hooks = nullptr, std::vector<int>* codes = nullptr,
              int window = kAddWindow) {
    std::vector<ldapx::Connection::AddRequest> batch;
    batch.reserve(which.size());
    std::unordered_map<int, int> position;
    for (size_t k = 0; k < which.size(); ++k) {
      const int i = which[k];
      int after = -1;
      if (previous && (*previous)[i] >= 0) {
        const auto p = position.find((*previous)[i]);
        if (p != position.end()) after = p->second;
      }
      if (previous) position.emplace(i, static_cast<int>(k));
      batch.push_back({requests[i].dn, requests[i].mods, after});
    }
    int index = -1;
    const int rc = config_.connection->AddMany(batch, window, &index, codes, spacing, hooks);
    if (rc != ldapx::kSuccess) failed = index >= 0 ? which[index] : which.front();
    return rc;
  }

  int WriteStaging(int& failed) {
    ldapx::Connection& conn = *config_.connection;
    const std::vector<ldapx::Connection::AddRequest> requests = StagingRequests();
    failed = -1;
    if (transactions_) {
      std::string txn;
      if (ldapx::StartTransaction(conn, txn) == ldapx::kSuccess) {
        ldapx::BatchHooks hooks;
        hooks.progress = [this](long done) { Progress(done); };
        hooks.cancelled = [this] { return guard_->Cancelled(); };
        std::vector<int> msgIds;
        int rc = ldapx::AddInTransaction(conn, txn, requests, kTxnWindow, hooks, &failed, &msgIds);
        if (rc == ldapx::kSuccess && guard_->Cancelled()) rc = ldapx::kCancelled;
        if (rc != ldapx::kSuccess) {
          ldapx::EndTransaction(conn, txn, false);
          return rc;
        }
        // The commit runs every queued add: allow it time in proportion.
        const int seconds =
            conn.timeouts().operationSeconds + static_cast<int>(requests.size() / 200);
        int failedId = -1;
        rc = ldapx::EndTransaction(conn, txn, true, &failedId, seconds);
        if (rc != ldapx::kSuccess) {
          for (size_t i = 0; i < msgIds.size(); ++i)
            if (msgIds[i] == failedId) failed = static_cast<int>(i);
        }
        return rc;
      }
      transactions_ = false;  // offered but refused: go on without
    }
    return AddInOrder(requests, stagingDn_, 0, failed, true);
  }

  int RemoveSubtree(const std::string& dn, bool self, std::string* failedDn = nullptr) {
    return directory::RemoveSubtree(*config_.connection, dn, self, failedDn);
  }

  // Removes the staging subtree after a failure before the swap (nothing of it may be
  // there; a failure here leaves a marked leftover for the next save).
  void Discard() { RemoveSubtree(stagingDn_, true); }

  // The administrator asked for it, so it is told as a fact, not as an error.
  bool Cancelled() {
    msg::Show(62143, {}, msg::Buttons::Ok, msg::Icon::Information);
    return false;
  }

  // Makes the staged subtree the configuration: the stored root renamed away and the
  // staged one to the root's DN.
  bool Swap() {
    ldapx::Connection& conn = *config_.connection;
    if (!exists_) {
      const int rc = ldapx::Rename(conn, stagingDn_, RootRdn());
      if (rc == ldapx::kSuccess) return true;
      Discard();
      if (rc == ldapx::kAlreadyExists) return ChangedMeanwhile(rc);
      Show(62138, {rootDn_, kvaro::QError(rc).Text()});
      return false;
    }
    // Two renames, not one transaction: slapd 2.5 goes down now and then when it
    // commits a transaction holding renames. Between them the root is missing for a
    // moment; a failure of the second puts the first back.
    const std::string oldRdn = Rdn(std::string(kOldMark));
    int rc = ldapx::kSuccess;
    rc = ldapx::Rename(conn, rootDn_, oldRdn);
    if (rc != ldapx::kSuccess) {
      Discard();
      // The root was read at the start: gone now, another save is between its renames.
      if (rc == ldapx::kNoSuchObject) return ChangedMeanwhile(rc);
      if (RefusedHere(rc)) return InPlace(rootDn_, rc);
      Show(62138, {rootDn_, kvaro::QError(rc).Text()});
      return false;
    }
    Stage(SaveStage::BetweenRenames);
    rc = ldapx::Rename(conn, stagingDn_, RootRdn());
    if (rc == ldapx::kSuccess) return true;
    const int undo = ldapx::Rename(conn, oldDn_, RootRdn());
    Discard();
    // Another save put its root in place meanwhile (the old copy then keeps its marked
    // name, for a later save to remove, unless that save took it already), or took the
    // staged subtree.
    if ((rc == ldapx::kAlreadyExists || rc == ldapx::kNoSuchObject) &&
        (undo == ldapx::kSuccess || undo == ldapx::kAlreadyExists || undo == ldapx::kNoSuchObject))
      return ChangedMeanwhile(rc);
    if (undo != ldapx::kSuccess) {
      Show(62145, {oldDn_, kvaro::QError(undo).Text()});
      return false;
    }
    Show(62138, {rootDn_, kvaro::QError(rc).Text()});
    return false;
  }

  // Another save changed the configuration while this one ran: this one stops, and says
  // so rather than what the directory answered.
  bool ChangedMeanwhile(int code) {
    Show(62146, {rootDn_, kvaro::QError(code).Text()});
    return false;
  }

  // The save in place, where the directory refuses the entry beside the root or the
  // subtree rename: a durable LDIF backup of the stored subtree first, then the entries
  // below the root deleted and the new ones written; on failure the backup is put back.
  bool InPlace(const std::string& refusedDn, int refusal) {
    ldapx::Connection& conn = *config_.connection;
    if (!exists_) {  // nothing stored to keep: the refusal stands
      Show(62137, {refusedDn, kvaro::QError(refusal).Text()});
      return false;
    }
    const ldapx::SearchResult stored = ReadSubtree(conn, rootDn_, {"*", "entryCSN"}, false);
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
    const std::string folder =
        options_.backupFolder.empty() ? DefaultBackupFolder() : options_.backupFolder;
    std::string name;
    for (char c : rootDn_)
      name += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    if (name.size() > 80) name.resize(80);
    const std::string path =
        folder + "/" + name + "-" + UtcStamp(0) + "-" + token_.substr(15) + ".ldif";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string error;
    if (ec || !WriteDurably(path, BackupLdif(backup), error)) {
      Show(62142, {path + (ec ? ": " + ec.message() : error.empty() ? "" : ": " + error)});
      return false;
    }
    if (guard_->Cancelled()) return Cancelled();

    guard_->SetMessage(std::string(msg::LoadString(62010)));
    std::string failedDn = rootDn_;
    bool wroteNew = false;
    int rc = RemoveSubtree(rootDn_, false, &failedDn);
    if (rc == ldapx::kSuccess) {
      guard_->SetMessage(std::string(msg::LoadString(62011)));
      std::vector<ldapx::Connection::AddRequest> requests;
      requests.reserve(plan_.size());
      for (const PlannedEntry& e : plan_) requests.push_back({e.dn, e.mods, e.after});
      int failed = -1;
      halfway_ = true;
      wroteNew = true;
      // The stored entries are gone now: a cancel is no longer taken.
      rc = AddInOrder(requests, rootDn_, 1, failed, false);
      if (rc == ldapx::kSuccess) return true;
      failedDn = failed >= 0 ? plan_[failed].dn : rootDn_;
    }
    const std::vector<std::string> notBack = Restore(backup, wroteNew);
    const std::string reason = kvaro::QError(rc).Text();
    if (notBack.empty()) {
      Show(62140, {failedDn, reason, path});
    } else {
      msg::ShowPrepared(62141,
                        {msg::Displayable(failedDn), msg::Displayable(reason),
                         msg::DisplayableLines(notBack), msg::Displayable(path)},
                        msg::Buttons::Ok, msg::Icon::Error);
    }
    return false;
  }

  // Where the server tells what a user may do (get-effective-rights), a save in place that
  // it would refuse part-way is refused before anything is written: every stored entry
  // below the root must be one the user may delete, and the root one it may add entries
  // below. Where it does not tell, or the rights cannot be read, the restore after a
  // failure is what keeps the stored configuration. False after the message.
  bool RightsAllowInPlace() {
    ldapx::Connection& conn = *config_.connection;
    if (config_.bindDn.empty() || !ldapx::OffersControl(conn, ldapx::kEffectiveRightsOid))
      return true;
    const ldapx::SearchResult rights = ldapx::ReadEntryRights(conn, rootDn_, config_.bindDn);
    if (rights.code != ldapx::kSuccess) return true;
    const auto rootKey = MatchKey(rootDn_);
    std::vector<std::string> refused;
    for (const ldapx::Entry& e : rights.entries) {
      const ldapx::Attribute* a = e.Find("entryLevelRights");
      if (!a || a->values.empty()) continue;  // nothing said: nothing known
      const char needed = MatchKey(e.dn) == rootKey ? 'a' : 'd';
      if (a->values.front().find(needed) == std::string::npos) refused.push_back(e.dn);
    }
    if (refused.empty()) return true;
    msg::ShowPrepared(62147, {msg::Displayable(config_.bindDn), msg::DisplayableLines(refused)},
                      msg::Buttons::Ok, msg::Icon::Error);
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
    ldapx::Connection& conn = *config_.connection;
    if (wroteNew) RemoveSubtree(rootDn_, false);  // what stays shows in the read below
    const size_t n = backup.entries.size();
    std::vector<std::optional<std::string>> keys(n);
    for (size_t k = 0; k < n; ++k) keys[k] = MatchKey(backup.entries[k]->dn);

    enum class Fate : char { Missing, Kept, Differs, Added };
    std::vector<Fate> fate(n, Fate::Missing);
    fate[0] = Fate::Kept;  // the root entry is never removed
    bool anyThere = false;
    {
      const ldapx::SearchResult now = ReadSubtree(conn, rootDn_, {"*", "entryCSN"}, false);
      std::unordered_map<std::string, const ldapx::Entry*> there;
      for (const ldapx::Entry& e : now.entries)
        if (auto key = MatchKey(e.dn)) there.emplace(std::move(*key), &e);
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
    const ldapx::SearchResult now =
        ReadSubtree(*config_.connection, rootDn_, {"*", "entryCSN"}, false);
    if (now.code != ldapx::kSuccess) return {rootDn_};
    std::unordered_map<std::string, const ldapx::Entry*> there;
    for (const ldapx::Entry& e : now.entries)
      if (auto key = MatchKey(e.dn)) there.emplace(std::move(*key), &e);
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
      if (const auto key = MatchKey(e.dn); key && there.count(*key)) out.push_back(e.dn);
    return out;
  }

  Configuration& config_;
  PleaseWait* wait_;
  const SaveOptions& options_;
  WaitGuard* guard_ = nullptr;
  std::string rootDn_;
  EntryPlan plan_;
  long total_ = 0;
  size_t firstForm_ = 0;
  bool halfway_ = false;
  bool formsShown_ = false;
  bool exists_ = false;
  ldapx::Entry rootEntry_;
  std::string rdnType_, rdnValue_, parentDn_, token_, stagingDn_, oldDn_;
  bool transactions_ = false;
  std::optional<std::chrono::microseconds> roundTrip_;
  // Sequence numbers are asked for with the adds' answers (SaveOptions::readBackOrder);
  // false once the server sent none.
  bool postRead_ = true;
  // Siblings out of order are touched (SaveOptions::touchOutOfOrder); false once the
  // server refused a touch.
  bool touch_ = true;
};

}  // namespace

bool RemoveOldCopy(const OldCopy& copy) {
  if (copy.dn.empty() && copy.leftoversOf.empty()) return true;
  std::string where = copy.dn.empty() ? copy.leftoversOf : copy.dn;
  // The same protection as the logon: never in plain text where the logon was not.
  const Logon logon =
      OpenAndBind(copy.host, copy.port, copy.bindDn, copy.password, copy.timeouts, copy.tls);
  int error = logon.code != ldapx::kSuccess ? logon.code : ldapx::kServerDown;
  if (logon.connection) {
    error =
        copy.dn.empty() ? ldapx::kSuccess : RemoveSubtree(*logon.connection, copy.dn, true, &where);
    if (!copy.leftoversOf.empty() && error != ldapx::kCancelled)
      ClearLeftovers(*logon.connection, copy.leftoversOf, copy.leftoverSeconds);
  }
  if (error == ldapx::kSuccess) return true;
  if (error != ldapx::kCancelled)
    msg::Show(62139, {where, kvaro::QError(error).Text()}, msg::Buttons::Ok, msg::Icon::Warning);
  return false;
}

std::string DefaultBackupFolder() { return DataHome() + "/orvelle/backups"; }

bool SaveConfiguration(Configuration& configuration, PleaseWait* wait, const SaveOptions& options) {
  if (configuration.startupMode != StartupMode::kDirectory) {
    const msg::Outcome saved = SaveToFiles(configuration);
    msg::Show(saved);
    return bool(saved);
  }
  return DirectorySaver(configuration, wait, options).Run();
}

}  // namespace directory
