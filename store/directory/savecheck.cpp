#include "store/directory/savecheck.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "platform/ldap/dn.h"
#include "platform/support/messages.h"
#include "store/directory/entrylayout.h"

namespace directory {

namespace {

// The attributes of the schema whose syntax is Directory String: the server refuses an
// empty value and a value that is not UTF-8.
bool IsDirectoryString(std::string_view type) {
  for (std::string_view t :
       {"ovObjectClassDefinition", "ovSearchClassList", "ovLDAPURI", "ovRuleSetName", "ovInputList",
        "ovSearchClassName", "ovFieldList", "ovFiltAttrList", "cn"})
    if (SameIgnoringCase(type, t)) return true;
  return false;
}

bool HasObjectClass(const ldapx::ModList& mods, std::string_view name) {
  for (const ldapx::Attribute& a : mods.attributes()) {
    if (!SameIgnoringCase(a.type, "objectClass")) continue;
    for (const std::string& v : a.values)
      if (SameIgnoringCase(v, name)) return true;
  }
  return false;
}

msg::Problem Refuse(int id, std::vector<std::string> args) {
  return msg::Problem{id, std::move(args), msg::Icon::Error};
}

}  // namespace

msg::Outcome CheckEntryPlan(const Configuration& configuration, const std::string& subtreeDn,
                            const EntryPlan& plan) {
  std::vector<const SearchForm*> forms;
  forms.reserve(configuration.searchForms.size());
  for (const auto& form : configuration.searchForms) forms.push_back(form.get());
  return CheckEntryPlan(forms, subtreeDn, plan);
}

msg::Outcome CheckEntryPlan(const std::vector<const SearchForm*>& forms,
                            const std::string& subtreeDn, const EntryPlan& plan) {
  std::unordered_map<std::string, size_t> seen;
  seen.reserve(plan.size() + 1);
  if (const auto root = ldapx::Dn::Parse(subtreeDn)) seen.emplace(root->Key(), plan.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    const PlannedEntry& e = plan[i];
    if (!ldapx::IsUtf8(e.dn)) {
      return Refuse(62135, {e.dn, "cn"});
    }
    // One parse of the DN for both its name and its key.
    const auto dn = ldapx::Dn::Parse(e.dn);
    const ldapx::Ava* rdn = dn && dn->Rdn().size() == 1 ? &dn->Rdn().front() : nullptr;
    if (!rdn || ldapx::MatchValue(rdn->value).empty()) {
      return Refuse(62133, {e.dn});
    }
    // The directory would take a NUL as "\00" and give back a name no other store holds.
    if (rdn->value.find('\0') != std::string::npos) {
      return Refuse(62264, {rdn->value, e.dn});
    }
    // Rule, input group and field names are joined into " $ "-separated lists.
    if (rdn->value.find('$') != std::string::npos &&
        (HasObjectClass(e.mods, "ovSearchClass") || HasObjectClass(e.mods, "ovSearchInput") ||
         HasObjectClass(e.mods, "ovSearchField"))) {
      return Refuse(62136, {rdn->value, e.dn});
    }
    for (const ldapx::Attribute& a : e.mods.attributes()) {
      if (!IsDirectoryString(a.type)) continue;
      for (const std::string& v : a.values) {
        if (v.empty()) {
          return Refuse(62134, {e.dn, a.type});
        }
        if (!ldapx::IsUtf8(v)) {
          return Refuse(62135, {e.dn, a.type});
        }
      }
    }
    const auto [it, fresh] = seen.emplace(dn->Key(), i);
    if (!fresh) {
      const std::string& other = it->second < plan.size() ? plan[it->second].dn : subtreeDn;
      return Refuse(62132, {other, e.dn});
    }
  }
  // Attribute type names of the fields are joined the same way.
  for (const SearchForm* form : forms) {
    std::vector<const InputGroup*> groups;
    if (form->targetGroup) groups.push_back(form->targetGroup.get());
    for (const auto& g : form->inputGroups) groups.push_back(g.get());
    for (const InputGroup* g : groups)
      for (const auto& f : g->fields)
        for (const std::string& type : f->filterAttributes)
          if (type.find('$') != std::string::npos) {
            return Refuse(
                62136, {type, FieldDn(f->name, GroupDn(g->name, FormDn(form->name, subtreeDn)))});
          }
  }
  return {};
}

}  // namespace directory
