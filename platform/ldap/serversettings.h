// How a directory server is reached: the one description of a server that the settings,
// the set-up wizard, the logon, the stores and orvelle-config share.
#pragma once

#include <string>

#include "platform/ldap/ldapclient.h"

namespace ldapx {

struct ServerSettings {
  // The server's host name or address, as the settings hold it.
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
};

}  // namespace ldapx
