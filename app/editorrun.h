// The editor half of start-up: after a configuration was loaded, the main window is
// created, shown, filled and run until it is closed.
#pragma once

#include <functional>

class ApplicationObject;
class Configuration;

// Creates the main frame over the application's configuration, shows and paints it,
// fills the tree, and runs the event loop until the frame is closed. `save` is what
// File Save (and the save-on-close question) calls. Needs a QApplication. Returns the
// event loop's exit code.
int RunEditor(ApplicationObject& app, std::function<bool(Configuration&)> save);

// The same as a start-up hook (ApplicationObject::runEditor).
std::function<int(ApplicationObject&)> EditorHook(std::function<bool(Configuration&)> save);
