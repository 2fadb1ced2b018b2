#include <QTest>

#include "model/configuration.h"
#include "platform/support/messages.h"
#include "tests/support/shownstore.h"

namespace {
std::unique_ptr<SearchRule> NewClassRule(RuleSet* owner, const std::string& name) {
  return std::make_unique<SearchRule>(owner, name, std::vector<SearchRule*>{},
                                      std::vector<std::string>{"person"});
}
}  // namespace

class TestConfiguration : public QObject {
  Q_OBJECT
 private slots:
  void addRuleRefusesADuplicateNameAndKeepsTheArgument() {
    RuleSet set("People");
    SearchRule first(&set, "Person", {}, std::vector<std::string>{"person"});
    QCOMPARE(set.AddRule(&first), 1);
    QVERIFY(set.rules.front().get() != &first);  // a copy is stored
    SearchRule again(&set, "Person", {}, std::string("ldap://h:389/o=x"));
    QCOMPARE(set.AddRule(&again), 0);
    QCOMPARE(set.rules.size(), size_t(1));
    QCOMPARE(set.rules.front()->ruleType, RuleTypeSearchRule);
    QCOMPARE(again.name, std::string("Person"));  // still usable by its owner
    QVERIFY(set.FindRule("Person"));
    QVERIFY(!set.FindRule("person"));  // names compare case-sensitively
  }

  void addInputGroupRefusesOnlyTheSameObject() {
    RuleSet set("S");
    std::unique_ptr<SearchRule> rule = NewClassRule(&set, "R");
    SearchForm form("F", &set);
    auto ownedA = std::make_unique<InputGroup>("Same", rule.get());
    auto ownedB = std::make_unique<InputGroup>("Same", rule.get());
    InputGroup* a = ownedA.get();
    InputGroup* b = ownedB.get();
    QCOMPARE(form.AddInputGroup(std::move(ownedA)), 1);
    QCOMPARE(form.AddInputGroup(std::move(ownedB)), 1);
    // Handing in a group the form already holds adds nothing and leaves it held once.
    QCOMPARE(form.AddInputGroup(std::unique_ptr<InputGroup>(a)), 0);
    QCOMPARE(form.inputGroups.size(), size_t(2));
    QCOMPARE(form.RemoveInputGroup("Same"), 1);
    QCOMPARE(form.inputGroups.front().get(), b);
  }

  void typeSpecificOperationsRefuseTheOtherType() {
    SearchRule entry(nullptr, "Root", {}, std::string("ldap://h:389/o=x"));
    SearchRule search(nullptr, "Person", {}, std::vector<std::string>{"person"});
    QCOMPARE(entry.AddObjectClass("top"), 0);
    QCOMPARE(entry.RemoveObjectClass("top"), 0);
    QCOMPARE(search.SetLdapUri("ldap://x"), 0);
    std::string uri = "unchanged";
    QCOMPARE(search.GetLdapUri(uri), 0);
    QCOMPARE(uri, std::string("unchanged"));
    QCOMPARE(entry.GetLdapUri(uri), 1);
    QCOMPARE(uri, std::string("ldap://h:389/o=x"));
    QCOMPARE(search.AddObjectClass("person"), 0);
    QCOMPARE(search.AddObjectClass("top"), 1);
    QCOMPARE(search.RemoveObjectClass("person"), 1);
    QCOMPARE(search.RemoveObjectClass("person"), 0);
  }

  void copiesOfRules() {
    SearchRule person(nullptr, "Person", {}, std::vector<std::string>{"person"});
    SearchRule unit(nullptr, "Unit", {&person}, std::vector<std::string>{"organizationalUnit"});
    QCOMPARE(unit.AddSearchableRule(&person), 0);  // name already there
    SearchRule copy(unit);
    QCOMPARE(copy.searchableRules.size(), size_t(1));
    // A copy is a new record referring to the same rules.
    QVERIFY(copy.id != unit.id);
    QCOMPARE(copy.searchableRules[0], &person);
    SearchRule root(nullptr, "Root", {&person}, std::string("ldap://h/o=x"));
    QCOMPARE(root.searchableRules.size(), size_t(1));
    SearchRule rootCopy(root);  // a copy of an entry point has no searchable rules
    QVERIFY(rootCopy.searchableRules.empty());
    QCOMPARE(rootCopy.ldapUri, root.ldapUri);
    QCOMPARE(unit.RemoveSearchableRule("Person"), 1);
    QCOMPARE(unit.RemoveSearchableRule("Person"), 0);
  }

  // A failed check returns its message; the model shows nothing itself, the caller shows
  // what the checks returned.
  void checksReturnTheirMessages() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    msg::Problems found;
    auto fails = [&found](const msg::Outcome& checked) {
      found.insert(found.end(), checked.problems.begin(), checked.problems.end());
      return !checked;
    };
    RuleSet empty("Empty");
    QVERIFY(fails(empty.Check()));
    std::unique_ptr<SearchRule> rule = NewClassRule(&empty, "R");
    SearchForm form("Form", &empty);
    QVERIFY(fails(form.Check()));
    form.SetTargetGroup(std::make_unique<InputGroup>("Target", rule.get()));
    QVERIFY(!fails(form.Check()));  // a target and no further groups is enough
    QVERIFY(fails(form.targetGroup->Check()));
    InputField field("Field", "", {});
    QVERIFY(fails(field.Check()));
    QVERIFY(sink.messages.empty());
    msg::Show(found);
    QCOMPARE(sink.Ids(), (std::vector<int>{61281, 61265, 61262, 61260}));
    QCOMPARE(sink.messages[0].text,
             std::string("Rule set 'Empty' contains no rules. Either delete the rule set or\n"
                         "add some rules before proceeding."));
    QCOMPARE(sink.messages[2].text,
             std::string("No input fields defined for form input group 'Target'!"));
  }

  void fieldsAndFilterAttributes() {
    InputGroup group("G", nullptr);
    QCOMPARE(group.AddField("Name", "", {"cn"}), 1);
    QCOMPARE(group.AddField("Name", "x", {"sn"}), 0);
    InputField* f = group.FindField("Name");
    QVERIFY(f);
    QCOMPARE(f->AddFilterAttribute("cn"), 0);
    QCOMPARE(f->AddFilterAttribute("sn"), 1);
    QCOMPARE(f->RemoveFilterAttribute("mail"), 0);
    QCOMPARE(f->RemoveFilterAttribute("cn"), 1);
    QCOMPARE(f->RemoveFilterAttribute("sn"), 1);
    QCOMPARE(f->RemoveFilterAttribute("sn"), 0);  // empty list
    QCOMPARE(group.RemoveField("Name"), 1);
    QCOMPARE(group.RemoveField("Name"), 0);
  }

  void clearKeepsSettings() {
    testsupport::KeptConfiguration c;
    c.session.startupMode = StartupMode::kDirectory;
    c.session.directory.server.address = "dirhost";
    c.session.directory.server.port = 389;
    c.session.configurationDirectory = "/tmp/x";
    c.ruleSets.push_back(std::make_unique<RuleSet>("S"));
    c.searchForms.push_back(std::make_unique<SearchForm>("F", c.ruleSets.back().get()));
    c.Clear();
    QVERIFY(c.ruleSets.empty());
    QVERIFY(c.searchForms.empty());
    QCOMPARE(c.session.startupMode, StartupMode::kDirectory);
    QCOMPARE(c.session.directory.server.address, std::string("dirhost"));
    QCOMPARE(c.session.directory.server.port, 389);
    QCOMPARE(c.session.configurationDirectory, std::string("/tmp/x"));
  }

  void detachLeavesTheRecordToTheCaller() {
    testsupport::KeptConfiguration c;
    c.ruleSets.push_back(std::make_unique<RuleSet>("A"));
    c.ruleSets.push_back(std::make_unique<RuleSet>("A"));
    RuleSet* second = c.ruleSets[1].get();
    QCOMPARE(c.FindRuleSet("A"), c.ruleSets[0].get());
    auto detached = c.DetachRuleSet(second);
    QCOMPARE(detached.get(), second);
    QCOMPARE(c.ruleSets.size(), size_t(1));
    QVERIFY(!c.DetachRuleSet(second));
  }
};

QTEST_GUILESS_MAIN(TestConfiguration)
#include "test_configuration.moc"
