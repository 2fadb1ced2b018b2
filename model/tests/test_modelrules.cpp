// The model's own rules, as tables: renames keep every reference right, removals refuse
// while a record is used (and say by whom), sibling names are unique as the directory
// compares them, and ids stay with a record through a rename and are new for a copy.
#include <QTest>
#include <algorithm>
#include <set>

#include "model/configuration.h"
#include "model/renaming.h"

namespace {

using Strings = std::vector<std::string>;

// People: Person and Org search rules, Root an entry point; Root searches Person and Org,
// Org searches Person. Other: Thing. Form Find (People): target Who by Person (fields
// Name), Where by Org (fields Unit, Post Code). Form Any (Other): target It by Thing.
std::unique_ptr<Configuration> Sample() {
  auto c = std::make_unique<Configuration>();
  RuleSet* people = c->AddRuleSet(std::make_unique<RuleSet>("People"));
  auto rule = [](RuleSet* set, const char* name) {
    return set->AddRule(
        std::make_unique<SearchRule>(set, name, std::vector<SearchRule*>{}, Strings{"person"}));
  };
  SearchRule* person = rule(people, "Person");
  SearchRule* org = rule(people, "Org");
  SearchRule* root = people->AddRule(std::make_unique<SearchRule>(
      people, "Root", std::vector<SearchRule*>{}, std::string("ldap://h/o=x")));
  root->AddSearchableRules({person, org});
  org->AddSearchableRule(person);
  RuleSet* other = c->AddRuleSet(std::make_unique<RuleSet>("Other"));
  SearchRule* thing = rule(other, "Thing");

  SearchForm* find = c->AddForm(std::make_unique<SearchForm>("Find", people));
  find->SetTargetGroup(std::make_unique<InputGroup>("Who", person));
  find->targetGroup->AddField("Name", "", {"cn"});
  auto where = std::make_unique<InputGroup>("Where", org);
  where->AddField("Unit", "", {"ou"});
  where->AddField("Post Code", "", {"postalCode"});
  find->AddInputGroup(std::move(where));
  SearchForm* any = c->AddForm(std::make_unique<SearchForm>("Any", other));
  any->SetTargetGroup(std::make_unique<InputGroup>("It", thing));
  any->targetGroup->AddField("Name", "", {"cn"});
  return c;
}

// Every reference between records, by the names they show now.
std::string References(const Configuration& c) {
  std::string out;
  for (const auto& set : c.ruleSets) {
    out += set->name + "{";
    for (const auto& rule : set->rules) {
      out += rule->name;
      for (size_t i = 0; i < rule->searchableRules.size(); ++i)
        out += (i ? "," : ">") + rule->searchableRules[i]->name;
      out += ";";
    }
    out += "} ";
  }
  for (const auto& form : c.searchForms) {
    out += form->name + "(" + form->ruleSet->name + "):";
    std::vector<const InputGroup*> groups{form->targetGroup.get()};
    for (const auto& g : form->inputGroups) groups.push_back(g.get());
    for (const InputGroup* g : groups) {
      out += " " + g->name + "=" + g->searchRule->name + "[";
      for (const auto& f : g->fields) out += f->name + ";";
      out += "]";
    }
    out += " ";
  }
  return out;
}

enum class Kind { RuleSet, Rule, Form, Group, Field };

// The record of `kind` at `path` ("set", "set/rule", "form", "form/group",
// "form/group/field"), renamed through the model; `id` and `name` say which record it is.
struct Target {
  RecordId id = 0;
  std::function<msg::Outcome(const std::string&)> rename;
  std::function<std::string()> name;
  // Finds the record by name through its holder's index (null for groups: none).
  std::function<const void*(const std::string&)> find;
  const void* record = nullptr;
};

Target TargetOf(Configuration& c, Kind kind, const Strings& path) {
  Target t;
  switch (kind) {
    case Kind::RuleSet: {
      RuleSet* set = c.FindRuleSet(path[0]);
      t = {set->id, [&c, set](const std::string& n) { return RenameRuleSet(c, *set, n); },
           [set] { return set->name; },
           [&c](const std::string& n) -> const void* { return c.FindRuleSet(n); }, set};
      break;
    }
    case Kind::Rule: {
      RuleSet* set = c.FindRuleSet(path[0]);
      SearchRule* rule = set->FindRule(path[1]);
      t = {rule->id, [set, rule](const std::string& n) { return RenameRule(*set, *rule, n); },
           [rule] { return rule->name; },
           [set](const std::string& n) -> const void* { return set->FindRule(n); }, rule};
      break;
    }
    case Kind::Form: {
      SearchForm* form = c.FindForm(path[0]);
      t = {form->id, [&c, form](const std::string& n) { return RenameForm(c, *form, n); },
           [form] { return form->name; },
           [&c](const std::string& n) -> const void* { return c.FindForm(n); }, form};
      break;
    }
    case Kind::Group:
    case Kind::Field: {
      SearchForm* form = c.FindForm(path[0]);
      InputGroup* group = form->targetGroup.get();
      for (const auto& g : form->inputGroups)
        if (g->name == path[1]) group = g.get();
      if (kind == Kind::Group) {
        t = {group->id,
             [form, group](const std::string& n) { return RenameGroup(*form, *group, n); },
             [group] { return group->name; }, nullptr, group};
        break;
      }
      InputField* field = group->FindField(path[2]);
      t = {field->id,
           [group, field](const std::string& n) { return RenameField(*group, *field, n); },
           [field] { return field->name; },
           [group](const std::string& n) -> const void* { return group->FindField(n); }, field};
      break;
    }
  }
  return t;
}

const std::string kSample =
    "People{Person;Org>Person;Root>Person,Org;} Other{Thing;} "
    "Find(People): Who=Person[Name;] Where=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ";

}  // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Strings)

class TestModelRules : public QObject {
  Q_OBJECT
 private slots:
  void rename_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Strings>("path");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<int>("refusal");         // 0: renamed
    QTest::addColumn<QString>("references");  // after the rename ("" = unchanged)
    const Kind set = Kind::RuleSet, rule = Kind::Rule, form = Kind::Form, group = Kind::Group,
               field = Kind::Field;
    auto row = [](const char* tag, Kind kind, Strings path, const char* name, int refusal,
                  const char* after = "") {
      QTest::newRow(tag) << kind << path << QString(name) << refusal << QString(after);
    };
    row("rule used by a group and searchable", rule, {"People", "Person"}, "Human", 0,
        "People{Human;Org>Human;Root>Human,Org;} Other{Thing;} Find(People): Who=Human[Name;] "
        "Where=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("entry point", rule, {"People", "Root"}, "Top", 0,
        "People{Person;Org>Person;Top>Person,Org;} Other{Thing;} Find(People): Who=Person[Name;] "
        "Where=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("rule to a sibling's name", rule, {"People", "Person"}, "Org", 62222);
    row("rule to a sibling's name in other case", rule, {"People", "Person"}, "ORG", 62320);
    row("rule to the name of a rule of another set", rule, {"People", "Person"}, "Thing", 0,
        "People{Thing;Org>Thing;Root>Thing,Org;} Other{Thing;} Find(People): Who=Thing[Name;] "
        "Where=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("rule to a name the text cannot hold", rule, {"People", "Org"}, "A, B", 62160);
    row("rule to its own name", rule, {"People", "Org"}, "Org", 0, kSample.c_str());
    row("rule set used by a form", set, {"People"}, "Staff", 0,
        "Staff{Person;Org>Person;Root>Person,Org;} Other{Thing;} Find(Staff): Who=Person[Name;] "
        "Where=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("rule set, other case", set, {"Other"}, "people", 62320);
    row("rule set, same name", set, {"Other"}, "People", 62172);
    row("rule set, not a file name", set, {"Other"}, "a/b", 62173);
    row("rule set, blank at the end", set, {"Other"}, "Things ", 62173);
    row("form", form, {"Find"}, "Search", 0,
        "People{Person;Org>Person;Root>Person,Org;} Other{Thing;} Search(People): "
        "Who=Person[Name;] Where=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("form, other case", form, {"Any"}, "FIND", 62320);
    row("form, same name", form, {"Any"}, "Find", 62180);
    row("group", group, {"Find", "Where"}, "Place", 0,
        "People{Person;Org>Person;Root>Person,Org;} Other{Thing;} Find(People): "
        "Who=Person[Name;] Place=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("group beside the target, other case", group, {"Find", "Where"}, "wHO", 62320);
    row("group, same name as a group of another form", group, {"Find", "Where"}, "It", 0,
        "People{Person;Org>Person;Root>Person,Org;} Other{Thing;} Find(People): "
        "Who=Person[Name;] It=Org[Unit;Post Code;] Any(Other): It=Thing[Name;] ");
    row("field", field, {"Find", "Where", "Unit"}, "Department", 0,
        "People{Person;Org>Person;Root>Person,Org;} Other{Thing;} Find(People): "
        "Who=Person[Name;] Where=Org[Department;Post Code;] Any(Other): It=Thing[Name;] ");
    row("field, blanks inside differ", field, {"Find", "Where", "Unit"}, "post   code", 62320);
    row("field, same name", field, {"Find", "Where", "Unit"}, "Post Code", 61252);
    row("field, line break", field, {"Find", "Where", "Unit"}, "a\nb", 62160);
  }

  void rename() {
    QFETCH(Kind, kind);
    QFETCH(Strings, path);
    QFETCH(QString, newName);
    QFETCH(int, refusal);
    QFETCH(QString, references);
    auto c = Sample();
    QCOMPARE(References(*c), kSample);
    Target target = TargetOf(*c, kind, path);
    const std::string oldName = target.name();
    const std::string name = newName.toStdString();
    const msg::Outcome renamed = target.rename(name);
    QCOMPARE(renamed.Ids(), refusal ? std::vector<int>{refusal} : std::vector<int>{});
    QCOMPARE(target.name(), refusal ? oldName : name);
    QCOMPARE(References(*c), refusal ? kSample : references.toStdString());
    // The same record (its id with it), found by its name now and not by the old one.
    if (target.find) {
      QCOMPARE(target.find(target.name()), target.record);
      if (!refusal && name != oldName) QVERIFY(!target.find(oldName));
    }
  }

  void remove_data() {
    QTest::addColumn<Strings>("path");   // {set} or {set, rule}
    QTest::addColumn<Strings>("users");  // empty: removed
    QTest::newRow("rule searched for and used by a group")
        << Strings{"People", "Person"} << Strings{"rule Org", "rule Root", "group Find/Who"};
    QTest::newRow("rule searched for by an entry point, used by a group")
        << Strings{"People", "Org"} << Strings{"rule Root", "group Find/Where"};
    QTest::newRow("rule used by a group only")
        << Strings{"Other", "Thing"} << Strings{"group Any/It"};
    QTest::newRow("rule nothing uses") << Strings{"People", "Root"} << Strings{};
    QTest::newRow("rule set used by a form") << Strings{"People"} << Strings{"form Find"};
    QTest::newRow("rule set nothing uses") << Strings{"Spare"} << Strings{};
  }

  void remove() {
    QFETCH(Strings, path);
    QFETCH(Strings, users);
    auto c = Sample();
    if (path[0] == "Spare") {
      RuleSet* spare = c->AddRuleSet(std::make_unique<RuleSet>("Spare"));
      spare->AddRule(std::make_unique<SearchRule>(spare, "Alone", std::vector<SearchRule*>{},
                                                  Strings{"person"}));
    }
    const std::string before = References(*c);
    RuleSet* set = c->FindRuleSet(path[0]);
    Strings found;
    bool removed = false;
    if (path.size() == 2) {
      SearchRule* rule = set->FindRule(path[1]);
      for (const RuleUse& use : UsesOfRule(*c, *set, *rule))
        found.push_back(use.searchingRule ? "rule " + use.searchingRule->name
                                          : "group " + use.form->name + "/" + use.group->name);
      const RecordId id = rule->id;
      std::unique_ptr<SearchRule> taken = RemoveRule(*c, *set, rule);
      removed = taken != nullptr;
      if (removed) QCOMPARE(taken->id, id);  // handed back whole, to keep or destroy
      QCOMPARE(set->FindRule(path[1]) == nullptr, removed);
    } else {
      for (const SearchForm* form : UsersOfRuleSet(*c, *set)) found.push_back("form " + form->name);
      removed = RemoveRuleSet(*c, set) != nullptr;
      QCOMPARE(c->FindRuleSet(path[0]) == nullptr, removed);
    }
    QCOMPARE(found, users);
    QCOMPARE(removed, users.empty());
    if (!removed) QCOMPARE(References(*c), before);
  }

  // A form whose groups search by rules of a set uses that set, whatever its own set.
  void aRuleSetIsUsedThroughItsRules() {
    auto c = Sample();
    RuleSet* other = c->FindRuleSet("Other");
    c->FindForm("Find")->targetGroup->searchRule = other->FindRule("Thing");
    std::vector<std::string> names;
    for (const SearchForm* form : UsersOfRuleSet(*c, *other)) names.push_back(form->name);
    QCOMPARE(names, (Strings{"Find", "Any"}));
    QVERIFY(!RemoveRuleSet(*c, other));
  }

  void idsAreUniqueAndNewForCopies() {
    auto c = Sample();
    std::set<RecordId> ids;
    size_t records = 0;
    auto note = [&](RecordId id) {
      QVERIFY(id != 0);
      ids.insert(id);
      ++records;
    };
    for (const auto& set : c->ruleSets) {
      note(set->id);
      for (const auto& rule : set->rules) note(rule->id);
    }
    for (const auto& form : c->searchForms) {
      note(form->id);
      std::vector<const InputGroup*> groups{form->targetGroup.get()};
      for (const auto& g : form->inputGroups) groups.push_back(g.get());
      for (const InputGroup* g : groups) {
        note(g->id);
        for (const auto& f : g->fields) note(f->id);
      }
    }
    QCOMPARE(ids.size(), records);
    // Copies are new records; moves within the configuration keep them.
    SearchRule* org = c->FindRuleSet("People")->FindRule("Org");
    const SearchRule copy(*org);
    QVERIFY(copy.id != org->id && !ids.count(copy.id));
    QVERIFY(copy.searchableRules == org->searchableRules);  // the same rules, not copies
    RuleSet* other = c->FindRuleSet("Other");
    QCOMPARE(other->AddRule(org), 1);
    QVERIFY(other->FindRule("Org")->id != org->id);
    QCOMPARE(other->FindRule("Org")->ownerRuleSet, other);
    const InputField& field = *c->FindForm("Find")->targetGroup->fields[0];
    const InputField fieldCopy(field);
    QVERIFY(fieldCopy.id != field.id);
    QCOMPARE(fieldCopy.filterAttributes, field.filterAttributes);
    const RecordId first = c->ruleSets[0]->id;
    std::rotate(c->ruleSets.begin(), c->ruleSets.begin() + 1, c->ruleSets.end());
    QCOMPARE(c->ruleSets[1]->id, first);
    QCOMPARE(c->FindRuleSet("People")->id, first);  // the index follows a direct move
  }

  // Lists changed directly (as the tests and generators do) are indexed afresh.
  void indexesFollowListsChangedDirectly() {
    auto c = Sample();
    QVERIFY(!c->FindRuleSet("Added"));
    c->ruleSets.push_back(std::make_unique<RuleSet>("Added"));
    QCOMPARE(c->FindRuleSet("Added"), c->ruleSets.back().get());
    c->ruleSets.erase(c->ruleSets.begin());
    QVERIFY(!c->FindRuleSet("People"));
    QCOMPARE(c->FindRuleSet("Other"), c->ruleSets.front().get());
    InputGroup* who = c->FindForm("Find")->targetGroup.get();
    QCOMPARE(who->AddField("Name", "", {"sn"}), 0);
    QVERIFY(!who->AddField(std::make_unique<InputField>("Name", "", Strings{"sn"})));
    QCOMPARE(who->RemoveField("Name"), 1);
    QVERIFY(!who->FindField("Name"));
  }
};

QTEST_GUILESS_MAIN(TestModelRules)
#include "test_modelrules.moc"
