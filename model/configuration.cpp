#include "model/configuration.h"

#include <algorithm>
#include <atomic>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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

RecordId NewRecordId() {
  static std::atomic<RecordId> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

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
      searchableRules(searchable),
      ownerRuleSet(owner) {}

SearchRule::SearchRule(RuleSet* owner, std::string name_,
                       const std::vector<SearchRule*>& searchable, std::vector<std::string> classes)
    : name(std::move(name_)),
      ruleType(RuleTypeSearchRule),
      objectClasses(std::move(classes)),
      searchableRules(searchable),
      ownerRuleSet(owner) {}

SearchRule::SearchRule(const SearchRule& other)
    : name(other.name), ruleType(other.ruleType), ownerRuleSet(other.ownerRuleSet) {
  if (ruleType == RuleTypeEntryPoint) {
    ldapUri = other.ldapUri;
  } else {
    objectClasses = other.objectClasses;
    searchableRules = other.searchableRules;
  }
}

SearchRule::~SearchRule() = default;

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

int SearchRule::AddSearchableRule(SearchRule* rule) {
  const auto same = [rule](const SearchRule* r) { return r == rule || r->name == rule->name; };
  if (std::any_of(searchableRules.begin(), searchableRules.end(), same)) return 0;
  searchableRules.push_back(rule);
  return 1;
}

void SearchRule::AddSearchableRules(const std::vector<SearchRule*>& rules) {
  std::unordered_set<std::string_view> present;
  present.reserve(searchableRules.size() + rules.size());
  for (const SearchRule* r : searchableRules) present.insert(r->name);
  for (SearchRule* r : rules)
    if (present.insert(r->name).second) searchableRules.push_back(r);
}

int SearchRule::RemoveSearchableRule(const std::string& ruleName) {
  auto it = std::find_if(searchableRules.begin(), searchableRules.end(),
                         [&](const SearchRule* r) { return r->name == ruleName; });
  if (it == searchableRules.end()) return 0;
  searchableRules.erase(it);
  return 1;
}

void SearchRule::GetSearchableRules(std::vector<SearchRule*>& out) const {
  out.insert(out.end(), searchableRules.begin(), searchableRules.end());
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

SearchRule* RuleSet::FindRule(std::string_view ruleName) const {
  return ruleIndex.Find(rules, ruleName);
}

int RuleSet::AddRule(const SearchRule* rule) {
  return AddRule(std::make_unique<SearchRule>(*rule)) ? 1 : 0;
}

SearchRule* RuleSet::AddRule(std::unique_ptr<SearchRule> rule) {
  if (FindRule(rule->name)) return nullptr;
  rule->ownerRuleSet = this;
  rules.push_back(std::move(rule));
  ruleIndex.Appended(rules);
  return rules.back().get();
}

void RuleSet::GetRules(std::vector<SearchRule*>& out) const {
  for (const auto& r : rules) out.push_back(r.get());
}

// ---- InputField ----

InputField::InputField(std::string name_, std::string defaultValue_, std::vector<std::string> attrs)
    : name(std::move(name_)),
      defaultValue(std::move(defaultValue_)),
      filterAttributes(std::move(attrs)) {}

InputField::InputField(const InputField& other)
    : name(other.name),
      defaultValue(other.defaultValue),
      filterAttributes(other.filterAttributes) {}

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

InputField* InputGroup::FindField(std::string_view fieldName) const {
  return fieldIndex.Find(fields, fieldName);
}

int InputGroup::AddField(const std::string& fieldName, const std::string& defaultValue,
                         const std::vector<std::string>& attributes) {
  return AddField(std::make_unique<InputField>(fieldName, defaultValue, attributes)) ? 1 : 0;
}

InputField* InputGroup::AddField(std::unique_ptr<InputField> field) {
  if (FindField(field->name)) return nullptr;
  fields.push_back(std::move(field));
  fieldIndex.Appended(fields);
  return fields.back().get();
}

int InputGroup::RemoveField(const std::string& fieldName) {
  if (!RemoveFirstNamed(fields, fieldName)) return 0;
  fieldIndex.Invalidate();
  return 1;
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
  formIndex.Invalidate();
  ruleSetIndex.Invalidate();
}

std::unique_ptr<RuleSet> CopyRuleSet(
    const RuleSet& ruleSet, CopyIdentity identity,
    std::vector<std::pair<const SearchRule*, SearchRule*>>* copies) {
  auto copy = std::make_unique<RuleSet>(ruleSet.name);
  if (identity == CopyIdentity::kKeep) copy->id = ruleSet.id;
  std::unordered_map<const SearchRule*, SearchRule*> made;
  for (const auto& rule : ruleSet.rules) {
    auto ruleCopy = std::make_unique<SearchRule>(*rule);
    if (identity == CopyIdentity::kKeep) ruleCopy->id = rule->id;
    // The copy constructor leaves out what its type does not use; a copy keeps all.
    ruleCopy->ldapUri = rule->ldapUri;
    ruleCopy->objectClasses = rule->objectClasses;
    ruleCopy->ownerRuleSet = copy.get();
    made[rule.get()] = ruleCopy.get();
    if (copies) copies->emplace_back(rule.get(), ruleCopy.get());
    copy->rules.push_back(std::move(ruleCopy));
  }
  // References are set once every rule has its copy: a rule may search for a later one.
  for (size_t r = 0; r < ruleSet.rules.size(); ++r) {
    std::vector<SearchRule*>& searchable = copy->rules[r]->searchableRules;
    searchable.clear();
    for (SearchRule* original : ruleSet.rules[r]->searchableRules) {
      const auto found = made.find(original);
      searchable.push_back(found == made.end() ? original : found->second);
    }
  }
  return copy;
}

std::unique_ptr<InputGroup> CopyGroup(const InputGroup& group, SearchRule* searchRule,
                                      CopyIdentity identity) {
  auto copy = std::make_unique<InputGroup>(group.name, searchRule);
  if (identity == CopyIdentity::kKeep) copy->id = group.id;
  for (const auto& field : group.fields) {
    auto fieldCopy = std::make_unique<InputField>(*field);
    if (identity == CopyIdentity::kKeep) fieldCopy->id = field->id;
    copy->fields.push_back(std::move(fieldCopy));
  }
  return copy;
}

std::unique_ptr<Configuration> CloneConfiguration(const Configuration& configuration) {
  auto out = std::make_unique<Configuration>();
  out->oidtable = configuration.oidtable;
  std::unordered_map<const RuleSet*, RuleSet*> sets;
  std::vector<std::pair<const SearchRule*, SearchRule*>> copies;
  for (const auto& set : configuration.ruleSets) {
    out->ruleSets.push_back(CopyRuleSet(*set, CopyIdentity::kKeep, &copies));
    sets[set.get()] = out->ruleSets.back().get();
  }
  const std::unordered_map<const SearchRule*, SearchRule*> rules(copies.begin(), copies.end());
  const auto ruleOf = [&rules](SearchRule* rule) {
    const auto found = rules.find(rule);
    return found == rules.end() ? rule : found->second;
  };
  for (const auto& form : configuration.searchForms) {
    const auto set = sets.find(form->ruleSet);
    auto copy =
        std::make_unique<SearchForm>(form->name, set == sets.end() ? form->ruleSet : set->second);
    copy->id = form->id;
    if (form->targetGroup)
      copy->targetGroup =
          CopyGroup(*form->targetGroup, ruleOf(form->targetGroup->searchRule), CopyIdentity::kKeep);
    for (const auto& group : form->inputGroups)
      copy->inputGroups.push_back(
          CopyGroup(*group, ruleOf(group->searchRule), CopyIdentity::kKeep));
    copy->toolTip = form->toolTip;
    copy->helpString = form->helpString;
    out->searchForms.push_back(std::move(copy));
  }
  return out;
}

void Configuration::TakeRecords(Configuration& other) {
  if (&other == this) return;
  Clear();
  ruleSets = std::move(other.ruleSets);
  searchForms = std::move(other.searchForms);
  other.Clear();
}

RuleSet* Configuration::FindRuleSet(std::string_view setName) const {
  return ruleSetIndex.Find(ruleSets, setName);
}

SearchForm* Configuration::FindForm(std::string_view formName) const {
  return formIndex.Find(searchForms, formName);
}

RuleSet* Configuration::AddRuleSet(std::unique_ptr<RuleSet> ruleSet) {
  if (FindRuleSet(ruleSet->name)) return nullptr;
  ruleSets.push_back(std::move(ruleSet));
  ruleSetIndex.Appended(ruleSets);
  return ruleSets.back().get();
}

SearchForm* Configuration::AddForm(std::unique_ptr<SearchForm> form) {
  if (FindForm(form->name)) return nullptr;
  searchForms.push_back(std::move(form));
  formIndex.Appended(searchForms);
  return searchForms.back().get();
}

std::unique_ptr<RuleSet> Configuration::DetachRuleSet(RuleSet* ruleSet) {
  auto it = std::find_if(ruleSets.begin(), ruleSets.end(),
                         [&](const auto& p) { return p.get() == ruleSet; });
  if (it == ruleSets.end()) return nullptr;
  std::unique_ptr<RuleSet> out = std::move(*it);
  ruleSets.erase(it);
  ruleSetIndex.Invalidate();
  return out;
}

std::unique_ptr<SearchForm> Configuration::DetachForm(SearchForm* form) {
  auto it = std::find_if(searchForms.begin(), searchForms.end(),
                         [&](const auto& p) { return p.get() == form; });
  if (it == searchForms.end()) return nullptr;
  std::unique_ptr<SearchForm> out = std::move(*it);
  searchForms.erase(it);
  formIndex.Invalidate();
  return out;
}

std::vector<SearchForm*> Configuration::FormsUsing(const RuleSet* ruleSet) const {
  std::vector<SearchForm*> out;
  for (const auto& f : searchForms)
    if (f->ruleSet == ruleSet) out.push_back(f.get());
  return out;
}
