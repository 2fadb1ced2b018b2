#include "store/directory/directorylogon.h"

#include "platform/ldap/qerror.h"
#include "platform/support/messages.h"
#include "store/directory/session.h"

namespace directory {

namespace {

// Whether a failed logon to one server lets the next one of the list be tried: it
// failed before the server could say anything about the DN and password.
bool TryNext(const Logon& logon);

Logon OpenAndBindOne(const ldapx::HostPort& hp, const ldapx::ServerSettings& server,
                     const std::string& password, const ldapx::Timeouts& timeouts) {
  Logon logon;
  logon.host = hp.host;
  logon.port = hp.port;
  std::shared_ptr<ldapx::Connection> conn =
      ldapx::Connection::Open(hp.host, hp.port, server.Tls(), timeouts, &logon.code, &logon.detail);
  if (!conn) return logon;
  logon.opened = true;
  logon.code = conn->SimpleBind(server.bindDn, password);
  logon.detail = conn->diagnostic();
  if (logon.code == ldapx::kSuccess) logon.connection = std::move(conn);
  return logon;
}

}  // namespace

Logon OpenAndBind(const ldapx::ServerSettings& server, const std::string& password,
                  const ldapx::Timeouts& timeouts) {
  const std::vector<ldapx::HostPort> hosts = server.Hosts();
  if (hosts.empty()) {
    // Nothing to connect to: fails as Open does with a host it cannot use.
    Logon none;
    none.host = server.address;
    none.port = server.port;
    none.code = ldapx::kServerDown;
    return none;
  }
  Logon logon;
  for (const ldapx::HostPort& hp : hosts) {
    logon = OpenAndBindOne(hp, server, password, timeouts);
    if (logon.connection || !TryNext(logon)) break;
  }
  return logon;
}

std::string LogonSecurityText(ldapx::Security security) {
  if (security == ldapx::Security::None) return msg::Text(62214);
  return msg::Text(62213, {security == ldapx::Security::Ldaps ? "LDAPS" : "StartTLS"});
}

std::string SecurityText(const ldapx::Connection& connection, ldapx::Security security) {
  if (!connection.encrypted()) return msg::Text(62208);
  return msg::Text(62207, {security == ldapx::Security::Ldaps ? "LDAPS" : "StartTLS"});
}

namespace {

// What a failed TLS set-up means.
std::string TlsFailureText(int code, const std::string& host) {
  switch (code) {
    case ldapx::kCertificateUntrusted:
      return msg::Text(62201);
    case ldapx::kCertificateExpired:
      return msg::Text(62202);
    case ldapx::kCertificateWrongHost:
      return msg::Text(62203, {host});
    default:
      return msg::Text(62206);
  }
}

// Whether a bind that was sent failed because the two sides did not understand each
// other: an answer libldap cannot decode, a protocol error, or a connection closed
// instead of an answer (what a web server or an LDAPS port does with a plain bind).
// Such a failure says nothing about the DN or the password.
bool NotUnderstood(const Logon& logon) {
  return logon.opened && (logon.code == ldapx::kDecodingError ||
                          logon.code == ldapx::kProtocolError || logon.code == ldapx::kServerDown);
}

bool TryNext(const Logon& logon) {
  if (logon.code == ldapx::kCancelled) return false;
  return !logon.opened || logon.code == ldapx::kTimeout || logon.code == ldapx::kConnectError ||
         NotUnderstood(logon);
}

}  // namespace

std::string ReasonText(int code, const std::string& detail, bool fromServer,
                       const std::string& host) {
  if (code == ldapx::kTlsFailed || code == ldapx::kCertificateUntrusted ||
      code == ldapx::kCertificateExpired || code == ldapx::kCertificateWrongHost) {
    const std::string what = TlsFailureText(code, host);
    return detail.empty() ? msg::Text(62193, {what}) : msg::Text(62200, {what, detail});
  }
  if (code == ldapx::kStartTlsRefused)
    return detail.empty() ? msg::Text(62193, {msg::Text(62204)})
                          : msg::Text(62194, {msg::Text(62204), detail});
  if (code == ldapx::kConfidentialityRequired)
    return detail.empty() ? msg::Text(62193, {msg::Text(62205)})
                          : msg::Text(62194, {msg::Text(62205), detail});
  const std::string text = kvaro::QError(code).Text();
  if (detail.empty()) return msg::Text(62193, {text});
  return msg::Text(fromServer ? 62194 : 62198, {text, detail});
}

msg::Problem ReasonProblem(int id, std::vector<std::string> args, int code,
                           const std::string& detail) {
  msg::Problem problem{id, std::move(args), msg::Icon::Error};
  problem.reason = ReasonText(code, detail);
  return problem;
}

std::optional<msg::Problem> LogonFailure(int id, const Logon& logon, const std::string& host,
                                         int port, const ldapx::Timeouts& timeouts) {
  if (logon.code == ldapx::kCancelled) return std::nullopt;
  const std::string& named = logon.host.empty() ? host : logon.host;
  const int namedPort = logon.host.empty() ? port : logon.port;
  const std::string where = ldapx::HostListText({{named, namedPort}});
  if (logon.code == ldapx::kTimeout)
    return msg::Problem{62190, {where, std::to_string(timeouts.connectSeconds)}, msg::Icon::Error};
  msg::Problem problem{id, {}, msg::Icon::Error};
  if (NotUnderstood(logon)) {
    problem.id = 62215;
    problem.args = {where};
    problem.reason = logon.code == ldapx::kServerDown
                         ? msg::Text(62193, {msg::Text(62216)})
                         : ReasonText(logon.code, logon.detail, true, named);
    return problem;
  }
  problem.reason = ReasonText(logon.code, logon.detail, logon.opened, named);
  return problem;
}

std::optional<msg::Problem> Reconnect(Session& session) {
  const ldapx::Timeouts timeouts =
      session.connection ? session.connection->timeouts() : ldapx::Timeouts{};
  Logon logon = OpenAndBind(session.server, session.password, timeouts);
  if (logon.connection) {
    session.connection = std::move(logon.connection);
    return std::nullopt;
  }
  // The old connection is dead: the session has none until a save opens one again.
  session.connection.reset();
  return msg::Problem{
      62144,
      {kvaro::QError(logon.code != ldapx::kSuccess ? logon.code : ldapx::kServerDown).Text()},
      msg::Icon::Error};
}

}  // namespace directory
