// The generic wizard frame: page changes, the hooks' results, the button row, the caption
// and the side picture.
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "tests/support/modaldriver.h"
#include "widgets/dialogunits.h"
#include "wizard/tests/wizardtestutil.h"
#include "wizard/wizardframe.h"

namespace {

// A page whose hooks return what the test sets, and that counts its calls.
class ScriptedPage : public WizardPage {
 public:
  ScriptedPage(int id, int buttons) : WizardPage(id), buttons_(buttons) {}
  bool OnSetActive() override {
    ++activations;
    frame()->SetButtons(buttons_);
    return true;
  }
  bool Validate() override {
    ++validations;
    return valid;
  }
  int OnWizardNext() override { return next; }
  int OnWizardBack() override { return back; }
  bool OnWizardFinish() override { return finish; }

  int next = 0;
  int back = 0;
  bool valid = true;
  bool finish = true;
  int activations = 0;
  int validations = 0;
  int value = 0;  // survives the page window

 protected:
  void InitWindow(QWidget* window) override {
    auto* layout = new QVBoxLayout(window);
    auto* label = new QLabel(QStringLiteral("page %1").arg(templateId()), window);
    label->setObjectName(QStringLiteral("label"));
    layout->addWidget(label);
  }

 private:
  int buttons_;
};

struct Frame {
  Frame() {
    frame.AddPage(&a);
    frame.AddPage(&b);
    frame.AddPage(&c);
    frame.show();
  }
  WizardFrame frame;
  ScriptedPage a{151, kWizBack | kWizNext};
  ScriptedPage b{160, kWizBack | kWizNext};
  ScriptedPage c{156, kWizBack | kWizFinish};
};

int PageWindows(const WizardFrame& frame) {
  int n = 0;
  for (QObject* child : frame.children()) {
    if (child->objectName().startsWith(QStringLiteral("page"))) ++n;
  }
  return n;
}

}  // namespace

class WizardFrameTest : public QObject {
  Q_OBJECT
 private slots:
  void firstPageShownOnOpen() {
    Frame f;
    QCOMPARE(f.frame.currentIndex(), 0);
    QCOMPARE(f.frame.GetActivePage(), &f.a);
    QCOMPARE(f.a.activations, 1);
    QVERIFY(f.a.window());
    QVERIFY(f.a.window()->isEnabled());
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Configuration Setup"));
  }

  void backOnFirstPageDoesNothing() {
    Frame f;
    QVERIFY(!f.frame.button(kIdBack)->isHidden());
    wiztest::Press(f.frame, kIdBack);
    QCOMPARE(f.frame.currentIndex(), 0);
    QCOMPARE(f.a.activations, 1);
  }

  void showPageRefusesIndicesOutside() {
    Frame f;
    QCOMPARE(f.frame.ShowPage(-1), 0);
    QCOMPARE(f.frame.ShowPage(3), 0);
    QCOMPARE(f.frame.ShowPage(99), 0);
    QCOMPARE(f.a.activations, 1);
    QCOMPARE(f.frame.ShowPage(2), 2);
    QCOMPARE(f.frame.ShowPage(3), 2);
  }

  void nextAndBackFollowTheHooks() {
    Frame f;
    wiztest::Press(f.frame, kIdNext);
    QCOMPARE(f.frame.currentIndex(), 1);
    QCOMPARE(f.a.validations, 1);
    // -1 stays.
    f.b.next = -1;
    wiztest::Press(f.frame, kIdNext);
    QCOMPARE(f.frame.currentIndex(), 1);
    QCOMPARE(f.b.activations, 1);
    // Validate false stays without asking OnWizardNext.
    f.b.next = 2;
    f.b.valid = false;
    wiztest::Press(f.frame, kIdNext);
    QCOMPARE(f.frame.currentIndex(), 1);
    f.b.valid = true;
    wiztest::Press(f.frame, kIdNext);
    QCOMPARE(f.frame.currentIndex(), 2);
    // Back does not validate; an explicit index jumps.
    f.c.valid = false;
    f.c.back = 0;
    wiztest::Press(f.frame, kIdBack);
    QCOMPARE(f.frame.currentIndex(), 1);
    QCOMPARE(f.c.validations, 0);
    f.b.back = -1;
    wiztest::Press(f.frame, kIdBack);
    QCOMPARE(f.frame.currentIndex(), 1);
  }

  void explicitBackIndex() {
    Frame f;
    f.frame.ShowPage(2);
    f.c.back = 2;  // stays by naming itself: the window is made afresh
    QWidget* before = f.c.window();
    wiztest::Press(f.frame, kIdBack);
    QCOMPARE(f.frame.currentIndex(), 2);
    QCOMPARE(f.c.activations, 2);
    QVERIFY(f.c.window() != before);
    f.c.back = 9;  // outside: refused
    wiztest::Press(f.frame, kIdBack);
    QCOMPARE(f.frame.currentIndex(), 2);
    f.c.back = 0;
    wiztest::Press(f.frame, kIdBack);
    QCOMPARE(f.frame.currentIndex(), 1);
  }

  void oneWindowAtATimeAndValuesKept() {
    Frame f;
    f.a.value = 42;
    for (int i : {1, 2, 0, 2, 1}) {
      f.frame.ShowPage(i);
      QCOMPARE(PageWindows(f.frame), 1);
    }
    QVERIFY(!f.a.window());
    QVERIFY(f.b.window());
    QCOMPARE(f.a.value, 42);
  }

  void pagePlacedBesideThePicture() {
    Frame f;
    const QRect bitmap = f.frame.sideBitmap()->geometry();
    QCOMPARE(f.a.window()->pos(), QPoint(bitmap.x() + bitmap.width() + 8, bitmap.y()));
    // The page and picture stay above the separator.
    QVERIFY(f.a.window()->geometry().bottom() < f.frame.separator()->geometry().top());
    QVERIFY(f.a.window()->geometry().right() < f.frame.width());
  }

  void pictureScaledToTheSeparator() {
    Frame f;
    const QRect b = f.frame.sideBitmap()->geometry();
    const QRect l = f.frame.separator()->geometry();
    // The gap below the picture equals its top margin (up to truncation).
    QVERIFY2(qAbs((l.top() - (b.y() + b.height())) - b.y()) <= 1,
             qPrintable(QStringLiteral("b=%1,%2 %3x%4 l.top=%5")
                            .arg(b.x())
                            .arg(b.y())
                            .arg(b.width())
                            .arg(b.height())
                            .arg(l.top())));
    // The picture keeps the proportions of a 56 x 124 unit area of the 292 x 183 unit
    // frame, whatever the font makes of a unit.
    const double unitWidth = double(f.frame.width()) / 292;
    const double unitHeight = double(f.frame.height()) / 183;
    const double designed = (56 * unitWidth) / (124 * unitHeight);
    const double shown = double(b.width()) / b.height();
    QVERIFY2(qAbs(designed - shown) < 0.02, qPrintable(QString::number(shown)));
  }

  void captionFromThePageTitle() {
    Frame f;
    wiztest::Press(f.frame, kIdNext);
    // There is no string 160: the caption is empty.
    QCOMPARE(f.frame.windowTitle(), QString());
    wiztest::Press(f.frame, kIdNext);
    QCOMPARE(f.frame.windowTitle(), QStringLiteral("Summary"));
  }

  void buttonRowRightAlignedAndSized() {
    Frame f;
    WizardFrame& w = f.frame;
    const QFontMetrics fm(w.font());
    auto* cancel = w.button(kIdCancel);
    auto* next = w.button(kIdNext);
    auto* back = w.button(kIdBack);
    auto* finish = w.button(kIdFinish);
    QVERIFY(!cancel->isHidden());
    QVERIFY(!next->isHidden());
    QVERIFY(!back->isHidden());
    QVERIFY(finish->isHidden());
    QCOMPARE(w.defaultButtonId(), kIdNext);
    QVERIFY(next->isDefault());
    // Right to left: Cancel, Next, Back, 12 pixels apart, 12 from the right edge and 10
    // from the bottom.
    QCOMPARE(cancel->geometry().right() + 1, w.width() - 12);
    QCOMPARE(cancel->geometry().bottom() + 1, w.height() - 10);
    QCOMPARE(next->geometry().right() + 1, cancel->x() - 12);
    QCOMPARE(back->geometry().right() + 1, next->x() - 12);
    // Every button leaves the same room around its caption, and is a little taller than
    // a line of text.
    const int room = cancel->width() - fm.horizontalAdvance(cancel->text());
    QVERIFY(room > 0);
    for (QPushButton* b : {cancel, next, back}) {
      QCOMPARE(b->width() - fm.horizontalAdvance(b->text()), room);
      QCOMPARE(b->height(), cancel->height());
      QVERIFY(b->height() > fm.height());
      QCOMPARE(b->y(), cancel->y());
    }

    // The summary-like page: Finish default, Next hidden.
    w.ShowPage(2);
    QVERIFY(next->isHidden());
    QVERIFY(!finish->isHidden());
    QVERIFY(finish->isDefault());
    QCOMPARE(w.defaultButtonId(), kIdFinish);
    QCOMPARE(finish->geometry().right() + 1, cancel->x() - 12);
    QCOMPARE(back->geometry().right() + 1, finish->x() - 12);

    // Longer captions give wider buttons; the row stays right-aligned.
    const int oldWidth = back->width();
    back->setText(QStringLiteral("&Back to the start"));
    cancel->setText(QStringLiteral("&Cancel the set-up"));
    w.SetButtons(kWizBack | kWizNext);
    QVERIFY(back->width() > oldWidth);
    QCOMPARE(cancel->geometry().right() + 1, w.width() - 12);
    QCOMPARE(cancel->width() - fm.horizontalAdvance(cancel->text()), room);
    QCOMPARE(back->width() - fm.horizontalAdvance(back->text()), room);
    QCOMPARE(next->geometry().right() + 1, cancel->x() - 12);
    QCOMPARE(back->geometry().right() + 1, next->x() - 12);
  }

  void disabledFinishAndCancelDefault() {
    Frame f;
    WizardFrame& w = f.frame;
    w.SetButtons(kWizFinish | kWizDisabledFinish);
    QVERIFY(!w.button(kIdFinish)->isHidden());
    QVERIFY(!w.button(kIdFinish)->isEnabled());
    w.SetButtons(0);
    QCOMPARE(w.defaultButtonId(), kIdCancel);
    QVERIFY(w.button(kIdNext)->isHidden());
    QVERIFY(w.button(kIdBack)->isHidden());
    QVERIFY(w.button(kIdFinish)->isHidden());
    QVERIFY(!w.button(kIdCancel)->isHidden());
    // A hidden Next does nothing, even when reached from the keyboard.
    w.Next();
    QCOMPARE(w.currentIndex(), 0);
  }

  void finishEndsTheRunWith12325() {
    WizardFrame frame;
    ScriptedPage a{151, kWizBack | kWizNext};
    ScriptedPage c{156, kWizBack | kWizFinish};
    frame.AddPage(&a);
    frame.AddPage(&c);
    c.finish = false;
    testsupport::OnNextModal([&](QWidget*) {
      frame.Next();
      frame.Finish();  // refused by the page
      QCOMPARE(frame.currentIndex(), 1);
      c.finish = true;
      QTest::keyClick(&frame, Qt::Key_Return);  // Finish is the default button
    });
    QCOMPARE(frame.exec(), kIdFinish);
  }

  void smallPictureCentredLargeOneClipped() {
    WizardBitmap bitmap;
    bitmap.setFrameStyle(QFrame::NoFrame);
    bitmap.resize(100, 200);
    QPalette pal = bitmap.palette();
    pal.setColor(QPalette::Window, Qt::white);
    bitmap.setPalette(pal);
    QPixmap small(20, 40);
    small.fill(Qt::red);
    bitmap.setPixmap(small);
    QImage img = bitmap.grab().toImage();
    QCOMPARE(img.pixelColor(50, 100), QColor(Qt::red));
    QCOMPARE(img.pixelColor(40, 80), QColor(Qt::red));  // (100-20)/2, (200-40)/2
    QCOMPARE(img.pixelColor(39, 79), QColor(Qt::white));
    QCOMPARE(img.pixelColor(60, 120), QColor(Qt::white));
    QCOMPARE(img.pixelColor(0, 0), QColor(Qt::white));

    QPixmap large(300, 300);
    large.fill(Qt::blue);
    {
      QPainter p(&large);
      p.fillRect(0, 0, 5, 5, Qt::green);
    }
    bitmap.setPixmap(large);
    img = bitmap.grab().toImage();
    QCOMPARE(img.pixelColor(0, 0), QColor(Qt::green));
    QCOMPARE(img.pixelColor(99, 199), QColor(Qt::blue));
  }
};

QTEST_MAIN(WizardFrameTest)
#include "test_wizardframe.moc"
