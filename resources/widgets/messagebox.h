// Message boxes on screen: every msg::Show() becomes a modal QMessageBox with the
// caption "Orvelle32Setup".
#pragma once

#include <QWidget>

#include "messages.h"

class WidgetMessageSink : public msg::Sink {
 public:
  msg::Answer Show(const msg::Message& message) override;
};

// The window message boxes are placed over (the active window when null).
void SetMessageParent(QWidget* parent);
