// The editor's main window: menu, status bar, and a splitter with the configuration
// tree on the left and the selected node's property panel on the right.
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QSplitter>
#include <functional>
#include <map>
#include <string>

#include "app/savestatus.h"

class CConfigTree;
class CHelpWindow;
class Configuration;
class OVS_LHSClientWnd;
class OVS_RHSClientWnd;
class QAction;
class QLabel;
namespace store {
struct Session;
}
namespace kvaro {
class Oidtable;
}

// The splitter between the panes; its bar is drawn raised in the button-face colour.
class CMainSplitter : public QSplitter {
  Q_OBJECT

 public:
  explicit CMainSplitter(QWidget* parent = nullptr);

 protected:
  QSplitterHandle* createHandle() override;
};

// The About box: a borderless picture that Enter, Esc or a click closes.
class CAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDialog(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // Saves the configuration (the save reports its own failures).
  using SaveFunction = std::function<SaveStatus(Configuration&)>;
  // Loads the stored configuration afresh into `into` (empty), through the frame's
  // session; false when it could not (having said why).
  using ReloadFunction = std::function<bool(Configuration& into)>;

  // Command ids of the menu and accelerators.
  enum Command : int {
    kSave = 57603,
    kExit = 57665,
    kAddService = 32771,
    kUndo = 57643,
    kRedo = 57644,
    kCut = 57635,
    kCopy = 57634,
    kPaste = 57637,
    kStatusBar = 59393,
    kAbout = 57664,
    kNextPane = 57680,
    kPreviousPane = 57681,
    kHelp = 57670,
    kContextHelp = 57669,
  };

  // The frame over `configuration`, kept by `session` (which the frame outlives not);
  // `save` is what File Save calls. The tree stays empty below its roots until
  // tree()->Fill().
  CMainFrame(Configuration& configuration, const store::Session& session,
             const kvaro::Oidtable& table, SaveFunction save, QWidget* parent = nullptr);
  ~CMainFrame() override;

  CConfigTree* tree() const;
  OVS_LHSClientWnd* leftPane() const { return leftPane_; }
  OVS_RHSClientWnd* rightPane() const { return rightPane_; }
  CMainSplitter* splitter() const { return splitter_; }
  // The menu or accelerator action of command `id`, or null.
  QAction* action(int id) const;

  // Runs command `id` as the menu would; false when nothing handles it.
  bool OnCommand(int id);
  // File Save: says in the status bar how many records the save adds, changes and
  // removes, saves through the save function, and says what was saved; true when saved
  // (unsaved changes are then cleared). When the user chose to load the stored
  // configuration again instead, reloads it (Reload) and returns false.
  bool Save();
  // File Add Search Service...: the wizard's services, host and base pages, then the
  // chosen services' rule sets and forms added to the configuration as one edit (one undo
  // step), or nothing when one of their names is taken (the message names them). True
  // when something was added.
  bool AddSearchService();
  // Where AddSearchService reads the templates (empty: the "Form Templates" data folder).
  void SetTemplateFolder(const std::string& folder) { templateFolder_ = folder; }
  // What Reload uses (none: Reload does nothing).
  void SetReloadFunction(ReloadFunction reload) { reload_ = std::move(reload); }
  // Loads the stored configuration again and shows it in place of the edited one, whose
  // unsaved changes are lost. False (nothing changed) when it could not be loaded.
  bool Reload();
  // Asks about unsaved changes (Save / Discard / Cancel); true when the window may close.
  bool CanClose();
  // Shows the About box modally.
  void ShowAbout();
  // F1: opens the help window (one per frame, brought to the front when open already)
  // and returns it.
  CHelpWindow* ShowHelp();

  // Size limits of the whole window (frame included): never larger than 800 x 600, never
  // smaller than 360 x 240.
  static constexpr QSize kMaximumSize{800, 600};
  static constexpr QSize kMinimumSize{360, 240};

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  QAction* AddCommand(QMenu* menu, int id, const QString& text, bool enabled);
  void AddAccelerator(int id, const QKeySequence& keys);
  void SwitchPane(bool forward);
  void UpdateTitle(bool modified);
  // Undo and Redo (menu and keys) follow the tree's undo history: enabled when there is
  // a step, named after it.
  void UpdateUndoCommands();
  // Shows in the status bar how the session's connection is protected, or that it is
  // gone; nothing for a session that began without one.
  void UpdateSecurity();
  // Sets the client-area limits so that the whole window keeps kMinimumSize and
  // kMaximumSize.
  void ApplyFrameLimits();

  Configuration& configuration_;
  const store::Session& session_;
  const kvaro::Oidtable& table_;
  std::string templateFolder_;
  SaveFunction save_;
  ReloadFunction reload_;
  CMainSplitter* splitter_ = nullptr;
  OVS_LHSClientWnd* leftPane_ = nullptr;
  OVS_RHSClientWnd* rightPane_ = nullptr;
  QLabel* idleText_ = nullptr;
  QLabel* security_ = nullptr;
  QLabel* server_ = nullptr;  // which server of the settings' list answered
  QPointer<CHelpWindow> help_;
  std::map<int, QAction*> actions_;
};
