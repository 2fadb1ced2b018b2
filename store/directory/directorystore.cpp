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
                                     kvaro::Oidtable* serverSchemaInto) {
  msg::Result result = ConnectConfiguration(session, url, timeouts);
  if (!result) return result;
  if (serverSchemaInto) MergeServerSchema(*serverSchemaInto, *session.connection);
  int code = ldapx::kSuccess;
  bool notConfiguration = false;
  if (LoadSubtree(configuration, session.subtreeDn, table, *session.connection, result.problems,
                  &code, &notConfiguration))
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
