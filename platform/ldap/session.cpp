// Questions asked of libldap's session and of its answers, shared by the files of the
// layer.
#include "platform/ldap/session.h"

#include <ldap.h>

#include <string>
#include <vector>

namespace ldapx {

int SessionError(LDAP* ld) {
  int code = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
  return code == LDAP_SUCCESS ? LDAP_OTHER : code;
}

std::string Diagnostic(LDAP* ld) {
  char* raw = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw) != LDAP_OPT_SUCCESS) return {};
  LdapString owned(raw);
  return raw ? raw : "";
}

bool Connected(LDAP* ld) {
  int fd = -1;
  return ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0;
}

int ResultCode(LDAP* ld, LDAPMessage* res, std::string* diagnostic) {
  int code = LDAP_OTHER;
  char* text = nullptr;
  const int rc =
      ldap_parse_result(ld, res, &code, nullptr, diagnostic ? &text : nullptr, nullptr, nullptr, 0);
  LdapString owned(text);
  if (diagnostic) *diagnostic = text ? text : "";
  return rc == LDAP_SUCCESS ? code : rc;
}

std::vector<std::string> ReferralUrls(LDAP* ld, LDAPMessage* res) {
  int code = LDAP_OTHER;
  char** urls = nullptr;
  std::vector<std::string> out;
  if (ldap_parse_result(ld, res, &code, nullptr, nullptr, &urls, nullptr, 0) != LDAP_SUCCESS)
    return out;
  for (char** u = urls; u && *u; ++u) out.emplace_back(*u);
  if (urls) ldap_memvfree(reinterpret_cast<void**>(urls));
  return out;
}

std::vector<char*> AttributeList(const std::vector<std::string>& attributes) {
  std::vector<char*> list;
  for (const std::string& a : attributes) list.push_back(const_cast<char*>(a.c_str()));
  list.push_back(nullptr);
  return list;
}

}  // namespace ldapx
