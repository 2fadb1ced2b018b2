// The DN check and the DN helpers of the LDAP layer on arbitrary text.
#include <string>

#include "fuzz/fuzzsupport.h"
#include "platform/ldap/dncheck.h"
#include "platform/ldap/ldapclient.h"

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
