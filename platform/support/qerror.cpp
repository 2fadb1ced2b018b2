#include "qerror.h"

#include "ldap/ldapclient.h"

namespace kvaro {

void QError::Print(std::string& out) const { out = ldapx::ErrorText(code_); }

std::string QError::Text() const {
  std::string text;
  Print(text);
  return text;
}

}  // namespace kvaro
