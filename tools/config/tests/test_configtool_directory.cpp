// orvelle-config against a real directory: copies through an ldap:// URL, the LDIF of a
// URL and of a folder, the root entry, refused sources and refused logons.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"
#include "tests/support/floodserver.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/testfiles.h"
#include "tests/support/workedexample.h"
#include "tools/config/tests/configtoolrun.h"

namespace fs = std::filesystem;

using configtooltest::Result;
using testsupport::kWorkedExample;
using testsupport::ReadFile;

namespace {

// Names with the characters a DN must escape (",", "=", "+", "\"", "\\", ";", "<", ">",
// a leading "#"), inner double blanks and non-ASCII letters, in two rule sets. Colons
// split text lines and "," splits rule lists, so those stay out of the names that need it.
const char* const kAwkward =
    "RuleSet: Müller, Jörg\n"
    "Class: \"Quoted\" Person; <x> : person\n"
    "Class: Unit\\Back#slash : organizationalUnit\n"
    "Base: Root = Top + 1 : ldap://dirhost:389/o=Sample\n"
    "SearchRule: Root = Top + 1 : \"Quoted\" Person; <x>, Unit\\Back#slash\n"
    "SearchRule: Unit\\Back#slash : \"Quoted\" Person; <x>\n"
    "\n"
    "Form: Find, with = and + \"quotes\"\n"
    "FormTipString: Tip with, comma = and + \"q\" and ünïcode\n"
    "FormHelpString: Help; <b> \\ # $ here\n"
    "FormFieldGroup : #Group, one : \"Quoted\" Person; <x>\n"
    "FormField: Nåme,  first : cn, sn\n"
    "FormFieldGroup : Dépt + Unit : Unit\\Back#slash\n"
    "FormField: =Field= : ou\n"
    "Form: Zweite Maske\n"
    "FormTipString:\n"
    "FormHelpString:\n"
    "FormFieldGroup : Wer : \"Quoted\" Person; <x>\n"
    "FormField: Straße : street\n";

const char* const kSecond =
    "RuleSet: a=b+c\n"
    "Class: Org : organization\n"
    "\n"
    "Form: Orgs\n"
    "FormTipString: Organisations\n"
    "FormHelpString: Type a name\n"
    "FormFieldGroup : Org : Org\n"
    "FormField: Org name : o\n";

// Every entry below and including `base`: DN -> sorted "type: value" lines.
std::map<std::string, std::vector<std::string>> Entries(const testsupport::SlapdFixture& slapd,
                                                        const std::string& base) {
  std::map<std::string, std::vector<std::string>> entries;
  auto conn = slapd.Connect();
  if (!conn) return entries;
  const ldapx::SearchResult result = conn->Search(base, ldapx::Scope::Subtree, "(objectClass=*)");
  for (const ldapx::Entry& entry : result.entries) {
    std::vector<std::string> lines;
    for (const ldapx::Attribute& a : entry.attributes) {
      for (const std::string& v : a.values) lines.push_back(a.type + ": " + v);
    }
    std::sort(lines.begin(), lines.end());
    entries[entry.dn] = lines;
  }
  return entries;
}

QString Url(const testsupport::SlapdFixture& slapd, const char* parent = "o=Sample") {
  return QString::fromStdString(slapd.url()) + "/cn=Orvelle%20Configuration," + parent;
}

}  // namespace

class TestConfigToolDirectory : public configtooltest::DirectoryToolTest {
  Q_OBJECT

  QString adminPassword_;
  QString wrongPassword_;

  // Runs as the directory's administrator.
  Result RunAsAdmin(const QStringList& arguments) const {
    return RunLoggedOn(arguments, adminPassword_);
  }

  // A new folder below the test's folder, holding `files` (name -> text).
  QString Folder(const QString& name, const std::map<std::string, std::string>& files = {}) {
    const fs::path path = fs::path(dir_.path().toStdString()) / name.toStdString();
    fs::create_directories(path);
    for (const auto& [file, text] : files) std::ofstream(path / file, std::ios::binary) << text;
    return QString::fromStdString(path.string());
  }

  // SOURCE -> FOLDER (normal form) -> URL -> FOLDER2; FOLDER and FOLDER2 must be equal.
  void RoundTrip(const QString& name, const std::map<std::string, std::string>& files,
                 const char* parent) {
    const QString source = Folder(name + "-source", files);
    const QString first = Folder(name + "-first");
    const QString second = Folder(name + "-second");
    const QString url = Url(*slapd_, parent);
    Result r = Run({"copy", source, first});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = RunAsAdmin({"copy", first, url});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    r = RunAsAdmin({"copy", url, second});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    const auto expected = testsupport::Snapshot(first.toStdString());
    QCOMPARE(expected.size(), files.size());
    QVERIFY(testsupport::Snapshot(second.toStdString()) == expected);
  }

 private slots:
  void initTestCase() {
    QVERIFY2(QFile::exists(configtooltest::kProgram), "build the orvelle-config target first");
    QVERIFY(dir_.isValid());
    testsupport::SlapdFixture::Options options;
    // Parents for the configurations of the single tests.
    for (const char* ou : {"example", "awkward", "fresh", "refused", "ldif", "logon", "warned",
                           "schema", "empty", "vacant", "version", "diff", "diffversion"}) {
      options.extraLdif += std::string("dn: ou=") + ou +
                           ",o=Sample\nobjectClass: organizationalUnit\nou: " + ou + "\n\n";
    }
    options.extraLdif +=
        "dn: cn=Orvelle Configuration,ou=empty,o=Sample\nobjectClass: top\n"
        "objectClass: ovConfigurationRoot\ncn: Orvelle Configuration\n\n";
    slapd_ = std::make_unique<testsupport::SlapdFixture>(options);
    if (!slapd_->ok()) QSKIP(slapd_->error().c_str());
    adminPassword_ = dir_.filePath("admin.pw");
    std::ofstream(adminPassword_.toStdString(), std::ios::binary)
        << slapd_->adminPassword() << "\n";
    wrongPassword_ = dir_.filePath("wrong.pw");
    std::ofstream(wrongPassword_.toStdString(), std::ios::binary) << "not the password\n";
    // Readable by the owner only, or the tool warns.
    fs::permissions(adminPassword_.toStdString(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(wrongPassword_.toStdString(), fs::perms::owner_read | fs::perms::owner_write);
  }

  void cleanupTestCase() { slapd_.reset(); }

  // oidtable URL prints the table file given with the server's definitions it lacks
  // added: loaded again, it knows the server's names; no server, no table.
  void oidtablePrintsTheMergedTable() {
    const QString own = QStringLiteral(ORVELLE_SOURCE_DIR "/schema/orvelle.schema");
    const auto run = [&](const QString& url) {
      QProcess p;
      p.start(configtooltest::kProgram, {"oidtable", url, "--oidtable", own});
      if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
      }
      return std::make_pair(p.exitCode(), p.readAllStandardOutput().toStdString());
    };
    const auto [code, out] = run(QString::fromStdString(slapd_->url()) + "/o=Sample");
    QCOMPARE(code, 0);
    QFile file(own);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(out.rfind(file.readAll().toStdString(), 0) == 0);
    kvaro::Oidtable merged;
    QVERIFY(ldapx::LoadOidtableText(merged, out) > 0);
    QVERIFY(merged.LoadErrors().empty());
    QVERIFY(merged.str2oc("ovSearchForm") && merged.str2oc("inetOrgPerson"));
    QVERIFY(merged.str2at("mail") && merged.str2at("telephoneNumber"));
    kvaro::Oidtable alone;
    QVERIFY(ldapx::LoadOidtable(alone, own.toStdString()));
    QVERIFY(!alone.str2oc("inetOrgPerson"));

    const QString nowhere =
        QString("ldap://127.0.0.1:%1/o=Sample").arg(testsupport::FreeLoopbackPort());
    const auto [failed, nothing] = run(nowhere);
    QCOMPARE(failed, 1);
    QVERIFY(nothing.empty());

    // A check of a stored configuration with that small table passes: the classes and
    // attribute types the server knows are not dropped.
    const QString url = Url(*slapd_, "ou=schema,o=Sample");
    QCOMPARE(RunAsAdmin({"copy", Folder("schema", {{"RuleSet=People", kWorkedExample}}), url}).code,
             0);
    QProcess check;
    check.start(configtooltest::kProgram, {"check", url, "--oidtable", own});
    QVERIFY(check.waitForFinished(60000));
    const QString said = QString::fromUtf8(check.readAll());
    QVERIFY2(check.exitCode() == 0, qPrintable(said));
    QVERIFY(said.contains("every check passed") && !said.contains("warning"));
  }

  // A write by someone else between version and copy --if-version stops the copy with
  // status 3, naming the record, and nothing is written; with the new version it goes.
  void copyIfVersionSeesAnotherWrite() {
    const QString url = Url(*slapd_, "ou=version,o=Sample");
    const std::string root = "cn=Orvelle Configuration,ou=version,o=Sample";
    QCOMPARE(
        RunAsAdmin({"copy", Folder("version", {{"RuleSet=People", kWorkedExample}}), url}).code, 0);
    const Result version = RunAsAdmin({"version", url});
    QVERIFY2(version.code == 0, qPrintable(version.err));
    const QString token = version.out.trimmed();
    QVERIFY(!token.isEmpty() && !token.contains(' '));
    QCOMPARE(RunAsAdmin({"version", url}).out.trimmed(), token);

    auto conn = slapd_->Connect();
    QVERIFY(conn);
    QCOMPARE(conn->Replace("cn=Find a person," + root,
                           ldapx::ModList().Add("ovToolTip", {"Written by someone else"})),
             ldapx::kSuccess);
    const auto before = Entries(*slapd_, root);
    std::string other = kWorkedExample;
    other.replace(other.find("Search for people"), 17, "Search for persons");
    const QString next = Folder("version-next", {{"RuleSet=People", other}});
    Result r = RunAsAdmin({"copy", next, url, "--if-version", token});
    QVERIFY2(r.code == 3, qPrintable(r.err));
    QVERIFY2(r.err.contains("search form 'Find a person' was changed"), qPrintable(r.err));
    QVERIFY(Entries(*slapd_, root) == before);

    const QString now = RunAsAdmin({"version", url}).out.trimmed();
    QVERIFY(now != token);
    r = RunAsAdmin({"copy", next, url, "--if-version", now});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(RunAsAdmin({"version", url}).out.trimmed() != now);
  }

  // A copy to a URL that holds a configuration writes only the records that differ by
  // name (here the one field edited), with --if-version too; --whole writes every entry
  // anew. Each leaves the configuration of the folder.
  void copyWritesOnlyTheDifferences_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<bool>("ifVersion");
    QTest::newRow("copy") << "ou=diff,o=Sample" << false;
    QTest::newRow("copy --if-version") << "ou=diffversion,o=Sample" << true;
  }

  void copyWritesOnlyTheDifferences() {
    QFETCH(QString, parent);
    QFETCH(bool, ifVersion);
    const QString url = Url(*slapd_, qPrintable(parent));
    const std::string root = "cn=Orvelle Configuration," + parent.toStdString();
    QCOMPARE(RunAsAdmin({"copy", Folder("diff", {{"RuleSet=People", kWorkedExample}}), url}).code,
             0);
    const auto versions = [&] {
      std::map<std::string, std::string> csn;
      auto conn = slapd_->Connect();
      if (!conn) return csn;
      for (const ldapx::Entry& e :
           conn->Search(root, ldapx::Scope::Subtree, "(objectClass=*)", {"entryCSN"}).entries)
        csn[e.dn] = e.Find("entryCSN") ? e.Find("entryCSN")->values.at(0) : "";
      return csn;
    };
    const auto changedSince = [&](const std::map<std::string, std::string>& before) {
      const auto now = versions();
      int changed = 0;
      for (const auto& [dn, csn] : now) changed += before.count(dn) && before.at(dn) != csn;
      return now.size() == before.size() ? changed : -1;
    };
    std::string edited = kWorkedExample;
    edited.replace(edited.find("Name : cn, sn"), 13, "Name : cn, sn, uid");
    const QString next = Folder("diff-next", {{"RuleSet=People", edited}});
    const auto ldifOf = [&](const QStringList& args) { return RunAsAdmin(args).out; };

    auto before = versions();
    QStringList copy = {"copy", next, url};
    if (ifVersion) copy << "--if-version" << RunAsAdmin({"version", url}).out.trimmed();
    Result r = RunAsAdmin(copy);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(changedSince(before), 1);
    QCOMPARE(ldifOf({"ldif", url}),
             ldifOf({"ldif", next, "--root-dn", QString::fromStdString(root)}));
    if (ifVersion) return;

    before = versions();
    r = RunAsAdmin({"copy", Folder("diff", {{"RuleSet=People", kWorkedExample}}), url, "--whole"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(changedSince(before), int(before.size()));  // the root too: staged anew
    QCOMPARE(RunAsAdmin({"version", next, "--whole"}).code, 2);
  }

  void workedExampleSurvivesTheDirectory() {
    RoundTrip("example", {{"RuleSet=People", kWorkedExample}}, "ou=example,o=Sample");
    // The rules keep the order of the source's lines through both stores.
    const std::string normal =
        ReadFile(fs::path(dir_.path().toStdString()) / "example-first" / "RuleSet=People");
    QVERIFY(normal.rfind("RuleSet: People\nBase: Root : ldap://dirhost:389/o=Sample\nClass: "
                         "Person : person\nClass: Unit",
                         0) == 0);
  }

  void awkwardNamesSurviveTheDirectory() {
    RoundTrip("awkward", {{"RuleSet=Müller, Jörg", kAwkward}, {"RuleSet=a=b+c", kSecond}},
              "ou=awkward,o=Sample");
    const std::string text =
        ReadFile(fs::path(dir_.path().toStdString()) / "awkward-second" / "RuleSet=Müller, Jörg");
    QVERIFY(text.find("FormFieldGroup : #Group, one : \"Quoted\" Person; <x>\n") !=
            std::string::npos);
    QVERIFY(text.find("FormField: Nåme,  first : cn, sn\n") != std::string::npos);
    QVERIFY(text.find("FormHelpString: Help; <b> \\ # $ here\n") != std::string::npos);
    // Each name is one RDN value in the directory, read back as it was written.
    const auto entries = Entries(*slapd_, "ou=awkward,o=Sample");
    bool found = false;
    for (const auto& [dn, lines] : entries) {
      if (std::find(lines.begin(), lines.end(), "cn: #Group, one") != lines.end()) found = true;
    }
    QVERIFY(found);
  }

  void ldifOfUrlAndFolderAgree() {
    const QString folder = Folder("ldif-source", {{"RuleSet=People", kWorkedExample}});
    const QString url = Url(*slapd_, "ou=ldif,o=Sample");
    QCOMPARE(RunAsAdmin({"copy", folder, url}).code, 0);

    const Result fromUrl = RunAsAdmin({"ldif", url});
    QVERIFY2(fromUrl.code == 0, qPrintable(fromUrl.err));
    const Result fromFolder =
        Run({"ldif", folder, "--root-dn", "cn=Orvelle Configuration,ou=ldif,o=Sample"});
    QVERIFY2(fromFolder.code == 0, qPrintable(fromFolder.err));
    // Without --root-dn a folder has no DN to put the entries under.
    QCOMPARE(Run({"ldif", folder}).code, 2);

    // LDIF folds long lines: a line starting with a blank continues the one before.
    const QString unfolded = QString(fromUrl.out).replace("\n ", "");
    QStringList dns;
    for (const QString& line : unfolded.split('\n')) {
      if (line.startsWith("dn: ")) dns << line.mid(4);
    }
    const QString root = "cn=Orvelle Configuration,ou=ldif,o=Sample";
    const QString set = "cn=People," + root;
    const QString form = "cn=Find a person," + root;
    // The root first, then depth first in writing order; rules after ", ".
    QCOMPARE(dns,
             (QStringList{root, set, "cn=Root, " + set, "cn=Person, " + set, "cn=Unit, " + set,
                          form, "cn=Person details," + form, "cn=Name,cn=Person details," + form,
                          "cn=Department," + form, "cn=Department,cn=Department," + form}));
    QVERIFY(fromUrl.out.contains("\novInputList: Person details $ Department\n"));
    QVERIFY(fromUrl.out.contains("\novSearchClassList: Person $ Unit\n"));
    QVERIFY(fromUrl.out.contains("\novFiltAttrList: cn $ sn\n"));
    QVERIFY(fromUrl.out.contains("\novLDAPURI: ldap://dirhost:389/o=Sample\n"));
    QVERIFY(fromUrl.out.startsWith("version: 1\n\ndn: " + root + "\nobjectClass: top\n"));
    // The folder (read back into the same order) gives the same entries.
    QCOMPARE(fromFolder.out, fromUrl.out);
  }

  void copyToAFreshUrlWritesTheRootEntryFirst() {
    const QString folder = Folder("fresh-source", {{"RuleSet=People", kWorkedExample}});
    const std::string root = "cn=Orvelle Configuration,ou=fresh,o=Sample";
    QVERIFY(Entries(*slapd_, root).empty());
    const Result r = RunAsAdmin({"copy", folder, Url(*slapd_, "ou=fresh,o=Sample")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const auto entries = Entries(*slapd_, root);
    QCOMPARE(entries.size(), size_t(10));
    QVERIFY(entries.count(root));
    const auto& rootLines = entries.at(root);
    QVERIFY(std::find(rootLines.begin(), rootLines.end(), "objectClass: ovConfigurationRoot") !=
            rootLines.end());
    // A second copy replaces the subtree and leaves the same entries.
    QCOMPARE(RunAsAdmin({"copy", folder, Url(*slapd_, "ou=fresh,o=Sample")}).code, 0);
    QVERIFY(Entries(*slapd_, root) == entries);
  }

  void aSourceThatFailsACheckChangesNothing() {
    const QString url = Url(*slapd_, "ou=refused,o=Sample");
    const QString good = Folder("refused-good", {{"RuleSet=People", kWorkedExample}});
    const std::string empty = "RuleSet: Nothing Yet\n\n";
    const QString bad =
        Folder("refused-bad", {{"RuleSet=People", kWorkedExample}, {"RuleSet=Nothing Yet", empty}});

    // Where no configuration is stored yet, not even the root entry is written.
    Result r = RunAsAdmin({"copy", bad, url});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("Orvelle32Setup: Rule set 'Nothing Yet' contains no rules."),
             qPrintable(r.err));
    QVERIFY(Entries(*slapd_, "ou=refused,o=Sample").size() == 1);

    // Over a stored configuration nothing is deleted or added.
    QCOMPARE(RunAsAdmin({"copy", good, url}).code, 0);
    const auto before = Entries(*slapd_, "ou=refused,o=Sample");
    QCOMPARE(before.size(), size_t(11));
    r = RunAsAdmin({"copy", bad, url});
    QCOMPARE(r.code, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY(Entries(*slapd_, "ou=refused,o=Sample") == before);
  }

  // A load that drops records with warnings fails the check unless warnings are allowed;
  // a clean load passes either way.
  void checkFailsOnLoadWarnings() {
    const QString url = Url(*slapd_, "ou=warned,o=Sample");
    const QString folder = Folder("warned-source", {{"RuleSet=People", kWorkedExample}});
    QCOMPARE(RunAsAdmin({"copy", folder, url}).code, 0);
    Result r = RunAsAdmin({"check", url});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    QVERIFY(!r.out.contains("warning"));

    // A rule whose only object class the table does not know: two warnings, rule dropped,
    // and a third that names the entry the next save would remove.
    auto conn = slapd_->Connect();
    QVERIFY(conn);
    QCOMPARE(conn->Add("cn=Broken,cn=People,cn=Orvelle Configuration,ou=warned,o=Sample",
                       ldapx::ModList()
                           .Add("objectClass", {"top", "ovSearchClass"})
                           .Add("cn", {"Broken"})
                           .Add("ovObjectClassDefinition", {"noSuchClass"})),
             ldapx::kSuccess);
    r = RunAsAdmin({"check", url});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.out.contains("3 load warnings (records dropped); every check passed."),
             qPrintable(r.out));
    QVERIFY(r.err.contains("noSuchClass"));
    r = RunAsAdmin({"check", url, "--allow-warnings"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains("3 load warnings (records dropped, allowed); every check passed."),
             qPrintable(r.out));
  }

  void aWrongPasswordIsRefused() {
    const QString folder = Folder("logon-source", {{"RuleSet=People", kWorkedExample}});
    const QString url = Url(*slapd_, "ou=logon,o=Sample");
    const Result r =
        Run({"copy", folder, url, "--bind-dn", QString::fromStdString(slapd_->adminDn()),
             "--password-file", wrongPassword_});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.startsWith("Orvelle32Setup: Couldn't connect to the directory using the given "
                              "authentication\ndetails."),
             qPrintable(r.err));
    QVERIFY(Entries(*slapd_, "ou=logon,o=Sample").size() == 1);
    QCOMPARE(Run({"ldif", url, "--bind-dn", QString::fromStdString(slapd_->adminDn()),
                  "--password-file", wrongPassword_})
                 .code,
             1);
    // A password is never taken from the command line.
    const Result given = Run({"copy", folder, url, "--bind-dn",
                              QString::fromStdString(slapd_->adminDn()), "--password", "secret"});
    QCOMPARE(given.code, 2);
    QVERIFY(Entries(*slapd_, "ou=logon,o=Sample").size() == 1);
    // A password file that cannot be read stops before anything is contacted.
    const Result missing =
        Run({"copy", folder, url, "--bind-dn", QString::fromStdString(slapd_->adminDn()),
             "--password-file", dir_.filePath("no-such.pw")});
    QCOMPARE(missing.code, 1);
    QVERIFY(missing.err.contains("no-such.pw"));
  }

  void logonOptionsGoTogether() {
    const QString folder = Folder("logon-pair", {{"RuleSet=People", kWorkedExample}});
    const QString url = Url(*slapd_, "ou=logon,o=Sample");
    const QString dn = QString::fromStdString(slapd_->adminDn());
    // A DN alone would be an unauthenticated bind; a password file alone would be ignored.
    Result r = Run({"copy", folder, url, "--bind-dn", dn});
    QCOMPARE(r.code, 2);
    QVERIFY(r.err.contains("--password-file"));
    r = Run({"copy", folder, url, "--password-file", adminPassword_});
    QCOMPARE(r.code, 2);
    const QString empty = dir_.filePath("empty.pw");
    std::ofstream(empty.toStdString(), std::ios::binary) << "\n";
    r = Run({"copy", folder, url, "--bind-dn", dn, "--password-file", empty});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("is empty"));
    QVERIFY(Entries(*slapd_, "ou=logon,o=Sample").size() == 1);
    // Anonymous: reading is allowed, writing is not.
    r = Run({"copy", folder, url});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.startsWith("Orvelle32Setup: "));
    QVERIFY(Entries(*slapd_, "ou=logon,o=Sample").size() == 1);
  }

  // A source that holds no configuration is not copied over a target: the target keeps
  // its configuration and the tool fails.
  void anEmptySourceIsNotCopied_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("says");
    QTest::newRow("configuration root without rule sets") << "empty"
                                                          << "Nothing was copied";
    QTest::newRow("no subtree at the URL") << "vacant"
                                           << "could not be read";
  }
  void anEmptySourceIsNotCopied() {
    QFETCH(QString, parent);
    QFETCH(QString, says);
    const QString target = Folder("kept-" + parent, {{"RuleSet=People", kWorkedExample}});
    parent = "ou=" + parent + ",o=Sample";
    const auto before = testsupport::Snapshot(target.toStdString());
    const Result r = RunAsAdmin({"copy", Url(*slapd_, qPrintable(parent)), target});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
    QVERIFY(testsupport::Snapshot(target.toStdString()) == before);
  }

  // Servers that never end an answer, and TLS asked of a port that speaks plain LDAP: the
  // tool ends with status 1 and the reason, neither growing without bound nor dying of a
  // signal. A copy from such a server leaves the target folder alone.
  void hostileServersEndTheTool_data() {
    QTest::addColumn<int>("mode");  // -1: ldaps:// to the test server's plain port
    QTest::addColumn<QString>("says");
    // Large entries fill a read's bytes in seconds; a million small ones, its count of
    // entries, take many times that under the sanitizers, to the same end.
    QTest::newRow("endless entries") << int(testsupport::FloodServer::Mode::LargeEntries)
                                     << "more entries than one read may hold";
    QTest::newRow("2 GB message") << int(testsupport::FloodServer::Mode::HugeLength)
                                  << "a message larger than 64 MB";
    QTest::newRow("ldaps to plain LDAP") << -1 << "TLS";
  }
  void hostileServersEndTheTool() {
    QFETCH(int, mode);
    QFETCH(QString, says);
    std::unique_ptr<testsupport::FloodServer> flood;
    QString url;
    if (mode >= 0) {
      flood = std::make_unique<testsupport::FloodServer>(testsupport::FloodServer::Mode(mode));
      url = QString("ldap://127.0.0.1:%1/cn=Orvelle%20Configuration,o=Sample").arg(flood->port());
    } else {
      url = QString("ldaps://127.0.0.1:%1/cn=Orvelle%20Configuration,o=Sample").arg(slapd_->port());
    }
    const QString target =
        Folder(QString("hostile-%1").arg(mode + 1), {{"RuleSet=People", kWorkedExample}});
    const auto before = testsupport::Snapshot(target.toStdString());
    for (const QString& command : {QString("check"), QString("copy")}) {
      QStringList args{command, url};
      if (command == "copy") args << target;
      const Result r = Run(args);
      QCOMPARE(r.code, 1);
      QVERIFY2(r.err.contains(says), qPrintable(r.err));
    }
    QVERIFY(testsupport::Snapshot(target.toStdString()) == before);
  }

  void otherUrlsAreNamedAsSuch() {
    // Not taken for a folder without --root-dn: the URL itself is what is wrong.
    const Result r = Run({"ldif", "ldapi://%2Ftmp%2Fsock/cn=Orvelle%20Configuration,o=Sample"});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("is a URL of a kind this program cannot store a configuration in"),
             qPrintable(r.err));
  }
};

QTEST_GUILESS_MAIN(TestConfigToolDirectory)
#include "test_configtool_directory.moc"
