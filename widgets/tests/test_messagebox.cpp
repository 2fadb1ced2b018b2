// What a message box shows: names from a configuration exactly as they are spelled.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include "platform/support/messages.h"
#include "tests/support/modaldriver.h"
#include "widgets/messagebox.h"

class TestMessageBox : public QObject {
  Q_OBJECT

 private slots:
  // A name that looks like markup is text: no bold, no link, no image. What the box shows
  // is read through its label's accessible name, which is what is drawn and what a screen
  // reader says, with any markup rendered away.
  void namesThatLookLikeMarkupShowAsSpelled_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("bold") << "<b>People";
    QTest::newRow("link") << "<a href=\"https://example.org/\">People</a>";
    QTest::newRow("image") << "People<img src=\"https://example.org/p.png\">";
  }
  void namesThatLookLikeMarkupShowAsSpelled() {
    QFETCH(QString, name);
    WidgetMessageSink sink;
    msg::ScopedSink scoped(&sink);
    const QString expected = QString::fromStdString(msg::Text(62177, {name.toStdString()}));
    QString shown;
    testsupport::OnNextModalOf<QMessageBox>([&](QMessageBox* box) {
      if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        if (QAccessibleInterface* face = QAccessible::queryAccessibleInterface(label))
          shown = face->text(QAccessible::Name);
      }
      box->button(QMessageBox::No)->click();
    });
    QCOMPARE(msg::Show(62177, {name.toStdString()}, msg::Buttons::YesNo), msg::Answer::No);
    QCOMPARE(shown, expected);
  }
};

QTEST_MAIN(TestMessageBox)
#include "test_messagebox.moc"
