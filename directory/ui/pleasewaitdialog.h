// The modeless "Please Wait..." window (template 153) shown while directory work blocks
// the program: a bold heading (1034) and a message (1035), painted at once after every
// change because no events are processed meanwhile.
#pragma once

#include <QDialog>
#include <QPointer>
#include <string>

#include "directorysave.h"

class QLabel;

class PleaseWaitDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PleaseWaitDialog(QWidget* parent = nullptr);

  // Sets both texts, shows the window and paints it at once.
  void Show(const QString& heading, const QString& message);
  // Replaces the message and paints at once.
  void SetMessage(const QString& message);
  QString heading() const;
  QString message() const;

 private:
  void PaintNow();
  QLabel* heading_;
  QLabel* message_;
};

// The window as the save sees it: created by Show over `parent` (or with no parent),
// destroyed by Close.
class WidgetPleaseWait : public directory::PleaseWait {
 public:
  explicit WidgetPleaseWait(QWidget* parent = nullptr) : parent_(parent) {}
  ~WidgetPleaseWait() override;
  void Show(const std::string& heading, const std::string& message) override;
  void SetMessage(const std::string& message) override;
  void Close() override;
  PleaseWaitDialog* dialog() const { return dialog_; }

 private:
  QPointer<QWidget> parent_;
  QPointer<PleaseWaitDialog> dialog_;
};
