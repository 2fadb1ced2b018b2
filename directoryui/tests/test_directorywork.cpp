// Directory work on a worker thread: the "Please Wait..." window repaints, shows progress
// and cancels while the work runs; messages and the logon dialog reach the screen from
// the worker thread. Against a real slapd and against stalling loopback servers.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <set>
#include <thread>

#include "directoryui/controlids.h"
#include "directoryui/directorywork.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "tests/support/directoryserver.h"
#include "tests/support/modaldriver.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/stallserver.h"
#include "widgets/messagebox.h"

using testsupport::DirectoryServer;
using testsupport::StallServer;

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

PleaseWaitDialog* FindWait() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<PleaseWaitDialog*>(w); d && d->isVisible()) return d;
  return nullptr;
}

// Watches the GUI thread while work runs: timer ticks, paints of the wait window, and
// the progress bar's values.
class GuiWatch : public QObject {
 public:
  GuiWatch() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      ++ticks;
      if (auto* d = FindWait()) {
        if (!watched.contains(d)) {
          d->installEventFilter(this);
          for (QWidget* child : d->findChildren<QWidget*>()) child->installEventFilter(this);
          watched.insert(d);
        }
        if (auto* bar = d->findChild<QProgressBar*>(ObjectName(kIdPleaseWaitProgress));
            bar && bar->maximum() > 0)
          values.insert(bar->value());
        if (onDialog) onDialog(d);
      }
    });
    timer.start(10);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
  QTimer timer;
  QSet<QObject*> watched;
  int ticks = 0;
  int paints = 0;
  std::set<int> values;
  std::function<void(PleaseWaitDialog*)> onDialog;
};

void PressCancel(PleaseWaitDialog* d) {
  if (auto* b = d->findChild<QPushButton*>(ObjectName(kIdCancel));
      b && b->isEnabled() && d->isVisible())
    QTest::mouseClick(b, Qt::LeftButton);
}

class FixedPrompt : public directory::CredentialsPrompt {
 public:
  int asked = 0;
  void Tell(const msg::Problems& problems) override { msg::Show(problems); }
  bool Ask(std::string& dn, std::string& pw) override {
    ++asked;
    dn = "cn=admin,o=Sample";
    pw = "secret";
    return asked == 1;  // the second time: the user cancels the logon
  }
};

// The DNs below and at the root, in the server's comparison form.
std::set<std::string> StoredDns(ldapx::Connection& c) {
  std::set<std::string> dns;
  for (const auto& e : c.Search(kRoot, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"}).entries) {
    std::string k = ldapx::NormalizeDn(e.dn).value_or(e.dn);
    std::transform(k.begin(), k.end(), k.begin(), ::tolower);
    dns.insert(k);
  }
  return dns;
}

std::set<std::string> PlannedDns(const Configuration& c) {
  std::set<std::string> dns;
  for (const auto& e : directory::PlanConfiguration(c, kRoot)) {
    std::string k = ldapx::NormalizeDn(e.dn).value_or(e.dn);
    std::transform(k.begin(), k.end(), k.begin(), ::tolower);
    dns.insert(k);
  }
  std::string root = *ldapx::NormalizeDn(kRoot);
  std::transform(root.begin(), root.end(), root.begin(), ::tolower);
  dns.insert(root);
  return dns;
}

}  // namespace

class TestDirectoryWork : public QObject {
  Q_OBJECT

 private slots:
  // The work reports how far it is from the worker thread; the window shows it while the
  // GUI thread keeps running its timers and painting.
  void progressShowsWhileWorkRuns() {
    GuiWatch watch;
    const int result = RunWithPleaseWait(
        nullptr, "Accessing directory...", "Writing...", [](directory::PleaseWait& wait) {
          for (long i = 0; i <= 10; ++i) {
            wait.SetProgress(i, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
          }
          return 7;
        });
    QCOMPARE(result, 7);
    QVERIFY2(watch.ticks >= 3, QByteArray::number(watch.ticks));
    QVERIFY(watch.paints >= 2);
    QVERIFY2(watch.values.size() >= 2, QByteArray::number(int(watch.values.size())));
    QVERIFY(!FindWait());  // closed again
  }

  // A message shown by the worker appears on the GUI thread; the worker gets the answer.
  void messagesFromTheWorkerThread() {
    WidgetMessageSink sink;
    msg::ScopedSink scoped(&sink);
    QString shownText;
    bool onGuiThread = false;
    testsupport::OnNextModalOf<QMessageBox>([&](QMessageBox* box) {
      shownText = box->text();
      onGuiThread = QThread::currentThread() == qApp->thread();
      box->button(QMessageBox::No)->click();
    });
    const msg::Answer answer = RunInWorker(nullptr, [](directory::PleaseWait&) {
      return msg::Show(62151, {}, msg::Buttons::YesNo, msg::Icon::Question);
    });
    QCOMPARE(answer, msg::Answer::No);
    QVERIFY(onGuiThread);
    QCOMPARE(shownText, QString::fromStdString(msg::Text(62151)));
  }

  // Start-up's logon to a server that takes the connection and sends half an answer:
  // the window stays drawn and the GUI thread runs, and Cancel ends the wait at once,
  // back to the logon dialog without a message.
  void cancelEndsLogonWaitOnStallingServer() {
    StallServer server(StallServer::Mode::HalfBind);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    c.session.directory.server.address = "127.0.0.1";
    c.session.directory.server.port = server.port();
    c.session.directory.subtreeDn = kRoot;
    FixedPrompt prompt;
    kvaro::Oidtable table;
    GuiWatch watch;
    QElapsedTimer clock;
    watch.onDialog = [&](PleaseWaitDialog* d) {
      if (clock.elapsed() > 300 && server.accepted() > 0) PressCancel(d);
    };
    clock.start();
    const auto result = RunInWorker(nullptr, [&](directory::PleaseWait& wait) {
      return directory::LoadFromDirectory(c.session.directory, c, table, prompt, {30, 30}, &wait);
    });
    QCOMPARE(result, directory::LoadResult::Cancelled);
    QCOMPARE(prompt.asked, 2);
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    QVERIFY(watch.ticks >= 5);
    QVERIFY(watch.paints >= 1);
    QVERIFY(sink.messages.empty());
    QVERIFY(!c.session.directory.connection);
  }

  // The program ends while a save's old copy is still being removed from a server that
  // stopped answering: the window shows, and Cancel ends the wait at once, silently (the
  // copy is left for a later save).
  void cancelEndsOldCopyRemovalAtExit() {
    StallServer server(StallServer::Mode::Silent);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    directory::OldCopyRemover remover([](const msg::Problems& p) { msg::Show(p); });
    directory::OldCopy copy;
    copy.dn = "cn=Orvelle Configuration.orvelle-old-20261208120000-0,o=Sample";
    copy.server.address = "127.0.0.1";
    copy.server.port = server.port();
    copy.timeouts = {30, 30};
    remover.Add(copy);
    GuiWatch watch;
    QElapsedTimer clock;
    watch.onDialog = [&](PleaseWaitDialog* d) {
      if (clock.elapsed() > 300 && server.accepted() > 0) PressCancel(d);
    };
    // As in the program: the application's event loop has ended.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    clock.start();
    FinishOldCopyRemoval(remover);
    QVERIFY(!remover.Busy());
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
    QVERIFY(watch.paints >= 1);
    QVERIFY(sink.messages.empty());
  }

  // Without Cancel, a server that stops answering ends the logon at the connect limit
  // with a message that says so, not one about the authentication details.
  void silentServerEndsLogonWithItsOwnMessage() {
    StallServer server(StallServer::Mode::Silent);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    c.session.directory.server.address = "127.0.0.1";
    c.session.directory.server.port = server.port();
    FixedPrompt prompt;
    kvaro::Oidtable table;
    QElapsedTimer clock;
    clock.start();
    const auto result = RunInWorker(nullptr, [&](directory::PleaseWait& wait) {
      return directory::LoadFromDirectory(c.session.directory, c, table, prompt, {1, 1}, &wait);
    });
    QCOMPARE(result, directory::LoadResult::Cancelled);
    QCOMPARE(sink.Ids(), std::vector<int>{62190});
    QVERIFY(sink.messages[0].text.find("127.0.0.1:" + std::to_string(server.port())) !=
            std::string::npos);
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
  }

  // A save of several hundred entries against slapd runs while the GUI thread goes on:
  // its timers tick and the window paints.
  void saveKeepsTheWindowAlive() {
    ORVELLE_SHARED_SERVER(server);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    c.session.startupMode = StartupMode::kDirectory;
    c.session.directory.subtreeDn = kRoot;
    c.session.directory.connection = server.Connect();
    QVERIFY(c.session.directory.connection);
    sample::FillLarge(c, 20, 20, 10);
    QVERIFY(testsupport::Shown(
        directory::WriteRootEntry(*c.session.directory.connection, c.session.directory.subtreeDn)));
    GuiWatch watch;
    const bool saved = RunInWorker(
        nullptr,
        [&c](directory::PleaseWait& wait) {
          return testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, &wait));
        },
        CancelBy::ByWork);
    QVERIFY(saved);
    QVERIFY(sink.messages.empty());
    QVERIFY2(watch.ticks >= 2, QByteArray::number(watch.ticks));
    QVERIFY(watch.paints >= 1);
    QCOMPARE(StoredDns(*c.session.directory.connection), PlannedDns(c));
  }

  // Cancel pressed as soon as a save shows its window: the save either stops and leaves
  // the stored configuration as it was, or (past its point of no return) ends with the
  // new one whole; never a mix of both.
  void cancelDuringSaveLeavesOneWholeConfiguration() {
    ORVELLE_SHARED_SERVER(server);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration old;
    old.session.startupMode = StartupMode::kDirectory;
    old.session.directory.subtreeDn = kRoot;
    old.session.directory.connection = server.Connect();
    sample::FillLarge(old, 3, 3, 3);
    QVERIFY(testsupport::Shown(directory::WriteRootEntry(*old.session.directory.connection,
                                                         old.session.directory.subtreeDn)));
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(old.session.directory, old, nullptr)));
    const std::set<std::string> before = StoredDns(*old.session.directory.connection);

    testsupport::KeptConfiguration next;
    next.session.startupMode = StartupMode::kDirectory;
    next.session.directory.subtreeDn = kRoot;
    next.session.directory.connection = old.session.directory.connection;
    sample::FillLarge(next, 30, 20, 10);
    GuiWatch watch;
    watch.onDialog = [](PleaseWaitDialog* d) { PressCancel(d); };
    const bool saved = RunInWorker(
        nullptr,
        [&next](directory::PleaseWait& wait) {
          return testsupport::Shown(
              directory::SaveConfiguration(next.session.directory, next, &wait));
        },
        CancelBy::ByWork);
    const std::set<std::string> after = StoredDns(*next.session.directory.connection);
    if (saved) {
      QCOMPARE(after, PlannedDns(next));
    } else {
      QCOMPARE(after, before);
    }
  }

  // Each way a logon fails says which case it is, after the program's own text: the
  // directory's reason with the server's diagnostic message where it sends one, the
  // system's reason for an unreachable server, and its own message for a server that
  // stopped answering or whose answer to the bind is no LDAP.
  void logonFailuresNameTheirReason() {
    ORVELLE_SHARED_SERVER(server);
    StallServer silent(StallServer::Mode::Silent);
    StallServer garbage(StallServer::Mode::GarbageBind);
    StallServer malformed(StallServer::Mode::MalformedBind);
    const int closedPort = testsupport::FreeLoopbackPort();
    struct Case {
      int port;
      std::string dn, password;
      int id;
      std::string reason;
    };
    const std::vector<Case> cases = {
        {server.port(), server.adminDn(), "wrong", 61276, "Reason: Invalid credentials"},
        {server.port(), "cn=nobody,o=Sample", "x", 61276, "Reason: Invalid credentials"},
        {server.port(), "no dn at all", "x", 61276,
         "Reason: Invalid DN syntax (the server says: invalid DN)"},
        {closedPort, "", "", 61277, "Reason: Can't contact LDAP server (Connection refused)"},
        {silent.port(), "", "", 62190, "stopped answering: nothing came back within 1 seconds"},
        {garbage.port(), "", "", 62215, "Reason: the server closed the connection instead"},
        {malformed.port(), "", "", 62215, "Reason: Decoding error"},
    };
    for (const Case& c : cases) {
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      const ldapx::Timeouts limits{1, 1};
      const directory::Logon logon =
          directory::OpenAndBind({"127.0.0.1", c.port, "none", {}, c.dn}, c.password, limits);
      QVERIFY(!logon.connection);
      if (auto why = directory::LogonFailure(logon.opened ? 61276 : 61277, logon, "127.0.0.1",
                                             c.port, limits))
        msg::Show(msg::Outcome(*why));
      QCOMPARE(sink.Ids(), std::vector<int>{c.id});
      QVERIFY2(sink.messages[0].text.find(c.reason) != std::string::npos,
               sink.messages[0].text.c_str());
    }
  }

  // A configuration that cannot be read says why: the directory's reason, or that the
  // server stopped answering in the middle of the read.
  void unreadableConfigurationNamesTheReason() {
    ORVELLE_SHARED_SERVER(server);
    StallServer dripping(StallServer::Mode::BindThenDrip, 300);
    kvaro::Oidtable table;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {server.url() + "/cn=None,o=Sample", "Reason: No such object"},
        {"ldap://127.0.0.1:" + std::to_string(dripping.port()) + "/cn=X,o=Sample",
         "Reason: the directory server stopped answering"},
    };
    for (const auto& [url, reason] : cases) {
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      testsupport::KeptConfiguration c;
      c.session.directory = testsupport::LogonAs(server.adminDn(), server.adminPassword());
      QVERIFY(!testsupport::Shown(
          directory::LoadConfigurationFromUrl(c.session.directory, c, table, url, {1, 1})));
      QCOMPARE(sink.Ids(), std::vector<int>{62121});
      QVERIFY2(sink.messages[0].text.find(reason) != std::string::npos,
               sink.messages[0].text.c_str());
    }
  }
};

QTEST_MAIN(TestDirectoryWork)
#include "test_directorywork.moc"
