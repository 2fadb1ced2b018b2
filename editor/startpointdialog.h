// "Set Start Point": edits the search base, host and port of an entry point's LDAP URI.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QFormLayout;
class QLineEdit;
class QPushButton;

namespace kvaro {
class Oidtable;
}

// The decimal value of a port text as the start-point check reads it: optional leading
// white space and sign, then the leading digits; 0 when there are none. Values too large
// for an int are clamped to INT_MAX.
int PortValue(const std::string& portText);

// "<scheme>://<host>:<port>/<searchBase>" as libldap writes it (ldapx::MakeUrl): the
// search base percent-encoded where the URL syntax needs it, an IPv6 host in brackets;
// the scheme is "ldap" or "ldaps".
std::string MakeLdapUri(const std::string& host, const std::string& portText,
                        const std::string& searchBase, const std::string& scheme = "ldap");

// The start-point check shared by "Add Rule" and "Set Start Point" (no fault found by
// FindStartPointFault): the port value is
// 1..65535, the search base (spaces trimmed at both ends) is empty or a valid DN, and the
// URI built from the three texts reads back as the same host, port and search base, so an
// accepted start point is always one the panels and the directory client can use.
bool CheckStartPoint(const std::string& searchBase, const std::string& host,
                     const std::string& portText, const kvaro::Oidtable& table);

// What is wrong with a start point, in the order the check looks: the field at fault and
// the message that says why (its one argument is the field's text).
struct StartPointFault {
  enum Field { kNone, kBase, kHost, kPort };
  Field field = kNone;
  int messageId = 0;
  explicit operator bool() const { return field != kNone; }
};

// The start-point check with its reason: the port first (61275), then the search base
// (61278 for an invalid DN, 62175 for text the URI cannot carry), then the host (62176).
StartPointFault FindStartPointFault(const std::string& searchBase, const std::string& host,
                                    const std::string& portText, const kvaro::Oidtable& table);

// Shows the message of `fault` and puts the focus on the edit at fault (selecting its
// text). Nothing when there is no fault.
void ReportStartPointFault(const StartPointFault& fault, QLineEdit* base, QLineEdit* host,
                           QLineEdit* port);

// The three edits of a start point in a dialog.
struct StartPointEdits {
  QLineEdit* base = nullptr;  // kIdSearchBaseEdit
  QLineEdit* host = nullptr;  // kIdHostEdit
  QLineEdit* port = nullptr;  // kIdPortEdit
};

// Creates the three edits as children of `parent` and appends them to `form` as rows
// labelled "Search Base (DN)", "LDAP Host" and "LDAP Host Port".
StartPointEdits AddStartPointRows(QWidget* parent, QFormLayout* form);

// The start-point check applied to the texts of `edits`: the URI built from them with
// `scheme` when they pass; otherwise the fault is reported as ReportStartPointFault does
// and nothing is returned.
std::optional<std::string> TakeStartPoint(const StartPointEdits& edits,
                                          const kvaro::Oidtable& table,
                                          const std::string& scheme = "ldap");

class StartPointDialog : public QDialog {
  Q_OBJECT

 public:
  // Fills the edits from `uri` when it parses (a missing port shows as 389, for an
  // ldaps:// URI as 636); otherwise the edits start empty. OK keeps the URI's scheme. `table`
  // checks the search base and must outlive the dialog.
  StartPointDialog(const std::string& uri, const kvaro::Oidtable& table, QWidget* parent = nullptr);

  // On OK: the URI built from the three edits as typed. Before that, the given URI.
  std::string ldapUri;

 public slots:
  // Ends with OK only when the texts pass the start-point check; otherwise says why and
  // puts the focus on the field at fault.
  void accept() override;

 private:
  // OK is enabled exactly when the texts pass CheckStartPoint. Not run for a given URI
  // that did not parse: OK then starts enabled and, pressed, says what is missing.
  void updateWidgets();

  const kvaro::Oidtable& table_;
  std::string scheme_ = "ldap";
  StartPointEdits edits_;
  QPushButton* okButton_;
};
