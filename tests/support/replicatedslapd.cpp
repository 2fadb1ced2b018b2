#include "tests/support/replicatedslapd.h"

#include <QElapsedTimer>
#include <QThread>

namespace testsupport {

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
  std::string joined;
  for (const std::string& v : csn->values) joined += v + ";";
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

}  // namespace testsupport
