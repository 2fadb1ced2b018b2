#include "platform/support/qerror.h"

#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"

namespace kvaro {

void QError::Print(std::string& out) const {
  // A wait that ran out or was cancelled is no answer of the server's: say so in words.
  if (code_ == ldapx::kTimeout) {
    out = msg::Text(62191);
  } else if (code_ == ldapx::kCancelled) {
    out = msg::Text(62192);
  } else {
    out = ldapx::ErrorText(code_);
  }
}

std::string QError::Text() const {
  std::string text;
  Print(text);
  return text;
}

}  // namespace kvaro
