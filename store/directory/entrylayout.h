// How the configuration becomes directory entries: the DN, object classes and attributes
// of each record's entry, the order in which entries are written, and the writers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/outcome.h"

namespace directory {

// The parent DN as used for joining: leading '<' and blanks and trailing '>' and blanks
// removed.
std::string StripDn(const std::string& dn);

// DNs of the entries. Names are escaped as DN attribute values, so names of letters,
// digits and inner spaces give "cn=" + name unchanged. Only the rule's DN puts ", "
// (comma, space) before its parent.
std::string RuleSetDn(const std::string& name, const std::string& subtreeDn);
std::string RuleDn(const std::string& name, const std::string& ruleSetDn);
std::string FormDn(const std::string& name, const std::string& subtreeDn);
std::string GroupDn(const std::string& name, const std::string& formDn);
std::string FieldDn(const std::string& name, const std::string& groupDn);

// " $ "-joined list values.
std::string JoinList(const std::vector<std::string>& items);

// The attribute list of each entry, in the order it is sent.
ldapx::ModList RootAttributes();
ldapx::ModList RuleSetAttributes(const RuleSet& ruleSet);
ldapx::ModList RuleAttributes(const SearchRule& rule);
ldapx::ModList FormAttributes(const SearchForm& form);
ldapx::ModList GroupAttributes(const InputGroup& group);
ldapx::ModList FieldAttributes(const InputField& field);

// One entry to add. `after` is the index (in the same plan) of the entry whose add must
// have succeeded before this one is sent: its parent, or the previous sibling whose
// position in the directory's order must stay before it (rule sets, forms and rules are
// read back in directory order; input groups and fields are found by name).
struct PlannedEntry {
  std::string dn;
  ldapx::ModList mods;
  int after = -1;
};
using EntryPlan = std::vector<PlannedEntry>;

// Appends the entries of a record's subtree, depth first and parents first, children in
// list order, to `plan`. `chainAfter` is the entry the record's own entry waits for
// (-1: none). Returns the index of the record's entry. No checks are run.
int PlanRuleSet(const RuleSet& ruleSet, const std::string& subtreeDn, int chainAfter,
                EntryPlan& plan);
int PlanForm(const SearchForm& form, const std::string& subtreeDn, int chainAfter, EntryPlan& plan);
// Every rule set, then every form, below `subtreeDn` (the root entry not included).
EntryPlan PlanConfiguration(const Configuration& configuration, const std::string& subtreeDn);

// Runs the record checks in writing order (each rule set, then each form with its target
// group, further groups and their fields); what the first failing check found.
msg::Outcome CheckRuleSet(const RuleSet& ruleSet);
msg::Outcome CheckForm(const SearchForm& form);
msg::Outcome CheckConfiguration(const Configuration& configuration);

// Adds one entry; on failure "Failed to add entry!" (61261) with the DN and the error
// text.
msg::Outcome AddDirectoryEntry(ldapx::Connection& connection, const std::string& dn,
                               const ldapx::ModList& mods);

// Adds the planned entries with several requests in flight. The stored result is the
// same as adding them one by one in plan order and stopping at the first failure: that
// failure is the one reported (message 61261, once), and entries after it that the
// server had already added are removed again. Succeeds when every entry was added.
msg::Outcome WritePlan(ldapx::Connection& connection, const EntryPlan& plan, int window = 32);

// The writers of each record: check, then add the record's entry and its subtree below
// `parentDn`. The one message of the first failure.
msg::Outcome WriteToDirectory(ldapx::Connection& connection, const RuleSet& ruleSet,
                              const std::string& parentDn);
msg::Outcome WriteToDirectory(ldapx::Connection& connection, const SearchRule& rule,
                              const std::string& ruleSetDn);
msg::Outcome WriteToDirectory(ldapx::Connection& connection, const SearchForm& form,
                              const std::string& parentDn);
msg::Outcome WriteToDirectory(ldapx::Connection& connection, const InputGroup& group,
                              const std::string& formDn);
msg::Outcome WriteToDirectory(ldapx::Connection& connection, const InputField& field,
                              const std::string& groupDn);

// Adds the configuration root entry at `subtreeDn`; message 61261 when the server
// refuses.
msg::Outcome WriteRootEntry(ldapx::Connection& connection, const std::string& subtreeDn);

// True when `a` and `b` are equal but for the case of ASCII letters (how the server
// compares attribute types and object-class names).
bool SameIgnoringCase(std::string_view a, std::string_view b);

// Whether `entry` (read with its objectClass values) is a configuration root entry.
bool IsConfigurationRoot(const ldapx::Entry& entry);

}  // namespace directory
