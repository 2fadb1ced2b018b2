// Where the settings come from and where they go: the user's own file wins, the
// system-wide defaults (the XDG config search path) are read when it is missing, and
// every write lands in the user's own file, never in the system-wide one. Ends with a
// first start on a fresh account using the defaults the package installs.
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "app/startup.h"
#include "app/wizardrun.h"
#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "tests/support/modaldriver.h"
#include "tests/support/shownstore.h"
#include "tests/support/testfiles.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"
#include "wizard/wizardframe.h"

namespace fs = std::filesystem;

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const char* const kKey = "[HKEY_LOCAL_MACHINE\\Software\\Merrowick\\Orvelle 3.0\\Startup]\n";

std::string FileMode(const std::string& folder) {
  return std::string("REGEDIT4\n\n") + kKey + "\"Startup Mode\"=\"file\"\n" +
         "\"Configuration Directory\"=\"" + folder + "\"\n";
}

// Runs `steps` on the set-up wizard once it is up; closes it if they leave it open.
void DriveWizard(std::function<void(SetupWizard&)> steps) {
  testsupport::OnNextModalOf<SetupWizard>([steps](SetupWizard* wizard) {
    steps(*wizard);
    if (wizard->isVisible()) wizard->done(0);
  });
}

}  // namespace

class SettingsFallbackTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string user_;     // the user's own file ($ORVELLE_SETTINGS)
  std::string system1_;  // orvelle/settings.reg in the first $XDG_CONFIG_DIRS folder
  std::string system2_;  // ... in the second
  msg::RecordingSink recorder_;
  std::unique_ptr<msg::ScopedSink> sink_;

 private slots:
  void initTestCase() {
    kvaro::SetProgramPath(QCoreApplication::applicationFilePath().toStdString());
    sink_ = std::make_unique<msg::ScopedSink>(&recorder_);
  }

  void init() {
    fs::remove_all(dir_.path().toStdString());
    fs::create_directories(dir_.path().toStdString());
    user_ = dir_.filePath("home/.config/orvelle/settings.reg").toStdString();
    system1_ = dir_.filePath("etc1/orvelle/settings.reg").toStdString();
    system2_ = dir_.filePath("etc2/orvelle/settings.reg").toStdString();
    qputenv("ORVELLE_SETTINGS", QByteArray::fromStdString(user_));
    qputenv("XDG_CONFIG_DIRS", (dir_.filePath("etc1") + ":" + dir_.filePath("etc2")).toUtf8());
    qputenv("HOME", dir_.filePath("home").toUtf8());
    qunsetenv("XDG_DATA_HOME");
    recorder_.messages.clear();
  }

  void cleanupTestCase() { sink_.reset(); }

  void searchPath() {
    qputenv("XDG_CONFIG_DIRS", "/a:relative:/b/::/c");
    QCOMPARE(settings::SystemSettingsFilePaths(),
             (std::vector<std::string>{"/a/orvelle/settings.reg", "/b/orvelle/settings.reg",
                                       "/c/orvelle/settings.reg"}));
    qputenv("XDG_CONFIG_DIRS", "");
    QCOMPARE(settings::SystemSettingsFilePaths(),
             std::vector<std::string>{"/etc/xdg/orvelle/settings.reg"});
  }

  // The folders of $XDG_CONFIG_DIRS as written, but for trailing slashes, each once
  // for every time it is named, whatever the user's own folder is.
  void searchPathKeepsTheFolders_data() {
    QTest::addColumn<QByteArray>("dirs");
    QTest::addColumn<QByteArray>("configHome");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("named twice") << QByteArray("/a:/b:/a") << QByteArray("/a")
                                 << QStringList{"/a", "/b", "/a"};
    QTest::newRow("the root") << QByteArray("/") << QByteArray("") << QStringList{"/"};
    QTest::newRow("inner slashes")
        << QByteArray("/x//y//") << QByteArray("rel") << QStringList{"/x//y"};
    QTest::newRow("only separators") << QByteArray(":") << QByteArray("") << QStringList{};
  }
  void searchPathKeepsTheFolders() {
    QFETCH(QByteArray, dirs);
    QFETCH(QByteArray, configHome);
    QFETCH(QStringList, expected);
    qputenv("XDG_CONFIG_DIRS", dirs);
    qputenv("XDG_CONFIG_HOME", configHome);
    std::vector<std::string> files;
    for (const QString& folder : expected)
      files.push_back(folder.toStdString() + "/orvelle/settings.reg");
    QCOMPARE(settings::SystemSettingsFilePaths(), files);
    qunsetenv("XDG_CONFIG_HOME");
  }

  void fileRead_data() {
    QTest::addColumn<bool>("user");
    QTest::addColumn<bool>("first");
    QTest::addColumn<bool>("second");
    QTest::addColumn<QString>("expected");  // "user", "first", "second"
    QTest::newRow("only the user's") << true << false << false << "user";
    QTest::newRow("user's wins over both") << true << true << true << "user";
    QTest::newRow("first system-wide") << false << true << true << "first";
    QTest::newRow("second system-wide") << false << false << true << "second";
    QTest::newRow("none: the user's") << false << false << false << "user";
  }
  void fileRead() {
    QFETCH(bool, user);
    QFETCH(bool, first);
    QFETCH(bool, second);
    QFETCH(QString, expected);
    if (user) WriteFile(user_, FileMode("/from/user"));
    if (first) WriteFile(system1_, FileMode("/from/first"));
    if (second) WriteFile(system2_, FileMode("/from/second"));
    const std::string file = settings::SettingsFileToRead();
    QCOMPARE(file, expected == "user" ? user_ : expected == "first" ? system1_ : system2_);

    testsupport::KeptConfiguration c;
    bool keyMissing = false;
    const int read = settings::ReadSettings(c.session, &keyMissing);
    QCOMPARE(keyMissing, !user && !first && !second);
    if (!keyMissing) {
      QCOMPARE(read, 1);
      QCOMPARE(c.session.configurationDirectory, "/from/" + expected.toStdString());
    } else {
      QCOMPARE(recorder_.Ids(), std::vector<int>{61280});
    }
  }

  void expandFolder_data() {
    QTest::addColumn<QString>("xdgDataHome");  // "-" leaves it unset
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");  // "H" stands for the home folder
    QTest::newRow("tilde alone") << "-"
                                 << "~"
                                 << "H";
    QTest::newRow("tilde") << "-"
                           << "~/.local/share/orvelle/configuration"
                           << "H/.local/share/orvelle/configuration";
    QTest::newRow("another user's home is kept") << "-"
                                                 << "~bob/x"
                                                 << "~bob/x";
    QTest::newRow("$HOME") << "-"
                           << "$HOME/c"
                           << "H/c";
    QTest::newRow("${HOME}") << "-"
                             << "${HOME}/c"
                             << "H/c";
    QTest::newRow("$HOMEX is kept") << "-"
                                    << "$HOMEX/c"
                                    << "$HOMEX/c";
    QTest::newRow("data home unset") << "-"
                                     << "$XDG_DATA_HOME/orvelle/configuration"
                                     << "H/.local/share/orvelle/configuration";
    QTest::newRow("data home set") << "/data"
                                   << "${XDG_DATA_HOME}/orvelle"
                                   << "/data/orvelle";
    QTest::newRow("data home relative") << "rel"
                                        << "$XDG_DATA_HOME/o"
                                        << "H/.local/share/o";
    QTest::newRow("data home empty") << ""
                                     << "$XDG_DATA_HOME"
                                     << "H/.local/share";
    QTest::newRow("absolute") << "/data"
                              << "/srv/orvelle"
                              << "/srv/orvelle";
    QTest::newRow("relative") << "-"
                              << "conf/~"
                              << "conf/~";
    QTest::newRow("empty") << "-"
                           << ""
                           << "";
  }
  void expandFolder() {
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    if (xdgDataHome != "-") qputenv("XDG_DATA_HOME", xdgDataHome.toUtf8());
    const std::string home = dir_.filePath("home").toStdString();
    std::string want = expected.toStdString();
    if (!want.empty() && want[0] == 'H') want = home + want.substr(1);
    QCOMPARE(settings::ExpandFolder(value.toStdString()), want);
  }

  // ReadSettings gives the expanded folder, so a system-wide "~/..." means each user's.
  void readSettingsExpandsTheFolder() {
    WriteFile(system1_, FileMode("~/configuration"));
    testsupport::KeptConfiguration c;
    QCOMPARE(settings::ReadSettings(c.session), 1);
    QCOMPARE(c.session.configurationDirectory, dir_.filePath("home/configuration").toStdString());
  }

  void writingCopiesTheSystemFileFirst() {
    const std::string defaults = FileMode("$XDG_DATA_HOME/orvelle/configuration") +
                                 "; a comment the copy keeps\n\"Extra\"=dword:00000007\n";
    WriteFile(system1_, defaults);
    testsupport::KeptConfiguration c;
    c.session.directory.server.address = "dirhost";
    c.session.directory.server.port = 389;
    c.session.directory.subtreeDn = "cn=Orvelle Configuration, o=Sample";
    QVERIFY(!fs::exists(fs::path(user_).parent_path()));
    QCOMPARE(settings::WriteDirectorySettings(c.session), 1);
    QVERIFY(recorder_.messages.empty());

    QCOMPARE(ReadFile(system1_), defaults);  // untouched
    QCOMPARE(settings::SettingsFileToRead(), user_);
    const auto key = settings::OpenSettingsKey("Startup");
    QVERIFY(key);
    QCOMPARE(key->file(), user_);
    QCOMPARE(key->ReadString("Server Address").value_or(""), std::string("dirhost"));
    QCOMPARE(key->ReadDword("Server Port").value_or(0), 389u);
    QCOMPARE(key->ReadDword("Extra").value_or(0), 7u);
    QCOMPARE(key->ReadString("Configuration Directory").value_or(""),
             std::string("$XDG_DATA_HOME/orvelle/configuration"));
    QVERIFY(ReadFile(user_).find("; a comment the copy keeps") != std::string::npos);
  }

  // A user file that appears between opening and writing is the user's own: it is
  // written to as it is, not replaced by the copy of the system-wide file.
  void aUserFileThatAppearedIsKept() {
    WriteFile(system1_, FileMode("/system"));
    auto key = settings::OpenSettingsKey("Startup");
    QVERIFY(key);
    QCOMPARE(key->file(), system1_);
    WriteFile(user_, FileMode("/mine"));
    QVERIFY(key->WriteString("Server Address", "dirhost"));
    QCOMPARE(ReadFile(user_), FileMode("/mine") + "\"Server Address\"=\"dirhost\"\n");
    QCOMPARE(ReadFile(system1_), FileMode("/system"));
    QVERIFY(fs::is_empty(fs::path(user_).parent_path()) == false);
    for (const auto& e : fs::directory_iterator(fs::path(user_).parent_path()))
      QCOMPARE(e.path().filename().string(), std::string("settings.reg"));  // no temp left
  }

  // When the user's folder cannot be made, the write fails with 61284 and nothing
  // changes anywhere.
  void aUserFolderThatCannotBeMade() {
    WriteFile(system1_, FileMode("/system"));
    const std::string blocker = dir_.filePath("blocker").toStdString();
    WriteFile(blocker, "a file where a folder should be");
    qputenv("ORVELLE_SETTINGS", QByteArray::fromStdString(blocker + "/orvelle/settings.reg"));
    testsupport::KeptConfiguration c;
    c.session.directory.server.address = "dirhost";
    QCOMPARE(settings::WriteDirectorySettings(c.session), 0);
    QCOMPARE(recorder_.Ids(), std::vector<int>{61284});
    QCOMPARE(ReadFile(system1_), FileMode("/system"));
    QCOMPARE(ReadFile(blocker), std::string("a file where a folder should be"));
  }

  // A fresh account with only the defaults the package installs: start-up decides for
  // the wizard (not 61280); the wizard stores the configuration in the user's data
  // folder, creating it, and records the settings in the user's own new file.
  void firstStartOnAFreshAccount() {
    const std::string shipped = ReadFile(ORVELLE_SOURCE_DIR "/packaging/settings.reg");
    QVERIFY(!shipped.empty());
    WriteFile(system2_, shipped);
    const std::string folder =
        dir_.filePath("home/.local/share/orvelle/configuration").toStdString();

    ApplicationObject app;
    app.runWizard = RunSetupWizard;
    bool wizardRan = false;
    DriveWizard([&wizardRan](SetupWizard& w) {
      wizardRan = true;
      QTest::mouseClick(w.button(kIdNext), Qt::LeftButton);
      QVERIFY(w.GetActivePage()
                  ->window()
                  ->findChild<QRadioButton*>(ObjectName(kIdLocalFilesRadio))
                  ->isChecked());
      QTest::mouseClick(w.button(kIdNext), Qt::LeftButton);
      auto* list =
          w.GetActivePage()->window()->findChild<QListWidget*>(ObjectName(kIdServiceCheckList));
      QVERIFY(list);
      list->item(2)->setCheckState(Qt::Checked);
      QTest::mouseClick(w.button(kIdNext), Qt::LeftButton);
      QTest::mouseClick(w.button(kIdFinish), Qt::LeftButton);
    });
    QCOMPARE(RunStartup(app, {}), 0);
    QVERIFY(wizardRan);
    QVERIFY2(recorder_.messages.empty(),
             recorder_.messages.empty() ? "" : recorder_.messages[0].text.c_str());
    QCOMPARE(app.session.configurationDirectory, folder);
    QVERIFY(fs::exists(folder + "/RuleSet=BigFoot Directory"));

    QCOMPARE(ReadFile(system2_), shipped);
    auto key = settings::SettingsKey::Open(user_,
                                           "HKEY_LOCAL_MACHINE\\Software\\Merrowick\\"
                                           "Orvelle 3.0\\Startup");
    QVERIFY(key);
    QCOMPARE(key->ReadString("Startup Mode").value_or(""), std::string("file"));
    QCOMPARE(key->ReadString("Configuration Directory").value_or(""), folder);

    ApplicationObject next;
    ldapx::LoadOidtable(next.oidtable, kvaro::FindDataFile("oidtable32"));
    bool missing = true;
    QCOMPARE(LoadConfiguration(next, &missing), 1);
    QVERIFY(!missing);
    QCOMPARE(next.configuration.ruleSets.size(), app.configuration.ruleSets.size());
  }
};

QTEST_MAIN(SettingsFallbackTest)
#include "test_settingsfallback.moc"
