// The version of a directory configuration against a real server: stable while nothing
// is written, different after any write, and naming the record a write touched.
#include <QtTest>

#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "store/directory/version.h"
#include "tests/support/directoryserver.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

std::string Token(ldapx::Connection& connection) {
  const directory::DirectoryState state = directory::ReadDirectoryState(connection, kRoot);
  if (state.code != ldapx::kSuccess || state.kind == 0) return "unread";
  return directory::DirectoryToken(state);
}

}  // namespace

class TestVersion : public QObject {
  Q_OBJECT

 private slots:
  void writesAreNamed_data() {
    using directory::FieldDn;
    using directory::FormDn;
    using directory::GroupDn;
    using directory::RuleSetDn;
    QTest::addColumn<int>("write");  // 0 replace, 1 add a rule, 2 delete
    QTest::addColumn<QString>("dn");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("attribute");  // the one a replace writes
    const std::string people = FormDn("People", kRoot);
    QTest::newRow("form attribute replaced")
        << 0 << QString::fromStdString(people) << "search form 'People' was changed"
        << "ovHelpString";
    QTest::newRow("field below a form replaced")
        << 0 << QString::fromStdString(FieldDn("Name", GroupDn("Who", people)))
        << "search form 'People' was changed"
        << "ovFiltAttrList";
    QTest::newRow("rule added to a rule set")
        << 1 << QString::fromStdString(RuleSetDn("Standard", kRoot))
        << "rule set 'Standard' was changed"
        << "";
    QTest::newRow("field removed")
        << 2 << QString::fromStdString(FieldDn("Email", GroupDn("A", people)))
        << "entries removed: 1"
        << "";
  }

  void writesAreNamed() {
    QFETCH(int, write);
    QFETCH(QString, dn);
    QFETCH(QString, named);
    QFETCH(QString, attribute);
    ORVELLE_SHARED_SERVER(server);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    Configuration c;
    sample::FillPeople(c);
    directory::Session session = testsupport::LogonAs(server.adminDn(), server.adminPassword());
    const std::string url = server.url() + "/cn=Orvelle%20Configuration,o=Sample";
    auto conn = server.Connect();
    QVERIFY(conn);
    const std::string empty = Token(*conn);  // no configuration yet: a version all the same
    QVERIFY(empty != "unread");
    QVERIFY2(testsupport::Shown(directory::SaveConfigurationToUrl(session, c, url)),
             sink.messages.empty() ? "" : sink.messages[0].text.c_str());
    const std::string saved = Token(*conn);
    QVERIFY(saved != empty);
    QVERIFY(saved.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                    "._-") == std::string::npos);
    QCOMPARE(Token(*conn), saved);

    int code = 0;
    if (write == 0) {
      code = conn->Replace(dn.toStdString(),
                           ldapx::ModList().Add(attribute.toStdString(), {"written"}));
    } else if (write == 1) {
      const SearchRule rule(nullptr, "Extra", {}, std::vector<std::string>{"person"});
      code =
          conn->Add(directory::RuleDn("Extra", dn.toStdString()), directory::RuleAttributes(rule));
    } else {
      code = conn->Delete(dn.toStdString());
    }
    QCOMPARE(code, ldapx::kSuccess);
    const directory::DirectoryState now = directory::ReadDirectoryState(*conn, kRoot);
    QVERIFY(directory::DirectoryToken(now) != saved);
    const auto changes = directory::DirectoryChangesSince(saved, now);
    QVERIFY(changes);
    const std::vector<std::string> lines = directory::DescribeChanges(*conn, kRoot, *changes);
    // Timestamps of whole seconds also show what the save wrote in the same second.
    if (now.kind == 'c')
      QCOMPARE(lines, std::vector<std::string>{named.toStdString()});
    else
      QVERIFY(std::find(lines.begin(), lines.end(), named.toStdString()) != lines.end());
    const std::string later = directory::DirectoryToken(now);
    QCOMPARE(Token(*conn), later);

    // A save of the same configuration writes it anew: another version.
    QVERIFY(testsupport::Shown(directory::SaveConfigurationToUrl(session, c, url)));
    QVERIFY(Token(*conn) != later);
    QVERIFY(sink.messages.empty());
  }
};

QTEST_GUILESS_MAIN(TestVersion)
#include "test_version.moc"
