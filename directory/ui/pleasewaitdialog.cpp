#include "pleasewaitdialog.h"

#include <QApplication>
#include <QLabel>

#include "dialogunits.h"

namespace {
// A rectangle given in dialog units of the dialog's own font, in pixels.
QRect DialogUnits(const QWidget& dialog, int x, int y, int w, int h) {
  return dlgu::ToPixels(dialog.font(), QRect(x, y, w, h));
}
}  // namespace

PleaseWaitDialog::PleaseWaitDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint) {
  setObjectName("153");
  setWindowTitle("Please Wait...");
  setModal(false);
  setFixedSize(DialogUnits(*this, 0, 0, 124, 45).size());

  heading_ = new QLabel(this);
  heading_->setObjectName("1034");
  heading_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  heading_->setAlignment(Qt::AlignCenter);
  QFont bold = font();
  bold.setWeight(QFont::Bold);
  heading_->setFont(bold);
  heading_->setGeometry(DialogUnits(*this, 2, 2, 120, 10));

  message_ = new QLabel(this);
  message_->setObjectName("1035");
  message_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message_->setWordWrap(true);
  message_->setGeometry(DialogUnits(*this, 2, 14, 120, 30));
}

void PleaseWaitDialog::Show(const QString& heading, const QString& message) {
  heading_->setText(heading);
  message_->setText(message);
  show();
  PaintNow();
}

void PleaseWaitDialog::SetMessage(const QString& message) {
  message_->setText(message);
  PaintNow();
}

QString PleaseWaitDialog::heading() const { return heading_->text(); }
QString PleaseWaitDialog::message() const { return message_->text(); }

void PleaseWaitDialog::PaintNow() {
  // The caller goes on blocking; paint now and deliver only pending paint requests, no
  // input, so nothing else can run in between.
  repaint();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
}

WidgetPleaseWait::~WidgetPleaseWait() { Close(); }

void WidgetPleaseWait::Show(const std::string& heading, const std::string& message) {
  Close();
  dialog_ = new PleaseWaitDialog(parent_);
  dialog_->setAttribute(Qt::WA_DeleteOnClose, false);
  dialog_->Show(QString::fromStdString(heading), QString::fromStdString(message));
}

void WidgetPleaseWait::SetMessage(const std::string& message) {
  if (dialog_) dialog_->SetMessage(QString::fromStdString(message));
}

void WidgetPleaseWait::Close() {
  if (dialog_) {
    dialog_->hide();
    delete dialog_.data();
  }
}
