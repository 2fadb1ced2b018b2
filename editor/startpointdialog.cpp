#include "editor/startpointdialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cctype>
#include <climits>

#include "editor/controlids.h"
#include "platform/ldap/dncheck.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/qstringlist.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

int PortValue(const std::string& portText) {
  size_t i = 0;
  while (i < portText.size() && std::isspace(static_cast<unsigned char>(portText[i]))) ++i;
  bool negative = false;
  if (i < portText.size() && (portText[i] == '+' || portText[i] == '-')) {
    negative = portText[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < portText.size() && std::isdigit(static_cast<unsigned char>(portText[i])); ++i) {
    value = value * 10 + (portText[i] - '0');
    if (value > INT_MAX) value = INT_MAX;  // keeps a long digit string from overflowing
  }
  return static_cast<int>(negative ? -value : value);
}

namespace {
// True when the port text is decimal digits only: what the URI can carry unchanged.
bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}
}  // namespace

std::string MakeLdapUri(const std::string& host, const std::string& portText,
                        const std::string& searchBase, const std::string& scheme) {
  return ldapx::MakeUrl(scheme, host, PortValue(portText), searchBase);
}

StartPointFault FindStartPointFault(const std::string& searchBase, const std::string& host,
                                    const std::string& portText, const kvaro::Oidtable& table) {
  // Each part must read back from the URI unchanged ("389x" as port or "/" in the host
  // would not); each is tried on its own first so that the fault can be pinned on one
  // field.
  const int port = PortValue(portText);
  if (!AllDigits(portText) || !ldapx::IsValidPort(port)) return {StartPointFault::kPort, 61275};
  const std::string trimmed(kvaro::Trim(searchBase));
  if (!trimmed.empty() && !kvaro::IsValidDn(trimmed, table)) return {StartPointFault::kBase, 61278};
  const auto baseUrl = ldapx::ParseUrl(MakeLdapUri("localhost", "389", searchBase));
  if (!baseUrl || baseUrl->dn != searchBase) return {StartPointFault::kBase, 62175};
  const auto hostUrl = ldapx::ParseUrl(MakeLdapUri(host, "389", ""));
  if (!hostUrl || hostUrl->host != host) return {StartPointFault::kHost, 62176};
  const auto url = ldapx::ParseUrl(MakeLdapUri(host, portText, searchBase));
  if (!url || url->host != host || url->port != port || url->dn != searchBase)
    return {StartPointFault::kHost, 62176};
  return {};
}

bool CheckStartPoint(const std::string& searchBase, const std::string& host,
                     const std::string& portText, const kvaro::Oidtable& table) {
  return !FindStartPointFault(searchBase, host, portText, table);
}

void ReportStartPointFault(const StartPointFault& fault, QLineEdit* base, QLineEdit* host,
                           QLineEdit* port) {
  QLineEdit* edit = nullptr;
  switch (fault.field) {
    case StartPointFault::kNone:
      return;
    case StartPointFault::kBase:
      edit = base;
      break;
    case StartPointFault::kHost:
      edit = host;
      break;
    case StartPointFault::kPort:
      edit = port;
      break;
  }
  msg::Show(fault.messageId, {edit->text().toStdString()});
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
}

StartPointEdits AddStartPointRows(QWidget* parent, QFormLayout* form) {
  StartPointEdits edits;
  edits.base = new QLineEdit(parent);
  edits.base->setObjectName(ObjectName(kIdSearchBaseEdit));
  edits.host = new QLineEdit(parent);
  edits.host->setObjectName(ObjectName(kIdHostEdit));
  edits.port = new QLineEdit(parent);
  edits.port->setObjectName(ObjectName(kIdPortEdit));
  auto addRow = [parent, form](const char* text, QLineEdit* edit) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(edit);
    form->addRow(label, edit);
  };
  addRow("Search Base (DN)", edits.base);
  addRow("LDAP Host", edits.host);
  addRow("LDAP Host Port", edits.port);
  return edits;
}

std::optional<std::string> TakeStartPoint(const StartPointEdits& edits,
                                          const kvaro::Oidtable& table, const std::string& scheme) {
  const std::string base = edits.base->text().toStdString();
  const std::string host = edits.host->text().toStdString();
  const std::string port = edits.port->text().toStdString();
  if (const StartPointFault fault = FindStartPointFault(base, host, port, table)) {
    ReportStartPointFault(fault, edits.base, edits.host, edits.port);
    return std::nullopt;
  }
  return MakeLdapUri(host, port, base, scheme);
}

StartPointDialog::StartPointDialog(const std::string& uri, const kvaro::Oidtable& table,
                                   QWidget* parent)
    : QDialog(parent), ldapUri(uri), table_(table) {
  setObjectName(ObjectName(kIdStartPointDialog));
  setWindowTitle("Set Start Point");

  auto* form = new QFormLayout;
  edits_ = AddStartPointRows(this, form);

  okButton_ = dlgparts::LayOutColumn(this, nullptr, form).ok;

  const auto url = ldapx::ParseUrl(uri);
  if (url) {
    if (url->scheme == "ldaps") scheme_ = "ldaps";
    const int defaultPort = scheme_ == "ldaps" ? ldapx::kLdapsPort : ldapx::kLdapPort;
    edits_.port->setText(QString::number(url->port == 0 ? defaultPort : url->port));
    edits_.host->setText(QString::fromStdString(url->host));
    edits_.base->setText(QString::fromStdString(url->dn));
  }
  for (QLineEdit* edit : {edits_.base, edits_.host, edits_.port})
    connect(edit, &QLineEdit::textChanged, this, [this] { updateWidgets(); });
  // A URI that does not parse leaves the edits empty and OK enabled; typing applies the
  // check, and OK itself says what is missing.
  if (url) updateWidgets();

  resize(dlgu::ToPixels(font(), QSize(186, 81)).expandedTo(sizeHint()));
  edits_.base->setFocus();
}

void StartPointDialog::updateWidgets() {
  okButton_->setEnabled(CheckStartPoint(edits_.base->text().toStdString(),
                                        edits_.host->text().toStdString(),
                                        edits_.port->text().toStdString(), table_));
}

void StartPointDialog::accept() {
  // Enter in an edit reaches here as well; only a start point that passes may end it.
  const std::optional<std::string> uri = TakeStartPoint(edits_, table_, scheme_);
  if (!uri) return;
  ldapUri = *uri;
  QDialog::accept();
}
