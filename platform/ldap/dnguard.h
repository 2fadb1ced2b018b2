// Checks made on a parsed DN before libldap turns it back into text. Inside the LDAP
// layer only: callers of the layer never see libldap's types.
#pragma once

#include <ldap.h>

#include <string_view>

namespace ldapx {

// True when every string value of the DN (RDN) is UTF-8. libldap's ldap_dn2str,
// ldap_rdn2str and the explode calls built on them fail on other values, and on that
// path leak the text built so far or free uninitialised pointers.
bool ValuesAreUtf8(LDAPDN dn);
bool ValuesAreUtf8(LDAPRDN rdn);

}  // namespace ldapx
