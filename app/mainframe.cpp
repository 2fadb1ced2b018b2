#include "app/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QUndoStack>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "app/controlids.h"
#include "app/helpwindow.h"
#include "editor/configtree.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/messages.h"
#include "store/directory/directorylogon.h"
#include "store/store.h"
#include "widgets/artwork.h"
#include "widgets/messagebox.h"
#include "wizard/controlids.h"
#include "wizard/setupwizard.h"

namespace {

QString Text(int id) { return QString::fromUtf8(msg::LoadString(id)); }

// The status-bar prompt of a command: the part of its string before "\n".
QString Prompt(int id) { return Text(id).section(QLatin1Char('\n'), 0, 0); }

// The bar between the panes: raised edge (highlight, shadow), button-face inside.
class CSplitterBar : public QSplitterHandle {
 public:
  CSplitterBar(Qt::Orientation orientation, QSplitter* parent)
      : QSplitterHandle(orientation, parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QPalette& colours = palette();
    QRect r = rect();
    painter.fillRect(r, colours.color(QPalette::Button));
    painter.setPen(colours.color(QPalette::Light));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(colours.color(QPalette::Dark));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
  }
};

}  // namespace

CMainSplitter::CMainSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
  setObjectName(ObjectName(kIdSplitter));
  setChildrenCollapsible(false);
  setHandleWidth(6);
  setOpaqueResize(true);
}

QSplitterHandle* CMainSplitter::createHandle() { return new CSplitterBar(orientation(), this); }

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(ObjectName(kIdAboutDialog));
  setWindowTitle(QStringLiteral("About Orvelle32Setup"));
  setModal(true);
  auto* picture = new QLabel(this);
  picture->setObjectName(ObjectName(kIdAboutPicture));
  const QPixmap bitmap = art::AboutBitmap();
  picture->setPixmap(bitmap);
  picture->setFixedSize(bitmap.size());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(picture);
  // The dialog takes the picture's size and sits in the middle of the screen.
  setFixedSize(bitmap.size());
  if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    QRect area = QRect(QPoint(0, 0), bitmap.size());
    area.moveCenter(screen->geometry().center());
    move(area.topLeft());
  }
}

void CAboutDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CAboutDialog::mousePressEvent(QMouseEvent*) { accept(); }

CMainFrame::CMainFrame(Configuration& configuration, const store::Session& session,
                       const kvaro::Oidtable& table, SaveFunction save, QWidget* parent)
    : QMainWindow(parent),
      configuration_(configuration),
      session_(session),
      table_(table),
      save_(std::move(save)) {
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowIcon(art::ApplicationIcon());
  setMinimumSize(kMinimumSize);
  setMaximumSize(kMaximumSize);

  // Menu 128. Cut, Copy and Paste have no handler in this program, so they show disabled.
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("menuFile"));
  AddCommand(file, kSave, QStringLiteral("&Save\tCtrl+S"), true);
  AddCommand(file, kAddService, Text(62394), true);
  file->addSeparator();
  AddCommand(file, kExit, QStringLiteral("E&xit"), true);
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("menuEdit"));
  AddCommand(edit, kUndo, Text(62389), false);
  AddCommand(edit, kRedo, Text(62390), false);
  edit->addSeparator();
  AddCommand(edit, kCut, QStringLiteral("Cu&t\tCtrl+X"), false);
  AddCommand(edit, kCopy, QStringLiteral("&Copy\tCtrl+C"), false);
  AddCommand(edit, kPaste, QStringLiteral("&Paste\tCtrl+V"), false);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("menuView"));
  QAction* statusToggle = AddCommand(view, kStatusBar, QStringLiteral("&Status Bar"), true);
  statusToggle->setCheckable(true);
  statusToggle->setChecked(true);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("menuHelp"));
  AddCommand(help, kAbout, QStringLiteral("&About Orvelle32Setup..."), true);

  // Accelerator table 128. Commands without a handler stay disabled, so their keys
  // reach the focused control (Ctrl+C still copies inside an edit field).
  AddAccelerator(kSave, QKeySequence(Qt::CTRL | Qt::Key_S));
  AddAccelerator(kCopy, QKeySequence(Qt::CTRL | Qt::Key_C));
  AddAccelerator(kCopy, QKeySequence(Qt::CTRL | Qt::Key_Insert));
  AddAccelerator(kPaste, QKeySequence(Qt::CTRL | Qt::Key_V));
  AddAccelerator(kPaste, QKeySequence(Qt::SHIFT | Qt::Key_Insert));
  AddAccelerator(kCut, QKeySequence(Qt::CTRL | Qt::Key_X));
  AddAccelerator(kCut, QKeySequence(Qt::SHIFT | Qt::Key_Delete));
  AddAccelerator(kUndo, QKeySequence(Qt::CTRL | Qt::Key_Z));
  AddAccelerator(kUndo, QKeySequence(Qt::ALT | Qt::Key_Backspace));
  AddAccelerator(kRedo, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  AddAccelerator(kNextPane, QKeySequence(Qt::Key_F6));
  AddAccelerator(kPreviousPane, QKeySequence(Qt::SHIFT | Qt::Key_F6));
  AddAccelerator(kHelp, QKeySequence(Qt::Key_F1));
  AddAccelerator(kContextHelp, QKeySequence(Qt::SHIFT | Qt::Key_F1));

  // Status bar 59393: the message pane with its idle text, then CAP, NUM and SCRL.
  QStatusBar* status = statusBar();
  status->setObjectName(ObjectName(kIdStatusBar));
  idleText_ = new QLabel(Text(57345), status);
  idleText_->setObjectName(ObjectName(kIdStatusMessagePane));
  status->addWidget(idleText_, 1);
  // Whether the session's directory connection is encrypted.
  if (session_.directory.connection) {
    server_ = new QLabel(status);
    server_->setObjectName(ObjectName(kIdServerIndicator));
    server_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status->addPermanentWidget(server_);
    security_ = new QLabel(status);
    security_->setObjectName(ObjectName(kIdSecurityIndicator));
    security_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status->addPermanentWidget(security_);
    UpdateSecurity();
  }
  for (int id : {kIdCapsIndicator, kIdNumIndicator, kIdScrollIndicator}) {
    auto* indicator = new QLabel(Text(id), status);
    indicator->setObjectName(ObjectName(id));
    indicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    indicator->setAlignment(Qt::AlignCenter);
    indicator->setMinimumWidth(indicator->fontMetrics().horizontalAdvance(Text(id)) + 12);
    // The lock-key states are not known here; the indicators show as off.
    indicator->setEnabled(false);
    status->addPermanentWidget(indicator);
  }

  // The splitter with its two panes: 300 and 320 pixels wide, neither below 144.
  splitter_ = new CMainSplitter(this);
  rightPane_ = new OVS_RHSClientWnd();
  leftPane_ = new OVS_LHSClientWnd(configuration_, table, rightPane_);
  splitter_->addWidget(leftPane_);
  splitter_->addWidget(rightPane_);
  leftPane_->setMinimumWidth(144);
  rightPane_->setMinimumWidth(144);
  splitter_->setSizes({300, 320});
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setFocusProxy(leftPane_);
  setCentralWidget(splitter_);
  setFocusProxy(splitter_);
  resize(640, 480);

  SetMessageParent(this);
  connect(tree(), &CConfigTree::modifiedChanged, this, &CMainFrame::UpdateTitle);
  UpdateTitle(false);
  QUndoStack* history = tree()->undoStack();
  for (auto changed : {&QUndoStack::canUndoChanged, &QUndoStack::canRedoChanged})
    connect(history, changed, this, &CMainFrame::UpdateUndoCommands);
  for (auto changed : {&QUndoStack::undoTextChanged, &QUndoStack::redoTextChanged})
    connect(history, changed, this, &CMainFrame::UpdateUndoCommands);
  UpdateUndoCommands();
}

CMainFrame::~CMainFrame() {
  // The tree and its history go with the child widgets, after this frame is no longer a
  // CMainFrame; what they report then must not reach it.
  tree()->disconnect(this);
  tree()->undoStack()->disconnect(this);
}

CConfigTree* CMainFrame::tree() const { return leftPane_->tree(); }

QAction* CMainFrame::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text, bool enabled) {
  auto* action = menu->addAction(text);
  action->setObjectName(ObjectName(id));
  action->setEnabled(enabled);
  // A configuration kept in files is saved there, not to the directory.
  const bool files = id == kSave && session_.startupMode == StartupMode::kFiles;
  action->setStatusTip(Prompt(files ? 62321 : id));
  action->setMenuRole(QAction::NoRole);
  actions_[id] = action;
  connect(action, &QAction::triggered, this, [this, id]() { OnCommand(id); });
  return action;
}

void CMainFrame::AddAccelerator(int id, const QKeySequence& keys) {
  auto* accelerator = new QAction(this);
  accelerator->setObjectName(QStringLiteral("accel") + ObjectName(id));
  accelerator->setShortcut(keys);
  accelerator->setShortcutContext(Qt::WindowShortcut);
  QAction* command = action(id);
  const bool handled = id == kNextPane || id == kPreviousPane || id == kHelp;
  accelerator->setEnabled(command ? command->isEnabled() : handled);
  addAction(accelerator);
  connect(accelerator, &QAction::triggered, this, [this, id]() { OnCommand(id); });
}

bool CMainFrame::OnCommand(int id) {
  const QAction* command = action(id);
  if (command && !command->isEnabled()) return false;
  switch (id) {
    case kSave:
      Save();
      return true;
    case kExit:
      close();
      return true;
    case kStatusBar: {
      const bool show = !statusBar()->isVisible();
      statusBar()->setVisible(show);
      action(kStatusBar)->setChecked(show);
      return true;
    }
    case kAbout:
      ShowAbout();
      return true;
    case kAddService:
      AddSearchService();
      return true;
    case kUndo:
      tree()->Undo();
      return true;
    case kRedo:
      tree()->Redo();
      return true;
    case kHelp:
      ShowHelp();
      return true;
    case kNextPane:
    case kPreviousPane:
      SwitchPane(id == kNextPane);
      return true;
    default:
      return false;
  }
}

void CMainFrame::SwitchPane(bool forward) {
  // Two panes: either direction moves to the other one.
  (void)forward;
  QWidget* focus = QApplication::focusWidget();
  const bool inLeft = focus && (focus == leftPane_ || leftPane_->isAncestorOf(focus));
  if (inLeft) {
    if (QWidget* panel = rightPane_->panel()) {
      panel->setFocus(Qt::TabFocusReason);
      if (QWidget* first = panel->nextInFocusChain(); first && panel->isAncestorOf(first)) {
        first->setFocus(Qt::TabFocusReason);
      }
    }
  } else {
    tree()->setFocus(Qt::TabFocusReason);
  }
}

namespace {

QString CountsText(int id, const store::ChangeCounts& counts) {
  return QString::fromStdString(
      msg::Text(id, {std::to_string(counts.added), std::to_string(counts.changed),
                     std::to_string(counts.removed)}));
}

}  // namespace

bool CMainFrame::Save() {
  if (!save_) return false;
  // Counted before the save: afterwards the stored configuration is the edited one.
  const std::optional<store::ChangeCounts> counts = store::PendingChanges(session_, configuration_);
  if (counts) {
    statusBar()->showMessage(CountsText(62342, *counts));
    statusBar()->repaint();
  }
  const SaveStatus status = save_(configuration_);
  // A save may have lost the connection, or opened a new one.
  UpdateSecurity();
  switch (status.kind) {
    case SaveStatus::kSaved:
      tree()->SetModified(false);
      if (!counts) {
        statusBar()->clearMessage();
      } else if (counts->added == 0 && counts->changed == 0 && counts->removed == 0) {
        statusBar()->showMessage(Text(62344));
      } else {
        statusBar()->showMessage(CountsText(62343, *counts));
      }
      return true;
    case SaveStatus::kReload:
      statusBar()->clearMessage();
      Reload();
      return false;
    case SaveStatus::kNotSaved:
      break;
  }
  statusBar()->clearMessage();
  return false;
}

bool CMainFrame::AddSearchService() {
  SetupWizard wizard(table_, this);
  wizard.templateFolder = templateFolder_;
  wizard.AddServicesOnly();
  if (wizard.exec() != kIdFinish) return false;
  if (const msg::Outcome made = wizard.GenerateConfiguration(); !made) {
    msg::Show(made);
    return false;
  }
  const size_t setsBefore = configuration_.ruleSets.size();
  const size_t formsBefore = configuration_.searchForms.size();
  if (const msg::Outcome added =
          AddRecords(configuration_, wizard.generatedRuleSets, wizard.generatedForms);
      !added) {
    msg::Show(added);
    return false;
  }
  for (size_t i = setsBefore; i < configuration_.ruleSets.size(); ++i)
    tree()->AddRuleSetNodes(configuration_.ruleSets[i].get());
  for (size_t i = formsBefore; i < configuration_.searchForms.size(); ++i)
    tree()->AddFormNodes(configuration_.searchForms[i].get());
  tree()->MarkModified();
  return true;
}

bool CMainFrame::Reload() {
  if (!reload_) return false;
  Configuration fresh;
  fresh.oidtable = configuration_.oidtable;
  if (!reload_(fresh)) {
    UpdateSecurity();
    return false;
  }
  // The nodes and the panel point into the records about to go.
  tree()->Empty();
  configuration_.TakeRecords(fresh);
  tree()->Fill();
  tree()->SetModified(false);
  UpdateSecurity();
  statusBar()->showMessage(Text(62345));
  return true;
}

void CMainFrame::UpdateSecurity() {
  if (!security_) return;
  if (!session_.directory.connection) {
    security_->setText(Text(62322));
    server_->clear();
    return;
  }
  const ldapx::Connection& connection = *session_.directory.connection;
  server_->setText(QString::fromStdString(
      msg::Text(62303, {ldapx::HostListText({{connection.host(), connection.port()}})})));
  security_->setText(QString::fromStdString(directory::SecurityText(
      *session_.directory.connection, session_.directory.server.Tls().security)));
}

bool CMainFrame::CanClose() {
  if (!tree()->isModified()) return true;
  switch (msg::Show(62151, {}, msg::Buttons::SaveDiscardCancel, msg::Icon::Question)) {
    case msg::Answer::Save:
      // A failed save has shown its own message; the window stays open.
      return Save();
    case msg::Answer::Discard:
      return true;
    default:
      return false;
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (CanClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void CMainFrame::ApplyFrameLimits() {
  // The limits are those of the whole window, frame and title bar included, while Qt's
  // own limits are those of the client area: the frame's margins come off them. The
  // window manager then keeps a maximised window within them as well, and the window
  // keeps its maximised state, so that Restore works.
  const QSize frame = frameGeometry().size() - geometry().size();
  const QSize minimum = (kMinimumSize - frame).expandedTo(QSize(0, 0));
  const QSize maximum = (kMaximumSize - frame).expandedTo(minimum);
  if (minimumSize() != minimum) setMinimumSize(minimum);
  if (maximumSize() != maximum) setMaximumSize(maximum);
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyFrameLimits();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  // The window manager reports its frame once the window is mapped.
  ApplyFrameLimits();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ApplyFrameLimits();
}

void CMainFrame::focusInEvent(QFocusEvent* event) {
  QMainWindow::focusInEvent(event);
  splitter_->setFocus(event->reason());
}

void CMainFrame::ShowAbout() {
  CAboutDialog about(this);
  about.exec();
}

CHelpWindow* CMainFrame::ShowHelp() {
  if (!help_) {
    help_ = new CHelpWindow(this);
    help_->setAttribute(Qt::WA_DeleteOnClose);
  }
  help_->show();
  help_->raise();
  help_->activateWindow();
  return help_;
}

void CMainFrame::UpdateUndoCommands() {
  const QUndoStack* history = tree()->undoStack();
  const auto update = [this](int id, bool enabled, const QString& step, int plain, int named) {
    QAction* command = action(id);
    command->setEnabled(enabled);
    command->setText(step.isEmpty()
                         ? Text(plain)
                         : QString::fromStdString(msg::Text(named, {step.toStdString()})));
    for (QAction* accelerator : actions())
      if (accelerator->objectName() == QStringLiteral("accel") + ObjectName(id))
        accelerator->setEnabled(enabled);
  };
  update(kUndo, history->canUndo(), history->undoText(), 62389, 62391);
  update(kRedo, history->canRedo(), history->redoText(), 62390, 62392);
}

void CMainFrame::UpdateTitle(bool modified) {
  setWindowTitle(QStringLiteral("Orvelle32Setup[*]"));
  setWindowModified(modified);
  // What the last save or reload said no longer holds once the configuration changes.
  if (modified) statusBar()->clearMessage();
}
