// Building rule sets and forms from the chosen services' templates, and the shipped
// templates themselves.
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "platform/ldap/ldapclient.h"
#include "platform/support/linereader.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "platform/support/qstringlist.h"
#include "store/files/templatefile.h"
#include "wizard/setupwizard.h"
#include "wizard/tests/wizardtestutil.h"

namespace {

std::unique_ptr<SelectedService> Service(int row, std::string host = "", int port = 389,
                                         std::string base = "") {
  auto s = std::make_unique<SelectedService>();
  s->serviceFlag = kServiceFlags[row];
  ServiceNeeds(s->serviceFlag, s->needsHost, s->needsBaseDn);
  s->displayName = kServiceNames[row];
  s->templateFile = kServiceTemplates[row];
  s->host = std::move(host);
  s->port = port;
  s->baseDn = std::move(base);
  return s;
}

struct Generator {
  Generator() : sink(&recorder), wizard(wiztest::Table()) {
    wizard.templateFolder = wiztest::TemplateFolder();
    wizard.selectedServices = &services;
  }
  void Run() { wizard.GenerateConfiguration(); }
  msg::RecordingSink recorder;
  msg::ScopedSink sink;
  SetupWizard wizard;
  std::vector<std::unique_ptr<SelectedService>> services;
};

void WriteFile(const QString& path, const std::string& text) {
  std::ofstream out(path.toStdString());
  out << text;
}

}  // namespace

class GenerationTest : public QObject {
  Q_OBJECT
 private slots:
  void localServiceGetsItsRootEntryPoint() {
    Generator g;
    g.services.push_back(Service(0, "dir", 389, "o=Sample"));
    g.Run();
    QVERIFY(g.recorder.messages.empty());
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    RuleSet& set = *g.wizard.generatedRuleSets[0];
    QCOMPARE(set.name, std::string("Local Directory"));
    QVERIFY(set.rules.size() > 1);
    SearchRule& root = *set.rules[0];
    QCOMPARE(root.name, std::string("Root"));
    QCOMPARE(root.ruleType, RuleTypeEntryPoint);
    QCOMPARE(root.ldapUri, std::string("ldap://dir:389/o=Sample"));
    // Root reaches the template's rules: its SearchRule line found the extra entry point.
    QVERIFY(root.searchableRules.size() >= 2);
    QVERIFY(!g.wizard.generatedForms.empty());
    for (const auto& form : g.wizard.generatedForms) QCOMPARE(form->ruleSet, &set);
  }

  void nameFlowHasNoBaseDn() {
    Generator g;
    g.services.push_back(Service(1, "nf.example.net", 1389, "o=Ignored"));
    g.Run();
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    SearchRule& root = *g.wizard.generatedRuleSets[0]->rules[0];
    QCOMPARE(root.name, std::string("Root"));
    QCOMPARE(root.ldapUri, std::string("ldap://nf.example.net:1389/"));
  }

  void bigFootReadsWithoutExtraLine() {
    Generator g;
    g.services.push_back(Service(2, "ignored", 1, "o=Ignored"));
    g.Run();
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    RuleSet& set = *g.wizard.generatedRuleSets[0];
    QCOMPARE(set.name, std::string("BigFoot Directory"));
    // The entry point is the template's own; nothing of the service's values went in.
    SearchRule* root = set.FindRule("Root");
    QVERIFY(root);
    QCOMPARE(root->ldapUri, std::string("ldap://ldap.bigfoot.com:389/"));
    for (const auto& rule : set.rules) QVERIFY(rule->ldapUri.find("ignored") == std::string::npos);
  }

  void twoServicesInTheOrderPicked() {
    Generator g;
    g.services.push_back(Service(2));
    g.services.push_back(Service(0, "h", 389, "o=Sample"));
    g.Run();
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(2));
    RuleSet* first = g.wizard.generatedRuleSets[0].get();
    RuleSet* second = g.wizard.generatedRuleSets[1].get();
    QCOMPARE(first->name, std::string("BigFoot Directory"));
    QCOMPARE(second->name, std::string("Local Directory"));
    // The first template's forms come before the second's.
    auto& forms = g.wizard.generatedForms;
    QVERIFY(forms.size() >= 2);
    size_t i = 0;
    while (i < forms.size() && forms[i]->ruleSet == first) ++i;
    QVERIFY(i > 0);
    for (; i < forms.size(); ++i) QCOMPARE(forms[i]->ruleSet, second);
  }

  // A chosen service whose template cannot be used is an error that names the template
  // and why, not a service left out without a word; generation shows nothing itself and
  // still tries the other services, so that every problem is told at once.
  void unusableTemplateIsAnError_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing" << 62245 << QString(std::strerror(ENOENT));
    QTest::newRow("a folder") << "folder" << 62245 << QString::fromStdString(msg::Text(62249));
    QTest::newRow("a FIFO, never waited on")
        << "fifo" << 62245 << QString::fromStdString(msg::Text(62249));
    QTest::newRow("no RuleSet line") << "no rule set" << 61290 << QString();
    QTest::newRow("empty") << "empty" << 61290 << QString();
  }
  void unusableTemplateIsAnError() {
    QFETCH(QString, kind);
    QFETCH(int, id);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QString::fromStdString(wiztest::TemplateFolder()) + "/bigfoot.tpl",
                        dir.filePath("bigfoot.tpl")));
    const QString path = dir.filePath("local.tpl");
    if (kind == "folder") QVERIFY(QDir(dir.path()).mkdir("local.tpl"));
    if (kind == "fifo") QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0644), 0);
    if (kind == "no rule set") WriteFile(path, "# nothing here\nClass: Person : person\n");
    if (kind == "empty") WriteFile(path, "");

    Generator g;
    g.wizard.templateFolder = dir.path().toStdString();
    g.services.push_back(Service(0, "h", 389, ""));
    g.services.push_back(Service(2));
    const msg::Outcome outcome = g.wizard.GenerateConfiguration();
    QVERIFY(g.recorder.messages.empty());
    QCOMPARE(outcome.Ids(), std::vector<int>{id});
    const std::string text = msg::Text(id, outcome.problems[0].args);
    if (id == 61290) {
      QCOMPARE(text, "Failed to read form from template file '" + path.toStdString() + "'!");
    } else {
      QVERIFY2(text.find("'" + path.toStdString() + "'") != std::string::npos, text.c_str());
      QVERIFY2(text.find(reason.toStdString()) != std::string::npos, text.c_str());
    }
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    QCOMPARE(g.wizard.generatedRuleSets[0]->name, std::string("BigFoot Directory"));
    for (const auto& form : g.wizard.generatedForms)
      QCOMPARE(form->ruleSet, g.wizard.generatedRuleSets[0].get());
  }

  void formsOfADiscardedRuleSetAreNotKept() {
    // Two rule sets in one file: only the last one is kept, and a form made while the
    // first was current must not come along pointing at a destroyed rule set.
    QTemporaryDir dir;
    WriteFile(dir.filePath("bigfoot.tpl"),
              "RuleSet: First\nClass: Person : person\nForm: First Form\n"
              "FormFieldGroup : People : Person\nFormField: Name : sn\n"
              "RuleSet: Second\nForm: Second Form\nFormFieldGroup : People : Person\n"
              "FormField: Name : sn\n");
    Generator g;
    g.wizard.templateFolder = dir.path().toStdString();
    g.services.push_back(Service(2));
    g.Run();
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    RuleSet* kept = g.wizard.generatedRuleSets[0].get();
    for (const auto& form : g.wizard.generatedForms) QCOMPARE(form->ruleSet, kept);
  }

  // The entry point's URL gives back the host, port and base DN as they were entered: a
  // base DN with "?" was cut, an IPv6 host gave an unusable URL.
  void hostAndBaseDnComeBackFromTheUrl_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("base");
    QTest::newRow("blanks and ampersand") << "h"
                                          << "ou=R&D, o=Sample";
    QTest::newRow("question mark") << "h"
                                   << "o=A?b, c=US";
    QTest::newRow("percent sign") << "h"
                                  << "o=100%";
    QTest::newRow("IPv6 host") << "::1"
                               << "o=Sample";
  }
  void hostAndBaseDnComeBackFromTheUrl() {
    QFETCH(QString, host);
    QFETCH(QString, base);
    Generator g;
    g.services.push_back(Service(0, host.toStdString(), 10389, base.toStdString()));
    g.Run();
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    const auto url = ldapx::ParseUrl(g.wizard.generatedRuleSets[0]->rules[0]->ldapUri);
    QVERIFY(url);
    QCOMPARE(QString::fromStdString(url->host), host);
    QCOMPARE(url->port, 10389);
    QCOMPARE(QString::fromStdString(url->dn), base);
  }

  // Every shipped template is usable as it stands: every name it uses is known to the
  // attribute table, every rule set passes its check, every form has a target group
  // with fields, and the names do not clash in the directory layout.
  void shippedTemplatesAreComplete_data() {
    QTest::addColumn<int>("row");
    QTest::newRow("local") << 0;
    QTest::newRow("nameflow") << 1;
    QTest::newRow("bigfoot") << 2;
  }
  void shippedTemplatesAreComplete() {
    QFETCH(int, row);
    const std::string path = wiztest::TemplateFolder() + "/" + kServiceTemplates[row];
    kvaro::LineReader file(path);
    QVERIFY(file.IsOpen());
    std::string line;
    int classLines = 0;
    int fieldLines = 0;
    while (file.ReadExtendedString(line)) {
      kvaro::QStringList pieces;
      const std::string_view trimmed = kvaro::Trim(line);
      if (trimmed.empty() || trimmed[0] == '#') continue;
      pieces.SetSplitString(trimmed, ':');
      if (pieces[0] == "Class" || pieces[0] == "FormField") {
        QCOMPARE(pieces.size(), size_t(3));
        kvaro::QStringList names;
        names.SetSplitString(pieces[2], ',');
        for (const std::string& n : names) {
          const bool known = pieces[0] == "Class" ? wiztest::Table().str2oc(n) != nullptr
                                                  : wiztest::Table().str2at(n) != nullptr;
          QVERIFY2(known, (pieces[0] + " name unknown: " + n).c_str());
        }
        ++(pieces[0] == "Class" ? classLines : fieldLines);
      }
      if (pieces[0] == "FormTipString" || pieces[0] == "FormHelpString") {
        QVERIFY2(pieces.size() == 2, ("a text with a colon: " + line).c_str());
      }
    }
    QVERIFY(classLines > 0);
    QVERIFY(fieldLines > 0);

    Generator g;
    g.services.push_back(Service(row, "h", 389, "o=Sample"));
    g.Run();
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(1));
    RuleSet& set = *g.wizard.generatedRuleSets[0];
    QCOMPARE(int(set.rules.size()), classLines + 1);
    QVERIFY(set.Check());
    QVERIFY(set.FindRule("Root"));
    QVERIFY(!set.FindRule("Root")->searchableRules.empty());
    QVERIFY(g.wizard.generatedForms.size() >= 1);
    std::set<std::string> names{set.name};
    int fields = 0;
    for (const auto& form : g.wizard.generatedForms) {
      QVERIFY(form->Check());
      QVERIFY(!form->toolTip.empty());
      QVERIFY(!form->helpString.empty());
      QVERIFY(names.insert(form->name).second);
      std::vector<InputGroup*> groups{form->GetTargetGroup()};
      for (const auto& group : form->inputGroups) groups.push_back(group.get());
      for (InputGroup* group : groups) {
        QVERIFY(group->Check());
        QVERIFY(group->searchRule);
        for (const auto& field : group->fields) {
          QVERIFY(field->Check());
          ++fields;
        }
      }
    }
    QCOMPARE(fields, fieldLines);
    QVERIFY(g.recorder.messages.empty());
  }

  void shippedTemplateNamesDoNotClash() {
    // Rule sets and forms of every service share one level of the directory subtree.
    Generator g;
    for (int row = 0; row < 3; ++row) g.services.push_back(Service(row, "h", 389, ""));
    g.Run();
    std::set<std::string> names;
    for (const auto& set : g.wizard.generatedRuleSets) QVERIFY(names.insert(set->name).second);
    for (const auto& form : g.wizard.generatedForms) QVERIFY(names.insert(form->name).second);
    QCOMPARE(g.wizard.generatedRuleSets.size(), size_t(3));
  }
};

QTEST_MAIN(GenerationTest)
#include "test_generation.moc"
