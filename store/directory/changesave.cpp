#include "store/directory/changesave.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/ldap/dn.h"
#include "platform/ldap/qerror.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/savetags.h"
#include "store/directory/directorylogon.h"
#include "store/directory/entrylayout.h"
#include "store/directory/leftovers.h"
#include "store/directory/renamecheck.h"
#include "store/directory/savecheck.h"
#include "store/directory/subtreedelete.h"
#include "store/directory/version.h"

namespace directory {

namespace {

using ldapx::EntryWrite;
using Kind = EntryWrite::Kind;

bool IsLost(int code) { return code == ldapx::kServerDown || code == ldapx::kConnectError; }

std::string ChildDnOf(RecordKind kind, const std::string& name, const std::string& parentDn) {
  switch (kind) {
    case RecordKind::RuleSet:
      return RuleSetDn(name, parentDn);
    case RecordKind::Rule:
      return RuleDn(name, parentDn);
    case RecordKind::Form:
      return FormDn(name, parentDn);
    case RecordKind::Group:
      return GroupDn(name, parentDn);
    case RecordKind::Field:
      return FieldDn(name, parentDn);
  }
  return {};
}

std::string RdnOf(const std::string& name) { return "cn=" + ldapx::EscapeDnValue(name); }

bool Has(const ldapx::ModList& mods, std::string_view type) {
  for (const ldapx::Attribute& a : mods.attributes())
    if (SameIgnoringCase(a.type, type)) return true;
  return false;
}

// The modify that makes an entry of `kind` hold `mods` (and, when given, the naming
// values `cn`): every attribute replaced, those a rule may lack removed.
ldapx::ModList ReplaceAll(RecordKind kind, const ldapx::ModList& mods,
                          std::vector<std::string> cn = {}) {
  ldapx::ModList out = mods;
  if (kind == RecordKind::Rule)
    for (const char* type : {"ovObjectClassDefinition", "ovSearchClassList", "ovLDAPURI"})
      if (!Has(mods, type)) out.Add(type, {});
  if (!cn.empty()) out.Add("cn", std::move(cn));
  return out;
}

// A modify that changes nothing but the entry's version (and so its place among its
// siblings): its object classes replaced by themselves.
ldapx::ModList TouchOf(const ldapx::ModList& mods) {
  ldapx::ModList out;
  for (const ldapx::Attribute& a : mods.attributes())
    if (SameIgnoringCase(a.type, "objectClass")) out.Add(a.type, a.values);
  return out;
}

bool IsRuleSide(RecordKind kind) { return kind == RecordKind::RuleSet || kind == RecordKind::Rule; }

// One write and how to take it back.
struct Op {
  EntryWrite write;
  EntryWrite undo;
  bool undoable = true;
  bool touch = false;     // changes nothing but the entry's place among its siblings
  long record = -1;       // index in the new layout; -1 for a removal
  RecordId movedOut = 0;  // the stored form or rule set this rename moves out beside the root
};

class ChangeSaver {
 public:
  ChangeSaver(Session& session, const Configuration& configuration, PleaseWait* wait,
              const SaveOptions& options)
      : session_(session), config_(configuration), wait_(wait), options_(options) {}

  msg::Problems problems;

  bool Recheck() {
    const LoadedState& loaded = session_.loaded;
    rootDn_ = session_.subtreeDn;
    if (!loaded.known || DnKey(loaded.rootDn) != DnKey(rootDn_)) return true;
    return ReadStored(true) && CheckAll();
  }

  bool Run(bool& whole) {
    whole = false;
    const LoadedState& loaded = session_.loaded;
    rootDn_ = session_.subtreeDn;
    if (!loaded.known || DnKey(loaded.rootDn) != DnKey(rootDn_)) {
      whole = true;
      return false;
    }
    if (wait_)
      wait_->Show(std::string(msg::LoadString(61282)), std::string(msg::LoadString(62011)));
    const bool ok = Save(whole);
    if (wait_) wait_->Close();
    return ok;
  }

 private:
  bool Save(bool& whole) {
    recs_ = LayOutRecords(config_, rootDn_);
    bool changesOnly = !session_.loaded.wholeOnly && Plan();
    // Its renames move forms and rule sets whole; a server that leaves part of a renamed
    // subtree behind gets the whole save, which writes in place there.
    if (changesOnly &&
        std::any_of(ops_.begin(), ops_.end(),
                    [](const Op& op) { return op.write.kind == Kind::Rename; }) &&
        RenamesPartial())
      changesOnly = false;
    if (!changesOnly) {
      if (!Keep(CheckConfiguration(config_))) return false;
      if (!Keep(CheckEntryPlan(config_, rootDn_, PlanConfiguration(config_, rootDn_))))
        return false;
      if (!ReadStored(true) || !CheckAll()) return false;
      whole = true;
      return false;
    }
    if (!Keep(CheckChanged())) return false;
    if (!ReadStored(false) || !CheckTouched()) return false;
    NameMovedOut();
    if (options_.onStage) options_.onStage(SaveStage::Checked);
    if (!Write()) return false;
    Refresh();
    // The forms moved out, and the emptied staging entry; what is left of them is removed
    // by a later save.
    movedOutDns_.push_back(oldDn_);
    movedOutDns_.push_back(stagingDn_);
    for (const std::string& dn : movedOutDns_) {
      if (dn.empty()) continue;
      std::string where;
      const int rc = RemoveSubtree(*session_.connection, dn, true, &where);
      if (rc != ldapx::kSuccess)
        problems.push_back(
            msg::Problem{62139, {where, kvaro::QError(rc).Text()}, msg::Icon::Warning});
    }
    return true;
  }

  bool Keep(msg::Result result) {
    for (msg::Problem& p : result.problems) problems.push_back(std::move(p));
    return result.ok;
  }

  // ---- what changed ----

  // Decides the writes; false when only a whole save keeps the stored configuration as
  // it should be.
  bool Plan() {
    const LoadedState& loaded = session_.loaded;
    const size_t n = recs_.size();
    old_.assign(n, nullptr);
    renamed_.assign(n, false);
    changed_.assign(n, false);
    contentChanged_.assign(n, false);
    index_.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      const RecordEntry& r = recs_[i];
      index_.emplace(r.id, static_cast<long>(i));
      const auto it = loaded.records.find(r.id);
      if (it == loaded.records.end()) continue;
      const LoadedRecord& o = it->second;
      if (o.parent != r.parent || o.kind != r.kind) return false;  // moved
      old_[i] = &o;
      changed_[i] = o.digest != r.digest;
      if (o.name != r.name) {
        contentChanged_[i] = RecordDigest({}, o.mods) != RecordDigest({}, r.mods);
        // Rules and rule sets are named by other records; a name that differs in case
        // only would be the same DN to the server.
        if (IsRuleSide(r.kind) || ldapx::MatchValue(o.name) == ldapx::MatchValue(r.name))
          return false;
        renamed_[i] = true;
      }
    }
    for (const auto& [id, o] : loaded.records)
      if (!index_.count(id)) removed_.push_back(id);

    // DNs that this save frees (removed or renamed away) must not be taken by an add or a
    // rename before they are free.
    std::unordered_set<std::string> freed;
    for (RecordId id : removed_) freed.insert(DnKey(loaded.records.at(id).dn));
    for (size_t i = 0; i < n; ++i)
      if (renamed_[i]) freed.insert(DnKey(old_[i]->dn));
    for (size_t i = 0; i < n; ++i)
      if ((!old_[i] || renamed_[i]) && freed.count(DnKey(recs_[i].dn))) return false;

    children_.assign(n, {});
    std::vector<long> ruleSets, forms;
    for (size_t i = 0; i < n; ++i) {
      const long p = recs_[i].parentIndex;
      if (p >= 0) {
        children_[p].push_back(static_cast<long>(i));
      } else if (recs_[i].kind == RecordKind::RuleSet) {
        ruleSets.push_back(static_cast<long>(i));
      } else {
        forms.push_back(static_cast<long>(i));
      }
    }
    // A form is read whole or not at all: one that is added, removed, or gains or loses
    // groups or fields is written complete beside the root first and moved into place
    // (the form it replaces moved out before), so that no moment holds it in part.
    std::unordered_set<RecordId> formsRemoved;
    for (RecordId id : removed_) {
      const LoadedRecord& o = loaded.records.at(id);
      if (IsRuleSide(o.kind)) continue;
      RecordId form = id;
      while (loaded.records.at(form).parent != 0) form = loaded.records.at(form).parent;
      formsRemoved.insert(form);
    }
    structural_.assign(n, false);
    for (const long i : forms) {
      if (!old_[i]) continue;
      bool structural = formsRemoved.count(recs_[i].id) > 0;
      for (const long g : children_[i]) {
        structural = structural || !old_[g];
        for (const long f : children_[g]) structural = structural || !old_[f];
      }
      structural_[i] = structural;
    }
    size_t firstRuleSet = 0, firstForm = 0;
    if (!FirstToWrite(ruleSets, firstRuleSet) || !FirstToWrite(forms, firstForm)) return false;

    // Rule sets and rules first: whatever forms name exists before they name it.
    for (size_t j = 0; j < ruleSets.size(); ++j) {
      const long i = ruleSets[j];
      // A rule set is added whole or not at all, as a form is.
      if (!old_[i]) {
        Stage(i);
        MoveIn(i);
        continue;
      }
      if (j >= firstRuleSet) Touch(i);
      size_t firstRule = 0;
      if (!FirstToWrite(children_[i], firstRule)) return false;
      for (size_t k = 0; k < children_[i].size(); ++k) {
        const long r = children_[i][k];
        if (!old_[r]) {
          addedAt_.push_back(Now(r));
          Add(r);
        } else if (changed_[r]) {
          Modify(r);
        } else if (k >= firstRule) {
          Touch(r);
        }
      }
    }
    for (size_t j = 0; j < forms.size(); ++j) {
      const long i = forms[j];
      if (!old_[i]) {
        Stage(i);
        MoveIn(i);
        continue;
      }
      if (structural_[i]) {
        Stage(i);
        MoveOut(recs_[i].id, Now(i));
        MoveIn(i);
        continue;
      }
      std::vector<long> renamedGroups, renamedFields;
      for (const long g : children_[i]) {
        if (renamed_[g]) Rename(g, false);
        for (const long f : children_[g]) {
          if (renamed_[f]) {
            Rename(f, false);
            renamedFields.push_back(f);
          } else if (changed_[f]) {
            Modify(f);
          }
        }
        if (renamed_[g]) {
          renamedGroups.push_back(g);
        } else if (changed_[g]) {
          Modify(g);
        }
      }
      if (renamed_[i]) {
        Rename(i, true);
        if (contentChanged_[i]) Modify(i);
      } else if (changed_[i]) {
        Modify(i);
      } else if (j >= firstForm) {
        Touch(i);
      }
      // The old names go once the lists name the new ones.
      for (const long g : renamedGroups) DropOldName(g);
      for (const long f : renamedFields) DropOldName(f);
    }
    for (RecordId id : removed_) {
      const LoadedRecord& o = loaded.records.at(id);
      if (o.kind == RecordKind::Form) MoveOut(id, o.dn);
    }
    // Removals last, children first, the forms' side before the rule sets it names. A rule
    // set removed goes whole, as a form does, moved out with its rules, where the server
    // keeps change sequence numbers (OpenLDAP). 389 Directory Server takes it rule by rule:
    // a supplier that has to replay a rule set renamed away while it added a rule below it
    // stops replicating.
    std::unordered_set<RecordId> setsMoved;
    if (loaded.stampKind == 'c')
      for (RecordId id : removed_)
        if (loaded.records.at(id).kind == RecordKind::RuleSet) setsMoved.insert(id);
    std::vector<RecordId> order;
    for (RecordId id : removed_) {
      const LoadedRecord& o = loaded.records.at(id);
      if (IsRuleSide(o.kind) && !setsMoved.count(o.parent)) order.push_back(id);
    }
    const auto rank = [](RecordKind k) {
      switch (k) {
        case RecordKind::Field:
          return 0;
        case RecordKind::Group:
          return 1;
        case RecordKind::Form:
          return 2;
        case RecordKind::Rule:
          return 3;
        case RecordKind::RuleSet:
          return 4;
      }
      return 5;
    };
    std::stable_sort(order.begin(), order.end(), [&](RecordId a, RecordId b) {
      return rank(loaded.records.at(a).kind) < rank(loaded.records.at(b).kind);
    });
    for (RecordId id : order) {
      if (setsMoved.count(id)) {
        MoveOut(id, loaded.records.at(id).dn);
      } else {
        Remove(id);
      }
    }

    // The entries beside the root that hold forms on their way in and out go first.
    std::vector<Op> first;
    if (!stagingDn_.empty()) first.push_back(AddRoot(stagingDn_));
    if (!oldDn_.empty()) first.push_back(AddRoot(oldDn_));
    for (Op& op : staged_) first.push_back(std::move(op));
    staged_.clear();
    for (Op& op : ops_) first.push_back(std::move(op));
    ops_ = std::move(first);

    const size_t total = std::max(recs_.size(), loaded.records.size());
    return ops_.size() <= 3 || ops_.size() * 2 <= total;
  }

  // The name of an entry beside the root, marked as a save's own.
  std::string Beside(std::string_view mark) {
    if (token_.empty()) token_ = kvaro::TimedTag();
    const auto rdn = ldapx::FirstRdn(rootDn_);
    const auto parent = ldapx::ParentDn(rootDn_);
    if (!rdn || !parent || parent->empty()) return {};
    return rdn->type + "=" + ldapx::EscapeDnValue(rdn->value + std::string(mark) + token_) + "," +
           *parent;
  }
  Op AddRoot(const std::string& dn) {
    Op op;
    op.write.kind = Kind::Add;
    op.write.dn = dn;
    op.write.mods = RootAttributes();
    op.undo.kind = Kind::Delete;
    op.undo.dn = dn;
    return op;
  }
  // Adds the new rule set or form i with its subtree below the staging entry.
  void Stage(long i) {
    if (stagingDn_.empty()) stagingDn_ = Beside(kSaveMark);
    const std::function<void(long, const std::string&)> add = [&](long at,
                                                                  const std::string& parentDn) {
      Op op;
      op.record = at;
      op.write.kind = Kind::Add;
      op.write.dn = ChildDnOf(recs_[at].kind, recs_[at].name, parentDn);
      op.write.mods = recs_[at].mods;
      op.undo.kind = Kind::Delete;
      op.undo.dn = op.write.dn;
      written_.insert(at);
      const std::string dn = op.write.dn;
      staged_.push_back(std::move(op));
      for (const long c : children_[at]) add(c, dn);
    };
    add(i, stagingDn_);
  }
  void MoveIn(long i) {
    Op op;
    op.record = i;
    op.write.kind = Kind::Rename;
    op.write.dn = ChildDnOf(recs_[i].kind, recs_[i].name, stagingDn_);
    op.write.newRdn = RdnOf(recs_[i].name);
    op.write.newSuperior = rootDn_;
    op.undo.kind = Kind::Rename;
    op.undo.dn = recs_[i].dn;
    op.undo.newRdn = op.write.newRdn;
    op.undo.newSuperior = stagingDn_;
    addedAt_.push_back(recs_[i].dn);
    Push(std::move(op));
  }
  // Moves the stored form or rule set `id` (at `dn`) out beside the root, for removal once
  // the save is done: into the save's own entry there until NameMovedOut names it.
  void MoveOut(RecordId id, const std::string& dn) {
    if (oldDn_.empty()) oldDn_ = Beside(kOldMark);
    const LoadedRecord& o = session_.loaded.records.at(id);
    Op op;
    op.write.kind = Kind::Rename;
    op.write.dn = dn;
    op.write.newRdn = RdnOf(o.name);
    op.write.newSuperior = oldDn_;
    if (session_.loaded.assertion && !o.order.empty() && asserted_.insert(id).second)
      op.write.assertion = AssertionOn(o.order);
    op.undo.kind = Kind::Rename;
    op.undo.dn = ChildDnOf(o.kind, o.name, oldDn_);
    op.undo.newRdn = op.write.newRdn;
    op.undo.newSuperior = rootDn_;
    op.movedOut = id;
    wholeChecked_.push_back(id);
    Push(std::move(op));
  }
  // Gives each record moved out the name beside the root that every server gives it, made of
  // its unique id as the check read it (OldCopyValue): two saves at once on two servers
  // that both take writes then move it to the same DN, and 389 Directory Server can replay
  // the other's removal of it (it cannot where the two renamed it to different DNs). Only
  // records without a unique id stay bound for the save's own entry, written only for them.
  void NameMovedOut() {
    const auto rdn = ldapx::FirstRdn(rootDn_);
    const auto parent = ldapx::ParentDn(rootDn_);
    bool intoEntry = false;
    for (Op& op : ops_) {
      if (!op.movedOut) continue;
      const EntryVersion* stored = StoredAt(op.write.dn);
      if (!stored || stored->id.empty() || !rdn || !parent || parent->empty()) {
        intoEntry = true;
        continue;
      }
      op.write.newRdn = RdnOf(OldCopyValue(rdn->value, stored->id));
      op.write.newSuperior = *parent;
      op.undo.dn = op.write.newRdn + "," + *parent;
      movedOutDns_.push_back(op.undo.dn);
    }
    if (intoEntry || oldDn_.empty()) return;
    std::erase_if(
        ops_, [&](const Op& op) { return op.write.kind == Kind::Add && op.write.dn == oldDn_; });
    oldDn_.clear();
  }
  std::string AssertionOn(const std::string& order) const {
    const char* type = session_.loaded.stampKind == 'c' ? "entryCSN" : "entryUSN";
    return std::string("(") + type + "=" + ldapx::EscapeFilterValue(order) + ")";
  }

  // The index in `list` (siblings the load orders by their versions) from which every
  // sibling must be written, in order, for the load to give them back in the list's
  // order: the first added, changed or out-of-order one. False when the server keeps no
  // order that writes can set, and the list needs one.
  bool FirstToWrite(const std::vector<long>& list, size_t& first) const {
    first = list.size();
    long lastPosition = -1;
    if (session_.loaded.stampKind != 'c') {
      // A server without change sequence numbers keeps the order of the adds, whatever
      // is modified: only adds after every kept sibling keep the list's order.
      bool added = false;
      for (const long i : list) {
        // A form written anew is a new entry, whatever its name.
        if (!old_[i] || structural_[i]) {
          added = true;
          continue;
        }
        if (added || old_[i]->position < lastPosition) return false;
        lastPosition = old_[i]->position;
      }
      return true;
    }
    for (size_t j = 0; j < list.size(); ++j) {
      const long i = list[j];
      const bool kept =
          old_[i] && !changed_[i] && !structural_[i] && old_[i]->position > lastPosition;
      if (!kept) {
        first = j;
        return true;
      }
      lastPosition = old_[i]->position;
    }
    return true;
  }

  // The DN of record i at this point of the writes.
  std::string Now(long i) const {
    const std::string& name = nameNow_.count(i) ? nameNow_.at(i) : Named(i);
    const long p = recs_[i].parentIndex;
    return ChildDnOf(recs_[i].kind, name, p < 0 ? rootDn_ : Now(p));
  }
  const std::string& Named(long i) const { return old_[i] ? old_[i]->name : recs_[i].name; }

  std::string Assertion(long i) {
    if (!old_[i] || !session_.loaded.assertion || old_[i]->order.empty()) return {};
    if (!asserted_.insert(recs_[i].id).second) return {};
    const char* type = session_.loaded.stampKind == 'c' ? "entryCSN" : "entryUSN";
    return std::string("(") + type + "=" + ldapx::EscapeFilterValue(old_[i]->order) + ")";
  }

  void Push(Op op) {
    if (op.record >= 0) written_.insert(op.record);
    ops_.push_back(std::move(op));
  }

  void Add(long i) {
    Op op;
    op.record = i;
    op.write.kind = Kind::Add;
    op.write.dn = Now(i);
    op.write.mods = recs_[i].mods;
    op.undo.kind = Kind::Delete;
    op.undo.dn = op.write.dn;
    Push(std::move(op));
  }
  void Modify(long i) {
    Op op;
    op.record = i;
    op.write.kind = Kind::Modify;
    op.write.dn = Now(i);
    op.write.mods = ReplaceAll(recs_[i].kind, recs_[i].mods);
    op.write.assertion = Assertion(i);
    op.undo.kind = Kind::Modify;
    op.undo.dn = op.write.dn;
    op.undo.mods = ReplaceAll(recs_[i].kind, old_[i]->mods);
    Push(std::move(op));
  }
  void Touch(long i) {
    Op op;
    op.record = i;
    op.write.kind = Kind::Modify;
    op.write.dn = Now(i);
    op.write.mods = TouchOf(recs_[i].mods);
    op.write.assertion = Assertion(i);
    op.touch = true;
    Push(std::move(op));
  }
  // Groups and fields keep their old name beside the new one until the list that names
  // them is written (the load finds them by either); forms are named by nothing.
  void Rename(long i, bool dropOld) {
    Op op;
    op.record = i;
    op.write.kind = Kind::Rename;
    op.write.dn = Now(i);
    op.write.newRdn = RdnOf(recs_[i].name);
    op.write.deleteOldRdn = dropOld;
    op.write.assertion = Assertion(i);
    nameNow_[i] = recs_[i].name;
    op.undo.kind = Kind::Rename;
    op.undo.dn = Now(i);
    op.undo.newRdn = RdnOf(old_[i]->name);
    op.undo.deleteOldRdn = true;
    Push(std::move(op));
  }
  void DropOldName(long i) {
    Op op;
    op.record = i;
    op.write.kind = Kind::Modify;
    op.write.dn = Now(i);
    op.write.mods = ReplaceAll(recs_[i].kind, recs_[i].mods, {recs_[i].name});
    op.undo.kind = Kind::Modify;
    op.undo.dn = op.write.dn;
    op.undo.mods = ReplaceAll(recs_[i].kind, old_[i]->mods, {old_[i]->name, recs_[i].name});
    Push(std::move(op));
  }
  // The DN a removed record has once the records kept around it are written.
  std::string RemovedDn(RecordId id) const {
    const LoadedRecord& o = session_.loaded.records.at(id);
    if (o.parent == 0) return o.dn;
    if (const auto it = index_.find(o.parent); it != index_.end())
      return ChildDnOf(o.kind, o.name, recs_[it->second].dn);
    return ChildDnOf(o.kind, o.name, RemovedDn(o.parent));
  }
  void Remove(RecordId id) {
    const LoadedRecord& o = session_.loaded.records.at(id);
    Op op;
    op.write.kind = Kind::Delete;
    op.write.dn = RemovedDn(id);
    if (session_.loaded.assertion && !o.order.empty()) {
      const char* type = session_.loaded.stampKind == 'c' ? "entryCSN" : "entryUSN";
      op.write.assertion = std::string("(") + type + "=" + ldapx::EscapeFilterValue(o.order) + ")";
    }
    op.undoable = false;
    removedChecked_.push_back(id);
    Push(std::move(op));
  }

  // ---- the check ----

  bool Reconnect() {
    if (auto failed = directory::Reconnect(session_)) {
      problems.push_back(std::move(*failed));
      return false;
    }
    return true;
  }

  // The checks of the whole save for what this save writes or removes: the rule sets and
  // forms that hold it, and, where one of those is added or renamed, its name against
  // every other rule set and form. The rest is stored as it was checked before.
  msg::Outcome CheckChanged() const {
    const LoadedState& loaded = session_.loaded;
    std::vector<long> top(recs_.size());
    for (size_t i = 0; i < recs_.size(); ++i) {
      const long p = recs_[i].parentIndex;
      top[i] = p < 0 ? static_cast<long>(i) : top[p];
    }
    std::vector<bool> affected(recs_.size(), false);
    for (const long i : written_) affected[top[i]] = true;
    for (RecordId id : removed_) {
      RecordId at = id;
      while (loaded.records.at(at).parent != 0) at = loaded.records.at(at).parent;
      if (const auto it = index_.find(at); it != index_.end()) affected[it->second] = true;
    }
    bool named = false;
    std::vector<const SearchForm*> forms;
    size_t ruleSet = 0, form = 0;
    for (size_t i = 0; i < recs_.size(); ++i) {
      if (recs_[i].parentIndex >= 0) continue;
      const bool isRuleSet = recs_[i].kind == RecordKind::RuleSet;
      const size_t k = isRuleSet ? ruleSet++ : form++;
      if (!affected[i]) continue;
      named = named || !old_[i] || renamed_[i];
      msg::Outcome checked =
          isRuleSet ? CheckRuleSet(*config_.ruleSets[k]) : CheckForm(*config_.searchForms[k]);
      if (!checked) return checked;
      if (!isRuleSet) forms.push_back(config_.searchForms[k].get());
    }
    EntryPlan plan;
    for (size_t i = 0; i < recs_.size(); ++i) {
      if (affected[top[i]])
        plan.push_back(PlannedEntry{recs_[i].dn, recs_[i].mods});
      else if (named && recs_[i].parentIndex < 0)
        plan.push_back(PlannedEntry{recs_[i].dn, {}});
    }
    return CheckEntryPlan(forms, rootDn_, plan);
  }

  // The reads of a check of changes, where they are few: the entries this save writes,
  // removes or names (each alone), the subtrees of those it removes or moves out, and
  // the DNs where it adds a rule set, rule or form (someone may have taken the name).
  static constexpr size_t kMostReads = 8;
  bool Targets(std::vector<VersionRead>& reads, std::vector<VersionRead>& added) {
    const LoadedState& loaded = session_.loaded;
    std::unordered_set<std::string> seen;
    const auto read = [&](std::vector<VersionRead>& into, const std::string& dn, bool subtree,
                          bool uniqueIds = false) {
      if (seen.insert(dn).second) into.push_back(VersionRead{dn, subtree, uniqueIds});
    };
    const auto formOf = [&](RecordId id) {
      while (loaded.records.at(id).parent != 0) id = loaded.records.at(id).parent;
      return id;
    };
    const std::unordered_set<RecordId> whole(wholeChecked_.begin(), wholeChecked_.end());
    const std::unordered_set<RecordId> removed(removed_.begin(), removed_.end());
    // The forms moved out, with their unique ids (NameMovedOut).
    for (RecordId id : wholeChecked_) read(reads, loaded.records.at(id).dn, true, true);
    for (RecordId id : removed_) {
      const LoadedRecord& o = loaded.records.at(id);
      inScope_.push_back(id);
      if (whole.count(formOf(id)) || (o.parent != 0 && removed.count(o.parent))) continue;
      read(reads, o.dn, true);
    }
    for (const long i : written_) {
      if (old_[i] && !whole.count(formOf(recs_[i].id))) {
        read(reads, old_[i]->dn, false);
        inScope_.push_back(recs_[i].id);
      }
      const RecordId ref = recs_[i].ref;
      if (const auto it = loaded.records.find(ref); ref && it != loaded.records.end()) {
        read(reads, it->second.dn, false);
        inScope_.push_back(ref);
      }
    }
    for (const std::string& dn : addedAt_) read(added, dn, false);
    if (reads.size() + added.size() > kMostReads) return false;
    if (!whole.empty())
      for (const auto& [id, o] : loaded.records)
        if (whole.count(formOf(id))) inScope_.push_back(id);
    return true;
  }

  // Reads the stored versions the check needs: every entry of the subtree (`all`, or
  // where the changes need many reads), else what Targets names.
  bool ReadStored(bool all) {
    std::vector<VersionRead> reads, added;
    const bool targeted = !all && Targets(reads, added);
    const char kind = session_.loaded.stampKind;
    const auto read = [&] {
      ldapx::Connection& conn = *session_.connection;
      if (!targeted) {
        stored_ = ReadVersionsAt(conn, {{rootDn_, true, !wholeChecked_.empty()}}, kind);
        return;
      }
      stored_ = ReadVersionsAt(conn, reads, kind);
      if (stored_.code == ldapx::kSuccess) taken_ = ReadVersionsAt(conn, added, kind);
      if (taken_.code != ldapx::kSuccess) stored_.code = taken_.code;
    };
    if (!session_.connection && !Reconnect()) return false;
    read();
    if (IsLost(stored_.code)) {
      if (!Reconnect()) return false;
      read();
    }
    if (stored_.code != ldapx::kSuccess) {
      problems.push_back(msg::Problem{msg::id::kVersionUnreadable,
                                      {rootDn_, kvaro::QError(stored_.code).Text()},
                                      msg::Icon::Error});
      return false;
    }
    for (const EntryVersion& e : stored_.entries) storedByKey_.emplace(DnKey(e.dn), &e);
    // An entry where this save adds one is in the way however the server spells its name.
    for (const EntryVersion& e : taken_.entries) {
      storedByKey_.emplace(DnKey(e.dn), &e);
      takenKeys_.insert(DnKey(e.dn));
    }
    if (targeted) {
      for (RecordId id : inScope_)
        loadedByKey_.emplace(DnKey(session_.loaded.records.at(id).dn), id);
    } else {
      for (const auto& [id, o] : session_.loaded.records) loadedByKey_.emplace(DnKey(o.dn), id);
    }
    return true;
  }

  const EntryVersion* StoredAt(const std::string& dn) const {
    const auto it = storedByKey_.find(DnKey(dn));
    return it == storedByKey_.end() ? nullptr : it->second;
  }

  // The line that names what happened to a loaded record.
  std::string Line(const LoadedRecord& o, bool gone) const {
    if (gone && o.kind == RecordKind::RuleSet) return msg::Text(msg::id::kRuleSetRemoved, {o.top});
    if (gone && o.kind == RecordKind::Form) return msg::Text(msg::id::kFormRemoved, {o.top});
    return msg::Text(IsRuleSide(o.kind) ? msg::id::kRuleSetChanged : msg::id::kFormChanged,
                     {o.top});
  }

  // The line that names an entry someone else added: its rule set or form.
  std::string ForeignLine(const std::string& dn) {
    const auto rdns = ldapx::ExplodeDn(dn);
    const auto root = ldapx::ExplodeDn(rootDn_);
    if (!rdns || !root || rdns->size() <= root->size())
      return msg::Text(msg::id::kEntryChanged, {dn});
    std::string top;
    for (size_t i = rdns->size() - root->size() - 1; i < rdns->size(); ++i)
      top += (top.empty() ? "" : ",") + (*rdns)[i];
    if (const auto it = loadedByKey_.find(DnKey(top)); it != loadedByKey_.end())
      return Line(session_.loaded.records.at(it->second), false);
    const ldapx::SearchResult read = session_.connection->Search(
        top, ldapx::Scope::Base, "(objectClass=*)", {"objectClass", "cn"});
    if (read.code == ldapx::kSuccess && !read.entries.empty()) {
      const ldapx::Entry& e = read.entries.front();
      const ldapx::Attribute* cn = e.Find("cn");
      const std::string name = cn && !cn->values.empty() ? cn->values.front() : top;
      if (const ldapx::Attribute* classes = e.Find("objectClass"))
        for (const std::string& c : classes->values) {
          if (SameIgnoringCase(c, "ovRuleSet")) return msg::Text(msg::id::kRuleSetAdded, {name});
          if (SameIgnoringCase(c, "ovSearchForm")) return msg::Text(msg::id::kFormAdded, {name});
        }
    }
    return msg::Text(msg::id::kEntryChanged, {dn});
  }

  void Conflict(std::vector<std::string> lines) {
    std::vector<std::string> unique;
    for (std::string& l : lines)
      if (std::find(unique.begin(), unique.end(), l) == unique.end())
        unique.push_back(std::move(l));
    std::string list;
    for (const std::string& line : unique) list += (list.empty() ? "" : "\n") + line;
    problems.push_back(msg::Problem{
        msg::id::kChangedSinceLoad, {msg::Displayable(rootDn_), list}, msg::Icon::Error, true});
  }

  bool Unchanged(const LoadedRecord& o, bool& gone) const {
    const EntryVersion* now = StoredAt(o.dn);
    gone = !now;
    return now && now->stamp == o.stamp;
  }

  // Entries below the root that the load did not see.
  std::vector<const EntryVersion*> Foreign() const {
    std::unordered_set<std::string> known;
    known.insert(DnKey(rootDn_));
    for (const std::string& dn : session_.loaded.leftOut) known.insert(DnKey(dn));
    std::vector<const EntryVersion*> out;
    for (const auto& [key, e] : storedByKey_)
      if (!known.count(key) && !loadedByKey_.count(key)) out.push_back(e);
    return out;
  }

  // Before a whole save: it writes every entry, so any change since the load conflicts.
  bool CheckAll() {
    std::vector<std::string> lines;
    for (const auto& [id, o] : session_.loaded.records) {
      bool gone = false;
      if (!Unchanged(o, gone)) lines.push_back(Line(o, gone));
    }
    for (const EntryVersion* e : Foreign()) lines.push_back(ForeignLine(e->dn));
    if (lines.empty()) return true;
    std::sort(lines.begin(), lines.end());
    Conflict(std::move(lines));
    return false;
  }

  // Before writing changes: only what they touch, name or remove.
  bool CheckTouched() {
    std::vector<std::string> lines;
    std::unordered_set<RecordId> checked;
    const auto check = [&](const LoadedRecord& o, RecordId id) {
      if (!checked.insert(id).second) return;
      bool gone = false;
      if (!Unchanged(o, gone)) lines.push_back(Line(o, gone));
    };
    for (const long i : written_)
      if (old_[i]) check(*old_[i], recs_[i].id);
    for (RecordId id : removed_) check(session_.loaded.records.at(id), id);
    // A form or rule set moved out is checked whole, every entry below it.
    std::unordered_set<RecordId> whole(wholeChecked_.begin(), wholeChecked_.end());
    if (!whole.empty())
      for (const auto& [id, o] : session_.loaded.records) {
        RecordId form = id;
        while (session_.loaded.records.at(form).parent != 0)
          form = session_.loaded.records.at(form).parent;
        if (whole.count(form)) check(o, id);
      }
    // What a written record names must still be there.
    for (const long i : written_) {
      const RecordId ref = recs_[i].ref;
      if (!ref) continue;
      const auto it = session_.loaded.records.find(ref);
      if (it == session_.loaded.records.end()) continue;  // added by this save
      if (!StoredAt(it->second.dn)) lines.push_back(Line(it->second, true));
    }
    // Entries someone else added where this save adds one, or below one it removes.
    std::vector<std::string> removedKeys;
    const auto below = [&](RecordId id) {
      std::string key(1, ',');
      key += DnKey(session_.loaded.records.at(id).dn);
      removedKeys.push_back(std::move(key));
    };
    for (RecordId id : removed_) below(id);
    for (RecordId id : wholeChecked_) below(id);
    std::unordered_set<std::string> addedKeys;
    for (const Op& op : ops_)
      if (op.write.kind == Kind::Add) {
        addedKeys.insert(DnKey(op.write.dn));
      } else if (op.write.kind == Kind::Rename && op.write.newSuperior == rootDn_) {
        addedKeys.insert(DnKey(recs_[op.record].dn));
      }
    for (const EntryVersion* e : Foreign()) {
      const std::string key = DnKey(e->dn);
      bool hit = addedKeys.count(key) > 0 || takenKeys_.count(key) > 0;
      for (const std::string& below : removedKeys)
        hit = hit || (key.size() > below.size() &&
                      key.compare(key.size() - below.size(), below.size(), below) == 0);
      if (hit) lines.push_back(ForeignLine(e->dn));
    }
    if (lines.empty()) return true;
    std::sort(lines.begin(), lines.end());
    Conflict(std::move(lines));
    return false;
  }

  // ---- the writes ----

  bool Cancelled() const { return wait_ && wait_->CancelRequested(); }
  // Whether the server leaves entries behind when it renames a subtree; Cancel ends the
  // check's waits.
  bool RenamesPartial() {
    ldapx::CancelScope scope([this] { return Cancelled(); });
    return CheckSubtreeRenames(session_) == SubtreeRenames::Partial;
  }

  bool Write() {
    ldapx::Connection& conn = *session_.connection;
    const long total = static_cast<long>(ops_.size());
    for (size_t k = 0; k < ops_.size(); ++k) {
      const Op& op = ops_[k];
      if (op.undoable && Cancelled()) {
        const std::string failedAt = Undo(k);
        if (!failedAt.empty()) return false;
        problems.push_back(msg::Problem{62143, {}, msg::Icon::Information});
        return false;
      }
      std::string diagnostic;
      const int rc = ldapx::WriteEntry(conn, op.write, &diagnostic);
      if (rc == ldapx::kSuccess) {
        if (wait_) wait_->SetProgress(static_cast<long>(k) + 1, total);
        continue;
      }
      // A read-only copy refers every write to the server that takes changes; at the
      // first, nothing is written yet, and the caller may save there instead.
      if (rc == ldapx::kReferral && k == 0 && !conn.referrals().empty()) {
        problems.push_back(msg::Problem{
            msg::id::kReadOnlyCopy,
            {ldapx::HostListText({{conn.host(), conn.port()}}), conn.referrals().front()},
            msg::Icon::Error});
        return false;
      }
      Failed(k, rc);
      return false;
    }
    return true;
  }

  // Takes back writes [0, done) newest first; the DN where that failed, else empty.
  // Every write of an entry the load orders by its version moved it last among its
  // siblings, so those entries are touched again afterwards in the order of the load.
  std::string Undo(size_t done) {
    ldapx::Connection& conn = *session_.connection;
    std::vector<long> moved;
    for (size_t k = done; k-- > 0;) {
      const Op& op = ops_[k];
      if (!op.undoable) return op.write.dn;
      if (op.record >= 0 && old_[op.record] && recs_[op.record].kind != RecordKind::Group &&
          recs_[op.record].kind != RecordKind::Field)
        moved.push_back(op.record);
      if (op.touch) continue;
      const int rc = ldapx::WriteEntry(conn, op.undo);
      if (rc != ldapx::kSuccess) {
        undoError_ = rc;
        return op.undo.dn;
      }
    }
    if (session_.loaded.stampKind != 'c') return {};
    std::sort(moved.begin(), moved.end(),
              [&](long a, long b) { return old_[a]->position < old_[b]->position; });
    moved.erase(std::unique(moved.begin(), moved.end()), moved.end());
    for (const long i : moved) {
      EntryWrite touch;
      touch.kind = Kind::Modify;
      touch.dn = old_[i]->dn;
      touch.mods = TouchOf(old_[i]->mods);
      const int rc = ldapx::WriteEntry(conn, touch);
      if (rc != ldapx::kSuccess) {
        undoError_ = rc;
        return touch.dn;
      }
    }
    return {};
  }

  void Failed(size_t k, int rc) {
    const Op& op = ops_[k];
    const std::string error = kvaro::QError(rc).Text();
    // Removals come last: once one is done, what came before is the new configuration,
    // kept.
    if (k > 0 && !ops_[k - 1].undoable) {
      std::vector<std::string> left;
      for (size_t r = k; r < ops_.size(); ++r) left.push_back(ops_[r].write.dn);
      problems.push_back(msg::Problem{msg::id::kChangesRemovalFailed,
                                      {op.write.dn, error, msg::DisplayableLines(left)},
                                      msg::Icon::Error,
                                      true});
      session_.loaded.known = false;
      return;
    }
    const std::string undoFailed = IsLost(rc) ? op.write.dn : Undo(k);
    if (!undoFailed.empty()) {
      problems.push_back(msg::Problem{
          msg::id::kChangesPartlyWritten,
          {op.write.dn, error, undoFailed, kvaro::QError(IsLost(rc) ? rc : undoError_).Text()},
          msg::Icon::Error});
      // What is stored is no longer what the state says: the next save checks it all.
      session_.loaded.known = false;
      return;
    }
    if (rc == ldapx::kAssertionFailed) {
      const LoadedRecord* o = op.record >= 0 ? old_[op.record] : nullptr;
      std::vector<std::string> lines;
      if (o) lines.push_back(Line(*o, false));
      for (RecordId id : removedChecked_)
        if (op.record < 0 && RemovedDn(id) == op.write.dn)
          lines.push_back(Line(session_.loaded.records.at(id), false));
      std::sort(lines.begin(), lines.end());
      if (lines.empty()) lines.push_back(msg::Text(msg::id::kEntryChanged, {op.write.dn}));
      Conflict(std::move(lines));
      return;
    }
    problems.push_back(msg::Problem{62137, {op.write.dn, error}, msg::Icon::Error});
  }

  // The state after the writes: stamps read back for the entries written or moved, the
  // rest as loaded. Changed in place: most records are as loaded but for their place.
  void Refresh() {
    LoadedState& state = session_.loaded;
    ldapx::Connection& conn = *session_.connection;
    for (RecordId id : removed_) state.records.erase(id);
    // A rule set or form moved in whole is read back with one search of its subtree.
    std::vector<VersionRead> movedIn;
    for (size_t i = 0; i < recs_.size(); ++i)
      if (recs_[i].parentIndex < 0 && (!old_[i] || structural_[i]))
        movedIn.push_back(VersionRead{recs_[i].dn, true});
    DirectoryState readBack;
    if (!movedIn.empty()) readBack = ReadVersionsAt(conn, movedIn, state.stampKind);
    std::unordered_map<std::string, const EntryVersion*> readBackByKey;
    if (readBack.code == ldapx::kSuccess)
      for (const EntryVersion& e : readBack.entries) readBackByKey.emplace(DnKey(e.dn), &e);
    for (size_t i = 0; i < recs_.size(); ++i) {
      RecordEntry& r = recs_[i];
      const LoadedRecord* old = old_[i];
      // The DNs are made alike, so only a changed text may be another DN.
      const bool moved = old && old->dn != r.dn && DnKey(old->dn) != DnKey(r.dn);
      const bool written = written_.count(static_cast<long>(i)) > 0;
      LoadedRecord& rec = state.records[r.id];
      rec.position = static_cast<long>(i);
      if (old && !written && !moved && old->digest == r.digest && old->dn == r.dn &&
          old->top == r.top)
        continue;
      rec.parent = r.parent;
      rec.kind = r.kind;
      rec.name = r.name;
      rec.dn = r.dn;
      rec.digest = r.digest;
      rec.top = r.top;
      rec.mods = std::move(r.mods);
      if (old && !written && !moved) continue;  // the stamp stays
      std::optional<EntryVersion> version;
      if (const auto it = readBackByKey.find(DnKey(r.dn)); it != readBackByKey.end())
        version = *it->second;
      else
        version = ReadEntryVersion(conn, r.dn, state.stampKind);
      if (version) {
        rec.stamp = version->stamp;
        rec.order = version->order;
      } else {
        rec.stamp.clear();
        rec.order.clear();
        state.wholeOnly = true;  // unknown: the next save checks every entry
      }
    }
  }

  Session& session_;
  const Configuration& config_;
  PleaseWait* wait_;
  const SaveOptions& options_;
  std::string rootDn_;
  std::vector<RecordEntry> recs_;
  std::vector<const LoadedRecord*> old_;
  std::vector<bool> renamed_, changed_, contentChanged_, structural_;
  std::vector<std::vector<long>> children_;
  std::vector<RecordId> removed_, removedChecked_;
  std::unordered_map<long, std::string> nameNow_;
  std::string token_, stagingDn_, oldDn_;
  std::vector<std::string> movedOutDns_;  // forms moved out under their own names
  std::vector<Op> staged_;
  std::vector<RecordId> wholeChecked_;
  std::unordered_map<RecordId, long> index_;
  std::unordered_set<RecordId> asserted_;
  std::unordered_set<long> written_;
  std::vector<Op> ops_;
  std::vector<std::string> addedAt_;  // where rule sets, rules and forms are added
  std::vector<RecordId> inScope_;     // loaded records whose entries a targeted check reads
  DirectoryState stored_, taken_;
  std::unordered_set<std::string> takenKeys_;
  std::unordered_map<std::string, const EntryVersion*> storedByKey_;
  std::unordered_map<std::string, RecordId> loadedByKey_;
  int undoError_ = ldapx::kSuccess;
};

}  // namespace

msg::Result SaveChanges(Session& session, const Configuration& configuration, PleaseWait* wait,
                        const SaveOptions& options, bool& whole) {
  ChangeSaver saver(session, configuration, wait, options);
  msg::Result result = saver.Run(whole);
  result.problems = std::move(saver.problems);
  return result;
}

msg::Result CheckUnchangedSinceLoad(Session& session, const Configuration& configuration) {
  const SaveOptions options;
  ChangeSaver checker(session, configuration, nullptr, options);
  msg::Result result = checker.Recheck();
  result.problems = std::move(checker.problems);
  return result;
}

void RefreshLoadedState(Session& session, const Configuration& configuration) {
  session.loaded = LoadedState{};
  if (!session.connection) return;
  const DirectoryState stored = ReadDirectoryState(*session.connection, session.subtreeDn);
  if (stored.code != ldapx::kSuccess || stored.kind == 0) return;
  const bool assertion = ldapx::OffersControl(*session.connection, ldapx::kAssertionOid);
  session.loaded = CaptureState(configuration, session.subtreeDn, stored, assertion);
}

}  // namespace directory
