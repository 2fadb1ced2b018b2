// The form editing dialogs: "Add Filter Attribute", "Add Form Input Group" and
// "Add Form Group Field".
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "editor/addfilterattributedialog.h"
#include "editor/addinputfielddialog.h"
#include "editor/addinputgroupdialog.h"
#include "editor/controlids.h"
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
    QCOMPARE(dialog.objectName(), ObjectName(kIdAddFilterAttributeDialog));
    QCOMPARE(dialog.windowTitle(), QString("Add Filter Attribute"));
    QCOMPARE(Child<QPushButton>(&dialog, kIdOk)->text(), QString("OK"));
    QCOMPARE(Child<QPushButton>(&dialog, kIdCancel)->text(), QString("Cancel"));
    QVERIFY(!Child<QPushButton>(&dialog, kIdOk)->isEnabled());
    QVERIFY(dialog.attributeTypeName.empty());
  }

  void filterDialogEnablesOkForKnownTypesOnly() {
    AddFilterAttributeDialog dialog(table_);
    auto* ok = Child<QPushButton>(&dialog, kIdOk);
    Type(&dialog, kIdNameEdit, "c");
    QVERIFY(!ok->isEnabled());
    Type(&dialog, kIdNameEdit, "cn");
    QVERIFY(ok->isEnabled());
    QTest::keyClick(Child<QLineEdit>(&dialog, kIdNameEdit), Qt::Key_X);
    QVERIFY(!ok->isEnabled());
    Type(&dialog, kIdNameEdit, "cn ");  // untrimmed: the blank makes it unknown
    QVERIFY(!ok->isEnabled());
    Type(&dialog, kIdNameEdit, "surname");
    QVERIFY(ok->isEnabled());
    // Letter case is the table's business.
    Type(&dialog, kIdNameEdit, "CN");
    QCOMPARE(ok->isEnabled(), table_.str2at("CN") != nullptr);
    Type(&dialog, kIdNameEdit, "person");  // an object class, not an attribute type
    QVERIFY(!ok->isEnabled());
  }

  void filterDialogReturnsTypedName() {
    AddFilterAttributeDialog dialog(table_);
    ModalScript script;
    script.Then(ObjectName(kIdAddFilterAttributeDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "telephoneNumber");
      Click(d, kIdOk);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(script.Done());
    QCOMPARE(dialog.attributeTypeName, std::string("telephoneNumber"));
  }

  void filterDialogEnterOnUnknownNameDoesNotEnd() {
    AddFilterAttributeDialog dialog(table_);
    ModalScript script;
    bool stillOpen = false;
    script.Then(ObjectName(kIdAddFilterAttributeDialog), [&stillOpen](QWidget* d) {
      Type(d, kIdNameEdit, "nosuchtype");
      QTest::keyClick(Child<QLineEdit>(d, kIdNameEdit), Qt::Key_Return);
      stillOpen = d->isVisible();
      Click(d, kIdCancel);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(stillOpen);
    QVERIFY(dialog.attributeTypeName.empty());
  }

  // --- Add Form Input Group -----------------------------------------------------------
  void groupDialogLooks() {
    AddInputGroupDialog dialog({"Person", "Room", "Printer"});
    QCOMPARE(dialog.objectName(), ObjectName(kIdAddInputGroupDialog));
    QCOMPARE(dialog.windowTitle(), QString("Add Form Input Group"));
    auto* combo = Child<QComboBox>(&dialog, kIdNameChoiceCombo);
    QVERIFY(!combo->isEditable());
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QString("Person"));
    QCOMPARE(combo->itemText(2), QString("Printer"));
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(Child<QPushButton>(&dialog, kIdOk)->text(), QString("&OK"));
    QCOMPARE(Child<QPushButton>(&dialog, kIdCancel)->text(), QString("&Cancel"));
  }

  void groupDialogReturnsNameAndRule() {
    AddInputGroupDialog dialog({"Person", "Room"});
    ModalScript script;
    script.Then(ObjectName(kIdAddInputGroupDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "Who");
      Child<QComboBox>(d, kIdNameChoiceCombo)->setCurrentIndex(1);
      Click(d, kIdOk);
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
    script.Then(ObjectName(kIdAddInputGroupDialog), [&open](QWidget* d) {
      Type(d, kIdNameEdit, "ab");
      Click(d, kIdOk);
      open << d->isVisible();
      Type(d, kIdNameEdit, "a_b");
      Click(d, kIdOk);
      open << d->isVisible();
      Type(d, kIdNameEdit, "  x  ");
      Click(d, kIdOk);
      open << d->isVisible();
      Type(d, kIdNameEdit, "x  x");
      Click(d, kIdOk);
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
    script.Then(ObjectName(kIdAddInputGroupDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "Somebody");
      Click(d, kIdCancel);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(dialog.name.empty());
    QVERIFY(dialog.searchRuleName.empty());
  }

  void groupDialogWithoutRules() {
    AddInputGroupDialog dialog({});
    ModalScript script;
    script.Then(ObjectName(kIdAddInputGroupDialog), [](QWidget* d) {
      Type(d, kIdNameEdit, "Lonely");
      Click(d, kIdOk);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.name, std::string("Lonely"));
    QVERIFY(dialog.searchRuleName.empty());
  }

  // --- Add Form Group Field -----------------------------------------------------------
  void fieldDialogLooks() {
    AddInputFieldDialog dialog(table_);
    QCOMPARE(dialog.objectName(), ObjectName(kIdAddInputFieldDialog));
    QCOMPARE(dialog.windowTitle(), QString("Add Form Group Field"));
    QCOMPARE(Child<QGroupBox>(&dialog, kIdAddFieldAttributeGroup)->title(),
             QString("Filter Attributes"));
    QCOMPARE(Child<QPushButton>(&dialog, kIdAddFieldAddAttributeButton)->text(), QString("&Add"));
    QCOMPARE(Child<QPushButton>(&dialog, kIdAddFieldRemoveAttributeButton)->text(),
             QString("&Remove"));
    QVERIFY(!Child<QPushButton>(&dialog, kIdAddFieldRemoveAttributeButton)->isEnabled());
    QCOMPARE(Child<QListWidget>(&dialog, kIdAddFieldAttributeList)->count(), 0);
    QVERIFY(dialog.name.empty() && dialog.defaultValue.empty() && dialog.filterAttributes.empty());
  }

  // Neither store keeps a default value: the dialog says so beside the field, before
  // anything is typed into it.
  void fieldDialogSaysDefaultIsNotStored() {
    AddInputFieldDialog dialog(table_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* edit = Child<QLineEdit>(&dialog, kIdAddFieldDefaultEdit);
    auto* note = dialog.findChild<QLabel*>(ObjectName(kIdAddFieldDefaultNote));
    QVERIFY(note);
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), QString::fromStdString(msg::Text(62324)));
    const QRect editRect = edit->geometry();
    const QRect noteRect = note->geometry();
    // Right below the edit, in its column.
    QVERIFY(noteRect.top() >= editRect.bottom());
    QVERIFY(noteRect.top() - editRect.bottom() < edit->height());
    QVERIFY(noteRect.left() < editRect.right() && noteRect.right() > editRect.left());
  }

  void fieldDialogAddsEachTypeOnce() {
    AddInputFieldDialog dialog(table_);
    ModalScript script;
    QStringList listed;
    for (const char* type : {"cn", "sn", "cn"}) formtest::AddFilterAttributeSteps(script, type);
    script.Then(ObjectName(kIdAddInputFieldDialog),
                [](QWidget* d) { Click(d, kIdAddFieldAddAttributeButton); });
    script.Then(ObjectName(kIdAddFilterAttributeDialog),
                [](QWidget* d) { Click(d, kIdCancel); });  // cancelled: nothing added
    script.Then(ObjectName(kIdAddInputFieldDialog), [&listed](QWidget* d) {
      listed = testsupport::Rows(Child<QListWidget>(d, kIdAddFieldAttributeList));
      Type(d, kIdAddFieldNameEdit, "Full Name");
      Type(d, kIdAddFieldDefaultEdit, "Smith");
      Click(d, kIdOk);
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
    script.Then(ObjectName(kIdAddInputFieldDialog), [&](QWidget* d) {
      auto* list = Child<QListWidget>(d, kIdAddFieldAttributeList);
      auto* remove = Child<QPushButton>(d, kIdAddFieldRemoveAttributeButton);
      removeEnabledAtStart = remove->isEnabled();
      list->setCurrentRow(1);
      removeEnabledOnSelection = remove->isEnabled();
      Click(d, kIdAddFieldRemoveAttributeButton);
      afterFirst = testsupport::Rows(list);
      resultsAfterFirst = static_cast<AddInputFieldDialog*>(d)->filterAttributes;
      nothingSelectedAfter = list->selectedItems().isEmpty();
      removeEnabledAfter = remove->isEnabled();
      // Remove with nothing selected does nothing (the button is disabled, so call it).
      static_cast<AddInputFieldDialog*>(d)->removeFilterAttribute();
      afterSecond = testsupport::Rows(list);
      Click(d, kIdCancel);
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
    script.Then(ObjectName(kIdAddInputFieldDialog), [&open](QWidget* d) {
      Type(d, kIdAddFieldNameEdit, "x-");
      Click(d, kIdOk);
      open = d->isVisible();
      Click(d, kIdCancel);
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
    script.Then(ObjectName(kIdAddInputFieldDialog), [](QWidget* d) {
      Type(d, kIdAddFieldNameEdit, "ab");
      Click(d, kIdOk);
      Type(d, kIdAddFieldNameEdit, "a.b");
      Click(d, kIdOk);
      Type(d, kIdAddFieldNameEdit, "abc");
      Click(d, kIdOk);
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
      script.Then(ObjectName(kIdAddInputFieldDialog), [&](QWidget* d) {
        shownName = Child<QLineEdit>(d, kIdAddFieldNameEdit)->text();
        shownDefault = Child<QLineEdit>(d, kIdAddFieldDefaultEdit)->text();
        shownList = testsupport::Rows(Child<QListWidget>(d, kIdAddFieldAttributeList));
        Type(d, kIdAddFieldNameEdit, "Email Address");
        Click(d, kIdOk);
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
