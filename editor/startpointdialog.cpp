#include "startpointdialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cctype>
#include <climits>

#include "dialogparts.h"
// By path: another layer has a header of the same name.
#include "dialogunits.h"
#include "dncheck.h"
#include "ldap/ldapclient.h"
#include "qstringlist.h"

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

std::string MakeLdapUri(const std::string& host, const std::string& portText,
                        const std::string& searchBase, const std::string& scheme) {
  return scheme + "://" + host + ":" + portText + "/" + searchBase;
}

bool CheckStartPoint(const std::string& searchBase, const std::string& host,
                     const std::string& portText, const kvaro::Oidtable& table) {
  const int port = PortValue(portText);
  if (port <= 0 || port > 65535) return false;
  const std::string trimmed(kvaro::Trim(searchBase));
  if (!trimmed.empty() && !kvaro::IsValidDn(trimmed, table)) return false;
  // The URI keeps the texts as typed, so text that the URL syntax would cut or decode
  // ("?" or "%" in the base, "389x" as port, "/" in the host) would be stored as a start
  // point that no longer says what was typed. Only a URI that reads back unchanged passes.
  const auto url = ldapx::ParseUrl(MakeLdapUri(host, portText, searchBase));
  return url && url->host == host && url->port == port && url->dn == searchBase;
}

StartPointDialog::StartPointDialog(const std::string& uri, const kvaro::Oidtable& table,
                                   QWidget* parent)
    : QDialog(parent), ldapUri(uri), table_(table) {
  setObjectName("141");
  setWindowTitle("Set Start Point");

  baseEdit_ = new QLineEdit(this);
  baseEdit_->setObjectName("1000");
  hostEdit_ = new QLineEdit(this);
  hostEdit_->setObjectName("1001");
  portEdit_ = new QLineEdit(this);
  portEdit_->setObjectName("1002");

  auto* form = new QFormLayout;
  auto addRow = [this, form](const char* text, QLineEdit* edit) {
    auto* label = new QLabel(text, this);
    label->setBuddy(edit);
    form->addRow(label, edit);
  };
  addRow("Search Base (DN)", baseEdit_);
  addRow("LDAP Host", hostEdit_);
  addRow("LDAP Host Port", portEdit_);

  okButton_ = dlgparts::LayOutColumn(this, nullptr, form).ok;

  if (const auto url = ldapx::ParseUrl(uri)) {
    if (url->scheme == "ldaps") scheme_ = "ldaps";
    const int defaultPort = scheme_ == "ldaps" ? ldapx::kLdapsPort : ldapx::kLdapPort;
    portEdit_->setText(QString::number(url->port == 0 ? defaultPort : url->port));
    hostEdit_->setText(QString::fromStdString(url->host));
    baseEdit_->setText(QString::fromStdString(url->dn));
  }
  for (QLineEdit* edit : {baseEdit_, hostEdit_, portEdit_})
    connect(edit, &QLineEdit::textChanged, this, [this] { updateWidgets(); });
  // Checked even when the URI did not parse: three empty fields are no start point, and
  // OK would store "ldap://:/", which every later reader rejects.
  updateWidgets();

  resize(dlgu::ToPixels(font(), QSize(186, 81)).expandedTo(sizeHint()));
  baseEdit_->setFocus();
}

void StartPointDialog::updateWidgets() {
  okButton_->setEnabled(CheckStartPoint(baseEdit_->text().toStdString(),
                                        hostEdit_->text().toStdString(),
                                        portEdit_->text().toStdString(), table_));
}

void StartPointDialog::accept() {
  // Enter in an edit reaches here as well; only a start point that passes may end it.
  const std::string base = baseEdit_->text().toStdString();
  const std::string host = hostEdit_->text().toStdString();
  const std::string port = portEdit_->text().toStdString();
  if (!CheckStartPoint(base, host, port, table_)) return;
  ldapUri = MakeLdapUri(host, port, base, scheme_);
  QDialog::accept();
}
