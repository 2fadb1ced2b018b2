#include "editor/dialoglist.h"

#include <QBoxLayout>
#include <QListWidget>
#include <QPushButton>

#include "editor/controlids.h"
#include "platform/support/messages.h"

std::pair<QPushButton*, QPushButton*> AddListButtons(QWidget* parent, QBoxLayout* row,
                                                     const QString& addText, int addId,
                                                     const QString& removeText, int removeId) {
  auto* add = new QPushButton(addText, parent);
  add->setObjectName(ObjectName(addId));
  add->setAutoDefault(false);
  auto* remove = new QPushButton(removeText, parent);
  remove->setObjectName(ObjectName(removeId));
  remove->setAutoDefault(false);
  row->addWidget(add);
  row->addWidget(remove);
  row->addStretch();
  return {add, remove};
}

void RefuseListedName(int id, QListWidget* list, const std::string& name) {
  msg::Show(id, {name});
  const QList<QListWidgetItem*> listed =
      list->findItems(QString::fromStdString(name), Qt::MatchExactly);
  if (!listed.isEmpty()) list->setCurrentItem(listed.front());
  list->setFocus(Qt::OtherFocusReason);
}
