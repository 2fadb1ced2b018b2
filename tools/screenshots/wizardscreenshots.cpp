#include "tools/screenshots/wizardscreenshots.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>

#include "wizard/setupwizard.h"

namespace {

const char* const kNames[] = {"wizard_0_intro",       "wizard_1_location", "wizard_2_host",
                              "wizard_3_credentials", "wizard_4_subtree",  "wizard_5_services",
                              "wizard_6_serviceinfo", "wizard_7_summary"};

void SampleServices(SetupWizard& w) {
  auto& list = w.servicesPage.services;
  list.clear();
  for (int row : {0, 1}) {
    auto s = std::make_unique<SelectedService>();
    s->serviceFlag = kServiceFlags[row];
    ServiceNeeds(s->serviceFlag, s->needsHost, s->needsBaseDn);
    s->displayName = kServiceNames[row];
    s->templateFile = kServiceTemplates[row];
    list.push_back(std::move(s));
  }
  list[0]->host = "ldap.example.com";
  list[0]->baseDn = "o=Example";
  w.selectedServices = &list;
  w.selectedServiceMask = 3;
  w.currentService = list[0].get();
  w.serviceCursor = 1;
}

}  // namespace

std::vector<std::string> WizardShotNames() { return {std::begin(kNames), std::end(kNames)}; }

std::unique_ptr<SetupWizard> MakeWizardShot(const std::string& name, const kvaro::Oidtable& table) {
  int page = -1;
  for (int i = 0; i < 8; ++i) {
    if (name == kNames[i]) page = i;
  }
  if (page < 0) return nullptr;
  auto w = std::make_unique<SetupWizard>(table);
  w->startupMode = page >= 2 && page <= 4 ? StartupMode::kDirectory : StartupMode::kFiles;
  w->directory.server.address = "ldap.example.com";
  w->directory.server.bindDn = "cn=Directory Manager, o=Example";
  w->directory.password = "password";
  if (page >= 6) SampleServices(*w);
  w->show();
  w->ShowPage(page);
  WizardPage* active = w->GetActivePage();
  if (page == 4) {
    active->Control<QLineEdit>(kIdParentDnEdit)->setText(QStringLiteral("o=Example"));
  } else if (page == 5) {
    auto* list = active->Control<QListWidget>(kIdServiceCheckList);
    list->item(0)->setCheckState(Qt::Checked);
    list->item(2)->setCheckState(Qt::Checked);
  }
  return w;
}

int RenderWizardScreenshots(const std::string& folder, const kvaro::Oidtable& table) {
  QDir().mkpath(QString::fromStdString(folder));
  int written = 0;
  for (const std::string& name : WizardShotNames()) {
    std::unique_ptr<SetupWizard> w = MakeWizardShot(name, table);
    QApplication::processEvents();
    const QString path = QString::fromStdString(folder + "/" + name + ".png");
    if (w && w->grab().save(path)) ++written;
  }
  return written;
}
