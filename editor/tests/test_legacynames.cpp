// Names that are not valid UTF-8, as legacy configuration files written in a Windows code
// page hold them: the lists and dialogs show them with U+FFFD, and every action on them
// still finds the record itself and keeps its name byte for byte.
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <map>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/propertypanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "tests/support/editorpanes.h"
#include "tests/support/widgethelpers.h"

using testsupport::Click;

namespace {

// "Müller" and "Persön" in Windows-1252, and the second rule set "Grün".
const std::string kMueller = "M\xfcller";
const std::string kPerson = "Pers\xf6n";
const std::string kGruen = "Gr\xfcn";

// Rule set Müller: Persön, and Abteilung that searches for Persön; rule set Grün: Persön
// alone; the form "Suche" on Müller without groups.
void FillLegacy(Configuration& config) {
  for (const std::string& name : {kMueller, kGruen}) {
    auto ruleSet = std::make_unique<RuleSet>(name);
    SearchRule person(ruleSet.get(), kPerson, {}, std::vector<std::string>{"person"});
    ruleSet->AddRule(&person);
    if (name == kMueller) {
      SearchRule unit(ruleSet.get(), "Abteilung", {ruleSet->FindRule(kPerson)},
                      std::vector<std::string>{"person"});
      ruleSet->AddRule(&unit);
    }
    config.ruleSets.push_back(std::move(ruleSet));
  }
  config.searchForms.push_back(
      std::make_unique<SearchForm>("Suche", config.ruleSets.front().get()));
}

// The configuration in one line per record, names as their bytes are.
QByteArray Dump(const Configuration& config) {
  std::string out;
  for (const auto& ruleSet : config.ruleSets) {
    out += "set " + ruleSet->name + ":";
    for (const auto& rule : ruleSet->rules) {
      out += " " + rule->name;
      for (const auto& searchable : rule->searchableRules) out += ">" + searchable->name;
    }
    out += "\n";
  }
  for (const auto& form : config.searchForms) {
    out += "form " + form->name + " on " + (form->ruleSet ? form->ruleSet->name : "-");
    if (form->targetGroup) out += ", target " + form->targetGroup->searchRule->name;
    for (const auto& group : form->inputGroups) out += ", group " + group->searchRule->name;
    out += "\n";
  }
  return QByteArray::fromStdString(out);
}

}  // namespace

class TestLegacyNames : public QObject {
  Q_OBJECT

 private slots:
  void actionsKeepNamesByteForByte_data() {
    QTest::addColumn<QString>("node");      // the tree node whose panel is shown
    QTest::addColumn<int>("list");          // a list whose row is selected first (0: none)
    QTest::addColumn<int>("row");           // that row
    QTest::addColumn<int>("button");        // the button pressed on the panel
    QTest::addColumn<int>("choice");        // the row chosen in a name-and-choice dialog
    QTest::addColumn<QByteArray>("after");  // the configuration afterwards (Dump)
    const QByteArray sets =
        QByteArray::fromStdString("set " + kMueller + ": " + kPerson + " Abteilung>" + kPerson +
                                  "\nset " + kGruen + ": " + kPerson + "\n");
    const QByteArray form = QByteArray::fromStdString("form Suche on " + kMueller);
    QTest::newRow("Add Form on the second rule set")
        << "forms" << 0 << -1 << kIdRootListAddButton << 1
        << sets + form + "\nform Neue on " + QByteArray::fromStdString(kGruen) + "\n";
    QTest::newRow("Set Target Group")
        << "form" << 0 << -1 << kIdFormSetTargetButton << 0
        << sets + form + ", target " + QByteArray::fromStdString(kPerson) + "\n";
    QTest::newRow("Add Group") << "form" << 0 << -1 << kIdFormAddGroupButton << 0
                               << sets + form + ", group " + QByteArray::fromStdString(kPerson) +
                                      "\n";
    QTest::newRow("Remove Rule Set")
        << "rule sets" << kIdRootListList << 1 << kIdRootListRemoveButton << -1
        << QByteArray::fromStdString("set " + kMueller + ": " + kPerson + " Abteilung>" + kPerson +
                                     "\n") +
               form + "\n";
    QTest::newRow("Remove Search Rule")
        << "rule Abteilung" << kIdRuleSearchRuleList << 0 << kIdRuleRemoveSearchRuleButton << -1
        << QByteArray::fromStdString("set " + kMueller + ": " + kPerson + " Abteilung\nset " +
                                     kGruen + ": " + kPerson + "\n") +
               form + "\n";
    // OK without typing: no change at all.
    QTest::newRow("Rename Rule Set unchanged")
        << "rule set" << 0 << -1 << kIdRuleSetRenameButton << -1 << sets + form + "\n";
    QTest::newRow("Rename Rule unchanged")
        << "rule" << 0 << -1 << kIdRuleRenameButton << -1 << sets + form + "\n";
  }
  void actionsKeepNamesByteForByte() {
    QFETCH(QString, node);
    QFETCH(int, list);
    QFETCH(int, row);
    QFETCH(int, button);
    QFETCH(int, choice);
    QFETCH(QByteArray, after);
    Configuration config;
    FillLegacy(config);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    sink.answer = msg::Answer::Yes;  // the question before removing a rule set
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    RuleSet* mueller = config.ruleSets.front().get();
    const std::map<QString, QTreeWidgetItem*> nodes = {
        {"forms", tree->formsRoot()},
        {"rule sets", tree->ruleSetsRoot()},
        {"form", tree->ItemOf(config.searchForms.front().get())},
        {"rule set", tree->ItemOf(mueller)},
        {"rule", tree->ItemOf(mueller->FindRule(kPerson))},
        {"rule Abteilung", tree->ItemOf(mueller->FindRule("Abteilung"))},
    };
    QVERIFY(nodes.at(node));
    editor.Select(nodes.at(node));
    QVERIFY(tree->currentPanel());
    if (list != 0) {
      auto* view = editor.Find<QAbstractItemView>(list);
      QVERIFY(view);
      view->setCurrentIndex(view->model()->index(row, 0));
    }

    // Without a row to act on, the button opens a dialog: a name and a choice, or a
    // rename left as it is.
    formtest::ModalScript script;
    if (list == 0) {
      script.Then(QString(), [choice](QWidget* dialog) {
        if (choice >= 0) {
          testsupport::Type(dialog, kIdNameEdit, "Neue");
          testsupport::Child<QComboBox>(dialog, kIdNameChoiceCombo)->setCurrentIndex(choice);
        }
        Click(dialog, kIdOk);
      });
    }
    Click(&editor.right, button);
    QVERIFY(script.Done());
    QCOMPARE(Dump(config), after);
    Configuration original;
    FillLegacy(original);
    QCOMPARE(tree->isModified(), after != Dump(original));
  }
};

QTEST_MAIN(TestLegacyNames)
#include "test_legacynames.moc"
