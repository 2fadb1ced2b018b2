#include "tools/screenshots/screenshots_forms.h"

#include <QDir>
#include <QLineEdit>
#include <QTreeWidget>
#include <QWidget>
#include <memory>

#include "editor/addfilterattributedialog.h"
#include "editor/addinputfielddialog.h"
#include "editor/addinputgroupdialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/formpanel.h"
#include "editor/inputfieldpanel.h"
#include "editor/inputgrouppanel.h"
#include "model/configuration.h"
#include "tools/screenshots/screenshotgrab.h"

using shots::Grab;
using shots::SetText;

void AddFormScreenshots(std::vector<FormShot>& shots, const kvaro::Oidtable& table) {
  Configuration configuration;
  auto owned = std::make_unique<RuleSet>("White Pages");
  RuleSet* ruleSet = owned.get();
  configuration.ruleSets.push_back(std::move(owned));
  const std::vector<SearchRule*> none;
  SearchRule person(ruleSet, "Person", none,
                    std::vector<std::string>{"person", "organizationalPerson"});
  SearchRule organization(ruleSet, "Organisation", none, std::vector<std::string>{"o"});
  ruleSet->AddRule(&person);
  ruleSet->AddRule(&organization);

  auto ownedTarget = std::make_unique<InputGroup>("People", ruleSet->FindRule("Person"));
  InputGroup* target = ownedTarget.get();
  target->AddField("Name", "", {"cn", "sn"});
  auto where = std::make_unique<InputGroup>("Where", ruleSet->FindRule("Organisation"));
  where->AddField("Organisation", "", {"o"});
  auto ownedContact = std::make_unique<InputGroup>("Contact", ruleSet->FindRule("Person"));
  InputGroup* contact = ownedContact.get();
  contact->AddField("Email", "", {"mail"});
  contact->AddField("Surname", "", {"sn"});
  configuration.searchForms.push_back(
      std::make_unique<SearchForm>("Find a person", ruleSet, std::move(ownedTarget)));
  SearchForm* form = configuration.searchForms.back().get();
  form->AddInputGroup(std::move(where));
  form->AddInputGroup(std::move(ownedContact));

  {
    AddFilterAttributeDialog dialog(table);
    SetText(dialog, kIdNameEdit, "mail");
    shots.emplace_back("add-filter-attribute", Grab(dialog));
  }
  {
    AddInputGroupDialog dialog({"Person", "Organisation"});
    SetText(dialog, kIdNameEdit, "Contact");
    shots.emplace_back("add-form-input-group", Grab(dialog));
  }
  {
    AddInputFieldDialog dialog(table);
    dialog.name = "Email";
    dialog.defaultValue = "";
    dialog.filterAttributes = {"mail", "cn"};
    dialog.showResults();
    shots.emplace_back("add-form-group-field", Grab(dialog));
  }

  QWidget window;
  auto* tree = new CConfigTree(configuration, table, &window);
  tree->Fill();
  {
    CFormPanel panel(tree, form, nullptr);
    shots.emplace_back("form-panel", Grab(panel, QSize(480, 320)));
  }
  {
    CInputGroupPanel panel(tree, contact, nullptr);
    shots.emplace_back("input-group-panel", Grab(panel, QSize(480, 320)));
  }
  {
    CInputFieldPanel panel(target->FindField("Name"), table, nullptr);
    shots.emplace_back("input-field-panel", Grab(panel, QSize(480, 320)));
  }
}

std::vector<QString> WriteFormScreenshots(const QString& folder, const kvaro::Oidtable& table) {
  std::vector<FormShot> shots;
  AddFormScreenshots(shots, table);
  QDir().mkpath(folder);
  std::vector<QString> written;
  for (const auto& [stem, image] : shots) {
    const QString path = QDir(folder).filePath(stem + ".png");
    if (image.save(path, "PNG")) written.push_back(path);
  }
  return written;
}
