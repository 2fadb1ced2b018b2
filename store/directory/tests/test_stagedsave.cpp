// The directory save against a real directory server: refusals that change nothing, the staged
// subtree and its swap with and without transactions, a server killed at each stage,
// reconnecting, cancelling, and the in-place save with its LDIF backup.
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "store/directory/leftovers.h"
#include "store/directory/oldcopyremover.h"
#include "store/directory/renamecheck.h"
#include "store/directory/subtreedelete.h"
#include "store/store.h"
#include "tests/support/ds389fixture.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/stallserver.h"
#include "tests/support/testoidtable.h"

using directory::SaveStage;
using testsupport::DirectoryServer;
using testsupport::SlapdFixture;

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";

const kvaro::Oidtable& Table() { return testsupport::DirectoryOidtable(); }

// Records what the save shows; asks to cancel once `cancelAfter` entries are written.
class RecordingWait : public directory::PleaseWait {
 public:
  void Show(const std::string&, const std::string&) override { open = true; }
  void SetMessage(const std::string&) override {}
  void SetProgress(long done, long total) override {
    lastDone = done;
    lastTotal = total;
  }
  bool CancelRequested() const override { return cancelAfter >= 0 && lastDone >= cancelAfter; }
  void Close() override { open = false; }
  bool open = false;
  long lastDone = -1, lastTotal = -1, cancelAfter = -1;
};

// `sets` rule sets of `rules` rules each and `forms` forms of two groups with three
// fields; names carry `tag`, so two configurations built with different tags differ in
// every entry.
void Build(testsupport::KeptConfiguration& c, const std::string& tag, int sets = 2, int rules = 3,
           int forms = 2) {
  RuleSet* first = nullptr;
  for (int s = 0; s < sets; ++s) {
    auto set = std::make_unique<RuleSet>(tag + " set " + std::to_string(s));
    for (int r = 0; r < rules; ++r) {
      SearchRule rule(set.get(), "Rule " + std::to_string(r), {},
                      std::vector<std::string>{"person"});
      set->AddRule(&rule);
    }
    SearchRule ep(set.get(), "Start", {}, std::string("ldap://dirhost:389/o=Sample"));
    set->AddRule(&ep);
    set->FindRule("Start")->AddSearchableRule(set->FindRule("Rule 0"));
    if (!first) first = set.get();
    c.ruleSets.push_back(std::move(set));
  }
  for (int f = 0; f < forms; ++f) {
    auto target = std::make_unique<InputGroup>("Target", first->FindRule("Rule 0"));
    for (int k = 0; k < 3; ++k) target->AddField("F" + std::to_string(k), "", {"cn", "sn"});
    auto more = std::make_unique<InputGroup>("More", first->FindRule("Start"));
    for (int k = 0; k < 3; ++k) more->AddField("M" + std::to_string(k), "", {"mail"});
    auto form =
        std::make_unique<SearchForm>(tag + " form " + std::to_string(f), first, std::move(target));
    form->AddInputGroup(std::move(more));
    form->toolTip = "tip " + tag;
    c.searchForms.push_back(std::move(form));
  }
}

// Every entry below and including `base` with every attribute, operational ones too, so
// that any write shows.
std::string Snapshot(ldapx::Connection& conn, const std::string& base) {
  const ldapx::SearchResult r =
      conn.Search(base, ldapx::Scope::Subtree, "(objectClass=*)", {"*", "+"});
  std::vector<std::string> entries;
  for (const ldapx::Entry& e : r.entries) {
    std::vector<std::string> lines;
    for (const ldapx::Attribute& a : e.attributes)
      for (const std::string& v : a.values) lines.push_back(a.type + ": " + v);
    std::sort(lines.begin(), lines.end());
    std::string text = "dn: " + e.dn + "\n";
    for (const std::string& l : lines) text += l + "\n";
    entries.push_back(text);
  }
  std::sort(entries.begin(), entries.end());
  std::string all = "code " + std::to_string(r.code) + "\n";
  for (const std::string& e : entries) all += e;
  return all;
}

// The user attributes of every entry below and including `base`, sorted: what a restore
// must give back (the operational ones change with any write).
std::string UserSnapshot(ldapx::Connection& conn, const std::string& base) {
  const ldapx::SearchResult r = conn.Search(base, ldapx::Scope::Subtree, "(objectClass=*)", {"*"});
  std::vector<std::string> entries;
  for (const ldapx::Entry& e : r.entries) {
    std::vector<std::string> lines;
    for (const ldapx::Attribute& a : e.attributes)
      for (const std::string& v : a.values) lines.push_back(a.type + ": " + v);
    std::sort(lines.begin(), lines.end());
    std::string text = "dn: " + *ldapx::NormalizeDn(e.dn) + "\n";
    for (const std::string& l : lines) text += l + "\n";
    entries.push_back(text);
  }
  std::sort(entries.begin(), entries.end());
  std::string all =
      "code " + std::to_string(r.code) + " entries " + std::to_string(entries.size()) + "\n";
  for (const std::string& e : entries) all += e;
  return all;
}

// The records in their order, as loaded.
std::string Text(const Configuration& c) {
  std::string out;
  for (const auto& rs : c.ruleSets) {
    out += "RS " + rs->name + ":";
    for (const auto& r : rs->rules) out += " " + r->name;
    out += "\n";
  }
  for (const auto& f : c.searchForms) {
    out += "F " + f->name + " " + (f->ruleSet ? f->ruleSet->name : "-") + " " + f->toolTip;
    if (f->targetGroup) out += " T:" + f->targetGroup->name;
    for (const auto& g : f->inputGroups) {
      out += " G:" + g->name;
      for (const auto& fl : g->fields) out += "," + fl->name;
    }
    out += "\n";
  }
  return out;
}

// What the directory holds at kRoot, loaded as the program loads it ("none" when there is
// no configuration root); the ids of the load's warnings into `warningIds` if given.
std::string Stored(const DirectoryServer& server, std::vector<int>* warningIds = nullptr) {
  auto conn = server.Connect();
  if (!conn) {
    QFile log(QString::fromStdString(server.folder() + "/server.log"));
    log.open(QIODevice::ReadOnly);
    qWarning("%s", log.readAll().constData());
    return "no server";
  }
  testsupport::KeptConfiguration c;
  c.session.directory.subtreeDn = kRoot;
  msg::Problems warnings;
  if (!directory::LoadSubtree(c, c.session.directory.subtreeDn, Table(), *conn, warnings))
    return "none";
  if (warningIds)
    for (const msg::Problem& p : warnings) warningIds->push_back(p.id);
  return Text(c);
}

std::string Expected(const std::string& tag, int sets = 2, int rules = 3, int forms = 2) {
  testsupport::KeptConfiguration c;
  Build(c, tag, sets, rules, forms);
  return Text(c);
}

// Entries beside the configuration root whose names carry a save's mark.
std::vector<std::string> Marked(const DirectoryServer& server) {
  auto conn = server.Connect();
  std::vector<std::string> out;
  if (!conn) return out;
  for (const auto& e :
       conn->Search("o=Sample", ldapx::Scope::OneLevel, "(cn=*orvelle-*)", {"1.1"}).entries)
    out.push_back(e.dn);
  return out;
}

testsupport::KeptConfiguration& Target(testsupport::KeptConfiguration& c,
                                       const DirectoryServer& server, bool admin = true) {
  c.session.startupMode = StartupMode::kDirectory;
  c.session.directory.subtreeDn = kRoot;
  c.session.directory.server.address = server.host();
  c.session.directory.server.port = server.port();
  c.session.directory.server.bindDn = admin ? server.adminDn() : server.writerDn();
  c.session.directory.password = admin ? server.adminPassword() : server.writerPassword();
  c.session.directory.connection = server.Connect(admin);
  return c;
}

directory::SaveOptions WithTransactions(bool on) {
  directory::SaveOptions o;
  o.useTransactions = on;
  return o;
}

}  // namespace

class TestStagedSave : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(Table().str2at("ovFiltAttrList"));
    // Writes to a killed server fail as errors; a SIGPIPE would reach Qt Test's crash
    // handler and fail the test.
  }

  // An entry that is not a configuration root is neither written to nor read from.
  void targetNotOursRefused_data() {
    QTest::addColumn<QString>("dn");
    QTest::newRow("organisation") << "o=Sample";
    QTest::newRow("person") << "cn=writer,o=Sample";
  }
  void targetNotOursRefused() {
    QFETCH(QString, dn);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration stored;
    Build(Target(stored, server), "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(stored.session.directory, stored)));
    auto admin = server.Connect();
    const std::string before = Snapshot(*admin, "o=Sample");

    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    Build(c, "new");
    const std::string url = server.url() + "/" + dn.toStdString();
    c.session.directory = testsupport::LogonAs(server.adminDn(), server.adminPassword());
    QVERIFY(!testsupport::Shown(directory::SaveConfigurationToUrl(c.session.directory, c, url)));
    QCOMPARE(sink.Ids(), std::vector<int>{62130});
    QVERIFY(sink.messages[0].text.find(dn.toStdString()) != std::string::npos);
    QCOMPARE(Snapshot(*admin, "o=Sample"), before);

    sink.messages.clear();
    Configuration load;
    directory::Session anonymous;
    QVERIFY(
        !testsupport::Shown(directory::LoadConfigurationFromUrl(anonymous, load, Table(), url)));
    QCOMPARE(sink.Ids(), std::vector<int>{62131});
    QVERIFY(load.ruleSets.empty());
  }

  // Whatever the server would refuse part-way, or what would not load back as saved, is
  // refused before the first write: one message, the directory byte for byte the same.
  // The LDIF of the same configuration is refused with the same message.
  void refusalsChangeNothing_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("id");
    QTest::newRow("two forms of one name") << "twoForms" << 62132;
    QTest::newRow("rule sets differing in case") << "case" << 62132;
    QTest::newRow("form named like a rule set") << "formLikeSet" << 62132;
    QTest::newRow("names differing in inner blanks") << "blanks" << 62132;
    QTest::newRow("empty entry-point URI") << "emptyUri" << 62134;
    QTest::newRow("form without rule set") << "noRuleSet" << 62134;
    QTest::newRow("blank rule name") << "blankName" << 62133;
    QTest::newRow("name not UTF-8") << "latin1" << 62135;
    QTest::newRow("dollar in a group name") << "dollarGroup" << 62136;
    QTest::newRow("dollar in a filter type") << "dollarType" << 62136;
    QTest::newRow("NUL in a field name") << "nul" << 62264;
  }
  void refusalsChangeNothing() {
    QFETCH(QString, change);
    QFETCH(int, id);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    auto admin = server.Connect();
    const std::string before = Snapshot(*admin, "o=Sample");

    RuleSet& set = *c.ruleSets[0];
    SearchForm& form = *c.searchForms[0];
    if (change == "twoForms") {
      auto target = std::make_unique<InputGroup>("T", set.rules[0].get());
      target->AddField("x", "", {"cn"});
      c.searchForms.push_back(std::make_unique<SearchForm>(form.name, &set, std::move(target)));
    } else if (change == "case") {
      c.ruleSets.push_back(std::make_unique<RuleSet>("OLD SET 0"));
      SearchRule r(c.ruleSets.back().get(), "x", {}, std::vector<std::string>{"person"});
      c.ruleSets.back()->AddRule(&r);
    } else if (change == "formLikeSet") {
      form.name = set.name;
    } else if (change == "blanks") {
      c.searchForms[1]->name = "old  form 0";
    } else if (change == "emptyUri") {
      set.FindRule("Start")->ldapUri.clear();
    } else if (change == "noRuleSet") {
      form.ruleSet = nullptr;
    } else if (change == "blankName") {
      set.rules[1]->name = "  ";
    } else if (change == "latin1") {
      form.name =
          "Gr\xF6\xDF"
          "e";
    } else if (change == "dollarGroup") {
      form.inputGroups[0]->name = "A $ B";
    } else if (change == "dollarType") {
      form.targetGroup->fields[0]->filterAttributes.push_back("cn$sn");
    } else if (change == "nul") {
      form.targetGroup->fields[0]->name = std::string("Na\0me", 5);
    }
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    RecordingWait wait;
    QVERIFY(!testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, &wait)));
    QCOMPARE(sink.Ids(), std::vector<int>{id});
    QVERIFY(!wait.open);
    QCOMPARE(Snapshot(*admin, "o=Sample"), before);
    std::string ldif;
    QVERIFY(
        !testsupport::Shown(directory::ConfigurationLdif(c, c.session.directory.subtreeDn, ldif)));
    QCOMPARE(sink.Ids(), (std::vector<int>{id, id}));
    QVERIFY(ldif.empty());
  }

  // The end state is what a save always produced: the same entries at the same DNs, the
  // root entry with its own attributes, nothing beside it; the order of records kept.
  void stagedSaveReplacesWhole_data() {
    QTest::addColumn<bool>("transactions");
    QTest::newRow("transactions") << true;
    QTest::newRow("without transactions") << false;
  }
  void stagedSaveReplacesWhole() {
    QFETCH(bool, transactions);
    ORVELLE_SHARED_SERVER(server);
    auto admin = server.Connect();
    QCOMPARE(admin->Add(kRoot, ldapx::ModList()
                                   .Add("objectClass", {"top", "ovConfigurationRoot"})
                                   .Add("cn", {"Orvelle Configuration", "Second name"})),
             ldapx::kSuccess);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old", 3, 4, 3);
    std::vector<SaveStage> stages;
    directory::SaveOptions options = WithTransactions(transactions);
    options.onStage = [&](SaveStage s) { stages.push_back(s); };
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QCOMPARE(QString::fromStdString(Stored(server)),
             QString::fromStdString(Expected("old", 3, 4, 3)));

    c.Clear();
    Build(c, "new", 2, 3, 2);
    stages.clear();
    RecordingWait wait;
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, &wait, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), Expected("new", 2, 3, 2));
    QCOMPARE(wait.lastDone, wait.lastTotal);
    QCOMPARE(wait.lastTotal, long(1 + 2 * 5 + 2 * 9));
    std::vector<SaveStage> want = {SaveStage::Checked, SaveStage::StagingHalfway,
                                   SaveStage::Staged};
    want.push_back(SaveStage::BetweenRenames);
    want.push_back(SaveStage::Swapped);
    QCOMPARE(QList<SaveStage>(stages.begin(), stages.end()),
             QList<SaveStage>(want.begin(), want.end()));
    QVERIFY(Marked(server).empty());
    const auto root = admin->Search(kRoot, ldapx::Scope::Base, "(objectClass=*)", {"cn"});
    QCOMPARE(root.entries.size(), size_t(1));
    auto names = root.entries[0].Find("cn")->values;
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (std::vector<std::string>{"Orvelle Configuration", "Second name"}));
    // The DNs are those of writing in place.
    testsupport::KeptConfiguration inPlace;
    inPlace.session.directory.subtreeDn = kRoot;
    Build(inPlace, "new", 2, 3, 2);
    std::vector<std::string> planned{directory::StripDn(kRoot)};
    for (const auto& e : directory::PlanConfiguration(inPlace, inPlace.session.directory.subtreeDn))
      planned.push_back(e.dn);
    std::vector<std::string> stored;
    for (const auto& e :
         admin->Search(kRoot, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"}).entries)
      stored.push_back(*ldapx::NormalizeDn(e.dn));
    for (auto& dn : planned) dn = *ldapx::NormalizeDn(dn);
    std::sort(planned.begin(), planned.end());
    std::sort(stored.begin(), stored.end());
    QCOMPARE(stored, planned);
  }

  // The server refuses one add in the middle of the staging subtree: nothing changes,
  // also with hundreds of adds in flight around the refused one.
  void addRefusedMidway_data() {
    QTest::addColumn<bool>("transactions");
    QTest::addColumn<int>("sets");
    QTest::addColumn<int>("rules");
    QTest::addColumn<int>("forms");
    QTest::addColumn<int>("refused");
    QTest::newRow("transactions") << true << 3 << 30 << 3 << 1;
    QTest::newRow("without transactions") << false << 3 << 30 << 3 << 1;
    QTest::newRow("without transactions, many siblings") << false << 100 << 3 << 200 << 170;
  }
  void addRefusedMidway() {
    QFETCH(bool, transactions);
    QFETCH(int, sets);
    QFETCH(int, rules);
    QFETCH(int, forms);
    QFETCH(int, refused);
    ORVELLE_SHARED_SERVER(server);
    QVERIFY(server.RefuseAdd("Forbidden"));
    testsupport::KeptConfiguration c;
    Build(Target(c, server, false), "old", sets, rules, forms);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr,
                                                            WithTransactions(transactions))));
    auto admin = server.Connect();
    const std::string before = Snapshot(*admin, "o=Sample");
    c.searchForms[refused]->name = "Forbidden";
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr,
                                                             WithTransactions(transactions))));
    QCOMPARE(sink.Ids(), std::vector<int>{62137});
    QVERIFY(sink.messages[0].text.find("cn=Forbidden," + kRoot) != std::string::npos);
    QCOMPARE(Snapshot(*admin, "o=Sample"), before);
  }

  // Siblings written many at a time still load in the order of the configuration: a
  // save over a stored configuration, and a second one with the records in reverse. The
  // rows: many short runs of rules below one long run of records; several long runs of
  // rules side by side.
  // Both ways of writing long runs: waves whose order is checked (a far server) and one
  // sibling after the other (a near one). Waves put siblings taken up out of order back
  // in place by touching them, or by deleting and sending them again, or find them with
  // a search; sent at once, many come out of order.
  void siblingOrderKept_data() {
    QTest::addColumn<int>("sets");
    QTest::addColumn<int>("rules");
    QTest::addColumn<int>("forms");
    QTest::addColumn<bool>("waves");
    QTest::addColumn<QString>("order");  // touch, delete, search
    QTest::addColumn<int>("spacing");    // microseconds between two adds of a run
    // On 389 DS, where each row takes seconds, one row of each way of putting the order
    // right runs: waves touched, waves deleted, chained.
    QTest::addColumn<bool>("on389");
    QTest::newRow("short runs, waves") << 120 << 6 << 200 << true << "touch" << 300 << true;
    QTest::newRow("long runs side by side, waves")
        << 8 << 70 << 10 << true << "touch" << 300 << false;
    QTest::newRow("long runs, touched, sent at once")
        << 8 << 70 << 200 << true << "touch" << 0 << false;
    QTest::newRow("long runs, deleted, sent at once")
        << 8 << 70 << 200 << true << "delete" << 0 << true;
    QTest::newRow("long runs, waves checked by search")
        << 8 << 70 << 200 << true << "search" << 300 << false;
    QTest::newRow("short runs, chained") << 120 << 6 << 200 << false << "touch" << 300 << true;
    QTest::newRow("long runs side by side, chained")
        << 8 << 70 << 10 << false << "touch" << 300 << false;
  }
  void siblingOrderKept() {
    QFETCH(int, sets);
    QFETCH(int, rules);
    QFETCH(int, forms);
    QFETCH(bool, waves);
    QFETCH(QString, order);
    QFETCH(int, spacing);
    QFETCH(bool, on389);
    ORVELLE_SHARED_SERVER(server);
    if (dynamic_cast<testsupport::Ds389Fixture*>(&server)) {
      if (!on389)
        QSKIP("on 389 DS a row of the same way of putting the order right covers this one");
      // Each add takes longer there: half as many short runs still cross many waves.
      if (sets > 100) {
        sets /= 2;
        forms /= 2;
      }
    }
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    directory::SaveOptions options;
    options.chainedRoundTrip = waves ? std::chrono::microseconds(0) : std::chrono::seconds(10);
    options.readBackOrder = order != "search";
    options.touchOutOfOrder = order == "touch";
    options.streamSpacing = std::chrono::microseconds(spacing);
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "first", sets, rules, forms);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QCOMPARE(Stored(server), Expected("first", sets, rules, forms));
    std::reverse(c.ruleSets.begin(), c.ruleSets.end());
    std::reverse(c.searchForms.begin(), c.searchForms.end());
    for (auto& rs : c.ruleSets) std::reverse(rs->rules.begin(), rs->rules.end());
    const std::string want = Text(c);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), want);
    QVERIFY(Marked(server).empty());
  }

  // A server that lets the writer add entries but not change them: siblings taken up out
  // of order are deleted and sent again instead, and the order holds.
  void touchRefused() {
    ORVELLE_SHARED_SERVER(server);
    auto* slapd = dynamic_cast<testsupport::SlapdFixture*>(&server);
    if (!slapd) QSKIP("the rule is written for slapd");
    QVERIFY(slapd->AddAccessRule("access to attrs=objectClass by dn.exact=\"" + server.writerDn() +
                                 "\" =arscx by * read"));
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    directory::SaveOptions options;
    options.chainedRoundTrip = std::chrono::microseconds(0);
    options.streamSpacing = std::chrono::microseconds(0);
    testsupport::KeptConfiguration c;
    Build(Target(c, server, false), "first", 8, 70, 200);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), Expected("first", 8, 70, 200));
    QVERIFY(Marked(server).empty());
  }

  // The server killed at each stage of a save and started again: the stored configuration
  // is the old or the new one, whole; the next save reconnects, succeeds and leaves
  // nothing of the broken one behind.
  void serverKilled_data() {
    QTest::addColumn<bool>("transactions");
    QTest::addColumn<int>("stage");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("waves");
    // On 389 DS, where a kill and restart take seconds, the rows where what the server
    // keeps differs run: a subtree half written, and each of the two renames.
    QTest::addColumn<bool>("on389");
    const auto add = [](const char* name, bool t, SaveStage s, const char* after,
                        bool waves = false, bool on389 = true) {
      QTest::newRow(name) << t << static_cast<int>(s) << QString(after) << waves << on389;
    };
    // Between the two renames the root is missing; the old configuration waits whole
    // under its marked name, and a load takes it from there ("aside"), saying so.
    add("txn: checked", true, SaveStage::Checked, "old");
    add("txn: staging halfway", true, SaveStage::StagingHalfway, "old");
    add("txn: staged", true, SaveStage::Staged, "old");
    add("txn: between renames", true, SaveStage::BetweenRenames, "aside");
    add("txn: swapped", true, SaveStage::Swapped, "new");
    add("no txn: staging halfway", false, SaveStage::StagingHalfway, "old");
    add("no txn, waves: staging halfway", false, SaveStage::StagingHalfway, "old", true, false);
    add("no txn: staged", false, SaveStage::Staged, "old", false, false);
    add("no txn: between renames", false, SaveStage::BetweenRenames, "aside");
    add("no txn: swapped", false, SaveStage::Swapped, "new");
  }
  void serverKilled() {
    QFETCH(bool, transactions);
    QFETCH(int, stage);
    QFETCH(QString, after);
    QFETCH(bool, waves);
    QFETCH(bool, on389);
    ORVELLE_SHARED_SERVER(server);
    if (transactions && !server.offersTransactions())
      QSKIP("the server offers no transactions: the rows without them cover it");
    if (!on389 && dynamic_cast<testsupport::Ds389Fixture*>(&server))
      QSKIP("on 389 DS the row of a half written subtree covers this one");
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old", 4, 60, 20);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    c.Clear();
    Build(c, "new", 4, 60, 20);
    directory::SaveOptions options = WithTransactions(transactions);
    if (waves) options.chainedRoundTrip = std::chrono::microseconds(0);
    options.onStage = [&](SaveStage s) {
      if (static_cast<int>(s) == stage) server.Kill();
    };
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const bool saved =
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options));
    QCOMPARE(sink.messages.size(), size_t(1));
    QCOMPARE(saved, after == "new");  // after the swap: saved, with a warning
    QVERIFY(server.Restart());
    std::vector<int> warnings;
    const std::string stored = Stored(server, &warnings);
    QVERIFY2(stored == Expected(after == "new" ? "new" : "old", 4, 60, 20),
             stored.substr(0, 300).c_str());
    QCOMPARE(warnings,
             after == "aside" ? std::vector<int>{msg::id::kRootRenamedAway} : std::vector<int>{});
    if (after == "aside") {
      // As the editor goes on from such a load: its save puts the configuration back at
      // the root's name.
      testsupport::KeptConfiguration back;
      back.oidtable = &Table();
      Target(back, server);
      const msg::Result loaded = directory::LoadConfigurationFromUrl(
          back.session.directory, back, Table(),
          server.url() + "/cn=Orvelle%20Configuration,o=Sample", {}, nullptr, true);
      QVERIFY(loaded.ok);
      QVERIFY(testsupport::Shown(store::Save(back.session, back)));
      warnings.clear();
      QCOMPARE(Stored(server, &warnings), Expected("old", 4, 60, 20));
      QCOMPARE(warnings, std::vector<int>{});
      QCOMPARE(Marked(server), std::vector<std::string>{});
    }

    options.onStage = nullptr;
    options.oldLeftoverSeconds = 0;
    sink.messages.clear();
    c.Clear();
    Build(c, "third", 4, 60, 20);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), Expected("third", 4, 60, 20));
    QCOMPARE(Marked(server), std::vector<std::string>{});
  }

  // A save that leaves its old copy returns with the new configuration in place; the
  // copy is removed meanwhile. When that fails or is cancelled, nothing is lost: the copy
  // keeps its marked name and a later save removes it.
  void oldCopyRemovedWhileTheProgramGoesOn_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("removed") << "removed";
    QTest::newRow("server gone") << "gone";
    QTest::newRow("cancelled while the server stalls") << "cancel";
    QTest::newRow("program ends while the server stalls") << "end";
  }
  void oldCopyRemovedWhileTheProgramGoesOn() {
    QFETCH(QString, how);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server, false), "old", 4, 30, 10);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    c.Clear();
    Build(c, "new", 4, 30, 10);
    directory::OldCopy copy;
    directory::SaveOptions options;
    options.leaveOldCopy = &copy;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), Expected("new", 4, 30, 10));
    QCOMPARE(Marked(server).size(), size_t(1));
    QCOMPARE(ldapx::NormalizeDn(Marked(server).front()), ldapx::NormalizeDn(copy.dn));
    QCOMPARE(copy.server.bindDn, server.writerDn());

    testsupport::StallServer stall(testsupport::StallServer::Mode::Silent);
    if (how == "cancel" || how == "end") copy.server.port = stall.port();
    if (how == "gone") server.Kill();
    {
      directory::OldCopyRemover remover([](const msg::Problems& p) { msg::Show(p); });
      remover.Add(copy);
      if (how == "cancel" || how == "end") {
        // Only a stalling server keeps it busy for sure: a refused connection may end
        // the removal before the test looks.
        QVERIFY(remover.Busy());
        QTRY_COMPARE(stall.accepted(), 1);
        QVERIFY(!remover.WaitIdle(std::chrono::milliseconds(300)));
      }
      if (how == "cancel") remover.Cancel();
      if (how != "end") QVERIFY(remover.WaitIdle(std::chrono::seconds(60)));
    }  // destroyed: a removal still waiting on the server ends
    if (how == "gone") {
      QCOMPARE(sink.Ids(), std::vector<int>{62139});
      QVERIFY(server.Restart());
    } else {
      QVERIFY(sink.messages.empty());
    }
    QCOMPARE(Stored(server), Expected("new", 4, 30, 10));
    QCOMPARE(Marked(server).size(), size_t(how == "removed" ? 0 : 1));

    options.leaveOldCopy = nullptr;
    options.oldLeftoverSeconds = 0;
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QCOMPARE(Stored(server), Expected("new", 4, 30, 10));
    QCOMPARE(Marked(server), std::vector<std::string>{});
  }

  // A save after the server restarted opens a new connection with the logon's
  // credentials; a server that is gone is reported and changes nothing.
  void saveAfterRestartReconnects() {
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server, false), "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    const auto before = c.session.directory.connection;
    QVERIFY(server.Restart());
    c.Clear();
    Build(c, "new");
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    QVERIFY(sink.messages.empty());
    QVERIFY(c.session.directory.connection != before);
    QCOMPARE(Stored(server), Expected("new"));

    server.Stop();
    QVERIFY(!testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    QCOMPARE(sink.Ids(), std::vector<int>{62144});
    QVERIFY(server.Restart());
    QCOMPARE(Stored(server), Expected("new"));
  }

  // Cancel before the swap: nothing changes and the staging subtree is gone.
  void cancelBeforeSwap_data() {
    QTest::addColumn<bool>("transactions");
    QTest::newRow("transactions") << true;
    QTest::newRow("without transactions") << false;
  }
  void cancelBeforeSwap() {
    QFETCH(bool, transactions);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old", 4, 60, 20);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    auto admin = server.Connect();
    const std::string before = Snapshot(*admin, "o=Sample");
    c.Clear();
    Build(c, "new", 10, 100, 20);  // more entries than one chunk of adds
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    RecordingWait wait;
    wait.cancelAfter = 1;  // after the first chunk of adds or the first answers
    QVERIFY(!testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, &wait,
                                                             WithTransactions(transactions))));
    QCOMPARE(sink.Ids(), std::vector<int>{62143});
    QVERIFY(!wait.open);
    QCOMPARE(Snapshot(*admin, "o=Sample"), before);
  }

  // The servers of the suite move whole subtrees, and asking leaves nothing beside the
  // root. A server whose renames leave entries behind (389 DS 3.1 with its LMDB
  // database; the session holds that answer here, as asking such a server gives it) gets
  // no subtree renames: the first save writes straight to the root's DN, the next in
  // place after a backup, and a save of changes that would move a form in is such a
  // whole save. The warning comes once a session.
  void partialSubtreeRenamesAvoided() {
    ORVELLE_SHARED_SERVER(server);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QTemporaryDir backups;
    directory::SaveOptions options;
    options.backupFolder = backups.path().toStdString();
    std::vector<SaveStage> stages;
    options.onStage = [&](SaveStage s) { stages.push_back(s); };
    const auto backupCount = [&] {
      return QDir(backups.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size();
    };
    testsupport::KeptConfiguration c;
    c.oidtable = &Table();
    directory::Session& session = Target(c, server).session.directory;
    QCOMPARE(directory::CheckSubtreeRenames(session), directory::SubtreeRenames::Whole);
    QCOMPARE(Marked(server), std::vector<std::string>{});

    const auto partial = [&](directory::Session& s, bool told) {
      s.renamesCheckedOn = server.host() + ":" + std::to_string(server.port());
      s.subtreeRenames = directory::SubtreeRenames::Partial;
      s.partialRenamesTold = told;
    };
    partial(session, false);
    Build(c, "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(session, c, nullptr, options)));
    QCOMPARE(sink.Ids(), std::vector<int>{msg::id::kPartialSubtreeRenames});
    QCOMPARE(Stored(server), Expected("old"));
    QCOMPARE(Marked(server), std::vector<std::string>{});
    QVERIFY(std::find(stages.begin(), stages.end(), SaveStage::BetweenRenames) == stages.end());
    QCOMPARE(backupCount(), 0);  // nothing was stored to back up

    c.Clear();
    Build(c, "new", 3, 2, 3);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(session, c, nullptr, options)));
    QCOMPARE(sink.Ids(), std::vector<int>{msg::id::kPartialSubtreeRenames});
    QCOMPARE(Stored(server), Expected("new", 3, 2, 3));
    QCOMPARE(Marked(server), std::vector<std::string>{});
    QCOMPARE(backupCount(), 1);

    testsupport::KeptConfiguration e;
    e.oidtable = &Table();
    Target(e, server);
    QVERIFY(directory::LoadConfigurationFromUrl(
                e.session.directory, e, Table(),
                server.url() + "/cn=Orvelle%20Configuration,o=Sample", {}, nullptr, true)
                .ok);
    partial(e.session.directory, true);
    e.searchForms.front()->targetGroup->AddField("Extra", "", {"cn"});
    const std::string edited = Text(e);
    options.onStage = nullptr;
    QVERIFY(testsupport::Shown(store::Save(e.session, e, nullptr, options)));
    QCOMPARE(Stored(server), edited);
    QCOMPARE(Marked(server), std::vector<std::string>{});
    QCOMPARE(backupCount(), 2);
    QCOMPARE(sink.Ids(), std::vector<int>{msg::id::kPartialSubtreeRenames});
  }

  // On a server that stops answering, the check of its renames ends with the
  // connection's operation limit, or at once on Cancel; an answer it did not get is not
  // kept, so the next save asks again.
  void renameCheckOnASilentServer_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("operation limit") << false;
    QTest::newRow("cancelled") << true;
  }
  void renameCheckOnASilentServer() {
    QFETCH(bool, cancel);
    testsupport::StallServer deaf(testsupport::StallServer::Mode::BindThenDeaf);
    directory::Session session;
    session.subtreeDn = kRoot;
    session.connection = ldapx::Connection::Open("127.0.0.1", deaf.port(), {2, cancel ? 60 : 1});
    QVERIFY(session.connection);
    QCOMPARE(session.connection->SimpleBind("", ""), ldapx::kSuccess);
    QElapsedTimer clock;
    clock.start();
    directory::SubtreeRenames answer = directory::SubtreeRenames::Whole;
    {
      ldapx::CancelScope scope([&] { return cancel && clock.elapsed() > 300; });
      answer = directory::CheckSubtreeRenames(session);
    }
    QCOMPARE(answer, directory::SubtreeRenames::Unknown);
    QVERIFY2(clock.elapsed() < 5000, std::to_string(clock.elapsed()).c_str());
    QCOMPARE(session.renamesCheckedOn, std::string());
  }

  // The server killed (SIGKILL) during the check of its renames, after the adds or after
  // the rename: the check gives up at once and keeps no answer, and the next save, with
  // the server back, removes what the check left.
  void renameCheckServerKilled_data() {
    QTest::addColumn<QString>("at");
    QTest::newRow("after the adds") << "added";
    QTest::newRow("after the rename") << "renamed";
  }
  void renameCheckServerKilled() {
    ORVELLE_SHARED_SERVER(server);
    if (server.kind() != testsupport::ServerKind::Ds389)
      QSKIP("only 389 Directory Server is asked by writing");
    QFETCH(QString, at);
    testsupport::KeptConfiguration c;
    c.oidtable = &Table();
    directory::Session& session = Target(c, server).session.directory;
    QElapsedTimer clock;
    clock.start();
    const directory::SubtreeRenames answer =
        directory::CheckSubtreeRenames(session, [&](std::string_view step) {
          if (at.toStdString() == step) server.Kill();
        });
    QCOMPARE(answer, directory::SubtreeRenames::Unknown);
    QVERIFY2(clock.elapsed() < 10000, std::to_string(clock.elapsed()).c_str());
    QCOMPARE(session.renamesCheckedOn, std::string());
    QVERIFY(server.Restart());
    QCOMPARE(Marked(server).size(), size_t(1));
    Build(c, "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(session, c, nullptr, {})));
    QCOMPARE(Marked(server), std::vector<std::string>{});
    QCOMPARE(Stored(server), Expected("old"));
    QCOMPARE(session.renamesCheckedOn, server.host() + ":" + std::to_string(server.port()));
  }

  // Where the directory refuses the entry beside the root, the save writes in place
  // after an LDIF backup; when that fails, the backup is put back.
  void inPlaceWithBackup() {
    // The writer may write below the root but not beside it, and no entry named
    // "Forbidden": slapd with its own access rules, 389 DS with ACIs on the shared server.
    std::unique_ptr<SlapdFixture> own;
    DirectoryServer* chosen = nullptr;
    if (testsupport::ServerKindFromEnvironment() == testsupport::ServerKind::Slapd) {
      SlapdFixture::Options opt;
      opt.accessRules = {
          "access to dn.exact=\"o=Sample\" attrs=children by "
          "dn.exact=\"cn=writer,o=Sample\" read by * read",
          "access to dn.regex=\"^cn=[Ff]orbidden,\" attrs=entry by * read"};
      own = std::make_unique<SlapdFixture>(opt);
      QVERIFY2(own->ok(), own->error().c_str());
      chosen = own.get();
    } else {
      ORVELLE_SHARED_SERVER(shared);
      auto* ds = dynamic_cast<testsupport::Ds389Fixture*>(&shared);
      QVERIFY(ds);
      QVERIFY(ds->RefuseAddOfNamesHolding(".orvelle-save-"));
      QVERIFY(ds->RefuseAdd("Forbidden"));
      chosen = ds;
    }
    DirectoryServer& server = *chosen;
    QTemporaryDir backups;
    directory::SaveOptions options;
    options.backupFolder = backups.path().toStdString() + "/deeper/backups";
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old");
    QVERIFY(testsupport::Shown(
        directory::SaveConfiguration(c.session.directory, c)));  // the administrator creates it
    c.session.directory.connection = server.Connect(false);
    c.session.directory.server.bindDn = server.writerDn();
    c.session.directory.password = server.writerPassword();

    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    c.Clear();
    Build(c, "new");
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), Expected("new"));
    const auto files = QDir(QString::fromStdString(options.backupFolder)).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    std::ifstream in(options.backupFolder + "/" + files[0].toStdString());
    std::stringstream ldif;
    ldif << in.rdbuf();
    QVERIFY(ldif.str().rfind("version: 1\n\ndn: " + kRoot + "\n", 0) == 0);
    QVERIFY(ldif.str().find("dn: cn=old form 1," + kRoot + "\n") != std::string::npos);
    QVERIFY(ldif.str().find("entryCSN") == std::string::npos);

    // Refused in the middle of writing in place: the stored one comes back, in order.
    c.searchForms[1]->name = "Forbidden";
    QVERIFY(!testsupport::Shown(
        directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QCOMPARE(sink.Ids(), std::vector<int>{62140});
    QVERIFY(sink.messages[0].text.find(options.backupFolder) != std::string::npos);
    QCOMPARE(Stored(server), Expected("new"));
    QVERIFY(Marked(server).empty());

    // No backup, no save in place.
    sink.messages.clear();
    options.backupFolder = "/proc/no-such-place";
    QVERIFY(!testsupport::Shown(
        directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QCOMPARE(sink.Ids(), std::vector<int>{62142});
    QCOMPARE(Stored(server), Expected("new"));
  }

  // Where the in-place save is refused part-way (a stored entry the writer may not delete,
  // or an entry that cannot be added back), the stored configuration comes back from the
  // backup and is read back; the message gives the server's reason, and names the entries
  // that could not be put back and where the backup is. A server that reports the
  // writer's rights (389 DS; slapd does not) has the save refused before anything changes.
  void inPlaceRefusedPartway_data() {
    QTest::addColumn<QString>("refused");  // what the writer may not do
    QTest::addColumn<bool>("restored");
    QTest::newRow("delete of a field deep in the tree") << "deleteField" << true;
    QTest::newRow("delete of a rule") << "deleteRule" << true;
    QTest::newRow("add of a new form, and the add back of a stored one") << "addBack" << false;
  }
  void inPlaceRefusedPartway() {
    QFETCH(QString, refused);
    QFETCH(bool, restored);
    const std::string field = "cn=F1,cn=Target,cn=old form 37," + kRoot;
    const std::string rule = "cn=Rule 1,cn=old set 2," + kRoot;
    std::unique_ptr<SlapdFixture> own;
    DirectoryServer* chosen = nullptr;
    const bool upFront = testsupport::ServerKindFromEnvironment() != testsupport::ServerKind::Slapd;
    if (!upFront) {
      SlapdFixture::Options opt;
      // Nothing beside the root: the save must write in place.
      opt.accessRules = {
          "access to dn.exact=\"o=Sample\" attrs=children by "
          "dn.exact=\"cn=writer,o=Sample\" read by * read"};
      if (refused == "deleteField") opt.refuseDelete = {field};
      if (refused == "deleteRule") opt.refuseDelete = {rule};
      if (refused == "addBack") {
        // A stored form the writer may delete but not add, and a new one it may not add.
        opt.accessRules.push_back(
            "access to dn.regex=\"^cn=[Oo]ld form 7,\" attrs=entry by "
            "dn.exact=\"cn=writer,o=Sample\" =rscxdz by * read");
        opt.accessRules.push_back("access to dn.regex=\"^cn=[Bb]locked,\" attrs=entry by * read");
      }
      own = std::make_unique<SlapdFixture>(opt);
      QVERIFY2(own->ok(), own->error().c_str());
      chosen = own.get();
    } else {
      if (refused == "addBack") QSKIP("the access rules are written for slapd");
      ORVELLE_SHARED_SERVER(shared);
      auto* ds = dynamic_cast<testsupport::Ds389Fixture*>(&shared);
      QVERIFY(ds);
      QVERIFY(ds->RefuseAddOfNamesHolding(".orvelle-save-"));
      chosen = ds;
    }
    DirectoryServer& server = *chosen;
    QTemporaryDir backups;
    directory::SaveOptions options;
    options.backupFolder = backups.path().toStdString();
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old", 4, 5, 50);
    QVERIFY(testsupport::Shown(
        directory::SaveConfiguration(c.session.directory, c)));  // the administrator creates it
    if (upFront) QVERIFY(server.RefuseDelete(refused == "deleteField" ? field : rule));
    auto admin = server.Connect();
    const std::string before = UserSnapshot(*admin, kRoot);
    const std::string stored = Stored(server);
    const std::string whole = Snapshot(*admin, "o=Sample");

    c.Clear();
    Build(c, "new", 3, 4, 40);
    if (refused == "addBack") c.searchForms[20]->name = "Blocked";
    c.session.directory.connection = server.Connect(false);
    c.session.directory.server.bindDn = server.writerDn();
    c.session.directory.password = server.writerPassword();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!testsupport::Shown(
        directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    const std::string& text = sink.messages.at(0).text;
    if (upFront) {
      QCOMPARE(sink.Ids(), std::vector<int>{62147});
      QVERIFY2(text.find(refused == "deleteField" ? field : rule) != std::string::npos,
               text.c_str());
      QCOMPARE(Snapshot(*admin, "o=Sample"), whole);
      QVERIFY(QDir(backups.path()).entryList(QDir::Files).isEmpty());
      return;
    }
    QCOMPARE(sink.Ids(), std::vector<int>{restored ? 62140 : 62141});
    QVERIFY2(text.find("Insufficient access") != std::string::npos, text.c_str());
    QVERIFY2(text.find(options.backupFolder) != std::string::npos, text.c_str());
    QCOMPARE(QDir(backups.path()).entryList(QDir::Files).size(), 1);
    if (restored) {
      QCOMPARE(QString::fromStdString(Stored(server)), QString::fromStdString(stored));
      QCOMPARE(UserSnapshot(*admin, kRoot), before);
      if (refused == "deleteField") QVERIFY2(text.find(field) != std::string::npos, text.c_str());
    } else {
      // Everything but the form the writer may not add back (and what lies below it).
      QVERIFY2(text.find("cn=old form 7," + kRoot) != std::string::npos, text.c_str());
      QVERIFY2(text.find("cn=old form 6,") == std::string::npos, text.c_str());
      testsupport::KeptConfiguration want;
      Build(want, "old", 4, 5, 50);
      want.searchForms.erase(want.searchForms.begin() + 7);
      QCOMPARE(QString::fromStdString(Stored(server)), QString::fromStdString(Text(want)));
    }
    QVERIFY(Marked(server).empty());
    // The connection still serves: the server was never lost.
    QCOMPARE(c.session.directory.connection
                 ->Search(kRoot, ldapx::Scope::Base, "(objectClass=*)", {"1.1"})
                 .code,
             ldapx::kSuccess);
  }

  // Subtrees that earlier failed saves left beside the root, many entries in all, do not
  // hold up the save: it returns with them still there, and they are removed with the old
  // copy. A subtree whose name only looks like a save's stays.
  void leftoversRemovedAfterTheSave() {
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server, false), "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    auto admin = server.Connect();
    const std::string name = "Orvelle Configuration";
    const std::vector<std::string> ours = {
        name + ".orvelle-save-20200101000000-0123456789abcdef",
        name + ".orvelle-old-20200102030405-fedcba9876543210",
        name + ".orvelle-old-20200102030405-fedcba9876543210-3",
        name + ".orvelle-old-id-0a1b2c3d-4e5f6071-8293a4b5-c6d7e8f9",    // 389 DS
        name + ".orvelle-old-id-0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"};  // OpenLDAP
    const std::vector<std::string> notOurs = {
        name + ".orvelle-save-mine", name + ".orvelle-old-20200101000000-XYZ",
        name + ".orvelle-old-id-mine", name + ".orvelle-old-id-0a1b2c3d"};
    std::vector<ldapx::Connection::AddRequest> adds;
    for (const std::string& leftover : ours) {
      const std::string dn = "cn=" + leftover + ",o=Sample";
      adds.push_back({dn,
                      ldapx::ModList()
                          .Add("objectClass", {"top", "ovConfigurationRoot"})
                          .Add("cn", {leftover}),
                      -1});
      const int top = static_cast<int>(adds.size()) - 1;
      for (int k = 0; k < 400; ++k)
        adds.push_back({"cn=set " + std::to_string(k) + "," + dn,
                        ldapx::ModList()
                            .Add("objectClass", {"top", "ovRuleSet"})
                            .Add("cn", {"set " + std::to_string(k)}),
                        top});
    }
    for (const std::string& leftover : notOurs)
      adds.push_back({"cn=" + leftover + ",o=Sample",
                      ldapx::ModList()
                          .Add("objectClass", {"top", "ovConfigurationRoot"})
                          .Add("cn", {leftover}),
                      -1});
    int failed = -1;
    QCOMPARE(admin->AddMany(adds, 64, &failed), ldapx::kSuccess);
    const auto marked = [&] {
      std::vector<std::string> names;
      for (const std::string& dn : Marked(server)) names.push_back(ldapx::FirstRdn(dn)->value);
      std::sort(names.begin(), names.end());
      return names;
    };
    const std::vector<std::string> before = marked();
    QCOMPARE(before.size(), ours.size() + notOurs.size());

    c.Clear();
    Build(c, "new");
    directory::OldCopy copy;
    directory::SaveOptions options;
    options.leaveOldCopy = &copy;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)));
    QVERIFY(sink.messages.empty());
    QCOMPARE(Stored(server), Expected("new"));
    std::vector<std::string> after = before;  // and the old copy of this save
    after.push_back(ldapx::FirstRdn(copy.dn)->value);
    std::sort(after.begin(), after.end());
    QCOMPARE(marked(), after);
    {
      directory::OldCopyRemover remover([](const msg::Problems& p) { msg::Show(p); });
      remover.Add(copy);
      QVERIFY(remover.WaitIdle(std::chrono::seconds(60)));
    }
    QVERIFY(sink.messages.empty());
    std::vector<std::string> left = notOurs;
    std::sort(left.begin(), left.end());
    QCOMPARE(marked(), left);
    QCOMPARE(Stored(server), Expected("new"));
  }

  // Search forms and rule sets that a save moved out beside the root under their unique
  // ids and did not remove (the save was killed): a removal of leftovers takes them once the
  // rename that put them there (their modifyTimestamp, which the rename renews) is at
  // least as old as it is told, and leaves younger ones (a running save may rename one
  // back to take itself back) and names that only look like ours.
  void movedOutFormsRemovedOnceOld_data() {
    QTest::addColumn<QString>("name");  // the naming value of the entry moved out
    QTest::addColumn<bool>("form");     // else a rule set moved out
    QTest::addColumn<int>("minAge");    // seconds
    QTest::addColumn<bool>("removed");
    const QString ours = "Orvelle Configuration.orvelle-old-id-";
    const QString openLdapId = "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
    const QString ds389Id = "0a1b2c3d-4e5f6071-8293a4b5-c6d7e8f9";
    QTest::newRow("OpenLDAP id") << ours + openLdapId << true << 0 << true;
    QTest::newRow("389 DS id") << ours + ds389Id << true << 0 << true;
    QTest::newRow("moved out too recently") << ours + openLdapId << true << 600 << false;
    QTest::newRow("no unique id") << ours + "mine" << true << 0 << false;
    QTest::newRow("another root's")
        << "Other Configuration.orvelle-old-id-" + ds389Id << true << 0 << false;
    QTest::newRow("a rule set") << ours + ds389Id << false << 0 << true;
  }
  void movedOutFormsRemovedOnceOld() {
    QFETCH(QString, name);
    QFETCH(bool, form);
    QFETCH(int, minAge);
    QFETCH(bool, removed);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    auto admin = server.Connect();
    const std::string from = (form ? "cn=old form 1," : "cn=old set 1,") + kRoot;
    const std::string to = "cn=" + ldapx::EscapeDnValue(name.toStdString()) + ",o=Sample";
    // The first row shows that the rename renews modifyTimestamp: its time must differ
    // from the add's.
    const bool first = QTest::currentDataTag() == QStringLiteral("OpenLDAP id");
    if (first) QTest::qSleep(1100);
    ldapx::EntryWrite move;
    move.kind = ldapx::EntryWrite::Kind::Rename;
    move.dn = from;
    move.newRdn = "cn=" + ldapx::EscapeDnValue(name.toStdString());
    move.newSuperior = "o=Sample";
    QCOMPARE(ldapx::WriteEntry(*admin, move), ldapx::kSuccess);
    const auto read = [&] {
      return admin->Search(to, ldapx::Scope::Base, "(objectClass=*)",
                           {"createTimestamp", "modifyTimestamp"});
    };
    const ldapx::SearchResult moved = read();
    QCOMPARE(moved.code, ldapx::kSuccess);
    const ldapx::Attribute* created = moved.entries.at(0).Find("createTimestamp");
    const ldapx::Attribute* modified = moved.entries.at(0).Find("modifyTimestamp");
    QVERIFY(created && modified);
    if (first)
      QVERIFY2(modified->values.at(0) > created->values.at(0), "the rename keeps modifyTimestamp");

    directory::ClearLeftovers(*admin, kRoot, minAge);
    QCOMPARE(read().code, removed ? ldapx::kNoSuchObject : ldapx::kSuccess);
    QCOMPARE(admin->Search(kRoot, ldapx::Scope::Base, "(objectClass=*)", {"1.1"}).code,
             ldapx::kSuccess);
    if (!removed) QCOMPARE(directory::RemoveSubtree(*admin, to, true), ldapx::kSuccess);
  }

  // A removal of leftovers (another save's, at any age) while a save runs. Between the
  // save's two renames it takes the staged subtree, so that the second rename fails, and
  // leaves the old copy alone: the root is missing, and the save renames the copy back,
  // which keeps the stored configuration. After the swap the root stands and the removal
  // takes the copy. The copy carries the stored root's unique id in its name, so that
  // every server names it alike.
  void oldCopyKeptWhileTheRootIsMissing_data() {
    QTest::addColumn<int>("stage");   // where the save is when the leftovers are removed
    QTest::addColumn<bool>("saved");  // else the save fails, the old configuration kept
    QTest::newRow("between the renames") << static_cast<int>(SaveStage::BetweenRenames) << false;
    QTest::newRow("after the swap") << static_cast<int>(SaveStage::Swapped) << true;
  }
  void oldCopyKeptWhileTheRootIsMissing() {
    QFETCH(int, stage);
    QFETCH(bool, saved);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration c;
    Build(Target(c, server), "old");
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(c.session.directory, c)));
    auto admin = server.Connect();
    const ldapx::SearchResult root =
        admin->Search(kRoot, ldapx::Scope::Base, "(objectClass=*)", {"nsUniqueId", "entryUUID"});
    QCOMPARE(root.code, ldapx::kSuccess);
    const ldapx::Attribute* id = root.entries.at(0).Find(
        server.kind() == testsupport::ServerKind::Ds389 ? "nsUniqueId" : "entryUUID");
    QVERIFY(id && id->values.size() == 1);
    c.Clear();
    Build(c, "new");
    std::vector<std::string> left;  // beside the root after the removal
    directory::SaveOptions options;
    options.onStage = [&](SaveStage s) {
      if (static_cast<int>(s) != stage) return;
      directory::ClearLeftovers(*admin, kRoot, 0);
      for (const std::string& dn : Marked(server)) left.push_back(ldapx::FirstRdn(dn)->value);
    };
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QCOMPARE(
        testsupport::Shown(directory::SaveConfiguration(c.session.directory, c, nullptr, options)),
        saved);
    QCOMPARE(sink.Ids(), saved ? std::vector<int>{} : std::vector<int>{62146});
    QCOMPARE(left, saved ? std::vector<std::string>{}
                         : std::vector<std::string>{"Orvelle Configuration.orvelle-old-id-" +
                                                    id->values.front()});
    QCOMPARE(Stored(server), Expected(saved ? "new" : "old"));
    QCOMPARE(Marked(server), std::vector<std::string>{});
  }

  // Two saves of one configuration at once, each over its own connection: the one that
  // loses says that another save changed the configuration meanwhile, and the other's
  // configuration is the stored one. The rows: the winner takes the loser's subtree (a
  // leftover to it) while the loser writes it; the winner stores its configuration while
  // the loser is between its two renames.
  void simultaneousSaves_data() {
    QTest::addColumn<int>("stage");  // where the losing save is when the other one runs
    QTest::newRow("subtree taken while written") << static_cast<int>(SaveStage::StagingHalfway);
    QTest::newRow("root stored between the renames") << static_cast<int>(SaveStage::BetweenRenames);
  }
  void simultaneousSaves() {
    QFETCH(int, stage);
    ORVELLE_SHARED_SERVER(server);
    testsupport::KeptConfiguration loser;
    Build(Target(loser, server), "old", 4, 60, 20);
    QVERIFY(testsupport::Shown(directory::SaveConfiguration(loser.session.directory, loser)));
    loser.Clear();
    Build(loser, "loser", 4, 60, 20);
    testsupport::KeptConfiguration winner;
    Build(Target(winner, server), "winner");
    directory::SaveOptions winnerOptions;
    winnerOptions.oldLeftoverSeconds = 0;
    std::optional<bool> won;
    directory::SaveOptions options;
    options.onStage = [&](SaveStage s) {
      if (static_cast<int>(s) == stage && !won)
        won = testsupport::Shown(
            directory::SaveConfiguration(winner.session.directory, winner, nullptr, winnerOptions));
    };
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!testsupport::Shown(
        directory::SaveConfiguration(loser.session.directory, loser, nullptr, options)));
    QVERIFY(won && *won);
    QCOMPARE(sink.Ids(), std::vector<int>{62146});
    QVERIFY2(sink.messages[0].text.find(kRoot) != std::string::npos, sink.messages[0].text.c_str());
    QCOMPARE(Stored(server), Expected("winner"));
  }
};

QTEST_GUILESS_MAIN(TestStagedSave)
#include "test_stagedsave.moc"
