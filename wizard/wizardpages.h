// The pages of the set-up wizard, in page order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "wizard/controlids.h"
#include "wizard/wizardframe.h"

class SetupWizard;
struct SelectedService;
class QButtonGroup;
class QFont;

// A page of the set-up wizard: reads and writes the wizard's result fields.
class SetupPage : public WizardPage {
 public:
  using WizardPage::WizardPage;

 protected:
  SetupWizard& wizard() const;
};

// Page 0: what to do before starting.
class IntroPage : public SetupPage {
 public:
  IntroPage() : SetupPage(kIdIntroPage) {}
  bool OnSetActive() override;

 protected:
  void InitWindow(QWidget* window) override;
};

// Page 1: configuration in the directory or in local files.
class LocationPage : public SetupPage {
 public:
  LocationPage() : SetupPage(kIdLocationPage) {}
  bool OnSetActive() override;
  int OnWizardNext() override;

  int directoryFlag = 0;
  int localFlag = 1;

 protected:
  void InitWindow(QWidget* window) override;

 private:
  void OnDirectoryClicked();
  void OnLocalClicked();
};

// Page 2: directory host and port, checked by a connection test.
class HostPage : public SetupPage {
 public:
  HostPage() : SetupPage(kIdHostPage) {}
  bool OnSetActive() override;
  int OnWizardNext() override;

 protected:
  void InitWindow(QWidget* window) override;
};

// Page 3: bind DN and password, checked by a bind whose connection is kept.
class AuthPage : public SetupPage {
 public:
  AuthPage() : SetupPage(kIdAuthPage) {}
  bool OnSetActive() override;
  int OnWizardNext() override;

 protected:
  void InitWindow(QWidget* window) override;
};

// Page 4: the parent entry of the configuration subtree.
class SubtreePage : public SetupPage {
 public:
  SubtreePage() : SetupPage(kIdSubtreePage) {}
  bool OnSetActive() override;
  int OnWizardNext() override;

 protected:
  void InitWindow(QWidget* window) override;
};

// Page 5: the search services to include. Owns the list of chosen services.
class ServicesPage : public SetupPage {
 public:
  ServicesPage();
  ~ServicesPage() override;
  bool OnSetActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

  std::vector<std::unique_ptr<SelectedService>> services;

 protected:
  void InitWindow(QWidget* window) override;
};

// Page 6: host, port and base DN of one chosen service; shown once per service that
// needs them.
class ServiceInfoPage : public SetupPage {
 public:
  ServiceInfoPage() : SetupPage(kIdServiceInfoPage, QSize(203, 135)) {}
  bool OnSetActive() override;
  bool Validate() override;
  int OnWizardNext() override;
  int OnWizardBack() override;

  // The service the page shows (set by OnSetActive).
  SelectedService* shown = nullptr;

 protected:
  void InitWindow(QWidget* window) override;
};

// Page 7: the chosen services; offers Finish.
class SummaryPage : public SetupPage {
 public:
  SummaryPage() : SetupPage(kIdSummaryPage) {}
  bool OnSetActive() override;
  int OnWizardBack() override;
  bool OnWizardFinish() override;

  // The summary text as built for the window, with "\r\n" line ends.
  std::string summaryText;

 protected:
  void InitWindow(QWidget* window) override;
};

// `font` in the bold weight (700).
QFont BoldFont(const QFont& font);

// The host page's word for `security` ("None", "StartTLS", "LDAPS"), in the order of its
// choices, which follows ldapx::Security.
const char* SecurityChoice(ldapx::Security security);
