#include "tests/support/directoryserver.h"

#include <QByteArray>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "tests/support/ds389fixture.h"
#include "tests/support/slapdfixture.h"

namespace testsupport {

std::unique_ptr<ldapx::Connection> DirectoryServer::Connect(bool asAdmin,
                                                            const ldapx::Timeouts& timeouts) const {
  return asAdmin ? ConnectAs(adminDn(), adminPassword(), timeouts)
                 : ConnectAs(writerDn(), writerPassword(), timeouts);
}

std::unique_ptr<ldapx::Connection> DirectoryServer::ConnectAs(
    const std::string& dn, const std::string& password, const ldapx::Timeouts& timeouts) const {
  if (!ok()) return nullptr;
  auto conn = ldapx::Connection::Open(host(), port(), timeouts);
  if (!conn || conn->SimpleBind(dn, password) != ldapx::kSuccess) return nullptr;
  return conn;
}

bool DirectoryServer::Reset() {
  if (!ResetRules()) return false;
  auto conn = Connect();
  if (!conn) {
    Restart();
    conn = Connect();
    if (!conn) return false;
  }
  const auto keep = [&](const std::string& dn) {
    const auto n = ldapx::NormalizeDn(dn);
    return !n || *n == *ldapx::NormalizeDn(suffix()) || *n == *ldapx::NormalizeDn(writerDn()) ||
           *n == *ldapx::NormalizeDn(readerDn());
  };
  return DeleteSubtreeEntries(*conn, suffix(), "(objectClass=*)", keep);
}

bool DeleteSubtreeEntries(ldapx::Connection& conn, const std::string& base,
                          const std::string& filter,
                          const std::function<bool(const std::string& dn)>& keep) {
  const ldapx::SearchResult all = conn.Search(base, ldapx::Scope::Subtree, filter, {"1.1"});
  if (all.code != ldapx::kSuccess) return false;
  std::map<size_t, std::vector<std::string>, std::greater<>> byDepth;
  for (const ldapx::Entry& e : all.entries) {
    if (keep(e.dn)) continue;
    const auto rdns = ldapx::ExplodeDn(e.dn);
    if (!rdns) return false;
    byDepth[rdns->size()].push_back(e.dn);
  }
  for (const auto& [depth, dns] : byDepth) {
    int failed = -1;
    if (conn.DeleteMany(dns, 64, &failed) != ldapx::kSuccess) return false;
  }
  return true;
}

bool SkipWithoutServer(const DirectoryServer& server) {
  if (server.ok()) return false;
  if (server.kind() == ServerKind::Ds389) return true;
  return FindProgram("slapd").empty() && !qEnvironmentVariableIsSet("SLAPD");
}

ServerKind ServerKindFromEnvironment() {
  const QByteArray v = qgetenv("ORVELLE_TEST_SERVER");
  return v == "389" || v == "389-ds" ? ServerKind::Ds389 : ServerKind::Slapd;
}

std::unique_ptr<DirectoryServer> StartServer(ServerKind kind) {
  if (kind == ServerKind::Ds389) return std::make_unique<Ds389Fixture>();
  // slapd 2.5.13 aborts now and then when transactions are committed with its default
  // thread pool; two threads keep the transaction path of the save testable.
  SlapdFixture::Options options;
  options.threads = 2;
  return std::make_unique<SlapdFixture>(options);
}

DirectoryServer& SharedServer() {
  // Destroyed at exit, which stops the server; a crash stops it through the parent-death
  // signal of the fixtures.
  static const std::unique_ptr<DirectoryServer> server = StartServer(ServerKindFromEnvironment());
  return *server;
}

}  // namespace testsupport
