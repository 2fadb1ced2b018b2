#include "tests/support/replicatedslapd.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorystore.h"

namespace testsupport {

std::string ConfigurationText(const Configuration& configuration, const std::string& root) {
  std::string ldif;
  return directory::ConfigurationLdif(configuration, root, ldif) ? ldif
                                                                 : std::string("(unsaveable)");
}

std::string ServedConfiguration(const DirectoryServer& server, const std::string& root,
                                const kvaro::Oidtable& table) {
  auto conn = server.Connect(true, ldapx::Timeouts{2, 10});
  return conn ? ServedConfiguration(*conn, root, table) : std::string("error: no logon");
}

std::string ServedConfiguration(ldapx::Connection& connection, const std::string& root,
                                const kvaro::Oidtable& table) {
  Configuration c;
  c.oidtable = &table;
  msg::Problems warnings;
  int code = 0;
  if (!directory::LoadSubtree(c, root, table, connection, warnings, &code))
    return code == ldapx::kNoSuchObject ? "none" : "error: " + ldapx::ErrorText(code);
  if (c.ruleSets.empty() && c.searchForms.empty()) return "none";
  if (!warnings.empty()) return "warnings";
  return ConfigurationText(c, root);
}

namespace {

// The contextCSN values of o=Sample, joined; empty when none can be read.
std::string ContextCsn(SlapdFixture& server) {
  auto conn = ldapx::Connection::Open("127.0.0.1", server.port(), ldapx::Timeouts{2, 5});
  if (!conn || conn->SimpleBind(server.adminDn(), server.adminPassword()) != ldapx::kSuccess)
    return {};
  const ldapx::SearchResult r =
      conn->Search("o=Sample", ldapx::Scope::Base, "(objectClass=*)", {"contextCSN"});
  if (r.code != ldapx::kSuccess || r.entries.empty()) return {};
  const ldapx::Attribute* csn = r.entries.front().Find("contextCSN");
  if (!csn) return {};
  // One value per server that wrote; servers keep them in orders of their own.
  std::vector<std::string> values = csn->values;
  std::sort(values.begin(), values.end());
  std::string joined;
  for (const std::string& v : values) joined += v + ";";
  return joined;
}

}  // namespace

ReplicatedSlapd::ReplicatedSlapd() {
  SlapdFixture::Options p;
  p.provider = true;
  provider_ = std::make_unique<SlapdFixture>(p);
  if (!provider_->ok()) {
    error_ = "provider: " + provider_->error();
    return;
  }
  SlapdFixture::Options c;
  c.consumerOf = provider_->port();
  c.tls = SlapdFixture::Options::Tls::Trusted;
  copy_ = std::make_unique<SlapdFixture>(c);
  if (!copy_->ok()) {
    error_ = "copy: " + copy_->error();
    return;
  }
  deadPort_ = FreeLoopbackPort();
  SlapdFixture::Options l;
  l.consumerOf = provider_->port();
  l.updateRef = "ldap://127.0.0.1:" + std::to_string(deadPort_);
  lost_ = std::make_unique<SlapdFixture>(l);
  if (!lost_->ok()) {
    error_ = "second copy: " + lost_->error();
    return;
  }
  if (WaitForCopies(30) < 0) {
    error_ = "the copies did not take up the provider's entries within 30 s";
    return;
  }
  ok_ = true;
}

std::string ReplicatedSlapd::Url(const SlapdFixture& server, const std::string& dn) {
  return ldapx::MakeUrl("ldap", "127.0.0.1", server.port(), dn);
}

long ReplicatedSlapd::WaitForCopies(int seconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < seconds * 1000LL) {
    const std::string want = ContextCsn(*provider_);
    if (!want.empty() && ContextCsn(*copy_) == want && ContextCsn(*lost_) == want)
      return static_cast<long>(timer.elapsed());
    QThread::msleep(10);
  }
  return -1;
}

ReplicatedSlapd& SharedReplicas() {
  static ReplicatedSlapd replicas;
  return replicas;
}

MirrorSlapd::MirrorSlapd() {
  // The system may hand out a port it just freed again: ask until the two differ.
  int ports[2] = {FreeLoopbackPort(), FreeLoopbackPort()};
  for (int i = 0; i < 50 && ports[0] != 0 && ports[1] == ports[0]; ++i)
    ports[1] = FreeLoopbackPort();
  if (ports[0] == 0 || ports[1] == 0 || ports[0] == ports[1]) {
    error_ = "no two free loopback ports";
    return;
  }
  for (int i = 0; i < 2; ++i) {
    SlapdFixture::Options o;
    o.provider = true;
    o.mirrorMode = true;
    o.serverId = i + 1;
    o.port = ports[i];
    o.consumerOf = ports[1 - i];
    (i == 0 ? first_ : second_) = std::make_unique<SlapdFixture>(o);
    if (!mirror(i).ok()) {
      error_ = "mirror " + std::to_string(i + 1) + ": " + mirror(i).error();
      return;
    }
    if (mirror(i).port() != ports[i]) {
      error_ = "mirror " + std::to_string(i + 1) + " could not take its port";
      return;
    }
  }
  if (WaitForMirrors(30) < 0) {
    error_ = "the mirrors did not take up each other's entries within 30 s";
    return;
  }
  ok_ = true;
}

long MirrorSlapd::WaitForMirrors(int seconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < seconds * 1000LL) {
    const std::string first = ContextCsn(*first_);
    if (!first.empty() && ContextCsn(*second_) == first) return static_cast<long>(timer.elapsed());
    QThread::msleep(10);
  }
  return -1;
}

MirrorSlapd& SharedMirrors() {
  static MirrorSlapd mirrors;
  return mirrors;
}

}  // namespace testsupport
