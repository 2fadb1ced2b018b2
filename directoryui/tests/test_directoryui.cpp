// The logon dialog and the "Please Wait..." window.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "directoryui/controlids.h"
#include "directoryui/credentialsdialog.h"
#include "directoryui/pleasewaitdialog.h"
#include "tests/support/modaldriver.h"

using testsupport::OnNextModal;

class TestDirectoryUi : public QObject {
  Q_OBJECT

 private slots:
  void credentialsKeepTypedValues() {
    DialogCredentialsPrompt prompt;
    QCOMPARE(prompt.dialog().windowTitle(), QString("DSA Manager Details"));
    OnNextModal([](QWidget* w) {
      QTest::keyClicks(w->findChild<QLineEdit*>(ObjectName(kIdLogonUserDnEdit)),
                       "cn=admin,o=Sample");
      QTest::keyClicks(w->findChild<QLineEdit*>(ObjectName(kIdLogonPasswordEdit)), "secret");
      QTest::mouseClick(w->findChild<QPushButton*>(ObjectName(kIdOk)), Qt::LeftButton);
    });
    std::string dn, pw;
    QVERIFY(prompt.Ask(dn, pw));
    QCOMPARE(dn, std::string("cn=admin,o=Sample"));
    QCOMPARE(pw, std::string("secret"));
    QCOMPARE(prompt.dialog().findChild<QLineEdit*>(ObjectName(kIdLogonPasswordEdit))->echoMode(),
             QLineEdit::Password);

    QString shownDn;
    OnNextModal([&shownDn](QWidget* w) {
      shownDn = w->findChild<QLineEdit*>(ObjectName(kIdLogonUserDnEdit))->text();
      QTest::mouseClick(w->findChild<QPushButton*>(ObjectName(kIdCancel)), Qt::LeftButton);
    });
    QVERIFY(!prompt.Ask(dn, pw));
    QCOMPARE(shownDn, QString("cn=admin,o=Sample"));
  }

  void pleaseWaitWindow() {
    WidgetPleaseWait wait;
    wait.Show("Accessing directory...", "Deleting current configuratio subtree...");
    PleaseWaitDialog* d = wait.dialog();
    QVERIFY(d && d->isVisible());
    QCOMPARE(d->windowTitle(), QString("Please Wait..."));
    QVERIFY(!(d->windowFlags() & Qt::WindowCloseButtonHint));
    // Other windows take no input while directory work runs.
    QCOMPARE(d->windowModality(), Qt::ApplicationModal);
    auto* heading = d->findChild<QLabel*>(ObjectName(kIdPleaseWaitHeading));
    QVERIFY(heading->font().bold());
    QCOMPARE(heading->text(), QString("Accessing directory..."));
    wait.SetMessage("Writing new search forms...");
    QCOMPARE(d->findChild<QLabel*>(ObjectName(kIdPleaseWaitMessage))->text(),
             QString("Writing new search forms..."));
    QVERIFY(d->findChild<QLabel*>(ObjectName(kIdPleaseWaitMessage))->wordWrap());
    // Cancel (and Esc) only asks the work to stop: the window stays until it closes it.
    QVERIFY(!wait.CancelRequested());
    auto* cancel = d->findChild<QPushButton*>(ObjectName(kIdCancel));
    QVERIFY(cancel && cancel->isEnabled());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(wait.CancelRequested());
    QVERIFY(d->isVisible());
    QVERIFY(!cancel->isEnabled());
    // Showing it again starts without a cancel request.
    wait.Show("Accessing directory...", "Again");
    QVERIFY(!wait.CancelRequested());
    QTest::keyClick(wait.dialog(), Qt::Key_Escape);
    QVERIFY(wait.CancelRequested());
    QVERIFY(wait.dialog()->isVisible());
    wait.Close();
    QVERIFY(!wait.dialog());
    wait.Close();  // twice is harmless
  }
};

QTEST_MAIN(TestDirectoryUi)
#include "test_directoryui.moc"
