// File Save through a server that holds a read-only copy: the program asks whether to
// save on the server that takes changes, and saves there only on Yes.
#include <QApplication>
#include <QtTest>

#include "app/directoryrun.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/store.h"
#include "tests/support/replicatedslapd.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/testoidtable.h"

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

// The names of the forms `server` holds.
std::vector<std::string> StoredForms(testsupport::SlapdFixture& server) {
  auto conn = server.Connect();
  if (!conn) return {"(no connection)"};
  Configuration c;
  c.oidtable = &testsupport::DirectoryOidtable();
  msg::Problems warnings;
  if (!directory::LoadSubtree(c, kRoot, testsupport::DirectoryOidtable(), *conn, warnings))
    return {};
  std::vector<std::string> names;
  for (const auto& form : c.searchForms) names.push_back(form->name);
  return names;
}

}  // namespace

class ReadOnlyCopyTest : public QObject {
  Q_OBJECT

 private slots:
  void saveThroughACopyAsks_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("loaded");  // an edit of what was loaded: a save of the changes
    QTest::newRow("Yes saves on the provider") << true << false;
    QTest::newRow("No saves nowhere") << false << false;
    QTest::newRow("changes, Yes") << true << true;
    QTest::newRow("changes, No") << false << true;
  }
  void saveThroughACopyAsks() {
    QFETCH(bool, yes);
    QFETCH(bool, loaded);
    testsupport::ReplicatedSlapd& r = testsupport::SharedReplicas();
    QVERIFY2(r.ok(), r.error().c_str());
    {
      testsupport::KeptConfiguration before;
      before.oidtable = &testsupport::DirectoryOidtable();
      sample::FillLarge(before, 2, 2, 2);
      directory::Session onProvider =
          testsupport::LogonAs(r.provider().adminDn(), r.provider().adminPassword());
      QVERIFY(directory::ConnectConfiguration(
                  onProvider, testsupport::ReplicatedSlapd::Url(r.provider(), kRoot))
                  .ok);
      QVERIFY(directory::SaveConfiguration(onProvider, before).ok);
      QVERIFY(r.WaitForCopies(10) >= 0);
    }
    const std::vector<std::string> stored = StoredForms(r.provider());

    msg::RecordingSink sink;
    sink.answer = yes ? msg::Answer::Yes : msg::Answer::No;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    config.oidtable = &testsupport::DirectoryOidtable();
    sample::FillPeople(config);
    config.session.startupMode = StartupMode::kDirectory;
    config.session.directory = testsupport::LogonAs(r.copy().adminDn(), r.copy().adminPassword());
    QVERIFY(directory::ConnectConfiguration(config.session.directory,
                                            testsupport::ReplicatedSlapd::Url(r.copy(), kRoot))
                .ok);
    if (loaded) {
      config.Clear();
      msg::Problems warnings;
      QVERIFY(directory::LoadSession(config.session.directory, config,
                                     testsupport::DirectoryOidtable(), warnings));
      QVERIFY(config.session.directory.loaded.known);
      QVERIFY(!config.searchForms.empty());
      config.searchForms[0]->toolTip = "changed on the copy's editor";
    }
    QCOMPARE(SaveInWorker(config.session, config, nullptr).kind == SaveStatus::kSaved, yes);
    QCOMPARE(sink.Ids(), std::vector<int>{msg::id::kSaveOnProvider});
    // The question names the copy and the provider.
    const std::string& question = sink.messages.front().text;
    QVERIFY(question.find(":" + std::to_string(r.copy().port())) != std::string::npos);
    QVERIFY(question.find(":" + std::to_string(r.provider().port())) != std::string::npos);
    QCOMPARE(config.session.directory.connection->port(),
             yes ? r.provider().port() : r.copy().port());
    if (!loaded) {
      QCOMPARE(StoredForms(r.provider()), yes ? std::vector<std::string>{"People"} : stored);
      return;
    }
    // Only the changed form was written, on the provider.
    QCOMPARE(StoredForms(r.provider()), stored);
    auto conn = r.provider().Connect();
    QVERIFY(conn);
    const auto tips = conn->Search(kRoot, ldapx::Scope::Subtree,
                                   "(ovToolTip=changed on the copy's editor)", {"1.1"});
    QCOMPARE(tips.entries.size(), size_t(yes ? 1 : 0));
  }
};

QTEST_MAIN(ReadOnlyCopyTest)
#include "test_readonlycopy.moc"
