// A throwaway OpenLDAP server for tests: slapd runs as a child process on a free
// loopback port with a private folder, the stock core, cosine and inetorgperson schema
// plus the program's own schema, an mdb database for the suffix "o=Sample", and two
// users: the root DN (cn=admin,o=Sample) and an ordinary writer (cn=writer,o=Sample)
// that is subject to the access rules, so a test can make the server refuse a delete.
// The destructor stops the server and removes its folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"

class QProcess;
class QTemporaryDir;

namespace testsupport {

class SlapdFixture {
 public:
  struct Options {
    // Entries the writer may not delete (it may still delete their children).
    std::vector<std::string> refuseDelete;
    // Extra entries (LDIF) loaded before the server starts.
    std::string extraLdif;
    // Further access rules (slapd.conf "access to ..." lines), placed before the rule
    // that lets the writer write everything, so they can take rights away.
    std::vector<std::string> accessRules;
    // Worker threads of the server (0: slapd's default).
    int threads = 0;
    // TLS. With anything but NoTls the fixture makes a test CA (caFile()) and a server
    // certificate with openssl, and listens on ldap:// (with StartTLS) and ldaps://
    // (ldapsPort()). Trusted: issued by the test CA for 127.0.0.1 and localhost. The others fail
    // one check each: issued by another CA, for another host name, or expired.
    enum class Tls { NoTls, Trusted, OtherCa, OtherHost, Expired };
    Tls tls = Tls::NoTls;
    // The server refuses every operation but StartTLS without TLS ("security tls=1").
    bool requireTls = false;
    // slapd logs connections and operations (loglevel stats) into log().
    bool logStats = false;
  };

  SlapdFixture();
  explicit SlapdFixture(const Options& options);
  ~SlapdFixture();
  SlapdFixture(const SlapdFixture&) = delete;
  SlapdFixture& operator=(const SlapdFixture&) = delete;

  // True when the server answers; otherwise error() says why (slapd missing, start
  // failure with its log).
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  std::string host() const { return "127.0.0.1"; }
  int port() const { return port_; }
  std::string url() const;                      // ldap://127.0.0.1:PORT
  int ldapsPort() const { return ldapsPort_; }  // 0 without TLS
  // The test CA's certificate (PEM); empty without TLS.
  std::string caFile() const;
  // slapd's output so far; with logStats one line per connection and operation.
  std::string log() const;
  // How many bind requests the server has seen (needs logStats).
  int bindCount() const;
  std::string suffix() const { return "o=Sample"; }
  std::string adminDn() const { return "cn=admin,o=Sample"; }
  std::string adminPassword() const { return "secret"; }
  std::string writerDn() const { return "cn=writer,o=Sample"; }
  std::string writerPassword() const { return "writerpw"; }
  std::string folder() const;

  // A connection bound as the admin (or as the writer); null when that fails.
  std::unique_ptr<ldapx::Connection> Connect(bool asAdmin = true,
                                             const ldapx::Timeouts& timeouts = {}) const;

  // Stops the server (also done by the destructor).
  void Stop();
  // Kills the server at once (SIGKILL), as a crash would.
  void Kill();
  // Starts the server again on the same port with the same database. True when it
  // answers.
  bool Restart();

 private:
  bool Start(const Options& options);
  bool Launch(bool newPort);
  bool MakeCertificates(Options::Tls tls);

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QProcess> process_;
  int port_ = 0;
  int ldapsPort_ = 0;
  Options options_;
  bool ok_ = false;
  std::string error_;
};

// A free TCP port on 127.0.0.1 (bound and released; 0 when none could be had).
int FreeLoopbackPort();

// The path of a program found on PATH or in /usr/sbin and /usr/bin; empty when absent.
std::string FindProgram(const std::string& name);

}  // namespace testsupport
