#include "directorylogon.h"

#include "messages.h"
#include "qerror.h"

namespace directory {

Logon OpenAndBind(const std::string& host, int port, const std::string& dn,
                  const std::string& password, const ldapx::Timeouts& timeouts) {
  Logon logon;
  std::shared_ptr<ldapx::Connection> conn =
      ldapx::Connection::Open(host, port, timeouts, &logon.code, &logon.detail);
  if (!conn) return logon;
  logon.opened = true;
  logon.code = conn->SimpleBind(dn, password);
  logon.detail = conn->diagnostic();
  if (logon.code == ldapx::kSuccess) logon.connection = std::move(conn);
  return logon;
}

std::string ReasonText(int code, const std::string& detail, bool fromServer) {
  const std::string text = kvaro::QError(code).Text();
  if (detail.empty()) return msg::Text(62193, {text});
  return msg::Text(fromServer ? 62194 : 62198, {text, detail});
}

void ShowWithReason(int id, const std::vector<std::string>& args, int code,
                    const std::string& detail) {
  msg::CurrentSink().Show(msg::Message{id, msg::Text(id, args) + "\n\n" + ReasonText(code, detail),
                                       msg::Buttons::Ok, msg::Icon::Error});
}

void ShowLogonFailure(int id, const Logon& logon, const std::string& host, int port,
                      const ldapx::Timeouts& timeouts) {
  if (logon.code == ldapx::kCancelled) return;
  if (logon.code == ldapx::kTimeout) {
    msg::Show(62190, {host + ":" + std::to_string(port), std::to_string(timeouts.connectSeconds)},
              msg::Buttons::Ok, msg::Icon::Error);
    return;
  }
  msg::CurrentSink().Show(
      msg::Message{id, msg::Text(id) + "\n\n" + ReasonText(logon.code, logon.detail, logon.opened),
                   msg::Buttons::Ok, msg::Icon::Error});
}

}  // namespace directory
