#include "editor/rootlistpanel.h"

#include <QListWidget>
#include <QPushButton>

#include "editor/controlids.h"
#include "platform/support/messages.h"

CRootListPanel::CRootListPanel(CConfigTree* tree, const QString& title, int titleText, int addText,
                               int removeText, QWidget* parent, bool colouredTitle)
    : CPropertyPanel(tree, title, parent) {
  const auto text = [](int id) { return QString::fromUtf8(msg::LoadString(id)); };
  title_ = CreateTitle(kIdRootListTitle, text(titleText), colouredTitle);
  std::tie(add_, remove_, list_) =
      CreateEditableNameList(kIdRootListAddButton, text(addText), kIdRootListRemoveButton,
                             text(removeText), kIdRootListList);
  Relayout();
}

void CRootListPanel::AppendRecordRow(const QString& text, const RecordRef& record) {
  InsertNameRow(list_, text, record);
  NotifyModified();
}

void CRootListPanel::DropRecordRow(int row) {
  DeleteRow(list_, row);
  remove_->setEnabled(false);
  NotifyModified();
}

void CRootListPanel::LayoutControls(int cx, int cy) {
  LayoutStandard(title_, {add_, remove_}, list_, cx, cy);
}
