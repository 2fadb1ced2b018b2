// The "Please Wait..." window (template 153) shown while directory work runs on a worker
// thread: a bold heading (1034), a message (1035), a progress bar (1036: busy until the
// work says how far it is) and a Cancel button (2). While it is up, the other windows
// take no input, so nothing else can start meanwhile.
#pragma once

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <memory>
#include <string>

#include "store/directory/directorysave.h"

class QLabel;
class QProgressBar;
class QPushButton;

class PleaseWaitDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PleaseWaitDialog(QWidget* parent = nullptr);

  // Sets both texts, shows the window and paints it at once.
  void Show(const QString& heading, const QString& message);
  // Replaces the message and paints at once.
  void SetMessage(const QString& message);
  // Shows `done` of `total` on the progress bar, with the text "done of total". The bar is
  // busy until the first call with a total above 0; later calls without one change
  // nothing, and for the same total the bar never goes back.
  void SetProgress(long done, long total);
  QString heading() const;
  QString message() const;

 signals:
  // The user pressed Cancel (or Esc); the button is disabled from then on.
  void cancelRequested();

 public slots:
  void reject() override;

 private:
  void PaintNow();
  QLabel* heading_;
  QLabel* message_;
  QProgressBar* progress_;
  QPushButton* cancel_;
  long done_ = 0;
  long total_ = 0;
};

// The window as directory work sees it: created by Show over `parent` (or with no parent),
// destroyed by Close. Every call may come from a worker thread: Show, SetMessage and
// Close are carried out by the GUI thread while the caller waits; SetProgress only posts
// the newest figures; CancelRequested reads a flag that the Cancel button sets. Create
// and destroy it on the GUI thread.
class WidgetPleaseWait : public directory::PleaseWait {
 public:
  explicit WidgetPleaseWait(QWidget* parent = nullptr);
  ~WidgetPleaseWait() override;
  void Show(const std::string& heading, const std::string& message) override;
  void SetMessage(const std::string& message) override;
  void SetProgress(long done, long total) override;
  bool CancelRequested() const override { return cancel_; }
  void Close() override;
  PleaseWaitDialog* dialog() const { return dialog_; }

 private:
  void ApplyProgress();
  QPointer<QWidget> parent_;
  QPointer<PleaseWaitDialog> dialog_;
  // Receives the posted progress updates; gone with this object, and its posts with it.
  std::unique_ptr<QObject> relay_;
  std::atomic<bool> cancel_{false};
  std::atomic<long> done_{0};
  std::atomic<long> total_{0};
  std::atomic<bool> progressPosted_{false};
};
