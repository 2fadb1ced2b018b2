// Keyboard and mouse habits of the configuration tree: Delete and the context menu remove
// a record as its parent's panel does, the menu's Add... and Rename use the panels'
// commands, Duplicate... copies a rule set or form, nodes with children show a box that opens and
// closes them, and a caption the pane cuts off is reported as cut (its tool tip shows it whole).
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "editor/configtree.h"
#include "editor/cuttexttip.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "tests/support/editorpanes.h"
#include "tests/support/modaldriver.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"

namespace {

QTreeWidgetItem* Node(CConfigTree* tree, const QStringList& path) {
  QTreeWidgetItem* item = path.front() == "Forms" ? tree->formsRoot() : tree->ruleSetsRoot();
  for (const QString& caption : path.mid(1)) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; item && i < item->childCount() && !next; ++i)
      if (item->child(i)->text(0) == caption) next = item->child(i);
    item = next;
  }
  return item;
}

}  // namespace

class TestTreeHabits : public QObject {
  Q_OBJECT

 private slots:
  // Delete on a node: the parent panel's rules (a question for forms, a refusal for a
  // rule set in use, none for a field), then the record is gone or stays.
  void deleteKey_data() {
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<int>("answer");  // msg::Answer given to a question
    QTest::addColumn<bool>("gone");
    QTest::addColumn<int>("message");  // the one message shown (0: none)
    QTest::newRow("form, Yes") << QStringList{"Forms", "People (Standard)"} << int(msg::Answer::Yes)
                               << true << 62178;
    QTest::newRow("form, No") << QStringList{"Forms", "People (Standard)"} << int(msg::Answer::No)
                              << false << 62178;
    QTest::newRow("rule set in use")
        << QStringList{"Rule Sets", "Standard"} << int(msg::Answer::Yes) << false << 62150;
    QTest::newRow("field") << QStringList{"Forms", "People (Standard)", "Person details", "Name"}
                           << int(msg::Answer::Yes) << true << 0;
    QTest::newRow("root: nothing") << QStringList{"Forms"} << int(msg::Answer::Yes) << false << 0;
  }
  void deleteKey() {
    QFETCH(QStringList, path);
    QFETCH(int, answer);
    QFETCH(bool, gone);
    QFETCH(int, message);
    msg::RecordingSink sink;
    sink.answer = msg::Answer(answer);
    msg::ScopedSink scoped(&sink);
    Configuration config;
    sample::FillStandard(config);
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    QTreeWidgetItem* item = Node(tree, path);
    QVERIFY(item);
    tree->setCurrentItem(item);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Delete);
    QCOMPARE(Node(tree, path) == nullptr, gone);
    QCOMPARE(tree->isModified(), gone);
    if (message) {
      QCOMPARE(sink.Ids(), std::vector<int>{message});
    } else {
      QVERIFY(sink.messages.empty());
    }
  }

  // The context menu offers Add... where the node's panel adds below it, Rename on
  // records, Remove where the parent's panel lists the record.
  void contextMenu() {
    Configuration config;
    sample::FillStandard(config);
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    struct Row {
      QStringList path;
      bool add, rename, duplicate, remove;
    };
    const Row rows[] = {
        {{"Forms"}, true, false, false, false},
        {{"Rule Sets", "Standard"}, true, true, true, true},
        {{"Rule Sets", "Standard", "Person"}, false, true, false, true},
        {{"Forms", "People (Standard)"}, true, true, true, true},
        {{"Forms", "People (Standard)", "Person details"}, true, true, false, false},  // target
    };
    for (const Row& row : rows) {
      QTreeWidgetItem* item = Node(tree, row.path);
      QVERIFY(item);
      std::unique_ptr<QMenu> menu(tree->CreateContextMenu(item));
      const QList<QAction*> actions = menu->actions();
      QCOMPARE(actions.size(), 4);
      QCOMPARE(actions[0]->text(), QString::fromStdString(msg::Text(62330)));
      QCOMPARE(actions[0]->isEnabled(), row.add);
      QCOMPARE(actions[1]->isEnabled(), row.rename);
      QCOMPARE(actions[2]->isEnabled(), row.duplicate);
      QCOMPARE(actions[3]->isEnabled(), row.remove);
    }
  }

  // Duplicate from the context menu: the copy takes the proposed or typed name, holds
  // copies of everything below the original (new records, the copied rules searching
  // for each other, not for the originals), shows in the tree selected, and is saved and
  // loaded back like any record. A taken name keeps the dialog open.
  void duplicate_data() {
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QString>("typed");  // empty: the proposed name
    QTest::addColumn<QString>("copyName");
    QTest::newRow("rule set, proposed name") << QStringList{"Rule Sets", "Standard"} << ""
                                             << "Copy of Standard";
    QTest::newRow("rule set, typed name") << QStringList{"Rule Sets", "Standard"} << "Staff"
                                          << "Staff";
    QTest::newRow("form, typed name") << QStringList{"Forms", "People (Standard)"} << "People 2"
                                      << "People 2";
  }
  void duplicate() {
    QFETCH(QStringList, path);
    QFETCH(QString, typed);
    QFETCH(QString, copyName);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    Configuration config;
    sample::FillPeople(config);
    config.searchForms[0]->toolTip = "Find people";
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    QTreeWidgetItem* item = Node(tree, path);
    QVERIFY(item);
    bool triedTaken = false;
    testsupport::OnNextModalOf<QDialog>([&](QDialog* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>();
      QVERIFY(edit);
      if (!typed.isEmpty()) {
        // A name already taken is refused and the dialog stays.
        edit->setText(path[0] == "Forms" ? "people" : "STANDARD");
        dialog->accept();
        triedTaken = dialog->isVisible() && !sink.messages.empty();
        sink.messages.clear();
        edit->setText(typed);
      }
      dialog->accept();
    });
    std::unique_ptr<QMenu> menu(tree->CreateContextMenu(item));
    menu->actions()[2]->trigger();
    QVERIFY(sink.messages.empty());
    QCOMPARE(triedTaken, !typed.isEmpty());
    QVERIFY(tree->isModified());
    const std::string name = copyName.toStdString();
    if (path[0] == "Rule Sets") {
      const RuleSet* original = config.FindRuleSet("Standard");
      const RuleSet* copy = config.FindRuleSet(name);
      QVERIFY(copy && copy != original);
      QCOMPARE(copy->rules.size(), original->rules.size());
      for (size_t i = 0; i < copy->rules.size(); ++i) {
        const SearchRule& a = *original->rules[i];
        const SearchRule& b = *copy->rules[i];
        QVERIFY(a.id != b.id);
        QCOMPARE(b.name, a.name);
        QCOMPARE(b.ownerRuleSet, copy);
        QCOMPARE(b.ldapUri, a.ldapUri);
        QCOMPARE(b.objectClasses, a.objectClasses);
        QCOMPARE(b.searchableRules.size(), a.searchableRules.size());
        for (size_t j = 0; j < b.searchableRules.size(); ++j) {
          QCOMPARE(b.searchableRules[j]->ownerRuleSet, copy);
          QCOMPARE(b.searchableRules[j]->name, a.searchableRules[j]->name);
        }
      }
      QCOMPARE(tree->currentItem()->text(0), copyName);
      QCOMPARE(tree->currentItem()->childCount(), int(original->rules.size()));
    } else {
      const SearchForm* original = config.FindForm("People");
      const SearchForm* copy = config.FindForm(name);
      QVERIFY(copy && copy != original);
      QCOMPARE(copy->ruleSet, original->ruleSet);
      QCOMPARE(copy->toolTip, std::string("Find people"));
      QVERIFY(copy->targetGroup && copy->targetGroup != original->targetGroup);
      QCOMPARE(copy->targetGroup->searchRule, original->targetGroup->searchRule);
      QCOMPARE(copy->inputGroups.size(), original->inputGroups.size());
      QCOMPARE(copy->inputGroups[0]->fields.size(), original->inputGroups[0]->fields.size());
      QCOMPARE(copy->inputGroups[0]->fields[0]->filterAttributes,
               original->inputGroups[0]->fields[0]->filterAttributes);
      QVERIFY(copy->inputGroups[0]->fields[0]->id != original->inputGroups[0]->fields[0]->id);
      QCOMPARE(tree->currentItem()->text(0), copyName + " (Standard)");
      QCOMPARE(tree->currentItem()->childCount(), 1 + int(original->inputGroups.size()));
    }
    // Both stores keep the copy as they keep the original.
    QTemporaryDir folder;
    QVERIFY(testsupport::SaveShown(config, folder.path().toStdString()));
    Configuration back;
    kvaro::Oidtable table;
    QCOMPARE(testsupport::LoadShown(back, folder.path().toStdString(), table), kLoaded);
    QVERIFY(path[0] == "Forms" ? back.FindForm(name) != nullptr
                               : back.FindRuleSet(name) != nullptr);
  }

  // A node with children shows a box; a click on it closes and opens the node.
  void expandBoxToggles() {
    Configuration config;
    sample::FillStandard(config);
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    QTreeWidgetItem* standard = Node(tree, {"Rule Sets", "Standard"});
    QVERIFY(standard->isExpanded());
    const QRect row = tree->visualItemRect(standard);
    const QPoint box(row.left() - tree->indentation() / 2, row.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box);
    QVERIFY(!standard->isExpanded());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box);
    QVERIFY(standard->isExpanded());
  }

  // A caption wider than the pane counts as cut; a short one does not.
  void cutCaptions() {
    Configuration config;
    sample::FillStandard(config);
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    QTreeWidgetItem* forms = tree->formsRoot();
    QVERIFY(!IsTextCut(tree, tree->indexFromItem(forms)));
    editor.left.resize(80, 400);
    QApplication::processEvents();
    QTreeWidgetItem* people = Node(tree, {"Forms", "People (Standard)"});
    QVERIFY(IsTextCut(tree, tree->indexFromItem(people)));
  }
};

QTEST_MAIN(TestTreeHabits)
#include "test_treehabits.moc"
