// Saves of what changed since the load, against a real server: two sessions editing one
// configuration lose nothing of each other's work, a write by someone else between the
// check and the write is caught, a failed or killed save leaves a configuration that
// loads, and a small edit sends few writes.
#include <QtTest>
#include <functional>
#include <map>
#include <memory>

#include "model/renaming.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "store/store.h"
#include "tests/support/directoryserver.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/testfiles.h"
#include "tests/support/testoidtable.h"
#include "tests/support/workedexample.h"

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

using Edit = std::function<void(Configuration&)>;

SearchForm& People(Configuration& c) { return *c.FindForm("People"); }
InputGroup& GroupA(Configuration& c) { return *People(c).inputGroups[0]; }

// The edits of the tables, by name.
Edit EditNamed(const QString& name) {
  if (name == "help") return [](Configuration& c) { People(c).helpString = "help"; };
  if (name == "help2") return [](Configuration& c) { People(c).helpString = "other help"; };
  if (name == "field")
    return [](Configuration& c) {
      People(c).targetGroup->fields[0]->filterAttributes = {"cn", "sn", "givenName"};
    };
  if (name == "phone")
    return [](Configuration& c) { GroupA(c).fields[0]->filterAttributes = {"mobile"}; };
  if (name == "dropA") return [](Configuration& c) { People(c).RemoveInputGroup("A"); };
  if (name == "rule")
    return [](Configuration& c) {
      c.FindRuleSet("Standard")->FindRule("Room")->objectClasses = {"room", "device"};
    };
  if (name == "form")
    return [](Configuration& c) {
      RuleSet* standard = c.FindRuleSet("Standard");
      auto group = std::make_unique<InputGroup>("Finder", standard->FindRule("Person"));
      group->AddField("Who", "", {"cn"});
      c.AddForm(std::make_unique<SearchForm>("People Finder", standard, std::move(group)));
    };
  // The name of "form" as the server compares names: case and repeated blanks aside.
  if (name == "formSpaced")
    return [](Configuration& c) {
      RuleSet* standard = c.FindRuleSet("Standard");
      auto group = std::make_unique<InputGroup>("Finder", standard->FindRule("Person"));
      group->AddField("Who", "", {"cn"});
      c.AddForm(std::make_unique<SearchForm>("people  finder", standard, std::move(group)));
    };
  if (name == "renameField")
    return [](Configuration& c) {
      InputField& field = *GroupA(c).fields[1];
      QVERIFY(RenameField(GroupA(c), field, "E-mail"));
    };
  if (name == "ruleSet50")
    return [](Configuration& c) {
      auto set = std::make_unique<RuleSet>("Fifty");
      for (int i = 0; i < 49; ++i)
        set->AddRule(std::make_unique<SearchRule>(set.get(), "R" + std::to_string(i),
                                                  std::vector<SearchRule*>{},
                                                  std::vector<std::string>{"person"}));
      c.AddRuleSet(std::move(set));
    };
  if (name == "fieldAdded")
    return
        [](Configuration& c) { c.FindForm("Form 0")->targetGroup->AddField("Extra", "", {"cn"}); };
  if (name == "removeSet")
    return [](Configuration& c) {
      QVERIFY(c.DetachForm(c.FindForm("Form 7")) != nullptr);
      QVERIFY(RemoveRuleSet(c, c.FindRuleSet("Set 7")) != nullptr);
    };
  return [](Configuration&) { QFAIL("unknown edit"); };
}

// Each rule set and form by name, with what it holds: its rules and their object classes,
// or its groups and their fields.
std::map<std::string, std::string> Shapes(const Configuration& c) {
  std::map<std::string, std::string> out;
  for (const auto& set : c.ruleSets) {
    std::string& shape = out["rule set " + set->name];
    for (const auto& rule : set->rules) {
      shape += rule->name + "(";
      for (const std::string& oc : rule->objectClasses) shape += oc + " ";
      shape += ") ";
    }
  }
  for (const auto& form : c.searchForms) {
    std::string& shape = out["form " + form->name];
    std::vector<InputGroup*> groups;
    form->GetInputGroups(groups);
    for (const InputGroup* group : groups) {
      shape += group->name + "[";
      for (const auto& field : group->fields) shape += field->name + " ";
      shape += "] ";
    }
  }
  return out;
}

std::string Ldif(const Configuration& c) {
  std::string out;
  const msg::Outcome made = directory::ConfigurationLdif(c, kRoot, out);
  return made ? out : "unwritable";
}

// A session of the program: logged on as the writer, the configuration loaded.
struct Editor {
  store::Session session;
  Configuration config;
  msg::Problems warnings;
  bool Load(testsupport::DirectoryServer& server) {
    session.startupMode = StartupMode::kDirectory;
    session.directory = testsupport::LogonAs(server.writerDn(), server.writerPassword());
    const std::string url = server.url() + "/cn=Orvelle%20Configuration,o=Sample";
    const msg::Result loaded = directory::LoadConfigurationFromUrl(
        session.directory, config, testsupport::DirectoryOidtable(), url, {}, nullptr, true);
    warnings = loaded.problems;
    return loaded.ok;
  }
};

bool Store(testsupport::DirectoryServer& server, const Configuration& c) {
  directory::Session session = testsupport::LogonAs(server.writerDn(), server.writerPassword());
  return directory::SaveConfigurationToUrl(session, c,
                                           server.url() + "/cn=Orvelle%20Configuration,o=Sample")
      .ok;
}

// The configuration stored now, loaded afresh, as LDIF; "warnings" when the load warned.
std::string StoredLdif(testsupport::DirectoryServer& server) {
  Editor e;
  if (!e.Load(server)) return "unloadable";
  if (!e.warnings.empty())
    return "warnings: " + msg::Text(e.warnings.front().id, e.warnings.front().args);
  return Ldif(e.config);
}

// Eight rule sets with a form each, then the configuration of FillPeople: large enough
// that a change of a few records is written as such.
void Fill(Configuration& c) {
  sample::FillLarge(c, 8, 10, 5);
  sample::FillPeople(c);
}

// Stores the configuration of Fill on `server` and loads it into `editor`.
bool StoreFilledAndLoad(testsupport::DirectoryServer& server, Editor& editor) {
  Configuration original;
  Fill(original);
  return Store(server, original) && editor.Load(server);
}

// The writes slapd logged (adds, modifies, renames, deletes).
int Writes(const std::string& log) {
  int count = 0;
  for (const char* op : {" ADD dn=", " MOD dn=", " MODRDN dn=", " DEL dn="})
    for (size_t at = log.find(op); at != std::string::npos; at = log.find(op, at + 1)) ++count;
  return count;
}

class ProgressHook : public directory::PleaseWait {
 public:
  std::function<void(long)> onProgress;
  void Show(const std::string&, const std::string&) override {}
  void SetMessage(const std::string&) override {}
  void SetProgress(long done, long) override {
    if (onProgress) onProgress(done);
  }
  void Close() override {}
};

}  // namespace

class TestChangeSave : public QObject {
  Q_OBJECT

 private slots:
  // Two sessions load the same configuration; the first saves its edit, then the second.
  // Edits of different records both stay; an edit of a record the first wrote is refused
  // with the record named, and the first edit stays. A session that loads after the
  // first save never conflicts.
  void twoSessions_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("secondLoadsLate");
    QTest::addColumn<QString>("conflict");  // empty: both saved
    QTest::addColumn<int>("added");         // PendingChanges of the second before its save
    QTest::addColumn<int>("changed");
    QTest::addColumn<int>("removed");
    QTest::newRow("form added, field changed") << "form"
                                               << "field" << false << "" << 0 << 1 << 0;
    QTest::newRow("form text, field of it") << "help"
                                            << "field" << false << "" << 0 << 1 << 0;
    QTest::newRow("rule, form") << "rule"
                                << "form" << false << "" << 3 << 0 << 0;
    QTest::newRow("same form text")
        << "help"
        << "help2" << false << "search form 'People' was changed" << 0 << 1 << 0;
    QTest::newRow("field of a removed group")
        << "dropA"
        << "phone" << false << "search form 'People' was changed" << 0 << 1 << 0;
    QTest::newRow("group removed, its field changed before")
        << "phone"
        << "dropA" << false << "search form 'People' was changed" << 0 << 1 << 3;
    QTest::newRow("same text, loaded after the first save") << "help"
                                                            << "help2" << true << "" << 0 << 1 << 0;
    QTest::newRow("field renamed, form text") << "renameField"
                                              << "help" << false << "" << 0 << 1 << 0;
    QTest::newRow("form of a name the server takes as the same")
        << "form"
        << "formSpaced" << false << "search form 'People Finder' was added" << 3 << 0 << 0;
  }

  void twoSessions() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, secondLoadsLate);
    QFETCH(QString, conflict);
    QFETCH(int, added);
    QFETCH(int, changed);
    QFETCH(int, removed);
    ORVELLE_SHARED_SERVER(server);
    Configuration original;
    sample::FillPeople(original);
    QVERIFY(Store(server, original));

    Editor a, b;
    QVERIFY(a.Load(server));
    QVERIFY(a.warnings.empty());
    if (!secondLoadsLate) QVERIFY(b.Load(server));
    EditNamed(first)(a.config);
    QVERIFY(testsupport::Shown(store::Save(a.session, a.config)));
    if (secondLoadsLate) QVERIFY(b.Load(server));
    EditNamed(second)(b.config);
    const auto pending = store::PendingChanges(b.session, b.config);
    QVERIFY(pending);
    QCOMPARE(pending->added, long(added));
    QCOMPARE(pending->changed, long(changed));
    QCOMPARE(pending->removed, long(removed));

    const msg::Result saved = store::Save(b.session, b.config);
    Configuration expected;
    sample::FillPeople(expected);
    EditNamed(first)(expected);
    if (conflict.isEmpty()) {
      QVERIFY(testsupport::Shown(saved));
      EditNamed(second)(expected);
      QCOMPARE(store::PendingChanges(b.session, b.config),
               std::optional<store::ChangeCounts>{store::ChangeCounts{}});
    } else {
      QVERIFY(!saved.ok);
      QCOMPARE(saved.Ids(), std::vector<int>{msg::id::kChangedSinceLoad});
      QCOMPARE(QString::fromStdString(saved.problems[0].args[1]), conflict);
    }
    QCOMPARE(StoredLdif(server), Ldif(expected));
  }

  // The session keeps what a load of a folder read: a save of changes refuses to write
  // over a file someone else wrote since, and says so; the save of the whole writes it.
  void folderSessionKeepsTheLoad_data() {
    QTest::addColumn<bool>("whole");
    QTest::newRow("changes") << false;
    QTest::newRow("whole") << true;
  }

  void folderSessionKeepsTheLoad() {
    QFETCH(bool, whole);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    testsupport::WriteFile(folder + "/RuleSet=People", testsupport::kWorkedExample);
    store::Session session;
    session.configurationDirectory = folder;
    Configuration c;
    QCOMPARE(store::Load(session, c, testsupport::DirectoryOidtable(), {}), kLoaded);
    QCOMPARE(store::PendingChanges(session, c),
             std::optional<store::ChangeCounts>{store::ChangeCounts{}});
    c.FindForm("Find a person")->helpString = "mine";
    QCOMPARE(store::PendingChanges(session, c)->changed, 1L);
    std::string theirs = testsupport::kWorkedExample;
    theirs.replace(theirs.find("Type part of a name"), 19, "theirs");
    testsupport::WriteFile(folder + "/RuleSet=People", theirs);
    const msg::Result saved = store::Save(
        session, c, nullptr, {}, whole ? store::SaveMode::kWhole : store::SaveMode::kChanges);
    QCOMPARE(saved.ok, whole);
    if (!whole) QCOMPARE(saved.Ids(), std::vector<int>{msg::id::kChangedSinceLoad});
    const std::string stored = testsupport::ReadFile(folder + "/RuleSet=People");
    QCOMPARE(stored.find("mine") != std::string::npos, whole);
    QCOMPARE(stored.find("theirs") != std::string::npos, !whole);
  }

  // Someone else writes the entry between the check and the write: the assertion turns
  // the write down, the save says who changed what, and their value stays.
  void writeBetweenCheckAndWrite() {
    ORVELLE_SHARED_SERVER(server);
    auto conn = server.Connect();
    QVERIFY(conn);
    if (!ldapx::OffersControl(*conn, ldapx::kAssertionOid))
      QSKIP("the server does not offer the assertion control");
    Configuration original;
    sample::FillPeople(original);
    QVERIFY(Store(server, original));
    Editor a;
    QVERIFY(a.Load(server));
    EditNamed("field")(a.config);
    const std::string formDn = directory::FormDn("People", kRoot);
    const std::string fieldDn = directory::FieldDn("Name", directory::GroupDn("Who", formDn));
    directory::SaveOptions options;
    options.onStage = [&](directory::SaveStage stage) {
      if (stage == directory::SaveStage::Checked)
        QCOMPARE(conn->Replace(fieldDn, ldapx::ModList().Add("ovFiltAttrList", {"uid"})),
                 ldapx::kSuccess);
    };
    const msg::Result saved = store::Save(a.session, a.config, nullptr, options);
    QCOMPARE(saved.Ids(), std::vector<int>{msg::id::kChangedSinceLoad});
    const ldapx::SearchResult field =
        conn->Search(fieldDn, ldapx::Scope::Base, "(objectClass=*)", {"ovFiltAttrList"});
    QCOMPARE(field.entries.at(0).Find("ovFiltAttrList")->values, std::vector<std::string>{"uid"});
  }

  // A save that writes everything (a rule set renamed) holds the stored configuration to
  // what its check saw until its swap: a write by someone else while it stages is not
  // replaced, it is named, and nothing of the save is left.
  void writeWhileStaging() {
    ORVELLE_SHARED_SERVER(server);
    auto conn = server.Connect();
    QVERIFY(conn);
    Configuration original;
    sample::FillPeople(original);
    QVERIFY(Store(server, original));
    Editor a;
    QVERIFY(a.Load(server));
    QVERIFY(RenameRuleSet(a.config, *a.config.FindRuleSet("Standard"), "Standard 2"));
    const std::string fieldDn =
        directory::FieldDn("Name", directory::GroupDn("Who", directory::FormDn("People", kRoot)));
    bool staged = false;
    directory::SaveOptions options;
    options.onStage = [&](directory::SaveStage stage) {
      if (stage != directory::SaveStage::Staged) return;
      staged = true;
      QCOMPARE(conn->Replace(fieldDn, ldapx::ModList().Add("ovFiltAttrList", {"mail"})),
               ldapx::kSuccess);
    };
    const msg::Result saved = store::Save(a.session, a.config, nullptr, options);
    QVERIFY(staged);
    QCOMPARE(saved.Ids(), std::vector<int>{msg::id::kChangedSinceLoad});
    QCOMPARE(saved.problems[0].args[1], std::string("search form 'People' was changed"));
    People(original).targetGroup->fields[0]->filterAttributes = {"mail"};
    QCOMPARE(QString::fromStdString(StoredLdif(server)), QString::fromStdString(Ldif(original)));
    const ldapx::SearchResult beside =
        conn->Search("o=Sample", ldapx::Scope::OneLevel, "(cn=*orvelle-save*)", {"cn"});
    QCOMPARE(beside.code, ldapx::kSuccess);
    QCOMPARE(beside.entries.size(), size_t(0));
  }

  // The writes a save of a small change sends (slapd's log of operations), and that the
  // stored configuration loads back as the edited one, siblings in order.
  void fewWrites_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("least");
    QTest::addColumn<int>("most");
    QTest::newRow("one field") << "field" << 1 << 1;
    // The rule after it is touched to keep its place.
    QTest::newRow("one rule") << "rule" << 2 << 2;
    QTest::newRow("field renamed") << "renameField" << 3 << 3;
    // The form written anew beside the root (5 entries and the entry that holds them),
    // moved in, the holder removed; the stored one moved out beside the root under its
    // unique id and removed (8).
    QTest::newRow("group removed") << "dropA" << 17 << 17;
    // Its 50 entries written beside the root below an entry that holds them, moved in
    // with one rename, and the holder removed.
    QTest::newRow("rule set of 50 entries") << "ruleSet50" << 53 << 53;
    // The first form written anew (its 7 entries and 1 new below an entry that holds them,
    // moved in, the holder removed; the old 7 moved out under the form's unique id and
    // removed), and the 8 forms after it touched to keep their order.
    QTest::newRow("field added to the first form") << "fieldAdded" << 27 << 27;
  }

  void fewWrites() {
    QFETCH(QString, edit);
    QFETCH(int, least);
    QFETCH(int, most);
    if (testsupport::ServerKindFromEnvironment() != testsupport::ServerKind::Slapd)
      QSKIP("counts slapd's operations log");
    static std::unique_ptr<testsupport::SlapdFixture> logged;
    if (!logged) {
      testsupport::SlapdFixture::Options options;
      options.logStats = true;
      logged = std::make_unique<testsupport::SlapdFixture>(options);
    }
    ORVELLE_REQUIRE_SERVER(*logged);
    QVERIFY(logged->Reset());
    Editor a;
    QVERIFY(StoreFilledAndLoad(*logged, a));
    EditNamed(edit)(a.config);
    const size_t before = logged->log().size();
    QVERIFY(testsupport::Shown(store::Save(a.session, a.config)));
    QTest::qWait(200);  // the log is written after the answer
    const int writes = Writes(logged->log().substr(before));
    QVERIFY2(writes >= least && writes <= most, std::to_string(writes).c_str());
    QCOMPARE(StoredLdif(*logged), Ldif(a.config));
    // The session goes on from what it wrote: the next save of the same writes nothing.
    const size_t again = logged->log().size();
    QVERIFY(testsupport::Shown(store::Save(a.session, a.config)));
    QTest::qWait(200);
    QCOMPARE(Writes(logged->log().substr(again)), 0);
  }

  // Between any two writes of a save of changes the stored configuration loads without
  // warnings, each rule set and form in it whole, as it was or as saved.
  void everyWriteLeavesRecordsOldOrNew_data() {
    QTest::addColumn<QString>("edit");
    QTest::newRow("rule set removed") << "removeSet";
    QTest::newRow("rule set of 50 added") << "ruleSet50";
    QTest::newRow("field added to the first form") << "fieldAdded";
  }
  void everyWriteLeavesRecordsOldOrNew() {
    QFETCH(QString, edit);
    if (edit == "removeSet" &&
        testsupport::ServerKindFromEnvironment() != testsupport::ServerKind::Slapd)
      QSKIP("389 DS: a rule set is removed rule by rule (see README, Several servers)");
    ORVELLE_SHARED_SERVER(server);
    Editor a;
    QVERIFY(StoreFilledAndLoad(server, a));
    const auto before = Shapes(a.config);
    EditNamed(edit)(a.config);
    const auto after = Shapes(a.config);
    ProgressHook wait;
    std::string mixed;
    long writes = 0;
    wait.onProgress = [&](long done) {
      writes = done;
      Editor b;
      if (!b.Load(server) || !b.warnings.empty()) {
        mixed += "after write " + std::to_string(done) + ": a load with warnings\n";
        return;
      }
      for (const auto& [name, shape] : Shapes(b.config)) {
        const auto was = before.find(name);
        const auto is = after.find(name);
        if ((was == before.end() || was->second != shape) &&
            (is == after.end() || is->second != shape))
          mixed += "after write " + std::to_string(done) + ": " + name + " holds " + shape + "\n";
      }
    };
    QVERIFY(testsupport::Shown(store::Save(a.session, a.config, &wait)));
    QVERIFY(writes > 1);
    QVERIFY2(mixed.empty(), mixed.c_str());
  }

  // A save that stops part-way, refused by the server or with the server killed, leaves a
  // configuration that loads without warnings: the old one when what was written could
  // be taken back, else records that are each old or new.
  // A rule set added is stored whole or not at all.
  void stopsPartWay_data() {
    QTest::addColumn<bool>("kill");
    QTest::addColumn<QString>("edit");  // empty: the field, the rule and the form
    QTest::addColumn<int>("killAt");    // writes done when the server is killed
    QTest::newRow("add refused") << false << "" << 0;
    // The rule written, the field and the form not.
    QTest::newRow("server killed") << true << "" << 6;
    QTest::newRow("server killed while a rule set is added") << true << "ruleSet50" << 25;
  }

  void stopsPartWay() {
    QFETCH(bool, kill);
    QFETCH(QString, edit);
    QFETCH(int, killAt);
    ORVELLE_SHARED_SERVER(server);
    Configuration original;
    Fill(original);
    QVERIFY(Store(server, original));
    Editor a;
    QVERIFY(a.Load(server));
    if (edit.isEmpty()) {
      EditNamed("field")(a.config);
      EditNamed("rule")(a.config);
      EditNamed("form")(a.config);  // its group "Finder" comes after the two modifies
    } else {
      EditNamed(edit)(a.config);
    }
    ProgressHook wait;
    long progressed = 0;
    if (kill) {
      wait.onProgress = [&](long done) {
        progressed = done;
        if (done == killAt) server.Kill();
      };
    } else {
      QVERIFY(server.RefuseAdd("Finder"));
    }
    const msg::Result saved = store::Save(a.session, a.config, &wait);
    QVERIFY2(!saved.ok, std::to_string(progressed).c_str());
    if (kill) QVERIFY(server.Restart());
    Editor b;
    QVERIFY(b.Load(server));
    QCOMPARE(b.warnings.size(), size_t(0));
    if (const RuleSet* fifty = b.config.FindRuleSet("Fifty")) QCOMPARE(fifty->rules.size(), 49UL);
    if (!kill) {
      QCOMPARE(saved.Ids(), std::vector<int>{62137});
      QCOMPARE(Ldif(b.config), Ldif(original));
    }
  }
};

QTEST_GUILESS_MAIN(TestChangeSave)
#include "test_changesave.moc"
