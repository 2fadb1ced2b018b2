// The set-up wizard's pages and page sequence without a directory server: the
// local-file path, the port and DN checks, the services and the summary.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>

#include "platform/support/messages.h"
#include "tests/support/slapdfixture.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"
#include "wizard/tests/wizardtestutil.h"
#include "wizard/updowncontrol.h"

using wiztest::Find;
using wiztest::Press;
using wiztest::SetText;
using Wizard = wiztest::ShownWizard;

namespace {

QRadioButton* Radio(WizardFrame& f, int id) {
  return f.GetActivePage()->window()->findChild<QRadioButton*>(QString::number(id));
}

// A loopback port nothing listens on.
int DeadPort() { return testsupport::FreeLoopbackPort(); }

}  // namespace

class SetupWizardTest : public QObject {
  Q_OBJECT
 private slots:
  void initialState() {
    Wizard w;
    SetupWizard& s = w.wizard;
    QCOMPARE(s.pageCount(), 8);
    QCOMPARE(s.currentIndex(), 0);
    QCOMPARE(s.startupMode, StartupMode::kFiles);
    QCOMPARE(s.directory.server.port, 389);
    QVERIFY(s.directory.server.address.empty());
    QVERIFY(s.directory.subtreeDn.empty());
    QVERIFY(!s.directory.connection);
    QCOMPARE(s.selectedServiceMask, 0);
    QVERIFY(!s.selectedServices);
    QCOMPARE(s.windowTitle(), QStringLiteral("Configuration Setup"));
    // The heading is bold, the rest of the page is not.
    auto* heading = Find<QWidget>(s, kIdIntroHeading);
    QVERIFY(heading);
    QCOMPARE(heading->font().weight(), QFont::Bold);
    QVERIFY(Find<QWidget>(s, kIdIntroSchemaText)->font().weight() != QFont::Bold);
    QVERIFY(!s.sideBitmap()->pixmap().isNull());
    QCOMPARE(s.sideBitmap()->pixmap().size(), QSize(110, 226));
  }

  void backOnIntroDoesNothing() {
    Wizard w;
    Press(w.wizard, kIdBack);
    QCOMPARE(w.wizard.currentIndex(), 0);
  }

  void localModeSkipsTheDirectoryPagesBothWays() {
    Wizard w;
    SetupWizard& s = w.wizard;
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 1);
    QCOMPARE(s.windowTitle(), QString());
    // Local files are the first choice.
    QVERIFY(Radio(s, kIdLocalFilesRadio)->isChecked());
    QVERIFY(!Radio(s, kIdDirectoryRadio)->isChecked());
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), SetupWizard::kServicesPage);
    QCOMPARE(s.windowTitle(), QStringLiteral("Select Search Services"));
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), SetupWizard::kLocationPage);
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 0);
    QVERIFY(w.recorder.messages.empty());
  }

  void locationChoiceIsReadWhenBackIsPressed() {
    Wizard w;
    SetupWizard& s = w.wizard;
    Press(s, kIdNext);
    QTest::mouseClick(Radio(s, kIdDirectoryRadio), Qt::LeftButton);
    QCOMPARE(s.startupMode, StartupMode::kDirectory);
    QVERIFY(!Radio(s, kIdLocalFilesRadio)->isChecked());
    // Clicking the checked button again keeps it checked.
    QTest::mouseClick(Radio(s, kIdDirectoryRadio), Qt::LeftButton);
    QVERIFY(Radio(s, kIdDirectoryRadio)->isChecked());
    QCOMPARE(s.startupMode, StartupMode::kDirectory);
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 2);
    QCOMPARE(s.windowTitle(), QStringLiteral("Directory Host Details"));
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 1);
    // The revisit shows the directory choice.
    QVERIFY(Radio(s, kIdDirectoryRadio)->isChecked());
    QTest::mouseClick(Radio(s, kIdLocalFilesRadio), Qt::LeftButton);
    QCOMPARE(s.startupMode, StartupMode::kFiles);
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 5);
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 1);
    // Services page Back in directory mode goes to the subtree page.
    s.startupMode = StartupMode::kDirectory;
    s.ShowPage(5);
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 4);
  }

  void portChecks_data() {
    QTest::addColumn<QString>("port");
    QTest::newRow("zero") << "0";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("zeros") << "000";
  }
  void portChecks() {
    QFETCH(QString, port);
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(2);
    SetText(s, kIdServerHostEdit, QStringLiteral("127.0.0.1"));
    SetText(s, kIdServerPortEdit, port);
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 2);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61275});
    QCOMPARE(s.focusWidget(), Find<QLineEdit>(s, kIdServerPortEdit));
    QCOMPARE(s.directory.server.port, 389);
  }

  void unreachableServerRefused() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(2);
    QCOMPARE(Find<QLineEdit>(s, kIdServerPortEdit)->text(), QStringLiteral("389"));
    QVERIFY(Find<QLineEdit>(s, kIdServerHostEdit)->text().isEmpty());
    QCOMPARE(s.focusWidget(), Find<QLineEdit>(s, kIdServerHostEdit));
    SetText(s, kIdServerHostEdit, QStringLiteral("127.0.0.1"));
    // Leading digits count: the letters after them are ignored.
    SetText(s, kIdServerPortEdit, QString::number(DeadPort()) + QStringLiteral("xyz"));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 2);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61277});
    QCOMPARE(s.focusWidget(), Find<QLineEdit>(s, kIdServerHostEdit));
    QVERIFY(s.directory.server.address.empty());
    QCOMPARE(s.directory.server.port, 389);
    // A port beyond TCP's range fails the test as well.
    w.recorder.messages.clear();
    SetText(s, kIdServerPortEdit, QStringLiteral("99999999999999"));
    Press(s, kIdNext);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61277});
  }

  void portArrowsStopAtTheirRange() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(2);
    auto* arrows = Find<UpDownControl>(s, kIdHostPortArrows);
    QVERIFY(arrows);
    auto* port = Find<QLineEdit>(s, kIdServerPortEdit);
    QCOMPARE(arrows->buddy(), port);
    SetText(s, kIdServerPortEdit, QStringLiteral("101"));
    QTest::keyClick(port, Qt::Key_Down);
    QCOMPARE(port->text(), QStringLiteral("100"));
    QTest::keyClick(port, Qt::Key_Down);
    QCOMPARE(port->text(), QStringLiteral("100"));
    SetText(s, kIdServerPortEdit, QStringLiteral("39999"));
    QTest::mouseClick(arrows->findChild<QWidget*>(QStringLiteral("up")), Qt::LeftButton);
    QCOMPARE(port->text(), QStringLiteral("40000"));
    QTest::mouseClick(arrows->findChild<QWidget*>(QStringLiteral("up")), Qt::LeftButton);
    QCOMPARE(port->text(), QStringLiteral("40000"));
    // Typed values are not limited by the arrows' range, and letters cannot be typed.
    SetText(s, kIdServerPortEdit, QString());
    QTest::keyClicks(port, QStringLiteral("50000"));
    QCOMPARE(port->text(), QStringLiteral("50000"));
    QTest::keyClicks(port, QStringLiteral("ab"));
    QCOMPARE(port->text(), QStringLiteral("50000"));
  }

  void credentialsPageShowsWhatWasGiven() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.directory.server.bindDn = "cn=old,o=Sample";
    s.directory.password = "pw";
    s.ShowPage(3);
    QCOMPARE(s.windowTitle(), QStringLiteral("Authentication Information"));
    QCOMPARE(Find<QLineEdit>(s, kIdUserDnEdit)->text(), QStringLiteral("cn=old,o=Sample"));
    QCOMPARE(Find<QLineEdit>(s, kIdPasswordEdit)->text(), QStringLiteral("pw"));
    QCOMPARE(Find<QLineEdit>(s, kIdPasswordEdit)->echoMode(), QLineEdit::Password);
  }

  // A DN the page cannot use keeps the wizard on the page with a message and keeps what
  // was stored before.
  void refusedDns_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("dn");
    QTest::newRow("logon: unknown type") << 3 << 1032 << "nonsenseType=x,o=Sample";
    QTest::newRow("logon: empty value") << 3 << 1032 << "cn=,o=Sample";
    QTest::newRow("logon: not a DN") << 3 << 1032 << "not a dn";
    QTest::newRow("subtree: empty") << 4 << 1024 << "";
    QTest::newRow("subtree: empty value") << 4 << 1024 << "cn=";
    QTest::newRow("subtree: unknown type") << 4 << 1024 << "bogus=1,o=Sample";
    QTest::newRow("subtree: blank") << 4 << 1024 << " ";
  }
  void refusedDns() {
    QFETCH(int, page);
    QFETCH(int, field);
    QFETCH(QString, dn);
    Wizard w;
    SetupWizard& s = w.wizard;
    s.startupMode = StartupMode::kDirectory;
    s.directory.server.bindDn = "cn=old,o=Sample";
    s.ShowPage(page);
    SetText(s, field, dn);
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), page);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61278});
    // The DN stays as typed, with the focus in it.
    QCOMPARE(Find<QLineEdit>(s, field)->text(), dn);
    QCOMPARE(s.focusWidget(), Find<QLineEdit>(s, field));
    QCOMPARE(s.directory.server.bindDn, std::string("cn=old,o=Sample"));
    QVERIFY(s.directory.subtreeDn.empty());
  }

  void credentialsWithoutServer() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.directory.server.address = "127.0.0.1";
    s.directory.server.port = DeadPort();
    s.ShowPage(3);
    SetText(s, kIdUserDnEdit, QStringLiteral("cn=admin,o=Sample"));
    SetText(s, kIdPasswordEdit, QStringLiteral("secret"));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 3);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61276});
    QVERIFY(s.directory.server.bindDn.empty());
    QVERIFY(!s.directory.connection);
  }

  void subtreeDnIsPrefixedWithTheRootName() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.startupMode = StartupMode::kDirectory;
    s.ShowPage(4);
    QCOMPARE(s.windowTitle(), QStringLiteral("Configuration Subtree Root"));
    QCOMPARE(s.findChild<QLabel*>(QStringLiteral("rdn"))->text(),
             QStringLiteral("cn=Orvelle Configuration"));
    // A valid DN is checked over the logged-on connection (the server tests); without a
    // server to ask the page is not left, and the message says why.
    w.recorder.messages.clear();
    SetText(s, kIdParentDnEdit, QStringLiteral("ou=Tools,o=Sample"));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 4);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{62230});
    QVERIFY(s.directory.subtreeDn.empty());
    QCOMPARE(Find<QLineEdit>(s, kIdParentDnEdit)->text(), QStringLiteral("ou=Tools,o=Sample"));
  }

  void servicesNeedAChoice() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    auto* list = Find<QListWidget>(s, kIdServiceCheckList);
    QVERIFY(list);
    QCOMPARE(s.focusWidget(), list);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("Local Directory Service"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("NameFlow Directory"));
    QCOMPARE(list->item(2)->text(), QStringLiteral("BigFoot Internet Directory Service"));
    for (int i = 0; i < 3; ++i) QCOMPARE(list->item(i)->checkState(), Qt::Unchecked);
    // The list sits below the text with 8 pixels between, and 8 above the page's foot.
    QWidget* text = Find<QWidget>(s, kIdServicesText);
    QCOMPARE(list->y(), text->geometry().bottom() + 1 + 8);
    QCOMPARE(list->geometry().bottom() + 1, s.GetActivePage()->window()->height() - 8);
    QCOMPARE(list->x(), text->x());
    QCOMPARE(list->width(), text->width());
    Find<QWidget>(s, kIdServicesText)->setFocus();
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 5);
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61279});
    QCOMPARE(s.focusWidget(), list);
  }

  void serviceWithoutInformationGoesToSummary() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    wiztest::CheckServices(s, {2});
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), SetupWizard::kSummaryPage);
    QCOMPARE(s.selectedServiceMask, 4);
    QCOMPARE(s.selectedServices->size(), size_t(1));
    QCOMPARE((*s.selectedServices)[0]->templateFile, std::string("bigfoot.tpl"));
    QCOMPARE(s.windowTitle(), QStringLiteral("Summary"));
    QVERIFY(s.button(kIdNext)->isHidden());
    QCOMPARE(s.defaultButtonId(), kIdFinish);
    QCOMPARE(
        s.summaryPage.summaryText,
        std::string("Selected search services:\r\n\r\n * BigFoot Internet Directory Service\r\n"));
    auto* edit = Find<QPlainTextEdit>(s, kIdSummaryEdit);
    QVERIFY(edit->isReadOnly());
    QCOMPARE(
        edit->toPlainText(),
        QStringLiteral("Selected search services:\n\n * BigFoot Internet Directory Service\n"));
    // Back returns to the services page with nothing checked.
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 5);
    auto* list = Find<QListWidget>(s, kIdServiceCheckList);
    for (int i = 0; i < list->count(); ++i) QCOMPARE(list->item(i)->checkState(), Qt::Unchecked);
  }

  void checkingFromTheKeyboard() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    auto* list = Find<QListWidget>(s, kIdServiceCheckList);
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(list->item(2)->checkState(), Qt::Checked);
  }

  void informationPagesForTwoServices() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    wiztest::CheckServices(s, {0, 1});
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), SetupWizard::kServiceInfoPage);
    QCOMPARE(s.windowTitle(), QStringLiteral("Search Service Information"));
    QCOMPARE(s.selectedServiceMask, 3);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(),
             QStringLiteral("Local Directory Service"));
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->font().weight(), QFont::Bold);
    for (int id : {kIdServerHostEdit, kIdServerPortEdit, kIdServiceBaseEdit})
      QVERIFY(Find<QLineEdit>(s, id)->isEnabled());
    QCOMPARE(Find<QLineEdit>(s, kIdServerPortEdit)->text(), QStringLiteral("389"));
    QVERIFY(Find<QLineEdit>(s, kIdServerHostEdit)->text().isEmpty());
    QVERIFY(Find<QLineEdit>(s, kIdServiceBaseEdit)->text().isEmpty());
    // Back from the first information page returns to the services page.
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 5);

    // The NameFlow page alone: no base DN.
    wiztest::CheckServices(s, {1});
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 6);
    QCOMPARE(Find<QLabel>(s, kIdServiceNameLabel)->text(), QStringLiteral("NameFlow Directory"));
    QVERIFY(Find<QLineEdit>(s, kIdServerHostEdit)->isEnabled());
    QVERIFY(!Find<QLineEdit>(s, kIdServiceBaseEdit)->isEnabled());
    QCOMPARE(Find<QLineEdit>(s, kIdServiceBaseEdit)->text(), QStringLiteral("Not required"));
  }

  void informationPortZeroGoesToTheConnectionTest() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    wiztest::CheckServices(s, {1});
    Press(s, kIdNext);
    SetText(s, kIdServerHostEdit, QStringLiteral("  127.0.0.1\t"));
    SetText(s, kIdServerPortEdit, QStringLiteral("0"));
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 6);
    // No port message: the failed connection is what is reported.
    QCOMPARE(w.recorder.Ids(), std::vector<int>{61277});
    QVERIFY((*s.selectedServices)[0]->host.empty());
    QCOMPARE((*s.selectedServices)[0]->port, 389);
  }

  void summaryListsEveryService() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(5);
    wiztest::CheckServices(s, {0, 1, 2});
    auto* list = Find<QListWidget>(s, kIdServiceCheckList);
    QVERIFY(list);
    Press(s, kIdNext);
    QCOMPARE(s.currentIndex(), 6);
    // Jump over the information pages; the summary lists every checked service.
    s.ShowPage(7);
    QCOMPARE(s.summaryPage.summaryText,
             std::string("Selected search services:\r\n\r\n * Local Directory Service\r\n"
                         " * NameFlow Directory\r\n * BigFoot Internet Directory Service\r\n"));
    Press(s, kIdBack);
    QCOMPARE(s.currentIndex(), 5);
  }

  // A configuration for the directory: the summary names the server, how the connection is
  // protected and the subtree, as the pages before chose them.
  void summaryNamesTheDirectory_data() {
    QTest::addColumn<QString>("security");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("lines");
    QTest::newRow("LDAPS with a CA file")
        << "ldaps"
        << "/etc/ca.pem"
        << "Connection security: LDAPS\r\nTrusted certificates: /etc/ca.pem\r\n";
    QTest::newRow("StartTLS, the system's store")
        << "starttls"
        << ""
        << "Connection security: StartTLS\r\nTrusted certificates: the system's certificate "
           "store\r\n";
    QTest::newRow("plain text") << "none"
                                << "/etc/ca.pem"
                                << "Connection security: None\r\n";
  }
  void summaryNamesTheDirectory() {
    QFETCH(QString, security);
    QFETCH(QString, caFile);
    QFETCH(QString, lines);
    Wizard w;
    SetupWizard& s = w.wizard;
    s.startupMode = StartupMode::kDirectory;
    s.directory.server = {"dirhost.example", 636, security.toStdString(), caFile.toStdString(), {}};
    s.directory.subtreeDn = "cn=Orvelle Configuration, o=Sample";
    s.ShowPage(7);
    QCOMPARE(QString::fromStdString(s.summaryPage.summaryText),
             "Selected search services:\r\n\r\n\r\nDirectory server: dirhost.example:636\r\n" +
                 lines + "Configuration subtree: cn=Orvelle Configuration, o=Sample\r\n");
    auto* edit = Find<QPlainTextEdit>(s, kIdSummaryEdit);
    QVERIFY(edit && edit->toPlainText().contains(QStringLiteral("dirhost.example:636")));
  }

  // The CA file field shows its whole placeholder, and stays inside the page.
  void caFilePlaceholderFits() {
    Wizard w;
    SetupWizard& s = w.wizard;
    s.ShowPage(2);
    auto* edit = Find<QLineEdit>(s, kIdCaFileEdit);
    QVERIFY(edit && !edit->placeholderText().isEmpty());
    const int text = edit->fontMetrics().horizontalAdvance(edit->placeholderText());
    QVERIFY2(edit->width() >= text + 8,
             qPrintable(QStringLiteral("%1 < %2").arg(edit->width()).arg(text + 8)));
    QWidget* page = s.GetActivePage()->window();
    QVERIFY(page->rect().contains(QRect(edit->mapTo(page, QPoint(0, 0)), edit->size())));
  }

  // Cancel ends the dialog once, with a result other than Finish; the caller returns to
  // main, so the program ends through the destructors.
  void cancelEndsTheDialog() {
    const auto endsRejected = [](SetupWizard& s, const std::function<void()>& act) {
      QSignalSpy finished(&s, &QDialog::finished);
      act();
      QCOMPARE(finished.count(), 1);
      QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
      QVERIFY(!s.isVisible());
    };
    for (int page = 0; page < 8; ++page) {
      Wizard w;
      SetupWizard& s = w.wizard;
      s.ShowPage(page);
      endsRejected(s, [&] { Press(s, kIdCancel); });
    }
    // The close box and Escape do the same.
    Wizard w;
    endsRejected(w.wizard, [&] { w.wizard.close(); });
    Wizard e;
    endsRejected(e.wizard, [&] { QTest::keyClick(&e.wizard, Qt::Key_Escape); });
  }

  void serviceTable() {
    int rows = 0;
    while (kServiceFlags[rows] != -1) ++rows;
    QCOMPARE(rows, 3);
    int names = 0;
    while (kServiceNames[names]) ++names;
    QCOMPARE(names, 9);
    QCOMPARE(std::string(kServiceTemplates[6]), std::string("infospace"));
    QCOMPARE(std::string(kServiceNames[8]), std::string("Yahoo! People Search"));
    int h = -1, b = -1;
    QVERIFY(ServiceNeeds(1, h, b));
    QCOMPARE(h + b, 2);
    QVERIFY(ServiceNeeds(2, h, b));
    QCOMPARE(h, 1);
    QCOMPARE(b, 0);
    for (int f : {4, 8, 32, 64, 128, 256, 512}) {
      QVERIFY(ServiceNeeds(f, h, b));
      QCOMPARE(h + b, 0);
    }
    for (int f : {0, 3, 16, 1024, -1}) QVERIFY(!ServiceNeeds(f, h, b));
  }
};

QTEST_MAIN(SetupWizardTest)
#include "test_setupwizard.moc"
