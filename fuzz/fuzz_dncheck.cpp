// The DN check and the DN helpers of the LDAP layer on arbitrary text.
#include <string>

#include "fuzz/fuzzsupport.h"
#include "platform/ldap/dn.h"
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
  const auto split = ldapx::SplitFirstRdn(dn);
  // A DN reads back as itself from its text, and lies below each of its ancestors; its
  // first RDN read alone is followed by the text of its parent.
  if (const auto parsed = ldapx::Dn::Parse(dn)) {
    if (!parsed->IsRoot() && (!split || !(ldapx::Dn::Parse(split->parent) == parsed->Parent())))
      __builtin_trap();
    const auto again = ldapx::Dn::Parse(parsed->Text());
    if (!again || !(*again == *parsed) || again->Key() != parsed->Key()) __builtin_trap();
    for (ldapx::Dn up = parsed->Parent(); !parsed->IsRoot(); up = up.Parent()) {
      if (!parsed->IsDescendantOf(up)) __builtin_trap();
      (void)up.RdnText();
      if (up.IsRoot()) break;
    }
  }
  return 0;
}
