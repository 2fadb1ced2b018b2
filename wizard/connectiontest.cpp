#include "connectiontest.h"

#include <QWidget>

#include "ldap/ldapclient.h"
#include "messages.h"
#include "pleasewaitdialog.h"

namespace {

// The "Please Wait..." window for the duration of one check; closed before the caller
// shows any message.
class ScopedWait {
 public:
  explicit ScopedWait(QWidget* parent) : wait_(parent) {
    wait_.Show(std::string(msg::LoadString(61282)), std::string(msg::LoadString(61283)));
  }
  ~ScopedWait() { Close(); }
  void Close() { wait_.Close(); }

 private:
  WidgetPleaseWait wait_;
};

std::unique_ptr<ldapx::Connection> Open(const std::string& host, int port) {
  // A port outside TCP's range cannot be connected to; libldap would wrap it around.
  if (port <= 0 || port > 65535) return nullptr;
  return ldapx::Connection::Open(host, port);
}

}  // namespace

bool TestConnection(QWidget* parent, const std::string& host, int port) {
  ScopedWait wait(parent);
  std::unique_ptr<ldapx::Connection> connection = Open(host, port);
  if (!connection) return false;
  connection->SetProtocolVersion(3);
  const int rc = connection->SimpleBind("", "");
  connection.reset();
  wait.Close();
  return rc == ldapx::kSuccess;
}

std::unique_ptr<ldapx::Connection> OpenBoundConnection(QWidget* parent, const std::string& host,
                                                       int port, const std::string& dn,
                                                       const std::string& password) {
  ScopedWait wait(parent);
  std::unique_ptr<ldapx::Connection> connection = Open(host, port);
  if (!connection) return nullptr;
  connection->SetProtocolVersion(3);
  const int rc = connection->SimpleBind(dn, password);
  wait.Close();
  if (rc != ldapx::kSuccess) return nullptr;
  return connection;
}
