// The wizard's checks against the directory, each shown with the "Please Wait..." window.
#pragma once

#include <memory>
#include <string>

class QWidget;
namespace ldapx {
class Connection;
}

// True when host:port accepts a connection and an anonymous bind (LDAP version 3). The
// test connection is closed again. Shows no message of its own.
bool TestConnection(QWidget* parent, const std::string& host, int port);

// Opens a connection to host:port (LDAP version 3) and binds with dn and password; null
// when the connection cannot be opened or the bind fails. Shows no message of its own.
std::unique_ptr<ldapx::Connection> OpenBoundConnection(QWidget* parent, const std::string& host,
                                                       int port, const std::string& dn,
                                                       const std::string& password);
