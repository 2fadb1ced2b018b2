// Helpers shared by the wizard tests.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/support/messages.h"
#include "wizard/setupwizard.h"
#include "wizard/wizardframe.h"
namespace kvaro {
class Oidtable;
}

namespace wiztest {

// The program's attribute table, loaded once from the source tree.
const kvaro::Oidtable& Table();

// A shown set-up wizard whose messages are recorded.
struct ShownWizard {
  ShownWizard() : sink(&recorder), wizard(Table()) { wizard.show(); }
  msg::RecordingSink recorder;
  msg::ScopedSink sink;
  SetupWizard wizard;
};

// The folder of the shipped search templates in the source tree.
std::string TemplateFolder();

// The widget named `id` inside the frame's current page window (or the frame).
template <typename T>
T* Find(WizardFrame& frame, int id) {
  WizardPage* page = frame.GetActivePage();
  if (page && page->window()) {
    if (T* w = page->window()->template findChild<T*>(QString::number(id))) return w;
  }
  return frame.findChild<T*>(QString::number(id));
}

// Replaces the text of line edit `id` on the current page.
void SetText(WizardFrame& frame, int id, const QString& text);
// Clicks button `id` of the frame (Back, Next, Finish, Cancel) with the mouse.
void Press(WizardFrame& frame, int id);
// Checks the services (rows of the check list) on the services page.
void CheckServices(WizardFrame& frame, std::initializer_list<int> rows);

}  // namespace wiztest
