#include "store/directory/directorystore.h"

#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"
#include "store/directory/savecheck.h"

namespace directory {

namespace {

bool NeedsBase64(const std::string& value) {
  if (value.empty()) return false;
  const unsigned char first = static_cast<unsigned char>(value.front());
  if (first == ' ' || first == ':' || first == '<') return true;
  if (value.back() == ' ') return true;
  for (const char ch : value) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == 0 || c == '\n' || c == '\r' || c > 127) return true;
  }
  return false;
}

std::string Base64(const std::string& in) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                       (static_cast<unsigned char>(in[i + 1]) << 8) |
                       static_cast<unsigned char>(in[i + 2]);
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += digits[(v >> 6) & 63];
    out += digits[v & 63];
  }
  if (i < in.size()) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += i + 1 < in.size() ? digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

void AppendEntry(std::string& out, const std::string& dn, const ldapx::ModList& mods) {
  out += LdifLine("dn", dn);
  for (const ldapx::Attribute& a : mods.attributes())
    for (const std::string& v : a.values) out += LdifLine(a.type, v);
  out += "\n";
}

}  // namespace

std::string LdifLine(const std::string& type, const std::string& value) {
  const std::string line = NeedsBase64(value) ? type + ":: " + Base64(value)
                                              : (value.empty() ? type + ":" : type + ": " + value);
  // Fold long lines: continuation lines start with one space. Only ASCII text reaches
  // here unencoded, so a fold never splits a character.
  std::string out;
  size_t pos = 0;
  size_t width = 76;
  while (line.size() - pos > width) {
    out += line.substr(pos, width);
    out += "\n ";
    pos += width;
    width = 75;
  }
  out += line.substr(pos);
  out += "\n";
  return out;
}

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

bool ConnectConfiguration(Session& session, const std::string& url,
                          const ldapx::Timeouts& timeouts) {
  const auto target = ParseConfigurationUrl(url);
  if (!target) {
    msg::Show(62120, {url}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  ldapx::ServerSettings server = session.server;
  server.address = target->host;
  server.port = target->port;
  // An ldaps:// URL asks for TLS from the first byte whatever else was asked.
  if (target->ldaps) server.security = ldapx::SecurityName(ldapx::Security::Ldaps);
  const Logon logon = OpenAndBind(server, session.password, timeouts);
  if (!logon.connection) {
    ShowLogonFailure(logon.opened ? 61276 : 61277, logon, target->host, target->port, timeouts);
    return false;
  }
  session.server = std::move(server);
  session.subtreeDn = target->subtreeDn;
  session.connection = logon.connection;
  return true;
}

bool LoadConfigurationFromUrl(Session& session, Configuration& configuration,
                              const kvaro::Oidtable& table, const std::string& url,
                              const ldapx::Timeouts& timeouts, kvaro::Oidtable* serverSchemaInto) {
  if (!ConnectConfiguration(session, url, timeouts)) return false;
  if (serverSchemaInto) MergeServerSchema(*serverSchemaInto, *session.connection);
  int code = ldapx::kSuccess;
  bool notConfiguration = false;
  if (LoadSubtree(configuration, session.subtreeDn, table, *session.connection, &code,
                  &notConfiguration))
    return true;
  if (notConfiguration) {
    msg::Show(62131, {session.subtreeDn}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  ShowWithReason(62121, {session.subtreeDn}, code, session.connection->diagnostic());
  return false;
}

bool SaveWithRootEntry(Session& session, const Configuration& configuration) {
  // The save itself creates the root entry when the directory does not hold it.
  return SaveConfiguration(session, configuration, nullptr);
}

bool SaveConfigurationToUrl(Session& session, const Configuration& configuration,
                            const std::string& url, const ldapx::Timeouts& timeouts) {
  if (!ConnectConfiguration(session, url, timeouts)) return false;
  return SaveWithRootEntry(session, configuration);
}

bool ConfigurationLdif(const Configuration& configuration, const std::string& subtreeDn,
                       std::string& out) {
  // The checks of a save to the directory: LDIF the server would refuse is no backup.
  if (!CheckConfiguration(configuration)) return false;
  const EntryPlan plan = PlanConfiguration(configuration, subtreeDn);
  if (!CheckEntryPlan(configuration, subtreeDn, plan)) return false;
  out = "version: 1\n\n";
  AppendEntry(out, subtreeDn, RootAttributes());
  for (const PlannedEntry& e : plan) AppendEntry(out, e.dn, e.mods);
  return true;
}

}  // namespace directory
