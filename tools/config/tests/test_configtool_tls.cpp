// orvelle-config against a directory that accepts only encrypted connections: ldaps://
// URLs, --starttls and --ca-file, refusals that change nothing, and the warnings about
// passwords that could be read by others.
#include <sys/stat.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/slapdfixture.h"
#include "tests/support/testfiles.h"
#include "tests/support/workedexample.h"
#include "tools/config/tests/configtoolrun.h"

namespace fs = std::filesystem;

using configtooltest::Result;
using testsupport::kSmallExample;
using testsupport::ReadFile;

class TestConfigToolTls : public configtooltest::DirectoryToolTest {
  Q_OBJECT

  QString password_;
  QString source_;

  Result RunAsAdmin(const QStringList& arguments, const QString& passwordFile = {}) const {
    return RunLoggedOn(arguments, passwordFile.isEmpty() ? password_ : passwordFile);
  }
  QString Url(bool ldaps, const char* parent = "o=Sample") const {
    return QString("%1://127.0.0.1:%2/cn=Orvelle%20Configuration,%3")
        .arg(ldaps ? "ldaps" : "ldap")
        .arg(ldaps ? slapd_->ldapsPort() : slapd_->port())
        .arg(parent);
  }
  QString CaFile() const { return QString::fromStdString(slapd_->caFile()); }
  // The DNs below the configuration root under `parent` (over StartTLS).
  size_t Stored(const char* parent) const {
    auto conn =
        ldapx::Connection::Open(slapd_->host(), slapd_->port(),
                                ldapx::TlsOptions{ldapx::Security::StartTls, slapd_->caFile()});
    if (!conn || conn->SimpleBind(slapd_->adminDn(), slapd_->adminPassword()) != ldapx::kSuccess)
      return size_t(-1);
    return conn
        ->Search(std::string("cn=Orvelle Configuration,") + parent, ldapx::Scope::Subtree,
                 "(objectClass=*)", {"1.1"})
        .entries.size();
  }

 private slots:
  void initTestCase() {
    QVERIFY2(QFile::exists(configtooltest::kProgram), "build the orvelle-config target first");
    QVERIFY(dir_.isValid());
    testsupport::SlapdFixture::Options options;
    options.tls = testsupport::SlapdFixture::Options::Tls::Trusted;
    options.requireTls = true;
    options.extraLdif = "dn: ou=refused,o=Sample\nobjectClass: organizationalUnit\nou: refused\n\n";
    slapd_ = std::make_unique<testsupport::SlapdFixture>(options);
    QVERIFY2(slapd_->ok(), slapd_->error().c_str());
    password_ = dir_.filePath("admin.pw");
    std::ofstream(password_.toStdString(), std::ios::binary) << slapd_->adminPassword() << "\n";
    ::chmod(password_.toLocal8Bit().constData(), 0600);
    source_ = dir_.filePath("source");
    fs::create_directories(source_.toStdString());
    std::ofstream(fs::path(source_.toStdString()) / "RuleSet=People", std::ios::binary)
        << kSmallExample;
  }

  void cleanupTestCase() { slapd_.reset(); }

  void copiesOverLdapsAndStartTls() {
    Result r = RunAsAdmin({"copy", source_, Url(true), "--ca-file", CaFile()});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    const QString back = dir_.filePath("back");
    r = RunAsAdmin({"copy", Url(false), back, "--starttls", "--ca-file", CaFile()});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    QVERIFY(ReadFile(fs::path(back.toStdString()) / "RuleSet=People").find("Form: Find a person") !=
            std::string::npos);
  }

  void refusalsChangeNothing_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("ldaps");
    QTest::addColumn<QString>("reason");
    QTest::newRow("plain text") << QStringList{} << false
                                << "the server requires an encrypted connection";
    QTest::newRow("StartTLS without the CA")
        << QStringList{"--starttls"} << false << "the server's certificate is not trusted";
    QTest::newRow("LDAPS without the CA")
        << QStringList{} << true << "the server's certificate is not trusted";
    QTest::newRow("a CA file that is not there")
        << QStringList{"--ca-file", "/nonexistent/ca.pem"} << true
        << "the encrypted connection could not be set up (/nonexistent/ca.pem";
  }

  void refusalsChangeNothing() {
    QFETCH(QStringList, options);
    QFETCH(bool, ldaps);
    QFETCH(QString, reason);
    const size_t before = Stored("ou=refused,o=Sample");
    const Result r =
        RunAsAdmin(QStringList{"copy", source_, Url(ldaps, "ou=refused,o=Sample")} + options);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(reason), qPrintable(r.err));
    // Loopback: no warning about the password.
    QVERIFY2(!r.err.contains("Warning"), qPrintable(r.err));
    QCOMPARE(Stored("ou=refused,o=Sample"), before);
  }

  void warnsAboutPasswordsOthersCouldRead() {
    const QString open = dir_.filePath("open.pw");
    std::ofstream(open.toStdString(), std::ios::binary) << slapd_->adminPassword() << "\n";
    ::chmod(open.toLocal8Bit().constData(), 0644);
    Result r = RunAsAdmin({"copy", source_, Url(true), "--ca-file", CaFile()}, open);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.err.contains("can be read by other users"), qPrintable(r.err));
    // A password in plain text to an address that is not loopback (0.0.0.1 cannot be
    // connected to, so nothing leaves the machine).
    r = RunAsAdmin({"check", "ldap://0.0.0.1:389/cn=Orvelle%20Configuration,o=Sample"});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("is sent in plain text to ldap://0.0.0.1:389/"), qPrintable(r.err));
    r = RunAsAdmin(
        {"check", "ldap://0.0.0.1:389/cn=Orvelle%20Configuration,o=Sample", "--starttls"});
    QVERIFY2(!r.err.contains("plain text"), qPrintable(r.err));
  }
};

QTEST_GUILESS_MAIN(TestConfigToolTls)
#include "test_configtool_tls.moc"
