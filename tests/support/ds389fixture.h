// A throwaway 389 Directory Server for tests. The instance is made once per machine and
// version of its set-up (scripts/ds389-instance create, 5-10 s) in the temporary folder,
// then copied into a private folder per fixture and started on a free loopback port
// (about a second). ns-slapd runs as its own process, outside the test process (and
// outside its sanitizers); the destructor stops it and removes its folder, and a test
// process that dies takes the server with it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/directoryserver.h"

class QProcess;
class QTemporaryDir;

namespace testsupport {

class Ds389Fixture : public DirectoryServer {
 public:
  Ds389Fixture();
  ~Ds389Fixture() override;
  Ds389Fixture(const Ds389Fixture&) = delete;
  Ds389Fixture& operator=(const Ds389Fixture&) = delete;

  ServerKind kind() const override { return ServerKind::Ds389; }
  bool ok() const override { return ok_; }
  const std::string& error() const override { return error_; }
  int port() const override { return port_; }
  std::string adminDn() const override { return "cn=Directory Manager"; }
  std::string adminPassword() const override { return "adminsecret"; }
  std::string folder() const override;
  std::string log() const override;
  bool offersTransactions() const override { return false; }

  void Stop() override;
  void Kill() override;
  bool Restart() override;
  // An access control item on the suffix (no restart).
  bool RefuseDelete(const std::string& dn) override;
  bool RefuseAdd(const std::string& name) override;
  // Refuses the writer the adds of entries whose cn holds `part` (an ACI with a
  // substring filter; taken back by ResetRules).
  bool RefuseAddOfNamesHolding(const std::string& part);

 protected:
  bool ResetRules() override;

 private:
  bool Start();
  bool Launch();
  bool ModifySuffixAcis(const std::string& change, const std::vector<std::string>& acis);

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QProcess> process_;
  int port_ = 0;
  std::vector<std::string> refusals_;  // the access control items RefuseDelete added
  bool ok_ = false;
  std::string error_;
};

}  // namespace testsupport
