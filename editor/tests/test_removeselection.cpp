// After every Remove in a panel list nothing is selected and Remove is off, by mouse
// and by keyboard, so a second press cannot remove a second entry; and nothing is
// selected when the tree first takes the focus.
#include <QAbstractItemView>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QtTest>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tests/support/editorpanes.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/widgethelpers.h"

using Editor = testsupport::EditorPanes;
using testsupport::ItemAt;

namespace {

int Rows(QAbstractItemView* list) { return list->model()->rowCount(); }

}  // namespace

class TestRemoveSelection : public QObject {
  Q_OBJECT

 private slots:
  void firstFocusSelectsNothing() {
    Configuration config;
    sample::FillStandard(config);
    Editor editor(config);
    editor.tree()->Fill();
    editor.left.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&editor.left));
    editor.tree()->setFocus(Qt::TabFocusReason);
    QVERIFY(editor.tree()->hasFocus());
    QVERIFY(editor.tree()->selectedItems().isEmpty());
    QVERIFY(!editor.tree()->currentPanel());
    QVERIFY(!editor.right.panel());
    // The keyboard still selects: Down shows the panel of the node it moves to.
    QTest::keyClick(editor.tree(), Qt::Key_Down);
    QCOMPARE(editor.tree()->selectedItems().size(), 1);
    QVERIFY(editor.tree()->currentPanel());
  }

  void removeLeavesNothingSelected_data() {
    QTest::addColumn<QStringList>("node");  // "Rule Sets" or "Forms", then captions
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("remove");
    QTest::addColumn<bool>("keyboard");
    struct Case {
      const char* name;
      QStringList node;
      int list;
      int remove;
    };
    const Case cases[] = {
        {"rule sets", {"Rule Sets"}, kIdRootListList, kIdRootListRemoveButton},
        {"forms", {"Forms"}, kIdRootListList, kIdRootListRemoveButton},
        {"form groups", {"Forms", "People (Standard)"}, kIdFormGroupList, kIdFormRemoveGroupButton},
        {"group fields",
         {"Forms", "People (Standard)", "Person details"},
         kIdInputGroupFieldList,
         kIdInputGroupRemoveFieldButton},
        {"field filters",
         {"Forms", "People (Standard)", "Person details", "Name"},
         kIdInputFieldAttributeList,
         kIdInputFieldRemoveAttributeButton},
        {"rules", {"Rule Sets", "Standard"}, kIdRuleSetRuleList, kIdRuleSetRemoveRuleButton},
        {"object classes",
         {"Rule Sets", "Standard", "Person"},
         kIdRuleClassList,
         kIdRuleRemoveClassButton},
        {"searchable rules",
         {"Rule Sets", "Standard", "Person"},
         kIdRuleSearchRuleList,
         kIdRuleRemoveSearchRuleButton},
    };
    for (const Case& c : cases) {
      for (bool keyboard : {false, true}) {
        QTest::addRow("%s by %s", c.name, keyboard ? "keyboard" : "mouse")
            << c.node << ObjectName(c.list) << ObjectName(c.remove) << keyboard;
      }
    }
  }
  void removeLeavesNothingSelected() {
    QFETCH(QStringList, node);
    QFETCH(QString, list);
    QFETCH(QString, remove);
    QFETCH(bool, keyboard);
    Configuration config;
    sample::FillStandard(config);
    // Two searchable rules, and forms that leave "Other" free to be removed.
    RuleSet* standard = config.FindRuleSet("Standard");
    SearchRule* person = standard->FindRule("Person");
    person->AddSearchableRule(standard->FindRule("Org"));
    person->AddSearchableRule(standard->FindRule("Root"));
    config.ruleSets.insert(config.ruleSets.begin(), std::make_unique<RuleSet>("Spare B"));
    config.ruleSets.insert(config.ruleSets.begin(), std::make_unique<RuleSet>("Spare A"));
    // Rules nothing uses, listed first (newest first) so they are the ones removed.
    for (const char* name : {"Spare 1", "Spare 2"}) {
      SearchRule spare(standard, name, {}, std::vector<std::string>{"device"});
      standard->AddRule(&spare);
    }
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    sink.answer = msg::Answer::Yes;  // the questions before removing a rule set or form

    Editor editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    QTreeWidgetItem* root = node.front() == "Forms" ? tree->formsRoot() : tree->ruleSetsRoot();
    QTreeWidgetItem* item = ItemAt(root, node.mid(1));
    QVERIFY(item);
    tree->setCurrentItem(item);
    CPropertyPanel* panel = tree->currentPanel();
    QVERIFY(panel);
    editor.right.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&editor.right));
    auto* view = panel->findChild<QAbstractItemView*>(list);
    auto* button = panel->findChild<QPushButton*>(remove);
    QVERIFY(view && button);
    const int before = Rows(view);
    QVERIFY2(before >= 2, "a neighbour row is needed for the view to select");

    for (int round = 0; round < 2; ++round) {
      const int rows = Rows(view);
      if (keyboard) {
        view->setFocus(Qt::TabFocusReason);
        QTest::keyClick(view, Qt::Key_Home);
        QTest::keyClick(view, Qt::Key_Space);
      } else {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(0, 0)).center());
      }
      QVERIFY(view->selectionModel()->hasSelection());
      QVERIFY(button->isEnabled());
      if (keyboard) {
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Space);
      } else {
        QTest::mouseClick(button, Qt::LeftButton);
      }
      QCOMPARE(Rows(view), rows - 1);
      QVERIFY(!view->selectionModel()->hasSelection());
      QVERIFY(!view->selectionModel()->currentIndex().isValid());
      QVERIFY(!button->isEnabled());
      // A second press removes nothing.
      if (keyboard) {
        QTest::keyClick(button, Qt::Key_Space);
      } else {
        QTest::mouseClick(button, Qt::LeftButton);
      }
      QCOMPARE(Rows(view), rows - 1);
      if (Rows(view) < 2) break;
    }
  }
};

QTEST_MAIN(TestRemoveSelection)
#include "test_removeselection.moc"
