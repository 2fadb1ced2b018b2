#include "model/renaming.h"

#include <algorithm>

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

void RenameRule(RuleSet& owner, SearchRule& rule, const std::string& newName) {
  const std::string oldName = rule.name;
  if (oldName == newName) return;
  for (const auto& other : owner.rules) {
    for (const auto& reference : other->searchableRules) {
      if (reference->name == oldName) reference->name = newName;
    }
  }
  rule.name = newName;
}

std::vector<RuleUse> UsesOfRule(const Configuration& configuration, const RuleSet& owner,
                                const SearchRule& rule) {
  std::vector<RuleUse> uses;
  for (const auto& other : owner.rules) {
    if (other.get() == &rule) continue;
    const bool searches =
        std::any_of(other->searchableRules.begin(), other->searchableRules.end(),
                    [&rule](const auto& reference) { return reference->name == rule.name; });
    if (searches) uses.push_back(RuleUse{other.get(), nullptr, nullptr});
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

bool RemoveUnusedRule(const Configuration& configuration, RuleSet& owner, const SearchRule* rule) {
  auto held = std::find_if(owner.rules.begin(), owner.rules.end(),
                           [rule](const auto& r) { return r.get() == rule; });
  if (held == owner.rules.end()) return false;
  if (!UsesOfRule(configuration, owner, *rule).empty()) return false;
  owner.rules.erase(held);
  return true;
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
