#include "model/renaming.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

namespace {

// `name` as the directory compares it: blanks at either end dropped, each run of blanks
// inside made one space, ASCII letters in lower case.
std::string EntryNameKey(std::string_view name) {
  std::string key;
  bool blank = false;
  for (char c : name) {
    if (c == ' ' || c == '\t') {
      blank = true;
      continue;
    }
    if (blank && !key.empty()) key += ' ';
    blank = false;
    key += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  return key;
}

// The names of `siblings` but `self` (null ones skipped).
template <class Record>
std::vector<std::string> NamesBeside(const std::vector<const Record*>& siblings,
                                     const Record* self) {
  std::vector<std::string> names;
  for (const Record* other : siblings)
    if (other && other != self) names.push_back(other->name);
  return names;
}

template <class Record>
std::vector<const Record*> Pointers(const std::vector<std::unique_ptr<Record>>& records) {
  std::vector<const Record*> pointers;
  for (const auto& record : records) pointers.push_back(record.get());
  return pointers;
}

}  // namespace

bool SameEntryName(std::string_view a, std::string_view b) {
  return EntryNameKey(a) == EntryNameKey(b);
}

msg::Outcome CheckNameFree(std::string_view name, const std::vector<std::string>& others,
                           int takenId, std::vector<std::string> takenArgs) {
  const std::string* similar = nullptr;
  for (const std::string& other : others) {
    if (other == name) return msg::Problem{takenId, std::move(takenArgs)};
    if (!similar && SameEntryName(other, name)) similar = &other;
  }
  if (similar) return msg::Problem{62320, {std::string(name), *similar}};
  return {};
}

msg::Outcome CheckRuleSetNameFree(const Configuration& configuration, std::string_view name,
                                  const RuleSet* self) {
  return CheckNameFree(name, NamesBeside(Pointers(configuration.ruleSets), self), 62172,
                       {std::string(name)});
}

msg::Outcome CheckRuleNameFree(const RuleSet& owner, std::string_view name,
                               const SearchRule* self) {
  return CheckNameFree(name, NamesBeside(Pointers(owner.rules), self), 62222,
                       {std::string(name), owner.name});
}

msg::Outcome CheckFormNameFree(const Configuration& configuration, std::string_view name,
                               const SearchForm* self) {
  return CheckNameFree(name, NamesBeside(Pointers(configuration.searchForms), self), 62180,
                       {std::string(name)});
}

msg::Outcome CheckGroupNameFree(const SearchForm& form, std::string_view name,
                                const InputGroup* self) {
  std::vector<const InputGroup*> groups = Pointers(form.inputGroups);
  groups.insert(groups.begin(), form.targetGroup.get());
  const std::string caption =
      form.name + " (" + (form.ruleSet ? form.ruleSet->name : std::string()) + ")";
  return CheckNameFree(name, NamesBeside(groups, self), 62223, {std::string(name), caption});
}

msg::Outcome CheckFieldNameFree(const InputGroup& group, std::string_view name,
                                const InputField* self) {
  return CheckNameFree(name, NamesBeside(Pointers(group.fields), self), 61252, {std::string(name)});
}

namespace {

// The rename every kind shares: storable, free among the siblings, then applied.
template <class Record>
msg::Outcome Rename(Record& record, const std::string& newName, NameKind kind, int notStorableId,
                    const msg::Outcome& free) {
  if (record.name == newName) return {};
  if (!IsStorableName(kind, newName)) return msg::Problem{notStorableId, {newName}};
  if (!free) return free;
  record.name = newName;
  return {};
}

}  // namespace

msg::Outcome RenameRuleSet(Configuration& configuration, RuleSet& ruleSet,
                           const std::string& newName) {
  msg::Outcome renamed = Rename(ruleSet, newName, NameKind::RuleSet, 62173,
                                CheckRuleSetNameFree(configuration, newName, &ruleSet));
  if (renamed) configuration.ruleSetIndex.Invalidate();
  return renamed;
}

msg::Outcome RenameRule(RuleSet& owner, SearchRule& rule, const std::string& newName) {
  msg::Outcome renamed =
      Rename(rule, newName, NameKind::Rule, 62160, CheckRuleNameFree(owner, newName, &rule));
  if (renamed) owner.ruleIndex.Invalidate();
  return renamed;
}

msg::Outcome RenameForm(Configuration& configuration, SearchForm& form,
                        const std::string& newName) {
  msg::Outcome renamed = Rename(form, newName, NameKind::Form, 62160,
                                CheckFormNameFree(configuration, newName, &form));
  if (renamed) configuration.formIndex.Invalidate();
  return renamed;
}

msg::Outcome RenameGroup(SearchForm& form, InputGroup& group, const std::string& newName) {
  return Rename(group, newName, NameKind::InputGroup, 62160,
                CheckGroupNameFree(form, newName, &group));
}

msg::Outcome RenameField(InputGroup& group, InputField& field, const std::string& newName) {
  msg::Outcome renamed = Rename(field, newName, NameKind::InputField, 62160,
                                CheckFieldNameFree(group, newName, &field));
  if (renamed) group.fieldIndex.Invalidate();
  return renamed;
}

msg::Outcome DuplicateRuleSet(Configuration& configuration, const RuleSet& source,
                              const std::string& newName, RuleSet** made) {
  if (!IsStorableName(NameKind::RuleSet, newName)) return msg::Problem{62173, {newName}};
  if (msg::Outcome free = CheckRuleSetNameFree(configuration, newName); !free) return free;
  std::unique_ptr<RuleSet> copy = CopyRuleSet(source, CopyIdentity::kNew);
  copy->name = newName;
  RuleSet* added = configuration.AddRuleSet(std::move(copy));
  if (made) *made = added;
  return {};
}

msg::Outcome DuplicateForm(Configuration& configuration, const SearchForm& source,
                           const std::string& newName, SearchForm** made) {
  if (!IsStorableName(NameKind::Form, newName)) return msg::Problem{62160, {newName}};
  if (msg::Outcome free = CheckFormNameFree(configuration, newName); !free) return free;
  auto copy = std::make_unique<SearchForm>(
      newName, source.ruleSet,
      source.targetGroup
          ? CopyGroup(*source.targetGroup, source.targetGroup->searchRule, CopyIdentity::kNew)
          : nullptr);
  for (const auto& group : source.inputGroups)
    copy->inputGroups.push_back(CopyGroup(*group, group->searchRule, CopyIdentity::kNew));
  copy->toolTip = source.toolTip;
  copy->helpString = source.helpString;
  SearchForm* added = configuration.AddForm(std::move(copy));
  if (made) *made = added;
  return {};
}

msg::Outcome AddRecords(Configuration& configuration,
                        std::vector<std::unique_ptr<RuleSet>>& ruleSets,
                        std::vector<std::unique_ptr<SearchForm>>& forms) {
  std::vector<std::string> refused;
  std::vector<std::string> setNames, formNames;
  for (const auto& set : configuration.ruleSets) setNames.push_back(set->name);
  for (const auto& form : configuration.searchForms) formNames.push_back(form->name);
  const auto check = [&refused](NameKind kind, const std::string& name,
                                std::vector<std::string>& taken) {
    if (!IsStorableName(kind, name) || !CheckNameFree(name, taken, 0, {})) refused.push_back(name);
    taken.push_back(name);
  };
  for (const auto& set : ruleSets) check(NameKind::RuleSet, set->name, setNames);
  for (const auto& form : forms) check(NameKind::Form, form->name, formNames);
  if (!refused.empty()) {
    std::string list;
    for (const std::string& name : refused) list += (list.empty() ? "'" : ", '") + name + "'";
    return msg::Problem{62393, {list}};
  }
  for (auto& set : ruleSets) configuration.AddRuleSet(std::move(set));
  for (auto& form : forms) configuration.AddForm(std::move(form));
  ruleSets.clear();
  forms.clear();
  return {};
}

std::vector<RuleUse> UsesOfRule(const Configuration& configuration, const RuleSet& owner,
                                const SearchRule& rule) {
  std::vector<RuleUse> uses;
  for (const auto& other : owner.rules) {
    if (other.get() == &rule) continue;
    const auto& searchable = other->searchableRules;
    if (std::find(searchable.begin(), searchable.end(), &rule) != searchable.end())
      uses.push_back(RuleUse{other.get(), nullptr, nullptr});
  }
  for (const auto& form : configuration.searchForms) {
    auto note = [&](const InputGroup* group) {
      if (group && group->searchRule == &rule) uses.push_back(RuleUse{nullptr, form.get(), group});
    };
    note(form->targetGroup.get());
    for (const auto& group : form->inputGroups) note(group.get());
  }
  return uses;
}

std::vector<SearchForm*> UsersOfRuleSet(const Configuration& configuration,
                                        const RuleSet& ruleSet) {
  std::vector<SearchForm*> users;
  std::unordered_set<const SearchRule*> rules;
  for (const auto& rule : ruleSet.rules) rules.insert(rule.get());
  const auto searchesByItsRule = [&rules](const InputGroup* group) {
    return group && rules.count(group->searchRule) != 0;
  };
  for (const auto& form : configuration.searchForms) {
    bool uses = form->ruleSet == &ruleSet || searchesByItsRule(form->targetGroup.get());
    for (const auto& group : form->inputGroups) uses = uses || searchesByItsRule(group.get());
    if (uses) users.push_back(form.get());
  }
  return users;
}

std::unique_ptr<SearchRule> RemoveRule(const Configuration& configuration, RuleSet& owner,
                                       const SearchRule* rule) {
  auto held = std::find_if(owner.rules.begin(), owner.rules.end(),
                           [rule](const auto& r) { return r.get() == rule; });
  if (held == owner.rules.end()) return nullptr;
  if (!UsesOfRule(configuration, owner, *rule).empty()) return nullptr;
  std::unique_ptr<SearchRule> removed = std::move(*held);
  owner.rules.erase(held);
  owner.ruleIndex.Invalidate();
  return removed;
}

std::unique_ptr<RuleSet> RemoveRuleSet(Configuration& configuration, const RuleSet* ruleSet) {
  const auto held = std::find_if(configuration.ruleSets.begin(), configuration.ruleSets.end(),
                                 [ruleSet](const auto& r) { return r.get() == ruleSet; });
  if (held == configuration.ruleSets.end()) return nullptr;
  if (!UsersOfRuleSet(configuration, *ruleSet).empty()) return nullptr;
  return configuration.DetachRuleSet(held->get());
}

SearchForm* FormOfGroup(const Configuration& configuration, const InputGroup* group) {
  if (!group) return nullptr;
  for (const auto& form : configuration.searchForms) {
    if (form->targetGroup.get() == group) return form.get();
    for (const auto& g : form->inputGroups)
      if (g.get() == group) return form.get();
  }
  return nullptr;
}

InputGroup* GroupOfField(const Configuration& configuration, const InputField* field) {
  if (!field) return nullptr;
  for (const auto& form : configuration.searchForms) {
    std::vector<InputGroup*> groups;
    if (form->targetGroup) groups.push_back(form->targetGroup.get());
    for (const auto& g : form->inputGroups) groups.push_back(g.get());
    for (InputGroup* group : groups)
      for (const auto& f : group->fields)
        if (f.get() == field) return group;
  }
  return nullptr;
}
