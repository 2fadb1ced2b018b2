#include "store/directory/readonlycopy.h"

#include "platform/ldap/serversettings.h"
#include "platform/support/messageids.h"
#include "store/directory/directorylogon.h"

namespace directory {

std::optional<std::string> ReadOnlyCopyReferral(const msg::Result& result) {
  if (result.ok || result.problems.empty()) return std::nullopt;
  const msg::Problem& last = result.problems.back();
  if (last.id != msg::id::kReadOnlyCopy || last.args.size() < 2) return std::nullopt;
  return last.args[1];
}

msg::Result ConnectToProvider(Session& session, const std::string& url,
                              const ldapx::Timeouts& timeouts) {
  const std::string copy =
      session.connection
          ? ldapx::HostListText({{session.connection->host(), session.connection->port()}})
          : ldapx::HostListText(session.server.Hosts());
  const auto desc = ldapx::ParseUrl(url);
  if (!desc || (desc->scheme != "ldap" && desc->scheme != "ldaps") || desc->host.empty())
    return msg::Outcome(msg::Problem{msg::id::kProviderUnusable, {copy, url}, msg::Icon::Error});
  // Never weaker than the session: an encrypted session reaches an ldap:// provider by
  // StartTLS only, and a provider that does not offer it is refused.
  const ldapx::Security now = session.server.Tls().security;
  ldapx::Security security = ldapx::Security::None;
  if (desc->scheme == "ldaps")
    security = ldapx::Security::Ldaps;
  else if (now != ldapx::Security::None)
    security = ldapx::Security::StartTls;
  const int port =
      desc->port > 0 ? desc->port
                     : (security == ldapx::Security::Ldaps ? ldapx::kLdapsPort : ldapx::kLdapPort);
  ldapx::ServerSettings provider = session.server;
  provider.address = ldapx::HostListText({{desc->host, port}});
  provider.port = port;
  provider.security = ldapx::SecurityName(security);
  Logon logon = OpenAndBind(provider, session.password, timeouts);
  if (!logon.connection) {
    msg::Result failed;
    if (auto why = LogonFailure(msg::id::kProviderFailed, logon, desc->host, port, timeouts)) {
      if (why->id == msg::id::kProviderFailed)
        why->args = {ldapx::HostListText({{desc->host, port}}), copy};
      failed.problems.push_back(std::move(*why));
    }
    return failed;
  }
  session.server = std::move(provider);
  session.connection = std::move(logon.connection);
  return true;
}

}  // namespace directory
