#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "app/startup.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "store/files/templatefile.h"
#include "tests/support/shownstore.h"
#include "tests/support/testfiles.h"

Q_DECLARE_METATYPE(StartupMode)

namespace fs = std::filesystem;

using testsupport::ReadFile;

namespace {

const char* const kKey = "[HKEY_LOCAL_MACHINE\\Software\\Merrowick\\Orvelle 3.0\\Startup]\n";

}  // namespace

class TestSettings : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string file_;

  void UseSettings(const std::string& text) {
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << text;
  }

 private slots:
  void init() {
    file_ = dir_.filePath("settings.reg").toStdString();
    fs::remove(file_);
    qputenv("ORVELLE_SETTINGS", QByteArray::fromStdString(file_));
  }

  void defaultPathFollowsXdg() {
    qputenv("ORVELLE_SETTINGS", "");
    qputenv("XDG_CONFIG_HOME", "/some/where");
    QCOMPARE(settings::SettingsFilePath(), std::string("/some/where/orvelle/settings.reg"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/me");
    QCOMPARE(settings::SettingsFilePath(), std::string("/home/me/.config/orvelle/settings.reg"));
    qputenv("ORVELLE_SETTINGS", QByteArray::fromStdString(file_));
    QCOMPARE(settings::SettingsFilePath(), file_);
  }

  // The user's own folders of the XDG rules. "-" leaves a variable unset.
  void userBaseDirectory_data() {
    QTest::addColumn<bool>("config");  // else the data folder
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("expected");
    QTest::newRow("config: XDG") << true << QByteArray("/some/where") << QByteArray("/home/me")
                                 << "/some/where";
    QTest::newRow("config: XDG without home")
        << true << QByteArray("/some/where/") << QByteArray("-") << "/some/where/";
    QTest::newRow("config: home") << true << QByteArray("-") << QByteArray("/home/me")
                                  << "/home/me/.config";
    QTest::newRow("config: relative XDG")
        << true << QByteArray("conf") << QByteArray("/home/me") << "conf";
    QTest::newRow("config: no home") << true << QByteArray("") << QByteArray("-") << ".config";
    QTest::newRow("data: XDG") << false << QByteArray("/data") << QByteArray("/home/me") << "/data";
    QTest::newRow("data: home") << false << QByteArray("") << QByteArray("/home/me")
                                << "/home/me/.local/share";
    QTest::newRow("data: relative XDG") << false << QByteArray("data") << QByteArray("") << "data";
    QTest::newRow("data: no home") << false << QByteArray("-") << QByteArray("") << ".";
  }
  void userBaseDirectory() {
    QFETCH(bool, config);
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, expected);
    const auto set = [](const char* name, const QByteArray& value) {
      if (value == "-")
        qunsetenv(name);
      else
        qputenv(name, value);
    };
    set(config ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME", xdg);
    set("HOME", home);
    const auto folder = config ? settings::UserFolder::kConfig : settings::UserFolder::kData;
    QCOMPARE(QString::fromStdString(settings::UserBaseDirectory(folder, config ? ".config" : ".")),
             expected);
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
  }

  // The start-up values: the mode and what it needs. A value a row leaves out (a null
  // text, a port of -1) is not looked at.
  void readSettings_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::addColumn<StartupMode>("mode");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("dn");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("security");
    QTest::addColumn<QString>("caFile");
    const auto text = [](const char* head, const char* values) {
      return QString::fromStdString(std::string(head) + kKey + values);
    };
    const QString unread;
    QTest::newRow("file mode reads the folder")
        << text("REGEDIT4\n\n",
                "\"Startup Mode\"=\"file\"\n"
                "\"Configuration Directory\"=\"C:\\\\Orvelle \\\"Config\\\"\"\n")
        << 1 << StartupMode::kFiles << "C:\\Orvelle \"Config\"" << unread << unread << -1 << unread
        << unread;
    // Written before connections could be encrypted: plain text, no CA file.
    QTest::newRow("only lower-case file selects file mode")
        << text("REGEDIT4\n",
                "\"Startup Mode\"=\"File\"\n\"Configuration Subtree DN\"=\"cn=Orvelle "
                "Configuration, o=Sample\"\n\"Server Address\"=\"dirhost\"\n"
                "\"Server Port\"=dword:00000185\n")
        << 1 << StartupMode::kDirectory << unread << "cn=Orvelle Configuration, o=Sample"
        << "dirhost" << 389 << "none"
        << "";
    QTest::newRow("connection security")
        << text("REGEDIT4\n",
                "\"Startup Mode\"=\"ldap\"\n\"Configuration Subtree DN\"=\"cn=x\"\n"
                "\"Server Address\"=\"dirhost\"\n\"Server Port\"=dword:0000027c\n"
                "\"Server Security\"=\"ldaps\"\n\"CA Certificate File\"=\"/etc/orvelle/ca.pem\"\n")
        << 1 << StartupMode::kDirectory << unread << "cn=x"
        << "dirhost" << 636 << "ldaps"
        << "/etc/orvelle/ca.pem";
    QTest::newRow("a port as text fails after the earlier values")
        << text("REGEDIT4\r\n",
                "\"Startup Mode\"=\"ldap\"\r\n\"Configuration Subtree DN\"=\"cn=x\"\r\n"
                "\"Server Address\"=\"dirhost\"\r\n\"Server Port\"=\"389\"\r\n")
        << 0 << StartupMode::kDirectory << unread << "cn=x"
        << "dirhost" << 0 << unread << unread;
    QTest::newRow("a missing mode fails")
        << text("REGEDIT4\n", "\"Configuration Directory\"=\"/x\"\n") << 0 << StartupMode::kFiles
        << "" << unread << unread << -1 << unread << unread;
  }
  void readSettings() {
    QFETCH(QString, text);
    QFETCH(int, result);
    QFETCH(StartupMode, mode);
    QFETCH(QString, folder);
    QFETCH(QString, dn);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, security);
    QFETCH(QString, caFile);
    UseSettings(text.toStdString());
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    bool keyMissing = true;
    QCOMPARE(settings::ReadSettings(c.session, &keyMissing), result);
    // The key is there: whatever is wrong below it is not worth a message.
    QVERIFY(!keyMissing);
    QCOMPARE(sink.Ids(), std::vector<int>{});
    QCOMPARE(c.session.startupMode, mode);
    const auto check = [](const std::string& value, const QString& expected) {
      return expected.isNull() || value == expected.toStdString();
    };
    QVERIFY2(check(c.session.configurationDirectory, folder),
             c.session.configurationDirectory.c_str());
    QVERIFY2(check(c.session.directory.subtreeDn, dn), c.session.directory.subtreeDn.c_str());
    QVERIFY2(check(c.session.directory.server.address, address),
             c.session.directory.server.address.c_str());
    if (port >= 0) QCOMPARE(c.session.directory.server.port, port);
    QVERIFY2(check(c.session.directory.server.security, security),
             c.session.directory.server.security.c_str());
    QVERIFY2(check(c.session.directory.server.caCertificateFile, caFile),
             c.session.directory.server.caCertificateFile.c_str());
  }

  // Only a port a server can listen on is read; any other value counts as missing (a
  // corrupt ffffffff became port -1, which connected to the default port instead).
  void serverPortOutsideTheRangeIsNotRead_data() {
    QTest::addColumn<QString>("dword");
    QTest::addColumn<int>("read");
    QTest::addColumn<int>("port");
    QTest::newRow("zero") << "00000000" << 0 << 0;
    QTest::newRow("lowest") << "00000001" << 1 << 1;
    QTest::newRow("highest") << "0000ffff" << 1 << 65535;
    QTest::newRow("one too many") << "00010000" << 0 << 0;
    QTest::newRow("all bits set") << "ffffffff" << 0 << 0;
  }
  void serverPortOutsideTheRangeIsNotRead() {
    QFETCH(QString, dword);
    QFETCH(int, read);
    QFETCH(int, port);
    UseSettings(std::string("REGEDIT4\n") + kKey +
                "\"Startup Mode\"=\"ldap\"\n\"Configuration Subtree DN\"=\"cn=x\"\n"
                "\"Server Address\"=\"dirhost\"\n\"Server Port\"=dword:" +
                dword.toStdString() + "\n");
    testsupport::KeptConfiguration c;
    QCOMPARE(settings::ReadSettings(c.session), read);
    QCOMPARE(c.session.directory.server.port, port);
  }

  // The two limits may lengthen the waits, never shorten them; missing or non-dword
  // values keep the defaults.
  void connectionLimits_data() {
    QTest::addColumn<QString>("values");
    QTest::addColumn<int>("connect");
    QTest::addColumn<int>("operation");
    QTest::newRow("none") << "" << 10 << 30;
    QTest::newRow("longer") << "\"Connect Timeout\"=dword:0000003c\n"
                               "\"Operation Timeout\"=dword:00000078\n"
                            << 60 << 120;
    QTest::newRow("shorter ignored") << "\"Connect Timeout\"=dword:00000001\n"
                                        "\"Operation Timeout\"=dword:00000000\n"
                                     << 10 << 30;
    QTest::newRow("text ignored") << "\"Connect Timeout\"=\"60\"\n" << 10 << 30;
    QTest::newRow("capped at a day") << "\"Operation Timeout\"=dword:ffffffff\n" << 10 << 86400;
  }
  void connectionLimits() {
    QFETCH(QString, values);
    QFETCH(int, connect);
    QFETCH(int, operation);
    UseSettings(std::string("REGEDIT4\n") + kKey + "\"Startup Mode\"=\"ldap\"\n" +
                values.toStdString());
    const settings::ConnectionLimits limits = settings::ReadConnectionLimits();
    QCOMPARE(limits.connectSeconds, connect);
    QCOMPARE(limits.operationSeconds, operation);
  }

  void aMissingKeyOrFileAsksForAReinstall() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    bool keyMissing = false;
    QCOMPARE(settings::ReadSettings(c.session, &keyMissing), 0);  // no file at all
    QVERIFY(keyMissing);
    UseSettings(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Merrowick\\Orvelle 3.0\\Other]\n"
        "\"Startup Mode\"=\"file\"\n");
    QCOMPARE(settings::ReadSettings(c.session, &keyMissing), 0);
    QVERIFY(keyMissing);
    QCOMPARE(sink.Ids(), (std::vector<int>{61280, 61280}));
    QVERIFY(!settings::OpenSettingsKey(""));
  }

  void keysOpenComponentByComponent() {
    UseSettings("REGEDIT4\n[hkey_local_machine\\SOFTWARE\\Merrowick\\Orvelle 3.0\\Startup\\Sub]\n");
    QVERIFY(settings::OpenSettingsKey("Startup"));  // exists as the parent of Sub
    QVERIFY(settings::OpenSettingsKey("startup"));
    QVERIFY(!settings::OpenSettingsKey("Start"));
    QVERIFY(!settings::SettingsKey::Open(file_, "HKEY_LOCAL_MACHINE\\\\Software"));
  }

  void writesReplaceOrAddValuesAndKeepTheRest() {
    const std::string original = std::string("REGEDIT4\n\n; installed\n") + kKey +
                                 "\"Startup Mode\"=\"ldap\"\n\"Server Address\"=\"old\"\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"Keep\"=\"me\"\n";
    UseSettings(original);
    testsupport::KeptConfiguration c;
    c.session.directory.server.address = "new \"host\"\\x";
    c.session.directory.server.port = 636;
    c.session.directory.subtreeDn = "cn=Orvelle Configuration, o=Sample";
    c.session.directory.server.security = "starttls";
    c.session.directory.server.caCertificateFile = "/etc/orvelle/ca.pem";
    QCOMPARE(settings::WriteDirectorySettings(c.session), 1);
    const std::string text = ReadFile(file_);
    QVERIFY(text.find("; installed") != std::string::npos);
    QVERIFY(text.find("\"Keep\"=\"me\"") != std::string::npos);
    QVERIFY(text.find("\"old\"") == std::string::npos);
    QVERIFY(text.find("\"Server Port\"=dword:0000027c") != std::string::npos);
    QVERIFY(text.find("\"Server Port\"") < text.find("[HKEY_LOCAL_MACHINE\\Software\\Other]"));
    testsupport::KeptConfiguration back;
    QCOMPARE(settings::ReadSettings(back.session), 1);
    QCOMPARE(back.session.directory.server.address, c.session.directory.server.address);
    QCOMPARE(back.session.directory.server.port, 636);
    QCOMPARE(back.session.directory.subtreeDn, c.session.directory.subtreeDn);
    QCOMPARE(back.session.directory.server.security, std::string("starttls"));
    QCOMPARE(back.session.directory.server.caCertificateFile,
             c.session.directory.server.caCertificateFile);
    // No temporary file is left beside the settings.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path().toStdString()))
      ++files;
    QCOMPARE(files, 1);
  }

  void aFailedWriteNamesTheValueAndStops() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration c;
    c.session.directory.server.address = "h";
    QCOMPARE(settings::WriteDirectorySettings(c.session), 0);  // no key: nothing can be written
    QCOMPARE(sink.Ids(), (std::vector<int>{61284}));
    QVERIFY(sink.messages[0].text.find("Value: Server Address") != std::string::npos);
    QVERIFY(!fs::exists(file_));  // the key is never created

    UseSettings(std::string("REGEDIT4\n") + kKey);
    auto key = settings::OpenSettingsKey("Startup");
    QVERIFY(key);
    const uint32_t port = 389;
    const auto portBytes = std::as_bytes(std::span(&port, 1));
    QCOMPARE(
        settings::WriteSetting(key.get(), "Server Port", settings::kRegDword, portBytes.first(2)),
        0);
    QCOMPARE(settings::WriteSetting(key.get(), "Server Port", settings::kRegDword, portBytes), 1);
    QCOMPARE(*key->ReadDword("server port"), uint32_t(389));
    QVERIFY(!key->ReadString("Server Port"));
  }

  void noconnSwitch() {
    QCOMPARE(ParseNoConnect({"/NOCONN"}), 1);
    QCOMPARE(ParseNoConnect({"-noConn"}), 1);
    QCOMPARE(ParseNoConnect({"noconn"}), 0);
    QCOMPARE(ParseNoConnect({"/noconnx", "file.txt", "--noconn", "/"}), 0);
    QCOMPARE(ParseNoConnect({"config.txt", "/noconn"}), 1);
    QCOMPARE(ParseNoConnect({}), 0);
  }

  void startupOpensTheEditorOnALoadedConfiguration() {
    QTemporaryDir config;
    std::ofstream(config.filePath("RuleSet=S").toStdString())
        << "RuleSet: S\nClass: P : person\nForm: F\nFormFieldGroup: G : P\nFormField: N : cn\n";
    UseSettings(std::string("REGEDIT4\n") + kKey + "\"Startup Mode\"=\"file\"\n" +
                "\"Configuration Directory\"=" + settings::QuoteValue(config.path().toStdString()) +
                "\n");
    ApplicationObject app;
    int editorRuns = 0;
    app.runEditor = [&](ApplicationObject& a) {
      ++editorRuns;
      return a.configuration.searchForms.size() == 1 ? 7 : 8;
    };
    app.runWizard = [](ApplicationObject&) { return 9; };
    // Started from another folder, the attribute table is still found.
    const fs::path cwd = fs::current_path();
    fs::current_path(config.path().toStdString());
    const int code = RunStartup(app, {"-NoConn"});
    fs::current_path(cwd);
    QCOMPARE(code, 7);
    QCOMPARE(editorRuns, 1);
    QCOMPARE(app.NoConnectFlag, 1);
    QVERIFY(app.oidtable.str2oc("person"));
  }

  void startupRunsTheWizardWhenNothingLoads() {
    QTemporaryDir config;  // empty folder: no configuration
    UseSettings(std::string("REGEDIT4\n") + kKey + "\"Startup Mode\"=\"file\"\n" +
                "\"Configuration Directory\"=" + settings::QuoteValue(config.path().toStdString()) +
                "\n");
    ApplicationObject app;
    app.runEditor = [](ApplicationObject&) { return 7; };
    app.runWizard = [](ApplicationObject&) { return 9; };
    QCOMPARE(RunStartup(app, {}), 9);
    QCOMPARE(app.NoConnectFlag, 0);

    // Directory mode: the directory loader decides.
    UseSettings(std::string("REGEDIT4\n") + kKey +
                "\"Startup Mode\"=\"ldap\"\n\"Configuration Subtree DN\"=\"cn=x\"\n"
                "\"Server Address\"=\"h\"\n\"Server Port\"=dword:00000185\n");
    ApplicationObject dirApp;
    int loads = 0;
    dirApp.loadFromDirectory = [&](ApplicationObject&) { return ++loads; };
    dirApp.runEditor = [](ApplicationObject&) { return 7; };
    QCOMPARE(RunStartup(dirApp, {}), 7);
    QCOMPARE(loads, 1);
  }

  // Cancel in the logon dialog comes back to main as a value: neither the editor nor the
  // wizard runs, and the program ends with status 0 through the destructors.
  void startupEndsWhenTheLogonIsCancelled() {
    UseSettings(std::string("REGEDIT4\n") + kKey +
                "\"Startup Mode\"=\"ldap\"\n\"Configuration Subtree DN\"=\"cn=x\"\n"
                "\"Server Address\"=\"h\"\n\"Server Port\"=dword:00000185\n");
    ApplicationObject app;
    int loads = 0, others = 0;
    app.loadFromDirectory = [&](ApplicationObject&) {
      ++loads;
      return kLoadCancelled;
    };
    app.runEditor = [&](ApplicationObject&) { return ++others, 7; };
    app.runWizard = [&](ApplicationObject&) { return ++others, 9; };
    QCOMPARE(RunStartup(app, {}), 0);
    QCOMPARE(loads, 1);
    QCOMPARE(others, 0);
  }

  // A configuration that is there but cannot be read is never replaced by the wizard's:
  // the program names the file and ends.
  void startupEndsWhenAConfigurationFileCannotBeRead() {
    QTemporaryDir config;
    const std::string huge = config.filePath("RuleSet=Huge").toStdString();
    std::ofstream(huge) << "RuleSet: Huge\n";
    fs::resize_file(huge, kMaxRuleSetFileSize + 1);  // sparse: no disk space used
    UseSettings(std::string("REGEDIT4\n") + kKey + "\"Startup Mode\"=\"file\"\n" +
                "\"Configuration Directory\"=" + settings::QuoteValue(config.path().toStdString()) +
                "\n");
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    ApplicationObject app;
    app.runEditor = [](ApplicationObject&) { return 7; };
    app.runWizard = [](ApplicationObject&) { return 9; };
    QCOMPARE(RunStartup(app, {}), 1);
    QCOMPARE(sink.Ids(), std::vector<int>{62167});
    QVERIFY(sink.messages[0].text.find(huge) != std::string::npos);
  }

  void startupWithoutTheKeyEndsWithCodeOne() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    ApplicationObject app;
    bool ran = false;
    app.runWizard = [&](ApplicationObject&) {
      ran = true;
      return 0;
    };
    QCOMPARE(RunStartup(app, {}), 1);
    QVERIFY(!ran);
    QCOMPARE(sink.Ids(), (std::vector<int>{61280}));
  }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
