#include "store/directory/entrylayout.h"

#include "platform/ldap/qerror.h"
#include "platform/support/messages.h"

namespace directory {

namespace {

std::string ChildDn(const std::string& name, const std::string& separator,
                    const std::string& parentDn) {
  return "cn=" + ldapx::EscapeDnValue(name) + separator + StripDn(parentDn);
}

std::vector<std::string> Names(const std::vector<SearchRule*>& rules) {
  std::vector<std::string> names;
  for (const auto& r : rules) names.push_back(r->name);
  return names;
}

msg::Problem AddFailure(const std::string& dn, int code) {
  return msg::Problem{61261, {dn, kvaro::QError(code).Text()}, msg::Icon::Error};
}

int Append(EntryPlan& plan, std::string dn, ldapx::ModList mods, int after) {
  plan.push_back(PlannedEntry{std::move(dn), std::move(mods), after});
  return static_cast<int>(plan.size()) - 1;
}

void PlanField(const InputField& field, const std::string& groupDn, int groupIndex,
               EntryPlan& plan) {
  Append(plan, FieldDn(field.name, groupDn), FieldAttributes(field), groupIndex);
}

int PlanGroup(const InputGroup& group, const std::string& formDn, int formIndex, EntryPlan& plan) {
  const std::string dn = GroupDn(group.name, formDn);
  const int index = Append(plan, dn, GroupAttributes(group), formIndex);
  for (const auto& f : group.fields) PlanField(*f, dn, index, plan);
  return index;
}

int PlanRule(const SearchRule& rule, const std::string& ruleSetDn, int after, EntryPlan& plan) {
  return Append(plan, RuleDn(rule.name, ruleSetDn), RuleAttributes(rule), after);
}

msg::Outcome CheckGroup(const InputGroup& group) {
  if (msg::Outcome checked = group.Check(); !checked) return checked;
  for (const auto& f : group.fields)
    if (msg::Outcome checked = f->Check(); !checked) return checked;
  return {};
}

}  // namespace

std::string StripDn(const std::string& dn) {
  size_t begin = 0, end = dn.size();
  while (begin < end && (dn[begin] == '<' || dn[begin] == ' ')) ++begin;
  while (end > begin && (dn[end - 1] == '>' || dn[end - 1] == ' ')) {
    // A blank kept by a backslash is part of the last value ("cn=x\ "), not padding.
    size_t slashes = 0;
    while (end - 1 - slashes > begin && dn[end - 2 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 1) break;
    --end;
  }
  return dn.substr(begin, end - begin);
}

std::string RuleSetDn(const std::string& name, const std::string& subtreeDn) {
  return ChildDn(name, ",", subtreeDn);
}
std::string RuleDn(const std::string& name, const std::string& ruleSetDn) {
  return ChildDn(name, ", ", ruleSetDn);
}
std::string FormDn(const std::string& name, const std::string& subtreeDn) {
  return ChildDn(name, ",", subtreeDn);
}
std::string GroupDn(const std::string& name, const std::string& formDn) {
  return ChildDn(name, ",", formDn);
}
std::string FieldDn(const std::string& name, const std::string& groupDn) {
  return ChildDn(name, ",", groupDn);
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += " $ ";
    out += items[i];
  }
  return out;
}

ldapx::ModList RootAttributes() {
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "ovConfigurationRoot"});
  return mods;
}

ldapx::ModList RuleSetAttributes(const RuleSet&) {
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "ovRuleSet"});
  return mods;
}

ldapx::ModList RuleAttributes(const SearchRule& rule) {
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "ovSearchClass"});
  // An attribute without values is a protocol error, so a search rule that has lost
  // all its object classes sends none.
  if (rule.ruleType == RuleTypeSearchRule && !rule.objectClasses.empty())
    mods.Add("ovObjectClassDefinition", rule.objectClasses);
  if (!rule.searchableRules.empty())
    mods.Add("ovSearchClassList", {JoinList(Names(rule.searchableRules))});
  if (rule.ruleType == RuleTypeEntryPoint) mods.Add("ovLDAPURI", {rule.ldapUri});
  return mods;
}

ldapx::ModList FormAttributes(const SearchForm& form) {
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "ovSearchForm", "ovHelpObject"});
  mods.Add("ovRuleSetName", {form.ruleSet ? form.ruleSet->name : std::string()});
  mods.Add("ovHelpString", {form.helpString});
  mods.Add("ovToolTip", {form.toolTip});
  std::vector<std::string> groups;
  if (form.targetGroup) groups.push_back(form.targetGroup->name);
  for (const auto& g : form.inputGroups) groups.push_back(g->name);
  mods.Add("ovInputList", {JoinList(groups)});
  return mods;
}

ldapx::ModList GroupAttributes(const InputGroup& group) {
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "ovSearchInput"});
  mods.Add("ovSearchClassName", {group.searchRule ? group.searchRule->name : std::string()});
  std::vector<std::string> fields;
  for (const auto& f : group.fields) fields.push_back(f->name);
  mods.Add("ovFieldList", {JoinList(fields)});
  return mods;
}

ldapx::ModList FieldAttributes(const InputField& field) {
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "ovSearchField"});
  mods.Add("ovFiltAttrList", {JoinList(field.filterAttributes)});
  return mods;
}

int PlanRuleSet(const RuleSet& ruleSet, const std::string& subtreeDn, int chainAfter,
                EntryPlan& plan) {
  const std::string dn = RuleSetDn(ruleSet.name, subtreeDn);
  const int index = Append(plan, dn, RuleSetAttributes(ruleSet), chainAfter);
  int previous = index;
  for (const auto& r : ruleSet.rules) previous = PlanRule(*r, dn, previous, plan);
  return index;
}

int PlanForm(const SearchForm& form, const std::string& subtreeDn, int chainAfter,
             EntryPlan& plan) {
  const std::string dn = FormDn(form.name, subtreeDn);
  const int index = Append(plan, dn, FormAttributes(form), chainAfter);
  if (form.targetGroup) PlanGroup(*form.targetGroup, dn, index, plan);
  for (const auto& g : form.inputGroups) PlanGroup(*g, dn, index, plan);
  return index;
}

EntryPlan PlanConfiguration(const Configuration& configuration, const std::string& subtreeDn) {
  EntryPlan plan;
  int previous = -1;
  for (const auto& rs : configuration.ruleSets)
    previous = PlanRuleSet(*rs, subtreeDn, previous, plan);
  for (const auto& f : configuration.searchForms)
    previous = PlanForm(*f, subtreeDn, previous, plan);
  return plan;
}

msg::Outcome CheckRuleSet(const RuleSet& ruleSet) {
  if (msg::Outcome checked = ruleSet.Check(); !checked) return checked;
  for (const auto& r : ruleSet.rules)
    if (msg::Outcome checked = r->Check(); !checked) return checked;
  return {};
}

msg::Outcome CheckForm(const SearchForm& form) {
  if (msg::Outcome checked = form.Check(); !checked) return checked;
  if (form.targetGroup)
    if (msg::Outcome checked = CheckGroup(*form.targetGroup); !checked) return checked;
  for (const auto& g : form.inputGroups)
    if (msg::Outcome checked = CheckGroup(*g); !checked) return checked;
  return {};
}

msg::Outcome CheckConfiguration(const Configuration& configuration) {
  for (const auto& rs : configuration.ruleSets)
    if (msg::Outcome checked = CheckRuleSet(*rs); !checked) return checked;
  for (const auto& f : configuration.searchForms)
    if (msg::Outcome checked = CheckForm(*f); !checked) return checked;
  return {};
}

msg::Outcome AddDirectoryEntry(ldapx::Connection& connection, const std::string& dn,
                               const ldapx::ModList& mods) {
  const int rc = connection.Add(dn, mods);
  if (rc == ldapx::kSuccess) return {};
  return AddFailure(dn, rc);
}

msg::Outcome WritePlan(ldapx::Connection& connection, const EntryPlan& plan, int window) {
  if (plan.empty()) return {};
  std::vector<ldapx::Connection::AddRequest> requests;
  requests.reserve(plan.size());
  for (const PlannedEntry& e : plan) requests.push_back({e.dn, e.mods, e.after});
  int first = -1;
  std::vector<int> codes;
  connection.AddMany(requests, window, &first, &codes);
  if (first < 0) return {};

  // Entries before the failure that were held back (waiting for a prerequisite) when the
  // failure stopped the batch are added now, as a one-by-one save would have done; one
  // of them may fail in turn and become the first failure.
  while (true) {
    std::vector<int> retry;
    for (int i = 0; i < first; ++i)
      if (codes[i] == ldapx::kNotSent) retry.push_back(i);
    if (retry.empty()) break;
    std::vector<ldapx::Connection::AddRequest> again;
    std::vector<int> position(plan.size(), -1);
    for (size_t k = 0; k < retry.size(); ++k) {
      const PlannedEntry& e = plan[retry[k]];
      position[retry[k]] = static_cast<int>(k);
      again.push_back({e.dn, e.mods, e.after >= 0 ? position[e.after] : -1});
    }
    int failed = -1;
    std::vector<int> againCodes;
    connection.AddMany(again, window, &failed, &againCodes);
    for (size_t k = 0; k < retry.size(); ++k) codes[retry[k]] = againCodes[k];
    if (failed >= 0) first = retry[failed];
    if (failed < 0) break;
  }

  const msg::Problem failure = AddFailure(plan[first].dn, codes[first]);
  // Take back what was added beyond the failure, children before parents.
  for (int i = static_cast<int>(plan.size()) - 1; i > first; --i)
    if (codes[i] == ldapx::kSuccess) connection.Delete(plan[i].dn);
  return failure;
}

msg::Outcome WriteToDirectory(ldapx::Connection& connection, const RuleSet& ruleSet,
                              const std::string& parentDn) {
  if (msg::Outcome checked = CheckRuleSet(ruleSet); !checked) return checked;
  EntryPlan plan;
  PlanRuleSet(ruleSet, parentDn, -1, plan);
  return WritePlan(connection, plan);
}

msg::Outcome WriteToDirectory(ldapx::Connection& connection, const SearchRule& rule,
                              const std::string& ruleSetDn) {
  if (msg::Outcome checked = rule.Check(); !checked) return checked;
  return AddDirectoryEntry(connection, RuleDn(rule.name, ruleSetDn), RuleAttributes(rule));
}

msg::Outcome WriteToDirectory(ldapx::Connection& connection, const SearchForm& form,
                              const std::string& parentDn) {
  if (msg::Outcome checked = CheckForm(form); !checked) return checked;
  EntryPlan plan;
  PlanForm(form, parentDn, -1, plan);
  return WritePlan(connection, plan);
}

msg::Outcome WriteToDirectory(ldapx::Connection& connection, const InputGroup& group,
                              const std::string& formDn) {
  if (msg::Outcome checked = CheckGroup(group); !checked) return checked;
  EntryPlan plan;
  PlanGroup(group, formDn, -1, plan);
  return WritePlan(connection, plan);
}

msg::Outcome WriteToDirectory(ldapx::Connection& connection, const InputField& field,
                              const std::string& groupDn) {
  if (msg::Outcome checked = field.Check(); !checked) return checked;
  return AddDirectoryEntry(connection, FieldDn(field.name, groupDn), FieldAttributes(field));
}

msg::Outcome WriteRootEntry(ldapx::Connection& connection, const std::string& subtreeDn) {
  return AddDirectoryEntry(connection, subtreeDn, RootAttributes());
}

namespace {
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsConfigurationRoot(const ldapx::Entry& entry) {
  const ldapx::Attribute* classes = entry.Find("objectClass");
  if (!classes) return false;
  for (const std::string& value : classes->values)
    if (SameIgnoringCase(value, "ovConfigurationRoot")) return true;
  return false;
}

}  // namespace directory
