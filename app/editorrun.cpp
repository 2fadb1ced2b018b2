#include "editorrun.h"

#include <QApplication>

#include "artwork.h"
#include "configtree.h"
#include "mainframe.h"
#include "messagebox.h"
#include "startup.h"

int RunEditor(ApplicationObject& app, std::function<bool(Configuration&)> save) {
  QApplication::setWindowIcon(art::ApplicationIcon());
  CMainFrame frame(app.configuration, app.oidtable, std::move(save));
  frame.show();
  frame.repaint();
  frame.tree()->Fill();
  // Messages shown from now on are placed over the main window.
  SetMessageParent(&frame);
  const int code = QApplication::exec();
  SetMessageParent(nullptr);
  return code;
}

std::function<int(ApplicationObject&)> EditorHook(std::function<bool(Configuration&)> save) {
  return [save = std::move(save)](ApplicationObject& app) { return RunEditor(app, save); };
}
