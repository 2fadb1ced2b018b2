#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/linereader.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/files/templatefile.h"
#include "tests/support/shownstore.h"
#include "tests/support/testfiles.h"
#include "tests/support/workedexample.h"

namespace fs = std::filesystem;

using testsupport::kWorkedExample;
using testsupport::kWorkedExampleCopy;
using testsupport::ReadFile;
using testsupport::Snapshot;
using testsupport::WriteFile;

namespace {

using testsupport::LoadShown;
using testsupport::SaveShown;

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable table;
  if (table.AttributeTypeCount() == 0)
    ldapx::LoadOidtable(table, std::string(ORVELLE_SOURCE_DIR) + "/resources/oidtable32");
  return table;
}

std::vector<std::string> Names(const std::vector<std::unique_ptr<SearchRule>>& rules) {
  std::vector<std::string> out;
  for (const auto& r : rules) out.push_back(r->name);
  return out;
}

std::vector<std::string> Names(const std::vector<SearchRule*>& rules) {
  std::vector<std::string> out;
  for (const auto* r : rules) out.push_back(r->name);
  return out;
}

using Strings = std::vector<std::string>;

// The forms as "Form[Group:field,field|Group:field] ...", target group first.
std::string FormsText(const Configuration& c) {
  std::string out;
  for (const auto& f : c.searchForms) {
    if (!out.empty()) out += " ";
    out += f->name + "[";
    std::vector<const InputGroup*> groups;
    if (f->targetGroup) groups.push_back(f->targetGroup.get());
    for (const auto& g : f->inputGroups) groups.push_back(g.get());
    for (size_t i = 0; i < groups.size(); ++i) {
      out += (i ? "|" : "") + groups[i]->name + ":";
      for (size_t k = 0; k < groups[i]->fields.size(); ++k)
        out += (k ? "," : "") + groups[i]->fields[k]->name;
    }
    out += "]";
  }
  return out;
}

// A configuration in memory: rule set `set` with a search rule, and a form on it.
void AddSetWithForm(testsupport::KeptConfiguration& c, const std::string& set,
                    const std::string& form) {
  RuleSet* rs = c.FindRuleSet(set);
  if (!rs) {
    c.ruleSets.push_back(std::make_unique<RuleSet>(set));
    rs = c.ruleSets.back().get();
    const SearchRule rule(rs, "Person", {}, Strings{"person"});
    rs->AddRule(&rule);
  }
  auto target = std::make_unique<InputGroup>("Who", rs->FindRule("Person"));
  target->AddField("Name", "", {"cn"});
  c.searchForms.push_back(std::make_unique<SearchForm>(form, rs, std::move(target)));
}

}  // namespace

class TestTemplateFile : public QObject {
  Q_OBJECT
 private slots:
  void workedExampleReadsBackAsDescribed() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table()).ReadText(kWorkedExample);
    QCOMPARE(c.ruleSets.size(), size_t(1));
    const RuleSet& set = *c.ruleSets[0];
    QCOMPARE(set.name, std::string("People"));
    QCOMPARE(Names(set.rules), (Strings{"Root", "Person", "Unit"}));
    const SearchRule* root = set.FindRule("Root");
    QCOMPARE(root->ruleType, RuleTypeEntryPoint);
    QCOMPARE(root->ldapUri, std::string("ldap://dirhost:389/o=Sample"));
    std::vector<SearchRule*> searchable;
    root->GetSearchableRules(searchable);
    QCOMPARE(Names(searchable), (Strings{"Person", "Unit"}));
    searchable.clear();
    set.FindRule("Unit")->GetSearchableRules(searchable);
    QCOMPARE(Names(searchable), (Strings{"Person"}));
    QCOMPARE(set.FindRule("Unit")->objectClasses, (Strings{"organizationalUnit"}));

    QCOMPARE(c.searchForms.size(), size_t(1));
    const SearchForm& form = *c.searchForms[0];
    QCOMPARE(form.name, std::string("Find a person"));
    QCOMPARE(form.ruleSet, c.ruleSets[0].get());
    QCOMPARE(form.toolTip, std::string("Search for people"));
    QCOMPARE(form.helpString, std::string("Type part of a name"));
    QVERIFY(form.targetGroup);
    QCOMPARE(form.targetGroup->name, std::string("Person details"));
    QCOMPARE(form.targetGroup->searchRule, set.FindRule("Person"));
    QCOMPARE(form.targetGroup->fields[0]->filterAttributes, (Strings{"cn", "sn"}));
    QCOMPARE(form.targetGroup->fields[0]->defaultValue, std::string());
    QCOMPARE(form.inputGroups.size(), size_t(1));
    QCOMPARE(form.inputGroups[0]->name, std::string("Department"));
    QCOMPARE(form.inputGroups[0]->searchRule, set.FindRule("Unit"));
    QCOMPARE(form.inputGroups[0]->fields[0]->filterAttributes, (Strings{"ou"}));
  }

  void copiesAreAFixedPoint() {
    QTemporaryDir source, first, second;
    WriteFile(fs::path(source.path().toStdString()) / "RuleSet=People", kWorkedExample);

    testsupport::KeptConfiguration a;
    a.session.configurationDirectory = source.path().toStdString();
    QCOMPARE(LoadShown(a, Table()), 1);
    a.session.configurationDirectory = first.path().toStdString();
    QVERIFY(SaveShown(a));
    const fs::path firstFile = fs::path(first.path().toStdString()) / "RuleSet=People";
    QCOMPARE(ReadFile(firstFile), std::string(kWorkedExampleCopy));
    QCOMPARE(Snapshot(first.path().toStdString()).size(), size_t(1));  // no temporary left

    testsupport::KeptConfiguration b;
    b.session.configurationDirectory = first.path().toStdString();
    QCOMPARE(LoadShown(b, Table()), 1);
    b.session.configurationDirectory = second.path().toStdString();
    QVERIFY(SaveShown(b));
    QCOMPARE(ReadFile(fs::path(second.path().toStdString()) / "RuleSet=People"),
             ReadFile(firstFile));
  }

  void tipAndHelpTextsKeepTheirColons() {
    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "S", "F");
    c.searchForms[0]->toolTip = "Search: people at ldap://host:389";
    c.searchForms[0]->helpString = "Type a name:  then press Enter :";
    std::string text;
    QVERIFY(RuleSetFileText(c, *c.ruleSets[0], text));
    testsupport::KeptConfiguration back;
    TemplateReader(back, Table()).ReadText(text);
    QCOMPARE(back.searchForms[0]->toolTip, std::string("Search: people at ldap://host:389"));
    QCOMPARE(back.searchForms[0]->helpString, std::string("Type a name:  then press Enter :"));
  }

  void emptyTipAndHelpReadBackEmpty() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText(
            "RuleSet: S\nClass: P : person\nForm: F\nFormTipString:\nFormHelpString:   \n"
            "FormFieldGroup: G : P\nFormField: N : cn\n");
    QCOMPARE(c.searchForms[0]->toolTip, std::string());
    QCOMPARE(c.searchForms[0]->helpString, std::string());
  }

  void fieldGroupKeywordWithAndWithoutBlank() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText(
            "RuleSet: S\nClass: P : person\nForm: F\n"
            "FormFieldGroup : A : P\nFormField: N : cn\n"
            "FormFieldGroup: B : P\nFormField: M : sn\n");
    QCOMPARE(c.searchForms[0]->targetGroup->name, std::string("A"));
    QCOMPARE(c.searchForms[0]->inputGroups.size(), size_t(1));
    QCOMPARE(c.searchForms[0]->inputGroups[0]->name, std::string("B"));
  }

  // The lines below a form or group line that is not read belong to no record: they
  // are not read into the form or group before it.
  void linesOfARecordNotReadAreNotReadElsewhere_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("forms");
    const QString first =
        "RuleSet: S\nClass: P : person\nForm: First\nFormFieldGroup: A : P\n"
        "FormField: N : cn\n";
    QTest::newRow("group with an unknown rule")
        << first + "Form: Second\nFormFieldGroup: B : NoSuchRule\nFormField: M : sn\n"
        << "First[A:N] Second[]";
    QTest::newRow("form line not read")
        << first + "Form: Two : pieces\nFormFieldGroup: B : P\nFormField: M : sn\n"
        << "First[A:N]";
    QTest::newRow("fields before the form's first group")
        << first + "Form: Second\nFormField: M : sn\nFormFieldGroup: B : P\nFormField: K : sn\n"
        << "First[A:N] Second[B:K]";
    QTest::newRow("group line not read") << first + "FormFieldGroup: B\nFormField: M : sn\n"
                                         << "First[A:N]";
  }
  void linesOfARecordNotReadAreNotReadElsewhere() {
    QFETCH(QString, text);
    QFETCH(QString, forms);
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table()).ReadText(text.toStdString());
    QCOMPARE(QString::fromStdString(FormsText(c)), forms);
  }

  // Each file is read on its own: a line before a file's own rule set, form or group
  // line does not land in a record of the file before it. Two files of one rule set
  // give one rule set.
  void eachFileStandsOnItsOwn() {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=A",
              "FormField: Lost : cn\nRuleSet: A\nClass: P : person\n"
              "Form: FA\nFormFieldGroup: G : P\nFormField: N : cn\n");
    WriteFile(folder / "RuleSet=B",
              "FormField: Carried : sn\nFormFieldGroup: H : P\nFormField: M : sn\n"
              "RuleSet: B\nClass: Q : person\n");
    WriteFile(folder / "RuleSet=B~",
              "RuleSet: B\nClass: R : person\nForm: FB\n"
              "FormFieldGroup: K : R\nFormField: L : sn\n");
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    QCOMPARE(LoadShown(c, Table()), 1);
    QCOMPARE(c.ruleSets.size(), size_t(2));
    QCOMPARE(Names(c.ruleSets[1]->rules), (Strings{"Q", "R"}));
    QCOMPARE(FormsText(c), std::string("FA[G:N] FB[K:L]"));
  }

  // A load names every line it leaves out, or reads only in part, in one warning per
  // file with the line's number and the reason; `check` then fails, and nobody copies a
  // folder that loses lines without being told.
  void linesLeftOutAreNamed_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");
    const QString set = "RuleSet: S\nClass: P : person\n";
    const QString form = "Form: F\nFormFieldGroup : G : P\nFormField: N : cn\n";
    QTest::newRow("the worked example") << QString::fromStdString(kWorkedExample) << "";
    QTest::newRow("object class the table does not know, with one it knows")
        << set + "Class: Some : bogus, person\n" + form
        << "line 3: Class: Some : bogus, person (the attribute table does not know bogus)";
    QTest::newRow("rule of unknown classes, its group and field")
        << set + "Class: Weird : fooClass\n" + form +
               "FormFieldGroup : W : Weird\nFormField: Wf : sn\n"
        << "line 3: Class: Weird : fooClass (the attribute table does not know fooClass)\n"
           "line 7: FormFieldGroup : W : Weird (its rule set holds no rule Weird (a rule must "
           "come before the lines that name it))\n"
           "line 8: FormField: Wf : sn (it belongs to no rule set, search form or input group "
           "that was read)";
    QTest::newRow("attribute type the table does not know")
        << set + form + "FormField: M : sn, fooAttr\n"
        << "line 6: FormField: M : sn, fooAttr (the attribute table does not know fooAttr)";
    QTest::newRow("keyword with a typing error")
        << set + form + "Formfield: M : sn\n"
        << "line 6: Formfield: M : sn (it is not a line of the configuration text format)";
    QTest::newRow("a second rule of one name")
        << set + "Class: P : organizationalUnit\n" + form
        << "line 3: Class: P : organizationalUnit (a record of the same name was read before "
           "it)";
    QTest::newRow("a second form of one name")
        << set + form + "Form: F\nFormFieldGroup : G : P\n"
        << "line 6: Form: F (a record of the same name was read before it)\n"
           "line 7: FormFieldGroup : G : P (it belongs to no rule set, search form or input group "
           "that was read)";
    QTest::newRow("rule set line without a name")
        << "RuleSet:\n" + set + form
        << "line 1: RuleSet: (it is not a line of the configuration text format)";
    QTest::newRow("rule set name cut at a second colon")
        << "RuleSet: S : Extra\nClass: P : person\n" + form
        << "line 1: RuleSet: S : Extra (a rule set name ends at the next \":\", so it was read "
           "as rule set 'S' without the rest of the line)";
    QTest::newRow("field name holding a NUL")
        << set + form + "FormField: M" + QChar(0) + "x : sn\n"
        << "line 6: FormField: M\\x00x : sn (it holds a NUL character, which no name or text of "
           "a configuration may hold)";
    QTest::newRow("link to an entry point written after it")
        << set + "SearchRule: P : Later\nBase: Later : ldap://h/o=x\n" + form
        << "line 3: SearchRule: P : Later (its rule set holds no rule Later (a rule must come "
           "before the lines that name it))";
  }
  void linesLeftOutAreNamed() {
    QFETCH(QString, text);
    QFETCH(QString, named);
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=S", text.toStdString());
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QCOMPARE(LoadShown(c, Table()), 1);
    if (named.isEmpty()) {
      QCOMPARE(sink.Ids(), std::vector<int>{});
      return;
    }
    QCOMPARE(sink.Ids(), std::vector<int>{62250});
    const std::string& shown = sink.messages[0].text;
    QVERIFY(shown.find((folder / "RuleSet=S").string()) != std::string::npos);
    QCOMPARE(QString::fromStdString(shown.substr(shown.find("line "))), named);
  }

  void aReferenceToALaterEntryPointIsLost() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText(
            "RuleSet: S\nClass: P : person\nSearchRule: P : Later, P\nBase: Later : "
            "ldap://h/o=x\n");
    std::vector<SearchRule*> searchable;
    c.ruleSets[0]->FindRule("P")->GetSearchableRules(searchable);
    QCOMPARE(Names(searchable), (Strings{"P"}));
  }

  void unknownNamesAreDropped() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText(
            "RuleSet: S\nClass: None : noSuchClass, alsoNot\nClass: Some : bogus, person\n"
            "Form: F\nFormFieldGroup: G : Some\nFormField: Odd : bogus\nFormField: Ok : bogus, "
            "mail\n");
    QCOMPARE(Names(c.ruleSets[0]->rules), (Strings{"Some"}));
    QCOMPARE(c.ruleSets[0]->rules[0]->objectClasses, (Strings{"person"}));
    const InputGroup* g = c.searchForms[0]->targetGroup.get();
    QCOMPARE(g->fields.size(), size_t(2));  // a field is added even with no known name
    QVERIFY(g->fields[0]->filterAttributes.empty());
    QCOMPARE(g->fields[1]->filterAttributes, (Strings{"mail"}));
  }

  void repeatedLinesAddNothing() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText(
            "RuleSet: S\nRuleSet: S\nClass: P : person\nClass: P : organizationalUnit\n"
            "Base: P : ldap://h/o=x\nForm: F\nForm: F\nFormFieldGroup: G : P\n"
            "FormField: N : cn\nFormField: N : sn\n");
    QCOMPARE(c.ruleSets.size(), size_t(1));
    QCOMPARE(c.ruleSets[0]->rules.size(), size_t(1));
    QCOMPARE(c.ruleSets[0]->rules[0]->objectClasses, (Strings{"person"}));
    // A second form of one name is not read, nor are the lines below it.
    QCOMPARE(c.searchForms.size(), size_t(1));
    QVERIFY(!c.searchForms[0]->targetGroup);
  }

  void twoRuleSetsInOneFileAreEachCreatedOnce() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table()).ReadText("RuleSet: A\nClass: P : person\nRuleSet: B\n");
    Strings names;
    for (const auto& rs : c.ruleSets) names.push_back(rs->name);
    QCOMPARE(names, (Strings{"A", "B"}));
    QCOMPARE(c.ruleSets[1]->rules.size(), size_t(1));  // pass 3 used the last set
  }

  void extraLinesBecomeTheFirstRule() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText("RuleSet: S\nClass: P : person\nSearchRule: Root : P\n",
                  {"Base: Root : ldap://dirhost:389/o=Sample"});
    QCOMPARE(Names(c.ruleSets[0]->rules), (Strings{"Root", "P"}));
    QCOMPARE(c.ruleSets[0]->rules[0]->searchableRules.size(), size_t(1));
  }

  void commentsIndentationAndLineEnds() {
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table())
        .ReadText(
            "# comment\r\n  \t# indented comment: Class: X : person\r\n\tRuleSet: S\r\n"
            "   Class: P : person\r\n\r\n \tForm: F\r\nFormFieldGroup: G : P\r\n"
            "FormField: N : cn\r\nUnknown: a : b\r\nForm: two : pieces\r\n");
    QCOMPARE(Names(c.ruleSets[0]->rules), (Strings{"P"}));
    QCOMPARE(c.searchForms.size(), size_t(1));
    QCOMPARE(c.searchForms[0]->name, std::string("F"));
  }

  void readingAFileWithTheLineReader() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("t.tpl").toStdString();
    WriteFile(path, kWorkedExample);
    kvaro::LineReader file(path);
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table()).Read(file);
    QCOMPARE(c.ruleSets[0]->rules.size(), size_t(3));
    QCOMPARE(c.searchForms.size(), size_t(1));
  }

  void aRuleWithoutObjectClassesDoesNotReadBack() {
    RuleSet set("S");
    const SearchRule bare(&set, "Bare", {}, Strings{});
    set.AddRule(&bare);
    std::string text;
    QVERIFY(WriteText(set, text));
    QCOMPARE(text, std::string("RuleSet: S\nClass: Bare : \n\n"));
    testsupport::KeptConfiguration c;
    TemplateReader(c, Table()).ReadText(text);
    QVERIFY(c.ruleSets[0]->rules.empty());
  }

  void aRuleSetWithoutFormsIsNoConfiguration() {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=S", "RuleSet: S\nClass: P : person\n");
    fs::create_directory(folder / "RuleSet=Folder");
    WriteFile(folder / "Other", "RuleSet: X\nClass: P : person\nForm: F\n");
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    const fs::path cwd = fs::current_path();
    QCOMPARE(LoadShown(c, Table()), 0);
    QCOMPARE(fs::current_path(), cwd);
    QVERIFY(c.ruleSets.empty() && c.searchForms.empty());
  }

  void writersFollowTheTextForm() {
    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "S", "F");
    RuleSet& set = *c.ruleSets[0];
    const SearchRule root(&set, "Root", {set.FindRule("Person")}, std::string("ldap://h:1/o=x"));
    set.AddRule(&root);
    SearchForm& form = *c.searchForms[0];
    auto extra = std::make_unique<InputGroup>("More", set.FindRule("Person"));
    extra->AddField("Mail", "default not written", {"mail", "cn"});
    form.AddInputGroup(std::move(extra));
    std::string text;
    QVERIFY(RuleSetFileText(c, set, text));
    QCOMPARE(text, std::string("RuleSet: S\n"
                               "Class: Person : person\n"
                               "Base: Root : ldap://h:1/o=x\n"
                               "\n"
                               "Form: F\n"
                               "FormTipString: \n"
                               "FormHelpString: \n"
                               "FormFieldGroup : Who : Person\n"
                               "FormField: Name : cn\n"
                               "FormFieldGroup : More : Person\n"
                               "FormField: Mail : mail, cn\n"));
    QCOMPARE(RuleSetFileName("People"), std::string("RuleSet=People"));
  }

  void saveWritesOneFilePerRuleSet() {
    QTemporaryDir dir;
    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "A", "first");
    AddSetWithForm(c, "B", "second");
    AddSetWithForm(c, "A", "third");
    c.session.configurationDirectory = dir.path().toStdString();
    WriteFile(fs::path(c.session.configurationDirectory) / "RuleSet=Old", "RuleSet: Old\n");
    WriteFile(fs::path(c.session.configurationDirectory) / "notes.txt", "kept");
    QVERIFY(SaveShown(c));
    const auto files = Snapshot(c.session.configurationDirectory);
    QCOMPARE(files.size(), size_t(3));
    QCOMPARE(files.count("RuleSet=Old"), size_t(0));  // the save replaces the configuration
    QCOMPARE(files.at("notes.txt"), std::string("kept"));
    const std::string a = files.at("RuleSet=A");
    QVERIFY(a.find("Form: first") < a.find("Form: third"));
    QVERIFY(a.find("Form: second") == std::string::npos);
    QVERIFY(files.at("RuleSet=B").find("Form: second") != std::string::npos);
  }

  // A writer that meets a record failing its check returns that record's message and
  // leaves the text as it was; a form with a broken further group passed for written,
  // with its later groups missing.
  void aFailingWriterWritesNothing_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("message");
    QTest::newRow("further group without fields") << 0 << 61262;
    QTest::newRow("field without attributes in a further group") << 1 << 61260;
    QTest::newRow("field without attributes in the target") << 2 << 61260;
    QTest::newRow("rule set without rules") << 3 << 61281;
  }
  void aFailingWriterWritesNothing() {
    QFETCH(int, fault);
    QFETCH(int, message);
    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "A", "form");
    SearchForm& form = *c.searchForms[0];
    auto furtherOwned = std::make_unique<InputGroup>("Where", c.ruleSets[0]->FindRule("Person"));
    InputGroup* further = furtherOwned.get();
    further->AddField("Place", "", {"l"});
    form.AddInputGroup(std::move(furtherOwned));
    form.AddInputGroup(std::make_unique<InputGroup>("Last", c.ruleSets[0]->FindRule("Person")));
    form.inputGroups.back()->AddField("Phone", "", {"telephoneNumber"});
    if (fault == 0) further->fields.clear();
    if (fault == 1) further->fields[0]->filterAttributes.clear();
    if (fault == 2) form.targetGroup->fields[0]->filterAttributes.clear();
    if (fault == 3) c.ruleSets[0]->rules.clear();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    std::string text = "before\n";
    const msg::Outcome written = RuleSetFileText(c, *c.ruleSets[0], text);
    QVERIFY(!written);
    QCOMPARE(written.Ids(), std::vector<int>{message});
    QCOMPARE(text, std::string("before\n"));
    if (fault < 3) {
      QVERIFY(!WriteText(form, text));
      QCOMPARE(text, std::string("before\n"));
    }
    QVERIFY(sink.messages.empty());  // the model shows nothing itself
  }

  void aRefusedSaveChangesNothing() {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=A", "old A");
    WriteFile(folder / "RuleSet=B", "old B");
    const auto before = Snapshot(folder);

    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "A", "fine");
    AddSetWithForm(c, "B", "broken");
    c.searchForms[1]->targetGroup->fields[0]->filterAttributes.clear();
    c.session.configurationDirectory = folder.string();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids(), (std::vector<int>{61260}));
    QCOMPARE(Snapshot(folder), before);

    // A rule set without rules, and a form without a target.
    c.searchForms[1]->targetGroup->fields[0]->filterAttributes = {"cn"};
    c.ruleSets.push_back(std::make_unique<RuleSet>("C"));
    QVERIFY(!SaveShown(c));
    c.ruleSets.pop_back();
    c.searchForms[0]->SetTargetGroup(nullptr);
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids(), (std::vector<int>{61260, 61281, 61265}));
    QCOMPARE(Snapshot(folder), before);
  }

  void ruleSetNamesThatLeaveTheFolderAreRefused() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "config";
    fs::create_directory(folder);
    for (const std::string& bad :
         {std::string(""), std::string("."), std::string(".."), std::string("../escape"),
          std::string("a/b"), std::string("x\0y", 3)}) {
      testsupport::KeptConfiguration c;
      AddSetWithForm(c, "Good", "F");
      AddSetWithForm(c, bad, "G");
      c.session.configurationDirectory = folder.string();
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      QVERIFY(!SaveShown(c));
      QCOMPARE(sink.Ids(), (std::vector<int>{62100}));
      QVERIFY(fs::is_empty(folder));
      QCOMPARE(Snapshot(dir.path().toStdString()).size(), size_t(1));
    }
  }

  void textThatWouldNotReadBackIsRefused() {
    QTemporaryDir dir;
    auto attempt = [&](auto change) {
      testsupport::KeptConfiguration c;
      AddSetWithForm(c, "S", "F");
      c.session.configurationDirectory = dir.path().toStdString();
      change(c);
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      const bool saved = bool(SaveShown(c));
      return saved ? 0 : (sink.messages.empty() ? -1 : sink.messages[0].id);
    };
    QCOMPARE(attempt([](testsupport::KeptConfiguration& c) {
               c.searchForms[0]->helpString = "a\nRuleSet: X";
             }),
             62101);
    QCOMPARE(attempt([](testsupport::KeptConfiguration& c) {
               c.ruleSets[0]->rules[0]->name = "Staff, Dept";
             }),
             62101);
    QCOMPARE(attempt([](testsupport::KeptConfiguration& c) { c.searchForms[0]->name = "a:b"; }),
             62101);
    QCOMPARE(attempt([](testsupport::KeptConfiguration& c) { c.ruleSets[0]->name = "S "; }), 62101);
    QCOMPARE(attempt([](testsupport::KeptConfiguration& c) { AddSetWithForm(c, "S", "G"); }), 0);
    QCOMPARE(attempt([](testsupport::KeptConfiguration& c) {
               c.ruleSets.push_back(std::make_unique<RuleSet>("S"));
               const SearchRule r(c.ruleSets.back().get(), "R", {}, Strings{"top"});
               c.ruleSets.back()->AddRule(&r);
             }),
             62102);
    QVERIFY(fs::is_empty(dir.path().toStdString()) ||
            Snapshot(dir.path().toStdString()).size() == 1);
  }

  void aMissingFolderFailsWithTheFileName() {
    QTemporaryDir dir;
    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "S", "F");
    c.session.configurationDirectory = dir.filePath("missing").toStdString();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids(), (std::vector<int>{62013}));
    QVERIFY(sink.messages[0].text.find(c.session.configurationDirectory) != std::string::npos);
    QVERIFY(sink.messages[0].text.find(std::strerror(ENOENT)) != std::string::npos);
    c.session.configurationDirectory.clear();
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids().back(), 62103);
  }

  // What a directory load can build but the text cannot hold is refused before anything
  // is written, naming the record; nothing is changed silently.
  void whatTheTextCannotHoldIsRefused_data() {
    QTest::addColumn<int>("change");
    QTest::addColumn<QString>("named");
    QTest::newRow("rule set name with a leading blank") << 0 << " S";
    QTest::newRow("rule name with a trailing blank") << 1 << "S > Person ";
    QTest::newRow("form name with a leading blank") << 2 << " F";
    QTest::newRow("group name with a trailing blank") << 3 << "F > Who ";
    QTest::newRow("field name with a leading tab") << 4 << "F > Who > \tName";
    QTest::newRow("two fields of one name in one group") << 5 << "F > Who > Name";
    QTest::newRow("tool tip with a trailing blank") << 6 << "F";
    QTest::newRow("start point with a blank before a colon") << 7 << "S > Root";
    QTest::newRow("object class the table does not know") << 8 << "S > Person";
    QTest::newRow("filter attribute the table does not know") << 9 << "F > Who > Name";
    QTest::newRow("link to a rule of another set") << 10 << "S > Root";
  }
  void whatTheTextCannotHoldIsRefused() {
    QFETCH(int, change);
    QFETCH(QString, named);
    QTemporaryDir dir;
    testsupport::KeptConfiguration c;
    c.oidtable = &Table();
    AddSetWithForm(c, "S", "F");
    RuleSet& set = *c.ruleSets[0];
    const SearchRule root(&set, "Root", {}, std::string("ldap://h:389/o=x"));
    set.AddRule(&root);
    c.session.configurationDirectory = dir.path().toStdString();
    SearchForm& form = *c.searchForms[0];
    InputGroup& group = *form.targetGroup;
    RuleSet other("T");
    SearchRule stranger(&other, "Stranger", {}, Strings{"person"});
    switch (change) {
      case 0:
        set.name = " S";
        break;
      case 1:
        set.rules[0]->name = "Person ";
        break;
      case 2:
        form.name = " F";
        break;
      case 3:
        group.name = "Who ";
        break;
      case 4:
        group.fields[0]->name = "\tName";
        break;
      case 5:
        group.fields.push_back(std::make_unique<InputField>("Name", "", Strings{"sn"}));
        break;
      case 6:
        form.toolTip = "Find ";
        break;
      case 7:
        set.FindRule("Root")->ldapUri = "ldap://h :389/o=x";
        break;
      case 8:
        set.rules[0]->objectClasses.push_back("noSuchClass");
        break;
      case 9:
        group.fields[0]->filterAttributes.push_back("noSuchType");
        break;
      case 10:
        set.FindRule("Root")->AddSearchableRule(&stranger);
        break;
    }
    WriteFile(fs::path(c.session.configurationDirectory) / "RuleSet=S", "old");
    const auto before = Snapshot(c.session.configurationDirectory);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids(), std::vector<int>{62101});
    QVERIFY2(sink.messages[0].text.find("'" + msg::Displayable(named.toStdString()) + "'") !=
                 std::string::npos,
             sink.messages[0].text.c_str());
    QCOMPARE(Snapshot(c.session.configurationDirectory), before);
  }

  // A search rule's link to an entry point is written after the entry point's line, so it
  // reads back; a copy of the copy is the same, byte for byte.
  void linksToEntryPointsReadBack() {
    testsupport::KeptConfiguration c;
    c.ruleSets.push_back(std::make_unique<RuleSet>("S"));
    RuleSet* rs = c.ruleSets.back().get();
    const SearchRule root(rs, "Root", {}, std::string("ldap://h:389/o=x"));
    const SearchRule person(rs, "Person", {}, Strings{"person"});
    const SearchRule unit(rs, "Unit", {}, Strings{"organizationalUnit"});
    rs->AddRule(&root);
    rs->AddRule(&person);
    rs->AddRule(&unit);
    rs->FindRule("Person")->AddSearchableRule(rs->FindRule("Root"));
    rs->FindRule("Person")->AddSearchableRule(rs->FindRule("Unit"));
    rs->FindRule("Root")->AddSearchableRule(rs->FindRule("Person"));
    auto target = std::make_unique<InputGroup>("Who", rs->FindRule("Person"));
    target->AddField("Name", "", {"cn"});
    c.searchForms.push_back(std::make_unique<SearchForm>("F", rs, std::move(target)));

    QTemporaryDir first, second;
    c.session.configurationDirectory = first.path().toStdString();
    QVERIFY(SaveShown(c));
    testsupport::KeptConfiguration back;
    back.session.configurationDirectory = first.path().toStdString();
    QCOMPARE(LoadShown(back, Table()), 1);
    std::map<std::string, Strings> links;
    for (const auto& r : back.ruleSets[0]->rules) links[r->name] = Names(r->searchableRules);
    QCOMPARE(links, (std::map<std::string, Strings>{
                        {"Person", {"Root", "Unit"}}, {"Root", {"Person"}}, {"Unit", {}}}));
    back.session.configurationDirectory = second.path().toStdString();
    QVERIFY(SaveShown(back));
    QCOMPARE(Snapshot(second.path().toStdString()), Snapshot(first.path().toStdString()));
  }

  // The order of a set's rules, whatever mix of search rules and entry points, is the
  // order the text reads back in (the editor shows it; a save and load must not change
  // it), and a second save writes the same text.
  void ruleOrderSurvivesARoundTrip_data() {
    QTest::addColumn<QString>("kinds");  // one letter a rule: C search rule, B entry point
    QTest::newRow("entry point between") << "CBC";
    QTest::newRow("entry point first") << "BCC";
    QTest::newRow("entry points around") << "BCCB";
    QTest::newRow("alternating") << "CBCBC";
  }
  void ruleOrderSurvivesARoundTrip() {
    QFETCH(QString, kinds);
    testsupport::KeptConfiguration c;
    c.ruleSets.push_back(std::make_unique<RuleSet>("S"));
    RuleSet* rs = c.ruleSets.back().get();
    Strings order;
    for (int i = 0; i < kinds.size(); ++i) {
      const std::string name = "R" + std::to_string(kinds.size() - i);
      order.push_back(name);
      if (kinds[i] == 'B')
        rs->AddRule(std::make_unique<SearchRule>(rs, name, std::vector<SearchRule*>{},
                                                 std::string("ldap://h:389/o=x")));
      else
        rs->AddRule(
            std::make_unique<SearchRule>(rs, name, std::vector<SearchRule*>{}, Strings{"person"}));
    }
    // Every rule searches for the one after it, so references cross the kinds both ways.
    for (size_t i = 0; i + 1 < rs->rules.size(); ++i)
      rs->rules[i]->AddSearchableRule(rs->rules[i + 1].get());
    SearchRule* someClass = nullptr;
    for (const auto& r : rs->rules)
      if (r->ruleType == RuleTypeSearchRule) someClass = r.get();
    auto target = std::make_unique<InputGroup>("Who", someClass);
    target->AddField("Name", "", {"cn"});
    c.searchForms.push_back(std::make_unique<SearchForm>("F", rs, std::move(target)));

    QTemporaryDir first, second;
    c.session.configurationDirectory = first.path().toStdString();
    QVERIFY(SaveShown(c));
    testsupport::KeptConfiguration back;
    back.session.configurationDirectory = first.path().toStdString();
    QCOMPARE(LoadShown(back, Table()), 1);
    QCOMPARE(Names(back.ruleSets[0]->rules), order);
    for (size_t i = 0; i + 1 < order.size(); ++i)
      QCOMPARE(Names(back.ruleSets[0]->FindRule(order[i])->searchableRules), Strings{order[i + 1]});
    back.session.configurationDirectory = second.path().toStdString();
    QVERIFY(SaveShown(back));
    QCOMPARE(Snapshot(second.path().toStdString()), Snapshot(first.path().toStdString()));
  }

  // Rules that all search each other: a copy holds one small reference per link, so 40
  // of them copy, save and load at once (copies of copies used to double per rule).
  void rulesThatAllSearchEachOtherStayCheap() {
    constexpr int kRules = 40;
    testsupport::KeptConfiguration c;
    AddSetWithForm(c, "S", "F");
    RuleSet& set = *c.ruleSets[0];
    for (int i = 0; i < kRules; ++i) {
      const SearchRule r(&set, "R" + std::to_string(i), {}, Strings{"person"});
      set.AddRule(&r);
    }
    for (const auto& r : set.rules)
      for (const auto& s : set.rules) r->AddSearchableRule(s.get());
    // Every rule copied, as RuleSet::AddRule does, twice over.
    RuleSet copy("Copy");
    for (const auto& r : set.rules) copy.AddRule(r.get());
    RuleSet copyOfCopy("Copy2");
    for (const auto& r : copy.rules) copyOfCopy.AddRule(r.get());
    for (const auto& r : copyOfCopy.rules) {
      QCOMPARE(r->searchableRules.size(), set.rules.size());
      // One reference per link, to the rule itself: nothing is copied along.
      for (const SearchRule* s : r->searchableRules) QCOMPARE(s, set.FindRule(s->name));
    }
    QTemporaryDir dir;
    c.session.configurationDirectory = dir.path().toStdString();
    QVERIFY(SaveShown(c));
    testsupport::KeptConfiguration back;
    back.session.configurationDirectory = c.session.configurationDirectory;
    QCOMPARE(LoadShown(back, Table()), 1);
    QCOMPARE(back.ruleSets[0]->rules.size(), size_t(kRules + 1));
    for (const auto& r : back.ruleSets[0]->rules)
      QCOMPARE(r->searchableRules.size(), size_t(kRules + 1));
  }

  void usableFileNames() {
    QVERIFY(IsUsableRuleSetFileName("People"));
    QVERIFY(IsUsableRuleSetFileName("..."));
    QVERIFY(IsUsableRuleSetFileName("a.b"));
    QVERIFY(!IsUsableRuleSetFileName(".."));
    QVERIFY(!IsUsableRuleSetFileName("/"));
  }
};

QTEST_GUILESS_MAIN(TestTemplateFile)
#include "test_templatefile.moc"
