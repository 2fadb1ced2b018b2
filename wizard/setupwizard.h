// The first-run set-up wizard: where the configuration lives, the directory server,
// credentials, the subtree's parent entry and the search services to include; after
// Finish it builds rule sets and forms from the services' templates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "store/store.h"
#include "wizard/wizardframe.h"
#include "wizard/wizardpages.h"

namespace kvaro {
class Oidtable;
}
namespace ldapx {
class Connection;
}

// One checked search service.
struct SelectedService {
  int needsHost = 0;
  int needsBaseDn = 0;
  int serviceFlag = 0;
  std::string host;
  int port = 389;
  std::string baseDn;
  std::string displayName;
  std::string templateFile;
};

// The built-in search-service table: flags (ended by -1), display names and template
// file names (each ended by a null entry). Only the rows up to the flag -1 are offered.
extern const int kServiceFlags[];
extern const char* const kServiceNames[];
extern const char* const kServiceTemplates[];

// The needs of a service flag; false when the flag makes no record.
bool ServiceNeeds(int flag, int& needsHost, int& needsBaseDn);

class SetupWizard : public WizardFrame {
  Q_OBJECT
 public:
  // Indices of the pages other pages jump to.
  static constexpr int kLocationPage = 1;
  static constexpr int kServicesPage = 5;
  static constexpr int kServiceInfoPage = 6;
  static constexpr int kSummaryPage = 7;

  // `table` checks DNs and the names read from templates; it must outlive the wizard.
  explicit SetupWizard(const kvaro::Oidtable& table, QWidget* parent = nullptr);
  // The wizard for adding search services to a configuration that exists: it starts at
  // the services page (with no way back from it), asks for each chosen service's host
  // and base where the service needs them, and ends with the summary of the services.
  // GenerateConfiguration then builds their records as after the full wizard.
  void AddServicesOnly();
  bool addingServicesOnly() const { return addingServicesOnly_; }
  ~SetupWizard() override;

  // Builds generatedRuleSets and generatedForms from selectedServices, in list order.
  // Run once after the wizard ended with Finish. Every service is tried; the result holds
  // the problem of each service that contributed no rule set (see GenerateFromTemplate),
  // and a caller must not store a configuration built with problems: it would lack
  // those services.
  msg::Outcome GenerateConfiguration();
  // Appends what one service's template contributes: its rule set and that rule set's
  // forms. Contributes nothing and returns the problem when the template cannot be read
  // (62245, with the path and the system's reason) or has no usable "RuleSet" line
  // (61290, with the path).
  msg::Outcome GenerateFromTemplate(const SelectedService& service);

  const kvaro::Oidtable& table() const { return table_; }
  // The folder templates are read from; empty means the "Form Templates" data folder.
  std::string templateFolder;
  // The folder templates are read from, as found.
  std::string TemplateFolder() const;

  // Results.
  StartupMode startupMode = StartupMode::kFiles;
  // The directory: the host page's server (port 389 and StartTLS unless the administrator
  // chooses otherwise), the logon page's bind DN, password and connection, and the
  // subtree page's root DN.
  directory::Session directory{ldapx::ServerSettings{{}, 389, "starttls", {}, {}}, {}, {}, {}};
  // The subtree page found a configuration at directory.subtreeDn and the administrator chose to
  // replace it: Finish saves over it instead of adding a new root entry.
  bool replaceConfiguration = false;
  // The folder a configuration in local files goes to, set before the wizard runs; the
  // location page checks it for a configuration when local files are chosen (empty: no
  // check there).
  std::string configurationFolder;
  // How many "RuleSet=" files of configurationFolder the administrator agreed to replace
  // (see ConfirmReplacingFiles).
  size_t replaceFileCount = 0;
  // The limits of the connection checks and of the session.
  ldapx::Timeouts timeouts;
  int selectedServiceMask = 0;
  std::vector<std::unique_ptr<SelectedService>>* selectedServices = nullptr;
  // Position just after currentService in *selectedServices.
  size_t serviceCursor = 0;
  SelectedService* currentService = nullptr;
  std::vector<std::unique_ptr<RuleSet>> generatedRuleSets;
  std::vector<std::unique_ptr<SearchForm>> generatedForms;

  IntroPage introPage;
  LocationPage locationPage;
  HostPage hostPage;
  AuthPage authPage;
  SubtreePage subtreePage;
  ServicesPage servicesPage;
  ServiceInfoPage serviceInfoPage;
  SummaryPage summaryPage;

 private:
  const kvaro::Oidtable& table_;
  bool addingServicesOnly_ = false;
};

// Before a configuration is stored in `folder`: when the folder holds "RuleSet=" files
// and their number is not `agreed` (what the administrator already agreed to replace),
// asks whether the new configuration should replace them (62247, naming the folder and
// the number; Yes/No). True when nothing is in the way (no such files, the number agreed
// before, or Yes), with `agreed` set to the number found. False after No, or after 62248
// with the system's reason when the folder cannot be read. Never writes anything.
bool ConfirmReplacingFiles(const std::string& folder, size_t& agreed);

// The side picture of the wizard (110 x 226 pixels), painted at run time.
QPixmap WizardArtwork();
