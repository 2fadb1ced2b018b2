// The form editing dialogs: "Add Filter Attribute", "Add Form Input Group" and
// "Add Form Group Field".
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "editor/addfilterattributedialog.h"
#include "editor/addinputfielddialog.h"
#include "editor/addinputgroupdialog.h"
#include "editor/tests/test_formhelpers.h"
#include "platform/support/messages.h"

using formtest::ModalScript;
using testsupport::Child;
using testsupport::Click;
using testsupport::Type;

namespace {

QStringList ToQt(const std::vector<std::string>& values) {
  QStringList out;
  for (const auto& v : values) out << QString::fromStdString(v);
  return out;
}

}  // namespace

class TestFormDialogs : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    formtest::LoadSmallTable(table_);
    QVERIFY2(table_.str2at("cn") != nullptr, "the attribute table did not load");
  }

  // --- name rules --------------------------------------------------------------------
  void nameRules_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("message");
    QTest::newRow("three letters") << "abc" << 0;
    QTest::newRow("two letters") << "ab" << 61253;
    QTest::newRow("empty") << "" << 61253;
    QTest::newRow("digits") << "123" << 0;
    QTest::newRow("hyphen") << "ab-c" << 61254;
    QTest::newRow("underscore") << "ab_c" << 61254;
    QTest::newRow("full stop") << "ab.c" << 61254;
    QTest::newRow("inner space") << "Home Phone" << 0;
    QTest::newRow("leading and trailing spaces") << " ab " << 62160;
    QTest::newRow("leading space") << " abc" << 62160;
    QTest::newRow("trailing space") << "abc " << 62160;
    QTest::newRow("three spaces") << "   " << 62160;
    QTest::newRow("short with hyphen") << "a-" << 61253;
    QTest::newRow("non-ASCII letter") << QString::fromUtf8(
                                             "Stra\xc3\x9f"
                                             "e")
                                      << 61254;
    QTest::newRow("two non-ASCII letters") << QString::fromUtf8("\xc3\xa9\xc3\xa9") << 61253;
    QTest::newRow("tab") << "ab\tc" << 61254;
  }
  void nameRules() {
    QFETCH(QString, name);
    QFETCH(int, message);
    QCOMPARE(CheckFormName(name.toStdString()), message);
  }

  // --- Add Filter Attribute -----------------------------------------------------------
  void filterDialogLooks() {
    AddFilterAttributeDialog dialog(table_);
    QCOMPARE(dialog.objectName(), QString("135"));
    QCOMPARE(dialog.windowTitle(), QString("Add Filter Attribute"));
    QCOMPARE(Child<QPushButton>(&dialog, "1")->text(), QString("OK"));
    QCOMPARE(Child<QPushButton>(&dialog, "2")->text(), QString("Cancel"));
    QVERIFY(!Child<QPushButton>(&dialog, "1")->isEnabled());
    QVERIFY(dialog.attributeTypeName.empty());
  }

  void filterDialogEnablesOkForKnownTypesOnly() {
    AddFilterAttributeDialog dialog(table_);
    auto* ok = Child<QPushButton>(&dialog, "1");
    Type(&dialog, "1000", "c");
    QVERIFY(!ok->isEnabled());
    Type(&dialog, "1000", "cn");
    QVERIFY(ok->isEnabled());
    QTest::keyClick(Child<QLineEdit>(&dialog, "1000"), Qt::Key_X);
    QVERIFY(!ok->isEnabled());
    Type(&dialog, "1000", "cn ");  // untrimmed: the blank makes it unknown
    QVERIFY(!ok->isEnabled());
    Type(&dialog, "1000", "surname");
    QVERIFY(ok->isEnabled());
    // Letter case is the table's business.
    Type(&dialog, "1000", "CN");
    QCOMPARE(ok->isEnabled(), table_.str2at("CN") != nullptr);
    Type(&dialog, "1000", "person");  // an object class, not an attribute type
    QVERIFY(!ok->isEnabled());
  }

  void filterDialogReturnsTypedName() {
    AddFilterAttributeDialog dialog(table_);
    ModalScript script;
    script.Then("135", [](QWidget* d) {
      Type(d, "1000", "telephoneNumber");
      Click(d, "1");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(script.Done());
    QCOMPARE(dialog.attributeTypeName, std::string("telephoneNumber"));
  }

  void filterDialogEnterOnUnknownNameDoesNotEnd() {
    AddFilterAttributeDialog dialog(table_);
    ModalScript script;
    bool stillOpen = false;
    script.Then("135", [&stillOpen](QWidget* d) {
      Type(d, "1000", "nosuchtype");
      QTest::keyClick(Child<QLineEdit>(d, "1000"), Qt::Key_Return);
      stillOpen = d->isVisible();
      Click(d, "2");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(stillOpen);
    QVERIFY(dialog.attributeTypeName.empty());
  }

  // --- Add Form Input Group -----------------------------------------------------------
  void groupDialogLooks() {
    AddInputGroupDialog dialog({"Person", "Room", "Printer"});
    QCOMPARE(dialog.objectName(), QString("137"));
    QCOMPARE(dialog.windowTitle(), QString("Add Form Input Group"));
    auto* combo = Child<QComboBox>(&dialog, "1001");
    QVERIFY(!combo->isEditable());
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QString("Person"));
    QCOMPARE(combo->itemText(2), QString("Printer"));
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(Child<QPushButton>(&dialog, "1")->text(), QString("&OK"));
    QCOMPARE(Child<QPushButton>(&dialog, "2")->text(), QString("&Cancel"));
  }

  void groupDialogReturnsNameAndRule() {
    AddInputGroupDialog dialog({"Person", "Room"});
    ModalScript script;
    script.Then("137", [](QWidget* d) {
      Type(d, "1000", "Who");
      Child<QComboBox>(d, "1001")->setCurrentIndex(1);
      Click(d, "1");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.name, std::string("Who"));
    QCOMPARE(dialog.searchRuleName, std::string("Room"));
  }

  void groupDialogRefusesBadNamesAndStaysOpen() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    AddInputGroupDialog dialog({"Person"});
    ModalScript script;
    QList<bool> open;
    script.Then("137", [&open](QWidget* d) {
      Type(d, "1000", "ab");
      Click(d, "1");
      open << d->isVisible();
      Type(d, "1000", "a_b");
      Click(d, "1");
      open << d->isVisible();
      Type(d, "1000", "  x  ");
      Click(d, "1");
      open << d->isVisible();
      Type(d, "1000", "x  x");
      Click(d, "1");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(open, (QList<bool>{true, true, true}));
    QCOMPARE(sink.Ids(), (std::vector<int>{61253, 61254, 62160}));
    QCOMPARE(QString::fromStdString(sink.messages[0].text),
             QString("Names must be at least 3 characters long! Please re-enter before "
                     "continuing..."));
    QCOMPARE(dialog.name, std::string("x  x"));
    QCOMPARE(dialog.searchRuleName, std::string("Person"));
  }

  void groupDialogCancelLeavesResultsEmpty() {
    AddInputGroupDialog dialog({"Person"});
    ModalScript script;
    script.Then("137", [](QWidget* d) {
      Type(d, "1000", "Somebody");
      Click(d, "2");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(dialog.name.empty());
    QVERIFY(dialog.searchRuleName.empty());
  }

  void groupDialogWithoutRules() {
    AddInputGroupDialog dialog({});
    ModalScript script;
    script.Then("137", [](QWidget* d) {
      Type(d, "1000", "Lonely");
      Click(d, "1");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.name, std::string("Lonely"));
    QVERIFY(dialog.searchRuleName.empty());
  }

  // --- Add Form Group Field -----------------------------------------------------------
  void fieldDialogLooks() {
    AddInputFieldDialog dialog(table_);
    QCOMPARE(dialog.objectName(), QString("136"));
    QCOMPARE(dialog.windowTitle(), QString("Add Form Group Field"));
    QCOMPARE(Child<QGroupBox>(&dialog, "1002")->title(), QString("Filter Attributes"));
    QCOMPARE(Child<QPushButton>(&dialog, "3")->text(), QString("&Add"));
    QCOMPARE(Child<QPushButton>(&dialog, "4")->text(), QString("&Remove"));
    QVERIFY(!Child<QPushButton>(&dialog, "4")->isEnabled());
    QCOMPARE(Child<QListWidget>(&dialog, "1001")->count(), 0);
    QVERIFY(dialog.name.empty() && dialog.defaultValue.empty() && dialog.filterAttributes.empty());
  }

  void fieldDialogAddsEachTypeOnce() {
    AddInputFieldDialog dialog(table_);
    ModalScript script;
    QStringList listed;
    for (const char* type : {"cn", "sn", "cn"}) formtest::AddFilterAttributeSteps(script, type);
    script.Then("136", [](QWidget* d) { Click(d, "3"); });
    script.Then("135", [](QWidget* d) { Click(d, "2"); });  // cancelled: nothing added
    script.Then("136", [&listed](QWidget* d) {
      listed = testsupport::Rows(Child<QListWidget>(d, "1001"));
      Type(d, "1000", "Full Name");
      Type(d, "1003", "Smith");
      Click(d, "1");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(script.Done());
    QCOMPARE(listed, (QStringList{"cn", "sn"}));
    QCOMPARE(ToQt(dialog.filterAttributes), (QStringList{"cn", "sn"}));
    QCOMPARE(dialog.name, std::string("Full Name"));
    QCOMPARE(dialog.defaultValue, std::string("Smith"));
  }

  void fieldDialogRemoveKeepsListAndResultsEqual() {
    AddInputFieldDialog dialog(table_);
    dialog.filterAttributes = {"cn", "sn", "mail"};
    ModalScript script;
    bool removeEnabledAtStart = true, removeEnabledOnSelection = false;
    bool removeEnabledAfter = true, nothingSelectedAfter = false;
    QStringList afterFirst, afterSecond;
    std::vector<std::string> resultsAfterFirst;
    script.Then("136", [&](QWidget* d) {
      auto* list = Child<QListWidget>(d, "1001");
      auto* remove = Child<QPushButton>(d, "4");
      removeEnabledAtStart = remove->isEnabled();
      list->setCurrentRow(1);
      removeEnabledOnSelection = remove->isEnabled();
      Click(d, "4");
      afterFirst = testsupport::Rows(list);
      resultsAfterFirst = static_cast<AddInputFieldDialog*>(d)->filterAttributes;
      nothingSelectedAfter = list->selectedItems().isEmpty();
      removeEnabledAfter = remove->isEnabled();
      // Remove with nothing selected does nothing (the button is disabled, so call it).
      static_cast<AddInputFieldDialog*>(d)->removeFilterAttribute();
      afterSecond = testsupport::Rows(list);
      Click(d, "2");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(!removeEnabledAtStart);
    QVERIFY(removeEnabledOnSelection);
    QCOMPARE(afterFirst, (QStringList{"cn", "mail"}));
    QCOMPARE(ToQt(resultsAfterFirst), afterFirst);
    QVERIFY(nothingSelectedAfter);
    QVERIFY(!removeEnabledAfter);
    QCOMPARE(afterSecond, afterFirst);
  }

  void fieldDialogChecksFilterBeforeName() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    AddInputFieldDialog dialog(table_);
    ModalScript script;
    bool open = false;
    script.Then("136", [&open](QWidget* d) {
      Type(d, "1000", "x-");
      Click(d, "1");
      open = d->isVisible();
      Click(d, "2");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(open);
    QCOMPARE(sink.Ids(), (std::vector<int>{61256}));
    QCOMPARE(QString::fromStdString(sink.messages[0].text),
             QString("Please enter a filter attribute for this input field before proceeding!"));
  }

  void fieldDialogNameRulesAfterFilter() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    AddInputFieldDialog dialog(table_);
    dialog.filterAttributes = {"mail"};
    ModalScript script;
    script.Then("136", [](QWidget* d) {
      Type(d, "1000", "ab");
      Click(d, "1");
      Type(d, "1000", "a.b");
      Click(d, "1");
      Type(d, "1000", "abc");
      Click(d, "1");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(sink.Ids(), (std::vector<int>{61253, 61254}));
    QCOMPARE(dialog.name, std::string("abc"));
    QVERIFY(dialog.defaultValue.empty());
  }

  void fieldDialogRunTwiceShowsEarlierResults() {
    AddInputFieldDialog dialog(table_);
    {
      ModalScript script;
      formtest::AddFieldSteps(script, "mail", "Email", "someone@example.org");
      QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    }
    QString shownName, shownDefault;
    QStringList shownList;
    {
      ModalScript script;
      script.Then("136", [&](QWidget* d) {
        shownName = Child<QLineEdit>(d, "1000")->text();
        shownDefault = Child<QLineEdit>(d, "1003")->text();
        shownList = testsupport::Rows(Child<QListWidget>(d, "1001"));
        Type(d, "1000", "Email Address");
        Click(d, "1");
      });
      QCOMPARE(dialog.exec(), int(QDialog::Accepted));
      QVERIFY(script.Done());
    }
    QCOMPARE(shownName, QString("Email"));
    QCOMPARE(shownDefault, QString("someone@example.org"));
    QCOMPARE(shownList, QStringList{"mail"});
    QCOMPARE(dialog.name, std::string("Email Address"));
    QCOMPARE(dialog.defaultValue, std::string("someone@example.org"));
    QCOMPARE(ToQt(dialog.filterAttributes), QStringList{"mail"});
  }

 private:
  kvaro::Oidtable table_;
};

QTEST_MAIN(TestFormDialogs)
#include "test_formdialogs.moc"
