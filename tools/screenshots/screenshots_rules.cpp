#include "tools/screenshots/screenshots_rules.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>
#include <memory>

#include "editor/addobjectclassdialog.h"
#include "editor/addruledialog.h"
#include "editor/childruledialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/rulepanel.h"
#include "editor/rulesetpanel.h"
#include "editor/startpointdialog.h"
#include "model/configuration.h"
#include "tools/screenshots/screenshotgrab.h"

using shots::Grab;
using shots::SetText;

void AddRuleScreenshots(std::vector<RuleShot>& shots, const kvaro::Oidtable& table) {
  Configuration configuration;
  auto owned = std::make_unique<RuleSet>("White Pages");
  RuleSet* ruleSet = owned.get();
  configuration.ruleSets.push_back(std::move(owned));
  const std::vector<SearchRule*> none;
  SearchRule person(ruleSet, "Person", none,
                    std::vector<std::string>{"person", "organizationalPerson"});
  SearchRule organization(ruleSet, "Organisation", none, std::vector<std::string>{"o"});
  SearchRule country(ruleSet, "Country", none, std::string("ldap://ldap.example.org/c=US"));
  ruleSet->AddRule(&person);
  ruleSet->AddRule(&organization);
  ruleSet->AddRule(&country);
  SearchRule* storedCountry = ruleSet->FindRule("Country");
  SearchRule* storedPerson = ruleSet->FindRule("Person");
  storedCountry->AddSearchableRule(storedPerson);
  storedPerson->AddSearchableRule(ruleSet->FindRule("Organisation"));

  {
    AddRuleDialog dialog(table);
    SetText(dialog, kIdAddRuleNameEdit, "Person");
    dialog.SetObjectClasses({"organizationalPerson", "person"});
    shots.emplace_back("add-rule-search-rule", Grab(dialog));
  }
  {
    AddRuleDialog dialog(table);
    SetText(dialog, kIdAddRuleNameEdit, "Country");
    if (auto* radio = dialog.findChild<QRadioButton*>(ObjectName(kIdAddRuleEntryPointRadio)))
      radio->click();
    SetText(dialog, kIdSearchBaseEdit, "c=US");
    SetText(dialog, kIdHostEdit, "ldap.example.org");
    SetText(dialog, kIdPortEdit, "389");
    shots.emplace_back("add-rule-entry-point", Grab(dialog));
  }
  {
    AddObjectClassDialog dialog(table);
    SetText(dialog, kIdNameEdit, "person");
    shots.emplace_back("add-object-class", Grab(dialog));
  }
  {
    ChildRuleDialog dialog({"Organisation", "Person"});
    shots.emplace_back("add-child-search-rule", Grab(dialog));
  }
  {
    StartPointDialog dialog(storedCountry->ldapUri, table);
    shots.emplace_back("set-start-point", Grab(dialog));
  }

  QWidget window;
  auto* tree = new CConfigTree(configuration, table, &window);
  tree->Fill();
  {
    CRuleSetPanel panel(tree, ruleSet, nullptr);
    shots.emplace_back("rule-set-panel", Grab(panel, QSize(480, 320)));
  }
  {
    CRulePanel panel(storedPerson, ruleSet, table, nullptr);
    shots.emplace_back("rule-panel-search-rule", Grab(panel, QSize(480, 420)));
  }
  {
    CRulePanel panel(storedCountry, ruleSet, table, nullptr);
    shots.emplace_back("rule-panel-entry-point", Grab(panel, QSize(480, 420)));
  }
}

std::vector<QString> WriteRuleScreenshots(const QString& folder, const kvaro::Oidtable& table) {
  std::vector<RuleShot> shots;
  AddRuleScreenshots(shots, table);
  QDir().mkpath(folder);
  std::vector<QString> written;
  for (const auto& [stem, image] : shots) {
    const QString path = QDir(folder).filePath(stem + ".png");
    if (image.save(path, "PNG")) written.push_back(path);
  }
  return written;
}
