// "Add Form": name rules and the rule set choice.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "editor/addformdialog.h"
#include "editor/controlids.h"
#include "editor/tests/test_formhelpers.h"
#include "platform/support/messages.h"

using formtest::ModalScript;
using testsupport::Click;
using testsupport::Type;

class TestFormAddDialog : public QObject {
  Q_OBJECT

 private slots:
  void returnsNameAndRuleSet() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    AddFormDialog dialog({"Standard", "Rooms"});
    QCOMPARE(dialog.findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo))->currentText(),
             QString("Standard"));
    ModalScript script;
    script.Then("AddFormDialog", [](QWidget* d) {
      Type(d, kIdNameEdit, "Find:x");
      Click(d, kIdOk);
      Type(d, kIdNameEdit, "Find a room");
      d->findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo))->setCurrentIndex(1);
      Click(d, kIdOk);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(sink.Ids(), std::vector<int>{61254});
    QCOMPARE(dialog.name, std::string("Find a room"));
    QCOMPARE(dialog.ruleSetName, std::string("Rooms"));
  }

  void noRuleSetNoOk() {
    AddFormDialog dialog({});
    QVERIFY(!dialog.findChild<QPushButton*>(ObjectName(kIdOk))->isEnabled());
    dialog.accept();  // Enter with no rule set to choose
    QVERIFY(dialog.name.empty());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }
};

QTEST_MAIN(TestFormAddDialog)
#include "test_formadddialog.moc"
