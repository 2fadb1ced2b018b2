// orvelle-config against a provider and its read-only copies: a copy to a copy fails,
// naming the provider, and writes nothing, unless --follow-referrals sends it on to the
// provider; a URL may list several servers, tried in order.
#include <QElapsedTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "tests/support/replicatedslapd.h"
#include "tools/config/tests/configtoolrun.h"

namespace fs = std::filesystem;
using configtooltest::Result;
using testsupport::ReplicatedSlapd;

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

}  // namespace

class ConfigToolReplicaTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString password_;

  Result RunAsAdmin(QStringList arguments) {
    arguments << "--bind-dn"
              << "cn=admin,o=Sample"
              << "--password-file" << password_;
    return configtooltest::Run(arguments);
  }

  // A configuration folder whose one form is named `form`.
  QString Folder(const QString& name, const QString& form) {
    const fs::path path = fs::path(dir_.path().toStdString()) / name.toStdString();
    fs::create_directories(path);
    std::ofstream(path / "RuleSet=People", std::ios::binary)
        << "RuleSet: People\nClass: Person : person\nBase: Root : ldap://dirhost:389/o=Sample\n"
           "SearchRule: Root : Person\n\nForm: "
        << form.toStdString() << "\nFormFieldGroup : Who : Person\nFormField: Name : cn, sn\n";
    return QString::fromStdString(path.string());
  }

 private slots:
  void initTestCase() {
    QVERIFY2(QFile::exists(configtooltest::kProgram), "build the orvelle-config target first");
    QVERIFY(dir_.isValid());
    password_ = dir_.filePath("admin.pw");
    std::ofstream(password_.toStdString(), std::ios::binary) << "secret\n";
    fs::permissions(password_.toStdString(), fs::perms::owner_read | fs::perms::owner_write);
  }

  void copyToAReadOnlyCopy_data() {
    QTest::addColumn<QString>("target");  // {copy} {provider} {dead}: ports
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("code");
    QTest::newRow("to the copy") << "{copy}" << false << 1;
    QTest::newRow("to the copy, following") << "{copy}" << true << 0;
    QTest::newRow("to a list, first down") << "{dead},127.0.0.1:{provider}" << false << 0;
    QTest::newRow("to a list, the copy first") << "{copy},127.0.0.1:{provider}" << false << 1;
  }
  void copyToAReadOnlyCopy() {
    ReplicatedSlapd& r = testsupport::SharedReplicas();
    QVERIFY2(r.ok(), r.error().c_str());
    QFETCH(QString, target);
    QFETCH(bool, follow);
    QFETCH(int, code);
    target.replace("{copy}", QString::number(r.copy().port()));
    target.replace("{provider}", QString::number(r.provider().port()));
    target.replace("{dead}", QString::number(r.deadPort()));
    const QString url = "ldap://127.0.0.1:" + target + "/cn=Orvelle%20Configuration,o=Sample";
    const QString provider = QString::fromStdString(ReplicatedSlapd::Url(r.provider(), kRoot));

    QVERIFY(RunAsAdmin({"copy", Folder("before", "Before"), provider}).code == 0);
    const Result before = RunAsAdmin({"version", provider});
    QCOMPARE(before.code, 0);
    QStringList arguments{"copy", Folder(QTest::currentDataTag(), "After"), url};
    if (follow) arguments << "--follow-referrals";
    const Result copied = RunAsAdmin(arguments);
    QVERIFY2(copied.code == code, qPrintable(copied.err));
    const QString back = dir_.filePath(QString(QTest::currentDataTag()) + "-back");
    QCOMPARE(RunAsAdmin({"copy", provider, back}).code, 0);
    const std::string stored = testsupport::ReadFile(back.toStdString() + "/RuleSet=People");
    if (code == 0) {
      QVERIFY(stored.find("Form: After") != std::string::npos);
      return;
    }
    // Refused: the provider is named, and nothing was written there.
    QVERIFY2(copied.err.contains("127.0.0.1:" + QString::number(r.provider().port())),
             qPrintable(copied.err));
    QCOMPARE(RunAsAdmin({"version", provider}).out, before.out);
    QVERIFY(stored.find("Form: Before") != std::string::npos);
  }

  // --wait-replicas returns once each replica serves the version just saved, which
  // `version` then prints there; a replica that cannot serve it within the limit fails
  // the copy, which stays saved.
  void copyWaitsForReplicas_data() {
    QTest::addColumn<bool>("reachable");
    QTest::newRow("both copies") << true;
    QTest::newRow("a replica that is not there") << false;
  }
  void copyWaitsForReplicas() {
    ReplicatedSlapd& r = testsupport::SharedReplicas();
    QVERIFY2(r.ok(), r.error().c_str());
    QFETCH(bool, reachable);
    const QString provider = QString::fromStdString(ReplicatedSlapd::Url(r.provider(), kRoot));
    const QString copy = QString::fromStdString(ReplicatedSlapd::Url(r.copy(), kRoot));
    const QString lost = QString::fromStdString(ReplicatedSlapd::Url(r.lostCopy(), kRoot));
    const QString dead = "ldap://127.0.0.1:" + QString::number(r.deadPort()) +
                         "/cn=Orvelle%20Configuration,o=Sample";
    QVERIFY(RunAsAdmin({"copy", Folder("wait-before", "Before"), provider}).code == 0);
    QStringList arguments{"copy", Folder(QString("wait-") + QTest::currentDataTag(), "Waited"),
                          provider, "--wait-replicas", copy};
    arguments << "--wait-replicas" << (reachable ? lost : dead) << "--wait-limit"
              << "3";
    QElapsedTimer timer;
    timer.start();
    const Result copied = RunAsAdmin(arguments);
    qInfo("%s: %lld ms", QTest::currentDataTag(), timer.elapsed());
    const QString saved = RunAsAdmin({"version", provider}).out;
    if (!reachable) {
      QCOMPARE(copied.code, 1);
      QVERIFY2(copied.err.contains(dead), qPrintable(copied.err));
      QVERIFY(timer.elapsed() < 10000);
      return;
    }
    QVERIFY2(copied.code == 0, qPrintable(copied.err));
    QCOMPARE(RunAsAdmin({"version", copy}).out, saved);
    QCOMPARE(RunAsAdmin({"version", lost}).out, saved);
  }

  void followGoesWithCopyOnly() {
    QCOMPARE(configtooltest::Run({"check", dir_.path(), "--follow-referrals"}).code, 2);
  }
};

QTEST_GUILESS_MAIN(ConfigToolReplicaTest)
#include "test_configtool_replicas.moc"
