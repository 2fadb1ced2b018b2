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
#include <QUndoStack>
#include <QtTest>
#include <functional>
#include <memory>

#include "editor/configtree.h"
#include "editor/cuttexttip.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"
#include "tests/support/editorpanes.h"
#include "tests/support/modaldriver.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/testfiles.h"

using TreeEdit = std::function<void(Configuration&, CConfigTree*)>;
Q_DECLARE_METATYPE(TreeEdit)

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
  // Delete on a node: the parent panel's rules (a refusal for a rule set in use; no
  // question, since Undo brings a removed record back), then the record is gone or stays.
  void deleteKey_data() {
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<int>("answer");  // msg::Answer given to a question
    QTest::addColumn<bool>("gone");
    QTest::addColumn<int>("message");  // the one message shown (0: none)
    QTest::newRow("form") << QStringList{"Forms", "People (Standard)"} << int(msg::Answer::No)
                          << true << 0;
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

  // Undo and redo of every kind of edit: undo gives back the loaded configuration (the
  // same records, saved byte for byte as before), redo the edited one; the step is named
  // after the edit, and the unsaved-changes state follows.
  void undoRedoEveryEdit_data() {
    using Edit = TreeEdit;
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("name");
    const auto standard = [](Configuration& c) { return c.FindRuleSet("Standard"); };
    const auto people = [](Configuration& c) { return c.FindForm("People"); };
    QTest::newRow("add rule set") << Edit([](Configuration& c, CConfigTree* t) {
      RuleSet* added = c.AddRuleSet(std::make_unique<RuleSet>("Staff"));
      added->AddRule(std::make_unique<SearchRule>(nullptr, "Any", std::vector<SearchRule*>{},
                                                  std::vector<std::string>{"person"}));
      t->AddRuleSetNode(added);
      t->MarkModified();
    }) << "Add Rule Set Staff";
    QTest::newRow("remove form") << Edit([people](Configuration& c, CConfigTree* t) {
      QVERIFY(t->RemoveForm(people(c)));
    }) << "Remove Form People";
    QTest::newRow("remove field") << Edit([people](Configuration& c, CConfigTree* t) {
      InputGroup* a = people(c)->inputGroups[0].get();
      t->RemoveNodesOf(a->FindField("Phone"));
      a->RemoveField("Phone");
      t->MarkModified();
    }) << "Remove Input Field Phone";
    QTest::newRow("rename rule set") << Edit([standard](Configuration& c, CConfigTree* t) {
      QVERIFY(RenameRuleSet(c, *standard(c), "Main"));
      t->MarkModified();
    }) << "Rename Rule Set Standard";
    QTest::newRow("rename rule used by a form")
        << Edit([standard](Configuration& c, CConfigTree* t) {
             RuleSet* set = standard(c);
             QVERIFY(RenameRule(*set, *set->FindRule("Person"), "Human"));
             t->MarkModified();
           })
        << "Rename Rule Person";
    QTest::newRow("set start point") << Edit([standard](Configuration& c, CConfigTree* t) {
      QVERIFY(standard(c)->FindRule("Root")->SetLdapUri("ldap://elsewhere:389/o=Other"));
      t->MarkModified();
    }) << "Change Rule Root";
    QTest::newRow("list: add filter") << Edit([people](Configuration& c, CConfigTree* t) {
      QVERIFY(people(c)->targetGroup->FindField("Name")->AddFilterAttribute("mail"));
      t->MarkModified();
    }) << "Change Input Field Name";
    QTest::newRow("list: remove class") << Edit([standard](Configuration& c, CConfigTree* t) {
      QVERIFY(standard(c)->FindRule("Room")->RemoveObjectClass(
          standard(c)->FindRule("Room")->objectClasses.front()));
      standard(c)->FindRule("Room")->AddObjectClass("room");
      standard(c)->FindRule("Room")->AddObjectClass("device");
      t->MarkModified();
    }) << "Change Rule Room";
    QTest::newRow("form texts") << Edit([people](Configuration& c, CConfigTree* t) {
      people(c)->toolTip = "Find colleagues";
      t->MarkModified();
    }) << "Change Form People";
    QTest::newRow("duplicate form") << Edit([people](Configuration& c, CConfigTree* t) {
      SearchForm* copy = nullptr;
      QVERIFY(DuplicateForm(c, *people(c), "People 2", &copy));
      t->AddFormNode(copy);
      t->MarkModified();
    }) << "Add Form People 2";
  }
  void undoRedoEveryEdit() {
    using Edit = TreeEdit;
    QFETCH(Edit, edit);
    QFETCH(QString, name);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    Configuration config;
    sample::FillPeople(config);
    testsupport::EditorPanes editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    const auto saved = [&config] {
      QTemporaryDir folder;
      if (!testsupport::SaveShown(config, folder.path().toStdString()))
        return decltype(testsupport::Snapshot(std::string())){};
      return testsupport::Snapshot(folder.path().toStdString());
    };
    const auto ids = [&config] {
      std::vector<RecordId> out;
      for (const auto& set : config.ruleSets) {
        out.push_back(set->id);
        for (const auto& rule : set->rules) out.push_back(rule->id);
      }
      for (const auto& form : config.searchForms) out.push_back(form->id);
      return out;
    };
    const auto loaded = saved();
    const std::vector<RecordId> loadedIds = ids();
    QVERIFY(!loaded.empty());
    QVERIFY(!tree->undoStack()->canUndo());

    edit(config, tree);
    QVERIFY(tree->isModified());
    QCoreApplication::processEvents();
    QCOMPARE(tree->undoStack()->undoText(), name);
    const auto edited = saved();
    QVERIFY(edited != loaded);

    QVERIFY(tree->Undo());
    QCOMPARE(saved(), loaded);
    QCOMPARE(ids(), loadedIds);
    QVERIFY(!tree->isModified());
    QVERIFY(!tree->undoStack()->canUndo());
    QVERIFY(tree->ItemOf(config.searchForms[0].get()));

    QVERIFY(tree->Redo());
    QCOMPARE(saved(), edited);
    QVERIFY(tree->isModified());
    // Saved here, then undone: unsaved again.
    tree->SetModified(false);
    QVERIFY(!tree->isModified());
    QVERIFY(tree->Undo());
    QVERIFY(tree->isModified());
    QVERIFY(sink.messages.empty());
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
