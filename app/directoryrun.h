// The program's directory work on a worker thread with the "Please Wait..." window: the
// logon and load at start-up, and File Save.
#pragma once

#include "app/savestatus.h"

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

// The editor's reload: loads the stored configuration afresh into `into` (empty) from where
// app.session keeps it. The directory is reached with the logon the session holds (the
// logon dialog only when that is refused). True when loaded; otherwise what went wrong
// was shown.
bool ReloadConfiguration(ApplicationObject& app, Configuration& into);

// File Save: the window is up over `parent` before the save starts, so no other window
// takes input while the configuration is written; the save itself decides how far Cancel
// may stop it. With `remover`, the save returns once the new configuration is in place
// and the old copy is removed by `remover` meanwhile. When someone else changed what the
// save would write since the load, nothing is written and the user chooses: Reload
// (kReload; the caller loads the stored configuration again), Save Anyway (the whole
// configuration is saved in place of theirs) or Cancel (kNotSaved).
SaveStatus SaveInWorker(store::Session& session, Configuration& configuration, QWidget* parent,
                        directory::OldCopyRemover* remover = nullptr);
