#include "store/directory/loadedstate.h"

#include <unordered_set>

#include "store/directory/entrylayout.h"
#include "store/directory/version.h"

namespace directory {

namespace {

// FNV-1a, 64 bits: cheap, and a digest only ever compared with one of the same record.
class Fnv {
 public:
  void Add(std::string_view text) {
    for (const char c : text) {
      hash_ ^= static_cast<unsigned char>(c);
      hash_ *= 0x100000001b3ULL;
    }
    // A separator no text of a record holds, so that ("ab","c") and ("a","bc") differ.
    hash_ ^= 0x1ff;
    hash_ *= 0x100000001b3ULL;
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

class LayOut {
 public:
  LayOut(const std::string& rootDn, std::vector<RecordEntry>& out) : rootDn_(rootDn), out_(out) {}

  void Configuration(const ::Configuration& configuration) {
    for (const auto& rs : configuration.ruleSets) {
      const long at = Add(rs->id, 0, -1, RecordKind::RuleSet, rs->name,
                          RuleSetDn(rs->name, rootDn_), RuleSetAttributes(*rs), rs->name);
      const std::string setDn = out_[at].dn;
      for (const auto& r : rs->rules)
        Add(r->id, rs->id, at, RecordKind::Rule, r->name, RuleDn(r->name, setDn),
            RuleAttributes(*r), rs->name);
    }
    for (const auto& f : configuration.searchForms) {
      const long at = Add(f->id, 0, -1, RecordKind::Form, f->name, FormDn(f->name, rootDn_),
                          FormAttributes(*f), f->name);
      if (f->ruleSet) out_[at].ref = f->ruleSet->id;
      if (f->targetGroup) Group(*f->targetGroup, *f, at);
      for (const auto& g : f->inputGroups) Group(*g, *f, at);
    }
  }

 private:
  void Group(const InputGroup& group, const SearchForm& form, long formAt) {
    const long at = Add(group.id, form.id, formAt, RecordKind::Group, group.name,
                        GroupDn(group.name, out_[formAt].dn), GroupAttributes(group), form.name);
    if (group.searchRule) out_[at].ref = group.searchRule->id;
    const std::string groupDn = out_[at].dn;
    for (const auto& field : group.fields)
      Add(field->id, group.id, at, RecordKind::Field, field->name, FieldDn(field->name, groupDn),
          FieldAttributes(*field), form.name);
  }

  long Add(RecordId id, RecordId parent, long parentIndex, RecordKind kind, const std::string& name,
           std::string dn, ldapx::ModList mods, const std::string& top) {
    RecordEntry e;
    e.id = id;
    e.parent = parent;
    e.parentIndex = parentIndex;
    e.kind = kind;
    e.name = name;
    e.dn = std::move(dn);
    e.digest = RecordDigest(name, mods);
    e.mods = std::move(mods);
    e.top = top;
    out_.push_back(std::move(e));
    return static_cast<long>(out_.size()) - 1;
  }

  const std::string& rootDn_;
  std::vector<RecordEntry>& out_;
};

template <class Lookup>
ChangeCounts Count(size_t loadedCount, const Configuration& configuration, Lookup lookup) {
  ChangeCounts counts;
  size_t kept = 0;
  const auto see = [&](RecordId id, RecordId parent, std::string_view name,
                       const ldapx::ModList& mods) {
    const RecordMark* mark = lookup(id);
    if (!mark) {
      ++counts.added;
      return;
    }
    ++kept;
    if (mark->parent != parent || mark->digest != RecordDigest(name, mods)) ++counts.changed;
  };
  for (const auto& rs : configuration.ruleSets) {
    see(rs->id, 0, rs->name, RuleSetAttributes(*rs));
    for (const auto& r : rs->rules) see(r->id, rs->id, r->name, RuleAttributes(*r));
  }
  const auto group = [&](const InputGroup& g, RecordId form) {
    see(g.id, form, g.name, GroupAttributes(g));
    for (const auto& f : g.fields) see(f->id, g.id, f->name, FieldAttributes(*f));
  };
  for (const auto& f : configuration.searchForms) {
    see(f->id, 0, f->name, FormAttributes(*f));
    if (f->targetGroup) group(*f->targetGroup, f->id);
    for (const auto& g : f->inputGroups) group(*g, f->id);
  }
  counts.removed = static_cast<long>(loadedCount - kept);
  return counts;
}

}  // namespace

std::uint64_t RecordDigest(std::string_view name, const ldapx::ModList& mods) {
  Fnv fnv;
  fnv.Add(name);
  for (const ldapx::Attribute& a : mods.attributes()) {
    fnv.Add(a.type);
    for (const std::string& v : a.values) fnv.Add(v);
    fnv.Add({});
  }
  return fnv.value();
}

std::vector<RecordEntry> LayOutRecords(const Configuration& configuration,
                                       const std::string& rootDn) {
  size_t count = 0;
  for (const auto& rs : configuration.ruleSets) count += 1 + rs->rules.size();
  for (const auto& f : configuration.searchForms) {
    count += 1;
    if (f->targetGroup) count += 1 + f->targetGroup->fields.size();
    for (const auto& g : f->inputGroups) count += 1 + g->fields.size();
  }
  std::vector<RecordEntry> out;
  out.reserve(count);
  LayOut(rootDn, out).Configuration(configuration);
  return out;
}

RecordMarks MarkRecords(const Configuration& configuration) {
  RecordMarks marks;
  for (const RecordEntry& e : LayOutRecords(configuration, std::string()))
    marks[e.id] = RecordMark{e.digest, e.parent};
  return marks;
}

ChangeCounts CountChanges(const RecordMarks& marks, const Configuration& configuration) {
  return Count(marks.size(), configuration, [&](RecordId id) -> const RecordMark* {
    const auto it = marks.find(id);
    return it == marks.end() ? nullptr : &it->second;
  });
}

ChangeCounts CountChanges(const LoadedState& state, const Configuration& configuration) {
  RecordMark scratch;
  return Count(state.records.size(), configuration, [&](RecordId id) -> const RecordMark* {
    const auto it = state.records.find(id);
    if (it == state.records.end()) return nullptr;
    scratch = RecordMark{it->second.digest, it->second.parent};
    return &scratch;
  });
}

LoadedState RebaseState(const LoadedState& state, const Configuration& stored,
                        const Configuration& other) {
  std::unordered_map<std::string, RecordId> byKey;
  for (const RecordEntry& e : LayOutRecords(stored, state.rootDn)) byKey.emplace(DnKey(e.dn), e.id);
  std::unordered_map<RecordId, RecordId> to;
  for (const RecordEntry& e : LayOutRecords(other, state.rootDn))
    if (const auto it = byKey.find(DnKey(e.dn)); it != byKey.end()) to.emplace(it->second, e.id);
  const auto map = [&](RecordId id) {
    const auto it = to.find(id);
    return it == to.end() ? id : it->second;
  };
  LoadedState out = state;
  out.records.clear();
  for (const auto& [id, record] : state.records) {
    LoadedRecord r = record;
    r.parent = r.parent ? map(r.parent) : 0;
    out.records.emplace(map(id), std::move(r));
  }
  return out;
}

LoadedState CaptureState(const Configuration& configuration, const std::string& rootDn,
                         const DirectoryState& stored, bool assertion) {
  LoadedState state;
  state.known = true;
  state.rootDn = rootDn;
  state.stampKind = stored.kind;
  state.assertion = assertion && (stored.kind == 'c' || stored.kind == 'u');
  std::unordered_map<std::string, const EntryVersion*> byKey;
  byKey.reserve(stored.entries.size());
  for (const EntryVersion& e : stored.entries) byKey.emplace(DnKey(e.dn), &e);
  const std::string rootKey = DnKey(rootDn);
  std::unordered_set<std::string> claimed;
  claimed.insert(rootKey);
  long position = 0;
  for (RecordEntry& e : LayOutRecords(configuration, rootDn)) {
    LoadedRecord r;
    r.position = position++;
    r.mods = std::move(e.mods);
    r.parent = e.parent;
    r.kind = e.kind;
    r.name = std::move(e.name);
    r.dn = std::move(e.dn);
    r.digest = e.digest;
    r.top = std::move(e.top);
    std::string key = DnKey(r.dn);
    const auto found = byKey.find(key);
    // Two records of one name share a DN: only a whole save writes them as it should.
    if (found == byKey.end() || !claimed.insert(std::move(key)).second) {
      state.wholeOnly = true;
    } else {
      r.stamp = found->second->stamp;
      r.order = found->second->order;
    }
    state.records.emplace(e.id, std::move(r));
  }
  for (const EntryVersion& e : stored.entries)
    if (!claimed.count(DnKey(e.dn))) state.leftOut.push_back(e.dn);
  if (!state.leftOut.empty()) state.wholeOnly = true;
  return state;
}

}  // namespace directory
