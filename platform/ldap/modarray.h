// The LDAPMod array of an add, for code inside the LDAP layer (never included outside
// platform/ldap).
#pragma once

#include <ldap.h>

#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace ldapx {

// The LDAPMod array of an add (or, with `op` LDAP_MOD_REPLACE, of a modify that replaces
// each attribute), owning everything it points to. libldap only reads it.
class ModArray {
 public:
  explicit ModArray(const ModList& list, int op = LDAP_MOD_ADD) {
    const auto& attrs = list.attributes();
    values_.resize(attrs.size());
    pointers_.resize(attrs.size());
    mods_.resize(attrs.size());
    for (size_t i = 0; i < attrs.size(); ++i) {
      for (const std::string& v : attrs[i].values)
        values_[i].push_back(berval{v.size(), const_cast<char*>(v.data())});
      for (berval& bv : values_[i]) pointers_[i].push_back(&bv);
      pointers_[i].push_back(nullptr);
      LDAPMod& mod = mods_[i];
      mod.mod_op = op | LDAP_MOD_BVALUES;
      mod.mod_type = const_cast<char*>(attrs[i].type.c_str());
      mod.mod_bvalues = pointers_[i].data();
    }
    for (LDAPMod& m : mods_) array_.push_back(&m);
    array_.push_back(nullptr);
  }
  LDAPMod** get() { return array_.data(); }

 private:
  std::vector<std::vector<berval>> values_;
  std::vector<std::vector<berval*>> pointers_;
  std::vector<LDAPMod> mods_;
  std::vector<LDAPMod*> array_;
};

}  // namespace ldapx
