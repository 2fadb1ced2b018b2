// Pieces of the editor dialogs that keep a list of names with Add and Remove buttons.
#pragma once

#include <QString>
#include <string>
#include <utility>

class QBoxLayout;
class QListWidget;
class QPushButton;
class QWidget;

// Creates an Add and a Remove push button (control ids `addId` and `removeId`) in
// `parent`, neither of them a default button, and appends them to `row` followed by a
// stretch. Returns (Add, Remove).
std::pair<QPushButton*, QPushButton*> AddListButtons(QWidget* parent, QBoxLayout* row,
                                                     const QString& addText, int addId,
                                                     const QString& removeText, int removeId);

// Refuses `name` as a new row of `list` because it is listed already: shows message `id`
// with the name, makes its row the current one and puts the focus on the list.
void RefuseListedName(int id, QListWidget* list, const std::string& name);
