#include "wizard/connectiontest.h"

#include <QWidget>

#include "directoryui/directorywork.h"
#include "platform/support/messages.h"

namespace {

directory::Logon Check(QWidget* parent, const std::string& host, int port, const std::string& dn,
                       const std::string& password, const ldapx::Timeouts& timeouts,
                       const ldapx::TlsOptions& tls) {
  // A port outside TCP's range cannot be connected to.
  if (!ldapx::IsValidPort(port)) {
    directory::Logon refused;
    refused.code = ldapx::kServerDown;
    return refused;
  }
  return RunWithPleaseWait(parent, std::string(msg::LoadString(61282)),
                           std::string(msg::LoadString(61283)), [&](directory::PleaseWait&) {
                             return directory::OpenAndBind(host, port, dn, password, timeouts, tls);
                           });
}

}  // namespace

directory::Logon TestConnection(QWidget* parent, const std::string& host, int port,
                                const ldapx::Timeouts& timeouts, const ldapx::TlsOptions& tls) {
  directory::Logon logon = Check(parent, host, port, "", "", timeouts, tls);
  logon.connection.reset();  // the test connection is closed again
  return logon;
}

directory::Logon OpenBoundConnection(QWidget* parent, const std::string& host, int port,
                                     const std::string& dn, const std::string& password,
                                     const ldapx::Timeouts& timeouts,
                                     const ldapx::TlsOptions& tls) {
  return Check(parent, host, port, dn, password, timeouts, tls);
}
