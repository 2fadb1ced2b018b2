// The rule editing dialogs: Add Rule, Add Object Class, Add Child Search Rule and
// Set Start Point, driven through their controls.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "editor/addobjectclassdialog.h"
#include "editor/addruledialog.h"
#include "editor/addrulesetdialog.h"
#include "editor/childruledialog.h"
#include "editor/controlids.h"
#include "editor/startpointdialog.h"
#include "editor/tests/test_formhelpers.h"
#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"

using testsupport::Child;
using testsupport::Click;
using testsupport::Rows;

namespace {

// Answers the Add Object Class dialog with `name` and OK (or Cancel when `cancel`).
void AnswerObjectClass(const QString& name, bool cancel = false) {
  testsupport::OnNextModal([name, cancel](QWidget* modal) {
    QCOMPARE(modal->objectName(), ObjectName(kIdAddObjectClassDialog));
    QTest::keyClicks(Child<QLineEdit>(modal, kIdSearchBaseEdit), name);
    QTest::mouseClick(Child<QPushButton>(modal, cancel ? kIdCancel : kIdOk), Qt::LeftButton);
    if (!cancel && modal->isVisible()) static_cast<QDialog*>(modal)->reject();
  });
}

}  // namespace

class TestRuleDialogs : public QObject {
  Q_OBJECT

 private:
  kvaro::Oidtable table_;
  msg::RecordingSink sink_;
  std::unique_ptr<msg::ScopedSink> scoped_;

  void AddClass(AddRuleDialog& dialog, const QString& name) {
    AnswerObjectClass(name);
    Click(&dialog, kIdAddRuleAddClassButton);
  }
  void ChooseEntryPoint(AddRuleDialog& dialog, const QString& base, const QString& host,
                        const QString& port) {
    QTest::mouseClick(Child<QRadioButton>(&dialog, kIdAddRuleEntryPointRadio), Qt::LeftButton);
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdSearchBaseEdit), base);
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdHostEdit), host);
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdPortEdit), port);
  }
  void PressOk(QDialog& dialog) { Click(&dialog, kIdOk); }

 private slots:
  void initTestCase() {
    QVERIFY(ldapx::LoadOidtableText(table_, formtest::kRuleSchema) == 7);
    scoped_ = std::make_unique<msg::ScopedSink>(&sink_);
  }
  void init() { sink_.messages.clear(); }

  void addRuleStartsAsSearchRule() {
    AddRuleDialog dialog(table_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(dialog.objectName(), ObjectName(kIdAddRuleDialog));
    QCOMPARE(dialog.windowTitle(), QString("Add Rule"));
    QCOMPARE(dialog.ruleType, RuleTypeSearchRule);
    QVERIFY(Child<QRadioButton>(&dialog, kIdAddRuleSearchRuleRadio)->isChecked());
    QVERIFY(!Child<QRadioButton>(&dialog, kIdAddRuleEntryPointRadio)->isChecked());
    for (int id : {kIdSearchBaseEdit, kIdHostEdit, kIdPortEdit})
      QVERIFY(!Child<QLineEdit>(&dialog, id)->isEnabled());
    QVERIFY(Child<QListWidget>(&dialog, kIdAddRuleClassList)->isEnabled());
    QVERIFY(Child<QPushButton>(&dialog, kIdAddRuleAddClassButton)->isEnabled());
    QVERIFY(!Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton)->isEnabled());
    QCOMPARE(QApplication::focusWidget(), Child<QLineEdit>(&dialog, kIdAddRuleNameEdit));
    QVERIFY(dialog.name.empty() && dialog.ldapUri.empty() && dialog.objectClasses.empty());
  }

  // A name must have three characters or more, and names a store could not hold are
  // refused at once, so every rule added can be saved.
  void nameRules_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("message");
    QTest::addColumn<QString>("says");  // part of the message's text
    QTest::addColumn<bool>("storable");
    QTest::newRow("two characters")
        << "ab" << 61253
        << "Names must be at least 3 characters long! Please re-enter before continuing..." << true;
    QTest::newRow("three with a blank") << "a b" << 0 << "" << true;
    QTest::newRow("colon") << "Ab:cd" << 62160 << "Ab:cd" << false;
    QTest::newRow("comma") << "Staff, Dept" << 62160 << "Staff, Dept" << false;
    QTest::newRow("dollar") << "Price$List" << 62160 << "Price$List" << false;
    QTest::newRow("leading blank") << " People" << 62160 << " People" << false;
    QTest::newRow("trailing blank") << "People " << 62160 << "People " << false;
    QTest::newRow("blanks only") << "   " << 62160 << "   " << false;
    QTest::newRow("inner blanks and dots") << "Dept. of Staff" << 0 << "" << true;
  }
  void nameRules() {
    QFETCH(QString, name);
    QFETCH(int, message);
    QFETCH(QString, says);
    QFETCH(bool, storable);
    AddRuleDialog dialog(table_);
    dialog.show();
    AddClass(dialog, "person");
    Child<QLineEdit>(&dialog, kIdAddRuleNameEdit)->setText(name);
    PressOk(dialog);
    if (message) {
      QCOMPARE(sink_.Ids(), std::vector<int>{message});
      QVERIFY2(sink_.messages[0].text.find(says.toStdString()) != std::string::npos,
               sink_.messages[0].text.c_str());
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.result(), 0);
      QVERIFY(dialog.name.empty());
    } else {
      QVERIFY(sink_.messages.empty());
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QCOMPARE(dialog.name, name.toStdString());
      QCOMPARE(dialog.ruleType, 1);
      QCOMPARE(dialog.objectClasses, std::vector<std::string>{"person"});
    }
    // The save's own rule says the same.
    QCOMPARE(IsStorableName(NameKind::Rule, name.toStdString()), storable);
  }

  void searchRuleNeedsAnObjectClass() {
    AddRuleDialog dialog(table_);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdAddRuleNameEdit), "People");
    PressOk(dialog);
    QCOMPARE(sink_.Ids(), std::vector<int>{61268});
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::focusWidget(),
             dialog.findChild<QWidget*>(ObjectName(kIdAddRuleAddClassButton)));
  }

  void objectClassesAreListedInOrderWithoutDuplicates() {
    AddRuleDialog dialog(table_);
    dialog.show();
    auto* list = Child<QListWidget>(&dialog, kIdAddRuleClassList);
    AddClass(dialog, "person");
    // Remove follows the selection: off until a row is chosen.
    QVERIFY(!Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton)->isEnabled());
    list->setCurrentRow(0);
    QVERIFY(Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton)->isEnabled());
    AddClass(dialog, "organizationalPerson");
    QCOMPARE(Rows(list), QStringList({"person", "organizationalPerson"}));
    AddClass(dialog, "person");
    QCOMPARE(Rows(list), QStringList({"person", "organizationalPerson"}));
    QCOMPARE(dialog.objectClasses, (std::vector<std::string>{"person", "organizationalPerson"}));
    // The refusal names the class and selects its row.
    QCOMPARE(sink_.Ids(), std::vector<int>{62182});
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(list->item(0)->isSelected());
    // Cancel in the inner dialog adds nothing.
    AnswerObjectClass("top", true);
    Click(&dialog, kIdAddRuleAddClassButton);
    QCOMPARE(list->count(), 2);
  }

  void removeObjectClassWorksOnTheSelectedRow() {
    AddRuleDialog dialog(table_);
    dialog.show();
    auto* list = Child<QListWidget>(&dialog, kIdAddRuleClassList);
    auto* remove = Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton);
    AddClass(dialog, "person");
    AddClass(dialog, "top");
    list->clearSelection();
    list->setCurrentRow(-1);
    QTest::mouseClick(remove, Qt::LeftButton);  // nothing selected: nothing happens
    QCOMPARE(list->count(), 2);
    // Classes are appended, as the rule panel appends them.
    QCOMPARE(Rows(list), QStringList({"person", "top"}));
    QCOMPARE(dialog.objectClasses, (std::vector<std::string>{"person", "top"}));
    list->setCurrentRow(1);
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(Rows(list), QStringList({"person"}));
    QCOMPARE(dialog.objectClasses, std::vector<std::string>{"person"});
    // Nothing is selected afterwards, so a second press cannot remove another class.
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(!remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(Rows(list), QStringList({"person"}));
    list->setCurrentRow(0);
    QTest::mouseClick(remove, Qt::LeftButton);
    QVERIFY(dialog.objectClasses.empty());
    QVERIFY(!remove->isEnabled());
  }

  void switchingTypeBackAndForthKeepsObjectClasses() {
    AddRuleDialog dialog(table_);
    dialog.show();
    AddClass(dialog, "person");
    QTest::mouseClick(Child<QRadioButton>(&dialog, kIdAddRuleEntryPointRadio), Qt::LeftButton);
    QCOMPARE(dialog.ruleType, RuleTypeEntryPoint);
    for (int id : {kIdSearchBaseEdit, kIdHostEdit, kIdPortEdit})
      QVERIFY(Child<QLineEdit>(&dialog, id)->isEnabled());
    QVERIFY(!Child<QListWidget>(&dialog, kIdAddRuleClassList)->isEnabled());
    QVERIFY(!Child<QPushButton>(&dialog, kIdAddRuleAddClassButton)->isEnabled());
    QVERIFY(!Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton)->isEnabled());
    QTest::mouseClick(Child<QRadioButton>(&dialog, kIdAddRuleSearchRuleRadio), Qt::LeftButton);
    QCOMPARE(dialog.ruleType, RuleTypeSearchRule);
    QVERIFY(!Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton)->isEnabled());
    Child<QListWidget>(&dialog, kIdAddRuleClassList)->setCurrentRow(0);
    QVERIFY(Child<QPushButton>(&dialog, kIdAddRuleRemoveClassButton)->isEnabled());
    QVERIFY(!Child<QLineEdit>(&dialog, kIdSearchBaseEdit)->isEnabled());
    QCOMPARE(Rows(Child<QListWidget>(&dialog, kIdAddRuleClassList)), QStringList({"person"}));
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdAddRuleNameEdit), "People");
    PressOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.objectClasses, std::vector<std::string>{"person"});
  }

  void entryPointWithEmptyBaseEndsWithSlash() {
    AddRuleDialog dialog(table_);
    dialog.show();
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdAddRuleNameEdit), "Top");
    ChooseEntryPoint(dialog, "", "ldap.example.org", "389");
    PressOk(dialog);
    QVERIFY(sink_.messages.empty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.ruleType, RuleTypeEntryPoint);
    QCOMPARE(dialog.ldapUri, std::string("ldap://ldap.example.org:389/"));
  }

  void searchBaseIsCheckedTrimmedButStoredAsTyped() {
    AddRuleDialog dialog(table_);
    dialog.show();
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdAddRuleNameEdit), "Acme");
    ChooseEntryPoint(dialog, "o=Acme, c=US ", "host", "1389");
    PressOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    // As typed: the URI gives the search base back with its blanks.
    QCOMPARE(dialog.ldapUri, std::string("ldap://host:1389/o=Acme,%20c=US%20"));
    QCOMPARE(ldapx::ParseUrl(dialog.ldapUri).value_or(ldapx::UrlDesc{}).dn,
             std::string("o=Acme, c=US "));
  }

  void badStartPointSaysWhyAndFocusesTheField_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("message");
    QTest::addColumn<QString>("field");
    const QString port = ObjectName(kIdPortEdit), base = ObjectName(kIdSearchBaseEdit),
                  host = ObjectName(kIdHostEdit);
    QTest::newRow("port empty") << ""
                                << "h"
                                << "" << 61275 << port;
    QTest::newRow("port zero") << ""
                               << "h"
                               << "0" << 61275 << port;
    QTest::newRow("port negative") << ""
                                   << "h"
                                   << "-389" << 61275 << port;
    QTest::newRow("host in the port field") << ""
                                            << ""
                                            << "ldap.example.org" << 61275 << port;
    QTest::newRow("port with trailing letters") << ""
                                                << "h"
                                                << "389x" << 61275 << port;
    QTest::newRow("port out of range") << ""
                                       << "h"
                                       << "70000" << 61275 << port;
    QTest::newRow("unknown attribute type") << "xyz=Acme"
                                            << "h"
                                            << "389" << 61278 << base;
    QTest::newRow("not a DN") << "Acme"
                              << "h"
                              << "389" << 61278 << base;
    QTest::newRow("empty value") << "o="
                                 << "h"
                                 << "389" << 61278 << base;
    QTest::newRow("slash in the host") << ""
                                       << "h/x"
                                       << "389" << 62176 << host;
  }
  // OK with a bad start point names the fault (an error icon) and puts the focus on the
  // field at fault, in Add Rule and in Set Start Point alike.
  void badStartPointSaysWhyAndFocusesTheField() {
    QFETCH(QString, base);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(int, message);
    QFETCH(QString, field);
    AddRuleDialog dialog(table_);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdAddRuleNameEdit), "Acme");
    ChooseEntryPoint(dialog, base, host, port);
    PressOk(dialog);
    QCOMPARE(sink_.Ids(), std::vector<int>{message});
    QCOMPARE(int(sink_.messages.front().icon), int(msg::Icon::Error));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(QApplication::focusWidget(), dialog.findChild<QWidget*>(field));

    sink_.messages.clear();
    StartPointDialog start("ldap://h:389/", table_);
    start.show();
    start.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&start));
    Child<QLineEdit>(&start, kIdSearchBaseEdit)->setText(base);
    Child<QLineEdit>(&start, kIdHostEdit)->setText(host);
    Child<QLineEdit>(&start, kIdPortEdit)->setText(port);
    start.accept();  // Enter in an edit
    QCOMPARE(sink_.Ids(), std::vector<int>{message});
    QVERIFY(start.isVisible());
    QCOMPARE(QApplication::focusWidget(), start.findChild<QWidget*>(field));
  }

  void startPointCheck_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("ok");
    QTest::newRow("all empty") << ""
                               << ""
                               << "389" << true;
    QTest::newRow("blank base, port 1") << "  "
                                        << "h"
                                        << "1" << true;
    QTest::newRow("port 65535") << "ou=People,o=Acme"
                                << "h"
                                << "65535" << true;
    QTest::newRow("multi-valued RDN") << "cn=A+ou=B,o=Acme"
                                      << "h"
                                      << "389" << true;
    QTest::newRow("port 65536") << ""
                                << "h"
                                << "65536" << false;
    QTest::newRow("slash in host") << ""
                                   << "h/x"
                                   << "389" << false;
    // The URI carries "?" and "%" in the search base percent-encoded.
    QTest::newRow("percent in base") << "o=100%"
                                     << "h"
                                     << "389" << true;
    QTest::newRow("question mark in base") << "o=A?b"
                                           << "h"
                                           << "389" << true;
  }
  void startPointCheck() {
    QFETCH(QString, base);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(bool, ok);
    QCOMPARE(CheckStartPoint(base.toStdString(), host.toStdString(), port.toStdString(), table_),
             ok);
  }

  void questionMarkInBaseSurvivesTheUri() {
    QCOMPARE(ldapx::ParseUrl(MakeLdapUri("h", "389", "o=A?b")).value_or(ldapx::UrlDesc{}).dn,
             std::string("o=A?b"));
  }

  void portValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("leading blanks, trailing letters") << "  42abc" << 42;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("minus") << "-7" << -7;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("too large") << "99999999999999999999" << INT_MAX;
  }
  void portValue() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(PortValue(text.toStdString()), value);
    QCOMPARE(MakeLdapUri("h", "389", "o=A"), std::string("ldap://h:389/o=A"));
  }

  void addObjectClassAcceptsOnlyKnownClasses() {
    AddObjectClassDialog dialog(table_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(dialog.objectName(), ObjectName(kIdAddObjectClassDialog));
    QCOMPARE(dialog.windowTitle(), QString("Add Object Class"));
    auto* edit = Child<QLineEdit>(&dialog, kIdSearchBaseEdit);
    auto* ok = Child<QPushButton>(&dialog, kIdOk);
    QCOMPARE(ok->text(), QString("OK"));
    QCOMPARE(QApplication::focusWidget(), edit);
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(edit, "perso");
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(edit, "n");
    QVERIFY(ok->isEnabled());
    QTest::keyClicks(edit, " ");  // untrimmed: a trailing space is no object class
    QVERIFY(!ok->isEnabled());
    edit->setText("cn");  // an attribute type, not an object class
    QVERIFY(!ok->isEnabled());
    QTest::keyClick(edit, Qt::Key_Return);  // Enter cannot get around a disabled OK
    QVERIFY(dialog.isVisible());
    edit->setText("person");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.objectClassName, std::string("person"));
  }

  void childRuleOffersTheNamesInOrder() {
    ChildRuleDialog dialog({"Persons", "Units", "Groups"});
    dialog.show();
    QCOMPARE(dialog.objectName(), ObjectName(kIdChildRuleDialog));
    QCOMPARE(dialog.windowTitle(), QString("Add Child Search Rule"));
    auto* combo = Child<QComboBox>(&dialog, kIdChildRuleCombo);
    QVERIFY(!combo->isEditable());
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(2), QString("Groups"));
    QCOMPARE(combo->currentIndex(), 0);
    combo->setCurrentIndex(1);
    PressOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedRule, std::string("Units"));
  }

  void childRuleWithNothingToChoose() {
    ChildRuleDialog dialog({});
    dialog.show();
    QVERIFY(!Child<QPushButton>(&dialog, kIdOk)->isEnabled());
    dialog.accept();
    QVERIFY(dialog.selectedRule.empty());
  }

  // The dialog shows the parts of the start point it is given; OK builds it again. An
  // ldaps:// start point shows 636 when it names no port and stays ldaps://.
  void startPointIsFilledFromTheUri_data() {
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("uriOnOk");
    QTest::newRow("with port") << "ldap://ldap.example.org:1389/ou=People,o=Acme"
                               << "ou=People,o=Acme"
                               << "ldap.example.org"
                               << "1389"
                               << "ldap://ldap.example.org:1389/ou=People,o=Acme";
    QTest::newRow("without port") << "ldap://ldap.example.org/o=Acme"
                                  << "o=Acme"
                                  << "ldap.example.org"
                                  << "389"
                                  << "ldap://ldap.example.org:389/o=Acme";
    QTest::newRow("ldaps without port") << "ldaps://ldap.example.org/o=Acme"
                                        << "o=Acme"
                                        << "ldap.example.org"
                                        << "636"
                                        << "ldaps://ldap.example.org:636/o=Acme";
  }
  void startPointIsFilledFromTheUri() {
    QFETCH(QString, uri);
    QFETCH(QString, base);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, uriOnOk);
    StartPointDialog dialog(uri.toStdString(), table_);
    dialog.show();
    QCOMPARE(dialog.objectName(), ObjectName(kIdStartPointDialog));
    QCOMPARE(dialog.windowTitle(), QString("Set Start Point"));
    QCOMPARE(Child<QLineEdit>(&dialog, kIdSearchBaseEdit)->text(), base);
    QCOMPARE(Child<QLineEdit>(&dialog, kIdHostEdit)->text(), host);
    QCOMPARE(Child<QLineEdit>(&dialog, kIdPortEdit)->text(), port);
    QVERIFY(Child<QPushButton>(&dialog, kIdOk)->isEnabled());
    dialog.accept();
    QCOMPARE(dialog.ldapUri, uriOnOk.toStdString());
  }

  void unparsableUriStartsEmptyAndCannotBeConfirmedEmpty() {
    StartPointDialog dialog("this is no ldap uri", table_);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    for (int id : {kIdSearchBaseEdit, kIdHostEdit, kIdPortEdit})
      QVERIFY(Child<QLineEdit>(&dialog, id)->text().isEmpty());
    auto* ok = Child<QPushButton>(&dialog, kIdOk);
    // OK starts enabled; pressed on the empty fields it says what is missing.
    QVERIFY(ok->isEnabled());
    PressOk(dialog);
    QVERIFY(dialog.isVisible());
    QCOMPARE(sink_.Ids(), std::vector<int>{61275});
    QCOMPARE(QApplication::focusWidget(), dialog.findChild<QWidget*>(ObjectName(kIdPortEdit)));
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdHostEdit), "host");
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdPortEdit), "636");
    QVERIFY(ok->isEnabled());
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdSearchBaseEdit), "o");
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(Child<QLineEdit>(&dialog, kIdSearchBaseEdit), "=Acme ");
    QVERIFY(ok->isEnabled());
    PressOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.ldapUri, std::string("ldap://host:636/o=Acme%20"));
  }

  void startPointCancelKeepsTheGivenUri() {
    StartPointDialog dialog("ldap://h:389/o=Acme", table_);
    dialog.show();
    Child<QLineEdit>(&dialog, kIdPortEdit)->setText("1");
    Click(&dialog, kIdCancel);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.ldapUri, std::string("ldap://h:389/o=Acme"));
  }

  void ruleSetNameCheck_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("problem");
    QTest::newRow("fine") << "Yellow Pages" << 0;
    QTest::newRow("three characters") << "abc" << 0;
    QTest::newRow("two characters") << "ab" << 61253;
    QTest::newRow("empty") << "" << 61253;
    QTest::newRow("taken") << "White Pages" << 62172;
    QTest::newRow("taken differs in case") << "white pages" << 62320;
    QTest::newRow("slash") << "a/b/c" << 62173;
    QTest::newRow("dots") << "..." << 0;
    QTest::newRow("colon") << "Key:Value" << 62173;
    QTest::newRow("leading blank") << " People" << 62173;
    QTest::newRow("trailing blank") << "People " << 62173;
    QTest::newRow("line break") << "Peo\nple" << 62173;
    QTest::newRow("longest file name") << QString(247, 'x') << 0;
    QTest::newRow("too long for a file name") << QString(248, 'x') << 62173;
  }
  void ruleSetNameCheck() {
    QFETCH(QString, name);
    QFETCH(int, problem);
    QCOMPARE(CheckRuleSetName(name.toStdString(), {"White Pages", "Lonely"}), problem);
  }

  void addRuleSetDialogStaysOpenUntilTheNameIsUsable() {
    AddRuleSetDialog dialog({"White Pages"});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* edit = Child<QLineEdit>(&dialog, kIdSearchBaseEdit);
    QCOMPARE(QApplication::focusWidget(), edit);
    QTest::keyClicks(edit, "White Pages");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(sink_.Ids(), std::vector<int>{62172});
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.name.empty());
    edit->setText("Yellow Pages");
    PressOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.name, std::string("Yellow Pages"));
  }
};

QTEST_MAIN(TestRuleDialogs)
#include "test_ruledialogs.moc"
