// The rule set panel and the rule panel (search rule and entry point), with the tree
// they keep in step.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <deque>
#include <functional>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/rulepanel.h"
#include "editor/rulesetpanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tests/support/imagecheck.h"

using testsupport::Child;
using testsupport::Click;
using testsupport::Column;
using testsupport::Rows;

namespace {

std::unique_ptr<SearchRule> Search(RuleSet* owner, const std::string& name,
                                   std::vector<std::string> classes) {
  return std::make_unique<SearchRule>(owner, name, std::vector<SearchRule*>{}, std::move(classes));
}
std::unique_ptr<SearchRule> Entry(RuleSet* owner, const std::string& name, const std::string& uri) {
  return std::make_unique<SearchRule>(owner, name, std::vector<SearchRule*>{}, uri);
}

}  // namespace

class TestRulePanels : public QObject {
  Q_OBJECT

 private:
  kvaro::Oidtable table_;
  msg::RecordingSink sink_;
  std::unique_ptr<msg::ScopedSink> scoped_;
  std::unique_ptr<Configuration> config_;
  std::unique_ptr<QWidget> window_;
  CConfigTree* tree_ = nullptr;
  RuleSet* people_ = nullptr;

  // "People" with the search rules Alpha (person), Beta (organizationalPerson) and the
  // entry point Gamma, in that order; "Lonely" with the single search rule Solo.
  void BuildConfiguration() {
    config_ = std::make_unique<Configuration>();
    auto people = std::make_unique<RuleSet>("People");
    people_ = people.get();
    people->AddRule(Search(people_, "Alpha", {"person"}).get());
    people->AddRule(Search(people_, "Beta", {"organizationalPerson", "person"}).get());
    people->AddRule(Entry(people_, "Gamma", "ldap://ldap.example.org/o=Acme,c=US").get());
    config_->ruleSets.push_back(std::move(people));
    auto lonely = std::make_unique<RuleSet>("Lonely");
    lonely->AddRule(Search(lonely.get(), "Solo", {"person"}).get());
    config_->ruleSets.push_back(std::move(lonely));

    window_ = std::make_unique<QWidget>();
    window_->resize(800, 600);
    tree_ = new CConfigTree(*config_, table_, window_.get());
    tree_->Fill();
  }

  SearchRule* Rule(RuleSet* set, const char* name) {
    SearchRule* rule = set->FindRule(name);
    if (!rule) qFatal("no rule %s", name);
    return rule;
  }
  QStringList TreeChildren(const RecordRef& record) {
    QStringList names;
    QTreeWidgetItem* item = tree_->ItemOf(record);
    for (int i = 0; item && i < item->childCount(); ++i) names << item->child(i)->text(0);
    return names;
  }

  // Answers "Add Rule" with a search rule of `name` and the object class `objectClass`.
  void AddSearchRuleSteps(testsupport::ModalDriver& steps, const QString& name,
                          const QString& objectClass) {
    steps
        .Then(ObjectName(kIdAddRuleDialog),
              [name](QWidget* dialog) {
                QTest::keyClicks(Child<QLineEdit>(dialog, kIdAddRuleNameEdit), name);
                Click(dialog, kIdAddRuleAddClassButton);
              })
        .Then(ObjectName(kIdAddObjectClassDialog),
              [objectClass](QWidget* dialog) {
                QTest::keyClicks(Child<QLineEdit>(dialog, kIdNameEdit), objectClass);
                Click(dialog, kIdOk);
              })
        .Then(ObjectName(kIdAddRuleDialog), [](QWidget* dialog) { Click(dialog, kIdOk); });
  }

 private slots:
  void initTestCase() {
    QVERIFY(ldapx::LoadOidtableText(table_, formtest::kRuleSchema) == 7);
    scoped_ = std::make_unique<msg::ScopedSink>(&sink_);
  }
  void init() {
    sink_.messages.clear();
    BuildConfiguration();
  }
  void cleanup() {
    window_.reset();
    config_.reset();
  }

  void ruleSetPanelListsRulesNewestFirst() {
    CRuleSetPanel panel(tree_, people_, nullptr);
    panel.resize(500, 400);
    QCOMPARE(panel.objectName(), ObjectName(kIdPropertyPanel));
    QCOMPARE(panel.windowTitle(), QString("Rule Set Properties"));
    QCOMPARE(Child<QLabel>(&panel, kIdRuleSetTitle)->text(),
             QString(" Rule Set Properties: People"));
    QCOMPARE(Child<QPushButton>(&panel, kIdRuleSetAddRuleButton)->text(), QString("Add Rule"));
    auto* list = Child<QTreeWidget>(&panel, kIdRuleSetRuleList);
    QCOMPARE(list->headerItem()->text(0), QString("Name"));
    QCOMPARE(list->headerItem()->text(1), QString("Type"));
    QCOMPARE(list->columnWidth(0), 150);
    QCOMPARE(list->columnWidth(1), 150);
    QCOMPARE(Column(list, 0), QStringList({"Gamma", "Beta", "Alpha"}));
    QCOMPARE(Column(list, 1), QStringList({"Start Point", "Search Rule", "Search Rule"}));
    QCOMPARE(CPropertyPanel::RowRecord<SearchRule>(list, 0), Rule(people_, "Gamma"));
    // Remove Rule follows the list's selection; Rename renames the rule set.
    QCOMPARE(Child<QPushButton>(&panel, kIdRuleSetRemoveRuleButton)->text(),
             QString("Remove Rule"));
    QVERIFY(!Child<QPushButton>(&panel, kIdRuleSetRemoveRuleButton)->isEnabled());
    QCOMPARE(Child<QPushButton>(&panel, kIdRuleSetRenameButton)->text(), QString("Rename"));
  }

  void ruleSetPanelLayoutShrinksTheListFirst() {
    CRuleSetPanel panel(tree_, people_, nullptr);
    panel.resize(500, 400);
    panel.show();  // a hidden widget gets its resize event only when shown
    auto* title = Child<QLabel>(&panel, kIdRuleSetTitle);
    auto* button = Child<QPushButton>(&panel, kIdRuleSetAddRuleButton);
    auto* list = Child<QTreeWidget>(&panel, kIdRuleSetRuleList);
    QCOMPARE(title->geometry().topLeft(), QPoint(6, 6));
    QCOMPARE(title->width(), 500 - 12);
    QCOMPARE(button->x(), 6);
    QCOMPARE(button->y(), title->geometry().bottom() + 1 + 6);
    QCOMPARE(list->x(), 6);
    QCOMPARE(list->y(), button->geometry().bottom() + 1 + 6);
    QCOMPARE(list->width(), 500 - 12);
    QCOMPARE(list->geometry().bottom() + 1, 400 - 6);
    const QRect buttonBefore = button->geometry();
    panel.resize(200, 90);
    QCOMPARE(button->geometry(), buttonBefore);
    QCOMPARE(title->height(), CPropertyPanel::TextExtent(title->text()).height() + 6);
    QVERIFY(list->height() < 400 - list->y());
    QVERIFY(list->height() >= 0);
  }

  void addRuleGoesToTheTopOfListAndTree() {
    tree_->setCurrentItem(tree_->ItemOf(people_));
    auto* panel = qobject_cast<CRuleSetPanel*>(tree_->currentPanel());
    QVERIFY(panel);
    QSignalSpy modified(panel, &CPropertyPanel::modified);
    testsupport::ModalDriver steps;
    AddSearchRuleSteps(steps, "Delta", "top");
    Click(panel, kIdRuleSetAddRuleButton);
    QVERIFY(steps.Done());
    QVERIFY(sink_.messages.empty());
    QCOMPARE(people_->rules.size(), size_t(4));
    SearchRule* delta = people_->rules.back().get();
    QCOMPARE(delta->name, std::string("Delta"));
    QCOMPARE(delta->ruleType, RuleTypeSearchRule);
    QCOMPARE(delta->objectClasses, std::vector<std::string>{"top"});
    QCOMPARE(delta->ownerRuleSet, people_);
    QVERIFY(delta->searchableRules.empty());
    auto* list = Child<QTreeWidget>(panel, kIdRuleSetRuleList);
    QCOMPARE(Column(list, 0), QStringList({"Delta", "Gamma", "Beta", "Alpha"}));
    QCOMPARE(CPropertyPanel::RowRecord<SearchRule>(list, 0), delta);
    QCOMPARE(TreeChildren(people_).front(), QString("Delta"));
    QCOMPARE(TreeChildren(people_).size(), 4);
    QCOMPARE(modified.count(), 1);
    QVERIFY(tree_->isModified());
  }

  void addEntryPointShowsStartPointType() {
    CRuleSetPanel panel(tree_, people_, window_.get());
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdAddRuleDialog), [](QWidget* dialog) {
      QTest::keyClicks(Child<QLineEdit>(dialog, kIdAddRuleNameEdit), "Branch");
      QTest::mouseClick(Child<QRadioButton>(dialog, kIdAddRuleEntryPointRadio), Qt::LeftButton);
      QTest::keyClicks(Child<QLineEdit>(dialog, kIdSearchBaseEdit), "o=Acme");
      QTest::keyClicks(Child<QLineEdit>(dialog, kIdHostEdit), "dir.example.org");
      QTest::keyClicks(Child<QLineEdit>(dialog, kIdPortEdit), "1389");
      Click(dialog, kIdOk);
    });
    Click(&panel, kIdRuleSetAddRuleButton);
    QVERIFY(steps.Done());
    SearchRule* branch = people_->FindRule("Branch");
    QVERIFY(branch);
    QCOMPARE(branch->ruleType, RuleTypeEntryPoint);
    QCOMPARE(branch->ldapUri, std::string("ldap://dir.example.org:1389/o=Acme"));
    QVERIFY(branch->objectClasses.empty());
    auto* list = Child<QTreeWidget>(&panel, kIdRuleSetRuleList);
    QCOMPARE(list->topLevelItem(0)->text(1), QString("Start Point"));
  }

  void addRuleWithATakenNameAddsNothingButSaysSo() {
    CRuleSetPanel panel(tree_, people_, window_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    testsupport::ModalDriver steps;
    AddSearchRuleSteps(steps, "Beta", "top");
    // The dialog refuses the name itself and stays open; Cancel then adds nothing.
    steps.Then(ObjectName(kIdAddRuleDialog), [](QWidget* dialog) { Click(dialog, kIdCancel); });
    Click(&panel, kIdRuleSetAddRuleButton);
    QVERIFY(steps.Done());
    QCOMPARE(sink_.Ids(), std::vector<int>{62222});
    QVERIFY(sink_.messages[0].text.find("'Beta'") != std::string::npos);
    QCOMPARE(people_->rules.size(), size_t(3));
    QCOMPARE(Rule(people_, "Beta")->objectClasses.size(), size_t(2));
    QCOMPARE(Child<QTreeWidget>(&panel, kIdRuleSetRuleList)->topLevelItemCount(), 3);
    QCOMPARE(TreeChildren(people_).size(), 3);
    QCOMPARE(modified.count(), 0);
  }

  void cancelledAddRuleChangesNothing() {
    CRuleSetPanel panel(tree_, people_, window_.get());
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdAddRuleDialog), [](QWidget* dialog) {
      QTest::keyClicks(Child<QLineEdit>(dialog, kIdAddRuleNameEdit), "Nothing");
      Click(dialog, kIdCancel);
    });
    Click(&panel, kIdRuleSetAddRuleButton);
    QVERIFY(steps.Done());
    QCOMPARE(people_->rules.size(), size_t(3));
    QVERIFY(!tree_->isModified());
  }

  void searchRulePanelShowsItsValues() {
    SearchRule* beta = Rule(people_, "Beta");
    beta->AddSearchableRule(Rule(people_, "Alpha"));
    CRulePanel panel(beta, people_, table_, nullptr);
    panel.resize(500, 500);
    QCOMPARE(panel.objectName(), ObjectName(kIdPropertyPanel));
    QCOMPARE(panel.windowTitle(), QString("Rule Properties"));
    QCOMPARE(Child<QLabel>(&panel, kIdRuleTitle)->text(), QString(" Rule Properties: Beta"));
    QCOMPARE(Child<QLabel>(&panel, kIdRuleNameLabel)->text(), QString("Name"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRuleNameEdit)->text(), QString("Beta"));
    QCOMPARE(Child<QGroupBox>(&panel, kIdRuleSearchGroup)->title(), QString("Can Search For..."));
    QCOMPARE(Child<QGroupBox>(&panel, kIdRuleSecondGroup)->title(),
             QString("Denoting Object Classes"));
    QCOMPARE(Rows(Child<QListWidget>(&panel, kIdRuleSearchRuleList)), QStringList({"Alpha"}));
    QCOMPARE(Rows(Child<QListWidget>(&panel, kIdRuleClassList)),
             QStringList({"organizationalPerson", "person"}));
    QVERIFY(Child<QPushButton>(&panel, kIdRuleAddClassButton)->isEnabled());
    QVERIFY(!Child<QPushButton>(&panel, kIdRuleRemoveClassButton)->isEnabled());
    QVERIFY(Child<QPushButton>(&panel, kIdRuleAddSearchRuleButton)->isEnabled());
    QVERIFY(!Child<QPushButton>(&panel, kIdRuleRemoveSearchRuleButton)->isEnabled());
    QVERIFY(!panel.findChild<QPushButton*>(ObjectName(kIdRuleSetStartPointButton)));
    QVERIFY(!panel.findChild<QLineEdit*>(ObjectName(kIdRuleBaseEdit)));
  }

  void nameEditCannotRenameTheRule() {
    CRulePanel panel(Rule(people_, "Alpha"), people_, table_, nullptr);
    auto* edit = Child<QLineEdit>(&panel, kIdRuleNameEdit);
    QVERIFY(edit->isReadOnly());
    QTest::keyClicks(edit, "Omega");
    QCOMPARE(edit->text(), QString("Alpha"));
    QCOMPARE(Rule(people_, "Alpha")->name, std::string("Alpha"));
  }

  void objectClassesAreAddedAtTheEndOnce() {
    SearchRule* alpha = Rule(people_, "Alpha");
    CRulePanel panel(alpha, people_, table_, window_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    auto answer = [](const QString& name) {
      return [name](QWidget* dialog) {
        QTest::keyClicks(Child<QLineEdit>(dialog, kIdSearchBaseEdit), name);
        Click(dialog, kIdOk);
      };
    };
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdAddObjectClassDialog), answer("top"));
    Click(&panel, kIdRuleAddClassButton);
    steps.Then(ObjectName(kIdAddObjectClassDialog), answer("person"));
    Click(&panel, kIdRuleAddClassButton);
    QVERIFY(steps.Done());
    QCOMPARE(alpha->objectClasses, (std::vector<std::string>{"person", "top"}));
    QCOMPARE(Rows(Child<QListWidget>(&panel, kIdRuleClassList)), QStringList({"person", "top"}));
    QCOMPARE(modified.count(), 1);
  }

  void removeObjectClassByRowKeepsTheLastOne() {
    SearchRule* beta = Rule(people_, "Beta");
    CRulePanel panel(beta, people_, table_, nullptr);
    auto* list = Child<QListWidget>(&panel, kIdRuleClassList);
    auto* remove = Child<QPushButton>(&panel, kIdRuleRemoveClassButton);
    panel.RemoveObjectClass();  // no row selected: nothing
    QCOMPARE(beta->objectClasses.size(), size_t(2));
    list->setCurrentRow(0);
    QVERIFY(remove->isEnabled());
    Click(&panel, kIdRuleRemoveClassButton);
    QCOMPARE(beta->objectClasses, std::vector<std::string>{"person"});
    QCOMPARE(Rows(list), QStringList({"person"}));
    list->setCurrentRow(0);
    Click(&panel, kIdRuleRemoveClassButton);
    QCOMPARE(sink_.Ids(), std::vector<int>{62170});
    QCOMPARE(beta->objectClasses, std::vector<std::string>{"person"});
    QCOMPARE(Rows(list), QStringList({"person"}));
  }

  void addSearchRuleOffersOtherSearchRulesOnly() {
    SearchRule* alpha = Rule(people_, "Alpha");
    CRulePanel panel(alpha, people_, table_, window_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    QStringList offered;
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdChildRuleDialog), [&offered](QWidget* dialog) {
      auto* combo = Child<QComboBox>(dialog, kIdChildRuleCombo);
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      Click(dialog, kIdOk);
    });
    Click(&panel, kIdRuleAddSearchRuleButton);
    QVERIFY(steps.Done());
    QCOMPARE(offered, QStringList({"Beta"}));
    QCOMPARE(alpha->searchableRules.size(), size_t(1));
    QCOMPARE(alpha->searchableRules[0]->name, std::string("Beta"));
    QCOMPARE(alpha->searchableRules[0], Rule(people_, "Beta"));  // the rule itself
    QCOMPARE(Rows(Child<QListWidget>(&panel, kIdRuleSearchRuleList)), QStringList({"Beta"}));
    // The same rule again adds nothing.
    steps.Then(ObjectName(kIdChildRuleDialog), [](QWidget* dialog) { Click(dialog, kIdOk); });
    Click(&panel, kIdRuleAddSearchRuleButton);
    QVERIFY(steps.Done());
    QCOMPARE(alpha->searchableRules.size(), size_t(1));
    QCOMPARE(Child<QListWidget>(&panel, kIdRuleSearchRuleList)->count(), 1);
    QCOMPARE(modified.count(), 1);
    // ... and says why, with the rule already there selected.
    QCOMPARE(sink_.Ids(), std::vector<int>{62183});
    QVERIFY(QString::fromStdString(sink_.messages[0].text).contains("'Beta'"));
    QCOMPARE(CPropertyPanel::SelectedRow(Child<QListWidget>(&panel, kIdRuleSearchRuleList)), 0);
  }

  void addSearchRuleWithoutCandidatesNamesTheRuleSet() {
    RuleSet* lonely = config_->FindRuleSet("Lonely");
    CRulePanel panel(Rule(lonely, "Solo"), lonely, table_, nullptr);
    Click(&panel, kIdRuleAddSearchRuleButton);
    QCOMPARE(sink_.Ids(), std::vector<int>{61255});
    QCOMPARE(sink_.messages[0].text,
             std::string("No usable search rules that can be applied to an input group! Please "
                         "define a non-entry point search rule for rule set 'Lonely' before "
                         "proceeding..."));
    QVERIFY(Rule(lonely, "Solo")->searchableRules.empty());
  }

  void entryPointCanSearchForAllSearchRules() {
    CRulePanel panel(Rule(people_, "Gamma"), people_, table_, window_.get());
    QStringList offered;
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdChildRuleDialog), [&offered](QWidget* dialog) {
      auto* combo = Child<QComboBox>(dialog, kIdChildRuleCombo);
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      combo->setCurrentIndex(1);
      Click(dialog, kIdOk);
    });
    Click(&panel, kIdRuleAddSearchRuleButton);
    QVERIFY(steps.Done());
    QCOMPARE(offered, QStringList({"Alpha", "Beta"}));
    QCOMPARE(Rule(people_, "Gamma")->searchableRules.at(0)->name, std::string("Beta"));
  }

  void removeSearchRuleByRow() {
    SearchRule* beta = Rule(people_, "Beta");
    beta->AddSearchableRule(Rule(people_, "Alpha"));
    beta->AddSearchableRule(Rule(people_, "Gamma"));
    CRulePanel panel(beta, people_, table_, nullptr);
    auto* list = Child<QListWidget>(&panel, kIdRuleSearchRuleList);
    QCOMPARE(Rows(list), QStringList({"Alpha", "Gamma"}));
    list->setCurrentRow(1);
    QVERIFY(Child<QPushButton>(&panel, kIdRuleRemoveSearchRuleButton)->isEnabled());
    Click(&panel, kIdRuleRemoveSearchRuleButton);
    QCOMPARE(Rows(list), QStringList({"Alpha"}));
    QCOMPARE(beta->searchableRules.size(), size_t(1));
    QCOMPARE(beta->searchableRules[0]->name, std::string("Alpha"));
  }

  void ldapsEntryPointWithoutPortShows636() {
    SearchRule secure(people_, "Secure", {}, std::string("ldaps://ldap.example.org/o=Acme"));
    CRulePanel panel(&secure, people_, table_, nullptr);
    QVERIFY(sink_.messages.empty());
    QCOMPARE(Child<QLineEdit>(&panel, kIdRuleHostEdit)->text(), QString("ldap.example.org"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRulePortEdit)->text(), QString("636"));
  }

  void entryPointWithoutPortShows389() {
    CRulePanel panel(Rule(people_, "Gamma"), people_, table_, nullptr);
    QVERIFY(sink_.messages.empty());
    QCOMPARE(Child<QGroupBox>(&panel, kIdRuleSecondGroup)->title(), QString("Start Point"));
    QCOMPARE(Child<QLabel>(&panel, kIdRuleBaseLabel)->text(), QString("Search Base DN"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRuleBaseEdit)->text(), QString("o=Acme,c=US"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRuleHostEdit)->text(), QString("ldap.example.org"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRulePortEdit)->text(), QString("389"));
    for (int id : {kIdRuleBaseEdit, kIdRuleHostEdit, kIdRulePortEdit})
      QVERIFY(Child<QLineEdit>(&panel, id)->isReadOnly());
    QVERIFY(!panel.findChild<QListWidget*>(ObjectName(kIdRuleClassList)));
    QVERIFY(!panel.findChild<QPushButton*>(ObjectName(kIdRuleAddClassButton)));
  }

  void badStartPointGivesWarning61245() {
    SearchRule* gamma = Rule(people_, "Gamma");
    gamma->SetLdapUri("ldap://host:notaport/o=Acme");
    CRulePanel panel(gamma, people_, table_, nullptr);
    QCOMPARE(sink_.Ids(), std::vector<int>{61245});
    QCOMPARE(sink_.messages[0].text,
             std::string("Warning!\n\nA bad directory entry point was found:\n\nLDAP URI: "
                         "ldap://host:notaport/o=Acme\nForm Search Class: Gamma"));
    for (int id : {kIdRuleBaseEdit, kIdRuleHostEdit, kIdRulePortEdit})
      QVERIFY(Child<QLineEdit>(&panel, id)->text().isEmpty());
  }

  void setStartPointStoresTheUriAndRefills() {
    SearchRule* gamma = Rule(people_, "Gamma");
    CRulePanel panel(gamma, people_, table_, window_.get());
    QSignalSpy modified(&panel, &CPropertyPanel::modified);
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdStartPointDialog), [](QWidget* dialog) {
      QCOMPARE(Child<QLineEdit>(dialog, kIdPortEdit)->text(), QString("389"));
      auto* port = Child<QLineEdit>(dialog, kIdPortEdit);
      port->clear();
      QTest::keyClicks(port, "636");
      auto* base = Child<QLineEdit>(dialog, kIdSearchBaseEdit);
      base->clear();
      QTest::keyClicks(base, "c=US");
      Click(dialog, kIdOk);
    });
    Click(&panel, kIdRuleSetStartPointButton);
    QVERIFY(steps.Done());
    QCOMPARE(gamma->ldapUri, std::string("ldap://ldap.example.org:636/c=US"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRuleBaseEdit)->text(), QString("c=US"));
    QCOMPARE(Child<QLineEdit>(&panel, kIdRulePortEdit)->text(), QString("636"));
    QCOMPARE(modified.count(), 1);
  }

  void ruleLayoutFollowsTheTextExtents() {
    CRulePanel panel(Rule(people_, "Gamma"), people_, table_, nullptr);
    panel.resize(600, 500);
    panel.show();
    auto* title = Child<QLabel>(&panel, kIdRuleTitle);
    auto* label = Child<QLabel>(&panel, kIdRuleNameLabel);
    auto* edit = Child<QLineEdit>(&panel, kIdRuleNameEdit);
    auto* group1 = Child<QGroupBox>(&panel, kIdRuleSearchGroup);
    auto* list = Child<QListWidget>(&panel, kIdRuleSearchRuleList);
    auto* group2 = Child<QGroupBox>(&panel, kIdRuleSecondGroup);
    auto* hostLabel = Child<QLabel>(&panel, kIdRuleHostLabel);
    auto* baseEdit = Child<QLineEdit>(&panel, kIdRuleBaseEdit);
    auto* set = Child<QPushButton>(&panel, kIdRuleSetStartPointButton);
    const int h = CPropertyPanel::TextExtent("Name").height();
    QCOMPARE(label->pos(), QPoint(8, title->geometry().bottom() + 1 + 2 + 10));
    QCOMPARE(edit->x(), label->geometry().right() + 1 + 8);
    // Rename sits right of the name, as wide as its text, and ends where the edit did.
    auto* rename = Child<QPushButton>(&panel, kIdRuleRenameButton);
    QCOMPARE(rename->x(), edit->geometry().right() + 1 + 8);
    QCOMPARE(rename->width(), CPropertyPanel::TextExtent("Rename").width() + 6 * 2);
    QCOMPARE(rename->geometry().right() + 1, 600 - 8);
    QVERIFY(rename->y() <= edit->y());
    QCOMPARE(group1->y(), rename->geometry().bottom() + 1 + 14);
    QCOMPARE(list->geometry(), QRect(16, group1->y() + h + 10, 600 - 32, 5 * h));
    QCOMPARE(group2->y(), group1->geometry().bottom() + 1 + 14);
    QCOMPARE(hostLabel->y(), baseEdit->geometry().bottom() + 1 + 2 + 10);
    QCOMPARE(group2->geometry().bottom() + 1, set->geometry().bottom() + 1 + 10);
    QCOMPARE(group2->width(), 600 - 16);
  }

  void treeShowsTheRulePanels() {
    tree_->setCurrentItem(tree_->ItemOf(people_));
    QVERIFY(qobject_cast<CRuleSetPanel*>(tree_->currentPanel()));
    tree_->setCurrentItem(tree_->ItemOf(Rule(people_, "Gamma")));
    auto* panel = qobject_cast<CRulePanel*>(tree_->currentPanel());
    QVERIFY(panel);
    QCOMPARE(Child<QLineEdit>(panel, kIdRuleHostEdit)->text(), QString("ldap.example.org"));
    // A change in the rule panel marks the configuration as changed.
    QVERIFY(!tree_->isModified());
    testsupport::ModalDriver steps;
    steps.Then(ObjectName(kIdChildRuleDialog), [](QWidget* dialog) { Click(dialog, kIdOk); });
    Click(panel, kIdRuleAddSearchRuleButton);
    QVERIFY(steps.Done());
    QVERIFY(tree_->isModified());
  }
};

QTEST_MAIN(TestRulePanels)
#include "test_rulepanels.moc"
