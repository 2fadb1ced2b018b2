#include "dncheck.h"

#include "ldap/ldapclient.h"
#include "oidtable.h"
#include "qstringlist.h"

namespace kvaro {

bool IsValidDn(const std::string& dn, const Oidtable& table) {
  const auto rdns = ldapx::ExplodeDn(dn);
  if (!rdns) return false;
  for (const std::string& rdn : *rdns) {
    const auto components = ldapx::ExplodeRdn(rdn);
    if (!components) return false;
    for (const std::string& component : *components) {
      QStringList parts;
      parts.SetSplitString(component, '=');
      if (parts.size() != 2 || !table.str2at(parts[0]) || parts[1].empty()) return false;
    }
  }
  return true;
}

}  // namespace kvaro
