#include "platform/support/dncheck.h"

#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"
#include "platform/support/qstringlist.h"

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
