#include "store/directory/directorystore.h"

#include <algorithm>

#include "platform/ldap/serversettings.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"
#include "store/directory/savecheck.h"

namespace directory {

namespace {

void AppendEntry(std::string& out, const std::string& dn, const ldapx::ModList& mods) {
  out += ldapx::LdifLine("dn", dn);
  for (const ldapx::Attribute& a : mods.attributes())
    for (const std::string& v : a.values) out += ldapx::LdifLine(a.type, v);
  out += "\n";
}

}  // namespace

std::optional<ConfigurationUrl> ParseConfigurationUrl(const std::string& url) {
  // libldap parses a URL of one host: a list is read here, and the URL of its first
  // host handed on for the rest.
  const size_t hostsAt = url.find("://");
  std::string single = url;
  std::string list;
  if (hostsAt != std::string::npos) {
    const size_t from = hostsAt + 3;
    const size_t to = std::min(url.find('/', from), url.size());
    const std::string hosts = url.substr(from, to - from);
    if (hosts.find(',') != std::string::npos) {
      if (hosts.front() == ',' || hosts.back() == ',' || hosts.find(",,") != std::string::npos)
        return std::nullopt;
      list = hosts;
      single = url.substr(0, from) + hosts.substr(0, hosts.find(',')) + url.substr(to);
    }
  }
  const auto desc = ldapx::ParseUrl(single);
  if (!desc || (desc->scheme != "ldap" && desc->scheme != "ldaps") || desc->host.empty() ||
      desc->dn.empty())
    return std::nullopt;
  ConfigurationUrl out;
  out.host = desc->host;
  out.ldaps = desc->scheme == "ldaps";
  out.port = desc->port > 0 ? desc->port : (out.ldaps ? ldapx::kLdapsPort : ldapx::kLdapPort);
  out.subtreeDn = desc->dn;
  if (!list.empty()) {
    const int defaultPort = out.ldaps ? ldapx::kLdapsPort : ldapx::kLdapPort;
    const auto hosts = ldapx::ParseHostList(list, defaultPort);
    if (!hosts) return std::nullopt;
    out.host = ldapx::HostListText(*hosts);
    out.port = defaultPort;
  }
  return out;
}

msg::Result ConnectConfiguration(Session& session, const std::string& url,
                                 const ldapx::Timeouts& timeouts) {
  const auto target = ParseConfigurationUrl(url);
  if (!target) return msg::Outcome(msg::Problem{62120, {url}, msg::Icon::Error});
  ldapx::ServerSettings server = session.server;
  server.address = target->host;
  server.port = target->port;
  // An ldaps:// URL asks for TLS from the first byte whatever else was asked.
  if (target->ldaps) server.security = ldapx::SecurityName(ldapx::Security::Ldaps);
  const Logon logon = OpenAndBind(server, session.password, timeouts);
  if (!logon.connection) {
    msg::Result failed;
    if (auto why =
            LogonFailure(logon.opened ? 61276 : 61277, logon, target->host, target->port, timeouts))
      failed.problems.push_back(std::move(*why));
    return failed;
  }
  session.server = std::move(server);
  session.subtreeDn = target->subtreeDn;
  session.connection = logon.connection;
  return true;
}

msg::Result LoadConfigurationFromUrl(Session& session, Configuration& configuration,
                                     const kvaro::Oidtable& table, const std::string& url,
                                     const ldapx::Timeouts& timeouts,
                                     kvaro::Oidtable* serverSchemaInto, bool keepState) {
  msg::Result result = ConnectConfiguration(session, url, timeouts);
  if (!result) return result;
  if (serverSchemaInto) MergeServerSchema(*serverSchemaInto, *session.connection);
  int code = ldapx::kSuccess;
  bool notConfiguration = false;
  if (LoadSession(session, configuration, table, result.problems, &code, &notConfiguration,
                  keepState))
    return result;
  result.ok = false;
  if (notConfiguration)
    result.problems.push_back(msg::Problem{62131, {session.subtreeDn}, msg::Icon::Error});
  else
    result.problems.push_back(
        ReasonProblem(62121, {session.subtreeDn}, code, session.connection->diagnostic()));
  return result;
}

msg::Result SaveWithRootEntry(Session& session, const Configuration& configuration) {
  // The save itself creates the root entry when the directory does not hold it.
  return SaveConfiguration(session, configuration, nullptr);
}

msg::Result SaveConfigurationToUrl(Session& session, const Configuration& configuration,
                                   const std::string& url, const ldapx::Timeouts& timeouts) {
  if (msg::Result connected = ConnectConfiguration(session, url, timeouts); !connected)
    return connected;
  return SaveWithRootEntry(session, configuration);
}

msg::Outcome ConfigurationLdif(const Configuration& configuration, const std::string& subtreeDn,
                               std::string& out) {
  // The checks of a save to the directory: LDIF the server would refuse is no backup.
  if (msg::Outcome checked = CheckConfiguration(configuration); !checked) return checked;
  const EntryPlan plan = PlanConfiguration(configuration, subtreeDn);
  if (msg::Outcome checked = CheckEntryPlan(configuration, subtreeDn, plan); !checked)
    return checked;
  out = "version: 1\n\n";
  AppendEntry(out, subtreeDn, RootAttributes());
  for (const PlannedEntry& e : plan) AppendEntry(out, e.dn, e.mods);
  return {};
}

}  // namespace directory
