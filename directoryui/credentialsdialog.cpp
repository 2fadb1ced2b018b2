#include "directoryui/credentialsdialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <utility>

#include "directoryui/controlids.h"
#include "platform/support/messages.h"
#include "widgets/dialogunits.h"
#include "widgets/guithread.h"

CredentialsDialog::CredentialsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(ObjectName(kIdLogonDialog));
  setWindowTitle("DSA Manager Details");
  setModal(true);

  text_ = new QLabel(
      "Please enter the DN and password of a user that has directory write permission.\n\n"
      "Note that these details are NOT stored and will only be used for the duration of this "
      "session.",
      this);
  text_->setWordWrap(true);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  dnLabel_ = new QLabel("User DN", this);
  dn_ = new QLineEdit(this);
  dn_->setObjectName(ObjectName(kIdLogonUserDnEdit));
  dnLabel_->setBuddy(dn_);

  pwLabel_ = new QLabel("Password", this);
  password_ = new QLineEdit(this);
  password_->setObjectName(ObjectName(kIdLogonPasswordEdit));
  password_->setEchoMode(QLineEdit::Password);
  pwLabel_->setBuddy(password_);

  security_ = new QLabel(this);
  security_->setObjectName(ObjectName(kIdLogonSecurityText));
  security_->setWordWrap(true);
  security_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  ok_ = new QPushButton("OK", this);
  ok_->setObjectName(ObjectName(kIdOk));
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName(ObjectName(kIdCancel));
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  LayOut();
  dn_->setFocus();
}

void CredentialsDialog::LayOut() {
  auto x = [this](int units) { return dlgu::ToPixelsX(font(), units); };
  auto y = [this](int units) { return dlgu::ToPixelsY(font(), units); };
  // The height `label` needs for its text wrapped at `width`, and at least `units`.
  auto height = [&y](const QLabel* label, int width, int units) {
    const QRect needed =
        QFontMetrics(label->font())
            .boundingRect(QRect(0, 0, width, 1 << 20),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, label->text());
    return std::max(y(units), needed.height());
  };
  const int textWidth = x(176);
  int top = y(7);
  const int textHeight = height(text_, textWidth, 40);
  text_->setGeometry(x(7), top, textWidth, textHeight);
  top += textHeight + y(5);
  for (auto [label, edit] : {std::pair{dnLabel_, dn_}, std::pair{pwLabel_, password_}}) {
    label->setGeometry(x(7), top + y(2), x(40), height(label, x(40), 8));
    edit->setGeometry(x(50), top, x(133), y(12));
    top += y(18);
  }
  const int securityHeight = height(security_, textWidth, 16);
  security_->setGeometry(x(7), top, textWidth, securityHeight);
  top += securityHeight + y(4);
  ok_->setGeometry(x(79), top, x(50), y(14));
  cancel_->setGeometry(x(133), top, x(50), y(14));
  setFixedSize(x(190), top + y(14) + y(7));
}

void CredentialsDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // The layout is in units of the font: a new font lays it out again.
  if (event->type() == QEvent::FontChange) LayOut();
}

void CredentialsDialog::SetValues(const std::string& dn, const std::string& password) {
  dn_->setText(QString::fromStdString(dn));
  password_->setText(QString::fromStdString(password));
}

void CredentialsDialog::SetSecurityText(const std::string& text) {
  security_->setText(QString::fromStdString(text));
  LayOut();
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

void DialogCredentialsPrompt::Tell(const msg::Problems& problems) { msg::Show(problems); }

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
