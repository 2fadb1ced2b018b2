// Two throwaway 389 Directory Servers that both take writes and replicate o=Sample to
// each other (multi-supplier: replica ids 1 and 2, one agreement each way, the second
// server initialised from the first). Each is a Ds389Fixture; replication is set up over
// LDAP in cn=config, as `dsconf replication enable` and `dsconf repl-agmt create/init` do.
// Made once per test program and shared by its cases; the servers die with the program.
#pragma once

#include <memory>
#include <string>

#include "tests/support/ds389fixture.h"

namespace testsupport {

class Ds389Suppliers {
 public:
  Ds389Suppliers();
  ~Ds389Suppliers();
  Ds389Suppliers(const Ds389Suppliers&) = delete;
  Ds389Suppliers& operator=(const Ds389Suppliers&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  // Whether a test should skip rather than fail when !ok(): 389 DS is not installed or
  // its instance could not be made (as SkipWithoutServer for one server).
  bool skip() const { return skip_; }

  // The two suppliers, 0 and 1.
  Ds389Fixture& supplier(int i) { return i == 0 ? *first_ : *second_; }

  // Stops (false) or resumes (true) sending changes both ways: the agreements are
  // disabled or enabled. What is written on either meanwhile stays there until resumed.
  bool SetReplicating(bool on);

  // Waits, at most `seconds`, until each supplier holds every change the other made
  // before the call and, with `sameEntries`, both hold the same entries below o=Sample
  // (conflict entries included). The milliseconds it took, or -1.
  long WaitForConvergence(int seconds, bool sameEntries = true);
  // After a WaitForConvergence that ran out: the first entry in which the two differed.
  const std::string& difference() const { return difference_; }

  // Removes, through the first supplier and then through the second (which may hold
  // entries the first does not), every entry below o=Sample but the users and the
  // entries replication keeps for itself (conflict copies included), then waits for
  // convergence. True when that worked.
  bool Clear();

 private:
  bool EnableReplica(Ds389Fixture& server, int id);
  bool AddAgreement(Ds389Fixture& from, Ds389Fixture& to, const std::string& name);
  bool Initialise(Ds389Fixture& from, const std::string& name);

  std::unique_ptr<Ds389Fixture> first_;
  std::unique_ptr<Ds389Fixture> second_;
  long round_ = 0;
  std::string difference_;
  bool ok_ = false;
  bool skip_ = false;
  std::string error_;
};

// The program's one supplier pair, set up on the first call.
Ds389Suppliers& SharedSuppliers();

}  // namespace testsupport

// In a test function: `var` names the program's supplier pair, emptied by Clear(); skips
// with the reason when 389 DS is missing, fails when it is there but does not replicate.
#define ORVELLE_SHARED_SUPPLIERS(var)                                    \
  testsupport::Ds389Suppliers& var = testsupport::SharedSuppliers();     \
  do {                                                                   \
    if (!var.ok()) {                                                     \
      if (var.skip()) QSKIP(("389-ds: " + var.error()).c_str());         \
      QFAIL(("389-ds suppliers did not start: " + var.error()).c_str()); \
    }                                                                    \
  } while (false);                                                       \
  QVERIFY2(var.Clear(), "could not empty the 389-ds suppliers")
