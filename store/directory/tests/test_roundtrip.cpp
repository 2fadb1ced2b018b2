// Local files -> directory -> local files gives back the same bytes, against a real server,
// also with names the DNs must escape and names outside ASCII, and with large
// configurations whose sibling order must survive the pipelined save.
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"
#include "store/directory/subtreedelete.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "tests/support/directoryserver.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/testfiles.h"
#include "tests/support/workedexample.h"

using testsupport::DirectoryServer;
using testsupport::SlapdFixture;
using testsupport::WriteFile;

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable table;
  static const bool loaded =
      ldapx::LoadOidtable(table, std::string(ORVELLE_SOURCE_DIR) + "/resources/oidtable32");
  Q_UNUSED(loaded);
  return table;
}

// Every file of a folder with its bytes (QCOMPARE prints both sides on a mismatch).
using FileMap = std::map<std::string, std::string>;
FileMap Files(const std::string& dir) { return testsupport::Snapshot(dir); }

QString AsText(const FileMap& files) {
  std::string out;
  for (const auto& [name, text] : files) out += "== " + name + "\n" + text;
  return QString::fromStdString(out);
}

// The text in dir1 read by the program, saved to the directory, loaded back and saved
// as files in dir2. Returns the messages shown on the way (none expected).
std::vector<int> ThroughDirectory(DirectoryServer& server, const std::string& dir1,
                                  const std::string& dir2) {
  msg::RecordingSink sink;
  msg::ScopedSink scoped(&sink);
  testsupport::KeptConfiguration fromFiles;
  fromFiles.session.configurationDirectory = dir1;
  if (!LoadFromFiles(fromFiles, fromFiles.session.configurationDirectory, Table())) return {-1};
  fromFiles.session.startupMode = StartupMode::kDirectory;
  fromFiles.session.directory.subtreeDn = kRoot;
  fromFiles.session.directory.connection = server.Connect();
  if (!fromFiles.session.directory.connection) return {-2};
  if (!testsupport::Shown(
          directory::SaveConfiguration(fromFiles.session.directory, fromFiles, nullptr)))
    return sink.Ids();

  testsupport::KeptConfiguration back;
  back.session.directory.subtreeDn = kRoot;
  if (!directory::LoadSubtree(back, back.session.directory.subtreeDn, Table(),
                              *fromFiles.session.directory.connection,
                              testsupport::ShowAfter().Into()))
    return {-3};
  back.session.configurationDirectory = dir2;
  if (!SaveToFiles(back, back.session.configurationDirectory)) return {-4};
  return sink.Ids();
}

}  // namespace

class TestRoundTrip : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(Table().str2oc("organizationalUnit"));
    QVERIFY(Table().str2at("ovFiltAttrList"));
  }

  void init() {
    server_ = &testsupport::SharedServer();
    ORVELLE_REQUIRE_SERVER(*server_);
    QVERIFY(server_->Reset());
    auto admin = server_->Connect();
    QVERIFY(admin);
    QCOMPARE(admin->Add(kRoot, directory::RootAttributes()), ldapx::kSuccess);
    dir1Holder_ = std::make_unique<QTemporaryDir>();
    dir2Holder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir1Holder_->isValid() && dir2Holder_->isValid());
  }
  void cleanup() {
    dir1Holder_.reset();
    dir2Holder_.reset();
  }

  // The worked example of the text format, as the program first writes it.
  void workedExample() {
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = dir1_.path().toStdString();
    TemplateReader(c, Table()).ReadText(testsupport::kWorkedExample);
    QCOMPARE(c.ruleSets.size(), size_t(1));
    QCOMPARE(c.ruleSets[0]->rules.size(), size_t(3));
    QCOMPARE(c.searchForms.size(), size_t(1));
    QVERIFY(SaveToFiles(c, c.session.configurationDirectory));

    QCOMPARE(
        ThroughDirectory(*server_, c.session.configurationDirectory, dir2_.path().toStdString()),
        std::vector<int>{});
    const auto first = Files(c.session.configurationDirectory);
    QCOMPARE(first.size(), size_t(1));
    QVERIFY(first.count("RuleSet=People"));
    QCOMPARE(AsText(Files(dir2_.path().toStdString())), AsText(first));
  }

  // Names with commas, equals signs, plus signs, quotes, leading '#', trailing blanks
  // inside, and letters outside ASCII: every one becomes a DN value that must be
  // escaped, and must come back exactly.
  void awkwardNames() {
    const std::string d1 = dir1_.path().toStdString();
    WriteFile(d1 + "/RuleSet=Smith, Jones = Partners",
              "RuleSet: Smith, Jones = Partners\n"
              "Base: #Root=1 : ldap://dirhost:389/o=Smith\\2C Jones\n"
              "Class: Person+Staff=\"x\" : person\n"
              "Class: Größe ; Ünit : organizationalUnit\n"
              "SearchRule: #Root=1 : Person+Staff=\"x\", Größe ; Ünit\n"
              "SearchRule: Größe ; Ünit : Person+Staff=\"x\"\n"
              "\n"
              "Form: Find a, b = c <d>\n"
              "FormTipString: Tip, with = signs; and ÄÖÜ\n"
              "FormHelpString: Hilfe: Straße\n"
              "FormFieldGroup : Gruppe=1, Ä : Person+Staff=\"x\"\n"
              "FormField: Name, Vorname : cn, sn\n"
              "FormField: \\Back slash : mail\n"
              "FormFieldGroup : Ørsted #2 : Größe ; Ünit\n"
              "FormField: Abteilung = ou : ou\n");
    WriteFile(d1 + "/RuleSet=Zürich Büro",
              "RuleSet: Zürich Büro\n"
              "Class: Person : person, inetOrgPerson\n"
              "\n"
              "Form: Zürich, Personen\n"
              "FormFieldGroup : Leute : Person\n"
              "FormField: Name : cn\n"
              "\n"
              "Form: Also Zürich\n"
              "FormFieldGroup : Leute : Person\n"
              "FormField: Mail : mail\n");
    // Rewrite the hand-made files the way the program writes them.
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = d1;
    QVERIFY(LoadFromFiles(c, c.session.configurationDirectory, Table()));
    QCOMPARE(c.ruleSets.size(), size_t(2));
    QCOMPARE(c.searchForms.size(), size_t(3));
    QCOMPARE(TextFormatProblem(c), std::string());
    QVERIFY(SaveToFiles(c, c.session.configurationDirectory));
    const auto first = Files(d1);
    QCOMPARE(first.size(), size_t(2));
    QVERIFY(first.at("RuleSet=Smith, Jones = Partners").find("Ørsted #2") != std::string::npos);

    QCOMPARE(ThroughDirectory(*server_, d1, dir2_.path().toStdString()), std::vector<int>{});
    QCOMPARE(AsText(Files(dir2_.path().toStdString())), AsText(first));
  }

  // Many rule sets, rules and forms: the pipelined save must keep every sibling order
  // (rule sets, rules within a set, forms), which the load reads back from the server.
  void siblingOrderSurvivesLargeSave() {
    const std::string d1 = dir1_.path().toStdString();
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = d1;
    std::string text;
    for (int s = 0; s < 40; ++s) {
      // Names of decreasing length and reverse alphabetical order, so neither the
      // server's name order nor its length order gives the list order by accident.
      const std::string set = std::string(40 - s, 'z') + " set " + std::to_string(s);
      text = "RuleSet: " + set + "\n";
      for (int r = 0; r < 12; ++r)
        text += "Class: " + std::string(12 - r, 'y') + " rule " + std::to_string(r) + " : person\n";
      text += "\n";
      for (int f = 0; f < 3; ++f) {
        text += "Form: " + std::string(10 - f, 'x') + " form " + std::to_string(s) + "." +
                std::to_string(f) + "\n";
        text += "FormFieldGroup : Target : " + std::string(12, 'y') + " rule 0\n";
        text += "FormField: Name : cn\nFormField: Mail : mail\n";
      }
      TemplateReader(c, Table()).ReadText(text);
    }
    QCOMPARE(c.ruleSets.size(), size_t(40));
    QCOMPARE(c.searchForms.size(), size_t(120));
    QVERIFY(SaveToFiles(c, c.session.configurationDirectory));
    const auto first = Files(d1);

    QCOMPARE(ThroughDirectory(*server_, d1, dir2_.path().toStdString()), std::vector<int>{});
    QCOMPARE(AsText(Files(dir2_.path().toStdString())), AsText(first));

    // The load sees rule sets, rules and forms in the order they were saved (the order
    // the local files gave them).
    testsupport::KeptConfiguration saved;
    saved.session.configurationDirectory = d1;
    QVERIFY(LoadFromFiles(saved, saved.session.configurationDirectory, Table()));
    testsupport::KeptConfiguration back;
    back.session.directory.subtreeDn = kRoot;
    auto conn = server_->Connect();
    QVERIFY(directory::LoadSubtree(back, back.session.directory.subtreeDn, Table(), *conn,
                                   testsupport::ShowAfter().Into()));
    QCOMPARE(back.ruleSets.size(), saved.ruleSets.size());
    QCOMPARE(back.searchForms.size(), saved.searchForms.size());
    for (size_t i = 0; i < saved.ruleSets.size(); ++i) {
      QCOMPARE(back.ruleSets[i]->name, saved.ruleSets[i]->name);
      QCOMPARE(back.ruleSets[i]->rules.size(), size_t(12));
      for (size_t r = 0; r < saved.ruleSets[i]->rules.size(); ++r)
        QCOMPARE(back.ruleSets[i]->rules[r]->name, saved.ruleSets[i]->rules[r]->name);
    }
    for (size_t i = 0; i < saved.searchForms.size(); ++i)
      QCOMPARE(back.searchForms[i]->name, saved.searchForms[i]->name);
  }

  // 5,021 entries (2 rule sets of 2,506 rules, 2 forms with a group and a field: more
  // siblings than one search may return, so reading level by level cannot help) saved,
  // loaded back identical by the administrator and by a reader
  // the server gives at most 2,000 entries per search (the load reads page by page), and
  // saved again over themselves. The reader's plain search is cut by the server and
  // comes back as an error, never as part of the subtree.
  void largeConfigurationForLimitedReader() {
    const std::string d1 = dir1_.path().toStdString();
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = d1;
    for (int s = 0; s < 2; ++s) {
      std::string text = "RuleSet: Set " + std::to_string(s) + "\n";
      for (int r = 0; r < 2506; ++r) text += "Class: Rule " + std::to_string(r) + " : person\n";
      text += "\nForm: Form " + std::to_string(s) + "\nFormFieldGroup : Target : Rule 0\n";
      TemplateReader(c, Table()).ReadText(text + "FormField: Name : cn\n");
    }
    QVERIFY(SaveToFiles(c, c.session.configurationDirectory));
    const auto first = Files(d1);
    QCOMPARE(ThroughDirectory(*server_, d1, dir2_.path().toStdString()), std::vector<int>{});
    QCOMPARE(AsText(Files(dir2_.path().toStdString())), AsText(first));
    auto admin = server_->Connect();
    QVERIFY(admin);
    const auto count = [&] {
      return admin->Search(kRoot, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"}).entries.size();
    };
    QCOMPARE(count(), size_t(5021));

    auto reader = server_->ConnectAs(server_->readerDn(), server_->readerPassword());
    QVERIFY(reader);
    const ldapx::SearchResult cut =
        reader->Search(kRoot, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"});
    QCOMPARE(cut.code, 4);  // sizeLimitExceeded
    QVERIFY(cut.entries.empty());
    const ldapx::SearchResult bigPages =
        reader->SearchPaged(kRoot, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"}, false, 5000);
    // Pages above the limit: the server shrinks them (slapd) or refuses (389 DS); either
    // way the answer is whole or an error.
    if (bigPages.code == ldapx::kSuccess)
      QCOMPARE(bigPages.entries.size(), size_t(5021));
    else
      QVERIFY(bigPages.entries.empty());

    testsupport::KeptConfiguration back;
    back.session.directory.subtreeDn = kRoot;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(directory::LoadSubtree(back, back.session.directory.subtreeDn, Table(), *reader,
                                   testsupport::ShowAfter().Into()));
    QVERIFY(sink.messages.empty());
    QTemporaryDir dir3;
    back.session.configurationDirectory = dir3.path().toStdString();
    QVERIFY(SaveToFiles(back, back.session.configurationDirectory));
    QCOMPARE(AsText(Files(dir3.path().toStdString())), AsText(first));

    back.session.startupMode = StartupMode::kDirectory;
    back.session.directory.connection = std::move(admin);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(back.session.directory, back, nullptr)));
    QVERIFY(sink.messages.empty());
    admin = server_->Connect();
    QCOMPARE(count(), size_t(5021));
  }

  // A refused delete deep in a long run of siblings, with many deletes in flight: the
  // directory ends as a one-at-a-time delete that stops at the refusal leaves it, with
  // every remaining entry's attributes as they were, and one message.
  void refusedDeleteAmongManySiblings() {
    QVERIFY(server_->RefuseDelete("cn=Rule 20,cn=Set 3,cn=Orvelle Configuration,o=Sample"));
    auto admin = server_->Connect();
    QVERIFY(admin);
    testsupport::KeptConfiguration c;
    c.session.startupMode = StartupMode::kDirectory;
    c.session.directory.subtreeDn = kRoot;
    for (int s = 0; s < 6; ++s) {
      auto rs = std::make_unique<RuleSet>("Set " + std::to_string(s));
      for (int r = 0; r < 60; ++r) {
        SearchRule rule(rs.get(), "Rule " + std::to_string(r), {},
                        std::vector<std::string>{"person"});
        rs->AddRule(&rule);
        if (r > 0) rs->rules.back()->AddSearchableRule(rs->rules.front().get());
      }
      c.ruleSets.push_back(std::move(rs));
    }
    c.session.directory.connection = std::move(admin);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr)));
    auto dump = [&](ldapx::Connection& conn) {
      std::vector<std::string> out;
      for (const auto& e : conn.Search(kRoot, ldapx::Scope::Subtree, "(objectClass=*)").entries) {
        std::string line = e.dn;
        for (const auto& a : e.attributes)
          for (const auto& v : a.values) line += "|" + a.type + "=" + v;
        out.push_back(line);
      }
      return out;
    };
    const std::vector<std::string> before = dump(*c.session.directory.connection);
    QCOMPARE(before.size(), size_t(1 + 6 * 61));

    c.session.directory.connection = server_->Connect(false);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!testsupport::Shown(
        directory::DeleteSubtree(*c.session.directory.connection, kRoot, false)));
    QCOMPARE(sink.Ids(), std::vector<int>{61264});
    QVERIFY(sink.messages[0].text.find("Rule 20") != std::string::npos);
    QVERIFY(sink.messages[0].text.find("Set 3") != std::string::npos);

    // Gone: sets 0-2 with their rules, rules 0-19 of set 3. Everything else stays with
    // the attributes it had.
    std::vector<std::string> want;
    for (const std::string& line : before) {
      const std::string dn = line.substr(0, line.find('|'));
      if (dn.find("cn=Set 0,") != std::string::npos || dn.find("cn=Set 1,") != std::string::npos ||
          dn.find("cn=Set 2,") != std::string::npos)
        continue;
      if (dn.find("cn=Set 3,") != std::string::npos && dn.rfind("cn=Rule ", 0) == 0 &&
          std::stoi(dn.substr(8)) < 20)
        continue;
      want.push_back(line);
    }
    std::vector<std::string> left = dump(*server_->Connect());
    std::sort(left.begin(), left.end());
    std::sort(want.begin(), want.end());
    QCOMPARE(QList(left.begin(), left.end()), QList(want.begin(), want.end()));
  }

 private:
  DirectoryServer* server_ = nullptr;
  std::unique_ptr<QTemporaryDir> dir1Holder_;
  std::unique_ptr<QTemporaryDir> dir2Holder_;
  // Where the program first writes the files, and where the copy from the directory goes.
  struct DirRef {
    std::unique_ptr<QTemporaryDir>* holder;
    QString path() const { return (*holder)->path(); }
  };
  DirRef dir1_{&dir1Holder_};
  DirRef dir2_{&dir2Holder_};
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "test_roundtrip.moc"
