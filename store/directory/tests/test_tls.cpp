// Encrypted connections against a real slapd with TLS: round trips over StartTLS and
// LDAPS, and every failed check refused before the bind, with the stored configuration
// left as it was.
#include <QtTest>

#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/stallserver.h"
#include "tests/support/testoidtable.h"

using testsupport::SlapdFixture;
using Tls = testsupport::SlapdFixture::Options::Tls;

Q_DECLARE_METATYPE(Tls)
Q_DECLARE_METATYPE(ldapx::Security)

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

const kvaro::Oidtable& Table() { return testsupport::DirectoryOidtable(); }

// A rule set `name` with one search rule and a form using it.
void BuildSample(testsupport::KeptConfiguration& c, const std::string& name) {
  auto set = std::make_unique<RuleSet>(name);
  SearchRule person(set.get(), "Person", {}, std::vector<std::string>{"person"});
  set->AddRule(&person);
  RuleSet* raw = set.get();
  c.ruleSets.push_back(std::move(set));
  auto target = std::make_unique<InputGroup>("Target", raw->FindRule("Person"));
  target->AddField("Name", "", {"cn"});
  c.searchForms.push_back(std::make_unique<SearchForm>("Find " + name, raw, std::move(target)));
}

std::string Url(const SlapdFixture& slapd, ldapx::Security security) {
  const bool ldaps = security == ldapx::Security::Ldaps;
  return std::string(ldaps ? "ldaps" : "ldap") +
         "://127.0.0.1:" + std::to_string(ldaps ? slapd.ldapsPort() : slapd.port()) +
         "/cn=Orvelle%20Configuration,o=Sample";
}

std::string Texts(const msg::RecordingSink& sink) {
  std::string all;
  for (const auto& m : sink.messages) all += m.text + "\n";
  return all;
}

std::vector<std::string> SubtreeDns(ldapx::Connection& c) {
  std::vector<std::string> dns;
  for (const auto& e : c.Search(kRoot, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"}).entries)
    dns.push_back(e.dn);
  std::sort(dns.begin(), dns.end());
  return dns;
}

// An admin connection that the server accepts: over StartTLS with the test CA when the
// server has a certificate the client trusts, else in plain text.
std::unique_ptr<ldapx::Connection> Admin(const SlapdFixture& slapd, bool overTls) {
  ldapx::TlsOptions tls;
  if (overTls) tls = {ldapx::Security::StartTls, slapd.caFile()};
  auto conn = ldapx::Connection::Open(slapd.host(), slapd.port(), tls);
  if (!conn || conn->SimpleBind(slapd.adminDn(), slapd.adminPassword()) != ldapx::kSuccess)
    return nullptr;
  return conn;
}

class FixedPrompt : public directory::CredentialsPrompt {
 public:
  std::vector<std::pair<std::string, std::string>> answers;
  int asked = 0;
  void Tell(const msg::Problems& problems) override { msg::Show(problems); }
  bool Ask(std::string& dn, std::string& pw) override {
    ++asked;
    if (answers.empty()) return false;
    dn = answers.front().first;
    pw = answers.front().second;
    answers.erase(answers.begin());
    return true;
  }
};

}  // namespace

class TestTls : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(Table().str2oc("inetOrgPerson")); }

  void roundTrip_data() {
    QTest::addColumn<ldapx::Security>("security");
    QTest::newRow("StartTLS") << ldapx::Security::StartTls;
    QTest::newRow("LDAPS") << ldapx::Security::Ldaps;
  }

  void roundTrip() {
    QFETCH(ldapx::Security, security);
    SlapdFixture::Options options;
    options.tls = Tls::Trusted;
    options.requireTls = true;  // nothing could pass in clear
    options.logStats = true;
    SlapdFixture slapd(options);
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);

    const ldapx::TlsOptions tls{ldapx::Security::StartTls, slapd.caFile()};
    testsupport::KeptConfiguration saved;
    BuildSample(saved, "People");
    saved.session.directory = testsupport::LogonAs(slapd.adminDn(), slapd.adminPassword(), tls);
    QVERIFY(testsupport::Shown(
        directory::SaveConfigurationToUrl(saved.session.directory, saved, Url(slapd, security))));
    QVERIFY2(sink.messages.empty(), Texts(sink).c_str());
    QVERIFY(saved.session.directory.connection->encrypted());
    QCOMPARE(saved.session.directory.server.security, std::string(ldapx::SecurityName(security)));
    QCOMPARE(directory::SecurityText(*saved.session.directory.connection, security),
             msg::Text(62207, {security == ldapx::Security::Ldaps ? "LDAPS" : "StartTLS"}));
    saved.session.directory.connection.reset();

    testsupport::KeptConfiguration loaded;
    loaded.session.directory = testsupport::LogonAs(slapd.adminDn(), slapd.adminPassword(), tls);
    QVERIFY(testsupport::Shown(directory::LoadConfigurationFromUrl(loaded.session.directory, loaded,
                                                                   Table(), Url(slapd, security))));
    QVERIFY(loaded.session.directory.connection->encrypted());
    QCOMPARE(loaded.ruleSets.size(), size_t(1));
    QCOMPARE(loaded.ruleSets[0]->name, std::string("People"));
    QCOMPARE(loaded.searchForms.size(), size_t(1));
    QCOMPARE(loaded.searchForms[0]->name, std::string("Find People"));
    QVERIFY(slapd.log().find("TLS established") != std::string::npos);
    if (security == ldapx::Security::StartTls)
      QVERIFY(slapd.log().find("EXT oid=1.3.6.1.4.1.1466.20037") != std::string::npos);
  }

  void refusals_data() {
    QTest::addColumn<Tls>("certificate");
    QTest::addColumn<bool>("requireTls");
    QTest::addColumn<ldapx::Security>("security");
    QTest::addColumn<bool>("withCaFile");
    QTest::addColumn<int>("reasonId");  // the message that must appear in the reason
    QTest::addColumn<bool>("bindSent");

    const auto startTls = ldapx::Security::StartTls;
    const auto ldaps = ldapx::Security::Ldaps;
    QTest::newRow("another CA, StartTLS")
        << Tls::OtherCa << false << startTls << true << 62201 << false;
    QTest::newRow("another CA, LDAPS") << Tls::OtherCa << false << ldaps << true << 62201 << false;
    QTest::newRow("test CA not in the system store")
        << Tls::Trusted << false << ldaps << false << 62201 << false;
    QTest::newRow("another host name, StartTLS")
        << Tls::OtherHost << false << startTls << true << 62203 << false;
    QTest::newRow("another host name, LDAPS")
        << Tls::OtherHost << false << ldaps << true << 62203 << false;
    QTest::newRow("expired, StartTLS")
        << Tls::Expired << false << startTls << true << 62202 << false;
    QTest::newRow("expired, LDAPS") << Tls::Expired << false << ldaps << true << 62202 << false;
    QTest::newRow("server without StartTLS")
        << Tls::NoTls << false << startTls << true << 62204 << false;
    // The user chose plain text: the bind goes out and the server refuses it.
    QTest::newRow("plain text to a server that requires TLS")
        << Tls::Trusted << true << ldapx::Security::None << false << 62205 << true;
  }

  void refusals() {
    QFETCH(Tls, certificate);
    QFETCH(bool, requireTls);
    QFETCH(ldapx::Security, security);
    QFETCH(bool, withCaFile);
    QFETCH(int, reasonId);
    QFETCH(bool, bindSent);

    SlapdFixture::Options options;
    options.tls = certificate;
    options.requireTls = requireTls;
    options.logStats = true;
    SlapdFixture slapd(options);
    QVERIFY2(slapd.ok(), slapd.error().c_str());

    // A configuration is stored first.
    {
      auto admin = Admin(slapd, requireTls);
      QVERIFY(admin);
      testsupport::KeptConfiguration first;
      first.session.startupMode = StartupMode::kDirectory;
      first.session.directory.subtreeDn = kRoot;
      first.session.directory.connection = std::move(admin);
      BuildSample(first, "Stored");
      msg::RecordingSink quiet;
      msg::ScopedSink scoped(&quiet);
      QVERIFY(testsupport::Shown(directory::SaveWithRootEntry(first.session.directory, first)));
    }
    const int bindsBefore = slapd.bindCount();
    QVERIFY(bindsBefore > 0);
    std::vector<std::string> before;
    {
      auto admin = Admin(slapd, requireTls);
      QVERIFY(admin);
      before = SubtreeDns(*admin);
    }
    QVERIFY(before.size() > 1);
    const int bindsAtAttempt = slapd.bindCount();

    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const ldapx::TlsOptions tls{security, withCaFile ? slapd.caFile() : ""};
    testsupport::KeptConfiguration other;
    BuildSample(other, "Replacement");
    // An ldap:// URL even for LDAPS would leave the choice to `tls`; the ldaps:// URL
    // shows that the URL alone asks for it.
    other.session.directory = testsupport::LogonAs(slapd.adminDn(), slapd.adminPassword(), tls);
    QVERIFY(!testsupport::Shown(
        directory::SaveConfigurationToUrl(other.session.directory, other, Url(slapd, security))));
    QVERIFY2(sink.messages.size() == 1, Texts(sink).c_str());
    const std::string text = sink.messages[0].text;
    std::string expected = msg::Text(reasonId, {"127.0.0.1"});
    QVERIFY2(text.find(expected) != std::string::npos, text.c_str());
    QVERIFY(!other.session.directory.connection);

    // Give slapd a moment to log what it saw of the attempt.
    QTest::qWait(100);
    if (bindSent)
      QCOMPARE(slapd.bindCount(), bindsAtAttempt + 1);
    else
      QCOMPARE(slapd.bindCount(), bindsAtAttempt);

    auto admin = Admin(slapd, requireTls);
    QVERIFY(admin);
    QCOMPARE(SubtreeDns(*admin), before);
  }

  // The start-up logon takes the security and the CA file from the settings' values.
  void startupLogon_data() {
    QTest::addColumn<QString>("security");
    QTest::addColumn<bool>("withCaFile");
    QTest::addColumn<bool>("loads");
    QTest::newRow("ldaps") << "ldaps" << true << true;
    QTest::newRow("starttls") << "starttls" << true << true;
    QTest::newRow("starttls, CA not trusted") << "starttls" << false << false;
  }

  void startupLogon() {
    QFETCH(QString, security);
    QFETCH(bool, withCaFile);
    QFETCH(bool, loads);
    SlapdFixture::Options options;
    options.tls = Tls::Trusted;
    options.requireTls = true;
    options.logStats = true;
    SlapdFixture slapd(options);
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    {
      testsupport::KeptConfiguration first;
      first.session.startupMode = StartupMode::kDirectory;
      first.session.directory.subtreeDn = kRoot;
      first.session.directory.connection = Admin(slapd, true);
      QVERIFY(first.session.directory.connection);
      BuildSample(first, "Stored");
      msg::RecordingSink quiet;
      msg::ScopedSink scoped(&quiet);
      QVERIFY(testsupport::Shown(directory::SaveWithRootEntry(first.session.directory, first)));
    }
    const int binds = slapd.bindCount();

    testsupport::KeptConfiguration c;
    c.session.startupMode = StartupMode::kDirectory;
    c.session.directory.subtreeDn = kRoot;
    c.session.directory.server.address = slapd.host();
    c.session.directory.server.security = security.toStdString();
    c.session.directory.server.port =
        c.session.directory.server.security == "ldaps" ? slapd.ldapsPort() : slapd.port();
    c.session.directory.server.caCertificateFile = withCaFile ? slapd.caFile() : "";
    FixedPrompt prompt;
    prompt.answers = {{slapd.adminDn(), slapd.adminPassword()}};
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const auto result = directory::LoadFromDirectory(c.session.directory, c, Table(), prompt);
    if (loads) {
      QCOMPARE(result, directory::LoadResult::Loaded);
      QVERIFY2(sink.messages.empty(), Texts(sink).c_str());
      QVERIFY(c.session.directory.connection && c.session.directory.connection->encrypted());
      QCOMPARE(c.ruleSets.size(), size_t(1));
    } else {
      // Refused before the bind; the user is asked again and gives up.
      QCOMPARE(result, directory::LoadResult::Cancelled);
      QCOMPARE(prompt.asked, 2);
      QVERIFY(Texts(sink).find(msg::Text(62201)) != std::string::npos);
      QTest::qWait(100);
      QCOMPARE(slapd.bindCount(), binds);
    }
  }

  // Many requests in flight and a large search result: TLS records that span reads.
  void bulkOverLdaps() {
    SlapdFixture::Options options;
    options.tls = Tls::Trusted;
    SlapdFixture slapd(options);
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    auto conn = ldapx::Connection::Open(slapd.host(), slapd.ldapsPort(),
                                        ldapx::TlsOptions{ldapx::Security::Ldaps, slapd.caFile()});
    QVERIFY(conn);
    QCOMPARE(conn->SimpleBind(slapd.adminDn(), slapd.adminPassword()), ldapx::kSuccess);
    std::vector<ldapx::Connection::AddRequest> adds;
    adds.push_back({"ou=bulk,o=Sample",
                    ldapx::ModList().Add("objectClass", {"organizationalUnit"}).Add("ou", {"bulk"}),
                    -1});
    const std::string padding(300, 'x');
    for (int i = 0; i < 3000; ++i) {
      const std::string name = "u" + std::to_string(i);
      adds.push_back({"ou=" + name + ",ou=bulk,o=Sample",
                      ldapx::ModList()
                          .Add("objectClass", {"organizationalUnit"})
                          .Add("ou", {name})
                          .Add("description", {padding + name}),
                      0});
    }
    int failed = -2;
    QCOMPARE(conn->AddMany(adds, 64, &failed), ldapx::kSuccess);
    const auto found = conn->Search("ou=bulk,o=Sample", ldapx::Scope::OneLevel, "(objectClass=*)",
                                    {"description"});
    QCOMPARE(found.code, ldapx::kSuccess);
    QCOMPARE(found.entries.size(), size_t(3000));
    QVERIFY(conn->encrypted());
  }

  // A server that accepts but never answers holds neither the StartTLS request nor the
  // handshake longer than the connect limit; the StartTLS wait also ends on cancel.
  void silentServerIsBounded_data() {
    QTest::addColumn<ldapx::Security>("security");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("LDAPS handshake") << ldapx::Security::Ldaps << false;
    QTest::newRow("LDAPS handshake, cancelled") << ldapx::Security::Ldaps << true;
    QTest::newRow("StartTLS request") << ldapx::Security::StartTls << false;
    QTest::newRow("StartTLS request, cancelled") << ldapx::Security::StartTls << true;
  }

  void silentServerIsBounded() {
    QFETCH(ldapx::Security, security);
    QFETCH(bool, cancel);
    testsupport::StallServer server(testsupport::StallServer::Mode::Silent);
    QElapsedTimer timer;
    timer.start();
    ldapx::CancelScope scope([&] { return cancel && timer.elapsed() > 300; });
    int error = 0;
    std::string reason;
    QVERIFY(!ldapx::Connection::Open("127.0.0.1", server.port(), ldapx::TlsOptions{security, {}},
                                     {1, 1}, &error, &reason));
    QCOMPARE(error, cancel ? ldapx::kCancelled : ldapx::kTimeout);
    QVERIFY2(timer.elapsed() < (cancel ? 1000 : 4000), QByteArray::number(timer.elapsed()));
  }

  void settingsNames() {
    QCOMPARE(ldapx::ParseSecurity("StartTLS"), std::optional(ldapx::Security::StartTls));
    QCOMPARE(ldapx::ParseSecurity("ldaps"), std::optional(ldapx::Security::Ldaps));
    QCOMPARE(ldapx::ParseSecurity("none"), std::optional(ldapx::Security::None));
    QVERIFY(!ldapx::ParseSecurity("tls"));
    ldapx::ServerSettings server;
    server.security = "startls";  // a typing error never means plain text
    QCOMPARE(server.Tls().security, ldapx::Security::StartTls);
    server.security = "none";
    server.caCertificateFile = "/etc/ca.pem";
    QCOMPARE(server.Tls().security, ldapx::Security::None);
    QCOMPARE(server.Tls().caFile, std::string("/etc/ca.pem"));
  }

  void ldapsUrlDefaultsToPort636() {
    const auto url = directory::ParseConfigurationUrl("ldaps://dirhost/o=Sample");
    QVERIFY(url);
    QVERIFY(url->ldaps);
    QCOMPARE(url->port, 636);
    QCOMPARE(directory::ParseConfigurationUrl("ldap://dirhost/o=Sample")->port, 389);
  }
};

QTEST_GUILESS_MAIN(TestTls)
#include "test_tls.moc"
