#include "wizard/wizardframe.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>

#include "platform/support/messages.h"
#include "widgets/dialogunits.h"

namespace {

// Frame layout in dialog units.
constexpr QSize kFrameSize(292, 183);
constexpr QRect kBitmapRect(6, 6, 56, 124);
constexpr QRect kSeparatorRect(5, 155, 284, 2);
// Width of a window border in pixels (the system metric the button sizes add twice).
constexpr int kBorder = 1;

}  // namespace

// ---------------------------------------------------------------------------------------

WizardBitmap::WizardBitmap(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
}

void WizardBitmap::setPixmap(const QPixmap& pixmap) {
  pixmap_ = pixmap;
  update();
}

void WizardBitmap::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QRect client = contentsRect();
  painter.fillRect(client, palette().window());
  if (pixmap_.isNull()) return;
  painter.setClipRect(client);
  const QSize size = pixmap_.deviceIndependentSize().toSize();
  const int x = client.width() > size.width() ? (client.width() - size.width()) / 2 : 0;
  const int y = client.height() > size.height() ? (client.height() - size.height()) / 2 : 0;
  painter.drawPixmap(client.topLeft() + QPoint(x, y), pixmap_);
}

// ---------------------------------------------------------------------------------------

WizardPage::WizardPage(int templateId, QSize dluSize)
    : templateId_(templateId), dluSize_(dluSize) {}

WizardPage::~WizardPage() {
  DestroyPage();
  if (owner_) owner_->ForgetPage(this);
}

bool WizardPage::OnSetActive() { return true; }
bool WizardPage::Validate() { return true; }
int WizardPage::OnWizardNext() { return 0; }
int WizardPage::OnWizardBack() { return 0; }
bool WizardPage::OnWizardFinish() { return true; }

QWidget* WizardPage::CreatePage(WizardFrame* parent) {
  DestroyPage();
  frame_ = parent;
  auto* window = new QWidget(parent);
  window->setObjectName(QStringLiteral("page%1").arg(templateId_));
  window->setFixedSize(dlgu::ToPixels(parent->font(), dluSize_));
  window->setEnabled(false);
  window_ = window;
  InitWindow(window);
  window->show();
  return window;
}

void WizardPage::DestroyPage() {
  if (!window_) return;
  QWidget* window = window_;
  window_ = nullptr;
  // The window may be destroyed from inside one of its own children's event handlers
  // (Enter in an edit presses the default button), so it leaves the frame at once and is
  // deleted when control is back in the event loop.
  window->hide();
  window->setParent(nullptr);
  window->deleteLater();
}

bool WizardPage::GetTitle(std::string& out) const {
  out = std::string(msg::LoadString(templateId_));
  return true;
}

// ---------------------------------------------------------------------------------------

WizardFrame::WizardFrame(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Wizard"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(true);
  setFixedSize(dlgu::ToPixels(font(), kFrameSize));

  back_ = MakeButton(kIdBack, "&Back");
  next_ = MakeButton(kIdNext, "&Next");
  finish_ = MakeButton(kIdFinish, "&Finish");
  cancel_ = MakeButton(kIdCancel, "&Cancel");
  connect(back_, &QPushButton::clicked, this, &WizardFrame::Back);
  connect(next_, &QPushButton::clicked, this, &WizardFrame::Next);
  connect(finish_, &QPushButton::clicked, this, &WizardFrame::Finish);
  connect(cancel_, &QPushButton::clicked, this, &WizardFrame::reject);

  bitmap_ = new WizardBitmap(this);
  bitmap_->setObjectName(ObjectName(kIdWizardBitmap));
  bitmap_->setGeometry(dlgu::ToPixels(font(), kBitmapRect));

  separator_ = new QFrame(this);
  separator_->setObjectName(ObjectName(kIdWizardSeparator));
  separator_->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  separator_->setGeometry(dlgu::ToPixels(font(), kSeparatorRect));
}

WizardFrame::~WizardFrame() { DestroyPages(); }

void WizardFrame::DestroyPages() {
  // Page windows are children of the frame; the pages must not touch them afterwards.
  for (WizardPage* page : pages_) {
    page->DestroyPage();
    page->owner_ = nullptr;
  }
  pages_.clear();
}

void WizardFrame::ForgetPage(WizardPage* page) {
  std::erase(pages_, page);
  if (current_ >= pageCount()) current_ = pageCount() - 1;
}

QPushButton* WizardFrame::MakeButton(int id, const char* caption) {
  auto* button = new QPushButton(QString::fromUtf8(caption), this);
  button->setObjectName(ObjectName(id));
  button->setAutoDefault(false);
  button->hide();
  return button;
}

QPushButton* WizardFrame::button(int id) const {
  switch (id) {
    case kIdBack:
      return back_;
    case kIdNext:
      return next_;
    case kIdFinish:
      return finish_;
    case kIdCancel:
      return cancel_;
    default:
      return nullptr;
  }
}

void WizardFrame::AddPage(WizardPage* page) {
  page->owner_ = this;
  pages_.push_back(page);
}

WizardPage* WizardFrame::GetActivePage() const {
  if (current_ < 0 || current_ >= pageCount()) return nullptr;
  return pages_[static_cast<size_t>(current_)];
}

void WizardFrame::showEvent(QShowEvent* event) {
  InitFrame();
  QDialog::showEvent(event);
}

void WizardFrame::InitFrame() {
  if (initialised_) return;
  initialised_ = true;
  // Scale the picture so that the gap between it and the separator line equals its top
  // margin, keeping its aspect ratio.
  const QRect b = bitmap_->geometry();
  const QRect l = separator_->geometry();
  if (b.height() > 0) {
    const double s = static_cast<double>(l.top() - 2 * b.top()) / b.height();
    bitmap_->setGeometry(b.left(), b.top(), static_cast<int>(b.width() * s),
                         static_cast<int>(b.height() * s));
  }
  ShowPage(firstPage_);
}

int WizardFrame::ShowPage(int index) {
  if (index < 0 || index >= pageCount()) return current_;
  if (WizardPage* old = GetActivePage()) old->DestroyPage();
  current_ = index;
  WizardPage* page = pages_[static_cast<size_t>(index)];
  QWidget* window = page->CreatePage(this);
  const QRect b = bitmap_->geometry();
  window->move(b.left() + b.width() + 8, b.top());
  std::string title;
  page->GetTitle(title);
  setWindowTitle(QString::fromStdString(title));
  window->setEnabled(true);
  page->OnSetActive();
  // Keyboard users land inside the page even when the page chose no control itself.
  QWidget* focus = focusWidget();
  if (!focus || !window->isAncestorOf(focus)) {
    QWidget* first = window->nextInFocusChain();
    while (first && first != window &&
           !(window->isAncestorOf(first) && first->isEnabled() &&
             first->focusPolicy() & Qt::TabFocus)) {
      first = first->nextInFocusChain();
    }
    if (first && first != window) {
      first->setFocus(Qt::OtherFocusReason);
    } else if (QPushButton* def = button(defaultId_)) {
      def->setFocus(Qt::OtherFocusReason);
    }
  }
  return index;
}

void WizardFrame::SetButtons(int flags) {
  for (QPushButton* b : {cancel_, next_, back_, finish_}) {
    b->hide();
    b->setEnabled(true);
    b->setDefault(false);
  }
  QRect r = rect();
  int right = r.right() + 1 - 12;
  const int bottom = r.bottom() + 1 - 10;
  const QFontMetrics fm(font());
  const int cy = fm.height();
  const int top = bottom - (cy + 10);
  auto place = [&](QPushButton* b) {
    const int cx = fm.horizontalAdvance(b->text());
    const int left = right - (cx + 2 * kBorder + 32);
    b->setGeometry(left, top, right - left, bottom - top);
    b->show();
    right = left - 12;
  };
  place(cancel_);
  if (flags & kWizFinish) place(finish_);
  if (flags & kWizNext) place(next_);
  if (flags & kWizBack) place(back_);
  if (flags & kWizDisabledFinish) finish_->setEnabled(false);

  defaultId_ = (flags & kWizFinish) ? kIdFinish : (flags & kWizNext) ? kIdNext : kIdCancel;
  button(defaultId_)->setDefault(true);
}

void WizardFrame::Next() {
  WizardPage* page = GetActivePage();
  if (!page || next_->isHidden()) return;
  if (!page->Validate()) return;
  int n = page->OnWizardNext();
  if (n == -1) return;
  if (n == 0) n = current_ + 1;
  ShowPage(n);
}

void WizardFrame::Back() {
  WizardPage* page = GetActivePage();
  if (!page || back_->isHidden()) return;
  int n = page->OnWizardBack();
  if (n == -1) return;
  if (n == 0) n = current_ - 1;
  ShowPage(n);
}

void WizardFrame::Finish() {
  WizardPage* page = GetActivePage();
  if (!page || finish_->isHidden() || !finish_->isEnabled()) return;
  if (page->OnWizardFinish()) done(kIdFinish);
}
