#include "widgets/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <memory>
#include <utility>

#include "widgets/guithread.h"

namespace {
QPointer<QWidget> g_parent;
}

void SetMessageParent(QWidget* parent) { g_parent = parent; }

namespace {

QPushButton* AddButton(QMessageBox& box, QMessageBox::StandardButton standard, const char* name,
                       int textId = 0) {
  QPushButton* button = box.addButton(standard);
  button->setObjectName(QString::fromLatin1(name));
  // The platform's captions may lack access keys; these have them.
  if (textId) button->setText(QString::fromUtf8(msg::LoadString(textId)));
  return button;
}

QPushButton* AddButton(QMessageBox& box, QMessageBox::ButtonRole role, const char* name,
                       int textId) {
  QPushButton* button = box.addButton(QString::fromUtf8(msg::LoadString(textId)), role);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

QMessageBox* NewMessageBox(const msg::Message& message, QWidget* parent) {
  auto* box = new QMessageBox(parent);
  box->setWindowTitle(QString::fromUtf8(msg::kCaption.data(), qsizetype(msg::kCaption.size())));
  // Names in messages come from stored configurations, some of them other people's: a
  // name that looks like markup is shown as it is spelled, never rendered (no links, no
  // images fetched).
  box->setTextFormat(Qt::PlainText);
  box->setText(QString::fromStdString(message.text));
  box->setObjectName(QString::number(message.id));
  switch (message.icon) {
    case msg::Icon::Information:
      box->setIcon(QMessageBox::Information);
      break;
    case msg::Icon::Warning:
      box->setIcon(QMessageBox::Warning);
      break;
    case msg::Icon::Error:
      box->setIcon(QMessageBox::Critical);
      break;
    case msg::Icon::Question:
      box->setIcon(QMessageBox::Question);
      break;
  }
  switch (message.buttons) {
    case msg::Buttons::Ok:
      box->setDefaultButton(AddButton(*box, QMessageBox::Ok, "ok"));
      break;
    case msg::Buttons::YesNo: {
      AddButton(*box, QMessageBox::Yes, "yes");
      QPushButton* no = AddButton(*box, QMessageBox::No, "no");
      // Yes/No questions guard removals: a stray Enter must not say yes.
      box->setDefaultButton(no);
      box->setEscapeButton(no);
      break;
    }
    case msg::Buttons::SaveDiscardCancel: {
      box->setDefaultButton(AddButton(*box, QMessageBox::Save, "save", 62327));
      AddButton(*box, QMessageBox::Discard, "discard", 62328);
      box->setEscapeButton(AddButton(*box, QMessageBox::Cancel, "cancel", 62329));
      break;
    }
    case msg::Buttons::ReloadSaveAnywayCancel: {
      // Action buttons keep the order they are added in: Reload, Save Anyway, then Cancel.
      AddButton(*box, QMessageBox::ActionRole, "reload", 62340);
      AddButton(*box, QMessageBox::ActionRole, "saveAnyway", 62341);
      QPushButton* cancel = AddButton(*box, QMessageBox::RejectRole, "cancel", 62329);
      // Both other answers lose someone's work: Enter and Esc keep editing.
      box->setDefaultButton(cancel);
      box->setEscapeButton(cancel);
      break;
    }
  }
  return box;
}

msg::Answer WidgetMessageSink::Show(const msg::Message& message) {
  if (!IsGuiThread()) {
    // Directory work runs on a worker thread and shows its messages where failures
    // happen: the box is shown by the GUI thread while the worker waits for the answer.
    msg::Answer answer = msg::Answer::Ok;
    OnGuiThread([&] { answer = Show(message); });
    return answer;
  }
  QWidget* parent = g_parent ? g_parent.data() : QApplication::activeWindow();
  std::unique_ptr<QMessageBox> box(NewMessageBox(message, parent));
  box->exec();
  const QString clicked = box->clickedButton() ? box->clickedButton()->objectName() : QString();
  static const std::pair<const char*, msg::Answer> kAnswers[] = {
      {"save", msg::Answer::Save},
      {"discard", msg::Answer::Discard},
      {"cancel", msg::Answer::Cancel},
      {"yes", msg::Answer::Yes},
      {"no", msg::Answer::No},
      {"reload", msg::Answer::Reload},
      {"saveAnyway", msg::Answer::SaveAnyway}};
  for (const auto& [name, answer] : kAnswers)
    if (clicked == QLatin1String(name)) return answer;
  // Closed without a button (the window's close box): the box's safe answer.
  switch (message.buttons) {
    case msg::Buttons::Ok:
      return msg::Answer::Ok;
    case msg::Buttons::YesNo:
      return msg::Answer::No;
    default:
      return msg::Answer::Cancel;
  }
}
