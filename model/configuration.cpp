#include "model/configuration.h"

#include <algorithm>

#include "platform/support/messages.h"
namespace {

template <typename T, typename Pred>
T* FindIn(const std::vector<std::unique_ptr<T>>& list, Pred pred) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return pred(*p); });
  return it == list.end() ? nullptr : it->get();
}

template <typename T>
bool RemoveFirstNamed(std::vector<std::unique_ptr<T>>& list, const std::string& name) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p->name == name; });
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

bool RemoveFirstString(std::vector<std::string>& list, const std::string& value) {
  auto it = std::find(list.begin(), list.end(), value);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

bool IsStorableName(NameKind kind, std::string_view name, NameStore store) {
  const bool directory = store != NameStore::Text;
  const bool text = store != NameStore::Directory;
  if (!name.empty()) {
    const char first = name.front(), last = name.back();
    if (first == ' ' || first == '\t' || last == ' ' || last == '\t') return false;
  } else if (directory || kind == NameKind::RuleSet) {
    return false;
  }
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r' || c == '\0') return false;
    if (directory && (u < 0x20 || u == 0x7f) && c != '\t') return false;
    if (text && c == ':') return false;
  }
  const bool inTextList = kind == NameKind::Rule;
  const bool inDirectoryList =
      kind == NameKind::Rule || kind == NameKind::InputGroup || kind == NameKind::InputField;
  if (text && inTextList && name.find(',') != std::string_view::npos) return false;
  if (directory && inDirectoryList && name.find('$') != std::string_view::npos) return false;
  if (kind == NameKind::RuleSet) {
    if (name == "." || name == ".." || name.find('/') != std::string_view::npos) return false;
    if (std::string_view("RuleSet=").size() + name.size() > 255) return false;
  }
  return true;
}

// ---- SearchRule ----

SearchRule::SearchRule(RuleSet* owner, std::string name_,
                       const std::vector<SearchRule*>& searchable, std::string uri)
    : name(std::move(name_)),
      ruleType(RuleTypeEntryPoint),
      ldapUri(std::move(uri)),
      ownerRuleSet(owner) {
  for (const SearchRule* r : searchable) searchableRules.push_back(ReferenceTo(*r));
}

SearchRule::SearchRule(RuleSet* owner, std::string name_,
                       const std::vector<SearchRule*>& searchable, std::vector<std::string> classes)
    : name(std::move(name_)),
      ruleType(RuleTypeSearchRule),
      objectClasses(std::move(classes)),
      ownerRuleSet(owner) {
  for (const SearchRule* r : searchable) searchableRules.push_back(ReferenceTo(*r));
}

SearchRule::SearchRule(const SearchRule& other)
    : name(other.name), ruleType(other.ruleType), ownerRuleSet(other.ownerRuleSet) {
  if (ruleType == RuleTypeEntryPoint) {
    ldapUri = other.ldapUri;
  } else {
    objectClasses = other.objectClasses;
    searchableRules.reserve(other.searchableRules.size());
    for (const auto& r : other.searchableRules) searchableRules.push_back(ReferenceTo(*r));
  }
}

SearchRule::~SearchRule() = default;

std::unique_ptr<SearchRule> SearchRule::ReferenceTo(const SearchRule& rule) {
  auto reference = std::make_unique<SearchRule>(rule.ownerRuleSet, rule.name,
                                                std::vector<SearchRule*>{}, std::string());
  reference->ruleType = rule.ruleType;
  return reference;
}

int SearchRule::GetLdapUri(std::string& out) const {
  if (ruleType != RuleTypeEntryPoint) return 0;
  out = ldapUri;
  return 1;
}

int SearchRule::SetLdapUri(const std::string& uri) {
  if (ruleType != RuleTypeEntryPoint) return 0;
  ldapUri = uri;
  return 1;
}

int SearchRule::AddSearchableRule(const SearchRule* rule) {
  if (FindIn(searchableRules, [&](const SearchRule& r) { return r.name == rule->name; })) return 0;
  searchableRules.push_back(ReferenceTo(*rule));
  return 1;
}

int SearchRule::RemoveSearchableRule(const std::string& ruleName) {
  return RemoveFirstNamed(searchableRules, ruleName) ? 1 : 0;
}

void SearchRule::GetSearchableRules(std::vector<SearchRule*>& out) const {
  for (const auto& r : searchableRules) out.push_back(r.get());
}

void SearchRule::GetObjectClasses(std::vector<std::string>& out) const {
  out.insert(out.end(), objectClasses.begin(), objectClasses.end());
}

int SearchRule::AddObjectClass(const std::string& oc) {
  if (ruleType == RuleTypeEntryPoint) return 0;
  if (std::find(objectClasses.begin(), objectClasses.end(), oc) != objectClasses.end()) return 0;
  objectClasses.push_back(oc);
  return 1;
}

int SearchRule::RemoveObjectClass(const std::string& oc) {
  if (ruleType == RuleTypeEntryPoint) return 0;
  return RemoveFirstString(objectClasses, oc) ? 1 : 0;
}

// ---- RuleSet ----

RuleSet::RuleSet(std::string name_, std::vector<std::unique_ptr<SearchRule>> rules_)
    : name(std::move(name_)), rules(std::move(rules_)) {}

RuleSet::~RuleSet() = default;

msg::Outcome RuleSet::Check() const {
  if (!rules.empty()) return {};
  return msg::Problem{msg::id::kRuleSetWithoutRules, {name}, msg::Icon::Warning};
}

SearchRule* RuleSet::FindRule(const std::string& ruleName) const {
  return FindIn(rules, [&](const SearchRule& r) { return r.name == ruleName; });
}

int RuleSet::AddRule(const SearchRule* rule) {
  if (FindRule(rule->name)) return 0;
  rules.push_back(std::make_unique<SearchRule>(*rule));
  return 1;
}

void RuleSet::GetRules(std::vector<SearchRule*>& out) const {
  for (const auto& r : rules) out.push_back(r.get());
}

// ---- InputField ----

InputField::InputField(std::string name_, std::string defaultValue_, std::vector<std::string> attrs)
    : name(std::move(name_)),
      defaultValue(std::move(defaultValue_)),
      filterAttributes(std::move(attrs)) {}

int InputField::AddFilterAttribute(const std::string& attr) {
  if (std::find(filterAttributes.begin(), filterAttributes.end(), attr) != filterAttributes.end())
    return 0;
  filterAttributes.push_back(attr);
  return 1;
}

int InputField::RemoveFilterAttribute(const std::string& attr) {
  return RemoveFirstString(filterAttributes, attr) ? 1 : 0;
}

void InputField::GetFilterAttributes(std::vector<std::string>& out) const {
  out.insert(out.end(), filterAttributes.begin(), filterAttributes.end());
}

msg::Outcome InputField::Check() const {
  if (!filterAttributes.empty()) return {};
  return msg::Problem{msg::id::kFieldWithoutFilterAttribute, {name}, msg::Icon::Warning};
}

// ---- InputGroup ----

InputGroup::InputGroup(std::string name_, SearchRule* rule,
                       std::vector<std::unique_ptr<InputField>> fields_)
    : name(std::move(name_)), searchRule(rule), fields(std::move(fields_)) {}

InputGroup::~InputGroup() = default;

msg::Outcome InputGroup::Check() const {
  if (!fields.empty()) return {};
  return msg::Problem{msg::id::kGroupWithoutFields, {name}, msg::Icon::Warning};
}

InputField* InputGroup::FindField(const std::string& fieldName) const {
  return FindIn(fields, [&](const InputField& f) { return f.name == fieldName; });
}

int InputGroup::AddField(const std::string& fieldName, const std::string& defaultValue,
                         const std::vector<std::string>& attributes) {
  if (FindField(fieldName)) return 0;
  fields.push_back(std::make_unique<InputField>(fieldName, defaultValue, attributes));
  return 1;
}

int InputGroup::RemoveField(const std::string& fieldName) {
  return RemoveFirstNamed(fields, fieldName) ? 1 : 0;
}

// ---- SearchForm ----

SearchForm::SearchForm(std::string name_, RuleSet* ruleSet_, std::unique_ptr<InputGroup> target,
                       std::vector<std::unique_ptr<InputGroup>> groups)
    : name(std::move(name_)),
      ruleSet(ruleSet_),
      targetGroup(std::move(target)),
      inputGroups(std::move(groups)) {}

SearchForm::~SearchForm() = default;

msg::Outcome SearchForm::Check() const {
  if (targetGroup) return {};
  return msg::Problem{msg::id::kFormWithoutTarget, {name}, msg::Icon::Warning};
}

void SearchForm::SetTargetGroup(std::unique_ptr<InputGroup> group) {
  targetGroup = std::move(group);
}

int SearchForm::AddInputGroup(std::unique_ptr<InputGroup> group) {
  if (FindIn(inputGroups, [&](const InputGroup& g) { return &g == group.get(); })) {
    // The list already owns this group: the pointer handed in must not destroy it too.
    (void)group.release();
    return 0;
  }
  inputGroups.push_back(std::move(group));
  return 1;
}

int SearchForm::RemoveInputGroup(const std::string& groupName) {
  return RemoveFirstNamed(inputGroups, groupName) ? 1 : 0;
}

int SearchForm::RemoveInputGroup(const InputGroup* group) {
  auto it = std::find_if(inputGroups.begin(), inputGroups.end(),
                         [&](const auto& g) { return g.get() == group; });
  if (it == inputGroups.end()) return 0;
  inputGroups.erase(it);
  return 1;
}

void SearchForm::GetInputGroups(std::vector<InputGroup*>& out) const {
  out.clear();
  for (const auto& g : inputGroups) out.push_back(g.get());
}

// ---- Configuration ----

Configuration::Configuration() = default;

Configuration::~Configuration() { Clear(); }

void Configuration::Clear() {
  // Forms refer to rule sets, so they go first.
  searchForms.clear();
  ruleSets.clear();
}

RuleSet* Configuration::FindRuleSet(const std::string& setName) const {
  return FindIn(ruleSets, [&](const RuleSet& r) { return r.name == setName; });
}

std::unique_ptr<RuleSet> Configuration::DetachRuleSet(RuleSet* ruleSet) {
  auto it = std::find_if(ruleSets.begin(), ruleSets.end(),
                         [&](const auto& p) { return p.get() == ruleSet; });
  if (it == ruleSets.end()) return nullptr;
  std::unique_ptr<RuleSet> out = std::move(*it);
  ruleSets.erase(it);
  return out;
}

std::unique_ptr<SearchForm> Configuration::DetachForm(SearchForm* form) {
  auto it = std::find_if(searchForms.begin(), searchForms.end(),
                         [&](const auto& p) { return p.get() == form; });
  if (it == searchForms.end()) return nullptr;
  std::unique_ptr<SearchForm> out = std::move(*it);
  searchForms.erase(it);
  return out;
}

std::vector<SearchForm*> Configuration::FormsUsing(const RuleSet* ruleSet) const {
  std::vector<SearchForm*> out;
  for (const auto& f : searchForms)
    if (f->ruleSet == ruleSet) out.push_back(f.get());
  return out;
}
