// The editor's main window: menu, accelerators, status bar, splitter, size limits,
// About box and the question about unsaved changes.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/controlids.h"
#include "app/directoryrun.h"
#include "app/mainframe.h"
#include "app/startup.h"
#include "directoryui/controlids.h"
#include "directoryui/pleasewaitdialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/entrylayout.h"
#include "store/directory/oldcopyremover.h"
#include "tests/support/modaldriver.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "widgets/controlids.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"

namespace {

QMenu* MenuNamed(QMenuBar* bar, const QString& title) {
  for (QAction* action : bar->actions()) {
    if (action->text() == title) return action->menu();
  }
  return nullptr;
}

QStringList Texts(const QMenu* menu) {
  QStringList out;
  for (QAction* action : menu->actions()) out << (action->isSeparator() ? "-" : action->text());
  return out;
}

// Closes the next modal dialog with `key` once it is up.
void PressInModal(Qt::Key key, QString* seenName = nullptr) {
  testsupport::OnNextModal([key, seenName](QWidget* modal) {
    if (seenName) *seenName = modal->objectName();
    QTest::keyClick(modal, key);
  });
}

struct Frame {
  Frame()
      : frame(config, config.session, table, [this](Configuration&) {
          ++saves;
          return saveResult;
        }) {
    sample::FillStandard(config);
    frame.show();
    frame.tree()->Fill();
  }
  testsupport::KeptConfiguration config;
  kvaro::Oidtable table;
  int saves = 0;
  bool saveResult = true;
  CMainFrame frame;
};

// A directory-mode configuration logged on to `slapd`.
void DirectoryConfig(testsupport::KeptConfiguration& config, testsupport::SlapdFixture& slapd) {
  config.session.startupMode = StartupMode::kDirectory;
  config.session.directory.subtreeDn = "cn=Orvelle Configuration,o=Sample";
  config.session.directory.server.address = slapd.host();
  config.session.directory.server.port = slapd.port();
  config.session.directory.server.bindDn = slapd.adminDn();
  config.session.directory.password = slapd.adminPassword();
  config.session.directory.connection = slapd.Connect();
}

}  // namespace

class TestMainFrame : public QObject {
  Q_OBJECT

 private slots:
  void menuHasItsItemsAndEditIsDisabled() {
    Frame f;
    QMenuBar* bar = f.frame.menuBar();
    QStringList titles;
    for (QAction* action : bar->actions()) titles << action->text();
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "&Help"}));
    QCOMPARE(Texts(MenuNamed(bar, "&File")),
             (QStringList{"&Save\tCtrl+S", "Add Search Ser&vice...", "-", "E&xit"}));
    QCOMPARE(Texts(MenuNamed(bar, "&Edit")),
             (QStringList{"&Undo\tCtrl+Z", "&Redo\tCtrl+Shift+Z", "-", "Cu&t\tCtrl+X",
                          "&Copy\tCtrl+C", "&Paste\tCtrl+V"}));
    QCOMPARE(Texts(MenuNamed(bar, "&View")), (QStringList{"&Status Bar"}));
    QCOMPARE(Texts(MenuNamed(bar, "&Help")), (QStringList{"&About Orvelle32Setup..."}));
    for (int id : {CMainFrame::kUndo, CMainFrame::kRedo, CMainFrame::kCut, CMainFrame::kCopy,
                   CMainFrame::kPaste}) {
      QVERIFY(f.frame.action(id));
      QVERIFY(!f.frame.action(id)->isEnabled());
      QVERIFY(!f.frame.OnCommand(id));
    }
    for (int id :
         {CMainFrame::kSave, CMainFrame::kExit, CMainFrame::kStatusBar, CMainFrame::kAbout})
      QVERIFY(f.frame.action(id)->isEnabled());
    // No "New" command is offered.
    QVERIFY(f.frame.action(57600) == nullptr);
    QVERIFY(!f.frame.OnCommand(57600));
    // Command prompts are the text before the line break.
    QCOMPARE(f.frame.action(CMainFrame::kExit)->statusTip(),
             QStringLiteral("Quit the application; prompts to save documents"));
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Orvelle32Setup[*]"));
  }

  // Save's prompt names where the configuration is kept.
  void saveStatusTipNamesTheStore_data() {
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("tip");
    QTest::newRow("local files") << false << "Save Configuration to the Configuration Folder";
    QTest::newRow("directory") << true << "Save Configuration to the Directory";
  }
  void saveStatusTipNamesTheStore() {
    QFETCH(bool, directory);
    QFETCH(QString, tip);
    testsupport::KeptConfiguration config;
    config.session.startupMode = directory ? StartupMode::kDirectory : StartupMode::kFiles;
    kvaro::Oidtable table;
    CMainFrame frame(config, config.session, table, [](Configuration&) { return true; });
    QCOMPARE(frame.action(CMainFrame::kSave)->statusTip(), tip);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QStatusTipEvent hover(frame.action(CMainFrame::kSave)->statusTip());
    QApplication::sendEvent(&frame, &hover);
    QCOMPARE(frame.statusBar()->currentMessage(), tip);
  }

  // Two editors of one configuration folder: the other saves first. A change of theirs
  // that this save would overwrite brings the question, and each answer does what it
  // says; a change elsewhere is kept without a question.
  void saveAfterSomeoneElsesSave_data() {
    QTest::addColumn<bool>("overlapping");
    QTest::addColumn<int>("answer");
    QTest::newRow("reload") << true << int(msg::Answer::Reload);
    QTest::newRow("save anyway") << true << int(msg::Answer::SaveAnyway);
    QTest::newRow("cancel") << true << int(msg::Answer::Cancel);
    QTest::newRow("disjoint") << false << int(msg::Answer::Cancel);
  }
  void saveAfterSomeoneElsesSave() {
    QFETCH(bool, overlapping);
    QFETCH(int, answer);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = folder.path().toStdString();
    {
      Configuration seed;
      sample::FillPeople(seed);
      QVERIFY(testsupport::SaveShown(seed, path));
    }
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const auto classesOf = [](const Configuration& c, const char* rule) {
      const RuleSet* set = c.FindRuleSet("Standard");
      const SearchRule* found = set ? set->FindRule(rule) : nullptr;
      return found ? found->objectClasses : std::vector<std::string>{"(missing)"};
    };
    ApplicationObject app;
    ldapx::LoadOidtable(app.oidtable, std::string(ORVELLE_SOURCE_DIR) + "/resources/oidtable32");
    app.configuration.oidtable = &app.oidtable;
    app.session.startupMode = StartupMode::kFiles;
    app.session.configurationDirectory = path;
    QCOMPARE(store::Load(app.session, app.configuration, app.oidtable, {}), kLoaded);
    const std::vector<std::string> stored = classesOf(app.configuration, "Person");

    testsupport::KeptConfiguration theirs;
    theirs.oidtable = &app.oidtable;
    theirs.session = app.session;
    QCOMPARE(store::Load(theirs.session, theirs, app.oidtable, {}), kLoaded);
    if (overlapping) {
      theirs.FindRuleSet("Standard")->FindRule("Room")->objectClasses = {"device"};
    } else {
      theirs.AddRuleSet(std::make_unique<RuleSet>("Theirs"));
      theirs.FindRuleSet("Theirs")->AddRule(std::make_unique<SearchRule>(
          nullptr, "Any", std::vector<SearchRule*>{}, std::vector<std::string>{"person"}));
    }
    QVERIFY(testsupport::Shown(store::Save(theirs.session, theirs)));

    CMainFrame frame(app.configuration, app.session, app.oidtable, [&](Configuration& c) {
      return SaveInWorker(app.session, c, &frame, nullptr);
    });
    frame.SetReloadFunction([&app](Configuration& into) { return ReloadConfiguration(app, into); });
    frame.show();
    frame.tree()->Fill();
    app.configuration.FindRuleSet("Standard")->FindRule("Person")->objectClasses = {"organizationalPerson"};
    frame.tree()->MarkModified();
    sink.answer = msg::Answer(answer);
    const bool saved = frame.Save();

    Configuration onDisk;
    QCOMPARE(testsupport::LoadShown(onDisk, path, app.oidtable), kLoaded);
    if (!overlapping) {
      // Theirs and mine, both kept, and nothing asked.
      QVERIFY(saved);
      QVERIFY(sink.messages.empty());
      QVERIFY(onDisk.FindRuleSet("Theirs"));
      QCOMPARE(classesOf(onDisk, "Person"), std::vector<std::string>{"organizationalPerson"});
      QCOMPARE(frame.statusBar()->currentMessage(),
               QStringLiteral("Saved: 0 added, 1 changed, 0 removed."));
      return;
    }
    QCOMPARE(sink.Ids(), std::vector<int>{62339});
    QCOMPARE(sink.messages[0].buttons, msg::Buttons::ReloadSaveAnywayCancel);
    QVERIFY2(sink.messages[0].text.find("Standard") != std::string::npos,
             sink.messages[0].text.c_str());
    sink.messages.clear();
    switch (msg::Answer(answer)) {
      case msg::Answer::Reload:
        // Their configuration is shown in place of mine, which is gone.
        QVERIFY(!saved);
        QVERIFY(!frame.tree()->isModified());
        QCOMPARE(classesOf(app.configuration, "Room"), std::vector<std::string>{"device"});
        QCOMPARE(classesOf(app.configuration, "Person"), stored);
        QVERIFY(frame.tree()->ItemOf(RecordRef(app.configuration.FindRuleSet("Standard"))));
        QCOMPARE(classesOf(onDisk, "Room"), std::vector<std::string>{"device"});
        // The reload is what the next save compares with: no question any more.
        app.configuration.FindRuleSet("Standard")->FindRule("Person")->objectClasses = {"account"};
        frame.tree()->MarkModified();
        QVERIFY(frame.Save());
        QVERIFY(sink.messages.empty());
        break;
      case msg::Answer::SaveAnyway:
        QVERIFY(saved);
        QVERIFY(!frame.tree()->isModified());
        QCOMPARE(classesOf(onDisk, "Person"), std::vector<std::string>{"organizationalPerson"});
        QVERIFY(classesOf(onDisk, "Room") != std::vector<std::string>{"device"});
        break;
      default:
        // Nothing written, and the edit stays to be saved.
        QVERIFY(!saved);
        QVERIFY(frame.tree()->isModified());
        QCOMPARE(classesOf(onDisk, "Room"), std::vector<std::string>{"device"});
        QCOMPARE(classesOf(onDisk, "Person"), stored);
        QCOMPARE(classesOf(app.configuration, "Person"), std::vector<std::string>{"organizationalPerson"});
        break;
    }
    QVERIFY(sink.messages.empty());
  }

  // Undo and Redo in the Edit menu and on the keys: named after the edit, enabled while
  // there is one, and back to the loaded configuration and the unsaved-changes state.
  void undoAndRedoThroughTheMenuAndKeys() {
    Frame f;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    CConfigTree* tree = f.frame.tree();
    const size_t forms = f.config.searchForms.size();
    QVERIFY(tree->RemoveForm(f.config.FindForm("People")));
    QCoreApplication::processEvents();
    QAction* undo = f.frame.action(CMainFrame::kUndo);
    QAction* redo = f.frame.action(CMainFrame::kRedo);
    QVERIFY(undo->isEnabled());
    QCOMPARE(undo->text(), QStringLiteral("&Undo Remove Form People\tCtrl+Z"));
    QVERIFY(!redo->isEnabled());
    QVERIFY(f.frame.isWindowModified());
    f.frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.frame));
    tree->setFocus();
    QTest::keyClick(&f.frame, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.config.searchForms.size(), forms);
    QVERIFY(f.config.FindForm("People"));
    QVERIFY(!f.frame.isWindowModified());
    QVERIFY(!undo->isEnabled());
    QCOMPARE(redo->text(), QStringLiteral("&Redo Remove Form People\tCtrl+Shift+Z"));
    QTest::keyClick(&f.frame, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!f.config.FindForm("People"));
    QVERIFY(f.frame.isWindowModified());
    QVERIFY(sink.messages.empty());
  }

  // File Add Search Service...: the wizard's service pages, then the service's rule set
  // and forms in the configuration and the tree as one undoable edit; a second time, its
  // names are taken, so nothing is added and the message names them.
  void addSearchServiceLater() {
    Frame f;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    const auto runWizard = [&f] {
      testsupport::OnNextModalOf<SetupWizard>([](SetupWizard* wizard) {
        QCOMPARE(wizard->currentIndex(), int(SetupWizard::kServicesPage));
        QVERIFY(wizard->button(kIdBack)->isHidden());
        auto* list = wizard->findChild<QListWidget*>(ObjectName(kIdServiceCheckList));
        QVERIFY(list);
        list->item(2)->setCheckState(Qt::Checked);  // a service that needs no host
        wizard->Next();
        QCOMPARE(wizard->currentIndex(), int(SetupWizard::kSummaryPage));
        wizard->Finish();
      });
      return f.frame.OnCommand(CMainFrame::kAddService);
    };
    const size_t sets = f.config.ruleSets.size(), forms = f.config.searchForms.size();
    QVERIFY(runWizard());
    QVERIFY(sink.messages.empty());
    QCOMPARE(f.config.ruleSets.size(), sets + 1);
    QVERIFY(f.config.searchForms.size() > forms);
    RuleSet* added = f.config.ruleSets.back().get();
    QVERIFY(f.frame.tree()->ItemOf(added));
    QVERIFY(f.frame.tree()->ItemOf(f.config.searchForms.back().get()));
    QVERIFY(f.frame.isWindowModified());
    QCoreApplication::processEvents();
    const size_t withService = f.config.searchForms.size();

    QVERIFY(runWizard());
    QCOMPARE(sink.Ids(), std::vector<int>{62393});
    QVERIFY2(sink.messages[0].text.find(added->name) != std::string::npos,
             sink.messages[0].text.c_str());
    QCOMPARE(f.config.searchForms.size(), withService);

    // One step takes the whole service out again.
    QVERIFY(f.frame.tree()->Undo());
    QCOMPARE(f.config.ruleSets.size(), sets);
    QCOMPARE(f.config.searchForms.size(), forms);
    QVERIFY(!f.frame.isWindowModified());
  }

  // The Please Wait window's bar is busy until a total is known, then fills with the
  // text "n of m" and never goes back to busy or to fewer done.
  void pleaseWaitProgressIsSteady() {
    PleaseWaitDialog wait;
    wait.Show("Accessing directory...", "Writing new search rule sets...");
    auto* bar = wait.findChild<QProgressBar*>(ObjectName(kIdPleaseWaitProgress));
    QVERIFY(bar);
    auto busy = [bar] { return bar->minimum() == 0 && bar->maximum() == 0; };
    QVERIFY(busy());
    wait.SetProgress(0, 0);
    QVERIFY(busy());
    QVERIFY(!bar->isTextVisible());
    struct Step {
      long done, total;
      int value;
      const char* text;
    };
    const Step steps[] = {{0, 40, 0, "0 of 40"},    {12, 40, 12, "12 of 40"},
                          {0, 0, 12, "12 of 40"},   {5, 40, 12, "12 of 40"},
                          {40, 40, 40, "40 of 40"}, {0, 0, 40, "40 of 40"}};
    for (const Step& step : steps) {
      wait.SetProgress(step.done, step.total);
      QVERIFY(!busy());
      QCOMPARE(bar->maximum(), 40);
      QCOMPARE(bar->value(), step.value);
      QVERIFY(bar->isTextVisible());
      QCOMPARE(bar->text(), QString::fromLatin1(step.text));
    }
  }

  void editAcceleratorsDoNothing() {
    Frame f;
    f.frame.activateWindow();
    f.frame.tree()->setFocus();
    f.frame.tree()->setCurrentItem(f.frame.tree()->ruleSetsRoot());
    const size_t sets = f.config.ruleSets.size();
    for (auto keys : {QKeyCombination(Qt::CTRL | Qt::Key_C), QKeyCombination(Qt::CTRL | Qt::Key_X),
                      QKeyCombination(Qt::CTRL | Qt::Key_V), QKeyCombination(Qt::CTRL | Qt::Key_Z),
                      QKeyCombination(Qt::SHIFT | Qt::Key_Delete)}) {
      QTest::keyClick(f.frame.tree(), keys.key(), keys.keyboardModifiers());
    }
    QCOMPARE(f.config.ruleSets.size(), sets);
    QVERIFY(!f.frame.tree()->isModified());
    // Their accelerators exist but are disabled.
    const auto accelerators = f.frame.findChildren<QAction*>("accel57634");
    QCOMPARE(accelerators.size(), 2);
    for (QAction* a : accelerators) QVERIFY(!a->isEnabled());
  }

  // A session on the directory shows in the status bar whether its connection is
  // encrypted; a session on local files shows nothing about it.
  void statusBarShowsTheConnectionSecurity() {
    testsupport::SlapdFixture::Options options;
    options.tls = testsupport::SlapdFixture::Options::Tls::Trusted;
    testsupport::SlapdFixture slapd(options);
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    for (const auto security : {ldapx::Security::Ldaps, ldapx::Security::None}) {
      testsupport::KeptConfiguration config;
      config.session.directory.server.security = ldapx::SecurityName(security);
      const bool ldaps = security == ldapx::Security::Ldaps;
      config.session.directory.connection =
          ldapx::Connection::Open(slapd.host(), ldaps ? slapd.ldapsPort() : slapd.port(),
                                  ldapx::TlsOptions{security, slapd.caFile()});
      QVERIFY(config.session.directory.connection);
      kvaro::Oidtable table;
      CMainFrame frame(config, config.session, table, [](Configuration&) { return true; });
      auto* label = frame.statusBar()->findChild<QLabel*>(ObjectName(kIdSecurityIndicator));
      QVERIFY(label);
      QCOMPARE(label->text(), ldaps ? QStringLiteral("Connection: encrypted (LDAPS)")
                                    : QStringLiteral("Connection: not encrypted"));
      // Which server of the settings' list answered.
      auto* server = frame.statusBar()->findChild<QLabel*>(ObjectName(kIdServerIndicator));
      QVERIFY(server);
      QCOMPARE(server->text(), QString("Server: %1:%2")
                                   .arg(QString::fromStdString(slapd.host()))
                                   .arg(ldaps ? slapd.ldapsPort() : slapd.port()));
    }
    Frame local;
    QVERIFY(!local.frame.statusBar()->findChild<QLabel*>(ObjectName(kIdSecurityIndicator)));
  }

  void statusBarHasItsIndicators() {
    Frame f;
    QStatusBar* status = f.frame.statusBar();
    QCOMPARE(status->objectName(), ObjectName(kIdStatusBar));
    QCOMPARE(status->findChild<QLabel*>(ObjectName(kIdStatusMessagePane))->text(),
             QStringLiteral("For Help, press F1"));
    QCOMPARE(status->findChild<QLabel*>(ObjectName(kIdCapsIndicator))->text(),
             QStringLiteral("CAP"));
    QCOMPARE(status->findChild<QLabel*>(ObjectName(kIdNumIndicator))->text(),
             QStringLiteral("NUM"));
    QCOMPARE(status->findChild<QLabel*>(ObjectName(kIdScrollIndicator))->text(),
             QStringLiteral("SCRL"));
    QAction* toggle = f.frame.action(CMainFrame::kStatusBar);
    QVERIFY(toggle->isChecked());
    toggle->trigger();
    QVERIFY(!status->isVisible());
    QVERIFY(!toggle->isChecked());
    f.frame.OnCommand(CMainFrame::kStatusBar);
    QVERIFY(status->isVisible());
    QVERIFY(toggle->isChecked());
  }

  void splitterHasTheTwoPanes() {
    Frame f;
    CMainSplitter* splitter = f.frame.splitter();
    QCOMPARE(splitter->objectName(), ObjectName(kIdSplitter));
    QCOMPARE(splitter->count(), 2);
    QCOMPARE(splitter->widget(0)->objectName(), QStringLiteral("OVS_LHSClientWnd"));
    QCOMPARE(splitter->widget(1)->objectName(), QStringLiteral("OVS_RHSClientWnd"));
    QCOMPARE(f.frame.leftPane()->tree()->objectName(), ObjectName(kIdConfigTree));
    // Neither column can be dragged below 144 pixels.
    splitter->setSizes({10, 2000});
    QVERIFY(splitter->sizes()[0] >= 144);
    splitter->setSizes({2000, 10});
    QVERIFY(splitter->sizes()[1] >= 144);
    // The tree fills the left pane.
    QCOMPARE(f.frame.tree()->geometry(), f.frame.leftPane()->contentsRect());
    // Both panes show a sunken edge.
    for (QFrame* pane :
         {static_cast<QFrame*>(f.frame.leftPane()), static_cast<QFrame*>(f.frame.rightPane())}) {
      QCOMPARE(pane->frameShadow(), QFrame::Sunken);
      QVERIFY(pane->frameWidth() > 0);
    }
  }

  void sizeLimits() {
    Frame f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
    // The limits hold for the whole window, its frame included.
    f.frame.resize(2000, 1500);
    QCOMPARE(f.frame.frameGeometry().size(), QSize(800, 600));
    f.frame.resize(100, 100);
    QCOMPARE(f.frame.frameGeometry().size(), QSize(360, 240));
    // Maximised is the window manager's: the window stays within the limits and keeps
    // the maximised state, so that Restore brings the old size back.
    f.frame.resize(500, 400);
    const QSize restored = f.frame.size();
    f.frame.showMaximized();
    QTRY_VERIFY(f.frame.windowState() & Qt::WindowMaximized);
    QVERIFY(f.frame.frameGeometry().width() <= 800);
    QVERIFY(f.frame.frameGeometry().height() <= 600);
    QVERIFY(f.frame.isMaximized());
    f.frame.showNormal();
    QTRY_COMPARE(f.frame.size(), restored);
  }

  void ctrlSSaves() {
    Frame f;
    f.frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.frame));
    QTest::keyClick(&f.frame, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(f.saves, 1);
  }

  void f6MovesBetweenThePanes() {
    Frame f;
    f.frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.frame));
    f.frame.tree()->setCurrentItem(f.frame.tree()->formsRoot());
    f.frame.tree()->setFocus();
    QVERIFY(f.frame.tree()->hasFocus());
    QTest::keyClick(&f.frame, Qt::Key_F6);
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus && f.frame.rightPane()->isAncestorOf(focus));
    QTest::keyClick(focus, Qt::Key_F6, Qt::ShiftModifier);
    QVERIFY(f.frame.tree()->hasFocus());
  }

  void saveCallsTheSaveFunction() {
    Frame f;
    f.frame.tree()->MarkModified();
    QVERIFY(f.frame.isWindowModified());
    f.saveResult = false;
    f.frame.action(CMainFrame::kSave)->trigger();
    QCOMPARE(f.saves, 1);
    QVERIFY(f.frame.tree()->isModified());
    f.saveResult = true;
    f.frame.action(CMainFrame::kSave)->trigger();
    QCOMPARE(f.saves, 2);
    QVERIFY(!f.frame.tree()->isModified());
    QVERIFY(!f.frame.isWindowModified());
  }

  void closingWithoutChangesAsksNothing() {
    Frame f;
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QVERIFY(f.frame.close());
    QVERIFY(sink.messages.empty());
    QCOMPARE(f.saves, 0);
  }

  void closingAfterEditsAsks() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    {
      // Cancel keeps the window and the edits.
      Frame f;
      f.frame.tree()->setCurrentItem(f.frame.tree()->formsRoot());
      auto* list = f.frame.rightPane()->findChild<QListWidget*>(ObjectName(kIdRootListList));
      list->setCurrentRow(0);
      sink.answer = msg::Answer::Yes;  // the removal's question
      f.frame.rightPane()->findChild<QPushButton*>(ObjectName(kIdRootListRemoveButton))->click();
      sink.messages.clear();
      QVERIFY(f.frame.tree()->isModified());
      sink.answer = msg::Answer::Cancel;
      QVERIFY(!f.frame.close());
      QVERIFY(f.frame.isVisible());
      QCOMPARE(sink.Ids(), std::vector<int>{62151});
      QCOMPARE(sink.messages[0].buttons, msg::Buttons::SaveDiscardCancel);
      QCOMPARE(f.saves, 0);
      // Discard closes without saving.
      sink.answer = msg::Answer::Discard;
      QVERIFY(f.frame.close());
      QCOMPARE(f.saves, 0);
    }
    sink.messages.clear();
    {
      // A failed save keeps the window open; a good one closes it.
      Frame f;
      f.frame.tree()->MarkModified();
      sink.answer = msg::Answer::Save;
      f.saveResult = false;
      f.frame.action(CMainFrame::kExit)->trigger();  // Exit
      QVERIFY(f.frame.isVisible());
      QCOMPARE(f.saves, 1);
      f.saveResult = true;
      QVERIFY(f.frame.close());
      QCOMPARE(f.saves, 2);
      QCOMPARE(sink.Ids(), (std::vector<int>{62151, 62151}));
    }
  }

  void altF4AsksToo() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    Frame f;
    f.frame.tree()->MarkModified();
    sink.answer = msg::Answer::Cancel;
    QCloseEvent event;
    QApplication::sendEvent(&f.frame, &event);
    QVERIFY(!event.isAccepted());
    QCOMPARE(sink.Ids(), std::vector<int>{62151});
  }

  void aboutBoxShowsThePictureAndClosesOnKeys() {
    Frame f;
    {
      CAboutDialog about(&f.frame);
      QCOMPARE(about.objectName(), ObjectName(kIdAboutDialog));
      auto* picture = about.findChild<QLabel*>(ObjectName(kIdAboutPicture));
      QVERIFY(picture);
      QCOMPARE(picture->pixmap().size(), QSize(418, 322));
      QCOMPARE(about.size(), QSize(418, 322));
      QVERIFY(about.windowFlags() & Qt::FramelessWindowHint);
      const QRect screen = f.frame.screen()->geometry();
      QVERIFY(qAbs(about.geometry().center().x() - screen.center().x()) <= 1);
    }
    QString seen;
    PressInModal(Qt::Key_Escape, &seen);
    f.frame.OnCommand(CMainFrame::kAbout);
    QCOMPARE(seen, ObjectName(kIdAboutDialog));
    seen.clear();
    PressInModal(Qt::Key_Return, &seen);
    f.frame.action(CMainFrame::kAbout)->trigger();
    QCOMPARE(seen, ObjectName(kIdAboutDialog));
  }

  // File Save as the program runs it, against a real directory: the save runs on a
  // worker thread, the main window keeps painting and its timers run, but it takes no
  // input while the wait window is up; the whole configuration is stored, and the old
  // copy is removed after the save returned, by the program's remover.
  // A save that finds the server gone for good drops the connection; the status bar says
  // so instead of still showing how the lost connection was protected.
  void statusBarFollowsADroppedConnection() {
    testsupport::SlapdFixture slapd;
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    DirectoryConfig(config, slapd);
    sample::FillPeople(config);
    kvaro::Oidtable table;
    CMainFrame frame(config, config.session, table, [&frame, &config](Configuration& c) {
      return SaveInWorker(config.session, c, &frame, nullptr);
    });
    frame.show();
    auto* label = frame.statusBar()->findChild<QLabel*>(ObjectName(kIdSecurityIndicator));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Connection: not encrypted"));
    slapd.Stop();
    QVERIFY(!frame.Save());
    QCOMPARE(sink.Ids(), std::vector<int>{62144});
    QVERIFY(!config.session.directory.connection);
    QCOMPARE(label->text(), QStringLiteral("Connection: closed (a save connects again)"));
    // Once the server is back, the next save connects again and the bar shows it.
    QVERIFY(slapd.Restart());
    sink.messages.clear();
    QVERIFY(frame.Save());
    QVERIFY(config.session.directory.connection);
    QCOMPARE(label->text(), QStringLiteral("Connection: not encrypted"));
  }

  // Cancel in the Please Wait window during a save is the administrator's choice, not a
  // failure: the message that nothing changed comes with the information icon.
  void cancelledSaveIsNoError() {
    testsupport::SlapdFixture slapd;
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    DirectoryConfig(config, slapd);
    sample::FillLarge(config, 20, 20, 10);
    QVERIFY(testsupport::Shown(directory::WriteRootEntry(*config.session.directory.connection,
                                                         config.session.directory.subtreeDn)));
    kvaro::Oidtable table;
    CMainFrame frame(config, config.session, table, [&frame, &config](Configuration& c) {
      return SaveInWorker(config.session, c, &frame, nullptr);
    });
    frame.show();
    testsupport::OnNextModalOf<PleaseWaitDialog>([](PleaseWaitDialog* wait) {
      QTest::mouseClick(wait->findChild<QPushButton*>(ObjectName(kIdCancel)), Qt::LeftButton);
    });
    QVERIFY(!frame.Save());
    QCOMPARE(sink.Ids(), std::vector<int>{62143});
    QCOMPARE(sink.messages[0].icon, msg::Icon::Information);
  }

  void fileSaveRunsOffTheGuiThread() {
    testsupport::SlapdFixture slapd;
    QVERIFY2(slapd.ok(), slapd.error().c_str());
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    DirectoryConfig(config, slapd);
    QVERIFY(config.session.directory.connection);
    sample::FillLarge(config, 20, 20, 10);
    QVERIFY(testsupport::Shown(directory::WriteRootEntry(*config.session.directory.connection,
                                                         config.session.directory.subtreeDn)));
    kvaro::Oidtable table;
    directory::OldCopyRemover remover([](const msg::Problems& p) { msg::Show(p); });
    CMainFrame frame(config, config.session, table, [&frame, &remover, &config](Configuration& c) {
      return SaveInWorker(config.session, c, &frame, &remover);
    });
    frame.show();
    int ticks = 0;
    bool blocked = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      ++ticks;
      if (qobject_cast<PleaseWaitDialog*>(QApplication::activeModalWidget()))
        blocked = blocked || QApplication::activeModalWidget() != &frame;
    });
    timer.start(5);
    QVERIFY(frame.OnCommand(CMainFrame::kSave));
    timer.stop();
    QVERIFY(sink.messages.empty());
    QVERIFY2(ticks >= 2, QByteArray::number(ticks));
    QVERIFY(blocked);
    const auto stored = config.session.directory.connection->Search(
        config.session.directory.subtreeDn, ldapx::Scope::Subtree, "(objectClass=*)", {"1.1"});
    QCOMPARE(stored.entries.size(),
             directory::PlanConfiguration(config, config.session.directory.subtreeDn).size() + 1);
    QVERIFY(remover.WaitIdle(std::chrono::seconds(60)));
    QVERIFY(sink.messages.empty());
    const auto beside = config.session.directory.connection->Search(
        "o=Sample", ldapx::Scope::OneLevel, "(cn=*orvelle-*)", {"1.1"});
    QCOMPARE(beside.code, ldapx::kSuccess);
    QCOMPARE(beside.entries.size(), size_t(0));
  }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
