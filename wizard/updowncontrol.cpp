#include "wizard/updowncontrol.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

int LeadingNumber(const std::string& text, const char* skip) {
  const std::string_view set(skip);
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && set.find(text[begin]) != std::string_view::npos) ++begin;
  while (end > begin && set.find(text[end - 1]) != std::string_view::npos) --end;
  long long value = 0;
  for (size_t i = begin; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setObjectName(QStringLiteral("up"));
  up_->setArrowType(Qt::UpArrow);
  up_->setAutoRepeat(true);
  up_->setFocusPolicy(Qt::NoFocus);
  down_ = new QToolButton(this);
  down_->setObjectName(QStringLiteral("down"));
  down_->setArrowType(Qt::DownArrow);
  down_->setAutoRepeat(true);
  down_->setFocusPolicy(Qt::NoFocus);
  for (QToolButton* b : {up_, down_}) {
    b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    b->setFixedWidth(16);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDownControl::setRange(int minimum, int maximum) {
  min_ = std::min(minimum, maximum);
  max_ = std::max(minimum, maximum);
}

void UpDownControl::setBuddy(QLineEdit* buddy) {
  if (buddy_) buddy_->removeEventFilter(this);
  buddy_ = buddy;
  if (buddy_) buddy_->installEventFilter(this);
}

void UpDownControl::stepBy(int steps) {
  if (!buddy_ || !isEnabled()) return;
  const int current = std::clamp(LeadingNumber(buddy_->text().toStdString()), min_, max_);
  const long long next = std::clamp(static_cast<long long>(current) + steps,
                                    static_cast<long long>(min_), static_cast<long long>(max_));
  buddy_->setText(QString::number(next));
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == buddy_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      stepBy(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
