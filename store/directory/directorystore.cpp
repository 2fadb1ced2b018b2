#include "store/directory/directorystore.h"

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
  const auto desc = ldapx::ParseUrl(url);
  if (!desc || (desc->scheme != "ldap" && desc->scheme != "ldaps") || desc->host.empty() ||
      desc->dn.empty())
    return std::nullopt;
  ConfigurationUrl out;
  out.host = desc->host;
  out.ldaps = desc->scheme == "ldaps";
  out.port = desc->port > 0 ? desc->port : (out.ldaps ? ldapx::kLdapsPort : ldapx::kLdapPort);
  out.subtreeDn = desc->dn;
  return out;
}

bool ConnectConfiguration(Configuration& configuration, const std::string& url,
                          const std::string& bindDn, const std::string& password,
                          const ldapx::Timeouts& timeouts, const ldapx::TlsOptions& tls) {
  const auto target = ParseConfigurationUrl(url);
  if (!target) {
    msg::Show(62120, {url}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  // An ldaps:// URL asks for TLS from the first byte whatever else was asked.
  ldapx::TlsOptions protection = tls;
  if (target->ldaps) protection.security = ldapx::Security::Ldaps;
  const Logon logon =
      OpenAndBind(target->host, target->port, bindDn, password, timeouts, protection);
  if (!logon.connection) {
    ShowLogonFailure(logon.opened ? 61276 : 61277, logon, target->host, target->port, timeouts);
    return false;
  }
  std::shared_ptr<ldapx::Connection> conn = logon.connection;
  configuration.startupMode = StartupMode::kDirectory;
  configuration.serverAddress = target->host;
  configuration.serverPort = target->port;
  configuration.serverSecurity = ldapx::SecurityName(protection.security);
  configuration.caCertificateFile = protection.caFile;
  configuration.subtreeDn = target->subtreeDn;
  configuration.bindDn = bindDn;
  configuration.bindPassword = password;
  configuration.connection = conn;
  return true;
}

bool LoadConfigurationFromUrl(Configuration& configuration, const kvaro::Oidtable& table,
                              const std::string& url, const std::string& bindDn,
                              const std::string& password, const ldapx::Timeouts& timeouts,
                              const ldapx::TlsOptions& tls, kvaro::Oidtable* serverSchemaInto) {
  if (!ConnectConfiguration(configuration, url, bindDn, password, timeouts, tls)) return false;
  if (serverSchemaInto) MergeServerSchema(*serverSchemaInto, *configuration.connection);
  int code = ldapx::kSuccess;
  bool notConfiguration = false;
  if (LoadSubtree(configuration, table, *configuration.connection, &code, &notConfiguration))
    return true;
  if (notConfiguration) {
    msg::Show(62131, {configuration.subtreeDn}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  ShowWithReason(62121, {configuration.subtreeDn}, code, configuration.connection->diagnostic());
  return false;
}

bool SaveWithRootEntry(Configuration& configuration) {
  // The save itself creates the root entry when the directory does not hold it.
  return SaveConfiguration(configuration, nullptr);
}

bool SaveConfigurationToUrl(Configuration& configuration, const std::string& url,
                            const std::string& bindDn, const std::string& password,
                            const ldapx::Timeouts& timeouts, const ldapx::TlsOptions& tls) {
  if (!ConnectConfiguration(configuration, url, bindDn, password, timeouts, tls)) return false;
  return SaveWithRootEntry(configuration);
}

bool ConfigurationLdif(const Configuration& configuration, std::string& out) {
  // The checks of a save to the directory: LDIF the server would refuse is no backup.
  if (!CheckConfiguration(configuration)) return false;
  const EntryPlan plan = PlanConfiguration(configuration);
  if (!CheckEntryPlan(configuration, plan)) return false;
  out = "version: 1\n\n";
  AppendEntry(out, configuration.subtreeDn, RootAttributes());
  for (const PlannedEntry& e : plan) AppendEntry(out, e.dn, e.mods);
  return true;
}

}  // namespace directory
