// Several servers that hold one configuration: a provider and read-only copies kept by
// syncrepl (tests/support/replicatedslapd). The logon falls through to the next server
// of a list; a save through a copy comes back as a referral, written nowhere, and goes to
// the provider only when asked; and a copy serves the old configuration or the new one,
// never a mix and never none, while a save runs on the provider.
#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "platform/ldap/serversettings.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/directory/readonlycopy.h"
#include "tests/support/replicatedslapd.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/stallserver.h"
#include "tests/support/testoidtable.h"

using testsupport::ReplicatedSlapd;
using testsupport::SlapdFixture;

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";
const ldapx::Timeouts kLimits{2, 10};

const kvaro::Oidtable& Table() { return testsupport::DirectoryOidtable(); }

#define REQUIRE_REPLICAS(var)                           \
  ReplicatedSlapd& var = testsupport::SharedReplicas(); \
  QVERIFY2(var.ok(), var.error().c_str())

// What a configuration is, as the entries a save writes: equal text, equal configuration.
std::string Fingerprint(const Configuration& c) {
  std::string ldif;
  return directory::ConfigurationLdif(c, kRoot, ldif) ? ldif : std::string("(unsaveable)");
}

std::string Fingerprint(int ruleSets, int rules, int fields) {
  Configuration c;
  c.oidtable = &Table();
  sample::FillLarge(c, ruleSets, rules, fields);
  return Fingerprint(c);
}

directory::Session AdminOn(SlapdFixture& server, ldapx::Security security = ldapx::Security::None) {
  directory::Session s;
  s.server.address = "127.0.0.1";
  s.server.port = security == ldapx::Security::Ldaps ? server.ldapsPort() : server.port();
  s.server.security = ldapx::SecurityName(security);
  s.server.caCertificateFile = server.caFile();
  s.server.bindDn = server.adminDn();
  s.password = server.adminPassword();
  s.subtreeDn = kRoot;
  return s;
}

bool Connect(directory::Session& s) {
  directory::Logon logon = directory::OpenAndBind(s.server, s.password, kLimits);
  s.connection = std::move(logon.connection);
  return s.connection != nullptr;
}

// The configuration `server` serves now: its fingerprint, "none" when the subtree is not
// there, "error: ..." when it could not be read.
std::string Served(SlapdFixture& server) {
  directory::Session s = AdminOn(server);
  if (!Connect(s)) return "error: no logon";
  Configuration c;
  c.oidtable = &Table();
  msg::Problems warnings;
  int code = 0;
  if (!directory::LoadSubtree(c, kRoot, Table(), *s.connection, warnings, &code))
    return "error: " + ldapx::ErrorText(code);
  if (c.ruleSets.empty() && c.searchForms.empty()) return "none";
  if (!warnings.empty()) return "warnings";
  return Fingerprint(c);
}

// Saves FillLarge(ruleSets, rules, fields) through the provider.
msg::Result SaveOnProvider(ReplicatedSlapd& r, int ruleSets, int rules, int fields,
                           const directory::SaveOptions& options = {}) {
  directory::Session s = AdminOn(r.provider());
  if (!Connect(s)) return msg::Result(false);
  Configuration c;
  c.oidtable = &Table();
  sample::FillLarge(c, ruleSets, rules, fields);
  return directory::SaveConfiguration(s, c, nullptr, options);
}

}  // namespace

class ReplicaTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { msg::SetSink(nullptr); }

  // The logon takes the first server of the list that answers; one that is down,
  // accepts nothing or never answers the bind costs at most the connect limit. A bind
  // that is refused is the answer: the next server is not asked.
  void logonTriesEachServerInTurn_data() {
    QTest::addColumn<QString>("address");   // {dead} {stall} {full} {provider} {copy}
    QTest::addColumn<QString>("password");  // empty: the right one
    QTest::addColumn<QString>("answers");   // the server that answered, or "" for none
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("lastTried");
    QTest::addColumn<int>("seconds");  // at most
    QTest::newRow("first down") << "127.0.0.1:{dead} 127.0.0.1:{provider}"
                                << ""
                                << "{provider}" << 0 << "{provider}" << 1;
    QTest::newRow("first never answers the bind") << "127.0.0.1:{stall} 127.0.0.1:{copy}"
                                                  << ""
                                                  << "{copy}" << 0 << "{copy}" << 3;
    QTest::newRow("first accepts no connection") << "127.0.0.1:{full},127.0.0.1:{copy}"
                                                 << ""
                                                 << "{copy}" << 0 << "{copy}" << 3;
    QTest::newRow("none answers") << "127.0.0.1:{dead} 127.0.0.1:{stall}"
                                  << ""
                                  << "" << -5 << "{stall}" << 3;
    QTest::newRow("refused bind ends the list") << "127.0.0.1:{copy} 127.0.0.1:{provider}"
                                                << "wrong"
                                                << "" << 49 << "{copy}" << 1;
  }
  void logonTriesEachServerInTurn() {
    REQUIRE_REPLICAS(r);
    QFETCH(QString, address);
    QFETCH(QString, password);
    QFETCH(QString, answers);
    QFETCH(int, code);
    QFETCH(QString, lastTried);
    QFETCH(int, seconds);
    testsupport::StallServer stall(testsupport::StallServer::Mode::Silent);
    testsupport::StallServer full(testsupport::StallServer::Mode::NoAccept);
    auto ports = [&](QString text) {
      text.replace("{dead}", QString::number(r.deadPort()));
      text.replace("{stall}", QString::number(stall.port()));
      text.replace("{full}", QString::number(full.port()));
      text.replace("{provider}", QString::number(r.provider().port()));
      text.replace("{copy}", QString::number(r.copy().port()));
      return text;
    };
    directory::Session s = AdminOn(r.provider());
    s.server.address = ports(address).toStdString();
    QElapsedTimer timer;
    timer.start();
    const directory::Logon logon = directory::OpenAndBind(
        s.server, password.isEmpty() ? s.password : password.toStdString(), kLimits);
    const qint64 ms = timer.elapsed();
    qInfo("%s: %lld ms", QTest::currentDataTag(), ms);
    QVERIFY2(ms <= seconds * 1000LL, std::to_string(ms).c_str());
    QCOMPARE(logon.code, code);
    QCOMPARE(logon.connection != nullptr, !answers.isEmpty());
    QCOMPARE(QString::number(logon.port), ports(lastTried));
    if (logon.connection) QCOMPARE(QString::number(logon.connection->port()), ports(answers));
  }

  // A save through a read-only copy writes nothing anywhere and returns the referral;
  // the provider then takes it over a logon with the same DN and password, never less
  // encrypted than the session was. The copies converge on loopback within 2 s.
  void saveThroughACopyIsReferred_data() {
    QTest::addColumn<QString>("through");  // copy, copy-ldaps, lost
    QTest::addColumn<int>("followed");     // message id of the failed follow, 0: saved
    QTest::newRow("copy, plain text") << "copy" << 0;
    QTest::newRow("copy over LDAPS, provider without TLS")
        << "copy-ldaps" << msg::id::kProviderFailed;
    QTest::newRow("copy that refers to nothing") << "lost" << msg::id::kProviderFailed;
  }
  void saveThroughACopyIsReferred() {
    REQUIRE_REPLICAS(r);
    QFETCH(QString, through);
    QFETCH(int, followed);
    QVERIFY(SaveOnProvider(r, 2, 2, 2).ok);
    QVERIFY(r.WaitForCopies(10) >= 0);
    const std::string before = Fingerprint(2, 2, 2);
    const bool lost = through == "lost";
    SlapdFixture& copy = lost ? r.lostCopy() : r.copy();
    directory::Session s =
        AdminOn(copy, through == "copy-ldaps" ? ldapx::Security::Ldaps : ldapx::Security::None);
    QVERIFY(Connect(s));
    Configuration c;
    c.oidtable = &Table();
    sample::FillLarge(c, 3, 3, 3);
    const msg::Result refused = directory::SaveConfiguration(s, c);
    QVERIFY(!refused.ok);
    QCOMPARE(refused.Ids(), std::vector<int>{msg::id::kReadOnlyCopy});
    const auto provider = directory::ReadOnlyCopyReferral(refused);
    QVERIFY(provider);
    const auto url = ldapx::ParseUrl(*provider);
    QVERIFY(url);
    QCOMPARE(url->port, lost ? r.deadPort() : r.provider().port());
    QCOMPARE(Served(r.provider()), before);
    QCOMPARE(Served(copy), before);

    QElapsedTimer timer;
    timer.start();
    const msg::Result connected = directory::ConnectToProvider(s, *provider, kLimits);
    if (followed != 0) {
      QCOMPARE(connected.Ids(), std::vector<int>{followed});
      // Never less encrypted: the provider's ldap:// URL is taken only with StartTLS.
      if (through == "copy-ldaps")
        QVERIFY(connected.problems.front().reason.find("StartTLS") != std::string::npos);
      QVERIFY(timer.elapsed() <= 3000);
      QCOMPARE(Served(r.provider()), before);
      return;
    }
    QVERIFY(connected.ok);
    QCOMPARE(s.connection->port(), r.provider().port());
    QVERIFY(directory::SaveConfiguration(s, c).ok);
    const long converged = r.WaitForCopies(10);
    qInfo("copies converged %ld ms after the save", converged);
    QVERIFY(converged >= 0 && converged <= 2000);
    QCOMPARE(Served(r.copy()), Fingerprint(3, 3, 3));
    QCOMPARE(Served(r.lostCopy()), Fingerprint(3, 3, 3));
  }
};

QTEST_GUILESS_MAIN(ReplicaTest)
#include "test_replicas.moc"
