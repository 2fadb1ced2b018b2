#include "wizard/connectiontest.h"

#include <QWidget>

#include "directoryui/directorywork.h"
#include "platform/support/messages.h"

namespace {

directory::Logon Check(QWidget* parent, const ldapx::ServerSettings& server,
                       const std::string& password, const ldapx::Timeouts& timeouts) {
  // A port outside TCP's range cannot be connected to.
  if (!ldapx::IsValidPort(server.port)) {
    directory::Logon refused;
    refused.code = ldapx::kServerDown;
    return refused;
  }
  return RunWithPleaseWait(
      parent, std::string(msg::LoadString(61282)), std::string(msg::LoadString(61283)),
      [&](directory::PleaseWait&) { return directory::OpenAndBind(server, password, timeouts); });
}

}  // namespace

void ShowLogonFailure(int id, const directory::Logon& logon, const std::string& host, int port,
                      const ldapx::Timeouts& timeouts) {
  if (auto why = directory::LogonFailure(id, logon, host, port, timeouts))
    msg::Show(msg::Outcome(std::move(*why)));
}

directory::Logon TestConnection(QWidget* parent, const ldapx::ServerSettings& server,
                                const ldapx::Timeouts& timeouts) {
  ldapx::ServerSettings anonymous = server;
  anonymous.bindDn.clear();
  directory::Logon logon = Check(parent, anonymous, "", timeouts);
  logon.connection.reset();  // the test connection is closed again
  return logon;
}

directory::Logon OpenBoundConnection(QWidget* parent, const ldapx::ServerSettings& server,
                                     const std::string& password, const ldapx::Timeouts& timeouts) {
  return Check(parent, server, password, timeouts);
}
