#include "wizard/wizardpages.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "directoryui/directorywork.h"
#include "platform/ldap/dncheck.h"
#include "platform/ldap/ldapclient.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/messages.h"
#include "store/directory/subtreecheck.h"
#include "wizard/connectiontest.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"
#include "wizard/updowncontrol.h"

namespace {

constexpr int kPortArrowMin = 100;
constexpr int kPortArrowMax = 40000;
const char* const kSubtreeRdn = "cn=Orvelle Configuration";

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) { return s.toStdString(); }

QLabel* Static(QWidget* parent, int id, std::string_view text, bool wrap = true) {
  auto* label = new QLabel(Q(text), parent);
  if (id > 0) label->setObjectName(ObjectName(id));
  label->setWordWrap(wrap);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLineEdit* Edit(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(ObjectName(id));
  return edit;
}

QLineEdit* DigitsEdit(QWidget* parent, int id) {
  QLineEdit* edit = Edit(parent, id);
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  return edit;
}

QVBoxLayout* PageLayout(QWidget* window) {
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  return layout;
}

// A "Host"/"Port" row with the port's arrow control; returns the arrows.
UpDownControl* HostPortRows(QGridLayout* grid, QWidget* parent, int row, int upDownId) {
  grid->addWidget(Static(parent, kIdServerHostLabel, "Host", false), row, 0);
  auto* host = Edit(parent, kIdServerHostEdit);
  grid->addWidget(host, row, 1, 1, 2);
  grid->addWidget(Static(parent, kIdServerPortLabel, "Port", false), row + 1, 0);
  auto* port = DigitsEdit(parent, kIdServerPortEdit);
  port->setMaximumWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
  auto* arrows = new UpDownControl(parent);
  arrows->setObjectName(ObjectName(upDownId));
  arrows->setFixedHeight(port->sizeHint().height());
  auto* portRow = new QHBoxLayout;
  portRow->setSpacing(0);
  portRow->addWidget(port);
  portRow->addWidget(arrows);
  portRow->addStretch(1);
  grid->addLayout(portRow, row + 1, 1);
  return arrows;
}

}  // namespace

const char* SecurityChoice(ldapx::Security security) {
  switch (security) {
    case ldapx::Security::StartTls:
      return "StartTLS";
    case ldapx::Security::Ldaps:
      return "LDAPS";
    case ldapx::Security::None:
      break;
  }
  return "None";
}

QFont BoldFont(const QFont& font) {
  QFont bold = font;
  bold.setWeight(QFont::Bold);
  return bold;
}

SetupWizard& SetupPage::wizard() const { return *static_cast<SetupWizard*>(frame()); }

// ---- Page 0 ----------------------------------------------------------------------------

void IntroPage::InitWindow(QWidget* window) {
  auto* layout = PageLayout(window);
  QLabel* heading = Static(window, kIdIntroHeading, "Before you begin...");
  heading->setFont(BoldFont(window->font()));
  layout->addWidget(heading);
  layout->addSpacing(8);
  layout->addWidget(Static(window, kIdIntroSchemaText,
                           "Before Orvelle configuration can be created you will need to update "
                           "the schema installed on your directory server."));
  layout->addSpacing(8);
  layout->addWidget(Static(window, kIdIntroReadmeText,
                           "If you haven't already done this consult the Orvelle README file for "
                           "an overview of what you need to do."));
  layout->addStretch(1);
}

bool IntroPage::OnSetActive() {
  wizard().SetButtons(kWizBack | kWizNext);
  return true;
}

// ---- Page 1 ----------------------------------------------------------------------------

void LocationPage::InitWindow(QWidget* window) {
  auto* layout = PageLayout(window);
  layout->addWidget(Static(window, 0,
                           "The configuration for the Orvelle application can be stored in a "
                           "local file or else in your directory server. Directory based "
                           "configuration is recommended for large scale installations.\n\n"
                           "Please select the type of configuration required."));
  layout->addSpacing(8);
  auto* directory = new QRadioButton(QStringLiteral("Host configuration in directory."), window);
  directory->setObjectName(ObjectName(kIdDirectoryRadio));
  auto* local =
      new QRadioButton(QStringLiteral("Host configuration in local file installation."), window);
  local->setObjectName(ObjectName(kIdLocalFilesRadio));
  // The page keeps the two buttons exclusive itself; the group only stops a click on the
  // checked button from unchecking it.
  auto* group = new QButtonGroup(window);
  group->addButton(directory);
  group->addButton(local);
  layout->addWidget(directory);
  layout->addWidget(local);
  layout->addStretch(1);
  QObject::connect(directory, &QRadioButton::clicked, window, [this] { OnDirectoryClicked(); });
  QObject::connect(local, &QRadioButton::clicked, window, [this] { OnLocalClicked(); });
}

bool LocationPage::OnSetActive() {
  wizard().SetButtons(kWizBack | kWizNext);
  directoryFlag = wizard().startupMode == StartupMode::kDirectory ? 1 : 0;
  localFlag = directoryFlag ? 0 : 1;
  Control<QRadioButton>(kIdDirectoryRadio)->setChecked(directoryFlag == 1);
  Control<QRadioButton>(kIdLocalFilesRadio)->setChecked(localFlag == 1);
  return true;
}

void LocationPage::OnDirectoryClicked() {
  auto* directory = Control<QRadioButton>(kIdDirectoryRadio);
  if (!directory->isChecked()) return;
  directoryFlag = 1;
  localFlag = 0;
  Control<QRadioButton>(kIdLocalFilesRadio)->setChecked(false);
  wizard().startupMode = StartupMode::kDirectory;
}

void LocationPage::OnLocalClicked() {
  auto* local = Control<QRadioButton>(kIdLocalFilesRadio);
  if (!local->isChecked()) return;
  directoryFlag = 0;
  localFlag = 1;
  Control<QRadioButton>(kIdDirectoryRadio)->setChecked(false);
  wizard().startupMode = StartupMode::kFiles;
}

int LocationPage::OnWizardNext() {
  if (localFlag != 1) return 0;
  SetupWizard& w = wizard();
  // Asked here, before the services are chosen, as the subtree page asks about a
  // configuration in the directory: No keeps this page, where the directory can be
  // chosen instead or the wizard cancelled, and the folder stays as it is.
  w.replaceFileCount = 0;
  if (!w.configurationFolder.empty() &&
      !ConfirmReplacingFiles(w.configurationFolder, w.replaceFileCount))
    return -1;
  return SetupWizard::kServicesPage;
}

// ---- Page 2 ----------------------------------------------------------------------------

void HostPage::InitWindow(QWidget* window) {
  auto* layout = PageLayout(window);
  layout->addWidget(Static(window, 0,
                           "Orvelle needs to store configuration on an LDAP server. Typically "
                           "this will be your local master directory.\n\nPlease enter the IP "
                           "address name and port number of the server in which Orvelle can "
                           "store it's configuration."));
  layout->addSpacing(8);
  auto* grid = new QGridLayout;
  HostPortRows(grid, window, 0, kIdHostPortArrows);
  // Connection security: the server's certificate is checked for StartTLS and LDAPS.
  grid->addWidget(Static(window, kIdSecurityLabel, "Security", false), 2, 0);
  auto* security = new QComboBox(window);
  security->setObjectName(ObjectName(kIdSecurityCombo));
  for (ldapx::Security choice :
       {ldapx::Security::None, ldapx::Security::StartTls, ldapx::Security::Ldaps})
    security->addItem(QString::fromLatin1(SecurityChoice(choice)));
  grid->addWidget(security, 2, 1);
  grid->addWidget(Static(window, kIdCaFileLabel, "CA certificate file", false), 3, 0);
  auto* caFile = Edit(window, kIdCaFileEdit);
  caFile->setPlaceholderText(QStringLiteral("(the system's certificate store)"));
  // Wide enough for the whole placeholder at any font size.
  caFile->setMinimumWidth(caFile->fontMetrics().horizontalAdvance(caFile->placeholderText()) +
                          caFile->fontMetrics().averageCharWidth() * 2 + 8);
  grid->addWidget(caFile, 3, 1);
  auto* browse = new QPushButton(QStringLiteral("Browse..."), window);
  browse->setObjectName(ObjectName(kIdCaFileBrowseButton));
  grid->addWidget(browse, 3, 2);
  layout->addLayout(grid);
  layout->addStretch(1);
  QObject::connect(browse, &QPushButton::clicked, window, [window, caFile] {
    const QString file = QFileDialog::getOpenFileName(
        window, QStringLiteral("CA certificate file"), caFile->text(),
        QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)"));
    if (!file.isEmpty()) caFile->setText(file);
  });
  // LDAPS has its own port: follow the choice while the port is one of the two defaults.
  QObject::connect(security, &QComboBox::currentIndexChanged, window, [window](int index) {
    auto* port = window->findChild<QLineEdit*>(ObjectName(kIdServerPortEdit));
    if (!port) return;
    if (index == 2 && port->text() == QStringLiteral("389")) port->setText(QStringLiteral("636"));
    if (index != 2 && port->text() == QStringLiteral("636")) port->setText(QStringLiteral("389"));
  });
}

bool HostPage::OnSetActive() {
  SetupWizard& w = wizard();
  w.SetButtons(kWizBack | kWizNext);
  auto* host = Control<QLineEdit>(kIdServerHostEdit);
  auto* port = Control<QLineEdit>(kIdServerPortEdit);
  const ldapx::ServerSettings& server = w.directory.server;
  host->setText(Q(server.address));
  port->setText(QString::number(server.port));
  {
    // Setting the choice must not move the port shown.
    auto* security = Control<QComboBox>(kIdSecurityCombo);
    const QSignalBlocker quiet(security);
    security->setCurrentIndex(static_cast<int>(server.Tls().security));
  }
  Control<QLineEdit>(kIdCaFileEdit)->setText(Q(server.caCertificateFile));
  auto* arrows = Control<UpDownControl>(kIdHostPortArrows);
  arrows->setRange(kPortArrowMin, kPortArrowMax);
  arrows->setBuddy(port);
  host->setFocus(Qt::OtherFocusReason);
  return true;
}

int HostPage::OnWizardNext() {
  SetupWizard& w = wizard();
  const std::string host = S(Control<QLineEdit>(kIdServerHostEdit)->text());
  const int port = LeadingNumber(S(Control<QLineEdit>(kIdServerPortEdit)->text()));
  if (port == 0) {
    msg::Show(61275);
    Control<QLineEdit>(kIdServerPortEdit)->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  // Several servers that hold the same configuration may be listed, tried in order.
  if (!ldapx::ParseHostList(host, port)) {
    msg::Show(62304, {host});
    Control<QLineEdit>(kIdServerHostEdit)->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  ldapx::ServerSettings server = w.directory.server;
  server.address = host;
  server.port = port;
  server.security = ldapx::SecurityName(
      static_cast<ldapx::Security>(Control<QComboBox>(kIdSecurityCombo)->currentIndex()));
  server.caCertificateFile = S(Control<QLineEdit>(kIdCaFileEdit)->text().trimmed());
  if (const auto test = TestConnection(&w, server, w.timeouts); test.code != ldapx::kSuccess) {
    ShowLogonFailure(61277, test, host, port, w.timeouts);
    Control<QLineEdit>(kIdServerHostEdit)->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  w.directory.server = std::move(server);
  return 0;
}

// ---- Page 3 ----------------------------------------------------------------------------

void AuthPage::InitWindow(QWidget* window) {
  auto* layout = PageLayout(window);
  layout->addWidget(Static(window, 0,
                           "Orvelle has to add entries to your directory database. Please enter "
                           "the DN and password of a user that has directory write permission."
                           "\n\nNote that these details are NOT stored and will only be used "
                           "for the duration of this session."));
  layout->addSpacing(8);
  auto* grid = new QGridLayout;
  grid->addWidget(Static(window, kIdUserDnLabel, "User DN", false), 0, 0);
  grid->addWidget(Edit(window, kIdUserDnEdit), 0, 1);
  grid->addWidget(Static(window, kIdPasswordLabel, "Password", false), 1, 0);
  QLineEdit* password = Edit(window, kIdPasswordEdit);
  password->setEchoMode(QLineEdit::Password);
  grid->addWidget(password, 1, 1);
  layout->addLayout(grid);
  layout->addStretch(1);
}

bool AuthPage::OnSetActive() {
  SetupWizard& w = wizard();
  w.SetButtons(kWizBack | kWizNext);
  Control<QLineEdit>(kIdUserDnEdit)->setText(Q(w.directory.server.bindDn));
  Control<QLineEdit>(kIdPasswordEdit)->setText(Q(w.directory.password));
  return true;
}

int AuthPage::OnWizardNext() {
  SetupWizard& w = wizard();
  std::string dn = S(Control<QLineEdit>(kIdUserDnEdit)->text());
  const size_t first = dn.find_first_not_of(' ');
  dn = first == std::string::npos ? std::string()
                                  : dn.substr(first, dn.find_last_not_of(' ') - first + 1);
  const std::string password = S(Control<QLineEdit>(kIdPasswordEdit)->text());
  if (!dn.empty() && !kvaro::IsValidDn(dn, w.table())) {
    msg::Show(61278);
    Control<QLineEdit>(kIdUserDnEdit)->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  ldapx::ServerSettings server = w.directory.server;
  server.bindDn = dn;
  const directory::Logon logon = OpenBoundConnection(&w, server, password, w.timeouts);
  if (!logon.connection) {
    ShowLogonFailure(61276, logon, server.address, server.port, w.timeouts);
    Control<QLineEdit>(kIdUserDnEdit)->setFocus(Qt::OtherFocusReason);
    return -1;
  }
  w.directory.server.bindDn = dn;
  w.directory.password = password;
  // Replacing the connection closes the one of an earlier visit.
  w.directory.connection = logon.connection;
  return 0;
}

// ---- Page 4 ----------------------------------------------------------------------------

void SubtreePage::InitWindow(QWidget* window) {
  auto* layout = PageLayout(window);
  layout->addWidget(Static(window, 0,
                           "Configuration will be stored in a single dedicated directory "
                           "subtree. Please enter the name of an entry below which a Orvelle "
                           "configuration subtree can be added. This might just be the "
                           "directory name of your organization."));
  layout->addSpacing(8);
  auto* row = new QHBoxLayout;
  row->addWidget(Static(window, kIdParentDnLabel, "Parent DN", false));
  row->addWidget(Edit(window, kIdParentDnEdit), 1);
  layout->addLayout(row);
  layout->addSpacing(8);
  layout->addWidget(Static(window, kIdSubtreeRdnText,
                           "The new subtree will be a child of the above entry and will have the "
                           "RDN:"));
  QLabel* rdn = Static(window, 0, kSubtreeRdn, false);
  rdn->setObjectName(QStringLiteral("rdn"));
  rdn->setIndent(16);
  layout->addWidget(rdn);
  layout->addStretch(1);
}

bool SubtreePage::OnSetActive() {
  wizard().SetButtons(kWizBack | kWizNext);
  Control<QLineEdit>(kIdParentDnEdit)->setFocus(Qt::OtherFocusReason);
  return true;
}

int SubtreePage::OnWizardNext() {
  SetupWizard& w = wizard();
  auto* edit = Control<QLineEdit>(kIdParentDnEdit);
  const std::string parent = S(edit->text());
  // Every refusal keeps the page with the DN as typed and the focus in it.
  auto refuse = [edit] {
    edit->setFocus(Qt::OtherFocusReason);
    return -1;
  };
  // An empty parent would give the root entry a DN ending in ", " that no server
  // accepts, and the failure would only show after the whole wizard.
  if (parent.empty() || !kvaro::IsValidDn(parent, w.table())) {
    msg::Show(61278);
    return refuse();
  }
  const std::string rootDn = std::string(kSubtreeRdn) + ", " + parent;

  // Over the logged-on connection, before anything is generated or written: the parent
  // must exist, and whatever is at the root DN must be a configuration we may replace.
  std::shared_ptr<ldapx::Connection> session = w.directory.connection;
  const directory::SubtreeTarget target =
      RunWithPleaseWait(&w, std::string(msg::LoadString(61282)),
                        std::string(msg::LoadString(62231)), [&](directory::PleaseWait&) {
                          directory::SubtreeTarget found;
                          found.code = ldapx::kServerDown;
                          if (session)
                            found = directory::CheckSubtreeTarget(*session, parent, rootDn);
                          if (found.state != directory::SubtreeTarget::State::Failed ||
                              (session && !directory::IsConnectionLost(found.code)))
                            return found;
                          // The server dropped the idle connection (or there is none yet): log on
                          // again with the credentials the previous page checked, once.
                          const directory::Logon logon = directory::OpenAndBind(
                              w.directory.server, w.directory.password, w.timeouts);
                          if (!logon.connection) {
                            found.code = logon.code;
                            found.detail = logon.detail;
                            return found;
                          }
                          session = logon.connection;
                          return directory::CheckSubtreeTarget(*session, parent, rootDn);
                        });
  if (session != w.directory.connection) w.directory.connection = session;

  using State = directory::SubtreeTarget::State;
  switch (target.state) {
    case State::Free:
      w.replaceConfiguration = false;
      break;
    case State::Configuration:
      if (msg::Show(62228, {rootDn}, msg::Buttons::YesNo) != msg::Answer::Yes) return refuse();
      w.replaceConfiguration = true;
      break;
    case State::NotOurs:
      msg::Show(62229, {rootDn});
      return refuse();
    case State::NoParent:
      msg::Show(62227, {parent});
      return refuse();
    case State::Failed:
      if (target.code == ldapx::kCancelled) return refuse();
      if (target.code == ldapx::kTimeout) {
        msg::Show(62190,
                  {ldapx::HostListText(w.directory.server.Hosts()),
                   std::to_string(w.timeouts.operationSeconds)},
                  msg::Buttons::Ok, msg::Icon::Error);
      } else {
        msg::Show(
            msg::Outcome(directory::ReasonProblem(62230, {parent}, target.code, target.detail)));
      }
      return refuse();
  }
  w.directory.subtreeDn = rootDn;
  return 0;
}
