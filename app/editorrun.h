// The editor half of start-up: after a configuration was loaded, the main window is
// created, shown, filled and run until it is closed.
#pragma once

#include <functional>

#include "app/savestatus.h"

class ApplicationObject;
class Configuration;

// Creates the main frame over the application's configuration, shows and paints it,
// fills the tree, and runs the event loop until the frame is closed. `save` is what
// File Save (and the save-on-close question) calls; `reload` what loads the stored
// configuration again into an empty one (CMainFrame::Reload; may be empty). Needs a
// QApplication. Returns the event loop's exit code.
using EditorSave = std::function<SaveStatus(Configuration&)>;
using EditorReload = std::function<bool(Configuration& into)>;
int RunEditor(ApplicationObject& app, EditorSave save, EditorReload reload = {});

// The same as a start-up hook (ApplicationObject::runEditor).
std::function<int(ApplicationObject&)> EditorHook(EditorSave save, EditorReload reload = {});
