// The directory servers the tests run against, behind one interface: OpenLDAP's slapd
// (SlapdFixture) and 389 Directory Server (Ds389Fixture). Each is a real, throwaway
// server on a free loopback port in a private folder that stops with the test process.
//
// Both hold the suffix "o=Sample" (an organization entry) with the program's schema and
// three users: the administrator (slapd's root DN, 389's Directory Manager), an ordinary
// writer (cn=writer,o=Sample) subject to the access rules, and a reader
// (cn=reader,o=Sample) that gets at most 2,000 entries per search request.
#pragma once

#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "platform/ldap/ldapclient.h"

namespace testsupport {

enum class ServerKind { Slapd, Ds389 };

class DirectoryServer {
 public:
  virtual ~DirectoryServer() = default;

  virtual ServerKind kind() const = 0;
  // "slapd" or "389-ds", for test names and messages.
  std::string name() const { return kind() == ServerKind::Slapd ? "slapd" : "389-ds"; }
  // True when the server answers; otherwise error() says why (program missing, start
  // failure with its log).
  virtual bool ok() const = 0;
  virtual const std::string& error() const = 0;

  std::string host() const { return "127.0.0.1"; }
  virtual int port() const = 0;
  std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port()); }
  std::string suffix() const { return "o=Sample"; }
  virtual std::string adminDn() const = 0;
  virtual std::string adminPassword() const = 0;
  std::string writerDn() const { return "cn=writer,o=Sample"; }
  std::string writerPassword() const { return "writerpw"; }
  std::string readerDn() const { return "cn=reader,o=Sample"; }
  std::string readerPassword() const { return "readerpw"; }
  // The server's private folder.
  virtual std::string folder() const = 0;
  // The server's log so far (slapd's output; 389's errors log).
  virtual std::string log() const = 0;
  // Whether the server offers LDAP transactions (RFC 5805).
  virtual bool offersTransactions() const = 0;

  // A connection bound as the admin (or as the writer); null when that fails.
  std::unique_ptr<ldapx::Connection> Connect(bool asAdmin = true,
                                             const ldapx::Timeouts& timeouts = {}) const;
  // A connection bound as the given user; null when that fails.
  std::unique_ptr<ldapx::Connection> ConnectAs(const std::string& dn, const std::string& password,
                                               const ldapx::Timeouts& timeouts = {}) const;

  // Stops the server (also done by the destructor).
  virtual void Stop() = 0;
  // Kills the server at once (SIGKILL), as a crash would.
  virtual void Kill() = 0;
  // Starts the server again on the same port with the same data. True when it answers.
  virtual bool Restart() = 0;

  // From now on the writer may not delete the entry `dn` (it may still delete its
  // children); Reset() takes this back. True when the server took the rule.
  virtual bool RefuseDelete(const std::string& dn) = 0;
  // From now on the writer may not add an entry whose RDN is cn=`name` (any case),
  // anywhere; Reset() takes this back.
  virtual bool RefuseAdd(const std::string& name) = 0;

  // Deletes every entry below the suffix except the writer and the reader, so the next
  // test function of an executable sharing the server starts from the same state. True
  // when that worked (restarting a stopped or killed server first).
  bool Reset();

 protected:
  // Takes back the rules RefuseDelete and RefuseAdd added.
  virtual bool ResetRules() = 0;
};

// In a test function: `var` names the executable's shared server, emptied by Reset();
// skips or fails as ORVELLE_REQUIRE_SERVER does.
#define ORVELLE_SHARED_SERVER(var)                                 \
  testsupport::DirectoryServer& var = testsupport::SharedServer(); \
  ORVELLE_REQUIRE_SERVER(var);                                     \
  QVERIFY2(var.Reset(), ("could not empty the " + var.name() + " server").c_str())

// Which server the tests of this executable use: ORVELLE_TEST_SERVER=389 chooses 389
// Directory Server, anything else (or nothing) slapd.
ServerKind ServerKindFromEnvironment();

// The one server of this test executable, of the kind above: started on the first call,
// stopped when the program ends. Test functions call Reset() before using it.
DirectoryServer& SharedServer();

// Makes a new server of `kind` with the options the shared server uses.
std::unique_ptr<DirectoryServer> StartServer(ServerKind kind);

// Deletes every entry that `filter` finds in the subtree of `base` and `keep` does not
// name, deepest first, each depth in one pipelined batch (a parent goes only after all
// of its children). False when the search or a delete failed.
bool DeleteSubtreeEntries(ldapx::Connection& conn, const std::string& base,
                          const std::string& filter,
                          const std::function<bool(const std::string& dn)>& keep);

// A free TCP port on 127.0.0.1 (bound and released; 0 when none could be had).
int FreeLoopbackPort();

// The path of a program found on PATH or in /usr/sbin and /usr/bin; empty when absent.
std::string FindProgram(const std::string& name);

// Whether a test should be skipped rather than failed when `server` is not ok(): its
// programs are not installed, or a 389 Directory Server instance could not be made or
// started (slapd that is installed but does not start is a failure).
bool SkipWithoutServer(const DirectoryServer& server);

}  // namespace testsupport

// In a test function: skips with the reason when the server is missing, fails when it is
// installed but does not answer.
#define ORVELLE_REQUIRE_SERVER(server)                                          \
  do {                                                                          \
    if (!(server).ok()) {                                                       \
      if (testsupport::SkipWithoutServer(server))                               \
        QSKIP(((server).name() + ": " + (server).error()).c_str());             \
      QFAIL(((server).name() + " did not start: " + (server).error()).c_str()); \
    }                                                                           \
  } while (false)
