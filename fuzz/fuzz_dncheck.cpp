// The DN check and the DN helpers of the LDAP layer on arbitrary text.
#include <string>

#include "dncheck.h"
#include "fuzzsupport.h"
#include "ldap/ldapclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dn(fuzzsupport::AsText(data, size));
  (void)kvaro::IsValidDn(dn, fuzzsupport::Table());
  (void)ldapx::NormalizeDn(dn);
  (void)ldapx::ParentDn(dn);
  (void)ldapx::FirstRdn(dn);
  (void)ldapx::ExplodeDn(dn);
  (void)ldapx::ExplodeRdn(dn);
  return 0;
}
