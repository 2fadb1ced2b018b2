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

#include "ldapclient.h"

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
  std::string url() const;  // ldap://127.0.0.1:PORT
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

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QProcess> process_;
  int port_ = 0;
  bool ok_ = false;
  std::string error_;
};

// A free TCP port on 127.0.0.1 (bound and released; 0 when none could be had).
int FreeLoopbackPort();

// The path of a program found on PATH or in /usr/sbin and /usr/bin; empty when absent.
std::string FindProgram(const std::string& name);

}  // namespace testsupport
