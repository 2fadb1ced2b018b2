#include "app/editorrun.h"

#include <QApplication>

#include "app/mainframe.h"
#include "app/startup.h"
#include "editor/configtree.h"
#include "widgets/artwork.h"
#include "widgets/messagebox.h"

int RunEditor(ApplicationObject& app, EditorSave save, EditorReload reload) {
  QApplication::setWindowIcon(art::ApplicationIcon());
  CMainFrame frame(app.configuration, app.session, app.oidtable, std::move(save));
  frame.SetReloadFunction(std::move(reload));
  frame.show();
  frame.repaint();
  frame.tree()->Fill();
  // Messages shown from now on are placed over the main window.
  SetMessageParent(&frame);
  const int code = QApplication::exec();
  SetMessageParent(nullptr);
  return code;
}

std::function<int(ApplicationObject&)> EditorHook(EditorSave save, EditorReload reload) {
  return [save = std::move(save), reload = std::move(reload)](ApplicationObject& app) {
    return RunEditor(app, save, reload);
  };
}
