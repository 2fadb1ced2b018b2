// A generic page-by-page wizard: a modal frame that hosts one page window at a time,
// owns the Back, Next, Finish and Cancel buttons and shows a side picture.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <string>
#include <vector>

#include "wizard/controlids.h"

class QPushButton;
class WizardFrame;

// SetButtons flags.
inline constexpr int kWizBack = 1;
inline constexpr int kWizNext = 2;
inline constexpr int kWizFinish = 4;
inline constexpr int kWizDisabledFinish = 8;

// The side picture: drawn at its natural size, centred when smaller than the control,
// from the top-left corner and clipped when larger; the rest is background.
class WizardBitmap : public QFrame {
  Q_OBJECT
 public:
  explicit WizardBitmap(QWidget* parent = nullptr);
  void setPixmap(const QPixmap& pixmap);
  const QPixmap& pixmap() const { return pixmap_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap pixmap_;
};

// One page of a wizard. The page object lives as long as its wizard; its window exists
// only while the page is current and is built afresh on every visit.
class WizardPage {
 public:
  // `templateId` names the page: its title is the string with the same id. `dluSize` is
  // the page window's size in dialog units.
  explicit WizardPage(int templateId, QSize dluSize = QSize(201, 135));
  virtual ~WizardPage();
  WizardPage(const WizardPage&) = delete;
  WizardPage& operator=(const WizardPage&) = delete;

  // Navigation hooks. OnSetActive runs each time the page becomes current; Validate
  // before Next leaves it (false keeps the page). OnWizardNext and OnWizardBack return
  // -1 to stay, 0 for the neighbouring page, or the index of the page to show.
  // OnWizardFinish returns true to end the wizard.
  virtual bool OnSetActive();
  virtual bool Validate();
  virtual int OnWizardNext();
  virtual int OnWizardBack();
  virtual bool OnWizardFinish();

  // Builds the page window as a visible but disabled child of `parent` and runs the
  // page's window initialisation. Returns the window.
  QWidget* CreatePage(WizardFrame* parent);
  // Destroys the page window (if any); the page object keeps its values.
  void DestroyPage();
  // The string whose id is the template id; empty when there is none. Always true.
  bool GetTitle(std::string& out) const;

  int templateId() const { return templateId_; }
  QWidget* window() const { return window_; }
  WizardFrame* frame() const { return frame_; }
  // The page control with the given id (objectName), or null.
  template <typename T>
  T* Control(int id) const {
    return window_ ? window_->findChild<T*>(ObjectName(id)) : nullptr;
  }

 protected:
  // Fills a freshly made window with the page's controls.
  virtual void InitWindow(QWidget* window) = 0;

 private:
  int templateId_;
  QSize dluSize_;
  QPointer<QWidget> window_;
  WizardFrame* frame_ = nullptr;
  // The wizard the page was added to; a page destroyed before its wizard leaves it.
  WizardFrame* owner_ = nullptr;
  friend class WizardFrame;
};

// The modal frame. Pages are added before the frame runs; the frame does not own them.
// exec() returns kIdFinish when the wizard ends by Finish.
class WizardFrame : public QDialog {
  Q_OBJECT
 public:
  explicit WizardFrame(QWidget* parent = nullptr);
  ~WizardFrame() override;

  // Appends a page. Only before the frame runs.
  void AddPage(WizardPage* page);
  // Destroys every page's window and forgets the pages. A derived wizard that owns its
  // pages as members calls this in its destructor, before those members are gone.
  void DestroyPages();
  // Takes a page out of the sequence (its destructor calls this).
  void ForgetPage(WizardPage* page);
  int pageCount() const { return static_cast<int>(pages_.size()); }
  int currentIndex() const { return current_; }

  // Makes page `index` current and returns the index that is current afterwards; an
  // index outside the pages changes nothing.
  int ShowPage(int index);
  WizardPage* GetActivePage() const;
  // Shows, places and sets the default among the buttons (kWiz* flags). Cancel is always
  // shown; the row is right-aligned, each button as wide as its caption plus 32 pixels.
  void SetButtons(int flags);
  // The id of the default button (kIdFinish, kIdNext or kIdCancel).
  int defaultButtonId() const { return defaultId_; }
  QPushButton* button(int id) const;
  WizardBitmap* sideBitmap() const { return bitmap_; }
  QFrame* separator() const { return separator_; }

  // What the buttons do; public so keyboard and tests reach the same paths.
  void Next();
  void Back();
  void Finish();

 protected:
  void showEvent(QShowEvent* event) override;
  // Lays out the picture beside the separator and shows the first page (firstPage_);
  // runs once, before the frame is first shown.
  virtual void InitFrame();
  // The page shown first.
  int firstPage_ = 0;

 private:
  QPushButton* MakeButton(int id, const char* caption);

  std::vector<WizardPage*> pages_;
  int current_ = -1;
  int defaultId_ = kIdCancel;
  bool initialised_ = false;
  QPushButton* back_;
  QPushButton* next_;
  QPushButton* finish_;
  QPushButton* cancel_;
  WizardBitmap* bitmap_;
  QFrame* separator_;
};
