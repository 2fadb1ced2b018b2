// Renaming rule sets, rules, forms, input groups and input fields from the tree (F2) and
// from the panels (Rename), with every reference kept and the result stored in both
// stores; the refusals of names the Add dialogs refuse or that are taken; and Remove Rule,
// refused while anything still uses the rule.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorysave.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "store/store.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/testoidtable.h"

namespace {

struct Editor {
  explicit Editor(testsupport::KeptConfiguration& config)
      : left(config, testsupport::DirectoryOidtable(), &right) {
    left.resize(300, 400);
    right.resize(520, 400);
    left.show();
    right.show();
    left.tree()->Fill();
  }
  CConfigTree* tree() { return left.tree(); }
  OVS_RHSClientWnd right;
  OVS_LHSClientWnd left;
};

// The node at `path`: "Rule Sets" or "Forms", then the captions below it.
QTreeWidgetItem* Node(CConfigTree* tree, const QStringList& path) {
  QTreeWidgetItem* item = path.front() == "Forms" ? tree->formsRoot() : tree->ruleSetsRoot();
  for (const QString& caption : path.mid(1)) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; item && i < item->childCount() && !next; ++i) {
      if (item->child(i)->text(0) == caption) next = item->child(i);
    }
    item = next;
  }
  return item;
}

// The standard sample with every group holding a field (so it can be stored) and rules
// that search for others: Person and the entry point Root can search for Org.
void FillSample(testsupport::KeptConfiguration& config) {
  sample::FillStandard(config);
  RuleSet* standard = config.FindRuleSet("Standard");
  standard->FindRule("Person")->AddSearchableRule(standard->FindRule("Org"));
  standard->FindRule("Root")->AddSearchableRule(standard->FindRule("Org"));
  config.searchForms[0]->inputGroups[1]->AddField("Town", "", {"l"});
}

// The text of every rule set with its forms: the whole configuration, to compare.
bool RuleSetFileTextOf(const Configuration& config, std::string& out) {
  for (const auto& set : config.ruleSets) {
    std::string text;
    if (!RuleSetFileText(config, *set, text)) return false;
    out += text;
  }
  return true;
}

// What the dialog saw when the name was refused.
struct Refusal {
  bool stillOpen = false;
  bool focusInName = false;
  QString text;
};

// Types `name` into the open "Rename" dialog and presses Enter. With `refusal` the
// dialog is expected to stay open: what it shows is recorded, then Esc closes it.
void TypeNewName(formtest::ModalScript& script, const QString& name, Refusal* refusal = nullptr) {
  script.Then("RenameDialog", [name, refusal](QWidget* dialog) {
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    auto* edit = dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit));
    edit->selectAll();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
    if (!refusal) return;
    refusal->stillOpen = dialog->isVisible();
    refusal->focusInName = QApplication::focusWidget() == edit;
    refusal->text = edit->text();
    QTest::keyClick(edit, Qt::Key_Escape);
  });
}

// Renames the node at `path` to `name`: by F2 on the node, or by the Rename button of
// its panel pressed from the keyboard.
void Rename(Editor& editor, const QStringList& path, const QString& name, bool byF2,
            Refusal* refusal = nullptr) {
  QTreeWidgetItem* item = Node(editor.tree(), path);
  QVERIFY2(item, qPrintable(path.join(" > ")));
  editor.tree()->setCurrentItem(item);
  formtest::ModalScript script;
  TypeNewName(script, name, refusal);
  if (byF2) {
    editor.tree()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(editor.tree(), Qt::Key_F2);
  } else {
    CPropertyPanel* panel = editor.tree()->currentPanel();
    QVERIFY(panel && panel->renameButton());
    panel->renameButton()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(panel->renameButton(), Qt::Key_Space);
  }
  QVERIFY(script.Done());
}

// The names that hold the sample together after the renames: rule set, the renamed rule
// and its users, form, group and field.
void CheckRenamed(const Configuration& c) {
  const RuleSet* main = c.FindRuleSet("Main");
  QVERIFY(main);
  QVERIFY(!c.FindRuleSet("Standard"));
  const SearchRule* company = main->FindRule("Company");
  QVERIFY(company);
  QVERIFY(!main->FindRule("Org"));
  for (const char* user : {"Person", "Root"}) {
    const SearchRule* rule = main->FindRule(user);
    QVERIFY2(rule, user);
    QCOMPARE(rule->searchableRules.size(), size_t(1));
    QCOMPARE(rule->searchableRules[0]->name, std::string("Company"));
  }
  const SearchForm* form = nullptr;
  for (const auto& f : c.searchForms)
    if (f->name == "Persons") form = f.get();
  QVERIFY(form);
  QCOMPARE(form->ruleSet, main);
  QCOMPARE(form->targetGroup->name, std::string("Person details"));
  const InputGroup* worksAt = nullptr;
  for (const auto& g : form->inputGroups)
    if (g->name == "Works At") worksAt = g.get();
  QVERIFY(worksAt);
  QCOMPARE(worksAt->searchRule, company);
  QVERIFY(form->targetGroup->FindField("Email Address"));
  QVERIFY(!form->targetGroup->FindField("Mail"));
}

}  // namespace

class TestRename : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::SlapdFixture> slapd_;

 private slots:
  void initTestCase() {
    slapd_ = std::make_unique<testsupport::SlapdFixture>();
    QVERIFY2(slapd_->ok(), slapd_->error().c_str());
  }
  void cleanupTestCase() { slapd_.reset(); }

  // Every kind renamed once, by F2 or by the panel's Rename button: the references, the
  // captions and the shown panel follow, the configuration counts as changed, and the
  // result is stored and read back with the new names in both stores.
  void renameKeepsEveryReference_data() {
    QTest::addColumn<bool>("directory");
    QTest::addColumn<bool>("byF2");
    for (bool directory : {false, true})
      for (bool byF2 : {true, false})
        QTest::addRow("%s, %s", directory ? "directory" : "local folder",
                      byF2 ? "F2" : "Rename button")
            << directory << byF2;
  }
  void renameKeepsEveryReference() {
    QFETCH(bool, directory);
    QFETCH(bool, byF2);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    FillSample(config);
    Editor editor(config);
    CConfigTree* tree = editor.tree();
    QVERIFY(!tree->isModified());

    Rename(editor, {"Rule Sets", "Standard", "Org"}, "Company", byF2);
    QVERIFY(tree->isModified());
    Rename(editor, {"Rule Sets", "Standard"}, "Main", byF2);
    // The form node shows its rule set's new name.
    QVERIFY(Node(tree, {"Forms", "People (Main)"}));
    Rename(editor, {"Forms", "People (Main)"}, "Persons", byF2);
    Rename(editor, {"Forms", "Persons (Main)", "Employer"}, "Works At", byF2);
    Rename(editor, {"Forms", "Persons (Main)", "Person details", "Mail"}, "Email Address", byF2);
    QVERIFY(sink.messages.empty());
    CheckRenamed(config);
    for (const QStringList& path :
         {QStringList{"Rule Sets", "Main", "Company"},
          QStringList{"Forms", "Persons (Main)", "Works At"},
          QStringList{"Forms", "Persons (Main)", "Person details", "Email Address"}})
      QVERIFY2(Node(tree, path), qPrintable(path.join(" > ")));
    // The shown panel is built again: the field panel's title has the new name, and the
    // Rename button has the focus back when it was pressed.
    CPropertyPanel* panel = tree->currentPanel();
    QVERIFY(panel);
    QCOMPARE(panel->findChild<QLabel*>(ObjectName(kIdInputFieldTitle))->text(),
             QStringLiteral(" Input Field Properties: Email Address"));
    if (!byF2) QCOMPARE(panel->window()->focusWidget(), panel->renameButton());
    // Another panel that shows the renamed rule: the form's list of groups.
    tree->setCurrentItem(Node(tree, {"Forms", "Persons (Main)"}));
    auto* groups = tree->currentPanel()->findChild<QTreeWidget*>(ObjectName(kIdFormGroupList));
    QVERIFY(!groups->findItems("Works At", Qt::MatchExactly).isEmpty());
    QCOMPARE(groups->findItems("Works At", Qt::MatchExactly).front()->text(1),
             QStringLiteral("Company"));

    QTemporaryDir folder;
    testsupport::KeptConfiguration back;
    if (directory) {
      config.session.startupMode = StartupMode::kDirectory;
      config.session.directory.subtreeDn = "cn=Orvelle Configuration,o=Sample";
      config.session.directory.connection = slapd_->Connect();
      QVERIFY(testsupport::Shown(
          directory::SaveConfiguration(config.session.directory, config, nullptr)));
      back.session.directory.subtreeDn = config.session.directory.subtreeDn;
      QVERIFY(directory::LoadSubtree(
          back, back.session.directory.subtreeDn, testsupport::DirectoryOidtable(),
          *config.session.directory.connection, testsupport::ShowAfter().Into()));
    } else {
      config.session.configurationDirectory = folder.path().toStdString();
      config.oidtable = &testsupport::DirectoryOidtable();
      QVERIFY(testsupport::Shown(store::Save(config.session, config)));
      back.session.configurationDirectory = config.session.configurationDirectory;
      QCOMPARE(LoadFromFiles(back, back.session.configurationDirectory,
                             testsupport::DirectoryOidtable()),
               1);
      // The rule set's file took the new name.
      QVERIFY(QFile::exists(folder.filePath("RuleSet=Main")));
      QVERIFY(!QFile::exists(folder.filePath("RuleSet=Standard")));
    }
    QVERIFY2(sink.messages.empty(), sink.messages.empty() ? "" : sink.messages[0].text.c_str());
    CheckRenamed(back);
  }

  // A name the Add dialog would refuse, or one that a record of the same kind in the same
  // place has, keeps the dialog open with the message naming it and the focus in the
  // name as typed; Esc then leaves everything as it was.
  void refusedNames_data() {
    QTest::addColumn<QStringList>("node");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("message");
    QTest::addColumn<QString>("named");  // what the message must name
    const QStringList ruleSet{"Rule Sets", "Standard"};
    const QStringList rule{"Rule Sets", "Standard", "Person"};
    const QStringList form{"Forms", "People (Standard)"};
    const QStringList group{"Forms", "People (Standard)", "Employer"};
    const QStringList field{"Forms", "People (Standard)", "Person details", "Name"};
    QTest::newRow("rule set taken") << ruleSet << "Other" << 62172 << "Other";
    QTest::newRow("rule set too short") << ruleSet << "St" << 61253 << "";
    QTest::newRow("rule set no file name") << ruleSet << "a/b" << 62173 << "a/b";
    QTest::newRow("rule taken") << rule << "Org" << 62222
                                << "'Org' already exists in rule set "
                                   "'Standard'";
    QTest::newRow("rule too short") << rule << "Pe" << 61253 << "";
    QTest::newRow("rule with a comma") << rule << "Per,son" << 62160 << "Per,son";
    QTest::newRow("form taken") << form << "Things" << 62180 << "Things";
    QTest::newRow("form with a hyphen") << form << "Peo-ple" << 61254 << "";
    QTest::newRow("group taken") << group << "Site" << 62223 << "'Site'";
    QTest::newRow("group named as the target")
        << group << "Person details" << 62223 << "'Person details'";
    QTest::newRow("field taken") << field << "Mail" << 61252 << "'Mail'";
    QTest::newRow("field with a blank at the end") << field << "Name " << 62160 << "";
    // The directory does not tell names apart by case: the entry would be taken.
    QTest::newRow("rule set taken, other case") << ruleSet << "OTHER" << 62320 << "'OTHER'";
    QTest::newRow("rule taken, other case") << rule << "org" << 62320 << "'org'";
    QTest::newRow("form taken, other case") << form << "things" << 62320 << "'things'";
    QTest::newRow("group taken, other case") << group << "SITE" << 62320 << "'SITE'";
    QTest::newRow("field taken, other case") << field << "mail" << 62320 << "'mail'";
  }
  void refusedNames() {
    QFETCH(QStringList, node);
    QFETCH(QString, name);
    QFETCH(int, message);
    QFETCH(QString, named);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    FillSample(config);
    std::string before;
    QVERIFY(RuleSetFileTextOf(config, before));
    Editor editor(config);
    Refusal refusal;
    Rename(editor, node, name, true, &refusal);
    QCOMPARE(sink.Ids(), std::vector<int>{message});
    QVERIFY2(sink.messages[0].text.find(named.toStdString()) != std::string::npos,
             sink.messages[0].text.c_str());
    QCOMPARE(sink.messages[0].icon, msg::Icon::Error);
    QVERIFY(refusal.stillOpen);
    QVERIFY(refusal.focusInName);
    QCOMPARE(refusal.text, name);
    std::string after;
    QVERIFY(RuleSetFileTextOf(config, after));
    QCOMPARE(after, before);
    QVERIFY(!editor.tree()->isModified());
    QVERIFY(Node(editor.tree(), node));
  }

  // Add refuses the names Rename refuses: one that a record of the same kind in the same
  // place has, in the same or in other letter case, with the message naming it. The
  // configuration stays as it was.
  void addRefusesTakenNames_data() {
    QTest::addColumn<QStringList>("node");
    QTest::addColumn<int>("addButton");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<int>("nameEdit");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("message");
    struct Kind {
      const char* tag;
      QStringList node;
      int addButton;
      QString dialog;
      int nameEdit;
      QString taken;
      int takenMessage;
    };
    const Kind kinds[] = {
        {"rule set",
         {"Rule Sets"},
         kIdRootListAddButton,
         "AddRuleSetDialog",
         kIdNameEdit,
         "Other",
         62172},
        {"rule",
         {"Rule Sets", "Standard"},
         kIdRuleSetAddRuleButton,
         ObjectName(kIdAddRuleDialog),
         kIdAddRuleNameEdit,
         "Org",
         62222},
        {"form", {"Forms"}, kIdRootListAddButton, "AddFormDialog", kIdNameEdit, "Things", 62180},
        {"group",
         {"Forms", "People (Standard)"},
         kIdFormAddGroupButton,
         ObjectName(kIdAddInputGroupDialog),
         kIdNameEdit,
         "Site",
         62223},
        {"group named as the target",
         {"Forms", "People (Standard)"},
         kIdFormAddGroupButton,
         ObjectName(kIdAddInputGroupDialog),
         kIdNameEdit,
         "Person details",
         62223},
        {"field",
         {"Forms", "People (Standard)", "Person details"},
         kIdInputGroupAddFieldButton,
         ObjectName(kIdAddInputFieldDialog),
         kIdAddFieldNameEdit,
         "Mail",
         61252},
    };
    for (const Kind& kind : kinds) {
      QTest::addRow("%s, same case", kind.tag) << kind.node << kind.addButton << kind.dialog
                                               << kind.nameEdit << kind.taken << kind.takenMessage;
      QTest::addRow("%s, other case", kind.tag) << kind.node << kind.addButton << kind.dialog
                                                << kind.nameEdit << kind.taken.toUpper() << 62320;
    }
  }
  void addRefusesTakenNames() {
    QFETCH(QStringList, node);
    QFETCH(int, addButton);
    QFETCH(QString, dialog);
    QFETCH(int, nameEdit);
    QFETCH(QString, name);
    QFETCH(int, message);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    FillSample(config);
    std::string before;
    QVERIFY(RuleSetFileTextOf(config, before));
    const size_t forms = config.searchForms.size();
    Editor editor(config);
    editor.tree()->setCurrentItem(Node(editor.tree(), node));
    CPropertyPanel* panel = editor.tree()->currentPanel();
    QVERIFY(panel);

    formtest::ModalScript script;
    // A field needs a filter attribute before its name counts.
    if (dialog == ObjectName(kIdAddInputFieldDialog))
      formtest::AddFilterAttributeSteps(script, "cn");
    script.Then(dialog, [nameEdit, name](QWidget* d) {
      testsupport::Type(d, nameEdit, name);
      testsupport::Click(d, kIdOk);
    });
    // Refused: the dialog stays open, or comes back, with the name as typed.
    QString shown;
    script.Then(dialog, [nameEdit, &shown](QWidget* d) {
      shown = testsupport::Child<QLineEdit>(d, nameEdit)->text();
      QTest::keyClick(d, Qt::Key_Escape);
    });
    QTest::mouseClick(panel->findChild<QPushButton*>(ObjectName(addButton)), Qt::LeftButton);
    QVERIFY(script.Done());
    QCOMPARE(sink.Ids(), std::vector<int>{message});
    QVERIFY2(sink.messages[0].text.find("'" + name.toStdString() + "'") != std::string::npos,
             sink.messages[0].text.c_str());
    QCOMPARE(sink.messages[0].icon, msg::Icon::Error);
    QCOMPARE(shown, name);
    std::string after;
    QVERIFY(RuleSetFileTextOf(config, after));
    QCOMPARE(after, before);
    QCOMPARE(config.searchForms.size(), forms);
    QCOMPARE(config.ruleSets.size(), size_t(2));
  }

  // The record's own name in other letter case is no clash; the same name changes nothing.
  void renameToOwnNameInOtherCase() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    FillSample(config);
    Editor editor(config);
    Rename(editor, {"Rule Sets", "Standard", "Person"}, "Person", true);
    QVERIFY(!editor.tree()->isModified());
    Rename(editor, {"Rule Sets", "Standard", "Org"}, "ORG", false);
    QVERIFY(sink.messages.empty());
    QVERIFY(editor.tree()->isModified());
    QCOMPARE(config.FindRuleSet("Standard")->FindRule("Person")->searchableRules[0]->name,
             std::string("ORG"));
  }

  // Remove Rule on the rule set's panel: refused, naming every use, while rules can
  // search for the rule or input groups search by it; otherwise the rule leaves the set
  // and the tree, nothing is selected and Remove is off.
  void removeRule_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QStringList>("uses");  // empty: the removal goes through
    QTest::newRow("searched for and searched by")
        << "Org"
        << QStringList{"rule 'Person' can search for it", "rule 'Root' can search for it",
                       "input group 'Employer' of search form 'People (Standard)'",
                       "input group 'Site' of search form 'People (Standard)'"};
    QTest::newRow("target group's rule")
        << "Person"
        << QStringList{"input group 'Person details' of search form 'People (Standard)'"};
    QTest::newRow("searched for by an entry point only")
        << "Spare" << QStringList{"rule 'Root' can search for it"};
    QTest::newRow("unused") << "Unused" << QStringList{};
  }
  void removeRule() {
    QFETCH(QString, rule);
    QFETCH(QStringList, uses);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    FillSample(config);
    RuleSet* standard = config.FindRuleSet("Standard");
    for (const char* name : {"Spare", "Unused"}) {
      SearchRule made(standard, name, {}, std::vector<std::string>{"device"});
      standard->AddRule(&made);
    }
    standard->FindRule("Root")->AddSearchableRule(standard->FindRule("Spare"));
    Editor editor(config);
    CConfigTree* tree = editor.tree();
    tree->setCurrentItem(Node(tree, {"Rule Sets", "Standard"}));
    CPropertyPanel* panel = tree->currentPanel();
    auto* list = panel->findChild<QTreeWidget*>(ObjectName(kIdRuleSetRuleList));
    auto* remove = panel->findChild<QPushButton*>(ObjectName(kIdRuleSetRemoveRuleButton));
    QVERIFY(list && remove);
    QVERIFY(!remove->isEnabled());
    const QList<QTreeWidgetItem*> rows = list->findItems(rule, Qt::MatchExactly);
    QCOMPARE(rows.size(), 1);
    const int count = list->topLevelItemCount();
    const size_t rules = standard->rules.size();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(rows.front()).center());
    QVERIFY(remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);

    if (!uses.isEmpty()) {
      QCOMPARE(sink.Ids(), std::vector<int>{62224});
      const QString text = QString::fromStdString(sink.messages[0].text);
      QVERIFY2(text.contains("'" + rule + "'"), qPrintable(text));
      for (const QString& use : uses) QVERIFY2(text.contains(use), qPrintable(text));
      QCOMPARE(list->topLevelItemCount(), count);
      QCOMPARE(standard->rules.size(), rules);
      QVERIFY(Node(tree, {"Rule Sets", "Standard", rule}));
      QVERIFY(!tree->isModified());
      return;
    }
    QVERIFY(sink.messages.empty());
    QCOMPARE(list->topLevelItemCount(), count - 1);
    QCOMPARE(standard->rules.size(), rules - 1);
    QVERIFY(!standard->FindRule(rule.toStdString()));
    QVERIFY(!Node(tree, {"Rule Sets", "Standard", rule}));
    QVERIFY(!list->selectionModel()->hasSelection());
    QVERIFY(!remove->isEnabled());
    QVERIFY(tree->isModified());
    // A second press removes nothing.
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(list->topLevelItemCount(), count - 1);
  }
};

QTEST_MAIN(TestRename)
#include "test_rename.moc"
