#include "platform/ldap/qerror.h"

#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"

namespace kvaro {

void QError::Print(std::string& out) const {
  // A wait that ran out or was cancelled is no answer of the server's: say so in words.
  if (code_ == ldapx::kTimeout) {
    out = msg::Text(62191);
  } else if (code_ == ldapx::kCancelled) {
    out = msg::Text(62192);
  } else if (code_ == ldapx::kMessageTooLarge) {
    out = msg::Text(62300, {std::to_string(ldapx::kMaxIncomingMessage / (1024 * 1024))});
  } else if (code_ == ldapx::kReadTooLong) {
    out = msg::Text(62301);
  } else if (code_ == ldapx::kTooManyEntries) {
    out = msg::Text(62302, {std::to_string(ldapx::kMaxReadEntries),
                            std::to_string(ldapx::kMaxReadBytes / (1024 * 1024))});
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
