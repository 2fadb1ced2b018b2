// Drives modal dialogs and message boxes from a test whose own code is about to block in
// exec(). Header only: the test support library itself does not link Qt Widgets.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

namespace testsupport {

// How long a step waits for its modal widget before the driver gives up.
inline constexpr int kModalTimeoutMs = 5000;

// Runs each step's action on the active modal widget once it is up, one step per widget,
// in order. A step with an objectName waits for a modal widget of that name; a step with
// a match function waits for a widget it accepts; a step with neither takes the next
// modal widget. Actions run outside the polling timer, so an action may open a nested
// modal dialog that a later step drives. When a step waits longer than the time-out,
// every open modal widget is closed so that a failing test cannot hang.
class ModalDriver : public QObject {
 public:
  using Action = std::function<void(QWidget*)>;
  using Match = std::function<bool(QWidget*)>;

  explicit ModalDriver(int timeoutMs = kModalTimeoutMs) : timeoutMs_(timeoutMs) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  }
  ~ModalDriver() override { timer_.stop(); }

  // Adds a step for the modal widget named `objectName` (any modal widget when empty).
  ModalDriver& Then(const QString& objectName, Action action) {
    return ThenMatching(
        [objectName](QWidget* w) { return objectName.isEmpty() || w->objectName() == objectName; },
        std::move(action));
  }
  // Adds a step for the first modal widget `match` accepts.
  ModalDriver& ThenMatching(Match match, Action action) {
    steps_.push_back({std::move(match), std::move(action)});
    if (!timer_.isActive()) {
      clock_.start();
      timer_.start();
    }
    return *this;
  }
  // True when every step ran and none timed out.
  bool Done() const { return steps_.empty() && !timedOut_; }
  bool TimedOut() const { return timedOut_; }
  // The driver deletes itself once its steps ran or timed out.
  void DeleteWhenDone() { deleteWhenDone_ = true; }

 private:
  struct Step {
    Match match;
    Action action;
  };

  void Poll() {
    if (steps_.empty()) {
      Finish();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && steps_.front().match(modal)) {
      Action action = std::move(steps_.front().action);
      steps_.pop_front();
      clock_.restart();
      QPointer<QWidget> target(modal);
      QTimer::singleShot(0, modal, [target, action] {
        if (target) action(target);
      });
      if (steps_.empty()) Finish();
      return;
    }
    if (clock_.elapsed() > timeoutMs_) {
      timedOut_ = true;
      steps_.clear();
      Finish();
      while (QWidget* open = QApplication::activeModalWidget()) open->close();
    }
  }

  void Finish() {
    timer_.stop();
    if (deleteWhenDone_) deleteLater();
  }

  std::deque<Step> steps_;
  QTimer timer_;
  QElapsedTimer clock_;
  int timeoutMs_;
  bool timedOut_ = false;
  bool deleteWhenDone_ = false;
};

// Runs `action` on the next modal widget once it is up (e.g. to answer a dialog the
// caller is about to exec()). Gives up after the time-out, closing any modal widget.
inline void OnNextModal(ModalDriver::Action action, int timeoutMs = kModalTimeoutMs) {
  auto* driver = new ModalDriver(timeoutMs);
  driver->DeleteWhenDone();
  driver->Then(QString(), std::move(action));
}

// The same for the next modal widget of type T.
template <typename T>
void OnNextModalOf(std::function<void(T*)> action, int timeoutMs = kModalTimeoutMs) {
  auto* driver = new ModalDriver(timeoutMs);
  driver->DeleteWhenDone();
  driver->ThenMatching([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                       [action](QWidget* w) { action(static_cast<T*>(w)); });
}

}  // namespace testsupport
