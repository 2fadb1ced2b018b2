#include "model/renaming.h"

#include <algorithm>

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
