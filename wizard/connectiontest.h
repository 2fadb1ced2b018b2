// The wizard's checks against the directory, each run on a worker thread with the
// "Please Wait..." window, whose Cancel ends the check at once.
#pragma once

#include <string>

#include "store/directory/directorylogon.h"

class QWidget;

// Whether host:port accepts a connection (protected as `tls` asks, the server's
// certificate checked) and an anonymous bind (LDAP version 3); the
// test connection is closed again. code is kSuccess when it did. Shows no message of its
// own (directory::ShowLogonFailure says why it failed).
directory::Logon TestConnection(QWidget* parent, const std::string& host, int port,
                                const ldapx::Timeouts& timeouts = {},
                                const ldapx::TlsOptions& tls = {});

// Opens a connection to host:port (LDAP version 3) and binds with dn and password; the
// connection in the result is null when it cannot be opened or the bind fails. Shows no
// message of its own.
directory::Logon OpenBoundConnection(QWidget* parent, const std::string& host, int port,
                                     const std::string& dn, const std::string& password,
                                     const ldapx::Timeouts& timeouts = {},
                                     const ldapx::TlsOptions& tls = {});
