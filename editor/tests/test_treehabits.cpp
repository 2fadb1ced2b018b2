// Keyboard and mouse habits of the configuration tree: Delete and the context menu remove
// a record as its parent's panel does, the menu's Add... and Rename use the panels'
// commands, nodes with children show a box that opens and closes them, and a caption the
// pane cuts off is reported as cut (its tool tip shows it whole).
#include <QAction>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "editor/configtree.h"
#include "editor/cuttexttip.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "tests/support/editorpanes.h"
#include "tests/support/sampleconfig.h"

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
      bool add, rename, remove;
    };
    const Row rows[] = {
        {{"Forms"}, true, false, false},
        {{"Rule Sets", "Standard"}, true, true, true},
        {{"Rule Sets", "Standard", "Person"}, false, true, true},
        {{"Forms", "People (Standard)"}, true, true, true},
        {{"Forms", "People (Standard)", "Person details"}, true, true, false},  // target group
    };
    for (const Row& row : rows) {
      QTreeWidgetItem* item = Node(tree, row.path);
      QVERIFY(item);
      std::unique_ptr<QMenu> menu(tree->CreateContextMenu(item));
      const QList<QAction*> actions = menu->actions();
      QCOMPARE(actions.size(), 3);
      QCOMPARE(actions[0]->text(), QString::fromStdString(msg::Text(62330)));
      QCOMPARE(actions[0]->isEnabled(), row.add);
      QCOMPARE(actions[1]->isEnabled(), row.rename);
      QCOMPARE(actions[2]->isEnabled(), row.remove);
    }
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
