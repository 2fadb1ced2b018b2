// The configuration tree, the panel framework and the two list panels.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QtTest>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/formlistpanel.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "editor/rulesetspanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tests/support/editorpanes.h"
#include "tests/support/sampleconfig.h"

using Editor = testsupport::EditorPanes;
using testsupport::Captions;
using testsupport::Rows;

namespace {

// The child of `parent` captioned `caption`, or null.
QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& caption) {
  return testsupport::ItemAt(parent, {caption});
}

// The standard sample configuration with its tree filled, in the editor panes.
struct StandardEditor {
  StandardEditor() {
    sample::FillStandard(config);
    tree->Fill();
  }
  Configuration config;
  Editor editor{config};
  CConfigTree* tree = editor.tree();
};

}  // namespace

class TestTree : public QObject {
  Q_OBJECT

 private slots:
  void emptyConfigurationShowsTwoClosedRoots() {
    Configuration config;
    Editor editor(config);
    editor.tree()->Fill();
    QCOMPARE(editor.tree()->objectName(), ObjectName(kIdConfigTree));
    QCOMPARE(Captions(editor.tree()->invisibleRootItem()), (QStringList{"Forms", "Rule Sets"}));
    QCOMPARE(editor.tree()->formsRoot()->childCount(), 0);
    QVERIFY(!editor.tree()->formsRoot()->isExpanded());
    QVERIFY(!editor.tree()->ruleSetsRoot()->isExpanded());
    QCOMPARE(editor.tree()->recordCount(), size_t(2));
    // Nothing is selected at first, so no panel shows.
    QVERIFY(editor.tree()->currentPanel() == nullptr);
    QCOMPARE(editor.PanelCount(), 0);
  }

  void siblingsShowInReverseOrder() {
    Configuration config;
    sample::FillStandard(config);
    Editor editor(config);
    editor.tree()->Fill();
    CConfigTree* tree = editor.tree();
    QCOMPARE(Captions(tree->ruleSetsRoot()), (QStringList{"Other", "Standard"}));
    QTreeWidgetItem* standard = Child(tree->ruleSetsRoot(), "Standard");
    QCOMPARE(Captions(standard), (QStringList{"Org", "Person", "Root"}));
    QVERIFY(standard->isExpanded());
    QVERIFY(tree->ruleSetsRoot()->isExpanded());
    QVERIFY(tree->formsRoot()->isExpanded());
    // "%s (%s)" captions; the target group, inserted first, shows last.
    QCOMPARE(Captions(tree->formsRoot()), (QStringList{"Things (Other)", "People (Standard)"}));
    QTreeWidgetItem* people = Child(tree->formsRoot(), "People (Standard)");
    QCOMPARE(Captions(people), (QStringList{"Site", "Employer", "Person details"}));
    QVERIFY(people->isExpanded());
    QTreeWidgetItem* details = Child(people, "Person details");
    QCOMPARE(Captions(details), (QStringList{"Mail", "Name"}));
    QVERIFY(details->isExpanded());
    // A group without fields stays closed.
    QVERIFY(!Child(people, "Site")->isExpanded());
    // Two roots + 2 sets + 4 rules + 2 forms + 4 groups + 4 fields.
    QCOMPARE(tree->recordCount(), size_t(18));
  }

  void formWithoutRuleSetHasEmptyBrackets() {
    Configuration config;
    config.searchForms.push_back(std::make_unique<SearchForm>("Loose", nullptr));
    Editor editor(config);
    editor.tree()->Fill();
    QCOMPARE(Captions(editor.tree()->formsRoot()), (QStringList{"Loose ()"}));
    // A form without groups is not expanded.
    QVERIFY(!editor.tree()->formsRoot()->child(0)->isExpanded());
  }

  void addedNodesShowFirstAndMissingParentsAreSkipped() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    RuleSet* other = config.FindRuleSet("Other");
    SearchRule extra(other, "Extra", {}, std::vector<std::string>{"top"});
    other->AddRule(&extra);
    tree->AddRuleNode(other, other->FindRule("Extra"));
    QCOMPARE(Captions(Child(tree->ruleSetsRoot(), "Other")), (QStringList{"Extra", "Thing"}));

    SearchForm* people = config.searchForms[0].get();
    InputGroup* site = people->inputGroups[1].get();
    site->AddField("Town", "", {"l"});
    QVERIFY(!Child(Child(tree->formsRoot(), "People (Standard)"), "Site")->isExpanded());
    tree->AddInputFieldNode(site, site->FindField("Town"));
    QTreeWidgetItem* siteItem = Child(Child(tree->formsRoot(), "People (Standard)"), "Site");
    QCOMPARE(Captions(siteItem), (QStringList{"Town"}));
    QVERIFY(siteItem->isExpanded());

    auto owned = std::make_unique<InputGroup>("Extra group", nullptr);
    InputGroup* group = owned.get();
    people->AddInputGroup(std::move(owned));
    tree->AddInputGroupNode(people, group);
    QCOMPARE(Captions(Child(tree->formsRoot(), "People (Standard)")).front(),
             QStringLiteral("Extra group"));

    // A parent without a node: nothing is inserted.
    const size_t before = tree->recordCount();
    RuleSet stray("Stray");
    SearchRule strayRule(&stray, "R", {}, std::vector<std::string>{"top"});
    tree->AddRuleNode(&stray, &strayRule);
    tree->AddRuleNode(other, nullptr);
    QCOMPARE(tree->recordCount(), before);
  }

  void selectionShowsExactlyOnePanel() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    editor.Select(tree->ruleSetsRoot());
    QVERIFY(qobject_cast<CRuleSetsPanel*>(tree->currentPanel()));
    QCOMPARE(tree->currentPanel()->objectName(), ObjectName(kIdPropertyPanel));
    QCOMPARE(tree->currentPanel()->windowTitle(), QStringLiteral("Rule Sets"));
    QCOMPARE(tree->currentPanel()->geometry(), editor.right.scroller()->viewport()->rect());
    QCOMPARE(editor.PanelCount(), 1);

    editor.Select(tree->formsRoot());
    QVERIFY(qobject_cast<CFormListPanel*>(tree->currentPanel()));
    QCOMPARE(tree->currentPanel()->windowTitle(), QStringLiteral("Form List Properties"));
    QCOMPARE(editor.PanelCount(), 1);

    const char* titles[] = {"Rule Set Properties", "Rule Properties", "Form Properties",
                            "Form Group Properties", "Form Input Properties"};
    QTreeWidgetItem* standard = Child(tree->ruleSetsRoot(), "Standard");
    QTreeWidgetItem* people = Child(tree->formsRoot(), "People (Standard)");
    QTreeWidgetItem* details = Child(people, "Person details");
    QTreeWidgetItem* items[] = {standard, Child(standard, "Person"), people, details,
                                Child(details, "Name")};
    for (int i = 0; i < 5; ++i) {
      editor.Select(items[i]);
      QVERIFY2(tree->currentPanel(), titles[i]);
      QCOMPARE(tree->currentPanel()->windowTitle(), QString::fromLatin1(titles[i]));
      QCOMPARE(editor.PanelCount(), 1);
    }
    // Resizing the right pane resizes the panel with it.
    editor.right.resize(500, 300);
    QCOMPARE(tree->currentPanel()->size(), editor.right.scroller()->viewport()->size());
    QCOMPARE(tree->currentPanel()->size(), editor.right.contentsRect().size());
  }

  void reselectingKeepsThePanel() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    editor.left.show();
    editor.Select(tree->formsRoot());
    QPointer<CPropertyPanel> panel = tree->currentPanel();
    auto* list = panel->findChild<QListWidget*>(ObjectName(kIdRootListList));
    list->setCurrentRow(1);
    const QRect itemRect = tree->visualItemRect(tree->formsRoot());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, itemRect.center());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(panel);
    QCOMPARE(tree->currentPanel(), panel.data());
    QCOMPARE(list->currentRow(), 1);
    // Another node replaces it, and the old panel is destroyed.
    editor.Select(tree->ruleSetsRoot());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!panel);
  }

  void secondRuleOfTheSameNameShowsNoPanel() {
    Configuration config;
    auto set = std::make_unique<RuleSet>("Twins");
    set->rules.push_back(std::make_unique<SearchRule>(set.get(), "Same", std::vector<SearchRule*>{},
                                                      std::vector<std::string>{"person"}));
    set->rules.push_back(std::make_unique<SearchRule>(set.get(), "Same", std::vector<SearchRule*>{},
                                                      std::vector<std::string>{"device"}));
    // A rule whose owner pointer names another set shows no panel either.
    RuleSet elsewhere("Elsewhere");
    set->rules.push_back(std::make_unique<SearchRule>(
        &elsewhere, "Stray", std::vector<SearchRule*>{}, std::vector<std::string>{"top"}));
    config.ruleSets.push_back(std::move(set));
    Editor editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    QTreeWidgetItem* twins = Child(tree->ruleSetsRoot(), "Twins");
    // Reverse order: Stray, second Same, first Same.
    QCOMPARE(Captions(twins), (QStringList{"Stray", "Same", "Same"}));
    editor.Select(twins->child(2));
    QVERIFY(tree->currentPanel() != nullptr);
    QCOMPARE(tree->currentPanel()->windowTitle(), QStringLiteral("Rule Properties"));
    editor.Select(twins->child(1));
    QVERIFY(tree->currentPanel() == nullptr);
    QCOMPARE(editor.PanelCount(), 0);
    editor.Select(twins->child(0));
    QVERIFY(tree->currentPanel() == nullptr);
  }

  void formListPanelOffersAddForm() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    editor.Select(tree->formsRoot());
    auto* list = editor.Find<QListWidget>(kIdRootListList);
    auto* add = editor.Find<QPushButton>(kIdRootListAddButton);
    QCOMPARE(Rows(list), (QStringList{"People (Standard)", "Things (Other)"}));
    QVERIFY(add->isEnabled());
    QCOMPARE(add->text(), QStringLiteral("Add Form"));
    QCOMPARE(editor.Find<QLabel>(kIdRootListTitle)->text(), QStringLiteral("Search Forms"));
    // Add Form cancelled changes nothing.
    formtest::ModalScript script;
    script.Then("AddFormDialog", [](QWidget* dialog) { testsupport::Click(dialog, kIdCancel); });
    add->click();
    QVERIFY(script.Done());
    QCOMPARE(config.searchForms.size(), size_t(2));
    QVERIFY(!tree->isModified());
  }

  // Remove in the list panel of a tree root: No keeps the record with everything below
  // it; Yes removes it from the configuration, the list and the tree.
  void removalThroughTheListPanel_data() {
    QTest::addColumn<bool>("forms");  // the Forms root, else the Rule Sets root
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("rowsAfter");
    QTest::addColumn<QStringList>("captionsAfter");
    QTest::addColumn<int>("recordsAfter");
    // A form goes with its 3 groups and 3 fields.
    QTest::newRow("form") << true << 0 << QStringList{"Things (Other)"}
                          << QStringList{"Things (Other)"} << 18 - 7;
    // The form that uses "Other" (with its group and field) goes first; the rule set
    // goes with its rule.
    QTest::newRow("rule set") << false << 1 << QStringList{"Standard"} << QStringList{"Standard"}
                              << 18 - 3 - 2;
  }
  void removalThroughTheListPanel() {
    QFETCH(bool, forms);
    QFETCH(int, row);
    QFETCH(QStringList, rowsAfter);
    QFETCH(QStringList, captionsAfter);
    QFETCH(int, recordsAfter);
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    if (!forms) QVERIFY(tree->RemoveForm(config.searchForms[1].get()));
    QCoreApplication::processEvents();  // where one user action ends and the next begins
    QTreeWidgetItem* root = forms ? tree->formsRoot() : tree->ruleSetsRoot();
    const size_t count = forms ? config.searchForms.size() : config.ruleSets.size();
    const size_t records = tree->recordCount();
    const bool modifiedBefore = tree->isModified();
    QSignalSpy modified(tree, &CConfigTree::modifiedChanged);
    editor.Select(root);
    auto* list = editor.Find<QListWidget>(kIdRootListList);
    auto* remove = editor.Find<QPushButton>(kIdRootListRemoveButton);
    QVERIFY(!remove->isEnabled());
    const QString chosen = list->item(row)->text();
    list->setCurrentRow(row);
    QVERIFY(remove->isEnabled());

    // No question: Undo is the way back.
    remove->click();
    QVERIFY(sink.messages.empty());
    QCOMPARE(forms ? config.searchForms.size() : config.ruleSets.size(), count - 1);
    QCOMPARE(Rows(list), rowsAfter);
    QVERIFY(!remove->isEnabled());
    QCOMPARE(Captions(root), captionsAfter);
    QCOMPARE(tree->recordCount(), size_t(recordsAfter));
    QVERIFY(tree->isModified());
    QCOMPARE(modified.count(), modifiedBefore ? 0 : 1);
    // Remove with no selection does nothing.
    remove->setEnabled(true);
    remove->click();
    QCOMPARE(forms ? config.searchForms.size() : config.ruleSets.size(), count - 1);
    // Selecting the root again lists what is left.
    editor.Select(forms ? tree->ruleSetsRoot() : tree->formsRoot());
    editor.Select(root);
    QCOMPARE(Rows(editor.Find<QListWidget>(kIdRootListList)), rowsAfter);
    // Undo brings the record back with everything below it, and its node.
    QVERIFY(tree->Undo());
    QCOMPARE(forms ? config.searchForms.size() : config.ruleSets.size(), count);
    QCOMPARE(tree->recordCount(), records);
    QVERIFY(Captions(root).contains(chosen));
    QCOMPARE(tree->isModified(), modifiedBefore);
    QVERIFY(tree->Redo());
    QCOMPARE(Captions(root), captionsAfter);
  }

  // Removing what the configuration no longer holds is refused quietly.
  void removingAStrayRecordIsRefused() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    RuleSet stray("Stray");
    QVERIFY(!tree->RemoveRuleSet(&stray));
    QVERIFY(!tree->RemoveForm(nullptr));
    QCOMPARE(sink.Ids(), std::vector<int>{});
    QCOMPARE(config.ruleSets.size(), size_t(2));
    QVERIFY(!tree->isModified());
  }

  // A rule set that a form still searches by stays, and the message names the form:
  // whether the form is its own or uses one of its rules from another rule set.
  void ruleSetInUseIsNotRemoved_data() {
    QTest::addColumn<bool>("borrowed");
    QTest::addColumn<QString>("ruleSet");
    QTest::newRow("its own form") << false << "Other";
    QTest::newRow("a group of another set's form") << true << "Standard";
  }
  void ruleSetInUseIsNotRemoved() {
    QFETCH(bool, borrowed);
    QFETCH(QString, ruleSet);
    Configuration config;
    sample::FillStandard(config);
    if (borrowed) {
      // "Things" (rule set Other) gets a group searching by Standard's "Org".
      config.searchForms[1]->AddInputGroup(std::make_unique<InputGroup>(
          "Borrowed", config.FindRuleSet("Standard")->FindRule("Org")));
      config.searchForms.erase(config.searchForms.begin());  // People no longer uses Standard
    }
    Editor editor(config);
    CConfigTree* tree = editor.tree();
    tree->Fill();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    editor.Select(tree->ruleSetsRoot());
    auto* list = editor.Find<QListWidget>(kIdRootListList);
    auto* remove = editor.Find<QPushButton>(kIdRootListRemoveButton);
    QCOMPARE(Rows(list), (QStringList{"Standard", "Other"}));
    list->setCurrentRow(Rows(list).indexOf(ruleSet));
    remove->click();
    QCOMPARE(sink.Ids(), std::vector<int>{62150});
    const QString text = QString::fromStdString(sink.messages[0].text);
    QVERIFY2(text.contains("'" + ruleSet + "'"), qPrintable(text));
    QVERIFY2(text.contains("Things (Other)"), qPrintable(text));
    QCOMPARE(config.ruleSets.size(), size_t(2));
    QCOMPARE(Rows(list), (QStringList{"Standard", "Other"}));
    QCOMPARE(Captions(tree->ruleSetsRoot()), (QStringList{"Other", "Standard"}));
    QVERIFY(!tree->isModified());
    // The tree's own call refuses it the same way.
    QVERIFY(!tree->RemoveRuleSet(config.FindRuleSet(ruleSet.toStdString())));
    QCOMPARE(sink.Ids(), (std::vector<int>{62150, 62150}));
    QCOMPARE(config.ruleSets.size(), size_t(2));
  }

  void removingTheShownNodeRemovesItsPanel() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    SearchForm* people = config.searchForms[0].get();
    InputGroup* details = people->targetGroup.get();
    QTreeWidgetItem* name =
        Child(Child(Child(tree->formsRoot(), "People (Standard)"), "Person details"), "Name");
    editor.Select(name);
    QVERIFY(tree->currentPanel());
    QPointer<CPropertyPanel> old = tree->currentPanel();
    // The group above the shown field goes: no node or panel may show its field.
    tree->RemoveNodesOf(details);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!old);
    const TreeNodeRecord* selected = tree->selectedRecord();
    if (selected) {
      QVERIFY(selected->object != RecordRef(details));
      QVERIFY(selected->object != RecordRef(details->fields[0].get()));
    }
    QCOMPARE(tree->ItemOf(details), nullptr);
    QCOMPARE(tree->ItemOf(details->fields[0].get()), nullptr);
    QCOMPARE(tree->recordCount(), size_t(18 - 3));
    QVERIFY(editor.PanelCount() <= 1);
  }

  void removeButtonFollowsTheSelection() {
    Configuration config;
    sample::FillStandard(config);
    Editor editor(config);
    editor.right.show();
    CConfigTree* tree = editor.tree();
    tree->Fill();
    editor.Select(tree->formsRoot());
    auto* list = editor.Find<QListWidget>(kIdRootListList);
    auto* remove = editor.Find<QPushButton>(kIdRootListRemoveButton);
    QVERIFY(QTest::qWaitForWindowExposed(&editor.right));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    QVERIFY(remove->isEnabled());
    // A click where no row is clears the selection and disables Remove.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(list->viewport()->width() - 3, list->viewport()->height() - 3));
    QVERIFY(!remove->isEnabled());
  }

  void titleAndLayoutFollowTheRules() {
    StandardEditor sample;
    auto& [config, editor, tree] = sample;
    editor.Select(tree->ruleSetsRoot());
    CPropertyPanel* panel = tree->currentPanel();
    auto* title = panel->findChild<QLabel*>(ObjectName(kIdRootListTitle));
    QCOMPARE(title->palette().color(QPalette::Window), QColor(0, 0, 127));
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    QVERIFY(title->autoFillBackground());
    QCOMPARE(title->font().pixelSize(), 14);
    QVERIFY(title->font().bold());
    auto* add = panel->findChild<QPushButton*>(ObjectName(kIdRootListAddButton));
    auto* remove = panel->findChild<QPushButton*>(ObjectName(kIdRootListRemoveButton));
    auto* list = panel->findChild<QListWidget*>(ObjectName(kIdRootListList));
    QVERIFY(!add->font().bold());
    QCOMPARE(add->font().pixelSize(), 14);

    editor.right.resize(600, 400);
    const int cx = panel->width(), cy = panel->height();
    QCOMPARE(panel->size(), editor.right.contentsRect().size());
    const QSize extent = CPropertyPanel::TextExtent(title->text());
    QCOMPARE(title->geometry(), QRect(6, 6, cx - 12, extent.height() + 6));
    const QSize addExtent = CPropertyPanel::TextExtent(add->text());
    QCOMPARE(add->geometry(), QRect(8, title->geometry().bottom() + 1 + 8, addExtent.width() + 12,
                                    addExtent.height() + 8));
    QCOMPARE(remove->x(), add->geometry().right() + 1 + 8);
    QCOMPARE(remove->width(), CPropertyPanel::TextExtent(remove->text()).width() + 12);
    const int listTop = add->geometry().bottom() + 1 + 8;
    QCOMPARE(list->geometry(), QRect(8, listTop, cx - 16, cy - 8 - listTop));

    // Short: the list shrinks, title and buttons keep their size, down to the list's
    // least height; below that the pane scrolls instead of cutting the list off.
    const QRect addBefore = add->geometry();
    const int titleHeight = title->height();
    editor.right.resize(600, listTop + 100);
    QCOMPARE(add->geometry(), addBefore);
    QCOMPARE(title->height(), titleHeight);
    QCOMPARE(list->height(), panel->height() - 8 - listTop);
    editor.right.resize(600, 120);
    QCOMPARE(list->height(), CPropertyPanel::MinimumListHeight());
    QVERIFY(panel->height() > editor.right.scroller()->viewport()->height());
    QVERIFY(panel->rect().contains(list->geometry()));
    // Narrow: a button that does not fit beside the other goes below it.
    editor.right.resize(remove->geometry().right(), 400);
    QCOMPARE(add->geometry(), addBefore);
    QCOMPARE(remove->x(), 8);
    QCOMPARE(remove->y(), add->geometry().bottom() + 1 + CPropertyPanel::kWrapGap);
    QVERIFY(panel->rect().contains(remove->geometry()));
  }

  void emptyListShowsOnlyAddEnabled() {
    Configuration config;
    Editor editor(config);
    editor.tree()->Fill();
    editor.Select(editor.tree()->ruleSetsRoot());
    QCOMPARE(editor.Find<QListWidget>(kIdRootListList)->count(), 0);
    QVERIFY(editor.Find<QPushButton>(kIdRootListAddButton)->isEnabled());
    QVERIFY(!editor.Find<QPushButton>(kIdRootListRemoveButton)->isEnabled());
  }

  void reportRowsInsertAtTopNameRowsAtEnd() {
    QWidget host;
    RuleSet held("Held");
    QTreeWidget report(&host);
    report.setColumnCount(2);
    CPropertyPanel::InsertReportRow(&report, 0, {"A", "1"}, &held);
    CPropertyPanel::InsertReportRow(&report, 0, {"B", "2"});
    QCOMPARE(CPropertyPanel::RowText(&report, 0), QStringLiteral("B"));
    QCOMPARE(CPropertyPanel::RowRecord<RuleSet>(&report, 1), &held);
    // A row read as another kind of record has none.
    QCOMPARE(CPropertyPanel::RowRecord<SearchForm>(&report, 1), nullptr);
    QCOMPARE(CPropertyPanel::RowRecord<RuleSet>(&report, 0), nullptr);
    QCOMPARE(CPropertyPanel::RowData(&report, 7), RecordRef());
    CPropertyPanel::InsertReportRow(&report, 99, {"C", "3"});
    QCOMPARE(CPropertyPanel::RowText(&report, 2), QStringLiteral("C"));
    QListWidget names(&host);
    CPropertyPanel::InsertNameRow(&names, "x");
    CPropertyPanel::InsertNameRow(&names, "y");
    QCOMPARE(Rows(&names), (QStringList{"x", "y"}));
    CPropertyPanel::DeleteRow(&names, 5);
    CPropertyPanel::DeleteRow(&names, 0);
    QCOMPARE(Rows(&names), (QStringList{"y"}));
    QCOMPARE(CPropertyPanel::SelectedRow(&names), -1);
  }
};

QTEST_MAIN(TestTree)
#include "test_tree.moc"
