// The program's directory work on a worker thread with the "Please Wait..." window: the
// logon and load at start-up, and File Save.
#pragma once

class ApplicationObject;
class Configuration;
namespace store {
struct Session;
}
class QWidget;
namespace directory {
class OldCopyRemover;
}

// Start-up's load from the directory (ApplicationObject::loadFromDirectory): the logon
// dialog until a bind succeeds, then the load, with the limits of the settings. Cancel on
// the wait window leads back to the logon dialog. 1 when loaded, 0 when no server is
// configured; ends the process with status 0 when the logon dialog is cancelled.
int LoadFromDirectoryInWorker(ApplicationObject& app);

// File Save: the window is up over `parent` before the save starts, so no other window
// takes input while the configuration is written; the save itself decides how far Cancel
// may stop it. True when saved. With `remover`, the save returns once the new
// configuration is in place and the old copy is removed by `remover` meanwhile.
bool SaveInWorker(store::Session& session, Configuration& configuration, QWidget* parent,
                  directory::OldCopyRemover* remover = nullptr);
