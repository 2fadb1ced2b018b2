#include "platform/ldap/dncheck.h"

#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"
#include "platform/support/qstringlist.h"

namespace kvaro {

bool IsValidDn(const std::string& dn, const Oidtable& table) {
  // The parsed values, not the text: a value may hold "=" (escaped or not).
  const auto rdns = ldapx::SplitDn(dn);
  if (!rdns) return false;
  for (const auto& rdn : *rdns) {
    for (const ldapx::Ava& ava : rdn)
      if (!table.str2at(ava.type) || ava.value.empty()) return false;
  }
  return true;
}

}  // namespace kvaro
