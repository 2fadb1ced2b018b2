// The configuration and its records: rule sets of search rules, and search forms with
// input groups and input fields. Plain C++; names are narrow (UTF-8) strings compared
// byte-wise. Every record's Check() returns what keeps the record from being stored (a
// message id with its arguments); the caller shows it. The model shows no message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/support/messageids.h"
#include "platform/support/outcome.h"

namespace kvaro {
class Oidtable;
}

class RuleSet;
class SearchRule;
class SearchForm;
class InputGroup;
class InputField;

// The kinds of named records, for the name rules below.
enum class NameKind { RuleSet, Rule, Form, InputGroup, InputField };
// Where a name must be storable: in the text files, in the directory, or in both (what a
// name typed in the editor must satisfy, so the configuration can be saved anywhere).
enum class NameStore { Text, Directory, Any };

// True when `store` can hold `name` as the name of a record of `kind` and give it back
// unchanged. Every name: no blank (space or tab) at either end, no ":" (the text format
// splits lines at it), no line break or NUL. Rule names: no "," (lists of rule names in
// the text format). For the directory also: not empty, no control character, and rule,
// input group and input field names no "$" (the directory's lists split at it). Rule-set
// names must also make a file name: not empty, not "." or "..", no "/", and "RuleSet=" +
// name at most 255 bytes.
bool IsStorableName(NameKind kind, std::string_view name, NameStore store = NameStore::Any);

// A record's identity: unique among the records made by this process and never reused.
// A record keeps it for its lifetime, through renames and moves within the configuration;
// a copy of a record gets a new one. Changes-only saves and undo match records by it.
using RecordId = std::uint64_t;
// A new identity (thread-safe; never 0).
RecordId NewRecordId();

// The records of a list by name, for lookups in constant time. Kept up to date by the
// functions of the record that holds the list (adds, renames and removes through the
// model); a list whose length was changed directly is indexed afresh at its next lookup.
// A lookup never returns a record of another name; of equal names it finds the first.
// Lookups may rebuild the index, so one configuration is used by one thread at a time.
template <class Record>
class NameIndex {
 public:
  Record* Find(const std::vector<std::unique_ptr<Record>>& list, std::string_view name) const {
    if (indexed_ != list.size()) Rebuild(list);
    if (Record* found = Lookup(list, name)) return found;
    if (!stale_) return nullptr;
    Rebuild(list);
    return Lookup(list, name);
  }
  // The last record of `list` was appended by its holder.
  void Appended(const std::vector<std::unique_ptr<Record>>& list) {
    if (indexed_ + 1 != list.size()) {
      indexed_ = kNone;
      return;
    }
    positions_.try_emplace(list.back()->name, indexed_);
    ++indexed_;
  }
  // A record of the list was renamed, or records were removed or moved: index afresh at
  // the next lookup.
  void Invalidate() { indexed_ = kNone; }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  static constexpr size_t kNone = size_t(-1);
  Record* Lookup(const std::vector<std::unique_ptr<Record>>& list, std::string_view name) const {
    const auto found = positions_.find(name);
    if (found == positions_.end()) return nullptr;
    // A position from before a direct change of the list may name another record.
    if (found->second < list.size() && list[found->second]->name == name)
      return list[found->second].get();
    stale_ = true;
    return nullptr;
  }
  void Rebuild(const std::vector<std::unique_ptr<Record>>& list) const {
    positions_.clear();
    positions_.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) positions_.try_emplace(list[i]->name, i);
    indexed_ = list.size();
    stale_ = false;
  }
  mutable std::unordered_map<std::string, size_t, Hash, std::equal_to<>> positions_;
  mutable size_t indexed_ = kNone;
  mutable bool stale_ = false;
};

// What a rule is: an entry point (an LDAP URI where searches start) or a search rule
// (entries denoted by object classes). The values are those the stores write.
enum RuleType : int { RuleTypeEntryPoint = 0, RuleTypeSearchRule = 1 };

class SearchRule {
 public:
  // An entry point: references to `searchable` go into searchableRules.
  SearchRule(RuleSet* owner, std::string name, const std::vector<SearchRule*>& searchable,
             std::string uri);
  // A search rule denoting entries by object classes.
  SearchRule(RuleSet* owner, std::string name, const std::vector<SearchRule*>& searchable,
             std::vector<std::string> objectClasses);
  // Copies name, owner and type, with a new id; an entry point copies its URI (and no
  // searchable rules), a search rule its object classes and its references to searchable
  // rules (the same rules, not copies of them).
  SearchRule(const SearchRule& other);
  SearchRule& operator=(const SearchRule&) = delete;
  virtual ~SearchRule();

  // Nothing keeps a rule from being stored.
  msg::Outcome Check() const { return {}; }
  int GetLdapUri(std::string& out) const;
  int SetLdapUri(const std::string& uri);
  // 0 when this rule, or a rule of its name, is already searchable; else appends a
  // reference to it and returns 1.
  int AddSearchableRule(SearchRule* rule);
  // Appends a reference to each of `rules` that is not searchable yet (by rule or by
  // name), in order; linear in the lengths of both lists.
  void AddSearchableRules(const std::vector<SearchRule*>& rules);
  int RemoveSearchableRule(const std::string& name);
  void GetSearchableRules(std::vector<SearchRule*>& out) const;
  void GetObjectClasses(std::vector<std::string>& out) const;
  int AddObjectClass(const std::string& name);
  int RemoveObjectClass(const std::string& name);

  RecordId id = NewRecordId();  // kept only by the copies of CopyRuleSet and CopyGroup
  std::string name;
  RuleType ruleType = RuleTypeSearchRule;
  std::string ldapUri;
  std::vector<std::string> objectClasses;
  // The rules (of the same set) this rule can search for: references to the records
  // themselves, so a rename shows through them. The model keeps them valid: a rule is
  // not removed while another rule refers to it (see RemoveRule).
  std::vector<SearchRule*> searchableRules;
  RuleSet* ownerRuleSet = nullptr;
};

class RuleSet {
 public:
  explicit RuleSet(std::string name, std::vector<std::unique_ptr<SearchRule>> rules = {});
  RuleSet(const RuleSet&) = delete;
  RuleSet& operator=(const RuleSet&) = delete;
  virtual ~RuleSet();

  // Nothing wrong when the set holds a rule; else message 61281.
  msg::Outcome Check() const;
  // The first rule named `name`, through the set's index.
  SearchRule* FindRule(std::string_view name) const;
  // 0 when a rule of the same name exists; else appends a copy of `rule` and returns 1.
  // The caller keeps `rule`.
  int AddRule(const SearchRule* rule);
  // Null (destroying `rule`) when a rule of the same name exists; else takes `rule` over,
  // makes this set its owner and returns it.
  SearchRule* AddRule(std::unique_ptr<SearchRule> rule);
  void GetRules(std::vector<SearchRule*>& out) const;

  RecordId id = NewRecordId();  // kept only by the copies of CopyRuleSet and CopyGroup
  std::string name;
  std::vector<std::unique_ptr<SearchRule>> rules;
  // The rules by name (see NameIndex).
  NameIndex<SearchRule> ruleIndex;
};

class InputField {
 public:
  InputField(std::string name, std::string defaultValue, std::vector<std::string> filterAttributes);
  // Copies everything but the id: a copy is a new record.
  InputField(const InputField& other);
  InputField& operator=(const InputField&) = delete;
  virtual ~InputField() = default;

  int AddFilterAttribute(const std::string& name);
  int RemoveFilterAttribute(const std::string& name);
  void GetFilterAttributes(std::vector<std::string>& out) const;
  // Nothing wrong when the field has a filter attribute; else message 61260.
  msg::Outcome Check() const;

  RecordId id = NewRecordId();  // kept only by the copies of CopyRuleSet and CopyGroup
  std::string name;
  std::string defaultValue;
  std::vector<std::string> filterAttributes;
};

class InputGroup {
 public:
  InputGroup(std::string name, SearchRule* searchRule,
             std::vector<std::unique_ptr<InputField>> fields = {});
  InputGroup(const InputGroup&) = delete;
  InputGroup& operator=(const InputGroup&) = delete;
  virtual ~InputGroup();

  // Nothing wrong when the group has a field; else message 61262.
  msg::Outcome Check() const;
  // The first field named `name`, through the group's index.
  InputField* FindField(std::string_view name) const;
  int AddField(const std::string& name, const std::string& defaultValue,
               const std::vector<std::string>& attributes);
  // Null (destroying `field`) when a field of the same name exists; else takes it over
  // and returns it.
  InputField* AddField(std::unique_ptr<InputField> field);
  int RemoveField(const std::string& name);

  RecordId id = NewRecordId();  // kept only by the copies of CopyRuleSet and CopyGroup
  std::string name;
  // The rule (of the form's rule set) the group searches by; the model keeps it valid
  // (see RemoveRule).
  SearchRule* searchRule = nullptr;
  std::vector<std::unique_ptr<InputField>> fields;
  // The fields by name (see NameIndex).
  NameIndex<InputField> fieldIndex;
};

class SearchForm {
 public:
  SearchForm(std::string name, RuleSet* ruleSet, std::unique_ptr<InputGroup> targetGroup = nullptr,
             std::vector<std::unique_ptr<InputGroup>> inputGroups = {});
  SearchForm(const SearchForm&) = delete;
  SearchForm& operator=(const SearchForm&) = delete;
  virtual ~SearchForm();

  // Nothing wrong when the form has a target group; else message 61265.
  msg::Outcome Check() const;
  // Destroys the current target group and takes `group` over.
  void SetTargetGroup(std::unique_ptr<InputGroup> group);
  // 0 when this very group is already held (it stays held once); else takes it over and
  // returns 1.
  int AddInputGroup(std::unique_ptr<InputGroup> group);
  // Removes and destroys the first further group named `name` (never the target).
  int RemoveInputGroup(const std::string& name);
  // Removes and destroys this very group (a further group, not the target); 0 when absent.
  int RemoveInputGroup(const InputGroup* group);
  void GetInputGroups(std::vector<InputGroup*>& out) const;

  const std::string& GetName() const { return name; }
  RuleSet* GetRuleSet() const { return ruleSet; }
  InputGroup* GetTargetGroup() const { return targetGroup.get(); }
  std::string& GetToolTip() { return toolTip; }
  std::string& GetHelpString() { return helpString; }

  RecordId id = NewRecordId();  // kept only by the copies of CopyRuleSet and CopyGroup
  std::string name;
  RuleSet* ruleSet = nullptr;
  std::unique_ptr<InputGroup> targetGroup;
  std::vector<std::unique_ptr<InputGroup>> inputGroups;
  std::string toolTip;
  std::string helpString;
};

class Configuration;
// Whether a copy of a record is the same record (keeps its identity: a copy for undo) or
// a new one (a duplicate).
enum class CopyIdentity { kKeep, kNew };
// A copy of `ruleSet` holding copies of its rules in order, with everything each rule
// holds (type, URI, object classes, whichever the type uses); each copied rule's owner is
// the copy, and its searchable rules are the copies of the original's. `copies` (may be
// null) receives each original rule with its copy.
std::unique_ptr<RuleSet> CopyRuleSet(
    const RuleSet& ruleSet, CopyIdentity identity,
    std::vector<std::pair<const SearchRule*, SearchRule*>>* copies = nullptr);
// A copy of `group` searching by `searchRule`, holding copies of its fields.
std::unique_ptr<InputGroup> CopyGroup(const InputGroup& group, SearchRule* searchRule,
                                      CopyIdentity identity);

// A copy of every record of `configuration`, in order, with the same identities, names
// and values, and its references (a form's rule set, a group's rule, a rule's owner and
// searchable rules) pointing at the copies: the stores would store it as they store the
// original, and a changes-only save or undo matches its records with the original's.
// Records are copied as they are, without the name checks of the Add functions.
std::unique_ptr<Configuration> CloneConfiguration(const Configuration& configuration);

// The records: rule sets and search forms. Where they are kept and how that is reached
// is the stores' business (store/store.h).
class Configuration {
 public:
  Configuration();
  Configuration(const Configuration&) = delete;
  Configuration& operator=(const Configuration&) = delete;
  virtual ~Configuration();

  // Destroys every rule set and form.
  void Clear();
  // Replaces every rule set and form with those of `other`, which is left without any.
  // The records move as they are: their addresses and identities stay.
  void TakeRecords(Configuration& other);
  // The first rule set (form) named `name`, through the configuration's indexes.
  RuleSet* FindRuleSet(std::string_view name) const;
  SearchForm* FindForm(std::string_view name) const;
  // Null (destroying the record) when one of the same name exists; else appends it and
  // returns it.
  RuleSet* AddRuleSet(std::unique_ptr<RuleSet> ruleSet);
  SearchForm* AddForm(std::unique_ptr<SearchForm> form);
  // Takes the rule set (form) out of the list without destroying it; the caller owns it.
  std::unique_ptr<RuleSet> DetachRuleSet(RuleSet* ruleSet);
  std::unique_ptr<SearchForm> DetachForm(SearchForm* form);
  // The forms whose ruleSet is `ruleSet`, in list order.
  std::vector<SearchForm*> FormsUsing(const RuleSet* ruleSet) const;

  std::vector<std::unique_ptr<RuleSet>> ruleSets;
  std::vector<std::unique_ptr<SearchForm>> searchForms;
  // The rule sets and forms by name (see NameIndex).
  NameIndex<RuleSet> ruleSetIndex;
  NameIndex<SearchForm> formIndex;
  // The attribute table the configuration was loaded with, when known (not owned). A save
  // to text refuses object-class and attribute-type names it does not know, since reading
  // the text back would drop them.
  const kvaro::Oidtable* oidtable = nullptr;
};
