#include "tests/support/testoidtable.h"

#include <string>

#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"

namespace testsupport {

const kvaro::Oidtable& DirectoryOidtable() {
  static kvaro::Oidtable t;
  static const bool loaded = [] {
    for (const char* f : {"/etc/ldap/schema/core.schema", "/etc/ldap/schema/cosine.schema",
                          "/etc/ldap/schema/inetorgperson.schema"})
      ldapx::LoadOidtable(t, f);
    ldapx::LoadOidtable(t, std::string(ORVELLE_TEST_SOURCE_DIR) + "/schema/orvelle.schema");
    // Built into slapd, so core.schema has them only as comments.
    ldapx::LoadOidtableText(
        t,
        "attributetype ( 2.5.4.41 NAME 'name' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
        "attributetype ( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )\n"
        "attributetype ( 2.5.4.0 NAME 'objectClass' SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )\n");
    return true;
  }();
  (void)loaded;
  return t;
}

}  // namespace testsupport
