#include "wizard/setupwizard.h"

#include <cstdlib>
#include <cstring>

#include "platform/ldap/ldapclient.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "store/files/templatefile.h"

const int kServiceFlags[] = {1, 2, 4, -1};
const char* const kServiceNames[] = {
    "Local Directory Service",
    "NameFlow Directory",
    "BigFoot Internet Directory Service",
    "Four 11",
    "Switchboard Internet Directory Service",
    "VeriSign Internet Directory Service",
    "InfoSpace Internet Directory Service",
    "WhoWhere Internet Directory Service",
    "Yahoo! People Search",
    nullptr,
};
const char* const kServiceTemplates[] = {
    "local.tpl",    "nameflow.tpl", "bigfoot.tpl",  "four11.tpl", "switchboard.tpl",
    "verisign.tpl", "infospace",    "whowhere.tpl", "yahoo.tpl",  nullptr,
};

bool ServiceNeeds(int flag, int& needsHost, int& needsBaseDn) {
  switch (flag) {
    case 1:
      needsHost = 1;
      needsBaseDn = 1;
      return true;
    case 2:
      needsHost = 1;
      needsBaseDn = 0;
      return true;
    case 4:
    case 8:
    case 32:
    case 64:
    case 128:
    case 256:
    case 512:
      needsHost = 0;
      needsBaseDn = 0;
      return true;
    default:
      return false;
  }
}

SetupWizard::SetupWizard(const kvaro::Oidtable& table, QWidget* parent)
    : WizardFrame(parent), table_(table) {
  sideBitmap()->setPixmap(WizardArtwork());
  for (WizardPage* page : std::initializer_list<WizardPage*>{&introPage, &locationPage, &hostPage,
                                                             &authPage, &subtreePage, &servicesPage,
                                                             &serviceInfoPage, &summaryPage}) {
    AddPage(page);
  }
}

void SetupWizard::AddServicesOnly() {
  addingServicesOnly_ = true;
  firstPage_ = kServicesPage;
}

SetupWizard::~SetupWizard() {
  // The pages are members of this class and are gone before the frame's destructor runs.
  DestroyPages();
}

msg::Outcome SetupWizard::GenerateConfiguration() {
  msg::Outcome outcome;
  if (!selectedServices) return outcome;
  for (const auto& service : *selectedServices) {
    msg::Outcome one = GenerateFromTemplate(*service);
    outcome.problems.insert(outcome.problems.end(), one.problems.begin(), one.problems.end());
  }
  return outcome;
}

std::string SetupWizard::TemplateFolder() const {
  return templateFolder.empty() ? kvaro::FindDataFile("Form Templates") : templateFolder;
}

msg::Outcome SetupWizard::GenerateFromTemplate(const SelectedService& service) {
  const std::string path = TemplateFolder() + "/" + service.templateFile;
  std::string text;
  int error = 0;
  switch (ReadRegularFile(path, text, error)) {
    case FileRead::Ok:
      break;
    case FileRead::NotRegular:
      return msg::Problem{62245, {path, msg::Text(62249)}, msg::Icon::Error};
    case FileRead::Failed:
      return msg::Problem{62245, {path, std::strerror(error)}, msg::Icon::Error};
  }

  std::vector<std::string> extraLines;
  if (service.needsHost == 1) {
    const std::string base = service.needsBaseDn == 1 ? service.baseDn : std::string();
    extraLines.push_back("Base: Root : " +
                         ldapx::MakeUrl("ldap", service.host, service.port, base));
  }

  Configuration temporary;
  TemplateReader reader(temporary, table_);
  reader.ReadText(text, extraLines);

  RuleSet* kept = reader.cursors().ruleSet;
  if (!kept) return msg::Problem{61290, {path}, msg::Icon::Error};
  // Only the forms of the kept rule set come along: a form of a discarded rule set would
  // point at a rule set that no longer exists.
  std::vector<SearchForm*> forms = temporary.FormsUsing(kept);
  generatedRuleSets.push_back(temporary.DetachRuleSet(kept));
  for (SearchForm* form : forms) generatedForms.push_back(temporary.DetachForm(form));
  return {};
}

bool ConfirmReplacingFiles(const std::string& folder, size_t& agreed) {
  size_t count = 0;
  if (const int error = CountRuleSetFiles(folder, count)) {
    msg::Show(62248, {folder, std::strerror(error)}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  if (count != 0 && count != agreed &&
      msg::Show(62247, {folder, std::to_string(count)}, msg::Buttons::YesNo) != msg::Answer::Yes)
    return false;
  agreed = count;
  return true;
}
