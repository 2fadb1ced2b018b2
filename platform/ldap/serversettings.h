// How a directory server is reached: the one description of a server that the settings,
// the set-up wizard, the logon, the stores and orvelle-config share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace ldapx {

// One server of a list: a host name or address (an IPv6 address without its brackets)
// and its port.
struct HostPort {
  std::string host;
  int port = 0;
  bool operator==(const HostPort&) const = default;
};

// The servers of a "Server Address": one or more hosts separated by blanks (or commas,
// as libldap's own host lists), each optionally followed by ":port"; an IPv6 address
// with a port goes in brackets ("[::1]:1389"), one without a port may stand bare.
// `defaultPort` is the port of a host that names none. nullopt when the text names no
// host, or a port that is not a number in IsValidPort's range.
std::optional<std::vector<HostPort>> ParseHostList(std::string_view address, int defaultPort);

// The list written back as the settings hold it ("host:port host:port"), IPv6 addresses
// in brackets.
std::string HostListText(const std::vector<HostPort>& hosts);

struct ServerSettings {
  // The server's host name or address, as the settings hold it; or several servers that
  // hold the same configuration, tried in order (see ParseHostList), `port` being the
  // port of those that name none.
  std::string address;
  int port = 0;
  // How the connection is protected, as the settings name it: "none", "starttls" or
  // "ldaps"; and the file of the certificates that are trusted to sign the server's
  // certificate (empty: the system's store).
  std::string security = "none";
  std::string caCertificateFile;
  // Who binds (empty: anonymously).
  std::string bindDn;

  // The TLS options these settings ask for. A security name the program does not know
  // counts as StartTLS, never as plain text.
  TlsOptions Tls() const;
  // The servers of address with their ports (ParseHostList); empty when it names none
  // or a port is not valid.
  std::vector<HostPort> Hosts() const;
};

}  // namespace ldapx
