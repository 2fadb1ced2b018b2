// Renaming records and finding what still uses a rule: the edits that must keep every
// reference by name in step. Forms refer to their rule set and input groups to their rule
// through pointers and follow a rename by themselves; the rules a rule can search for are
// held by name and are renamed here.
#pragma once

#include <string>
#include <vector>

#include "model/configuration.h"

// Gives `rule` of the rule set `owner` the name `newName`, and every entry of the
// searchable-rule lists of `owner`'s rules that names it the same. The caller has
// checked the name (IsStorableName, unique in `owner`).
void RenameRule(RuleSet& owner, SearchRule& rule, const std::string& newName);

// One use of a rule: a rule of its set that can search for it, or an input group (the
// target group or a further group of `form`) that searches by it.
struct RuleUse {
  const SearchRule* searchingRule = nullptr;
  const SearchForm* form = nullptr;
  const InputGroup* group = nullptr;
};

// Every use of `rule` of the rule set `owner` in `configuration`, rules first (in the
// set's order), then input groups (forms in order, each target group before the further
// groups). A rule that lists itself does not count.
std::vector<RuleUse> UsesOfRule(const Configuration& configuration, const RuleSet& owner,
                                const SearchRule& rule);

// Takes `rule` out of `owner` and destroys it. False, changing nothing, when `owner` does
// not hold this very rule or UsesOfRule finds a use (nothing may be left pointing at a
// destroyed rule, or naming one that is gone).
bool RemoveUnusedRule(const Configuration& configuration, RuleSet& owner, const SearchRule* rule);

// The form that holds `group` as its target or further group, or null.
SearchForm* FormOfGroup(const Configuration& configuration, const InputGroup* group);
// The input group (of any form) that holds `field`, or null.
InputGroup* GroupOfField(const Configuration& configuration, const InputField* field);
