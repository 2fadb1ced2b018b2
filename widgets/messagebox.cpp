#include "widgets/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "widgets/guithread.h"

namespace {
QPointer<QWidget> g_parent;
}

void SetMessageParent(QWidget* parent) { g_parent = parent; }

msg::Answer WidgetMessageSink::Show(const msg::Message& message) {
  if (!IsGuiThread()) {
    // Directory work runs on a worker thread and shows its messages where failures
    // happen: the box is shown by the GUI thread while the worker waits for the answer.
    msg::Answer answer = msg::Answer::Ok;
    OnGuiThread([&] { answer = Show(message); });
    return answer;
  }
  QWidget* parent = g_parent ? g_parent.data() : QApplication::activeWindow();
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromUtf8(msg::kCaption.data(), qsizetype(msg::kCaption.size())));
  // Names in messages come from stored configurations, some of them other people's: a
  // name that looks like markup is shown as it is spelled, never rendered (no links, no
  // images fetched).
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(message.text));
  box.setObjectName(QString::number(message.id));
  switch (message.icon) {
    case msg::Icon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case msg::Icon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case msg::Icon::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case msg::Icon::Question:
      box.setIcon(QMessageBox::Question);
      break;
  }
  switch (message.buttons) {
    case msg::Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.exec();
      return msg::Answer::Ok;
    case msg::Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      // Yes/No questions guard removals: a stray Enter must not say yes.
      box.setDefaultButton(QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      return box.exec() == QMessageBox::Yes ? msg::Answer::Yes : msg::Answer::No;
    case msg::Buttons::SaveDiscardCancel:
      box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Save);
      // The platform's captions may lack access keys; these have them (Alt+S, D, C).
      box.button(QMessageBox::Save)->setText(QString::fromUtf8(msg::LoadString(62327)));
      box.button(QMessageBox::Discard)->setText(QString::fromUtf8(msg::LoadString(62328)));
      box.button(QMessageBox::Cancel)->setText(QString::fromUtf8(msg::LoadString(62329)));
      switch (box.exec()) {
        case QMessageBox::Save:
          return msg::Answer::Save;
        case QMessageBox::Discard:
          return msg::Answer::Discard;
        default:
          return msg::Answer::Cancel;
      }
    case msg::Buttons::ReloadSaveAnywayCancel: {
      QPushButton* reload =
          box.addButton(QString::fromUtf8(msg::LoadString(62340)), QMessageBox::DestructiveRole);
      QPushButton* anyway =
          box.addButton(QString::fromUtf8(msg::LoadString(62341)), QMessageBox::AcceptRole);
      QPushButton* cancel =
          box.addButton(QString::fromUtf8(msg::LoadString(62329)), QMessageBox::RejectRole);
      reload->setObjectName(QStringLiteral("reload"));
      anyway->setObjectName(QStringLiteral("saveAnyway"));
      cancel->setObjectName(QStringLiteral("cancel"));
      // Both other answers lose someone's work: Enter and Esc keep editing.
      box.setDefaultButton(cancel);
      box.setEscapeButton(cancel);
      box.exec();
      if (box.clickedButton() == reload) return msg::Answer::Reload;
      if (box.clickedButton() == anyway) return msg::Answer::SaveAnyway;
      return msg::Answer::Cancel;
    }
  }
  return msg::Answer::Ok;
}
