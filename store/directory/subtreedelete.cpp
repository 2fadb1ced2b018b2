#include "store/directory/subtreedelete.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "platform/ldap/qerror.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/version.h"

namespace directory {

namespace {

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

// `kept` (by entry index, may be empty): entries directly below the base that stay, with
// what is below them going; the base then stays too.
DeleteOrder OrderForDelete(const ldapx::SearchResult& all, const std::vector<long>& parents,
                           const std::string& dn, bool deleteSelf,
                           const std::vector<char>& kept = {}) {
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
  if (!kept.empty()) {
    std::vector<size_t> below;
    for (size_t i : top) {
      if (!kept[i]) {
        below.push_back(i);
      } else {
        below.insert(below.end(), children[i].begin(), children[i].end());
        deleteSelf = false;
      }
    }
    top = std::move(below);
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

// What a batch of deletes of `dns` answered (`codes`, as DeleteMany gives them): the
// first failure, its DN in `failedDn`; an entry already gone counts as removed.
int FirstFailure(const std::vector<int>& codes, const std::vector<std::string>& dns,
                 std::string* failedDn) {
  // The server's answer that stopped the deletes. A parent that waited for a refused child
  // comes earlier in the list but was never sent: that is no reason of its own.
  int notSent = -1;
  for (size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] == ldapx::kSuccess || codes[i] == ldapx::kNoSuchObject) continue;
    if (codes[i] == ldapx::kNotSent) {
      if (notSent < 0) notSent = static_cast<int>(i);
      continue;
    }
    if (failedDn) *failedDn = dns[i];
    return codes[i];
  }
  if (notSent >= 0) {
    if (failedDn) *failedDn = dns[notSent];
    return ldapx::kOther;
  }
  return ldapx::kSuccess;
}

}  // namespace

msg::Outcome DeleteSubtree(ldapx::Connection& connection, const std::string& dn, bool deleteSelf) {
  // One search reads the whole subtree. The entries are deleted in the order a
  // level-by-level walk would take them (each child's subtree, children before their
  // parent, siblings in the server's order), with many deletes in flight: each waits
  // only for its own children. The entries are read with their attributes so that any
  // deleted ahead of a refused one can be put back, which leaves the directory as a
  // one-at-a-time walk that stops at the refusal would.
  const ldapx::SearchResult all = ReadSubtree(connection, dn, {"*"}, false);
  if (all.code != ldapx::kSuccess) {
    return msg::Problem{61263, {dn, kvaro::QError(all.code).Text()}, msg::Icon::Error};
  }
  const std::vector<long> parents = ParentIndexes(all, dn);
  const size_t count = all.entries.size();
  DeleteOrder plan = OrderForDelete(all, parents, dn, deleteSelf);
  std::vector<size_t>& order = plan.order;
  std::vector<std::string>& dns = plan.dns;
  std::vector<std::vector<int>>& needs = plan.needs;
  if (dns.empty()) return {};

  int failed = -1;
  std::vector<int> codes;
  int rc = connection.DeleteMany(dns, needs, kDeleteWindow, &failed, &codes);
  if (rc == ldapx::kSuccess) return {};

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
  msg::Outcome refused =
      msg::Problem{61264, {dns[failed], kvaro::QError(rc).Text()}, msg::Icon::Error};
  // Only when the directory refused to take back an entry it had just given up: the
  // administrator must know that something is missing now.
  if (lost)
    refused.problems.push_back(
        msg::Problem{62122, {*lost, kvaro::QError(lostCode).Text()}, msg::Icon::Error});
  return refused;
}

int RemoveSubtree(ldapx::Connection& conn, const std::string& dn, bool self, std::string* failedDn,
                  const std::vector<std::string>& keep) {
  const ldapx::SearchResult all = ReadSubtree(conn, dn, {"1.1"}, true);
  if (all.code == ldapx::kNoSuchObject) return ldapx::kSuccess;
  if (all.code != ldapx::kSuccess) {
    if (failedDn) *failedDn = dn;
    return all.code;
  }
  const std::vector<long> parents = ParentIndexes(all, dn);
  std::vector<char> kept;
  if (!keep.empty()) {
    std::unordered_set<std::string> keys;
    for (const std::string& k : keep) keys.insert(DnKey(k));
    kept.assign(all.entries.size(), 0);
    for (size_t i = 0; i < all.entries.size(); ++i)
      kept[i] = parents[i] == kParentIsBase && keys.count(DnKey(all.entries[i].dn)) > 0;
  }
  const DeleteOrder order = OrderForDelete(all, parents, dn, self, kept);
  if (order.dns.empty()) return ldapx::kSuccess;
  int failed = -1;
  std::vector<int> codes;
  if (conn.DeleteMany(order.dns, order.needs, kRemoveWindow, &failed, &codes) == ldapx::kCancelled)
    return ldapx::kCancelled;
  return FirstFailure(codes, order.dns, failedDn);
}

int RemoveEntries(ldapx::Connection& conn, const std::vector<std::string>& dns,
                  std::string* failedDn) {
  if (dns.empty()) return ldapx::kSuccess;
  int failed = -1;
  std::vector<int> codes;
  if (conn.DeleteMany(dns, kRemoveWindow, &failed, &codes) == ldapx::kCancelled)
    return ldapx::kCancelled;
  return FirstFailure(codes, dns, failedDn);
}

}  // namespace directory
