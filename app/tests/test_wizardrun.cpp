// First run end to end: with settings that name no mode, start-up runs the set-up
// wizard (driven here page by page), stores the generated configuration in a real slapd
// or in local files, and records the settings; the next start loads exactly that.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "app/startup.h"
#include "app/wizardrun.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/files/templatefile.h"
#include "tests/support/modaldriver.h"
#include "tests/support/shownstore.h"
#include "tests/support/slapdfixture.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"

namespace fs = std::filesystem;

namespace {

const char* const kKeyPath = "HKEY_LOCAL_MACHINE\\Software\\Merrowick\\Orvelle 3.0\\Startup";

void WriteSettings(const std::string& file, const std::string& values) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "REGEDIT4\n\n[" << kKeyPath << "]\n"
                                                          << values;
}

std::unique_ptr<settings::SettingsKey> Key(const std::string& file) {
  return settings::SettingsKey::Open(file, kKeyPath);
}

// Each rule set's text with its forms, as the text format writes it: the configuration
// independent of the order a store gives back. Reading puts rules in the order of its
// passes (search rules before entry points) and the directory gives entries in its own
// order, so rule lines and form blocks are compared sorted.
std::vector<std::string> Texts(const Configuration& c) {
  std::vector<std::string> out;
  for (const auto& set : c.ruleSets) {
    std::string text;
    if (!RuleSetFileText(c, *set, text)) return {"check failed: " + set->name};
    const size_t split = text.find("\n\n");
    std::vector<std::string> ruleLines;
    std::string rules = text.substr(0, split);
    for (size_t at = 0; at <= rules.size();) {
      size_t end = rules.find('\n', at);
      if (end == std::string::npos) end = rules.size();
      ruleLines.push_back(rules.substr(at, end - at));
      at = end + 1;
    }
    std::sort(ruleLines.begin(), ruleLines.end());
    std::string normal;
    for (const auto& l : ruleLines) normal += l + "\n";
    // Forms come back in the store's order: compare them as a sorted list of blocks.
    std::vector<std::string> forms;
    const std::string formText =
        split == std::string::npos ? std::string() : text.substr(split + 2);
    for (size_t at = 0; at < formText.size();) {
      size_t end = formText.find("\nForm: ", at);
      end = end == std::string::npos ? formText.size() : end + 1;
      forms.push_back(formText.substr(at, end - at));
      at = end;
    }
    std::sort(forms.begin(), forms.end());
    for (const auto& f : forms) normal += f;
    out.push_back(normal);
  }
  std::sort(out.begin(), out.end());
  if (qEnvironmentVariableIsSet("WIZARDRUN_DUMP"))
    for (const auto& t : out) qDebug("%s\n----", t.c_str());
  return out;
}

// Drives the wizard once it is up: `steps` runs with the wizard; if it returns with the
// wizard still open (a failed check), the run is ended without Finish.
void DriveWizard(std::function<void(SetupWizard&)> steps) {
  testsupport::OnNextModalOf<SetupWizard>([steps](SetupWizard* wizard) {
    steps(*wizard);
    if (wizard->isVisible()) wizard->done(0);
  });
}

template <typename T>
T* Find(SetupWizard& w, int id) {
  return w.GetActivePage()->window()->findChild<T*>(QString::number(id));
}
void Type(SetupWizard& w, int id, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(w, id);
  QVERIFY(edit);
  edit->clear();
  QTest::keyClicks(edit, text);
}
void Press(SetupWizard& w, int id) { QTest::mouseClick(w.button(id), Qt::LeftButton); }
void Check(SetupWizard& w, std::initializer_list<int> rows) {
  auto* list = Find<QListWidget>(w, kIdServiceCheckList);
  QVERIFY(list);
  for (int row : rows) list->item(row)->setCheckState(Qt::Checked);
}

// The DN of every entry `c` is stored as below `root`, the root included.
std::vector<std::string> StoredDns(const Configuration& c, const std::string& root) {
  std::vector<std::string> dns{root};
  for (const auto& set : c.ruleSets) {
    const std::string setDn = "cn=" + set->name + "," + root;
    dns.push_back(setDn);
    for (const auto& rule : set->rules) dns.push_back("cn=" + rule->name + ", " + setDn);
  }
  for (const auto& form : c.searchForms) {
    const std::string formDn = "cn=" + form->name + "," + root;
    dns.push_back(formDn);
    std::vector<InputGroup*> groups{form->GetTargetGroup()};
    for (const auto& g : form->inputGroups) groups.push_back(g.get());
    for (InputGroup* g : groups) {
      const std::string groupDn = "cn=" + g->name + "," + formDn;
      dns.push_back(groupDn);
      for (const auto& f : g->fields) dns.push_back("cn=" + f->name + "," + groupDn);
    }
  }
  return dns;
}

}  // namespace

class WizardRunTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string settingsFile_;
  std::unique_ptr<testsupport::SlapdFixture> slapd_;
  msg::RecordingSink recorder_;
  std::unique_ptr<msg::ScopedSink> sink_;

  void LoadTable(ApplicationObject& app) {
    ldapx::LoadOidtable(app.oidtable, ORVELLE_SOURCE_DIR "/resources/oidtable32");
  }

  QString Host() const { return QString::fromStdString(slapd_->host()); }
  QString Port() const { return QString::number(slapd_->port()); }
  // From the services page: names the test server on the service information page (and
  // `base` as the search base when given), then Finish on the summary.
  void FinishWithTheTestServer(SetupWizard& w, const QString& base = {}) const {
    Press(w, kIdNext);
    QCOMPARE(w.currentIndex(), 6);
    Type(w, kIdServerHostEdit, Host());
    Type(w, kIdServerPortEdit, Port());
    if (!base.isEmpty()) Type(w, kIdServiceBaseEdit, base);
    Press(w, kIdNext);
    QCOMPARE(w.currentIndex(), 7);
    Press(w, kIdFinish);
  }

  // Location, host, credentials and subtree pages for the directory choice; `page` is
  // where Next on the subtree page leads.
  void DirectoryPages(SetupWizard& w, const QString& parent, int page = 5) {
    Press(w, kIdNext);
    QTest::mouseClick(Find<QRadioButton>(w, kIdDirectoryRadio), Qt::LeftButton);
    Press(w, kIdNext);
    Type(w, kIdServerHostEdit, Host());
    Type(w, kIdServerPortEdit, Port());
    Type(w, kIdCaFileEdit, QString::fromStdString(slapd_->caFile()));  // StartTLS by default
    Press(w, kIdNext);
    QCOMPARE(w.currentIndex(), 3);
    Type(w, kIdUserDnEdit, QString::fromStdString(slapd_->adminDn()));
    Type(w, kIdPasswordEdit, QString::fromStdString(slapd_->adminPassword()));
    Press(w, kIdNext);
    QCOMPARE(w.currentIndex(), 4);
    Type(w, kIdParentDnEdit, parent);
    Press(w, kIdNext);
    QCOMPARE(w.currentIndex(), page);
  }

 private slots:
  void initTestCase() {
    kvaro::SetProgramPath(QCoreApplication::applicationFilePath().toStdString());
    testsupport::SlapdFixture::Options options;
    options.tls = testsupport::SlapdFixture::Options::Tls::Trusted;
    slapd_ = std::make_unique<testsupport::SlapdFixture>(options);
    QVERIFY2(slapd_->ok(), slapd_->error().c_str());
    sink_ = std::make_unique<msg::ScopedSink>(&recorder_);
  }

  void init() {
    settingsFile_ = dir_.filePath("settings.reg").toStdString();
    WriteSettings(settingsFile_, "");
    qputenv("ORVELLE_SETTINGS", QByteArray::fromStdString(settingsFile_));
    qputenv("XDG_DATA_HOME", dir_.filePath("data").toUtf8());
    recorder_.messages.clear();
    recorder_.answer = msg::Answer::Ok;
  }

  void cleanupTestCase() {
    sink_.reset();
    slapd_.reset();
  }

  void firstRunIntoTheDirectory() {
    ApplicationObject app;
    app.runWizard = RunSetupWizard;
    DriveWizard([this](SetupWizard& w) {
      DirectoryPages(w, QString::fromStdString(slapd_->suffix()));
      Check(w, {0, 2});
      FinishWithTheTestServer(w, QStringLiteral("o=Sample"));
    });
    QCOMPARE(RunStartup(app, {}), 0);
    QVERIFY2(recorder_.messages.empty(),
             recorder_.messages.empty() ? "" : recorder_.messages[0].text.c_str());

    Configuration& c = app.configuration;
    QCOMPARE(c.ruleSets.size(), size_t(2));
    QCOMPARE(c.ruleSets[0]->name, std::string("Local Directory"));
    QCOMPARE(c.ruleSets[1]->name, std::string("BigFoot Directory"));
    QCOMPARE(app.session.startupMode, StartupMode::kDirectory);
    QVERIFY(app.session.directory.connection);
    const std::string root = "cn=Orvelle Configuration, o=Sample";
    QCOMPARE(app.session.directory.subtreeDn, root);
    QCOMPARE(c.ruleSets[0]->rules[0]->ldapUri,
             "ldap://" + slapd_->host() + ":" + std::to_string(slapd_->port()) + "/o=Sample");

    // The root entry and every generated entry are in the directory.
    auto conn = slapd_->Connect();
    QVERIFY(conn);
    const std::vector<std::string> dns = StoredDns(c, root);
    for (const std::string& dn : dns) {
      const auto r = conn->Search(dn, ldapx::Scope::Base, "(objectclass=*)", {"1.1"});
      QVERIFY2(r.code == ldapx::kSuccess && r.entries.size() == 1, dn.c_str());
    }
    const auto all = conn->Search(root, ldapx::Scope::Subtree, "(objectclass=*)", {"1.1"});
    QCOMPARE(all.entries.size(), dns.size());

    // The settings name the directory and where in it the configuration is.
    auto key = Key(settingsFile_);
    QVERIFY(key);
    QCOMPARE(key->ReadString("Startup Mode").value_or(""), std::string("directory"));
    QCOMPARE(key->ReadString("Server Address").value_or(""), slapd_->host());
    QCOMPARE(key->ReadDword("Server Port").value_or(0), uint32_t(slapd_->port()));
    QCOMPARE(key->ReadString("Configuration Subtree DN").value_or(""), root);
    QCOMPARE(key->ReadString("Server Security").value_or(""), std::string("starttls"));
    QCOMPARE(key->ReadString("CA Certificate File").value_or(""), slapd_->caFile());

    // The next start loads exactly this configuration.
    ApplicationObject next;
    LoadTable(next);
    next.loadFromDirectory = [this](ApplicationObject& a) {
      a.session.directory.connection = slapd_->Connect();
      return directory::LoadSubtree(a.configuration, a.session.directory.subtreeDn, a.oidtable,
                                    *a.session.directory.connection,
                                    testsupport::ShowAfter().Into())
                 ? 1
                 : 0;
    };
    bool missing = false;
    QCOMPARE(LoadConfiguration(next, &missing), 1);
    QVERIFY(!missing);
    QCOMPARE(next.session.startupMode, StartupMode::kDirectory);
    QCOMPARE(next.session.directory.server.address, slapd_->host());
    QCOMPARE(Texts(next.configuration), Texts(c));
    QVERIFY(recorder_.messages.empty());

    // A second set-up against the same parent: the subtree page finds the configuration
    // and asks whether to replace it. No keeps the page; nothing is stored or recorded.
    WriteSettings(settingsFile_, "");
    recorder_.messages.clear();
    recorder_.answer = msg::Answer::No;
    {
      ApplicationObject declined;
      declined.runWizard = RunSetupWizard;
      DriveWizard([this](SetupWizard& w) {
        DirectoryPages(w, QString::fromStdString(slapd_->suffix()), 4);
        QCOMPARE(Find<QLineEdit>(w, kIdParentDnEdit)->text(),
                 QString::fromStdString(slapd_->suffix()));
      });
      RunStartup(declined, {});
    }
    QCOMPARE(recorder_.Ids(), std::vector<int>{62228});
    QVERIFY(!Key(settingsFile_)->ReadString("Startup Mode"));
    const auto kept = conn->Search(root, ldapx::Scope::Subtree, "(objectclass=*)", {"1.1"});
    QCOMPARE(kept.entries.size(), dns.size());

    // Yes: Finish saves the new configuration over the stored one, which leaves exactly
    // the new configuration's entries, and records the settings.
    recorder_.messages.clear();
    recorder_.answer = msg::Answer::Yes;
    ApplicationObject again;
    again.runWizard = RunSetupWizard;
    DriveWizard([this](SetupWizard& w) {
      DirectoryPages(w, QString::fromStdString(slapd_->suffix()));
      Check(w, {2});
      Press(w, kIdNext);
      Press(w, kIdFinish);
    });
    QCOMPARE(RunStartup(again, {}), 0);
    QCOMPARE(recorder_.Ids(), std::vector<int>{62228});
    QCOMPARE(Key(settingsFile_)->ReadString("Startup Mode").value_or(""), std::string("directory"));
    QCOMPARE(again.configuration.ruleSets.size(), size_t(1));
    const std::vector<std::string> replaced = StoredDns(again.configuration, root);
    const auto after = conn->Search(root, ldapx::Scope::Subtree, "(objectclass=*)", {"1.1"});
    QCOMPARE(after.entries.size(), replaced.size());
    for (const std::string& dn : replaced) {
      const auto r = conn->Search(dn, ldapx::Scope::Base, "(objectclass=*)", {"1.1"});
      QVERIFY2(r.code == ldapx::kSuccess && r.entries.size() == 1, dn.c_str());
    }
    // Nothing of the save is left beside the root.
    const auto beside = conn->Search(slapd_->suffix(), ldapx::Scope::OneLevel,
                                     "(cn=Orvelle Configuration*)", {"1.1"});
    QCOMPARE(beside.entries.size(), size_t(1));
  }

  // Settings that name the directory, but not a configuration the program can load: the
  // wizard starts on the directory choice, with the server the settings name.
  void settingsNamingTheDirectoryPreselectIt() {
    WriteSettings(settingsFile_,
                  "\"Startup Mode\"=\"ldap\"\n\"Configuration Subtree DN\"=\"cn=x\"\n"
                  "\"Server Address\"=\"dirhost.example\"\n\"Server Port\"=dword:0000027c\n");
    ApplicationObject app;
    app.runWizard = RunSetupWizard;
    bool directoryChecked = false;
    QString host, port;
    int security = -1;
    DriveWizard([&](SetupWizard& w) {
      Press(w, kIdNext);
      directoryChecked = Find<QRadioButton>(w, kIdDirectoryRadio)->isChecked();
      Press(w, kIdNext);
      QCOMPARE(w.currentIndex(), 2);
      host = Find<QLineEdit>(w, kIdServerHostEdit)->text();
      port = Find<QLineEdit>(w, kIdServerPortEdit)->text();
      security = Find<QComboBox>(w, kIdSecurityCombo)->currentIndex();
    });
    QCOMPARE(RunStartup(app, {}), 0);
    QVERIFY(directoryChecked);
    QCOMPARE(host, QStringLiteral("dirhost.example"));
    QCOMPARE(port, QStringLiteral("636"));
    // The settings say nothing of security: StartTLS, not plain text.
    QCOMPARE(security, int(ldapx::Security::StartTls));
  }

  void firstRunIntoLocalFiles() {
    ApplicationObject app;
    app.runWizard = RunSetupWizard;
    DriveWizard([this](SetupWizard& w) {
      Press(w, kIdNext);
      QVERIFY(Find<QRadioButton>(w, kIdLocalFilesRadio)->isChecked());
      Press(w, kIdNext);
      QCOMPARE(w.currentIndex(), 5);
      Check(w, {1, 2});
      FinishWithTheTestServer(w);
    });
    QCOMPARE(RunStartup(app, {}), 0);
    QVERIFY2(recorder_.messages.empty(),
             recorder_.messages.empty() ? "" : recorder_.messages[0].text.c_str());
    const std::string folder = dir_.filePath("data/orvelle/configuration").toStdString();
    QCOMPARE(app.session.configurationDirectory, folder);
    QVERIFY(fs::exists(folder + "/RuleSet=NameFlow Directory"));
    QVERIFY(fs::exists(folder + "/RuleSet=BigFoot Directory"));
    QVERIFY(!app.session.directory.connection);

    auto key = Key(settingsFile_);
    QCOMPARE(key->ReadString("Startup Mode").value_or(""), std::string("file"));
    QCOMPARE(key->ReadString("Configuration Directory").value_or(""), folder);
    QVERIFY(!key->ReadString("Server Address"));

    ApplicationObject next;
    LoadTable(next);
    bool missing = false;
    QCOMPARE(LoadConfiguration(next, &missing), 1);
    QCOMPARE(next.session.startupMode, StartupMode::kFiles);
    QCOMPARE(Texts(next.configuration), Texts(app.configuration));
    QCOMPARE(next.configuration.searchForms.size(), app.configuration.searchForms.size());
  }

  void localFilesGoWhereTheSettingsSay() {
    const std::string folder = dir_.filePath("chosen/place").toStdString();
    WriteSettings(settingsFile_, "\"Configuration Directory\"=\"" + folder + "\"\n");
    ApplicationObject app;
    app.runWizard = RunSetupWizard;
    DriveWizard([](SetupWizard& w) {
      Press(w, kIdNext);
      Press(w, kIdNext);
      Check(w, {2});
      Press(w, kIdNext);
      Press(w, kIdFinish);
    });
    QCOMPARE(RunStartup(app, {}), 0);
    QVERIFY(fs::exists(folder + "/RuleSet=BigFoot Directory"));
    QCOMPARE(Key(settingsFile_)->ReadString("Startup Mode").value_or(""), std::string("file"));
    QCOMPARE(Key(settingsFile_)->ReadString("Configuration Directory").value_or(""), folder);
  }

  // A folder whose "RuleSet=" files give no search form loads as no configuration, so
  // the wizard runs over it; its files are replaced only when the administrator says so,
  // asked before anything is written: on the location page for files already there, at
  // Finish for files that turned up after that page.
  void filesInTheFolderAreReplacedOnlyWhenAgreed_data() {
    QTest::addColumn<bool>("before");  // the files are there when the wizard starts
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("there before, No") << true << false << 0;
    QTest::newRow("there before, Yes") << true << true << 0;
    QTest::newRow("turned up later, No") << false << false << 1;
    QTest::newRow("turned up later, Yes") << false << true << 0;
  }
  void filesInTheFolderAreReplacedOnlyWhenAgreed() {
    QFETCH(bool, before);
    QFETCH(bool, yes);
    QFETCH(int, exitCode);
    QTemporaryDir here;
    const std::string folder = here.filePath("configuration").toStdString();
    fs::create_directories(folder);
    const auto kept = [](const std::string& name) {
      return "RuleSet: " + name + "\nClass: Person : person\n";
    };
    auto putFiles = [&] {
      std::ofstream(folder + "/RuleSet=Kept") << kept("Kept");
      std::ofstream(folder + "/RuleSet=Also Kept") << kept("Also Kept");
    };
    if (before) putFiles();
    const std::string settingsBefore =
        "\"Startup Mode\"=\"file\"\n\"Configuration Directory\"=\"" + folder + "\"\n";
    WriteSettings(settingsFile_, settingsBefore);
    recorder_.answer = yes ? msg::Answer::Yes : msg::Answer::No;

    ApplicationObject app;
    app.runWizard = RunSetupWizard;
    DriveWizard([&](SetupWizard& w) {
      Press(w, kIdNext);
      QVERIFY(Find<QRadioButton>(w, kIdLocalFilesRadio)->isChecked());
      Press(w, kIdNext);
      if (before && !yes) {
        QCOMPARE(w.currentIndex(), 1);  // the page stays; nothing was chosen or written
        return;
      }
      QCOMPARE(w.currentIndex(), 5);
      if (!before) putFiles();
      Check(w, {2});
      Press(w, kIdNext);
      Press(w, kIdFinish);
    });
    QCOMPARE(RunStartup(app, {}), exitCode);

    QCOMPARE(recorder_.Ids(), std::vector<int>{62247});
    const std::string& question = recorder_.messages[0].text;
    QVERIFY2(question.find("'" + folder + "'") != std::string::npos, question.c_str());
    QVERIFY2(question.find("configuration files: 2") != std::string::npos, question.c_str());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::ifstream settingsFile(settingsFile_);
    const std::string settingsNow{std::istreambuf_iterator<char>(settingsFile), {}};
    if (yes) {
      QCOMPARE(names, std::vector<std::string>{"RuleSet=BigFoot Directory"});
      QCOMPARE(Key(settingsFile_)->ReadString("Startup Mode").value_or(""), std::string("file"));
    } else {
      QCOMPARE(names, (std::vector<std::string>{"RuleSet=Also Kept", "RuleSet=Kept"}));
      for (const std::string& name : names) {
        std::ifstream file(folder + "/" + name);
        QCOMPARE(std::string(std::istreambuf_iterator<char>(file), {}),
                 kept(name.substr(std::string("RuleSet=").size())));
      }
      QVERIFY2(settingsNow.find(settingsBefore) != std::string::npos, settingsNow.c_str());
    }
  }

  // A chosen service whose template is missing: nothing is stored over the existing
  // configuration (in the directory after "replace?" Yes, in a folder whose files the
  // administrator agreed to replace), no settings are written, and the run fails after
  // saying why.
  void missingTemplateStoresNothing_data() {
    QTest::addColumn<bool>("inDirectory");
    QTest::newRow("directory") << true;
    QTest::newRow("local files") << false;
  }
  void missingTemplateStoresNothing() {
    QFETCH(bool, inDirectory);
    auto conn = slapd_->Connect();
    QVERIFY(conn);
    const std::string parent = "ou=Missing Templates,o=Sample";
    const std::string root = "cn=Orvelle Configuration, " + parent;
    const int added = conn->Add(parent, ldapx::ModList()
                                            .Add("objectClass", {"organizationalUnit"})
                                            .Add("ou", {"Missing Templates"}));
    QVERIFY(added == ldapx::kSuccess || added == 68);  // already there from an earlier row
    QTemporaryDir here;
    const std::string folder = here.filePath("configuration").toStdString();
    const std::string templates = here.filePath("Form Templates").toStdString();
    fs::create_directories(templates);

    std::vector<std::unique_ptr<SelectedService>> services;
    auto service = std::make_unique<SelectedService>();
    service->serviceFlag = kServiceFlags[2];
    ServiceNeeds(service->serviceFlag, service->needsHost, service->needsBaseDn);
    service->templateFile = kServiceTemplates[2];
    services.push_back(std::move(service));
    // One wizard run's result, stored; true when StoreWizardResult says it stored it.
    auto store = [&](const std::string& templateFolder, bool replace) {
      ApplicationObject app;
      LoadTable(app);
      SetupWizard w(app.oidtable);
      w.templateFolder = templateFolder;
      w.selectedServices = &services;
      w.startupMode = inDirectory ? StartupMode::kDirectory : StartupMode::kFiles;
      w.configurationFolder = folder;
      w.replaceFileCount = replace ? 1 : 0;
      w.directory.server.address = slapd_->host();
      w.directory.server.port = slapd_->port();
      w.directory.server.security = "none";
      w.directory.connection = slapd_->Connect();
      w.directory.subtreeDn = root;
      w.replaceConfiguration = replace;
      return StoreWizardResult(app, w);
    };
    auto stored = [&] {
      std::vector<std::string> out;
      if (inDirectory) {
        for (const auto& e :
             conn->Search(root, ldapx::Scope::Subtree, "(objectclass=*)", {"1.1"}).entries)
          out.push_back(e.dn);
      } else {
        for (const auto& entry : fs::directory_iterator(folder)) {
          std::ifstream file(entry.path());
          out.push_back(entry.path().filename().string() + "\n" +
                        std::string(std::istreambuf_iterator<char>(file), {}));
        }
      }
      std::sort(out.begin(), out.end());
      return out;
    };

    const bool there =
        inDirectory ? conn->Search(root, ldapx::Scope::Base, "(objectclass=*)", {"1.1"}).code ==
                          ldapx::kSuccess
                    : false;
    QVERIFY(store(ORVELLE_SOURCE_DIR "/resources/Form Templates", there));
    const std::vector<std::string> before = stored();
    QVERIFY(!before.empty());
    WriteSettings(settingsFile_, "");
    recorder_.messages.clear();

    QVERIFY(!store(templates, true));
    QCOMPARE(recorder_.Ids(), (std::vector<int>{62245, 62246}));
    const std::string path = templates + "/" + kServiceTemplates[2];
    QVERIFY2(recorder_.messages[0].text.find(path) != std::string::npos,
             recorder_.messages[0].text.c_str());
    QVERIFY2(recorder_.messages[0].text.find(std::strerror(ENOENT)) != std::string::npos,
             recorder_.messages[0].text.c_str());
    QCOMPARE(stored(), before);
    QVERIFY(!Key(settingsFile_)->ReadString("Startup Mode"));
  }

  void defaultFolderWithoutXdg() {
    qunsetenv("XDG_DATA_HOME");
    qputenv("HOME", "/home/someone");
    QCOMPARE(DefaultConfigurationDirectory(),
             std::string("/home/someone/.local/share/orvelle/configuration"));
    qputenv("XDG_DATA_HOME", "/data");
    QCOMPARE(DefaultConfigurationDirectory(), std::string("/data/orvelle/configuration"));
  }
};

QTEST_MAIN(WizardRunTest)
#include "test_wizardrun.moc"
