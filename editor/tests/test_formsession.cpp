// A whole editing session through the tree and its panels: edits, a save to local files,
// and a load that finds exactly the edits.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/propertypanel.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/testfiles.h"

using formtest::ModalScript;
using testsupport::Child;
using testsupport::Click;
using testsupport::Type;

namespace {

// Selects the row of `list` whose first column reads `text`.
void SelectRow(QWidget* panel, int listId, const QString& text) {
  auto* list = Child<QTreeWidget>(panel, listId);
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(0) == text) {
      list->setCurrentItem(list->topLevelItem(i));
      list->topLevelItem(i)->setSelected(true);
      return;
    }
  }
  qFatal("no row %s", qPrintable(text));
}

// Everything the text files keep, one line per record, in list order.
std::string Dump(const Configuration& config) {
  std::ostringstream out;
  for (const auto& set : config.ruleSets) {
    out << "set " << set->name << "\n";
    // The text keeps search rules and entry points apart (each kind in its order).
    for (int type : {RuleTypeSearchRule, RuleTypeEntryPoint}) {
      for (const auto& rule : set->rules) {
        if (rule->ruleType != type) continue;
        out << "  rule " << rule->name << " type " << rule->ruleType << " uri " << rule->ldapUri
            << " classes";
        for (const auto& c : rule->objectClasses) out << " " << c;
        out << "\n";
      }
    }
  }
  for (const auto& form : config.searchForms) {
    out << "form " << form->name << " (" << (form->ruleSet ? form->ruleSet->name : "-") << ")\n";
    auto group = [&out](const char* kind, const InputGroup& g) {
      out << "  " << kind << " " << g.name << " by " << (g.searchRule ? g.searchRule->name : "-")
          << "\n";
      for (const auto& f : g.fields) {
        out << "    field " << f->name << ":";
        for (const auto& a : f->filterAttributes) out << " " << a;
        out << "\n";
      }
    };
    if (form->targetGroup) group("target", *form->targetGroup);
    for (const auto& g : form->inputGroups) group("group", *g);
  }
  return out.str();
}

}  // namespace

class TestFormSession : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    formtest::LoadSmallTable(table_);
    QVERIFY(table_.str2oc("organizationalPerson") != nullptr);
  }

  std::string Folder() const { return folder_.path().toStdString(); }

  void init() {
    QVERIFY(folder_.isValid());
    config_ = std::make_unique<Configuration>();
    sample::FillPeople(*config_);

    host_ = std::make_unique<QWidget>();
    host_->resize(700, 500);
    tree_ = new CConfigTree(*config_, table_, host_.get());
    tree_->Fill();
  }

  void cleanup() {
    host_.reset();
    config_.reset();
    std::filesystem::remove_all(folder_.path().toStdString());
    std::filesystem::create_directories(folder_.path().toStdString());
  }

  void editSaveAndLoad() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    RuleSet* standard = config_->ruleSets.front().get();
    SearchForm* form = config_->searchForms.front().get();

    // A new search rule, added in the rule set's panel.
    QWidget* panel = Show(standard);
    {
      ModalScript script;
      script.Then(ObjectName(kIdAddRuleDialog), [](QWidget* d) {
        Type(d, kIdAddRuleNameEdit, "Office");
        QTest::mouseClick(Child<QRadioButton>(d, kIdAddRuleSearchRuleRadio), Qt::LeftButton);
        Click(d, kIdAddRuleAddClassButton);
      });
      script.Then(ObjectName(kIdAddObjectClassDialog), [](QWidget* d) {
        Type(d, kIdNameEdit, "organizationalPerson");
        Click(d, kIdOk);
      });
      script.Then(ObjectName(kIdAddRuleDialog), [](QWidget* d) { Click(d, kIdOk); });
      Click(panel, kIdRuleSetAddRuleButton);
      QVERIFY(script.Done());
    }
    QVERIFY(standard->FindRule("Office"));

    // A group searching by it, and group B removed, in the form's panel.
    panel = Show(form);
    {
      ModalScript script;
      script.Then(ObjectName(kIdAddInputGroupDialog), [](QWidget* d) {
        auto* combo = Child<QComboBox>(d, kIdNameChoiceCombo);
        Type(d, kIdNameEdit, "Office Group");
        combo->setCurrentIndex(combo->findText("Office"));
        Click(d, kIdOk);
      });
      Click(panel, kIdFormAddGroupButton);
      QVERIFY(script.Done());
    }
    SelectRow(panel, kIdFormGroupList, "B");
    Click(panel, kIdFormRemoveGroupButton);

    // A field in the new group, through the group's panel.
    InputGroup* office = form->inputGroups.back().get();
    QCOMPARE(office->name, std::string("Office Group"));
    panel = Show(office);
    {
      ModalScript script;
      script.Then(ObjectName(kIdAddInputFieldDialog), [](QWidget* d) {
        Type(d, kIdAddFieldNameEdit, "Office Name");
        Click(d, kIdAddFieldAddAttributeButton);
      });
      script.Then(ObjectName(kIdAddFilterAttributeDialog), [](QWidget* d) {
        Type(d, kIdNameEdit, "cn");
        Click(d, kIdOk);
      });
      script.Then(ObjectName(kIdAddInputFieldDialog), [](QWidget* d) { Click(d, kIdOk); });
      Click(panel, kIdInputGroupAddFieldButton);
      QVERIFY(script.Done());
    }

    // Field Phone of group A removed.
    InputGroup* a = form->inputGroups.front().get();
    panel = Show(a);
    SelectRow(panel, kIdInputGroupFieldList, "Phone");
    Click(panel, kIdInputGroupRemoveFieldButton);

    // Filter mail added to the target's field Name, and sn removed from it.
    InputField* name = form->targetGroup->FindField("Name");
    panel = Show(name);
    {
      ModalScript script;
      script.Then(ObjectName(kIdAddFilterAttributeDialog), [](QWidget* d) {
        Type(d, kIdNameEdit, "mail");
        Click(d, kIdOk);
      });
      Click(panel, kIdInputFieldAddAttributeButton);
      QVERIFY(script.Done());
    }
    SelectRow(panel, kIdInputFieldAttributeList, "sn");
    Click(panel, kIdInputFieldRemoveAttributeButton);

    QVERIFY(tree_->isModified());
    QVERIFY2(sink.messages.empty(), sink.messages.empty() ? "" : sink.messages[0].text.c_str());

    const std::string expected =
        "set Standard\n"
        "  rule Person type 1 uri  classes person inetOrgPerson\n"
        "  rule Room type 1 uri  classes organizationalPerson\n"
        "  rule Office type 1 uri  classes organizationalPerson\n"
        "  rule Root type 0 uri ldap://dirhost:389/o=Sample classes\n"
        "form People (Standard)\n"
        "  target Who by Person\n"
        "    field Name: cn mail\n"
        "  group A by Person\n"
        "    field Email: mail\n"
        "  group Office Group by Office\n"
        "    field Office Name: cn\n";
    QCOMPARE(QString::fromStdString(Dump(*config_)), QString::fromStdString(expected));

    QVERIFY(SaveToFiles(*config_, Folder()));
    QVERIFY(sink.messages.empty());

    testsupport::KeptConfiguration loaded;
    loaded.session.configurationDirectory = Folder();
    QCOMPARE(LoadFromFiles(loaded, loaded.session.configurationDirectory, table_), 1);
    QCOMPARE(QString::fromStdString(Dump(loaded)), QString::fromStdString(expected));
  }

  void fieldWithoutFilterCannotBeSaved() {
    QVERIFY(SaveToFiles(*config_, Folder()));
    const auto file = std::filesystem::path(Folder()) / RuleSetFileName("Standard");
    const std::string before = testsupport::ReadFile(file);
    QVERIFY(!before.empty());

    // The last filter attribute type of field Phone goes; the panel allows it.
    InputField* phone = config_->searchForms.front()->inputGroups.front()->FindField("Phone");
    QWidget* panel = Show(phone);
    SelectRow(panel, kIdInputFieldAttributeList, "telephoneNumber");
    Click(panel, kIdInputFieldRemoveAttributeButton);
    QVERIFY(phone->filterAttributes.empty());

    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const msg::Outcome saved = SaveToFiles(*config_, Folder());
    QVERIFY(!saved);
    QCOMPARE(saved.Ids().front(), 61260);
    QCOMPARE(testsupport::ReadFile(file), before);  // the stored file is untouched
  }

 private:
  // Selects the node of `record` and returns the panel the tree shows for it.
  QWidget* Show(const RecordRef& record) {
    QTreeWidgetItem* item = tree_->ItemOf(record);
    if (!item) qFatal("no node");
    tree_->setCurrentItem(item);
    QWidget* panel = tree_->currentPanel();
    if (!panel) qFatal("no panel");
    return panel;
  }

  kvaro::Oidtable table_;
  QTemporaryDir folder_;
  std::unique_ptr<Configuration> config_;
  std::unique_ptr<QWidget> host_;
  CConfigTree* tree_ = nullptr;
};

QTEST_MAIN(TestFormSession)
#include "test_formsession.moc"
