#include "store/directory/directoryload.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/ldap/dn.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "platform/support/qstringlist.h"
#include "platform/support/savetags.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"
#include "store/directory/leftovers.h"
#include "store/directory/version.h"

namespace directory {

namespace {

using ldapx::kAdminLimitExceeded;
using ldapx::kSizeLimitExceeded;
using ldapx::kUnavailableCriticalExtension;
// Entries asked for in one page. Each page costs a round trip, so the first read asks
// for the whole subtree in one; a server that refuses that (389 Directory Server does
// above the user's size limit) is asked again in pages well below the usual per-search
// limits (2,000 in 389 Directory Server, 500 in slapd's default).
constexpr int kWholePage = 1000000;
constexpr int kPageSize = 500;

bool OverLimit(int code) { return code == kSizeLimitExceeded || code == kAdminLimitExceeded; }

// Every entry of a subtree. 389 Directory Server leaves the entries of class ldapSubEntry
// out of a search unless its filter asks for that class, and it gives that class to the
// second copy of a record that replication added or renamed on two servers at once: those
// must be seen to be named and removed. Servers that do not know the class match the
// first half alone.
constexpr const char* kEveryEntry = "(|(objectClass=*)(objectClass=ldapSubEntry))";

// What replication between servers that both take writes leaves in a subtree, by how
// 389 Directory Server marks it: the second copy of an entry added or renamed on two
// servers at once, named "<RDN>+nsuniqueid=<id>" and holding nsds5ReplConflict; and a glue
// entry (object class glue) that stands for an entry removed on one server while another
// added below it, resurrected with its old attributes or made up for the purpose.
bool IsReplicationLeftover(const ldapx::Entry& e, const ldapx::RdnSplit* first) {
  if (const ldapx::Attribute* conflict = e.Find("nsds5ReplConflict");
      conflict && !conflict->values.empty())
    return true;
  if (const ldapx::Attribute* classes = e.Find("objectClass"))
    for (const std::string& c : classes->values)
      if (SameIgnoringCase(c, "glue")) return true;
  if (first)
    for (const ldapx::Ava& ava : first->rdn)
      if (SameIgnoringCase(ava.type, "nsUniqueId")) return true;
  return false;
}

// The entries by their DN text as the server wrote it: open addressing over indexes.
// The DNs of a large subtree are long and alike; a table of nodes (std::unordered_map)
// spent more time on its allocations and cache misses than on hashing.
class DnTextIndex {
 public:
  explicit DnTextIndex(const std::vector<ldapx::Entry>& entries) : entries_(entries) {
    size_t size = 16;
    while (size < entries.size() * 2) size *= 2;
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    for (size_t i = 0; i < entries.size(); ++i) {
      const std::string& dn = entries[i].dn;
      if (dn.empty()) continue;
      const size_t hash = Hash(dn);
      size_t at = hash & mask_;
      bool known = false;
      for (; slots_[at].index >= 0 && !known; at = (at + 1) & mask_)
        known = slots_[at].hash == hash && entries_[slots_[at].index].dn == dn;
      if (!known) slots_[at] = Slot{hash, static_cast<long>(i)};  // the first of equal DNs
    }
  }
  // The index of the first entry whose DN is `text`, or -1.
  long Find(std::string_view text) const {
    const size_t hash = Hash(text);
    for (size_t at = hash & mask_; slots_[at].index >= 0; at = (at + 1) & mask_)
      if (slots_[at].hash == hash && entries_[slots_[at].index].dn == text) return slots_[at].index;
    return -1;
  }

 private:
  struct Slot {
    size_t hash = 0;
    long index = -1;
  };
  static size_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }
  const std::vector<ldapx::Entry>& entries_;
  std::vector<Slot> slots_;
  size_t mask_ = 0;
};

// Where each entry of a read of the subtree at a base sits: the index of its parent
// entry (as ParentIndexes), and the first RDN of its DN.
struct Placement {
  std::vector<long> parents;
  std::vector<std::optional<ldapx::RdnSplit>> firstRdns;  // nullopt: the DN starts with none
};

Placement PlaceEntries(const std::vector<ldapx::Entry>& entries, const std::string& base) {
  Placement out;
  out.parents.assign(entries.size(), kNoParent);
  out.firstRdns.resize(entries.size());
  // The server writes a child's DN as its RDN, a comma and the parent's DN as stored, so
  // an exact look-up of the text after the first RDN finds the parent in the usual case
  // without parsing the whole DN, which would be most of the load's own time. DNs written
  // another way (other case, blanks) are parsed and compared as the server compares them.
  const DnTextIndex exact(entries);
  const std::optional<ldapx::Dn> baseDn = ldapx::Dn::Parse(base);
  std::string_view baseText = base;
  if (exact.Find(baseText) < 0 && baseDn) {
    for (const ldapx::Entry& e : entries)
      if (!e.dn.empty() && ldapx::Dn::Parse(e.dn) == baseDn) {
        baseText = e.dn;
        break;
      }
  }
  std::unordered_map<std::string, long> byKey;  // built when first needed
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& dn = entries[i].dn;
    if (dn.empty()) continue;
    const std::optional<ldapx::RdnSplit>& first = out.firstRdns[i] = ldapx::SplitFirstRdn(dn);
    if (dn == baseText) continue;
    if (first && first->parent == baseText) {
      out.parents[i] = kParentIsBase;
      continue;
    }
    if (first) {
      if (const long parent = exact.Find(first->parent); parent >= 0) {
        out.parents[i] = parent;
        continue;
      }
    }
    const std::optional<ldapx::Dn> parsed = ldapx::Dn::Parse(dn);
    // The base itself written another way, or no DN.
    if (!parsed || parsed->IsRoot() || (baseDn && *parsed == *baseDn)) continue;
    const ldapx::Dn parent = parsed->Parent();
    if (baseDn && parent == *baseDn) {
      out.parents[i] = kParentIsBase;
      continue;
    }
    if (byKey.empty())
      for (size_t k = 0; k < entries.size(); ++k)
        if (!entries[k].dn.empty())
          if (const auto other = ldapx::Dn::Parse(entries[k].dn))
            byKey.emplace(other->Key(), static_cast<long>(k));
    if (const auto it = byKey.find(parent.Key()); it != byKey.end()) out.parents[i] = it->second;
  }
  return out;
}

// One entry of the subtree with its place in it.
struct Node {
  const ldapx::Entry* entry = nullptr;
  const ldapx::RdnSplit* first = nullptr;  // the first RDN of its DN, when it has one
  const std::string* csn = nullptr;        // the entry's entryCSN, when the server keeps one
  std::vector<const Node*> children;       // in the order the entries were added
  mutable bool read = false;               // it became (part of) a record of the configuration
};

// Puts children in the order they were added. The server hands siblings out in an order
// of its own (OpenLDAP: shorter names first), but the order of rule sets, rules and forms
// is part of the configuration. Every add gets a change sequence number that grows with
// time, so sorting by it gives the order of writing; without one for every sibling the
// server's order stays.
void InWritingOrder(std::vector<const Node*>& children) {
  for (const Node* n : children)
    if (!n->csn) return;
  std::stable_sort(children.begin(), children.end(),
                   [](const Node* a, const Node* b) { return *a->csn < *b->csn; });
}

class SubtreeLoader {
 public:
  SubtreeLoader(Configuration& config, const std::string& subtreeDn, const kvaro::Oidtable& table,
                msg::Problems& warnings)
      : config_(config), subtreeDn_(subtreeDn), table_(table), warnings_(warnings) {}

  // `besideRoot`: replication's copies of the root entry itself, named in the same
  // warning as the leftovers inside the subtree.
  void Load(const ldapx::SearchResult& result, const std::vector<std::string>& besideRoot = {}) {
    nodes_.resize(result.entries.size());
    placement_ = PlaceEntries(result.entries, subtreeDn_);
    const std::vector<long>& parents = placement_.parents;
    Node root;
    for (size_t i = 0; i < result.entries.size(); ++i) {
      nodes_[i].entry = &result.entries[i];
      if (const auto& first = placement_.firstRdns[i]) nodes_[i].first = &*first;
      if (const ldapx::Attribute* csn = result.entries[i].Find("entryCSN");
          csn && !csn->values.empty())
        nodes_[i].csn = &csn->values.front();
    }
    // Replication's leftovers never become records, nor do the entries below them: they
    // hang in no tree, and only the highest of them is named.
    std::vector<char> leftover(result.entries.size(), 0);
    for (size_t i = 0; i < result.entries.size(); ++i)
      leftover[i] = IsReplicationLeftover(result.entries[i], nodes_[i].first);
    std::vector<std::string> replicated = besideRoot;
    for (size_t i = 0; i < result.entries.size(); ++i) {
      if (leftover[i]) {
        bool highest = parents[i] != kNoParent;
        for (long up = parents[i]; highest && up >= 0; up = parents[up]) highest = !leftover[up];
        if (highest) replicated.push_back(result.entries[i].dn);
        continue;
      }
      if (parents[i] == kParentIsBase) {
        root.children.push_back(&nodes_[i]);
      } else if (parents[i] >= 0) {
        nodes_[parents[i]].children.push_back(&nodes_[i]);
      }
    }
    InWritingOrder(root.children);
    for (Node& n : nodes_) InWritingOrder(n.children);
    LoadRuleSets(root);
    LoadForms(root);
    // A save replaces the whole subtree, so what the load left out goes with the next
    // save: say so now, each time for the highest such entry only.
    std::vector<std::string> unread;
    ListUnread(root, unread);
    if (!unread.empty())
      warnings_.push_back(
          msg::Problem{62259, {msg::DisplayableLines(unread)}, msg::Icon::Warning, true});
    if (!replicated.empty())
      warnings_.push_back(msg::Problem{msg::id::kReplicationLeftovers,
                                       {msg::DisplayableLines(replicated)},
                                       msg::Icon::Warning,
                                       true});
  }

 private:
  void Warn(int id, std::vector<std::string> args) {
    warnings_.push_back(msg::Problem{id, std::move(args), msg::Icon::Warning});
  }
  // Whether attribute `a` is the attribute `expected`, by the attribute table (by name
  // when the table does not know the expected name).
  bool Is(const ldapx::Attribute& a, std::string_view expected) const {
    const kvaro::QAttrT* want = Lookup(expected);
    if (!want) return SameIgnoringCase(a.type, expected);
    return Lookup(a.type) == want;
  }
  // Oidtable::str2at, remembered: the server sends the same few type names on every
  // entry, and each entry is asked about them many times.
  const kvaro::QAttrT* Lookup(std::string_view name) const {
    for (const auto& [known, at] : lookups_)
      if (known == name) return at;
    const kvaro::QAttrT* at = table_.str2at(name);
    lookups_.emplace_back(std::string(name), at);
    return at;
  }
  const ldapx::Attribute* Get(const ldapx::Entry& e, std::string_view expected) const {
    // Servers name the attributes as the schema does, so the name alone finds them;
    // the table is asked only for another name or the OID of the type.
    for (const ldapx::Attribute& a : e.attributes)
      if (SameIgnoringCase(a.type, expected)) return &a;
    const kvaro::QAttrT* want = Lookup(expected);
    if (!want) return nullptr;
    for (const ldapx::Attribute& a : e.attributes)
      if (Lookup(a.type) == want) return &a;
    return nullptr;
  }
  std::string First(const ldapx::Entry& e, std::string_view expected) const {
    const ldapx::Attribute* a = Get(e, expected);
    return a && !a->values.empty() ? a->values.front() : std::string();
  }
  bool HasClass(const ldapx::Entry& e, std::string_view objectClass) const {
    if (const ldapx::Attribute* a = e.Find("objectClass"))
      for (const std::string& v : a->values)
        if (SameIgnoringCase(v, objectClass)) return true;
    return false;
  }
  // The entry's name: its RDN value when that is one of its cn values (so names with
  // special characters come back exactly), else the first cn value.
  std::string Name(const Node& node) const {
    const ldapx::Attribute* cn = Get(*node.entry, "cn");
    if (!cn || cn->values.empty()) return {};
    if (node.first && node.first->rdn.size() == 1) {
      const ldapx::Ava& rdn = node.first->rdn.front();
      if (Lookup(rdn.type) == Lookup("cn") || SameIgnoringCase(rdn.type, "cn")) {
        for (const std::string& v : cn->values)
          if (v == rdn.value) return v;
        // Some servers (389 Directory Server) store the naming value as they normalise
        // it, without leading and trailing blanks; the DN keeps the name as written.
        const std::string want = ldapx::MatchValue(rdn.value);
        for (const std::string& v : cn->values)
          if (ldapx::MatchValue(v) == want) return rdn.value;
      }
    }
    return cn->values.front();
  }
  // The first child whose cn matches `name` as the server would match "(cn=name)".
  const Node* ChildNamed(const Node& parent, const std::string& name) const {
    const std::string want = ldapx::MatchValue(name);
    for (const Node* child : parent.children)
      if (const ldapx::Attribute* cn = Get(*child->entry, "cn"))
        for (const std::string& v : cn->values)
          if (ldapx::MatchValue(v) == want) return child;
    return nullptr;
  }
  static std::vector<std::string> Split(const std::string& value) {
    kvaro::QStringList list;
    list.SetSplitString(value, '$');
    return std::vector<std::string>(list.begin(), list.end());
  }

  static void ListUnread(const Node& parent, std::vector<std::string>& out) {
    for (const Node* child : parent.children) {
      if (!child->read)
        out.push_back(child->entry->dn);
      else
        ListUnread(*child, out);
    }
  }

  void LoadRuleSets(const Node& root) {
    for (const Node* node : root.children) {
      if (!HasClass(*node->entry, "ovRuleSet")) continue;
      node->read = true;
      auto ruleSet = std::make_unique<RuleSet>(Name(*node));
      LoadRules(*node, *ruleSet);
      // Appended as read, as the stores keep them (two rule sets of one name stay two).
      config_.ruleSets.push_back(std::move(ruleSet));
      config_.ruleSetIndex.Appended(config_.ruleSets);
    }
  }

  void LoadRules(const Node& ruleSetNode, RuleSet& ruleSet) {
    std::vector<std::pair<const ldapx::Entry*, SearchRule*>> built;
    for (const Node* node : ruleSetNode.children) {
      const ldapx::Entry& e = *node->entry;
      if (!HasClass(e, "ovSearchClass")) continue;
      const std::string name = Name(*node);
      const std::string uri = First(e, "ovLDAPURI");
      std::vector<std::string> classes;
      for (const ldapx::Attribute& a : e.attributes) {
        if (!Is(a, "ovObjectClassDefinition")) continue;
        for (const std::string& v : a.values) {
          if (table_.str2oc(v)) {
            classes.push_back(v);
          } else {
            Warn(62001, {v, e.dn});
          }
        }
      }
      std::unique_ptr<SearchRule> rule;
      if (!classes.empty()) {
        rule = std::make_unique<SearchRule>(&ruleSet, name, std::vector<SearchRule*>{}, classes);
      } else if (!uri.empty()) {
        rule = std::make_unique<SearchRule>(&ruleSet, name, std::vector<SearchRule*>{}, uri);
      } else {
        Warn(62002, {e.dn});
        continue;
      }
      if (SearchRule* stored = ruleSet.AddRule(std::move(rule))) {
        node->read = true;
        built.emplace_back(&e, stored);
      }
    }
    std::vector<SearchRule*> searchable;
    for (const auto& [entry, rule] : built) {
      searchable.clear();
      for (const ldapx::Attribute& a : entry->attributes) {
        if (!Is(a, "ovSearchClassList")) continue;
        for (const std::string& v : a.values)
          for (const std::string& name : Split(v))
            if (SearchRule* target = ruleSet.FindRule(name)) searchable.push_back(target);
      }
      rule->AddSearchableRules(searchable);
    }
  }

  void LoadForms(const Node& root) {
    for (const Node* node : root.children) {
      const ldapx::Entry& e = *node->entry;
      if (!HasClass(e, "ovSearchForm")) continue;
      const std::string ruleSetName = First(e, "ovRuleSetName");
      RuleSet* ruleSet = config_.FindRuleSet(ruleSetName);
      if (!ruleSet) Warn(62003, {ruleSetName, e.dn});

      std::unique_ptr<InputGroup> target;
      std::vector<std::unique_ptr<InputGroup>> further;
      bool first = true;
      if (const ldapx::Attribute* list = Get(e, "ovInputList"); list && !list->values.empty()) {
        for (const std::string& groupName : Split(list->values.front())) {
          std::unique_ptr<InputGroup> group = LoadInputGroup(*node, groupName, ruleSet);
          if (first) {
            target = std::move(group);
            first = false;
          } else if (group) {
            further.push_back(std::move(group));
          }
        }
      }
      if (!target) {
        Warn(62004, {e.dn});
        continue;
      }
      node->read = true;
      auto form =
          std::make_unique<SearchForm>(Name(*node), ruleSet, std::move(target), std::move(further));
      form->toolTip = First(e, "ovToolTip");
      form->helpString = First(e, "ovHelpString");
      config_.searchForms.push_back(std::move(form));
      config_.formIndex.Appended(config_.searchForms);
    }
  }

  std::unique_ptr<InputGroup> LoadInputGroup(const Node& formNode, const std::string& name,
                                             RuleSet* ruleSet) {
    const Node* node = ChildNamed(formNode, name);
    if (!node) return nullptr;
    const ldapx::Entry& e = *node->entry;
    const std::string groupName = Name(*node);
    const std::string ruleName = First(e, "ovSearchClassName");
    std::vector<std::unique_ptr<InputField>> fields;
    if (const ldapx::Attribute* list = Get(e, "ovFieldList"); list && !list->values.empty()) {
      for (const std::string& fieldName : Split(list->values.front())) {
        if (auto field = LoadInputField(*node, fieldName)) {
          fields.push_back(std::move(field));
        } else {
          Warn(62005, {fieldName, e.dn});
        }
      }
    }
    SearchRule* rule = ruleSet ? ruleSet->FindRule(ruleName) : nullptr;
    if (!rule) {
      Warn(62006, {ruleName, e.dn});
      return nullptr;
    }
    if (fields.empty()) {
      Warn(62007, {groupName, formNode.entry->dn});
      return nullptr;
    }
    node->read = true;
    return std::make_unique<InputGroup>(groupName, rule, std::move(fields));
  }

  std::unique_ptr<InputField> LoadInputField(const Node& groupNode, const std::string& name) {
    const Node* node = ChildNamed(groupNode, name);
    if (!node) return nullptr;
    const ldapx::Entry& e = *node->entry;
    std::vector<std::string> types;
    if (const ldapx::Attribute* list = Get(e, "ovFiltAttrList"); list && !list->values.empty()) {
      for (const std::string& t : Split(list->values.front())) {
        if (!table_.str2at(t)) Warn(62008, {e.dn});
        types.push_back(t);
      }
    }
    if (types.empty()) {
      Warn(62008, {e.dn});
      return nullptr;
    }
    node->read = true;
    return std::make_unique<InputField>(Name(*node), std::string(), types);
  }

  Configuration& config_;
  const std::string& subtreeDn_;
  const kvaro::Oidtable& table_;
  msg::Problems& warnings_;
  mutable std::vector<std::pair<std::string, const kvaro::QAttrT*>> lookups_;
  Placement placement_;
  std::vector<Node> nodes_;
};

const std::vector<std::string>& LoadAttributes() {
  static const std::vector<std::string> attrs = {"objectClass",
                                                 "cn",
                                                 "ovObjectClassDefinition",
                                                 "ovSearchClassList",
                                                 "ovLDAPURI",
                                                 "ovInputList",
                                                 "ovRuleSetName",
                                                 "ovToolTip",
                                                 "ovHelpString",
                                                 "ovFieldList",
                                                 "ovSearchClassName",
                                                 "ovFiltAttrList",
                                                 "entryCSN",
                                                 "nsds5ReplConflict"};
  return attrs;
}

void ReadLevels(ldapx::Connection& connection, const std::string& base,
                const std::vector<std::string>& attributes, bool typesOnly,
                ldapx::SearchResult& out) {
  ldapx::SearchResult level =
      connection.Search(base, ldapx::Scope::OneLevel, kEveryEntry, attributes, typesOnly);
  if (level.code != ldapx::kSuccess) {
    if (out.code == ldapx::kSuccess) out.code = level.code;
    return;
  }
  for (ldapx::Entry& e : level.entries) {
    const std::string dn = e.dn;
    out.entries.push_back(std::move(e));
    if (!dn.empty()) ReadLevels(connection, dn, attributes, typesOnly, out);
    // One failed read fails the whole: against a server that stopped answering, each
    // further read would wait out the operation limit again.
    if (out.code != ldapx::kSuccess) return;
  }
}

}  // namespace

ldapx::SearchResult ReadSubtree(ldapx::Connection& connection, const std::string& base,
                                const std::vector<std::string>& attributes, bool typesOnly) {
  // Page by page: a server that limits how many entries one search of this user may
  // return still hands out the whole subtree that way. The control is critical, so a
  // server that cannot page refuses rather than answers in one piece, which its size
  // limit could cut; only then is the root DSE asked whether it pages at all.
  ldapx::SearchResult paged = connection.SearchPaged(base, ldapx::Scope::Subtree, kEveryEntry,
                                                     attributes, typesOnly, kWholePage);
  // Negative codes are the client's own (lost, timed out, cancelled), not an answer.
  const auto refused = [](int code) {
    return code > ldapx::kSuccess && code != ldapx::kNoSuchObject;
  };
  // Any refusal of so large a page (not only a size limit's) is asked again in pages as
  // small as ever.
  if (refused(paged.code) && paged.code != kUnavailableCriticalExtension)
    paged = connection.SearchPaged(base, ldapx::Scope::Subtree, kEveryEntry, attributes, typesOnly,
                                   kPageSize);
  const bool pages =
      !refused(paged.code) || (paged.code != kUnavailableCriticalExtension &&
                               ldapx::OffersControl(connection, ldapx::kPagedResultsOid));
  if (!OverLimit(paged.code) && pages) return paged;
  ldapx::SearchResult all =
      connection.Search(base, ldapx::Scope::Subtree, kEveryEntry, attributes, typesOnly);
  if (!OverLimit(all.code)) return all;
  // The server will not hand out the whole subtree at once to this user: read it level
  // by level, which each stay within the limit in the usual case.
  ldapx::SearchResult out =
      connection.Search(base, ldapx::Scope::Base, kEveryEntry, attributes, typesOnly);
  if (out.code != ldapx::kSuccess) return out;
  ReadLevels(connection, base, attributes, typesOnly, out);
  if (out.code != ldapx::kSuccess) out.entries.clear();
  return out;
}

std::vector<long> ParentIndexes(const ldapx::SearchResult& result, const std::string& base) {
  return PlaceEntries(result.entries, base).parents;
}

namespace {

// The configuration roots beside `rootDn` whose names start as a swap names the root it
// renames away ("<root name>.orvelle-old-"), read with `attributes`; kNoSuchObject as the
// code where `rootDn` has no parent.
ldapx::SearchResult OldRootsBeside(ldapx::Connection& connection, const std::string& rootDn,
                                   const std::vector<std::string>& attributes) {
  const auto rdn = ldapx::FirstRdn(rootDn);
  const auto parent = ldapx::ParentDn(rootDn);
  if (!rdn || !parent || parent->empty()) {
    ldapx::SearchResult none;
    none.code = ldapx::kNoSuchObject;
    return none;
  }
  const std::string filter = "(&(objectClass=ovConfigurationRoot)(" + rdn->type + "=" +
                             ldapx::EscapeFilterValue(rdn->value + std::string(kOldMark)) + "*))";
  return connection.Search(*parent, ldapx::Scope::OneLevel, filter, attributes);
}

// Whether a save's swap may be under way at `rootDn`: a configuration root renamed away
// by a swap ("<root name>.orvelle-old-...") stands beside it.
bool SwapUnderway(ldapx::Connection& connection, const std::string& rootDn) {
  const ldapx::SearchResult old = OldRootsBeside(connection, rootDn, {"1.1"});
  return old.code == ldapx::kSuccess && !old.entries.empty();
}

// The DN of the configuration that a save's swap renamed away from `rootDn` and never
// replaced (the program or the server ended between the two renames), else empty: the
// one of the saves' old copies beside the root renamed away last. Only names a save gives
// count ("<root name>.orvelle-old-" + a unique id or a save's tag).
std::string InterruptedSwapCopy(ldapx::Connection& connection, const std::string& rootDn) {
  const ldapx::SearchResult found = OldRootsBeside(connection, rootDn, {"modifyTimestamp"});
  if (found.code != ldapx::kSuccess) return {};
  const std::string old = ldapx::FirstRdn(rootDn)->value + std::string(kOldMark);
  std::string latest, latestTime;
  for (const ldapx::Entry& e : found.entries) {
    const auto first = ldapx::FirstRdn(e.dn);
    if (!first || first->value.size() <= old.size()) continue;
    const std::string_view tag = std::string_view(first->value).substr(old.size());
    if (!kvaro::IsTimedTag(tag) && !IsIdTag(tag)) continue;
    const ldapx::Attribute* when = e.Find("modifyTimestamp");
    const std::string time = when && !when->values.empty() ? when->values.front() : std::string();
    if (latest.empty() || time > latestTime) {
      latest = e.dn;
      latestTime = time;
    }
  }
  return latest;
}

// How often the root entry is in `result` (the read of the subtree at `rootDn`).
int RootCount(const ldapx::SearchResult& result, const std::string& rootDn) {
  const std::optional<ldapx::Dn> root = ldapx::Dn::Parse(rootDn);
  int count = 0;
  for (const ldapx::Entry& e : result.entries)
    if (root && !e.dn.empty() && ldapx::Dn::Parse(e.dn) == root) ++count;
  return count;
}

// A read of the subtree that a save's swap does not cut in two. The swap renames the
// stored root away and the new one into its place; a read-only copy replays the two
// renames one after the other. A read between them finds no root: where the old root
// stands beside it, the read is repeated until the new one is in place. A read of several
// pages across the swap gets the pages before it from the old subtree and the rest from
// the new one (slapd goes on from the last entry it sent, and every new entry comes after
// the old ones), the new root among them: a read that holds the root twice is repeated.
// Both for at most kSwapWaitMs; then the read stands as it is.
constexpr int kSwapWaitMs = 3000;
// Whether `result`, a read of the subtree at the root, found no root: 389 Directory
// Server answers a read below a base that is not there with success and no entries where
// the user may not learn whether it exists.
bool RootMissing(const ldapx::SearchResult& result) {
  return result.code == ldapx::kNoSuchObject ||
         (result.code == ldapx::kSuccess && result.entries.empty());
}
ldapx::SearchResult ReadWholeSubtree(ldapx::Connection& connection, const std::string& rootDn) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSwapWaitMs);
  ldapx::SearchResult result = ReadSubtree(connection, rootDn, LoadAttributes(), false);
  while (std::chrono::steady_clock::now() < until) {
    const bool between = RootMissing(result) && SwapUnderway(connection, rootDn);
    const bool straddled = result.code == ldapx::kSuccess && RootCount(result, rootDn) > 1;
    if (!between && !straddled) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(between ? 50 : 0));
    result = ReadSubtree(connection, rootDn, LoadAttributes(), false);
  }
  return result;
}

// LoadSubtree; `rootCopies` (may be null) receives the DNs of replication's copies of the
// root beside it, which the warning names too; `aside` (may be null) whether the
// configuration was read from a stopped save's old copy instead of the missing root.
bool LoadSubtreeWithCopies(Configuration& configuration, const std::string& subtreeDn,
                           const kvaro::Oidtable& table, ldapx::Connection& connection,
                           msg::Problems& warnings, int* code, bool* notConfiguration,
                           std::vector<std::string>* rootCopies, bool* aside) {
  if (aside) *aside = false;
  if (notConfiguration) *notConfiguration = false;
  ldapx::SearchResult result = ReadWholeSubtree(connection, subtreeDn);
  // A root missing for good with the stored configuration renamed away beside it: loading
  // nothing would let the next save put an empty configuration in its place and remove
  // the stored one. The old copy is loaded instead; the next save (a whole one: the
  // versions of the root were not read) writes it back at the root's name.
  std::string loadedFrom = subtreeDn;
  if (RootMissing(result)) {
    const std::string copy = InterruptedSwapCopy(connection, subtreeDn);
    if (!copy.empty()) {
      ldapx::SearchResult kept = ReadSubtree(connection, copy, LoadAttributes(), false);
      if (kept.code == ldapx::kSuccess) {
        result = std::move(kept);
        loadedFrom = copy;
        if (aside) *aside = true;
        warnings.push_back(
            msg::Problem{msg::id::kRootRenamedAway, {subtreeDn, copy}, msg::Icon::Warning});
      }
    }
  }
  if (code) *code = result.code;
  if (result.code != ldapx::kSuccess) return false;
  // Only a configuration root is read as a configuration: any other entry (an
  // organisation, people) would load as an empty one, and a save would replace it.
  const std::optional<ldapx::Dn> baseDn = ldapx::Dn::Parse(loadedFrom);
  const ldapx::Entry* base = nullptr;
  for (const ldapx::Entry& e : result.entries)
    if (baseDn && !e.dn.empty() && ldapx::Dn::Parse(e.dn) == baseDn) {
      base = &e;
      break;
    }
  if (!base || !IsConfigurationRoot(*base)) {
    if (notConfiguration) *notConfiguration = true;
    return false;
  }
  // Only servers that keep no entryCSN (389 Directory Server) make such copies; on the
  // others the look beside the root would cost a round trip for nothing.
  std::vector<std::string> copies;
  if (loadedFrom == subtreeDn &&
      std::none_of(result.entries.begin(), result.entries.end(),
                   [](const ldapx::Entry& e) { return e.Find("entryCSN") != nullptr; }))
    copies = ReplicatedRootCopies(connection, subtreeDn);
  SubtreeLoader(configuration, loadedFrom, table, warnings).Load(result, copies);
  if (rootCopies) *rootCopies = std::move(copies);
  return true;
}

}  // namespace

bool LeftByReplication(const ldapx::Entry& entry) {
  const std::optional<ldapx::RdnSplit> first = ldapx::SplitFirstRdn(entry.dn);
  return IsReplicationLeftover(entry, first ? &*first : nullptr);
}

bool LoadSubtree(Configuration& configuration, const std::string& subtreeDn,
                 const kvaro::Oidtable& table, ldapx::Connection& connection,
                 msg::Problems& warnings, int* code, bool* notConfiguration) {
  return LoadSubtreeWithCopies(configuration, subtreeDn, table, connection, warnings, code,
                               notConfiguration, nullptr, nullptr);
}

bool LoadSession(Session& session, Configuration& configuration, const kvaro::Oidtable& table,
                 msg::Problems& warnings, int* code, bool* notConfiguration, bool keepState) {
  // The versions are read before the entries: a write in between then shows as a change
  // at the next save rather than going unseen.
  DirectoryState stored;
  if (keepState) stored = ReadDirectoryState(*session.connection, session.subtreeDn);
  session.loaded = LoadedState{};
  std::vector<std::string> rootCopies;
  bool aside = false;
  if (!LoadSubtreeWithCopies(configuration, session.subtreeDn, table, *session.connection, warnings,
                             code, notConfiguration, &rootCopies, &aside))
    return false;
  // Read from beside the missing root: only a whole save puts it back in place.
  if (keepState && !aside && stored.code == ldapx::kSuccess && stored.kind != 0) {
    session.loaded = CaptureState(configuration, session.subtreeDn, stored,
                                  ldapx::OffersControl(*session.connection, ldapx::kAssertionOid));
    // Copies of the root are outside the subtree, so only the whole save, which clears
    // what stands beside the root, removes them.
    for (std::string& dn : rootCopies) session.loaded.leftOut.push_back(std::move(dn));
    if (!session.loaded.leftOut.empty()) session.loaded.wholeOnly = true;
  }
  return true;
}

void LoadEntries(Configuration& configuration, const std::string& subtreeDn,
                 const kvaro::Oidtable& table, const ldapx::SearchResult& result,
                 msg::Problems& warnings) {
  SubtreeLoader(configuration, subtreeDn, table, warnings).Load(result);
}

int MergeServerSchema(kvaro::Oidtable& table, ldapx::Connection& connection,
                      std::vector<std::string>* added) {
  const ldapx::Subschema schema = ldapx::ReadSubschema(connection);
  if (schema.code != ldapx::kSuccess) return -1;
  int count = 0;
  const auto merge = [&](const std::vector<std::string>& definitions, bool attributes) {
    for (const std::string& text : definitions) {
      // A definition the libldap parser cannot take safely is left out, as in the file.
      if (!ldapx::SchemaDefinitionProblem(text).empty()) continue;
      const auto parsed =
          attributes ? ldapx::ParseAttributeType(text) : ldapx::ParseObjectClass(text);
      if (!parsed || parsed->oid.empty()) continue;
      const auto known = [&](const std::string& name) {
        return attributes ? table.str2at(name) != nullptr : table.str2oc(name) != nullptr;
      };
      bool anyKnown = known(parsed->oid);
      for (const std::string& n : parsed->names) anyKnown = anyKnown || known(n);
      if (anyKnown) continue;
      const std::string line = (attributes ? "attributetype " : "objectclass ") + text;
      if (ldapx::LoadOidtableText(table, line) == 1) {
        ++count;
        if (added) added->push_back(line);
      }
    }
  };
  merge(schema.attributeTypes, true);
  merge(schema.objectClasses, false);
  return count;
}

namespace {

void Tell(CredentialsPrompt& prompt, std::optional<msg::Problem> problem) {
  if (problem) prompt.Tell({std::move(*problem)});
}

}  // namespace

LoadResult LoadFromDirectory(Session& session, Configuration& configuration,
                             const kvaro::Oidtable& table, CredentialsPrompt& prompt,
                             const ldapx::Timeouts& timeouts, PleaseWait* wait,
                             kvaro::Oidtable* serverSchemaInto) {
  const ldapx::ServerSettings& server = session.server;
  if (server.address.empty()) return LoadResult::NoServer;
  auto close = [wait] {
    if (wait) wait->Close();
  };
  while (true) {
    std::string dn = server.bindDn, password = session.password;
    if (!prompt.Ask(dn, password)) return LoadResult::Cancelled;
    session.server.bindDn = dn;
    session.password = password;
    if (wait) wait->Show(std::string(msg::LoadString(61282)), std::string(msg::LoadString(62197)));
    const Logon logon = OpenAndBind(server, password, timeouts);
    if (!logon.connection) {
      close();
      Tell(prompt, LogonFailure(61276, logon, server.address, server.port, timeouts));
      continue;
    }
    session.connection = logon.connection;
    // Names the server knows are valid names here too (a failed read changes nothing).
    if (serverSchemaInto) MergeServerSchema(*serverSchemaInto, *session.connection);
    int code = ldapx::kSuccess;
    bool notConfiguration = false;
    msg::Problems warnings;
    LoadSession(session, configuration, table, warnings, &code, &notConfiguration);
    close();
    if (notConfiguration) {
      Tell(prompt, msg::Problem{62131, {session.subtreeDn}, msg::Icon::Error});
      return LoadResult::NoServer;
    }
    // The server stopped answering, went away or the user cancelled: nothing was loaded,
    // and an empty configuration must not stand in for the stored one.
    if (code == ldapx::kTimeout || code == ldapx::kCancelled || code == ldapx::kServerDown) {
      // The server of the list that answered the logon.
      Logon lost;
      lost.host = session.connection->host();
      lost.port = session.connection->port();
      session.connection.reset();
      if (code == ldapx::kTimeout) {
        Tell(prompt, msg::Problem{62190,
                                  {ldapx::HostListText({{lost.host, lost.port}}),
                                   std::to_string(timeouts.operationSeconds)},
                                  msg::Icon::Error});
      } else if (code == ldapx::kServerDown) {
        lost.opened = true;
        lost.code = code;
        Tell(prompt, LogonFailure(61276, lost, server.address, server.port, timeouts));
      }
      continue;
    }
    // Any other refusal of the read (no right to read, a limit, a busy server) would open
    // the editor empty, and its next save would replace the stored configuration: say
    // why and ask for the logon again. A subtree that does not exist loads as an empty
    // configuration, which the first save creates.
    if (code != ldapx::kSuccess && code != ldapx::kNoSuchObject) {
      Tell(prompt,
           ReasonProblem(62121, {session.subtreeDn}, code, session.connection->diagnostic()));
      session.connection.reset();
      continue;
    }
    if (!warnings.empty()) prompt.Tell(warnings);
    return LoadResult::Loaded;
  }
}

}  // namespace directory
