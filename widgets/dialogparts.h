// Pieces the small editor dialogs share: the OK/Cancel row at the bottom and the
// one-column layout of a prompt above the controls.
#pragma once

class QBoxLayout;
class QDialog;
class QLabel;
class QLayout;
class QPushButton;
class QWidget;

namespace dlgparts {

// Captions of the two buttons: "&OK" and "&Cancel" with Alt shortcuts, or plain "OK" and
// "Cancel".
enum class ButtonTexts { kWithShortcuts, kPlain };

struct OkCancel {
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
};

// Creates OK (object name "1", the dialog's default button, clicked: accept()) and Cancel
// ("2", clicked: reject()) as children of `dialog` and appends them to `layout` as a
// right-aligned row. Being created here, they follow every control made before the call in
// the tab order.
OkCancel AddOkCancelRow(QDialog* dialog, QBoxLayout* layout,
                        ButtonTexts texts = ButtonTexts::kWithShortcuts);

// Gives `dialog` a one-column layout: `prompt` (word-wrapped; null for none), `body`, a
// stretch that takes any spare height, then the OK/Cancel row of AddOkCancelRow.
OkCancel LayOutColumn(QDialog* dialog, QLabel* prompt, QWidget* body,
                      ButtonTexts texts = ButtonTexts::kWithShortcuts);
OkCancel LayOutColumn(QDialog* dialog, QLabel* prompt, QLayout* body,
                      ButtonTexts texts = ButtonTexts::kWithShortcuts);

}  // namespace dlgparts
