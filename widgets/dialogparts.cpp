#include "widgets/dialogparts.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/controlids.h"

namespace dlgparts {

OkCancel AddOkCancelRow(QDialog* dialog, QBoxLayout* layout, ButtonTexts texts) {
  const bool shortcuts = texts == ButtonTexts::kWithShortcuts;
  OkCancel buttons;
  buttons.ok = new QPushButton(shortcuts ? "&OK" : "OK", dialog);
  buttons.ok->setObjectName(ObjectName(kIdOk));
  buttons.ok->setDefault(true);
  buttons.cancel = new QPushButton(shortcuts ? "&Cancel" : "Cancel", dialog);
  buttons.cancel->setObjectName(ObjectName(kIdCancel));
  QObject::connect(buttons.ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(buttons.cancel, &QPushButton::clicked, dialog, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(buttons.ok);
  row->addWidget(buttons.cancel);
  layout->addLayout(row);
  return buttons;
}

namespace {
// Exactly one of `bodyWidget` and `bodyLayout` is set.
OkCancel Column(QDialog* dialog, QLabel* prompt, QWidget* bodyWidget, QLayout* bodyLayout,
                ButtonTexts texts) {
  auto* layout = new QVBoxLayout(dialog);
  if (prompt) {
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
  }
  if (bodyWidget) layout->addWidget(bodyWidget);
  if (bodyLayout) layout->addLayout(bodyLayout);
  layout->addStretch();
  return AddOkCancelRow(dialog, layout, texts);
}
}  // namespace

OkCancel LayOutColumn(QDialog* dialog, QLabel* prompt, QWidget* body, ButtonTexts texts) {
  return Column(dialog, prompt, body, nullptr, texts);
}

OkCancel LayOutColumn(QDialog* dialog, QLabel* prompt, QLayout* body, ButtonTexts texts) {
  return Column(dialog, prompt, nullptr, body, texts);
}

}  // namespace dlgparts
