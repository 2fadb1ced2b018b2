// A pair of arrow buttons that step the number in a buddy line edit.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// The arrows (and the Up/Down keys in the buddy) step the buddy's number within the
// range; text typed into the buddy is not limited by it.
class UpDownControl : public QWidget {
  Q_OBJECT
 public:
  explicit UpDownControl(QWidget* parent = nullptr);

  void setRange(int minimum, int maximum);
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  // Binds the control to `buddy` (null unbinds).
  void setBuddy(QLineEdit* buddy);
  QLineEdit* buddy() const { return buddy_; }
  // Steps the buddy's value by `steps`: the value is first brought into the range, then
  // stepped, and stays within the range.
  void stepBy(int steps);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QToolButton* up_;
  QToolButton* down_;
  QLineEdit* buddy_ = nullptr;
  int min_ = 0;
  int max_ = 100;
};

// The decimal value of the leading digits of `text` (after `skip` characters are
// trimmed from both ends); 0 when there are none. Values beyond int's range saturate.
int LeadingNumber(const std::string& text, const char* skip = "");
