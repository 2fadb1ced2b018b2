// The attribute-table reader: the input is the text of an "oidtable32" file.

#include "fuzz/fuzzsupport.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvaro::Oidtable table;
  ldapx::LoadOidtableText(table, fuzzsupport::AsText(data, size));
  for (const char* name : {"cn", "objectClass", "person", "2.5.4.3", ""}) {
    (void)table.str2at(name);
    (void)table.str2oc(name);
  }
  return 0;
}
