// A form's tool tip and help text, edited in the form panel: the edit marks the
// configuration modified, and both texts are stored and read back by either store.
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/files/localstore.h"
#include "store/store.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "tests/support/testoidtable.h"

namespace {

struct Editor {
  explicit Editor(testsupport::KeptConfiguration& config)
      : left(config, testsupport::DirectoryOidtable(), &right) {
    left.resize(300, 400);
    right.resize(520, 400);
    left.show();
    right.show();
    left.tree()->Fill();
  }
  CConfigTree* tree() { return left.tree(); }
  OVS_RHSClientWnd right;
  OVS_LHSClientWnd left;
};

// Replaces the text of edit `id` on the shown panel by typing `text`.
void Retype(CPropertyPanel* panel, int id, const QString& text) {
  auto* edit = panel->findChild<QLineEdit*>(ObjectName(id));
  QVERIFY(edit);
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

}  // namespace

class TestFormTexts : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::SlapdFixture> slapd_;

 private slots:
  void initTestCase() {
    slapd_ = std::make_unique<testsupport::SlapdFixture>();
    QVERIFY2(slapd_->ok(), slapd_->error().c_str());
  }
  void cleanupTestCase() { slapd_.reset(); }

  // Both texts typed into the form panel: shown again when the panel comes back, the
  // configuration counts as changed, and the saved texts read back from a folder and
  // from the directory.
  void editedTextsAreStored_data() {
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QString>("help");
    for (bool directory : {false, true}) {
      const char* where = directory ? "directory" : "folder";
      QTest::addRow("%s, both texts", where) << directory << "Search for people"
                                             << "Type part of a name, e.g. Smith";
      // Texts the sample had are emptied: an empty text is kept as empty.
      QTest::addRow("%s, emptied", where) << directory << ""
                                          << "";
    }
  }
  void editedTextsAreStored() {
    QFETCH(bool, directory);
    QFETCH(QString, tip);
    QFETCH(QString, help);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    sample::FillStandard(config);
    // Every group needs a field to be stored.
    config.searchForms[0]->inputGroups[1]->AddField("Town", "", {"l"});
    SearchForm* form = config.searchForms.front().get();
    form->toolTip = "old tip";
    form->helpString = "old help";
    Editor editor(config);
    CConfigTree* tree = editor.tree();
    tree->setCurrentItem(tree->ItemOf(form));
    CPropertyPanel* panel = tree->currentPanel();
    QVERIFY(panel);
    QCOMPARE(panel->findChild<QLineEdit*>(ObjectName(kIdFormToolTipEdit))->text(),
             QStringLiteral("old tip"));
    QCOMPARE(panel->findChild<QLineEdit*>(ObjectName(kIdFormHelpEdit))->text(),
             QStringLiteral("old help"));
    QCOMPARE(panel->findChild<QLabel*>(ObjectName(kIdFormToolTipLabel))->text(),
             QString::fromStdString(msg::Text(62325)));
    QCOMPARE(panel->findChild<QLabel*>(ObjectName(kIdFormHelpLabel))->text(),
             QString::fromStdString(msg::Text(62326)));
    QVERIFY(!tree->isModified());

    Retype(panel, kIdFormToolTipEdit, tip);
    QVERIFY(tree->isModified());
    Retype(panel, kIdFormHelpEdit, help);
    QCOMPARE(QString::fromStdString(form->toolTip), tip);
    QCOMPARE(QString::fromStdString(form->helpString), help);
    // The panel built again shows what was typed.
    tree->setCurrentItem(tree->formsRoot());
    tree->setCurrentItem(tree->ItemOf(form));
    panel = tree->currentPanel();
    QCOMPARE(panel->findChild<QLineEdit*>(ObjectName(kIdFormToolTipEdit))->text(), tip);
    QCOMPARE(panel->findChild<QLineEdit*>(ObjectName(kIdFormHelpEdit))->text(), help);

    QTemporaryDir folder;
    testsupport::KeptConfiguration back;
    if (directory) {
      config.session.startupMode = StartupMode::kDirectory;
      config.session.directory.subtreeDn = "cn=Orvelle Configuration,o=Sample";
      config.session.directory.connection = slapd_->Connect();
      QVERIFY(testsupport::Shown(store::Save(config.session, config, nullptr)));
      back.session.directory.subtreeDn = config.session.directory.subtreeDn;
      QVERIFY(directory::LoadSubtree(
          back, back.session.directory.subtreeDn, testsupport::DirectoryOidtable(),
          *config.session.directory.connection, testsupport::ShowAfter().Into()));
    } else {
      config.session.configurationDirectory = folder.path().toStdString();
      config.oidtable = &testsupport::DirectoryOidtable();
      QVERIFY(testsupport::Shown(store::Save(config.session, config, nullptr)));
      back.session.configurationDirectory = config.session.configurationDirectory;
      QCOMPARE(LoadFromFiles(back, back.session.configurationDirectory,
                             testsupport::DirectoryOidtable()),
               1);
    }
    QVERIFY2(sink.messages.empty(), sink.messages.empty() ? "" : sink.messages[0].text.c_str());
    const SearchForm* loaded = nullptr;
    for (const auto& f : back.searchForms)
      if (f->name == form->name) loaded = f.get();
    QVERIFY(loaded);
    QCOMPARE(QString::fromStdString(loaded->toolTip), tip);
    QCOMPARE(QString::fromStdString(loaded->helpString), help);
  }
};

QTEST_MAIN(TestFormTexts)
#include "test_formtexts.moc"
