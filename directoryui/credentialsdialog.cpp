#include "directoryui/credentialsdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "directoryui/controlids.h"
#include "widgets/dialogunits.h"
#include "widgets/guithread.h"

namespace {
// A rectangle given in dialog units of the dialog's own font, in pixels.
QRect DialogUnits(const QWidget& dialog, int x, int y, int w, int h) {
  return dlgu::ToPixels(dialog.font(), QRect(x, y, w, h));
}
}  // namespace

CredentialsDialog::CredentialsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(ObjectName(kIdLogonDialog));
  setWindowTitle("DSA Manager Details");
  setModal(true);
  setFixedSize(DialogUnits(*this, 0, 0, 190, 127).size());

  auto* text = new QLabel(
      "Please enter the DN and password of a user that has directory write permission.\n\n"
      "Note that these details are NOT stored and will only be used for the duration of this "
      "session.",
      this);
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text->setGeometry(DialogUnits(*this, 7, 7, 176, 40));

  auto* dnLabel = new QLabel("User DN", this);
  dnLabel->setGeometry(DialogUnits(*this, 7, 54, 40, 8));
  dn_ = new QLineEdit(this);
  dn_->setObjectName(ObjectName(kIdLogonUserDnEdit));
  dn_->setGeometry(DialogUnits(*this, 50, 52, 133, 12));
  dnLabel->setBuddy(dn_);

  auto* pwLabel = new QLabel("Password", this);
  pwLabel->setGeometry(DialogUnits(*this, 7, 72, 40, 8));
  password_ = new QLineEdit(this);
  password_->setObjectName(ObjectName(kIdLogonPasswordEdit));
  password_->setEchoMode(QLineEdit::Password);
  password_->setGeometry(DialogUnits(*this, 50, 70, 133, 12));
  pwLabel->setBuddy(password_);

  security_ = new QLabel(this);
  security_->setObjectName(ObjectName(kIdLogonSecurityText));
  security_->setWordWrap(true);
  security_->setGeometry(DialogUnits(*this, 7, 86, 176, 16));

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName(ObjectName(kIdOk));
  ok->setDefault(true);
  ok->setGeometry(DialogUnits(*this, 79, 106, 50, 14));
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName(ObjectName(kIdCancel));
  cancel->setGeometry(DialogUnits(*this, 133, 106, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  dn_->setFocus();
}

void CredentialsDialog::SetValues(const std::string& dn, const std::string& password) {
  dn_->setText(QString::fromStdString(dn));
  password_->setText(QString::fromStdString(password));
}

void CredentialsDialog::SetSecurityText(const std::string& text) {
  security_->setText(QString::fromStdString(text));
}

std::string CredentialsDialog::securityText() const { return security_->text().toStdString(); }

void CredentialsDialog::accept() {
  bindDn_ = dn_->text().toStdString();
  bindPassword_ = password_->text().toStdString();
  QDialog::accept();
}

DialogCredentialsPrompt::DialogCredentialsPrompt(QWidget* parent)
    : dialog_(std::make_unique<CredentialsDialog>(parent)) {}

DialogCredentialsPrompt::~DialogCredentialsPrompt() = default;

bool DialogCredentialsPrompt::Ask(std::string& dn, std::string& password) {
  if (!IsGuiThread()) {
    bool ok = false;
    OnGuiThread([&] { ok = Ask(dn, password); });
    return ok;
  }
  dialog_->SetValues(dn, password);
  if (dialog_->exec() != QDialog::Accepted) return false;
  dn = dialog_->bindDn();
  password = dialog_->bindPassword();
  return true;
}
