// Message boxes on screen: every msg::Show() becomes a modal QMessageBox with the
// caption "Orvelle32Setup".
#pragma once

#include <QWidget>

#include "platform/support/messages.h"

// May be called from any thread: off the GUI thread the box is shown by the GUI thread
// and the caller waits for the answer.
class WidgetMessageSink : public msg::Sink {
 public:
  msg::Answer Show(const msg::Message& message) override;
};

// The window message boxes are placed over (the active window when null).
void SetMessageParent(QWidget* parent);

class QMessageBox;
// The box WidgetMessageSink shows for `message`, built but not shown: caption, text, icon
// and buttons (each named after its answer: "ok", "save", "discard", "cancel", "yes",
// "no", "reload", "saveAnyway"), with the default and Esc buttons set. The caller owns it.
QMessageBox* NewMessageBox(const msg::Message& message, QWidget* parent);
