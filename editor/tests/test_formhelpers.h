// Helpers for the form dialog and panel tests: a script that drives modal dialogs one
// after another, and a small attribute table.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

#include "model/configuration.h"
#include "platform/support/oidtable.h"

namespace formtest {

// Runs each step's action on the modal widget of the step's objectName once it is the
// active modal widget. Actions run outside the polling timer, so an action may open a
// nested modal dialog that a later step drives. When a step waits longer than five
// seconds, every open modal widget is closed so a failing test cannot hang.
class ModalScript : public QObject {
 public:
  using Action = std::function<void(QWidget*)>;

  ModalScript() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  }
  ~ModalScript() override { timer_.stop(); }

  ModalScript& Then(const QString& objectName, Action action) {
    steps_.push_back({objectName, std::move(action)});
    if (!timer_.isActive()) {
      clock_.start();
      timer_.start();
    }
    return *this;
  }
  bool Done() const { return steps_.empty() && !timedOut_; }
  bool TimedOut() const { return timedOut_; }

 private:
  struct Step {
    QString objectName;
    Action action;
  };

  void Poll() {
    if (steps_.empty()) {
      timer_.stop();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->objectName() == steps_.front().objectName) {
      Action action = std::move(steps_.front().action);
      steps_.pop_front();
      clock_.restart();
      QPointer<QWidget> target(modal);
      QTimer::singleShot(0, modal, [target, action] {
        if (target) action(target);
      });
      return;
    }
    if (clock_.elapsed() > 5000) {
      timedOut_ = true;
      steps_.clear();
      timer_.stop();
      while (QWidget* open = QApplication::activeModalWidget()) open->close();
    }
  }

  std::deque<Step> steps_;
  QTimer timer_;
  QElapsedTimer clock_;
  bool timedOut_ = false;
};

// A table that knows the attribute types cn (commonName), sn (surname), mail and
// telephoneNumber and the object classes person, organizationalPerson and inetOrgPerson.
inline void LoadSmallTable(kvaro::Oidtable& table) {
  table.LoadText(
      "attributetype ( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )\n"
      "attributetype ( 2.5.4.4 NAME ( 'sn' 'surname' ) SUP name )\n"
      "attributetype ( 0.9.2342.19200300.100.1.3 NAME 'mail' "
      "EQUALITY caseIgnoreIA5Match SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )\n"
      "attributetype ( 2.5.4.20 NAME 'telephoneNumber' "
      "SYNTAX 1.3.6.1.4.1.1466.115.121.1.50{32} )\n"
      "objectclass ( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST ( sn $ cn ) )\n"
      "objectclass ( 2.5.6.7 NAME 'organizationalPerson' SUP person STRUCTURAL )\n"
      "objectclass ( 2.16.840.1.113730.3.2.2 NAME 'inetOrgPerson' "
      "SUP organizationalPerson STRUCTURAL )\n");
}

// A configuration with one rule set "Standard" (search rules Person and Room, entry point
// Root) and one form "People": target group "Who" (Person) and further groups A (Person)
// and B (Room). Fields: Who has "Name" (cn, sn); A has "Phone" (telephoneNumber) and
// "Email" (mail); B has "Room Name" (cn).
inline void BuildSample(Configuration& config) {
  auto* standard = new RuleSet("Standard");
  config.ruleSets.emplace_back(standard);
  SearchRule person(standard, "Person", {}, std::vector<std::string>{"person", "inetOrgPerson"});
  SearchRule room(standard, "Room", {}, std::vector<std::string>{"organizationalPerson"});
  SearchRule root(standard, "Root", {}, std::string("ldap://dirhost:389/o=Sample"));
  standard->AddRule(&person);
  standard->AddRule(&room);
  standard->AddRule(&root);

  auto* target = new InputGroup("Who", standard->FindRule("Person"));
  target->AddField("Name", "", {"cn", "sn"});
  auto* a = new InputGroup("A", standard->FindRule("Person"));
  a->AddField("Phone", "", {"telephoneNumber"});
  a->AddField("Email", "", {"mail"});
  auto* b = new InputGroup("B", standard->FindRule("Room"));
  b->AddField("Room Name", "", {"cn"});
  config.searchForms.emplace_back(new SearchForm("People", standard, target, {a, b}));
}

}  // namespace formtest
