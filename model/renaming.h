// The rules every edit of the configuration keeps: names unique among siblings (as the
// directory compares them), renames, "who uses this", and removals that never leave a
// reference to a destroyed record. References between records (a form's rule set, a
// group's rule, a rule's searchable rules) point at the records themselves, so a rename
// changes one name and every reference shows it. The editor and both loaders go through
// these functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/configuration.h"

// Whether `a` and `b` name the same entry in the directory: every record's name is the
// value of its entry's RDN ("cn=" + name), which the directory compares without regard
// to the case of letters or to runs of blanks. Two records that would stand side by side
// (below one parent entry) may not have such names, wherever the configuration is kept
// now, as it may be saved to the directory later. Only ASCII letters are folded.
bool SameEntryName(std::string_view a, std::string_view b);

// Whether a record may take the name `name` beside siblings named `others`, for Add and
// Rename alike: nothing wrong, or the message that refuses it. A sibling with exactly
// that name gives `takenId` with `takenArgs`; one whose name differs only as
// SameEntryName allows gives 62320 with `name` and that sibling's name.
msg::Outcome CheckNameFree(std::string_view name, const std::vector<std::string>& others,
                           int takenId, std::vector<std::string> takenArgs);
// CheckNameFree among the siblings of a record of each kind, with the kind's "already
// exists" message. `self` (the record being renamed, null when adding) is no sibling of
// itself.
msg::Outcome CheckRuleSetNameFree(const Configuration& configuration, std::string_view name,
                                  const RuleSet* self = nullptr);
msg::Outcome CheckRuleNameFree(const RuleSet& owner, std::string_view name,
                               const SearchRule* self = nullptr);
msg::Outcome CheckFormNameFree(const Configuration& configuration, std::string_view name,
                               const SearchForm* self = nullptr);
// The siblings of a group are the form's target group and its further groups. Setting a
// new target group passes the old one as `self`, since it goes.
msg::Outcome CheckGroupNameFree(const SearchForm& form, std::string_view name,
                                const InputGroup* self = nullptr);
msg::Outcome CheckFieldNameFree(const InputGroup& group, std::string_view name,
                                const InputField* self = nullptr);

// Renames a record, keeping the indexes of its holder: nothing wrong, or (changing
// nothing) the problem with the name: not storable (IsStorableName; 62173 for a rule
// set, else 62160) or taken by a sibling (as Check...NameFree). References to the record
// follow by themselves. Giving a record its own name again is no change.
msg::Outcome RenameRuleSet(Configuration& configuration, RuleSet& ruleSet,
                           const std::string& newName);
msg::Outcome RenameRule(RuleSet& owner, SearchRule& rule, const std::string& newName);
msg::Outcome RenameForm(Configuration& configuration, SearchForm& form, const std::string& newName);
msg::Outcome RenameGroup(SearchForm& form, InputGroup& group, const std::string& newName);
msg::Outcome RenameField(InputGroup& group, InputField& field, const std::string& newName);

// Duplicates: a copy of a rule set or form under a new name, appended to the
// configuration's list, refused (adding nothing) as a rename to `newName` would be.
// Every copied record is a new one (a new identity). A rule set's copy holds copies of
// its rules in order, with everything each rule holds; a copied rule's searchable rules
// are the copies of the original's, so nothing of the copy refers into the original. A
// form's copy uses the same rule set; its groups (copies, searching by the same rules)
// hold copies of the fields; tool tip and help text are copied. `made` (may be null)
// receives the copy.
msg::Outcome DuplicateRuleSet(Configuration& configuration, const RuleSet& source,
                              const std::string& newName, RuleSet** made = nullptr);
msg::Outcome DuplicateForm(Configuration& configuration, const SearchForm& source,
                           const std::string& newName, SearchForm** made = nullptr);

// Adds `ruleSets` and `forms` (records made together, such as a search service's: the
// forms use those rule sets or the configuration's) to the configuration, all of them or
// none: when a name is taken by a record of the configuration or of the batch, or cannot
// be stored, nothing is added and the problem (62393) names every such name. On success
// the lists are emptied, and `added` (may be null) receives how many rule sets and forms
// were appended at the end of the configuration's lists.
msg::Outcome AddRecords(Configuration& configuration,
                        std::vector<std::unique_ptr<RuleSet>>& ruleSets,
                        std::vector<std::unique_ptr<SearchForm>>& forms);

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

// The forms that use `ruleSet`: those whose rule set it is, and those with an input group
// that searches by one of its rules; in list order, each once.
std::vector<SearchForm*> UsersOfRuleSet(const Configuration& configuration, const RuleSet& ruleSet);

// Takes `rule` out of `owner` and hands it to the caller (who may destroy it, or keep it
// to put back). Null, changing nothing, when `owner` does not hold this very rule or
// UsesOfRule finds a use: nothing may be left pointing at a record that is gone.
std::unique_ptr<SearchRule> RemoveRule(const Configuration& configuration, RuleSet& owner,
                                       const SearchRule* rule);
// Takes `ruleSet` out of the configuration and hands it to the caller. Null, changing
// nothing, when the configuration does not hold it or UsersOfRuleSet finds a form.
std::unique_ptr<RuleSet> RemoveRuleSet(Configuration& configuration, const RuleSet* ruleSet);

// The form that holds `group` as its target or further group, or null.
SearchForm* FormOfGroup(const Configuration& configuration, const InputGroup* group);
// The input group (of any form) that holds `field`, or null.
InputGroup* GroupOfField(const Configuration& configuration, const InputField* field);
