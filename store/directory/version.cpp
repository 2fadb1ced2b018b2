#include "store/directory/version.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/support/digest.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/entrylayout.h"
#include "store/directory/leftovers.h"

namespace directory {

namespace {

// Whether the subschema defines an attribute type named `name`.
bool Defines(const ldapx::Subschema& schema, std::string_view name) {
  for (const std::string& text : schema.attributeTypes) {
    const auto definition = ldapx::ParseAttributeType(text);
    if (!definition) continue;
    for (const std::string& n : definition->names)
      if (SameIgnoringCase(n, name)) return true;
  }
  return false;
}

bool RootDseShows(ldapx::Connection& connection, const std::string& attribute) {
  const ldapx::SearchResult dse =
      connection.Search("", ldapx::Scope::Base, "(objectClass=*)", {attribute});
  if (dse.code != ldapx::kSuccess || dse.entries.empty()) return false;
  const ldapx::Attribute* a = dse.entries.front().Find(attribute);
  return a && !a->values.empty();
}

std::string FirstValue(const ldapx::Entry& entry, std::string_view type) {
  const ldapx::Attribute* a = entry.Find(type);
  return a && !a->values.empty() ? a->values.front() : std::string();
}

// The digest of every attribute of `entry`, independent of the order the server sent
// them in.
std::string ContentDigest(const ldapx::Entry& entry) {
  std::vector<std::string> parts;
  for (const ldapx::Attribute& a : entry.attributes) {
    std::string type = a.type;
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const std::string& v : a.values) parts.push_back(type + '\0' + v);
  }
  std::sort(parts.begin(), parts.end());
  std::string all;
  for (const std::string& p : parts) all += p + '\0';
  return kvaro::Sha256Hex(all).substr(0, 16);
}

// a < b as writes are ordered: entryUSN values as numbers, the others as text.
bool Before(char kind, const std::string& a, const std::string& b) {
  if (kind != 'u') return a < b;
  const auto digits = [](const std::string& s) {
    const size_t first = s.find_first_not_of('0');
    return first == std::string::npos ? std::string() : s.substr(first);
  };
  const std::string x = digits(a), y = digits(b);
  return x.size() != y.size() ? x.size() < y.size() : x < y;
}

std::string Escape(const std::string& text) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.') {
      out += char(c);
    } else {
      out += '_';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '_') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const std::string pair(text.substr(i + 1, 2));
    if (pair.size() != 2 || !std::isxdigit((unsigned char)pair[0]) ||
        !std::isxdigit((unsigned char)pair[1]))
      return std::nullopt;
    out += char(std::stoi(pair, nullptr, 16));
    i += 2;
  }
  return out;
}

EntryVersion VersionOf(const ldapx::Entry& e, char kind) {
  EntryVersion version{e.dn,
                       {},
                       FirstValue(e, kind == 'c'   ? "entryCSN"
                                     : kind == 'u' ? "entryUSN"
                                                   : "modifyTimestamp"),
                       UniqueIdOf(e)};
  if (kind == 'c') version.stamp = version.order;
  if (kind == 'u') version.stamp = version.order + "/" + FirstValue(e, "nsUniqueId");
  if (kind == 't')
    version.stamp = version.order + "/" + FirstValue(e, "nsUniqueId") + "/" + ContentDigest(e);
  return version;
}

std::string Newest(const DirectoryState& state) {
  std::string newest;
  for (const EntryVersion& e : state.entries)
    if (Before(state.kind, newest, e.order)) newest = e.order;
  return newest;
}

// What is read of each entry for a server of `kind`. Asking for an attribute the server
// does not define returns nothing of it, so the list is the same on every server.
std::vector<std::string> VersionAttributes(char kind) {
  if (kind == 'c') return {"entryCSN"};
  if (kind == 'u') return {"entryUSN", "nsUniqueId"};
  if (kind == 't') return {"*", "modifyTimestamp", "nsUniqueId"};
  return {};
}

}  // namespace

std::string DnKey(const std::string& dn) {
  std::string key = ldapx::NormalizeDn(dn).value_or(dn);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return key;
}

std::optional<EntryVersion> ReadEntryVersion(ldapx::Connection& connection, const std::string& dn,
                                             char kind) {
  const std::vector<std::string> attributes = VersionAttributes(kind);
  if (attributes.empty()) return std::nullopt;
  const ldapx::SearchResult read =
      connection.Search(dn, ldapx::Scope::Base, "(objectClass=*)", attributes);
  if (read.code != ldapx::kSuccess || read.entries.empty()) return std::nullopt;
  return VersionOf(read.entries.front(), kind);
}

DirectoryState ReadDirectoryState(ldapx::Connection& connection, const std::string& rootDn) {
  DirectoryState state;
  const ldapx::Subschema schema = ldapx::ReadSubschema(connection);
  if (schema.code != ldapx::kSuccess) {
    state.code = schema.code;
    return state;
  }
  const bool uniqueIds = Defines(schema, "nsUniqueId");
  std::vector<std::pair<char, std::vector<std::string>>> kinds;
  if (Defines(schema, "entryCSN")) kinds.push_back({'c', {"entryCSN"}});
  if (Defines(schema, "entryUSN") && RootDseShows(connection, "lastUSN"))
    kinds.push_back({'u', {"entryUSN", "nsUniqueId"}});
  if (Defines(schema, "modifyTimestamp")) {
    std::vector<std::string> attributes = {"*", "modifyTimestamp"};
    if (uniqueIds) attributes.push_back("nsUniqueId");
    kinds.push_back({'t', attributes});
  }
  // A server may define an attribute it does not keep: the root entry shows whether it
  // does.
  for (const auto& [kind, attributes] : kinds) {
    ldapx::SearchResult read = ReadSubtree(connection, rootDn, attributes, false);
    if (read.code == ldapx::kNoSuchObject) {  // no configuration yet: the empty state
      state.kind = kind;
      return state;
    }
    if (read.code != ldapx::kSuccess) {
      state.code = read.code;
      return state;
    }
    const std::string& orderedBy = attributes[kind == 't' ? 1 : 0];
    const bool kept = std::all_of(read.entries.begin(), read.entries.end(),
                                  [&](const auto& e) { return !FirstValue(e, orderedBy).empty(); });
    if (!kept) continue;
    state.kind = kind;
    for (const ldapx::Entry& e : read.entries) state.entries.push_back(VersionOf(e, kind));
    return state;
  }
  return state;
}

DirectoryState ReadVersionsAt(ldapx::Connection& connection, const std::vector<VersionRead>& bases,
                              char kind) {
  DirectoryState state;
  state.kind = kind;
  for (const VersionRead& base : bases) {
    std::vector<std::string> attributes = VersionAttributes(kind);
    std::vector<std::string> added;  // asked for the id only: not part of the stamp
    if (base.uniqueIds)
      for (const std::string& type : UniqueIdAttributes())
        if (std::find(attributes.begin(), attributes.end(), type) == attributes.end())
          added.push_back(type);
    attributes.insert(attributes.end(), added.begin(), added.end());
    const ldapx::SearchResult read =
        base.subtree
            ? ReadSubtree(connection, base.dn, attributes, false)
            : connection.Search(base.dn, ldapx::Scope::Base, "(objectClass=*)", attributes);
    if (read.code == ldapx::kNoSuchObject) continue;
    if (read.code != ldapx::kSuccess) {
      state.code = read.code;
      return state;
    }
    for (const ldapx::Entry& e : read.entries) {
      if (added.empty()) {
        state.entries.push_back(VersionOf(e, kind));
        continue;
      }
      ldapx::Entry stamped = e;
      std::erase_if(stamped.attributes, [&](const ldapx::Attribute& a) {
        return std::any_of(added.begin(), added.end(),
                           [&](const std::string& type) { return SameIgnoringCase(a.type, type); });
      });
      state.entries.push_back(VersionOf(stamped, kind));
      state.entries.back().id = UniqueIdOf(e);
    }
  }
  return state;
}

DirectoryState ReadDirectoryState(ldapx::Connection& connection, const std::string& rootDn,
                                  char kind) {
  return ReadVersionsAt(connection, {{rootDn, true}}, kind);
}

std::string DirectoryToken(const DirectoryState& state) {
  std::map<std::string, std::string> byDn;
  for (const EntryVersion& e : state.entries) byDn[DnKey(e.dn)] = e.stamp;
  std::string all;
  for (const auto& [dn, stamp] : byDn) all += dn + '\0' + stamp + '\0';
  return std::string("d1-") + state.kind + "-" + std::to_string(state.entries.size()) + "-" +
         Escape(Newest(state)) + "-" + kvaro::Sha256Hex(all).substr(0, 16);
}

std::optional<DirectoryChanges> DirectoryChangesSince(std::string_view token,
                                                      const DirectoryState& now) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t dash = token.find('-', start);
    parts.push_back(token.substr(start, dash - start));
    if (dash == std::string_view::npos) break;
    start = dash + 1;
  }
  if (parts.size() != 5 || parts[0] != "d1" || parts[1].size() != 1 || parts[1][0] != now.kind)
    return std::nullopt;
  if (parts[2].empty() || parts[2].find_first_not_of("0123456789") != std::string_view::npos ||
      parts[2].size() > 9)
    return std::nullopt;
  const size_t count = std::stoul(std::string(parts[2]));
  const std::optional<std::string> newest = Unescape(parts[3]);
  if (!newest) return std::nullopt;
  DirectoryChanges changes;
  if (token == DirectoryToken(now)) return changes;
  for (const EntryVersion& e : now.entries) {
    // Timestamps of whole seconds: a write in the token's own second may be later.
    const bool later =
        Before(now.kind, *newest, e.order) || (now.kind == 't' && e.order == *newest);
    if (later) changes.written.push_back(e.dn);
  }
  if (count > now.entries.size()) changes.removed = count - now.entries.size();
  return changes;
}

std::vector<std::string> DescribeChanges(ldapx::Connection& connection, const std::string& rootDn,
                                         const DirectoryChanges& changes) {
  std::vector<std::string> lines;
  const auto root = ldapx::ExplodeDn(rootDn);
  // The records just below the root: rule sets and forms, by DN.
  std::map<std::string, std::pair<int, std::string>> records;
  if (root && !changes.written.empty()) {
    const ldapx::SearchResult level =
        connection.Search(rootDn, ldapx::Scope::OneLevel, "(objectClass=*)", {"objectClass", "cn"});
    for (const ldapx::Entry& e : level.entries) {
      const ldapx::Attribute* classes = e.Find("objectClass");
      int id = 0;
      for (const std::string& c : classes ? classes->values : std::vector<std::string>{}) {
        if (SameIgnoringCase(c, "ovRuleSet")) id = msg::id::kRuleSetChanged;
        if (SameIgnoringCase(c, "ovSearchForm")) id = msg::id::kFormChanged;
      }
      if (id) records[DnKey(e.dn)] = {id, FirstValue(e, "cn")};
    }
  }
  std::vector<std::string> seen;
  for (const std::string& dn : changes.written) {
    std::string line = msg::Text(msg::id::kEntryChanged, {dn});
    const auto rdns = ldapx::ExplodeDn(dn);
    if (root && rdns && rdns->size() > root->size()) {
      std::string top;
      for (size_t i = rdns->size() - root->size() - 1; i < rdns->size(); ++i)
        top += (top.empty() ? "" : ",") + (*rdns)[i];
      if (const auto it = records.find(DnKey(top)); it != records.end())
        line = msg::Text(it->second.first, {it->second.second});
    }
    if (std::find(seen.begin(), seen.end(), line) == seen.end()) seen.push_back(line);
  }
  lines = seen;
  if (changes.removed > 0)
    lines.push_back(msg::Text(msg::id::kEntriesRemoved, {std::to_string(changes.removed)}));
  return lines;
}

}  // namespace directory
