// The wizard's checks against the directory, each run on a worker thread with the
// "Please Wait..." window, whose Cancel ends the check at once.
#pragma once

#include <string>

#include "store/directory/directorylogon.h"

class QWidget;

// Whether the server accepts a connection (protected as server.Tls() asks, the server's
// certificate checked) and an anonymous bind (LDAP version 3; server.bindDn is not
// used); the test connection is closed again. code is kSuccess when it did. Shows no
// message of its own (ShowLogonFailure says why it failed).
directory::Logon TestConnection(QWidget* parent, const ldapx::ServerSettings& server,
                                const ldapx::Timeouts& timeouts = {});

// Shows why a logon failed (directory::LogonFailure); nothing when it was cancelled.
void ShowLogonFailure(int id, const directory::Logon& logon, const std::string& host, int port,
                      const ldapx::Timeouts& timeouts);

// Opens a connection to the server (LDAP version 3) and binds with server.bindDn and
// `password`; the connection in the result is null when it cannot be opened or the bind
// fails. Shows no message of its own.
directory::Logon OpenBoundConnection(QWidget* parent, const ldapx::ServerSettings& server,
                                     const std::string& password,
                                     const ldapx::Timeouts& timeouts = {});
