// Opening and binding a directory connection, and the messages that say why that failed:
// the program's own text followed by the reason (the server's diagnostic message or the
// system's), or that the server stopped answering. Nothing when the user cancelled.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/outcome.h"

namespace directory {

struct Logon {
  std::shared_ptr<ldapx::Connection> connection;  // open and bound; null on failure
  bool opened = false;  // the connection could be opened (so a failure is the bind's)
  int code = ldapx::kSuccess;
  std::string detail;  // the server's diagnostic message or the system's reason
  // The server that answered, or on failure the last one tried (empty host when the
  // address names none).
  std::string host;
  int port = 0;
};

// Opens a connection (LDAP version 3) to the first server of server.Hosts() that
// answers and binds with server.bindDn and `password` (both empty: anonymously), each
// within the connect limit of `timeouts` for each server. A server that cannot be
// reached, whose connection cannot be protected as asked, or that does not answer the
// bind (or not understandably) gives way to the next one; a bind the server refuses
// (wrong password, no such user) is the answer, as every copy would give it, and so is
// a cancel. Cancellable through ldapx::CancelScope. Shows nothing.
// The connection is protected as server.Tls() asks before the bind is sent (see
// ldapx::Connection::Open); a failed certificate check or a refused StartTLS ends it
// without a bind.
Logon OpenAndBind(const ldapx::ServerSettings& server, const std::string& password,
                  const ldapx::Timeouts& timeouts);

struct Session;
// Opens `session`'s connection again (a save that lost it): its server settings,
// password and the limits of the connection it had, with the same protection as the
// logon, never plain text in place of TLS. On failure the session keeps no connection
// and message 62144 with the reason is returned.
std::optional<msg::Problem> Reconnect(Session& session);

// How a logon with `security` will travel, for the logon dialog.
std::string LogonSecurityText(ldapx::Security security);

// "Connection: encrypted (StartTLS|LDAPS)" or "Connection: not encrypted".
std::string SecurityText(const ldapx::Connection& connection, ldapx::Security security);

// "Reason: <text of code>", with `detail` added when there is one: as what the server
// says when `fromServer`, else as the system's reason. A failed TLS set-up
// names what failed (certificate not trusted, expired, issued for another host name,
// StartTLS not offered) with the TLS library's own words; `host` is the name the
// certificate was checked against.
// `fromServer` as below.
std::string ReasonText(int code, const std::string& detail, bool fromServer = true,
                       const std::string& host = {});

// Message `id` with `args`, followed by the reason of `code` (with the server's
// diagnostic message `detail`, when there is one).
msg::Problem ReasonProblem(int id, std::vector<std::string> args, int code,
                           const std::string& detail);

// Why `logon` failed: nothing when it was cancelled, message 62190 when the server
// stopped answering, 62215 when its answer to the bind could not be understood (or it
// closed the connection instead), otherwise message `id` followed by the reason. The
// server named is logon.host:logon.port when the logon names one, else host:port.
std::optional<msg::Problem> LogonFailure(int id, const Logon& logon, const std::string& host,
                                         int port, const ldapx::Timeouts& timeouts);

}  // namespace directory
