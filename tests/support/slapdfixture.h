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
#include "tests/support/directoryserver.h"

class QProcess;
class QTemporaryDir;

namespace testsupport {

class SlapdFixture : public DirectoryServer {
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
    // Replication. `provider`: the server hands out its changes (the syncprov overlay).
    // `consumerOf` (a port of a provider on loopback; 0: none): the server starts empty
    // and keeps a read-only copy of the provider's o=Sample (syncrepl, refreshAndPersist,
    // bound as the root DN), retrying every second while the provider is down; it answers
    // every write with a referral to `updateRef` (empty: the provider's ldap:// URL).
    bool provider = false;
    int consumerOf = 0;
    std::string updateRef;
    // Mirror mode (with `provider` and `consumerOf`): the server also takes writes itself
    // and hands them to the other of its pair (serverID `serverId`, "mirrormode on", no
    // referral). Only the first of a pair (serverId 1) starts with the base entries.
    bool mirrorMode = false;
    int serverId = 0;
    // The port to listen on (0: a free one); a pair must know each other's port first.
    int port = 0;
  };

  SlapdFixture();
  explicit SlapdFixture(const Options& options);
  ~SlapdFixture() override;
  SlapdFixture(const SlapdFixture&) = delete;
  SlapdFixture& operator=(const SlapdFixture&) = delete;

  // True when the server answers; otherwise error() says why (slapd missing, start
  // failure with its log).
  ServerKind kind() const override { return ServerKind::Slapd; }
  bool ok() const override { return ok_; }
  const std::string& error() const override { return error_; }

  int port() const override { return port_; }
  int ldapsPort() const { return ldapsPort_; }  // 0 without TLS
  // The test CA's certificate (PEM); empty without TLS.
  std::string caFile() const;
  // slapd's output so far; with logStats one line per connection and operation.
  std::string log() const override;
  // How many bind requests the server has seen (needs logStats).
  int bindCount() const;
  std::string adminDn() const override { return "cn=admin,o=Sample"; }
  std::string adminPassword() const override { return "secret"; }
  std::string folder() const override;
  // slapd offers transactions (with the mdb backend).
  bool offersTransactions() const override { return true; }

  void Stop() override;
  void Kill() override;
  bool Restart() override;
  // Adds an access rule and restarts the server (same port, same data).
  bool RefuseDelete(const std::string& dn) override;
  bool RefuseAdd(const std::string& name) override;
  // Adds `rule` (an "access to ..." line) before the one that lets the writer write, and
  // restarts the server; Reset() takes it back.
  bool AddAccessRule(const std::string& rule);

 protected:
  bool ResetRules() override;

 private:
  bool Start(const Options& options);
  bool Launch(bool newPort);
  bool WriteConfiguration();
  bool MakeCertificates(Options::Tls tls);

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QProcess> process_;
  int port_ = 0;
  int ldapsPort_ = 0;
  Options options_;
  // How many of the last entries of options_.refuseDelete and options_.accessRules the
  // Refuse functions added.
  size_t addedRefusals_ = 0;
  size_t addedRules_ = 0;
  bool ok_ = false;
  std::string error_;
};

}  // namespace testsupport
