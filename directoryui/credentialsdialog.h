// The logon dialog (template 152) that asks for the DN and password of a user with
// directory write permission.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "store/directory/directoryload.h"

class QLabel;
class QLineEdit;
class QPushButton;

class CredentialsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CredentialsDialog(QWidget* parent = nullptr);

  // The texts of 1032 and 1033 as typed when OK was pressed.
  std::string bindDn() const { return bindDn_; }
  std::string bindPassword() const { return bindPassword_; }
  // Puts values into the two edits (shown the next time the dialog runs).
  void SetValues(const std::string& dn, const std::string& password);
  // Says below the edits how the logon will travel (encrypted or in plain text); empty
  // hides the line.
  void SetSecurityText(const std::string& text);
  std::string securityText() const;

 public slots:
  void accept() override;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Places the controls at their dialog-unit positions; the two texts are as high as
  // their wrapped lines need (at least their dialog-unit height), and what lies below a
  // taller text moves down with it, the dialog growing to match.
  void LayOut();

  QLabel* text_;
  QLabel* dnLabel_;
  QLabel* pwLabel_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QLineEdit* dn_;
  QLineEdit* password_;
  QLabel* security_;
  std::string bindDn_;
  std::string bindPassword_;
};

// The logon as the loader asks for it: runs the one dialog modally each time, so a
// repeated showing holds the values typed before. Ask may be called from a worker thread
// (the dialog then runs on the GUI thread). Create it on the GUI thread.
class DialogCredentialsPrompt : public directory::CredentialsPrompt {
 public:
  explicit DialogCredentialsPrompt(QWidget* parent = nullptr);
  ~DialogCredentialsPrompt() override;
  bool Ask(std::string& dn, std::string& password) override;
  // Shows `problems` as message boxes (through the message sink, so also from the
  // loading thread).
  void Tell(const msg::Problems& problems) override;
  CredentialsDialog& dialog() { return *dialog_; }

 private:
  std::unique_ptr<CredentialsDialog> dialog_;
};
