#include "directoryui/pleasewaitdialog.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <string>

#include "directoryui/controlids.h"
#include "platform/support/messages.h"
#include "widgets/dialogunits.h"
#include "widgets/guithread.h"

namespace {
// A rectangle given in dialog units of the dialog's own font, in pixels.
QRect DialogUnits(const QWidget& dialog, int x, int y, int w, int h) {
  return dlgu::ToPixels(dialog.font(), QRect(x, y, w, h));
}
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
}  // namespace

PleaseWaitDialog::PleaseWaitDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint) {
  setObjectName(ObjectName(kIdPleaseWaitDialog));
  setWindowTitle("Please Wait...");
  // The work runs on another thread while events are processed: keep every other window
  // from starting something meanwhile.
  setWindowModality(Qt::ApplicationModal);
  setFixedSize(DialogUnits(*this, 0, 0, 124, 76).size());

  heading_ = new QLabel(this);
  heading_->setObjectName(ObjectName(kIdPleaseWaitHeading));
  heading_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  heading_->setAlignment(Qt::AlignCenter);
  QFont bold = font();
  bold.setWeight(QFont::Bold);
  heading_->setFont(bold);
  heading_->setGeometry(DialogUnits(*this, 2, 2, 120, 10));

  message_ = new QLabel(this);
  message_->setObjectName(ObjectName(kIdPleaseWaitMessage));
  message_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message_->setWordWrap(true);
  message_->setGeometry(DialogUnits(*this, 2, 14, 120, 30));

  progress_ = new QProgressBar(this);
  progress_->setObjectName(ObjectName(kIdPleaseWaitProgress));
  progress_->setRange(0, 0);  // busy until the work says how far it is
  progress_->setTextVisible(false);
  progress_->setGeometry(DialogUnits(*this, 2, 47, 120, 9));

  cancel_ = new QPushButton(Q(msg::LoadString(62195)), this);
  cancel_->setObjectName(ObjectName(kIdCancel));
  cancel_->setAutoDefault(false);
  cancel_->setGeometry(DialogUnits(*this, 37, 59, 50, 14));
  connect(cancel_, &QPushButton::clicked, this, &PleaseWaitDialog::reject);
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

void PleaseWaitDialog::SetProgress(long done, long total) {
  // Busy until the total is known; from then on the bar only fills, so that it never
  // flickers back to busy or jumps back to empty between the steps of one piece of work.
  if (total <= 0) return;
  done = std::clamp(done, 0L, total);
  if (total == total_) done = std::max(done, done_);
  total_ = total;
  done_ = done;
  // QProgressBar counts in int; scale very large totals down.
  const long scale = total > 1000000 ? total / 1000000 + 1 : 1;
  progress_->setRange(0, static_cast<int>(total / scale));
  progress_->setValue(static_cast<int>(done / scale));
  // The text is set as it is, not as a format with placeholders: "%" has no part in it.
  QString text = Q(msg::Text(62323, {std::to_string(done), std::to_string(total)}));
  progress_->setFormat(text.replace(QLatin1Char('%'), QStringLiteral("%%")));
  progress_->setTextVisible(true);
}

QString PleaseWaitDialog::heading() const { return heading_->text(); }
QString PleaseWaitDialog::message() const { return message_->text(); }

void PleaseWaitDialog::reject() {
  // Cancel does not close the window: the work stops as soon as it can and closes it.
  if (!cancel_->isEnabled()) return;
  cancel_->setEnabled(false);
  cancel_->setText(Q(msg::LoadString(62196)));
  emit cancelRequested();
}

void PleaseWaitDialog::PaintNow() {
  // Paint now, also when the caller blocks this thread: deliver only pending paint
  // requests, no input, so nothing else can run in between.
  repaint();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
}

WidgetPleaseWait::WidgetPleaseWait(QWidget* parent)
    : parent_(parent), relay_(std::make_unique<QObject>()) {}

WidgetPleaseWait::~WidgetPleaseWait() { Close(); }

void WidgetPleaseWait::Show(const std::string& heading, const std::string& message) {
  OnGuiThread([&] {
    Close();
    cancel_ = false;
    done_ = 0;
    total_ = 0;
    dialog_ = new PleaseWaitDialog(parent_);
    dialog_->setAttribute(Qt::WA_DeleteOnClose, false);
    QObject::connect(dialog_.data(), &PleaseWaitDialog::cancelRequested, relay_.get(),
                     [this] { cancel_ = true; });
    dialog_->Show(QString::fromStdString(heading), QString::fromStdString(message));
  });
}

void WidgetPleaseWait::SetMessage(const std::string& message) {
  OnGuiThread([&] {
    if (dialog_) dialog_->SetMessage(QString::fromStdString(message));
  });
}

void WidgetPleaseWait::SetProgress(long done, long total) {
  done_ = done;
  total_ = total;
  if (IsGuiThread()) {
    ApplyProgress();
    return;
  }
  // One update in the queue at a time, carrying the newest figures: a save reports every
  // entry and must not wait for the screen.
  if (!progressPosted_.exchange(true))
    QMetaObject::invokeMethod(
        relay_.get(), [this] { ApplyProgress(); }, Qt::QueuedConnection);
}

void WidgetPleaseWait::ApplyProgress() {
  progressPosted_ = false;
  if (dialog_) dialog_->SetProgress(done_, total_);
}

void WidgetPleaseWait::Close() {
  OnGuiThread([&] {
    if (dialog_) {
      dialog_->hide();
      delete dialog_.data();
    }
  });
}
