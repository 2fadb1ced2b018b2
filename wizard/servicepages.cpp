// Pages 5 to 7: the search services, their information and the summary.
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "platform/ldap/dncheck.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/messages.h"
#include "platform/support/qstringlist.h"
#include "wizard/connectiontest.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"
#include "wizard/updowncontrol.h"
#include "wizard/wizardpages.h"

namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QLabel* Static(QWidget* parent, int id, std::string_view text, bool wrap = true) {
  auto* label = new QLabel(Q(text), parent);
  if (id > 0) label->setObjectName(ObjectName(id));
  label->setWordWrap(wrap);
  label->setTextFormat(Qt::PlainText);
  return label;
}

bool NeedsInformation(const SelectedService& s) { return s.needsHost != 0 || s.needsBaseDn != 0; }

}  // namespace

// ---- Page 5 ----------------------------------------------------------------------------

ServicesPage::ServicesPage() : SetupPage(kIdServicesPage) {}
ServicesPage::~ServicesPage() = default;

void ServicesPage::InitWindow(QWidget* window) {
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 8);
  layout->setSpacing(8);
  layout->addWidget(Static(window, kIdServicesText,
                           "Please select the search services that you'd like Orvelle to "
                           "access. "));
}

bool ServicesPage::OnSetActive() {
  // Adding services to a configuration that exists begins here.
  wizard().SetButtons(wizard().addingServicesOnly() ? kWizNext : kWizBack | kWizNext);
  // The list is made afresh on every visit: earlier checks are not shown again. It fills
  // the page below the text, 8 pixels from it and from the page's bottom edge.
  auto* list = new QListWidget(window());
  list->setObjectName(ObjectName(kIdServiceCheckList));
  list->setFrameShape(QFrame::StyledPanel);
  list->setFrameShadow(QFrame::Sunken);
  list->setFont(window()->font());
  static_cast<QVBoxLayout*>(window()->layout())->addWidget(list, 1);
  for (int row = 0; kServiceFlags[row] != -1; ++row) {
    auto* item = new QListWidgetItem(QString::fromUtf8(kServiceNames[row]), list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(Qt::UserRole, kServiceFlags[row]);
  }
  list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  list->show();
  list->setFocus(Qt::OtherFocusReason);
  return true;
}

int ServicesPage::OnWizardNext() {
  SetupWizard& w = wizard();
  services.clear();
  int mask = 0;
  auto* list = Control<QListWidget>(kIdServiceCheckList);
  for (int i = 0; list && i < list->count(); ++i) {
    if (list->item(i)->checkState() != Qt::Checked) continue;
    const int flag = list->item(i)->data(Qt::UserRole).toInt();
    auto service = std::make_unique<SelectedService>();
    if (!ServiceNeeds(flag, service->needsHost, service->needsBaseDn)) continue;
    service->serviceFlag = flag;
    service->displayName = kServiceNames[i];
    service->templateFile = kServiceTemplates[i];
    services.push_back(std::move(service));
    mask |= flag;
  }
  // The wizard's view of the list is refreshed before anything else, so that it never
  // points at records that were just destroyed.
  w.selectedServices = &services;
  w.currentService = nullptr;
  w.serviceCursor = 0;
  if (mask == 0) {
    msg::Show(61279);
    if (QListWidget* list = Control<QListWidget>(kIdServiceCheckList))
      list->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  w.selectedServiceMask = mask;
  for (size_t i = 0; i < services.size(); ++i) {
    w.serviceCursor = i + 1;
    w.currentService = services[i].get();
    if (NeedsInformation(*services[i])) return 0;
  }
  return SetupWizard::kSummaryPage;
}

int ServicesPage::OnWizardBack() {
  if (wizard().addingServicesOnly()) return -1;
  return wizard().startupMode != StartupMode::kFiles ? 0 : SetupWizard::kLocationPage;
}

// ---- Page 6 ----------------------------------------------------------------------------

void ServiceInfoPage::InitWindow(QWidget* window) {
  // The page is small for two groups: margins and spacing are kept tight.
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(3);
  QLabel* name = Static(window, kIdServiceNameLabel, "", false);
  name->setFont(BoldFont(window->font()));
  layout->addWidget(name);
  layout->addWidget(Static(window, kIdServiceInfoText,
                           "Additional information is required for this search service. Please "
                           "enter the required information below, and the click on the 'Next' "
                           "button."));

  auto* access = new QGroupBox(QStringLiteral("Access Point"), window);
  auto* grid = new QGridLayout(access);
  grid->setContentsMargins(6, 2, 6, 4);
  grid->setVerticalSpacing(2);
  grid->addWidget(
      Static(access, kIdServiceAccessText, "LDAP server used to access this service.", false), 0, 0,
      1, 3);
  grid->addWidget(Static(access, kIdServerHostLabel, "Host", false), 1, 0);
  auto* host = new QLineEdit(access);
  host->setObjectName(ObjectName(kIdServerHostEdit));
  grid->addWidget(host, 1, 1, 1, 2);
  grid->addWidget(Static(access, kIdServerPortLabel, "Port", false), 2, 0);
  auto* port = new QLineEdit(access);
  port->setObjectName(ObjectName(kIdServerPortEdit));
  port->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port));
  port->setMaximumWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
  auto* arrows = new UpDownControl(access);
  arrows->setObjectName(ObjectName(kIdServicePortArrows));
  arrows->setFixedHeight(port->sizeHint().height());
  auto* portRow = new QHBoxLayout;
  portRow->setSpacing(0);
  portRow->addWidget(port);
  portRow->addWidget(arrows);
  portRow->addStretch(1);
  grid->addLayout(portRow, 2, 1);
  layout->addWidget(access);

  auto* start = new QGroupBox(QStringLiteral("Search Start Point"), window);
  auto* startGrid = new QGridLayout(start);
  startGrid->setContentsMargins(6, 2, 6, 4);
  startGrid->setVerticalSpacing(2);
  startGrid->addWidget(Static(start, kIdServiceStartText, "Entry at which searches begin.", false),
                       0, 0, 1, 2);
  startGrid->addWidget(Static(start, kIdServiceBaseLabel, "Base DN", false), 1, 0);
  auto* base = new QLineEdit(start);
  base->setObjectName(ObjectName(kIdServiceBaseEdit));
  startGrid->addWidget(base, 1, 1);
  layout->addWidget(start);
  layout->addStretch(1);
}

bool ServiceInfoPage::OnSetActive() {
  SetupWizard& w = wizard();
  w.SetButtons(kWizBack | kWizNext);
  SelectedService* service = w.currentService;
  shown = service;
  if (!service) return true;
  const QString notRequired = Q(msg::LoadString(61293));
  Control<QLabel>(kIdServiceNameLabel)->setText(Q(service->displayName));
  auto* host = Control<QLineEdit>(kIdServerHostEdit);
  auto* port = Control<QLineEdit>(kIdServerPortEdit);
  auto* arrows = Control<UpDownControl>(kIdServicePortArrows);
  auto* base = Control<QLineEdit>(kIdServiceBaseEdit);
  host->setEnabled(service->needsHost != 0);
  port->setEnabled(service->needsHost != 0);
  // The arrows step the port edit, as on the host page.
  arrows->setEnabled(service->needsHost != 0);
  if (service->needsHost == 1) {
    host->setText(Q(service->host));
    port->setText(QString::number(service->port));
    arrows->setRange(100, 40000);
    arrows->setBuddy(port);
  } else {
    host->setText(notRequired);
    port->setValidator(nullptr);
    port->setText(notRequired);
  }
  base->setEnabled(service->needsBaseDn != 0);
  base->setText(service->needsBaseDn == 1 ? Q(service->baseDn) : notRequired);
  if (host->isEnabled()) {
    host->setFocus(Qt::OtherFocusReason);
  } else if (base->isEnabled()) {
    base->setFocus(Qt::OtherFocusReason);
  }
  return true;
}

bool ServiceInfoPage::Validate() {
  SetupWizard& w = wizard();
  if (!shown || shown->needsHost == 0) return true;
  const std::string host(kvaro::Trim(Control<QLineEdit>(kIdServerHostEdit)->text().toStdString()));
  const int port =
      LeadingNumber(Control<QLineEdit>(kIdServerPortEdit)->text().toStdString(), " \t");
  // The service's own server, reached as its clients reach it: in plain text.
  const ldapx::ServerSettings server{host, port, "none", {}, {}};
  if (const auto test = TestConnection(&w, server, w.timeouts); test.code != ldapx::kSuccess) {
    ShowLogonFailure(61277, test, host, port, w.timeouts);
    Control<QLineEdit>(kIdServerHostEdit)->setFocus(Qt::OtherFocusReason);
    return false;
  }
  shown->host = host;
  shown->port = port;
  if (shown->needsBaseDn == 1) {
    const std::string base(
        kvaro::Trim(Control<QLineEdit>(kIdServiceBaseEdit)->text().toStdString()));
    if (!base.empty() && !kvaro::IsValidDn(base, w.table())) {
      msg::Show(61278);
      Control<QLineEdit>(kIdServiceBaseEdit)->setFocus(Qt::OtherFocusReason);
      return false;
    }
    shown->baseDn = base;
  }
  return true;
}

int ServiceInfoPage::OnWizardNext() {
  SetupWizard& w = wizard();
  if (!w.selectedServices) return 0;
  auto& list = *w.selectedServices;
  while (w.serviceCursor < list.size()) {
    SelectedService* next = list[w.serviceCursor].get();
    ++w.serviceCursor;
    w.currentService = next;
    if (NeedsInformation(*next)) return SetupWizard::kServiceInfoPage;
  }
  return 0;
}

int ServiceInfoPage::OnWizardBack() {
  SetupWizard& w = wizard();
  if (!w.selectedServices) return 0;
  auto& list = *w.selectedServices;
  size_t currentPos = list.size();
  SelectedService* previous = nullptr;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].get() == w.currentService) {
      currentPos = i;
      break;
    }
    if (NeedsInformation(*list[i])) previous = list[i].get();
  }
  if (!previous) return 0;
  // Next from the earlier service returns to the one shown now.
  w.serviceCursor = currentPos;
  w.currentService = previous;
  return SetupWizard::kServiceInfoPage;
}

// ---- Page 7 ----------------------------------------------------------------------------

void SummaryPage::InitWindow(QWidget* window) {
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Static(window, 0, "Summary of options", false));
  auto* edit = new QPlainTextEdit(window);
  edit->setObjectName(ObjectName(kIdSummaryEdit));
  edit->setReadOnly(true);
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(edit, 1);
}

bool SummaryPage::OnSetActive() {
  wizard().SetButtons(kWizBack | kWizFinish);
  // Made on every visit: the pages before may have changed since.
  SetupWizard& w = wizard();
  summaryText = std::string(msg::LoadString(61297));
  summaryText += "\r\n\r\n";
  if (w.selectedServices) {
    for (const auto& service : *w.selectedServices) {
      summaryText += " * " + service->displayName + "\r\n";
    }
  }
  if (w.startupMode == StartupMode::kDirectory && !w.addingServicesOnly()) {
    const ldapx::ServerSettings& server = w.directory.server;
    const ldapx::TlsOptions tls = server.Tls();
    summaryText += "\r\n" + msg::Text(62334, {ldapx::HostListText(server.Hosts())});
    summaryText += "\r\n" + msg::Text(62335, {SecurityChoice(tls.security)});
    if (tls.security != ldapx::Security::None)
      summaryText +=
          "\r\n" + msg::Text(62336, {tls.caFile.empty() ? msg::Text(62337) : tls.caFile});
    summaryText += "\r\n" + msg::Text(62338, {w.directory.subtreeDn}) + "\r\n";
  }
  if (auto* edit = window()->findChild<QPlainTextEdit*>(ObjectName(kIdSummaryEdit)))
    edit->setPlainText(
        QString::fromStdString(summaryText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  return true;
}

int SummaryPage::OnWizardBack() { return SetupWizard::kServicesPage; }

bool SummaryPage::OnWizardFinish() { return true; }
