// Add Rule Set and Add Form in the panels of the two tree roots, driven through their
// buttons and dialogs.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tests/support/editorpanes.h"
#include "tests/support/sampleconfig.h"

using testsupport::Captions;
using testsupport::Click;
using testsupport::Rows;

namespace {

// Types `text` into the dialog's name edit (after emptying it) and presses OK.
formtest::ModalScript::Action TypeAndOk(const QString& text) {
  return [text](QWidget* dialog) {
    testsupport::Type(dialog, kIdNameEdit, text);
    Click(dialog, kIdOk);
  };
}

// The sample configuration (or none) in the panes of the main window with a filled
// tree, the list panel of one tree root shown, and the messages recorded.
struct RootPanel {
  explicit RootPanel(bool forms, bool standard = true) {
    if (standard) sample::FillStandard(config);
    editor.tree()->Fill();
    editor.Select(forms ? editor.tree()->formsRoot() : editor.tree()->ruleSetsRoot());
  }
  msg::RecordingSink sink;
  msg::ScopedSink scoped{&sink};
  Configuration config;
  testsupport::EditorPanes editor{config};
};

}  // namespace

class TestListPanelsAdd : public QObject {
  Q_OBJECT

 private slots:
  void addRuleSetAppendsAnEmptySetWithTopNode() {
    RootPanel panel(false);
    auto& [sink, scoped, config, editor] = panel;
    QSignalSpy modified(editor.tree(), &CConfigTree::modifiedChanged);

    formtest::ModalScript script;
    script.Then("AddRuleSetDialog", TypeAndOk("Yellow Pages"));
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QVERIFY(sink.messages.empty());

    QCOMPARE(config.ruleSets.size(), size_t(3));
    RuleSet* added = config.ruleSets.back().get();
    QCOMPARE(added->name, std::string("Yellow Pages"));
    QVERIFY(added->rules.empty());
    QCOMPARE(Rows(editor.Find<QListWidget>(kIdRootListList)),
             (QStringList{"Standard", "Other", "Yellow Pages"}));
    QCOMPARE(Captions(editor.tree()->ruleSetsRoot()),
             (QStringList{"Yellow Pages", "Other", "Standard"}));
    QVERIFY(editor.tree()->ruleSetsRoot()->isExpanded());
    QVERIFY(editor.tree()->isModified());
    QCOMPARE(modified.count(), 1);

    // The new node shows the rule set's own panel, where rules are added.
    editor.Select(editor.tree()->ItemOf(added));
    QCOMPARE(editor.Find<QLabel>(kIdRuleSetTitle)->text(),
             QStringLiteral(" Rule Set Properties: Yellow Pages"));
    // An empty rule set may not be stored yet.
    QCOMPARE(added->Check().Ids(), std::vector<int>{61281});
    QVERIFY(sink.messages.empty());
  }

  void addRuleSetCancelledChangesNothing() {
    RootPanel panel(false);
    auto& [sink, scoped, config, editor] = panel;
    const size_t records = editor.tree()->recordCount();

    formtest::ModalScript script;
    script.Then("AddRuleSetDialog", [](QWidget* dialog) {
      QTest::keyClicks(dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit)), "Never");
      Click(dialog, kIdCancel);
    });
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QCOMPARE(config.ruleSets.size(), size_t(2));
    QCOMPARE(editor.tree()->recordCount(), records);
    QCOMPARE(Rows(editor.Find<QListWidget>(kIdRootListList)), (QStringList{"Standard", "Other"}));
    QVERIFY(!editor.tree()->isModified());
  }

  void addRuleSetRefusesATakenNameAndStaysOpen() {
    RootPanel panel(false);
    auto& [sink, scoped, config, editor] = panel;

    formtest::ModalScript script;
    QString stillOpen;
    script.Then("AddRuleSetDialog", [&stillOpen](QWidget* dialog) {
      QTest::keyClicks(dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit)), "Other");
      Click(dialog, kIdOk);
      // Refused: the dialog is still the modal window.
      if (QApplication::activeModalWidget() == dialog) stillOpen = dialog->objectName();
      // Another case is the same name to the directory: refused as well.
      QLineEdit* name = dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit));
      name->clear();
      QTest::keyClicks(name, "other");
      Click(dialog, kIdOk);
      if (QApplication::activeModalWidget() != dialog) stillOpen.clear();
      name->clear();
      TypeAndOk("Third")(dialog);
    });
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QCOMPARE(stillOpen, QStringLiteral("AddRuleSetDialog"));
    QCOMPARE(sink.Ids(), (std::vector<int>{62172, 62320}));
    QCOMPARE(sink.messages[0].text,
             std::string("A rule set named 'Other' already exists. Please enter a unique rule set "
                         "name."));
    QCOMPARE(config.ruleSets.size(), size_t(3));
    QCOMPARE(config.ruleSets.back()->name, std::string("Third"));
  }

  void addedRuleSetCanBeRemovedAgain() {
    RootPanel panel(false);
    auto& [sink, scoped, config, editor] = panel;
    formtest::ModalScript script;
    script.Then("AddRuleSetDialog", TypeAndOk("Short Lived"));
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());

    auto* list = editor.Find<QListWidget>(kIdRootListList);
    list->setCurrentRow(2);
    Click(&editor.right, kIdRootListRemoveButton);
    QVERIFY(sink.messages.empty());
    QCOMPARE(config.ruleSets.size(), size_t(2));
    QCOMPARE(Rows(list), (QStringList{"Standard", "Other"}));
    QCOMPARE(Captions(editor.tree()->ruleSetsRoot()), (QStringList{"Other", "Standard"}));
  }

  void addFormBuildsAFormOfTheChosenRuleSet() {
    RootPanel panel(true);
    auto& [sink, scoped, config, editor] = panel;
    QSignalSpy modified(editor.tree(), &CConfigTree::modifiedChanged);

    formtest::ModalScript script;
    QStringList offered;
    script.Then("AddFormDialog", [&offered](QWidget* dialog) {
      auto* combo = dialog->findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo));
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      combo->setFocus();
      // The second rule set, chosen with the keyboard.
      QTest::keyClick(combo, Qt::Key_Down);
      TypeAndOk("Rooms")(dialog);
    });
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QVERIFY(sink.messages.empty());
    QCOMPARE(offered, (QStringList{"Standard", "Other"}));

    QCOMPARE(config.searchForms.size(), size_t(3));
    SearchForm* form = config.searchForms.back().get();
    QCOMPARE(form->name, std::string("Rooms"));
    QCOMPARE(form->ruleSet, config.FindRuleSet("Other"));
    QVERIFY(!form->targetGroup);
    QVERIFY(form->inputGroups.empty());
    QCOMPARE(Rows(editor.Find<QListWidget>(kIdRootListList)),
             (QStringList{"People (Standard)", "Things (Other)", "Rooms (Other)"}));
    QCOMPARE(Captions(editor.tree()->formsRoot()).front(), QStringLiteral("Rooms (Other)"));
    QVERIFY(editor.tree()->isModified());
    QCOMPARE(modified.count(), 1);

    // Its own panel shows, with nothing targeted yet.
    editor.Select(editor.tree()->ItemOf(form));
    QCOMPARE(editor.Find<QLabel>(kIdFormTitle)->text(),
             QStringLiteral(" Form Properties: Rooms (Other)"));
    QCOMPARE(editor.Find<QLabel>(kIdFormTargetRuleLabel)->text(),
             QStringLiteral("Target by Search Rule: "));
    // Not storable until it has a target group.
    QCOMPARE(form->Check().Ids(), std::vector<int>{61265});
    QVERIFY(sink.messages.empty());
  }

  void addFormRefusesATakenNameAndAsksAgain() {
    RootPanel panel(true);
    auto& [sink, scoped, config, editor] = panel;

    formtest::ModalScript script;
    QString shownAgain;
    QString ruleSetAgain;
    // "People" belongs to Standard; a form of that name in another rule set would still
    // clash with it.
    script.Then("AddFormDialog", [](QWidget* dialog) {
      auto* combo = dialog->findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo));
      combo->setCurrentIndex(1);
      TypeAndOk("People")(dialog);
    });
    script.Then("AddFormDialog", [&](QWidget* dialog) {
      shownAgain = dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit))->text();
      ruleSetAgain = dialog->findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo))->currentText();
      TypeAndOk("People Too")(dialog);
    });
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QCOMPARE(sink.Ids(), std::vector<int>{62180});
    QCOMPARE(sink.messages[0].text,
             std::string("A search form named 'People' already exists. Please enter a unique "
                         "form name."));
    QCOMPARE(shownAgain, QStringLiteral("People"));
    QCOMPARE(ruleSetAgain, QStringLiteral("Other"));
    QCOMPARE(config.searchForms.size(), size_t(3));
    QCOMPARE(config.searchForms.back()->name, std::string("People Too"));
    QCOMPARE(config.searchForms.back()->ruleSet, config.FindRuleSet("Other"));
    QCOMPARE(editor.Find<QListWidget>(kIdRootListList)->count(), 3);
  }

  void addFormCancelledAfterARefusalChangesNothing() {
    RootPanel panel(true);
    auto& [sink, scoped, config, editor] = panel;
    const size_t records = editor.tree()->recordCount();

    formtest::ModalScript script;
    script.Then("AddFormDialog", TypeAndOk("Things"));
    script.Then("AddFormDialog", [](QWidget* dialog) { Click(dialog, kIdCancel); });
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QCOMPARE(sink.Ids(), std::vector<int>{62180});
    QCOMPARE(config.searchForms.size(), size_t(2));
    QCOMPARE(editor.tree()->recordCount(), records);
    QVERIFY(!editor.tree()->isModified());
  }

  void addFormWithoutRuleSetsSaysWhatToDo() {
    RootPanel panel(true, false);
    auto& [sink, scoped, config, editor] = panel;
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(sink.Ids(), std::vector<int>{62181});
    QVERIFY(config.searchForms.empty());
    QVERIFY(!editor.tree()->isModified());
  }

  void newRuleSetIsOfferedToNewFormsAndThenInUse() {
    RootPanel panel(false, false);
    auto& [sink, scoped, config, editor] = panel;
    formtest::ModalScript script;
    script.Then("AddRuleSetDialog", TypeAndOk("Fresh"));
    Click(&editor.right, kIdRootListAddButton);

    editor.Select(editor.tree()->formsRoot());
    // A rule set without a search rule is not offered: no form on it could ever get a
    // target group.
    Click(&editor.right, kIdRootListAddButton);
    QCOMPARE(sink.Ids(), std::vector<int>{62181});
    sink.messages.clear();
    RuleSet* fresh = config.ruleSets[0].get();
    config.ruleSets.push_back(std::make_unique<RuleSet>("Only Entry Points"));
    const SearchRule entry(config.ruleSets.back().get(), "Start", {}, std::string("ldap://h/o=A"));
    config.ruleSets.back()->AddRule(&entry);
    const SearchRule person(fresh, "Person", {}, std::vector<std::string>{"person"});
    fresh->AddRule(&person);
    QStringList offered;
    script.Then("AddFormDialog", [&offered](QWidget* dialog) {
      auto* combo = dialog->findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo));
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      TypeAndOk("First Form")(dialog);
    });
    Click(&editor.right, kIdRootListAddButton);
    QVERIFY(script.Done());
    QCOMPARE(offered, QStringList{"Fresh"});
    QVERIFY(sink.messages.empty());
    QCOMPARE(config.searchForms.size(), size_t(1));
    QCOMPARE(config.searchForms[0]->ruleSet, config.ruleSets[0].get());
    QCOMPARE(Captions(editor.tree()->formsRoot()), (QStringList{"First Form (Fresh)"}));

    // The form now holds on to its rule set.
    editor.Select(editor.tree()->ruleSetsRoot());
    editor.Find<QListWidget>(kIdRootListList)->setCurrentRow(0);
    Click(&editor.right, kIdRootListRemoveButton);
    QCOMPARE(sink.Ids(), std::vector<int>{62150});
    QCOMPARE(config.ruleSets.size(), size_t(2));
  }
};

QTEST_MAIN(TestListPanelsAdd)
#include "test_listpanels_add.moc"
