// The wizard pages that talk to a directory server, against a throwaway slapd: the
// connection test, the credentials and their kept connection, the service information
// pages.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "directoryui/pleasewaitdialog.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/stallserver.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"
#include "wizard/tests/wizardtestutil.h"

using wiztest::Find;
using wiztest::Press;
using wiztest::SetText;
using Wizard = wiztest::ShownWizard;

namespace {

PleaseWaitDialog* VisibleWait() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<PleaseWaitDialog*>(w); d && d->isVisible()) return d;
  return nullptr;
}

// Counts the "Please Wait..." windows that appear while a check runs.
struct WaitWatcher : QObject {
  QStringList seen;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show) {
      if (auto* d = qobject_cast<PleaseWaitDialog*>(o)) seen << d->heading() + "|" + d->message();
    }
    return false;
  }
};

}  // namespace

class WizardServerTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<testsupport::SlapdFixture> slapd;
  QString host() const { return QString::fromStdString(slapd->host()); }
  QString port() const { return QString::number(slapd->port()); }

  // Walks from the location page to the credentials page in directory mode.
  void ToCredentials(Wizard& w) {
    SetupWizard& s = w.wizard;
    Press(s, kIdNext);
    QTest::mouseClick(Find<QWidget>(s, kIdDirectoryRadio), Qt::LeftButton);
    Press(s, kIdNext);
    SetText(s, kIdServerHostEdit, host());
    SetText(s, kIdServerPortEdit, port());
    // StartTLS is the default; the test CA signed the server's certificate.
    SetText(s, kIdCaFileEdit, QString::fromStdString(slapd->caFile()));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 3);
  }

  // On to the subtree page, logged on as the admin.
  void ToSubtree(Wizard& w) {
    SetupWizard& s = w.wizard;
    ToCredentials(w);
    SetText(s, kIdUserDnEdit, QString::fromStdString(slapd->adminDn()));
    SetText(s, kIdPasswordEdit, QString::fromStdString(slapd->adminPassword()));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 4);
    QVERIFY(s.directory.connection);
  }

  // Number of entries in the directory.
  size_t EntryCount() const {
    auto conn = slapd->Connect();
    if (!conn) return 0;
    return conn->Search(slapd->suffix(), ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"})
        .entries.size();
  }

 private slots:
  void initTestCase() {
    testsupport::SlapdFixture::Options options;
    options.tls = testsupport::SlapdFixture::Options::Tls::Trusted;
    // Parents for the subtree page: one holding a configuration, one holding an entry of
    // that name that is not one, and a free one.
    options.extraLdif =
        "dn: ou=Taken,o=Sample\nobjectClass: organizationalUnit\nou: Taken\n\n"
        "dn: cn=Orvelle Configuration,ou=Taken,o=Sample\nobjectClass: top\n"
        "objectClass: ovConfigurationRoot\ncn: Orvelle Configuration\n\n"
        "dn: ou=Plain,o=Sample\nobjectClass: organizationalUnit\nou: Plain\n\n"
        "dn: cn=Orvelle Configuration,ou=Plain,o=Sample\nobjectClass: organizationalRole\n"
        "cn: Orvelle Configuration\n\n"
        "dn: ou=Free,o=Sample\nobjectClass: organizationalUnit\nou: Free\n";
    slapd = std::make_unique<testsupport::SlapdFixture>(options);
    QVERIFY2(slapd->ok(), slapd->error().c_str());
  }
  void cleanupTestCase() { slapd.reset(); }

  void hostPageTestsTheConnection() {
    Wizard w;
    SetupWizard& s = w.wizard;
    WaitWatcher watcher;
    qApp->installEventFilter(&watcher);
    ToCredentials(w);
    qApp->removeEventFilter(&watcher);
    QVERIFY(w.recorder.messages.empty());
    QCOMPARE(s.directory.server.address, slapd->host());
    QCOMPARE(s.directory.server.port, slapd->port());
    // The check was shown with the wait window, which is gone again.
    QCOMPARE(watcher.seen,
             QStringList{QStringLiteral("Accessing directory...|Please wait while the given host "
                                        "address and port number is verified...")});
    QVERIFY(!VisibleWait());
    // Back shows the stored values.
    Press(s, kIdBack);
    QCOMPARE(Find<QLineEdit>(s, kIdServerHostEdit)->text(), host());
    QCOMPARE(Find<QLineEdit>(s, kIdServerPortEdit)->text(), port());
  }

  // The host page's security choice: the check uses it, names a refused certificate, and
  // the choice is kept for the session and the settings.
  void hostPageSecurityChoice_data() {
    QTest::addColumn<int>("choice");  // None, StartTLS, LDAPS
    QTest::addColumn<bool>("withCaFile");
    QTest::addColumn<int>("refusal");  // 0: accepted
    QTest::newRow("LDAPS") << 2 << true << 0;
    QTest::newRow("none") << 0 << false << 0;
    QTest::newRow("StartTLS, CA not trusted") << 1 << false << 62201;
  }

  void hostPageSecurityChoice() {
    QFETCH(int, choice);
    QFETCH(bool, withCaFile);
    QFETCH(int, refusal);
    Wizard w;
    SetupWizard& s = w.wizard;
    Press(s, kIdNext);
    QTest::mouseClick(Find<QWidget>(s, kIdDirectoryRadio), Qt::LeftButton);
    Press(s, kIdNext);
    auto* security = Find<QComboBox>(s, kIdSecurityCombo);
    QCOMPARE(security->currentIndex(), 1);  // StartTLS unless chosen otherwise
    SetText(s, kIdServerHostEdit, host());
    security->setCurrentIndex(choice);
    if (choice == 2) {  // the default port follows LDAPS
      QCOMPARE(Find<QLineEdit>(s, kIdServerPortEdit)->text(), QStringLiteral("636"));
      SetText(s, kIdServerPortEdit, QString::number(slapd->ldapsPort()));
    } else {
      SetText(s, kIdServerPortEdit, port());
    }
    if (withCaFile) SetText(s, kIdCaFileEdit, QString::fromStdString(slapd->caFile()));
    Press(s, kIdNext);
    if (refusal) {
      QCOMPARE(s.currentIndex(), 2);
      QCOMPARE(w.recorder.messages.size(), size_t(1));
      QVERIFY(w.recorder.messages[0].text.find(msg::Text(refusal)) != std::string::npos);
      return;
    }
    QCOMPARE(s.currentIndex(), 3);
    QVERIFY(w.recorder.messages.empty());
    QCOMPARE(static_cast<int>(s.directory.server.Tls().security), choice);
    SetText(s, kIdUserDnEdit, QString::fromStdString(slapd->adminDn()));
    SetText(s, kIdPasswordEdit, QString::fromStdString(slapd->adminPassword()));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 4);
    QVERIFY(s.directory.connection);
    QCOMPARE(s.directory.connection->encrypted(), choice != 0);
  }

  // The host page takes several servers, each with its port or the one below, and its
  // check goes to the first that answers; a list it cannot read is refused by name.
  void hostPageTakesAListOfServers_data() {
    QTest::addColumn<QString>("hosts");  // {dead}: a port where nothing listens
    QTest::addColumn<int>("refusal");    // 0: accepted
    QTest::newRow("first down") << "127.0.0.1:{dead} {host}" << 0;
    QTest::newRow("a port that is no port") << "127.0.0.1:99999 {host}" << 62304;
  }
  void hostPageTakesAListOfServers() {
    QFETCH(QString, hosts);
    QFETCH(int, refusal);
    hosts.replace("{dead}", QString::number(testsupport::FreeLoopbackPort()));
    hosts.replace("{host}", host());
    Wizard w;
    SetupWizard& s = w.wizard;
    Press(s, kIdNext);
    QTest::mouseClick(Find<QWidget>(s, kIdDirectoryRadio), Qt::LeftButton);
    Press(s, kIdNext);
    Find<QComboBox>(s, kIdSecurityCombo)->setCurrentIndex(0);
    SetText(s, kIdServerHostEdit, hosts);
    SetText(s, kIdServerPortEdit, port());
    Press(s, kIdNext);
    if (refusal) {
      QCOMPARE(s.currentIndex(), 2);
      QCOMPARE(w.recorder.messages.size(), size_t(1));
      QCOMPARE(w.recorder.messages[0].id, refusal);
      return;
    }
    QVERIFY(w.recorder.messages.empty());
    QCOMPARE(s.currentIndex(), 3);
    QCOMPARE(QString::fromStdString(s.directory.server.address), hosts);
  }

  void bindKeepsTheConnection() {
    Wizard w;
    SetupWizard& s = w.wizard;
    ToCredentials(w);
    SetText(s, kIdUserDnEdit, QString::fromStdString(slapd->adminDn()));
    SetText(s, kIdPasswordEdit, QStringLiteral("wrong"));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 3);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61276});
    // The message names the server's reason after the program's own text.
    QVERIFY(w.recorder.messages[0].text.rfind(msg::Text(61276), 0) == 0);
    QVERIFY(w.recorder.messages[0].text.find("Reason: Invalid credentials") != std::string::npos);
    QVERIFY(!s.directory.connection);
    QVERIFY(s.directory.server.bindDn.empty());

    w.recorder.messages.clear();
    SetText(s, kIdUserDnEdit,
            QStringLiteral("  ") + QString::fromStdString(slapd->adminDn()) + QStringLiteral(" "));
    SetText(s, kIdPasswordEdit, QString::fromStdString(slapd->adminPassword()));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 4);
    QVERIFY(w.recorder.messages.empty());
    QCOMPARE(s.directory.server.bindDn, slapd->adminDn());
    QCOMPARE(s.directory.password, slapd->adminPassword());
    QVERIFY(s.directory.connection);
    // The kept connection is bound with write permission: it can add an entry.
    ldapx::ModList mods;
    mods.Add("objectClass", {"organizationalUnit"});
    QCOMPARE(s.directory.connection->Add("ou=wizardprobe,o=Sample", mods), ldapx::kSuccess);
    QCOMPARE(s.directory.connection->Delete("ou=wizardprobe,o=Sample"), ldapx::kSuccess);

    // A second successful check replaces the connection and closes the first.
    std::weak_ptr<ldapx::Connection> first = s.directory.connection;
    Press(s, kIdBack);
    QCOMPARE(Find<QLineEdit>(s, kIdUserDnEdit)->text(), QString::fromStdString(slapd->adminDn()));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 4);
    QVERIFY(s.directory.connection);
    QVERIFY(first.expired());
  }

  void blankBindDnBindsAnonymously() {
    Wizard w;
    SetupWizard& s = w.wizard;
    ToCredentials(w);
    SetText(s, kIdUserDnEdit, QStringLiteral("    "));
    SetText(s, kIdPasswordEdit, QString());
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 4);
    QVERIFY(w.recorder.messages.empty());
    QCOMPARE(s.directory.server.bindDn, std::string());
    QVERIFY(s.directory.connection);
  }

  void credentialsFollowANewHost() {
    Wizard w;
    SetupWizard& s = w.wizard;
    ToCredentials(w);
    Press(s, kIdBack);
    SetText(s, kIdServerHostEdit, QStringLiteral("localhost"));
    // libldap checks a certificate for "localhost" against the machine's own name, which
    // the test certificate does not carry.
    Find<QComboBox>(s, kIdSecurityCombo)->setCurrentIndex(0);
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 3);
    QCOMPARE(s.directory.server.address, std::string("localhost"));
    // The server goes away: the bind now fails because it uses the stored host and port.
    s.directory.server.port = testsupport::FreeLoopbackPort();
    SetText(s, kIdUserDnEdit, QString::fromStdString(slapd->adminDn()));
    SetText(s, kIdPasswordEdit, QString::fromStdString(slapd->adminPassword()));
    Press(s, kIdNext);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61276});
    QCOMPARE(s.currentIndex(), 3);
  }

  // The subtree page asks the server over the logged-on connection: the parent must be
  // there, and the root entry below it either missing or a configuration the
  // administrator agrees to replace. A refusal keeps the page, the DN as typed and the
  // focus in it, and changes nothing in the directory.
  void subtreePageChecksTheDirectory_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<int>("answer");  // to the question whether to replace
    QTest::addColumn<std::vector<int>>("messages");
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("replace");
    const int yes = int(msg::Answer::Yes), no = int(msg::Answer::No);
    QTest::newRow("parent missing")
        << "ou=Nowhere,o=Sample" << yes << std::vector<int>{62227} << 4 << false;
    QTest::newRow("configuration there, No")
        << "ou=Taken,o=Sample" << no << std::vector<int>{62228} << 4 << false;
    QTest::newRow("configuration there, Yes")
        << "ou=Taken,o=Sample" << yes << std::vector<int>{62228} << 5 << true;
    QTest::newRow("another entry there")
        << "ou=Plain,o=Sample" << yes << std::vector<int>{62229} << 4 << false;
    QTest::newRow("free") << "ou=Free,o=Sample" << no << std::vector<int>{} << 5 << false;
  }

  void subtreePageChecksTheDirectory() {
    QFETCH(QString, parent);
    QFETCH(int, answer);
    QFETCH(std::vector<int>, messages);
    QFETCH(int, page);
    QFETCH(bool, replace);
    Wizard w;
    SetupWizard& s = w.wizard;
    ToSubtree(w);
    const auto before = EntryCount();
    w.recorder.answer = msg::Answer(answer);
    SetText(s, kIdParentDnEdit, parent);
    Press(s, kIdNext);
    QCOMPARE(w.recorder.Ids(), messages);
    QCOMPARE(s.currentIndex(), page);
    QCOMPARE(s.replaceConfiguration, replace);
    if (!messages.empty()) {
      // The message names the DN at fault.
      const std::string named = messages[0] == 62227
                                    ? parent.toStdString()
                                    : "cn=Orvelle Configuration, " + parent.toStdString();
      QVERIFY2(w.recorder.messages[0].text.find(named) != std::string::npos,
               w.recorder.messages[0].text.c_str());
    }
    if (messages == std::vector<int>{62228}) {
      QCOMPARE(w.recorder.messages[0].buttons, msg::Buttons::YesNo);
      QCOMPARE(w.recorder.messages[0].icon, msg::Icon::Question);
    }
    if (page == 4) {
      QCOMPARE(Find<QLineEdit>(s, kIdParentDnEdit)->text(), parent);
      QCOMPARE(s.focusWidget(), Find<QLineEdit>(s, kIdParentDnEdit));
      QVERIFY(s.directory.subtreeDn.empty());
    } else {
      QCOMPARE(s.directory.subtreeDn, "cn=Orvelle Configuration, " + parent.toStdString());
    }
    QCOMPARE(EntryCount(), before);
  }

  // A server that went away fails the check with its reason and keeps the page; once it
  // is back, the page logs on again by itself and goes on.
  void subtreePageAfterServerRestart() {
    Wizard w;
    SetupWizard& s = w.wizard;
    ToSubtree(w);
    std::weak_ptr<ldapx::Connection> first = s.directory.connection;
    // Writes to the killed server fail as errors: a SIGPIPE would end the test through
    // the test framework's crash handler.
    slapd->Kill();
    SetText(s, kIdParentDnEdit, QStringLiteral("ou=Free,o=Sample"));
    Press(s, kIdNext);
    const bool restarted = slapd->Restart();
    QVERIFY(restarted);
    QCOMPARE(s.currentIndex(), 4);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{62230});
    QVERIFY(w.recorder.messages[0].text.find("Reason: ") != std::string::npos);
    QCOMPARE(Find<QLineEdit>(s, kIdParentDnEdit)->text(), QStringLiteral("ou=Free,o=Sample"));
    w.recorder.messages.clear();
    Press(s, kIdNext);
    QVERIFY(w.recorder.messages.empty());
    QCOMPARE(s.currentIndex(), 5);
    QVERIFY(s.directory.connection);
    QVERIFY(first.expired());
  }

  // The check against a server that takes the logon and then never answers: it ends
  // within the operation limit with the message that says so, or at once on Cancel
  // without one; either way the page stays with the DN as typed.
  void subtreeCheckOnStalledServer_data() {
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<std::vector<int>>("messages");
    QTest::newRow("time limit") << false << std::vector<int>{62190};
    QTest::newRow("cancelled") << true << std::vector<int>{};
  }
  void subtreeCheckOnStalledServer() {
    QFETCH(bool, cancel);
    QFETCH(std::vector<int>, messages);
    testsupport::StallServer deaf(testsupport::StallServer::Mode::BindThenDeaf);
    Wizard w;
    SetupWizard& s = w.wizard;
    s.startupMode = StartupMode::kDirectory;
    s.directory.server.address = "127.0.0.1";
    s.directory.server.port = deaf.port();
    s.directory.server.security = "none";
    s.timeouts = cancel ? ldapx::Timeouts{30, 30} : ldapx::Timeouts{2, 1};
    s.ShowPage(4);
    SetText(s, kIdParentDnEdit, QStringLiteral("ou=Free,o=Sample"));
    QTimer timer;
    QElapsedTimer clock;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (PleaseWaitDialog* d = VisibleWait(); cancel && d && clock.elapsed() > 300)
        if (auto* b = d->findChild<QPushButton*>(ObjectName(kIdCancel)); b && b->isEnabled())
          QTest::mouseClick(b, Qt::LeftButton);
    });
    timer.start(10);
    clock.start();
    Press(s, kIdNext);
    timer.stop();
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    QCOMPARE(w.recorder.Ids(), messages);
    QCOMPARE(s.currentIndex(), 4);
    QCOMPARE(Find<QLineEdit>(s, kIdParentDnEdit)->text(), QStringLiteral("ou=Free,o=Sample"));
    QVERIFY(s.directory.subtreeDn.empty());
    QVERIFY(!VisibleWait());
  }

  void informationPagesBackAndNext() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    wiztest::CheckServices(s, {0, 1, 2});
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 6);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(),
             QStringLiteral("Local Directory Service"));
    SetText(s, kIdServerHostEdit, QStringLiteral(" ") + host() + QStringLiteral("\t"));
    SetText(s, kIdServerPortEdit, port());
    // A bad base DN keeps the page, but host and port are already stored.
    SetText(s, kIdServiceBaseEdit, QStringLiteral("nope=1"));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 6);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61278});
    SelectedService& local = *(*s.selectedServices)[0];
    QCOMPARE(local.host, slapd->host());
    QCOMPARE(local.port, slapd->port());
    QVERIFY(local.baseDn.empty());
    SetText(s, kIdServiceBaseEdit, QStringLiteral(" o=Sample "));
    Press(s, kIdNext);
    QCOMPARE(local.baseDn, std::string("o=Sample"));
    QCOMPARE(s.currentIndex(), 6);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(), QStringLiteral("NameFlow Directory"));
    QVERIFY(!Find<QLineEdit>(s, kIdServiceBaseEdit)->isEnabled());

    // Back shows the first service again with its stored values; Next returns.
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 6);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(),
             QStringLiteral("Local Directory Service"));
    QCOMPARE(Find<QLineEdit>(s, kIdServerHostEdit)->text(), host());
    QCOMPARE(Find<QLineEdit>(s, kIdServiceBaseEdit)->text(), QStringLiteral("o=Sample"));
    Press(s, kIdNext);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(), QStringLiteral("NameFlow Directory"));
    SetText(s, kIdServerHostEdit, host());
    SetText(s, kIdServerPortEdit, port());
    Press(s, kIdNext);
    // BigFoot needs nothing: the summary follows.
    QCOMPARE(s.currentIndex(), 7);
    QCOMPARE((*s.selectedServices)[1]->port, slapd->port());
    // Back from the summary goes to the services page; forward again starts with the
    // first service that needs information.
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 5);
    wiztest::CheckServices(s, {1, 2});
    Press(s, kIdNext);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(), QStringLiteral("NameFlow Directory"));
    QCOMPARE(Find<QLineEdit>(s, kIdServerHostEdit)->text(), QString());
    QVERIFY(w.recorder.Ids() == std::vector<int>{61278});
  }

  // The host page's check against a server that accepts and never answers: the wizard
  // keeps running its event loop, and Cancel on the wait window ends the check at once,
  // staying on the page without a message.
  void hostCheckOnSilentServerCanBeCancelled() {
    testsupport::StallServer silent(testsupport::StallServer::Mode::Silent);
    Wizard w;
    SetupWizard& s = w.wizard;
    s.timeouts = {30, 30};
    Press(s, kIdNext);
    QTest::mouseClick(Find<QWidget>(s, kIdDirectoryRadio), Qt::LeftButton);
    Press(s, kIdNext);
    SetText(s, kIdServerHostEdit, QStringLiteral("127.0.0.1"));
    SetText(s, kIdServerPortEdit, QString::number(silent.port()));
    int ticks = 0;
    QTimer timer;
    QElapsedTimer clock;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      ++ticks;
      if (PleaseWaitDialog* d = VisibleWait(); d && clock.elapsed() > 300)
        if (auto* b = d->findChild<QPushButton*>(ObjectName(kIdCancel)); b && b->isEnabled())
          QTest::mouseClick(b, Qt::LeftButton);
    });
    timer.start(10);
    clock.start();
    Press(s, kIdNext);
    timer.stop();
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    QVERIFY(ticks >= 5);
    QCOMPARE(s.currentIndex(), 2);
    QVERIFY(w.recorder.messages.empty());
    QVERIFY(!VisibleWait());
  }
};

QTEST_MAIN(WizardServerTest)
#include "test_wizardserver.moc"
