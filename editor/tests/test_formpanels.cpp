// The form, input group and input field panels, alone and with the configuration tree.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "editor/addinputfielddialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/formpanel.h"
#include "editor/inputfieldpanel.h"
#include "editor/inputgrouppanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "tests/support/sampleconfig.h"

using formtest::ModalScript;
using testsupport::Child;
using testsupport::Click;
using testsupport::Column;
using testsupport::Type;

namespace {

QStringList Children(QTreeWidgetItem* item) {
  QStringList texts;
  for (int i = 0; item && i < item->childCount(); ++i) texts << item->child(i)->text(0);
  texts.sort();
  return texts;
}

QStringList Names(const std::vector<std::unique_ptr<InputGroup>>& groups) {
  QStringList names;
  for (const auto& g : groups) names << QString::fromStdString(g->name);
  return names;
}

void SelectRow(QTreeWidget* list, int row) {
  list->setCurrentItem(list->topLevelItem(row));
  list->topLevelItem(row)->setSelected(true);
}

// Drives "Add Form Input Group": types `name`, picks rule `ruleIndex`, presses OK.
void GroupDialogStep(ModalScript& script, const QString& name, int ruleIndex) {
  script.Then(ObjectName(kIdAddInputGroupDialog), [name, ruleIndex](QWidget* d) {
    Type(d, kIdNameEdit, name);
    Child<QComboBox>(d, kIdNameChoiceCombo)->setCurrentIndex(ruleIndex);
    Click(d, kIdOk);
  });
}

}  // namespace

class TestFormPanels : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    formtest::LoadSmallTable(table_);
    QVERIFY(table_.str2at("cn") != nullptr);
  }

  void init() {
    config_ = std::make_unique<Configuration>();
    sample::FillPeople(*config_);
    form_ = config_->searchForms.front().get();
    host_ = std::make_unique<QWidget>();
    host_->resize(600, 400);
    tree_ = new CConfigTree(*config_, table_, host_.get());
    tree_->Fill();
  }

  void cleanup() {
    host_.reset();
    config_.reset();
  }

  // --- CFormPanel ---------------------------------------------------------------------
  void formPanelShowsForm() {
    CFormPanel panel(tree_, form_, host_.get());
    QCOMPARE(panel.objectName(), ObjectName(kIdPropertyPanel));
    QCOMPARE(panel.windowTitle(), QString("Form Properties"));
    QCOMPARE(Child<QLabel>(&panel, kIdFormTitle)->text(),
             QString(" Form Properties: People (Standard)"));
    QCOMPARE(Child<QPushButton>(&panel, kIdFormSetTargetButton)->text(),
             QString("Set Target Group"));
    QCOMPARE(Child<QPushButton>(&panel, kIdFormAddGroupButton)->text(), QString("Add Group"));
    QCOMPARE(Child<QPushButton>(&panel, kIdFormRemoveGroupButton)->text(), QString("Remove Group"));
    QVERIFY(Child<QPushButton>(&panel, kIdFormSetTargetButton)->isEnabled());
    QVERIFY(Child<QPushButton>(&panel, kIdFormAddGroupButton)->isEnabled());
    QVERIFY(!Child<QPushButton>(&panel, kIdFormRemoveGroupButton)->isEnabled());
    QCOMPARE(Child<QLabel>(&panel, kIdFormTargetRuleLabel)->text(),
             QString("Target by Search Rule: Person"));
    QCOMPARE(Child<QLabel>(&panel, kIdFormTargetClassesLabel)->text(),
             QString("Search Rule Object Classes: person, inetOrgPerson"));
    auto* list = Child<QTreeWidget>(&panel, kIdFormGroupList);
    QCOMPARE(list->headerItem()->text(0), QString("Input Group"));
    QCOMPARE(list->headerItem()->text(1), QString("Searches For..."));
    QCOMPARE(list->columnWidth(0), 150);
    QCOMPARE(list->columnWidth(1), 150);
    // B above A; the target group is not listed.
    QCOMPARE(Column(list, 0), (QStringList{"B", "A"}));
    QCOMPARE(Column(list, 1), (QStringList{"Room", "Person"}));
  }

  void formPanelWithoutTarget() {
    form_->SetTargetGroup(nullptr);
    CFormPanel panel(tree_, form_, host_.get());
    QCOMPARE(Child<QLabel>(&panel, kIdFormTargetRuleLabel)->text(),
             QString("Target by Search Rule: "));
    QCOMPARE(Child<QLabel>(&panel, kIdFormTargetClassesLabel)->text(),
             QString("Search Rule Object Classes: "));
  }

  void formPanelSelectionEnablesRemove() {
    CFormPanel panel(tree_, form_, host_.get());
    auto* list = Child<QTreeWidget>(&panel, kIdFormGroupList);
    auto* remove = Child<QPushButton>(&panel, kIdFormRemoveGroupButton);
    SelectRow(list, 1);
    QVERIFY(remove->isEnabled());
    list->clearSelection();
    QVERIFY(!remove->isEnabled());
  }

  void candidateRulesAreSearchRulesOnly() {
    CFormPanel panel(tree_, form_, host_.get());
    QCOMPARE(panel.CandidateRules(), (std::vector<std::string>{"Person", "Room"}));
  }

  void setTargetGroupReplacesNodeAndLines() {
    InputGroup* oldTarget = form_->targetGroup.get();
    QVERIFY(tree_->ItemOf(oldTarget));
    CFormPanel panel(tree_, form_, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    ModalScript script;
    QStringList offered;
    script.Then(ObjectName(kIdAddInputGroupDialog), [&offered](QWidget* d) {
      auto* combo = Child<QComboBox>(d, kIdNameChoiceCombo);
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      Type(d, kIdNameEdit, "Which Room");
      combo->setCurrentIndex(1);
      Click(d, kIdOk);
    });
    panel.SetTargetGroup();
    QVERIFY(script.Done());
    QCOMPARE(offered, (QStringList{"Person", "Room"}));
    QVERIFY(form_->targetGroup);
    QCOMPARE(form_->targetGroup->name, std::string("Which Room"));
    QCOMPARE(form_->targetGroup->searchRule, form_->ruleSet->FindRule("Room"));
    QVERIFY(form_->targetGroup->fields.empty());
    QCOMPARE(Children(tree_->ItemOf(form_)), (QStringList{"A", "B", "Which Room"}));
    QCOMPARE(tree_->ItemOf(form_->targetGroup.get())->parent(), tree_->ItemOf(form_));
    QCOMPARE(Child<QLabel>(&panel, kIdFormTargetRuleLabel)->text(),
             QString("Target by Search Rule: Room"));
    QCOMPARE(Child<QLabel>(&panel, kIdFormTargetClassesLabel)->text(),
             QString("Search Rule Object Classes: organizationalPerson"));
    // The further groups are untouched.
    QCOMPARE(Names(form_->inputGroups), (QStringList{"A", "B"}));
    QCOMPARE(modified.count(), 1);
  }

  void setTargetGroupCancelChangesNothing() {
    InputGroup* oldTarget = form_->targetGroup.get();
    CFormPanel panel(tree_, form_, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    ModalScript script;
    script.Then(ObjectName(kIdAddInputGroupDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "Ignored");
      Click(d, kIdCancel);
    });
    panel.SetTargetGroup();
    QCOMPARE(form_->targetGroup.get(), oldTarget);
    QVERIFY(tree_->ItemOf(oldTarget));
    QCOMPARE(modified.count(), 0);
  }

  void noSearchRuleShows61255() {
    // A rule set of entry points only.
    config_->ruleSets.push_back(std::make_unique<RuleSet>("Points"));
    RuleSet* points = config_->ruleSets.back().get();
    SearchRule root(points, "Root", {}, std::string("ldap://h:389/o=x"));
    points->AddRule(&root);
    config_->searchForms.push_back(std::make_unique<SearchForm>("Lost", points));
    SearchForm* form = config_->searchForms.back().get();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    CFormPanel panel(tree_, form, host_.get());
    panel.SetTargetGroup();
    panel.AddGroup();
    QCOMPARE(sink.Ids(), (std::vector<int>{61255, 61255}));
    QCOMPARE(QString::fromStdString(sink.messages[0].text),
             QString("No usable search rules that can be applied to an input group! Please "
                     "define a non-entry point search rule for rule set 'Points' before "
                     "proceeding..."));
    QVERIFY(!form->targetGroup);
    QVERIFY(form->inputGroups.empty());
  }

  void addGroupFillsBothCellsAtOnce() {
    CFormPanel panel(tree_, form_, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    ModalScript script;
    GroupDialogStep(script, "Where", 1);
    panel.AddGroup();
    QVERIFY(script.Done());
    QCOMPARE(Names(form_->inputGroups), (QStringList{"A", "B", "Where"}));
    auto* list = Child<QTreeWidget>(&panel, kIdFormGroupList);
    QCOMPARE(Column(list, 0), (QStringList{"B", "A", "Where"}));
    QCOMPARE(Column(list, 1), (QStringList{"Room", "Person", "Room"}));
    InputGroup* added = form_->inputGroups.back().get();
    QCOMPARE(CPropertyPanel::RowRecord<InputGroup>(list, 2), added);
    QCOMPARE(tree_->ItemOf(added)->parent(), tree_->ItemOf(form_));
    QCOMPARE(modified.count(), 1);
  }

  void addGroupRefusedNameAddsNothing() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    CFormPanel panel(tree_, form_, host_.get());
    ModalScript script;
    script.Then(ObjectName(kIdAddInputGroupDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "A-1");
      Click(d, kIdOk);
      Click(d, kIdCancel);
    });
    panel.AddGroup();
    QCOMPARE(sink.Ids(), std::vector<int>{61254});
    QCOMPARE(Names(form_->inputGroups), (QStringList{"A", "B"}));
  }

  void removeGroupRemovesTheSelectedRowsGroup() {
    // Two groups of one name: the one of the selected row must go.
    auto firstOwned = std::make_unique<InputGroup>("Dup", form_->ruleSet->FindRule("Person"));
    auto secondOwned = std::make_unique<InputGroup>("Dup", form_->ruleSet->FindRule("Room"));
    InputGroup* first = firstOwned.get();
    InputGroup* second = secondOwned.get();
    form_->AddInputGroup(std::move(firstOwned));
    form_->AddInputGroup(std::move(secondOwned));
    tree_->AddInputGroupNode(form_, first);
    tree_->AddInputGroupNode(form_, second);
    CFormPanel panel(tree_, form_, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    auto* list = Child<QTreeWidget>(&panel, kIdFormGroupList);
    QCOMPARE(Column(list, 0), (QStringList{"Dup", "Dup", "B", "A"}));
    QCOMPARE(CPropertyPanel::RowRecord<InputGroup>(list, 0), second);
    SelectRow(list, 0);
    Click(&panel, kIdFormRemoveGroupButton);
    QCOMPARE(form_->inputGroups.size(), size_t(3));
    QCOMPARE(form_->inputGroups.back().get(), first);
    QVERIFY(!tree_->ItemOf(second));
    QVERIFY(tree_->ItemOf(first));
    QCOMPARE(Column(list, 0), (QStringList{"Dup", "B", "A"}));
    QCOMPARE(Column(list, 1), (QStringList{"Person", "Room", "Person"}));
    QCOMPARE(modified.count(), 1);
  }

  void removeGroupWithoutSelectionDoesNothing() {
    CFormPanel panel(tree_, form_, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    panel.RemoveGroup();
    QCOMPARE(Names(form_->inputGroups), (QStringList{"A", "B"}));
    QCOMPARE(modified.count(), 0);
  }

  void removeGroupDropsItsFieldNodes() {
    InputGroup* a = form_->inputGroups.front().get();
    InputField* phone = a->FindField("Phone");
    QVERIFY(tree_->ItemOf(phone));
    CFormPanel panel(tree_, form_, host_.get());
    SelectRow(Child<QTreeWidget>(&panel, kIdFormGroupList), 1);  // A
    panel.RemoveGroup();
    QCOMPARE(Names(form_->inputGroups), QStringList{"B"});
    QVERIFY(!tree_->ItemOf(phone));
    QCOMPARE(Children(tree_->ItemOf(form_)), (QStringList{"B", "Who"}));
  }

  void formPanelLayout() {
    CFormPanel panel(tree_, form_, host_.get());
    host_->show();
    panel.show();
    // Tall enough that the list stays above its least height when shrunk.
    panel.resize(500, 400);
    auto* title = Child<QLabel>(&panel, kIdFormTitle);
    auto* set = Child<QPushButton>(&panel, kIdFormSetTargetButton);
    auto* add = Child<QPushButton>(&panel, kIdFormAddGroupButton);
    auto* remove = Child<QPushButton>(&panel, kIdFormRemoveGroupButton);
    auto* rule = Child<QLabel>(&panel, kIdFormTargetRuleLabel);
    auto* classes = Child<QLabel>(&panel, kIdFormTargetClassesLabel);
    auto* list = Child<QTreeWidget>(&panel, kIdFormGroupList);
    QCOMPARE(title->geometry().topLeft(), QPoint(6, 6));
    QCOMPARE(title->width(), 500 - 12);
    QCOMPARE(set->y(), title->geometry().bottom() + 1 + 8);
    QCOMPARE(set->x(), 8);
    QCOMPARE(add->x(), set->geometry().right() + 1 + 8);
    QCOMPARE(remove->x(), add->geometry().right() + 1 + 8);
    QCOMPARE(add->height(), set->height());
    // Rename follows in the row, or starts the next row where the panel is too narrow.
    auto* rename = Child<QPushButton>(&panel, kIdFormRenameButton);
    if (rename->y() == set->y()) {
      QCOMPARE(rename->x(), remove->geometry().right() + 1 + 8);
    } else {
      QCOMPARE(rename->x(), 8);
      QCOMPARE(rename->y(), set->geometry().bottom() + 1 + CPropertyPanel::kWrapGap);
    }
    QVERIFY(rename->geometry().right() < 500 - 8);
    QCOMPARE(rule->y(), rename->geometry().bottom() + 1 + 8);
    QCOMPARE(rule->width(), 500 - 16);
    QVERIFY(rule->height() >= rule->fontMetrics().height());
    QCOMPARE(classes->y(), rule->geometry().bottom() + 1 + 8);
    QCOMPARE(classes->height(), rule->height());
    // The tool tip and help text edits follow the classes line, the list follows them.
    auto* tip = Child<QLineEdit>(&panel, kIdFormToolTipEdit);
    auto* help = Child<QLineEdit>(&panel, kIdFormHelpEdit);
    QCOMPARE(tip->y(), classes->geometry().bottom() + 1 + 8);
    QCOMPARE(help->y(), tip->geometry().bottom() + 1 + 8);
    QCOMPARE(list->y(), help->geometry().bottom() + 1 + 8);
    QCOMPARE(list->geometry().bottom() + 1, 400 - 8);
    // Shrinking takes height from the list only.
    const QRect buttonBefore = set->geometry();
    const int listHeight = list->height();
    panel.resize(500, 350);
    QCOMPARE(set->geometry(), buttonBefore);
    QCOMPARE(list->height(), listHeight - 50);
  }

  // --- CInputGroupPanel ---------------------------------------------------------------
  void groupPanelShowsFields() {
    InputGroup* a = form_->inputGroups.front().get();
    a->FindField("Email")->filterAttributes = {"cn", "sn"};
    CInputGroupPanel panel(tree_, a, host_.get());
    QCOMPARE(panel.objectName(), ObjectName(kIdPropertyPanel));
    QCOMPARE(panel.windowTitle(), QString("Form Group Properties"));
    QCOMPARE(Child<QLabel>(&panel, kIdInputGroupTitle)->text(),
             QString(" Input Group Properties: A"));
    QCOMPARE(Child<QPushButton>(&panel, kIdInputGroupAddFieldButton)->text(), QString("Add Input"));
    QCOMPARE(Child<QPushButton>(&panel, kIdInputGroupRemoveFieldButton)->text(),
             QString("Remove Input"));
    QVERIFY(!Child<QPushButton>(&panel, kIdInputGroupRemoveFieldButton)->isEnabled());
    auto* list = Child<QTreeWidget>(&panel, kIdInputGroupFieldList);
    QCOMPARE(list->headerItem()->text(0), QString("Name"));
    QCOMPARE(list->headerItem()->text(1), QString("Filter Attributes"));
    QCOMPARE(list->columnWidth(0), 150);
    QCOMPARE(list->columnWidth(1), 250);
    QCOMPARE(Column(list, 0), (QStringList{"Email", "Phone"}));
    QCOMPARE(Column(list, 1), (QStringList{"cn, sn", "telephoneNumber"}));
  }

  void addInputDuplicateReopensWithEarlierValues() {
    InputGroup* a = form_->inputGroups.front().get();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    CInputGroupPanel panel(tree_, a, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    ModalScript script;
    QString shownName, shownDefault;
    QStringList shownList;
    formtest::AddFieldSteps(script, "mail", "Phone", "555");
    script.Then(ObjectName(kIdAddInputFieldDialog), [&](QWidget* d) {
      shownName = Child<QLineEdit>(d, kIdAddFieldNameEdit)->text();
      shownDefault = Child<QLineEdit>(d, kIdAddFieldDefaultEdit)->text();
      auto* list = Child<QListWidget>(d, kIdAddFieldAttributeList);
      for (int i = 0; i < list->count(); ++i) shownList << list->item(i)->text();
      Type(d, kIdAddFieldNameEdit, "Mobile");
      Click(d, kIdOk);
    });
    panel.AddInput();
    QVERIFY(script.Done());
    QCOMPARE(sink.Ids(), std::vector<int>{61252});
    QCOMPARE(QString::fromStdString(sink.messages[0].text),
             QString("An input field with name 'Phone' already exists! Please re-enter a unique "
                     "field name."));
    QCOMPARE(shownName, QString("Phone"));
    QCOMPARE(shownDefault, QString("555"));
    QCOMPARE(shownList, QStringList{"mail"});
    InputField* mobile = a->FindField("Mobile");
    QVERIFY(mobile);
    QCOMPARE(mobile->defaultValue, std::string("555"));
    QCOMPARE(mobile->filterAttributes, std::vector<std::string>{"mail"});
    QCOMPARE(a->FindField("Phone")->filterAttributes, std::vector<std::string>{"telephoneNumber"});
    auto* list = Child<QTreeWidget>(&panel, kIdInputGroupFieldList);
    QCOMPARE(Column(list, 0), (QStringList{"Mobile", "Email", "Phone"}));
    QCOMPARE(CPropertyPanel::RowRecord<InputField>(list, 0), mobile);
    QCOMPARE(tree_->ItemOf(mobile)->parent(), tree_->ItemOf(a));
    QCOMPARE(modified.count(), 1);
  }

  void addInputDuplicateThenCancelAddsNothing() {
    InputGroup* a = form_->inputGroups.front().get();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    CInputGroupPanel panel(tree_, a, host_.get());
    ModalScript script;
    script.Then(ObjectName(kIdAddInputFieldDialog), [](QWidget* d) {
      static_cast<AddInputFieldDialog*>(d)->filterAttributes = {"cn"};
      Type(d, kIdAddFieldNameEdit, "Email");
      Click(d, kIdOk);
    });
    script.Then(ObjectName(kIdAddInputFieldDialog), [](QWidget* d) { Click(d, kIdCancel); });
    panel.AddInput();
    QVERIFY(script.Done());
    QCOMPARE(sink.Ids(), std::vector<int>{61252});
    QCOMPARE(a->fields.size(), size_t(2));
    QCOMPARE(a->FindField("Email")->filterAttributes, std::vector<std::string>{"mail"});
  }

  void removeInputRemovesFieldAndNode() {
    InputGroup* a = form_->inputGroups.front().get();
    InputField* phone = a->FindField("Phone");
    CInputGroupPanel panel(tree_, a, host_.get());
    auto* list = Child<QTreeWidget>(&panel, kIdInputGroupFieldList);
    SelectRow(list, 1);  // Phone
    QVERIFY(Child<QPushButton>(&panel, kIdInputGroupRemoveFieldButton)->isEnabled());
    panel.RemoveInput();
    QVERIFY(!a->FindField("Phone"));
    QVERIFY(a->FindField("Email"));
    QVERIFY(!tree_->ItemOf(phone));
    QCOMPARE(Column(list, 0), QStringList{"Email"});
    list->clearSelection();
    panel.RemoveInput();  // nothing selected: nothing happens
    QCOMPARE(a->fields.size(), size_t(1));
  }

  // --- CInputFieldPanel ---------------------------------------------------------------
  // The types show in the field's order, as the group's list shows them.
  void fieldPanelShowsTypesInOrder() {
    InputField* name = form_->targetGroup->FindField("Name");
    CInputFieldPanel panel(name, table_, host_.get());
    QCOMPARE(panel.objectName(), ObjectName(kIdPropertyPanel));
    QCOMPARE(panel.windowTitle(), QString("Form Input Properties"));
    QCOMPARE(Child<QLabel>(&panel, kIdInputFieldTitle)->text(),
             QString(" Input Field Properties: Name"));
    QCOMPARE(Child<QPushButton>(&panel, kIdInputFieldAddAttributeButton)->text(),
             QString("Add Filter"));
    QCOMPARE(Child<QPushButton>(&panel, kIdInputFieldRemoveAttributeButton)->text(),
             QString("Remove Filter"));
    auto* list = Child<QTreeWidget>(&panel, kIdInputFieldAttributeList);
    QCOMPARE(list->columnCount(), 1);
    QCOMPARE(list->headerItem()->text(0), QString("Filter Attribute"));
    QCOMPARE(Column(list, 0), (QStringList{"cn", "sn"}));
    QCOMPARE(CPropertyPanel::RowData(list, 0), RecordRef());
  }

  void addFilterAppendsOnceAtTheEnd() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    InputField* name = form_->targetGroup->FindField("Name");
    CInputFieldPanel panel(name, table_, host_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    ModalScript script;
    for (const char* type : {"mail", "cn"}) {
      script.Then(ObjectName(kIdAddFilterAttributeDialog), [type](QWidget* d) {
        Type(d, kIdNameEdit, type);
        Click(d, kIdOk);
      });
    }
    panel.AddFilter();
    panel.AddFilter();
    QVERIFY(script.Done());
    QCOMPARE(name->filterAttributes, (std::vector<std::string>{"cn", "sn", "mail"}));
    QCOMPARE(Column(Child<QTreeWidget>(&panel, kIdInputFieldAttributeList), 0),
             (QStringList{"cn", "sn", "mail"}));
    QCOMPARE(modified.count(), 1);
    // The refused one is named, and its row selected.
    QCOMPARE(sink.Ids(), std::vector<int>{62184});
    QCOMPARE(CPropertyPanel::SelectedRow(Child<QTreeWidget>(&panel, kIdInputFieldAttributeList)),
             0);
  }

  void removeLastFilterAllowedThenRefusedAtSave() {
    InputField* phone = form_->inputGroups.front()->FindField("Phone");
    CInputFieldPanel panel(phone, table_, host_.get());
    auto* list = Child<QTreeWidget>(&panel, kIdInputFieldAttributeList);
    SelectRow(list, 0);
    Click(&panel, kIdInputFieldRemoveAttributeButton);
    QVERIFY(phone->filterAttributes.empty());
    QCOMPARE(list->topLevelItemCount(), 0);
    panel.RemoveFilter();  // nothing left, nothing selected
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const msg::Outcome checked = phone->Check();
    QCOMPARE(checked.Ids(), std::vector<int>{61260});
    QVERIFY(sink.messages.empty());  // the caller shows it
    msg::Show(checked);
    QCOMPARE(QString::fromStdString(sink.messages[0].text),
             QString("Input field 'Phone' has no defined filter attribute types. At least one "
                     "is required."));
  }

  // --- the tree shows these panels ----------------------------------------------------
  void treeShowsFormPanels() {
    tree_->setCurrentItem(tree_->ItemOf(form_));
    QVERIFY(qobject_cast<CFormPanel*>(tree_->currentPanel()));
    InputGroup* a = form_->inputGroups.front().get();
    tree_->setCurrentItem(tree_->ItemOf(a));
    QVERIFY(qobject_cast<CInputGroupPanel*>(tree_->currentPanel()));
    tree_->setCurrentItem(tree_->ItemOf(a->FindField("Email")));
    auto* fieldPanel = qobject_cast<CInputFieldPanel*>(tree_->currentPanel());
    QVERIFY(fieldPanel);
    // A change in the panel marks the configuration modified.
    tree_->SetModified(false);
    ModalScript script;
    script.Then(ObjectName(kIdAddFilterAttributeDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "sn");
      Click(d, kIdOk);
    });
    fieldPanel->AddFilter();
    QVERIFY(tree_->isModified());
  }

 private:
  kvaro::Oidtable table_;
  std::unique_ptr<Configuration> config_;
  std::unique_ptr<QWidget> host_;
  CConfigTree* tree_ = nullptr;
  SearchForm* form_ = nullptr;
};

QTEST_MAIN(TestFormPanels)
#include "test_formpanels.moc"
