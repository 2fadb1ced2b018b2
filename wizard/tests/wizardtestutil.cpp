#include "wizard/tests/wizardtestutil.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"
#include "wizard/controlids.h"
#include "wizard/wizardframe.h"

namespace wiztest {

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable* table = [] {
    auto* t = new kvaro::Oidtable;
    ldapx::LoadOidtable(*t, ORVELLE_SOURCE_DIR "/resources/oidtable32");
    return t;
  }();
  return *table;
}

std::string TemplateFolder() { return ORVELLE_SOURCE_DIR "/resources/Form Templates"; }

void SetText(WizardFrame& frame, int id, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(frame, id);
  QVERIFY2(edit, qPrintable(QStringLiteral("no edit %1").arg(id)));
  edit->setFocus();
  edit->selectAll();
  edit->del();
  // Typed, so validators see the text as a user would give it; what they refuse is set
  // directly (a paste can bring such text in).
  QTest::keyClicks(edit, text);
  if (edit->text() != text) edit->setText(text);
}

void Press(WizardFrame& frame, int id) {
  QPushButton* button = frame.button(id);
  QVERIFY(button);
  QVERIFY2(!button->isHidden(), qPrintable(QStringLiteral("button %1 hidden").arg(id)));
  QTest::mouseClick(button, Qt::LeftButton);
}

void CheckServices(WizardFrame& frame, std::initializer_list<int> rows) {
  auto* list = Find<QListWidget>(frame, kIdServiceCheckList);
  QVERIFY(list);
  for (int row : rows) list->item(row)->setCheckState(Qt::Checked);
}

}  // namespace wiztest
