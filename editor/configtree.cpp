#include "editor/configtree.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QUndoStack>
#include <algorithm>
#include <functional>
#include <memory>
#include <unordered_set>

#include "editor/addinputgroupdialog.h"
#include "editor/addrulesetdialog.h"
#include "editor/controlids.h"
#include "editor/cuttexttip.h"
#include "editor/edithistory.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "editor/renamedialog.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The panel titles of the node kinds, by kind.
const char* const kPanelTitles[] = {
    "Rule Sets",       "Form List Properties",  "Rule Set Properties",  "Rule Properties",
    "Form Properties", "Form Group Properties", "Form Input Properties"};

}  // namespace

CConfigTree::CConfigTree(Configuration& configuration, const kvaro::Oidtable& table,
                         QWidget* parent)
    : QTreeWidget(parent), configuration_(configuration), table_(table) {
  setObjectName(ObjectName(kIdConfigTree));
  setHeaderHidden(true);
  setColumnCount(1);
  setSortingEnabled(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setExpandsOnDoubleClick(true);
  setAnimated(false);
  setIndentation(19);
  // Long captions scroll sideways instead of being cut off.
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  ruleSetsRoot_ =
      NewRecord(RuleSetsRoot, {}, Q(std::string(msg::LoadString(61204))), nullptr)->item;
  formsRoot_ = NewRecord(FormsRoot, {}, Q(std::string(msg::LoadString(61211))), nullptr)->item;
  // The panel follows the selection, not the current item: the view makes its first
  // item current when it first takes the focus, and that must not open a panel.
  connect(this, &QTreeWidget::itemSelectionChanged, this,
          [this]() { OnCurrentItemChanged(SelectedItem()); });
  history_ = new EditHistory(
      configuration_, [this](const Configuration& state) { RestoreState(state); }, this);
  connect(history_, &EditHistory::modifiedChanged, this, [this] { UpdateModified(); });
}

CConfigTree::~CConfigTree() {
  // The panel may hold pointers into the tree; it goes first.
  if (panel_) delete panel_.data();
  selected_ = nullptr;
}

void CConfigTree::SetRightPane(OVS_RHSClientWnd* pane) { rightPane_ = pane; }

TreeNodeRecord* CConfigTree::RecordOf(const QTreeWidgetItem* item) {
  if (!item) return nullptr;
  return item->data(0, Qt::UserRole).value<TreeNodeRecord*>();
}

TreeNodeRecord* CConfigTree::NewRecord(int kind, const RecordRef& object, const QString& caption,
                                       QTreeWidgetItem* parent) {
  // Every node becomes the first child of its parent (the roots: the first top-level
  // item), so siblings show in the reverse of their insertion order.
  TreeNodeRecord* record = NewDetachedRecord(kind, object, caption, parent);
  if (!parent) insertTopLevelItem(0, record->item);
  return record;
}

void CConfigTree::Expand(QTreeWidgetItem* item) {
  if (item) item->setExpanded(true);
}

QString CConfigTree::FormCaption(const SearchForm& form) {
  const std::string ruleSetName = form.ruleSet ? form.ruleSet->name : std::string();
  return Q(msg::Format("%s (%s)", {form.name, ruleSetName}));
}

TreeNodeRecord* CConfigTree::NewDetachedRecord(int kind, const RecordRef& object,
                                               const QString& caption, QTreeWidgetItem* parent) {
  auto record = std::make_unique<TreeNodeRecord>();
  record->kind = kind;
  record->object = object;
  auto* item = new QTreeWidgetItem(QStringList(caption));
  item->setData(0, Qt::UserRole, QVariant::fromValue(record.get()));
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  record->item = item;
  if (parent) parent->insertChild(0, item);
  records_.push_back(std::move(record));
  return records_.back().get();
}

void CConfigTree::Empty() {
  const QSignalBlocker blocker(this);
  selected_ = nullptr;
  RemovePanel();
  selectionModel()->clear();
  for (QTreeWidgetItem* root : {ruleSetsRoot_, formsRoot_}) qDeleteAll(root->takeChildren());
  records_.remove_if([this](const std::unique_ptr<TreeNodeRecord>& record) {
    return record->item != ruleSetsRoot_ && record->item != formsRoot_;
  });
}

namespace {

// The identity of the record `ref` holds; 0 for none.
RecordId IdOf(const RecordRef& ref) {
  return std::visit(
      [](auto record) -> RecordId {
        if constexpr (std::is_same_v<decltype(record), std::monostate>) {
          return 0;
        } else {
          return record ? record->id : 0;
        }
      },
      ref);
}

}  // namespace

void CConfigTree::Fill() {
  FillNodes();
  editPending_ = false;
  history_->Reset();
  UpdateModified();
}

QUndoStack* CConfigTree::undoStack() const { return history_->stack(); }

bool CConfigTree::Undo() {
  CommitEdit();
  return history_->Undo();
}

bool CConfigTree::Redo() {
  CommitEdit();
  return history_->Redo();
}

void CConfigTree::CommitEdit() {
  if (!editPending_) return;
  editPending_ = false;
  history_->Record();
  UpdateModified();
}

void CConfigTree::UpdateModified() {
  const bool modified = editPending_ || history_->isModified();
  if (modified_ == modified) return;
  modified_ = modified;
  emit modifiedChanged(modified_);
}

void CConfigTree::RestoreState(const Configuration& state) {
  // The node of the same record, or the same root, is selected again afterwards.
  const RecordId selected = selected_ ? IdOf(selected_->object) : 0;
  QTreeWidgetItem* selectedRoot =
      selected_ && (selected_->item == ruleSetsRoot_ || selected_->item == formsRoot_)
          ? selected_->item
          : nullptr;
  Empty();
  configuration_.TakeRecords(*CloneConfiguration(state));
  FillNodes();
  QTreeWidgetItem* select = selectedRoot;
  for (const auto& record : records_) {
    if (select || selected == 0) break;
    if (IdOf(record->object) == selected) select = record->item;
  }
  if (select) {
    setCurrentItem(select);
    select->setSelected(true);
  }
}

void CConfigTree::FillNodes() {
  // Each rule set and form is built as a detached subtree and all of them are hung
  // under their root in one step; the view then lays itself out once instead of once
  // per node, which keeps large configurations fast. The result is the same as
  // inserting node by node: every node the first child of its parent.
  std::vector<QTreeWidgetItem*> toExpand;
  std::vector<QTreeWidgetItem*> setItems;
  for (const auto& ruleSet : configuration_.ruleSets) {
    TreeNodeRecord* setRecord =
        NewDetachedRecord(RuleSetNode, ruleSet.get(), Q(ruleSet->name), nullptr);
    for (const auto& rule : ruleSet->rules) {
      NewDetachedRecord(RuleNode, rule.get(), Q(rule->name), setRecord->item);
    }
    if (!ruleSet->rules.empty()) toExpand.push_back(setRecord->item);
    setItems.push_back(setRecord->item);
  }
  if (!configuration_.ruleSets.empty()) toExpand.push_back(ruleSetsRoot_);

  std::vector<QTreeWidgetItem*> formItems;
  for (const auto& form : configuration_.searchForms) {
    TreeNodeRecord* formRecord =
        NewDetachedRecord(FormNode, form.get(), FormCaption(*form), nullptr);
    std::vector<InputGroup*> groups;
    if (form->targetGroup) groups.push_back(form->targetGroup.get());
    for (const auto& group : form->inputGroups) groups.push_back(group.get());
    for (InputGroup* group : groups) {
      TreeNodeRecord* groupRecord =
          NewDetachedRecord(InputGroupNode, group, Q(group->name), formRecord->item);
      for (const auto& field : group->fields) {
        NewDetachedRecord(InputFieldNode, field.get(), Q(field->name), groupRecord->item);
      }
      if (!group->fields.empty()) toExpand.push_back(groupRecord->item);
    }
    if (!groups.empty()) toExpand.push_back(formRecord->item);
    formItems.push_back(formRecord->item);
  }
  if (!configuration_.searchForms.empty()) toExpand.push_back(formsRoot_);

  std::reverse(setItems.begin(), setItems.end());
  std::reverse(formItems.begin(), formItems.end());
  ruleSetsRoot_->insertChildren(0, QList<QTreeWidgetItem*>(setItems.begin(), setItems.end()));
  formsRoot_->insertChildren(0, QList<QTreeWidgetItem*>(formItems.begin(), formItems.end()));
  for (QTreeWidgetItem* item : toExpand) Expand(item);
}

QTreeWidgetItem* CConfigTree::ItemOf(const RecordRef& record) const {
  for (const auto& r : records_) {
    if (r->object == record) return r->item;
  }
  return nullptr;
}

void CConfigTree::AddChildNode(const RecordRef& parent, int kind, const RecordRef& child,
                               const std::string& caption) {
  if (IsNullRecord(parent) || IsNullRecord(child)) return;
  for (const auto& record : records_) {
    if (record->object == parent) {
      QTreeWidgetItem* parentItem = record->item;
      NewRecord(kind, child, Q(caption), parentItem);
      Expand(parentItem);
      return;
    }
  }
}

void CConfigTree::AddRuleSetNode(RuleSet* ruleSet) {
  if (!ruleSet) return;
  NewRecord(RuleSetNode, ruleSet, Q(ruleSet->name), ruleSetsRoot_);
  Expand(ruleSetsRoot_);
}

void CConfigTree::AddFormNode(SearchForm* form) {
  if (!form) return;
  NewRecord(FormNode, form, FormCaption(*form), formsRoot_);
  Expand(formsRoot_);
}

void CConfigTree::AddRuleSetNodes(RuleSet* ruleSet) {
  if (!ruleSet) return;
  AddRuleSetNode(ruleSet);
  for (const auto& rule : ruleSet->rules) AddRuleNode(ruleSet, rule.get());
}

void CConfigTree::AddFormNodes(SearchForm* form) {
  if (!form) return;
  AddFormNode(form);
  std::vector<InputGroup*> groups;
  if (form->targetGroup) groups.push_back(form->targetGroup.get());
  for (const auto& group : form->inputGroups) groups.push_back(group.get());
  for (InputGroup* group : groups) {
    AddInputGroupNode(form, group);
    for (const auto& field : group->fields) AddInputFieldNode(group, field.get());
  }
}

void CConfigTree::AddRuleNode(RuleSet* ruleSet, SearchRule* rule) {
  if (rule) AddChildNode(ruleSet, RuleNode, rule, rule->name);
}

void CConfigTree::AddInputGroupNode(SearchForm* form, InputGroup* group) {
  if (group) AddChildNode(form, InputGroupNode, group, group->name);
}

void CConfigTree::AddInputFieldNode(InputGroup* group, InputField* field) {
  if (field) AddChildNode(group, InputFieldNode, field, field->name);
}

void CConfigTree::RemoveItemsOf(const RecordRef& object) {
  if (IsNullRecord(object)) return;
  std::vector<QTreeWidgetItem*> tops;
  for (const auto& record : records_) {
    if (record->object == object) tops.push_back(record->item);
  }
  if (tops.empty()) return;

  // Every record of the doomed subtrees goes with them.
  std::unordered_set<const TreeNodeRecord*> doomed;
  std::vector<QTreeWidgetItem*> stack(tops.begin(), tops.end());
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    doomed.insert(RecordOf(item));
    for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
  }
  // A top inside another top's subtree is deleted with it.
  std::vector<QTreeWidgetItem*> outermost;
  for (QTreeWidgetItem* item : tops) {
    bool inner = false;
    for (QTreeWidgetItem* up = item->parent(); up && !inner; up = up->parent()) {
      inner = std::find(tops.begin(), tops.end(), up) != tops.end();
    }
    if (!inner) outermost.push_back(item);
  }

  // A panel that shows a doomed node must not outlive its record.
  const bool selectionDoomed = selected_ && doomed.count(selected_) != 0;
  {
    const QSignalBlocker blocker(this);
    if (selectionDoomed) {
      selected_ = nullptr;
      RemovePanel();
    }
    for (QTreeWidgetItem* item : outermost) delete item;
  }
  records_.remove_if([&doomed](const std::unique_ptr<TreeNodeRecord>& record) {
    return doomed.count(record.get()) != 0;
  });
  {
    // The view selects a neighbour of a removed current item. The selection stays what
    // it was instead, and when the selected node itself went, nothing is selected and the
    // right pane stays empty.
    const QSignalBlocker blocker(this);
    selectionModel()->clear();
    if (selected_) setCurrentItem(selected_->item);
  }
}

QTreeWidgetItem* CConfigTree::SelectedItem() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? nullptr : items.front();
}

void CConfigTree::RemoveNodesOf(const RecordRef& record) {
  RemoveItemsOf(record);
  MarkModified();
}

bool CConfigTree::RemoveRuleSet(RuleSet* ruleSet) {
  if (!ruleSet) return false;
  auto held = std::find_if(configuration_.ruleSets.begin(), configuration_.ruleSets.end(),
                           [ruleSet](const auto& r) { return r.get() == ruleSet; });
  if (held == configuration_.ruleSets.end()) return false;

  // Forms refer to their rule set and input groups to rules; neither may be left
  // pointing at freed records, so a rule set still in use is not removed.
  const std::vector<std::string> users = FormsUsing(ruleSet);
  if (!users.empty()) {
    // One form a line: the list is built from safe pieces, so its line breaks stay.
    msg::ShowPrepared(62150, {msg::Displayable(ruleSet->name), msg::DisplayableLines(users)},
                      msg::Buttons::Ok, msg::Icon::Warning);
    return false;
  }

  std::unique_ptr<RuleSet> owned = ::RemoveRuleSet(configuration_, ruleSet);
  if (!owned) return false;
  RemoveItemsOf(ruleSet);
  owned.reset();
  MarkModified();
  return true;
}

std::vector<std::string> CConfigTree::FormsUsing(const RuleSet* ruleSet) const {
  std::vector<std::string> users;
  if (!ruleSet) return users;
  for (const SearchForm* form : UsersOfRuleSet(configuration_, *ruleSet))
    users.push_back(FormCaption(*form).toStdString());
  return users;
}

bool CConfigTree::RemoveForm(SearchForm* form) {
  if (!form) return false;
  std::unique_ptr<SearchForm> owned = configuration_.DetachForm(form);
  if (!owned) return false;
  RemoveItemsOf(form);
  owned.reset();
  MarkModified();
  return true;
}

RuleSet* CConfigTree::OwnerOf(const SearchRule* rule) const {
  if (!rule) return nullptr;
  for (const auto& ruleSet : configuration_.ruleSets) {
    if (ruleSet.get() != rule->ownerRuleSet) continue;
    if (ruleSet->FindRule(rule->name) == rule) return ruleSet.get();
  }
  return nullptr;
}

CPropertyPanel* CConfigTree::currentPanel() const { return panel_.data(); }

void CConfigTree::MarkModified() {
  if (!editPending_) {
    editPending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { CommitEdit(); }, Qt::QueuedConnection);
  }
  UpdateModified();
}

void CConfigTree::SetModified(bool modified) {
  if (modified) return MarkModified();
  CommitEdit();
  history_->MarkSaved();
  UpdateModified();
}

void CConfigTree::OnCurrentItemChanged(QTreeWidgetItem* current) {
  TreeNodeRecord* record = RecordOf(current);
  if (record && record == selected_) return;
  selected_ = record;
  RemovePanel();
  if (record) ShowPanelFor(record);
}

void CConfigTree::ShowPanelFor(TreeNodeRecord* record) {
  if (record != selected_ || record->kind < RuleSetsRoot || record->kind > InputFieldNode) return;
  RemovePanel();
  QWidget* host = rightPane_ ? static_cast<QWidget*>(rightPane_.data()) : parentWidget();
  RuleSet* owner = nullptr;
  switch (record->kind) {
    case RuleNode:
      owner = OwnerOf(RecordAs<SearchRule>(record->object));
      // A rule whose owner cannot be confirmed (a second rule of the same name) shows
      // an empty right pane.
      if (!owner) return;
      break;
    default:
      break;
  }
  CPropertyPanel* panel = CreatePropertyPanel(this, record->kind, record->object, owner, host);
  if (!panel) return;
  panel->setObjectName(ObjectName(kIdPropertyPanel));
  if (panel->windowTitle().isEmpty()) panel->setWindowTitle(kPanelTitles[record->kind]);
  connect(panel, &CPropertyPanel::modified, this, &CConfigTree::MarkModified);
  connect(panel, &CPropertyPanel::renameRequested, this, &CConfigTree::RenameFromPanel);
  panel_ = panel;
  if (rightPane_) {
    rightPane_->SetPanel(panel);
  } else if (host) {
    panel->setGeometry(host->rect());
  }
  panel->show();
}

void CConfigTree::RemovePanel() {
  if (rightPane_ && rightPane_->panel() == panel_.data()) rightPane_->SetPanel(nullptr);
  if (!panel_) return;
  CPropertyPanel* panel = panel_.data();
  panel_ = nullptr;
  // The panel may be the caller (a button action that removed its own node), so it is
  // detached and hidden now and destroyed once control is back in the event loop.
  panel->hide();
  panel->disconnect(this);
  panel->setParent(nullptr);
  panel->deleteLater();
}

QString CConfigTree::CaptionOf(int kind, const RecordRef& object) const {
  switch (kind) {
    case RuleSetsRoot:
      return Q(std::string(msg::LoadString(61204)));
    case FormsRoot:
      return Q(std::string(msg::LoadString(61211)));
    case RuleSetNode:
      return Q(RecordAs<RuleSet>(object)->name);
    case RuleNode:
      return Q(RecordAs<SearchRule>(object)->name);
    case FormNode:
      return FormCaption(*RecordAs<SearchForm>(object));
    case InputGroupNode:
      return Q(RecordAs<InputGroup>(object)->name);
    case InputFieldNode:
      return Q(RecordAs<InputField>(object)->name);
  }
  return QString();
}

void CConfigTree::RefreshCaptions() {
  for (const auto& record : records_) {
    const QString caption = CaptionOf(record->kind, record->object);
    if (record->item->text(0) != caption) record->item->setText(0, caption);
  }
}

void CConfigTree::RefreshPanel() {
  if (!selected_) return;
  RemovePanel();
  ShowPanelFor(selected_);
}

namespace {

// The name rules of a rule, as the "Add Rule" dialog applies them, and unique in `owner`.
int CheckRuleName(const std::string& name, const RuleSet& owner, const SearchRule& rule,
                  std::vector<std::string>& args) {
  args = {name};
  if (QString::fromStdString(name).toUcs4().size() < 3) return 61253;
  if (!IsStorableName(NameKind::Rule, name)) return 62160;
  return NameDialog::Refusal(CheckRuleNameFree(owner, name, &rule), args);
}

// The name rules of the form dialogs, then `free`: the check of a new name for a form,
// input group or input field beside its siblings.
int CheckFormRecordName(const std::string& name, const msg::Outcome& free,
                        std::vector<std::string>& args) {
  args = {name};
  if (const int problem = CheckFormName(name)) return problem;
  return NameDialog::Refusal(free, args);
}

// `object` as the `Record` a rename is about, with its current name in `current`.
template <class Record>
Record* RenameTarget(const RecordRef& object, std::string& current) {
  Record* target = RecordAs<Record>(object);
  current = target->name;
  return target;
}

}  // namespace

bool CConfigTree::Rename(QTreeWidgetItem* item) {
  TreeNodeRecord* record = RecordOf(item);
  if (!record || IsNullRecord(record->object)) return false;
  Configuration& config = configuration_;
  std::string current;
  QString title;
  RenameDialog::Check check;
  // Renames through the model, which keeps its indexes and refuses what it must.
  std::function<msg::Outcome(const std::string&)> apply;
  switch (record->kind) {
    case RuleSetNode: {
      auto* ruleSet = RenameTarget<RuleSet>(record->object, current);
      title = QStringLiteral("Rename Rule Set");
      apply = [&config, ruleSet](const std::string& name) {
        return RenameRuleSet(config, *ruleSet, name);
      };
      check = [&config, ruleSet](const std::string& name, std::vector<std::string>& args) {
        std::vector<std::string> others;
        for (const auto& r : config.ruleSets)
          if (r.get() != ruleSet) others.push_back(r->name);
        return CheckRuleSetName(name, others, args);
      };
      break;
    }
    case RuleNode: {
      SearchRule* rule = RecordAs<SearchRule>(record->object);
      RuleSet* owner = OwnerOf(rule);
      if (!owner) return false;
      current = rule->name;
      title = QStringLiteral("Rename Rule");
      check = [owner, rule](const std::string& name, std::vector<std::string>& args) {
        return CheckRuleName(name, *owner, *rule, args);
      };
      apply = [owner, rule](const std::string& name) { return RenameRule(*owner, *rule, name); };
      break;
    }
    case FormNode: {
      auto* form = RenameTarget<SearchForm>(record->object, current);
      title = QStringLiteral("Rename Form");
      apply = [&config, form](const std::string& name) { return RenameForm(config, *form, name); };
      check = [&config, form](const std::string& name, std::vector<std::string>& args) {
        return CheckFormRecordName(name, CheckFormNameFree(config, name, form), args);
      };
      break;
    }
    case InputGroupNode: {
      auto* group = RenameTarget<InputGroup>(record->object, current);
      SearchForm* form = FormOfGroup(config, group);
      title = QStringLiteral("Rename Input Group");
      apply = [form, group](const std::string& name) {
        if (!form) {
          group->name = name;  // a group of no form has no siblings
          return msg::Outcome();
        }
        return RenameGroup(*form, *group, name);
      };
      check = [form, group](const std::string& name, std::vector<std::string>& args) {
        return CheckFormRecordName(
            name, form ? CheckGroupNameFree(*form, name, group) : msg::Outcome(), args);
      };
      break;
    }
    case InputFieldNode: {
      auto* field = RenameTarget<InputField>(record->object, current);
      InputGroup* group = GroupOfField(config, field);
      title = QStringLiteral("Rename Input Field");
      apply = [group, field](const std::string& name) {
        if (!group) {
          field->name = name;  // a field of no group has no siblings
          return msg::Outcome();
        }
        return RenameField(*group, *field, name);
      };
      check = [group, field](const std::string& name, std::vector<std::string>& args) {
        return CheckFormRecordName(
            name, group ? CheckFieldNameFree(*group, name, field) : msg::Outcome(), args);
      };
      break;
    }
    default:
      return false;
  }

  RenameDialog dialog(title, current, check, this);
  if (dialog.exec() != QDialog::Accepted || dialog.name == current) return false;
  if (const msg::Outcome renamed = apply(dialog.name); !renamed) {
    msg::Show(renamed);
    return false;
  }
  RefreshCaptions();
  RefreshPanel();
  MarkModified();
  return true;
}

bool CConfigTree::CanDuplicate(const QTreeWidgetItem* item) {
  const TreeNodeRecord* record = RecordOf(item);
  return record && (record->kind == RuleSetNode || record->kind == FormNode);
}

bool CConfigTree::Duplicate(QTreeWidgetItem* item) {
  if (!CanDuplicate(item)) return false;
  const TreeNodeRecord* record = RecordOf(item);
  Configuration& config = configuration_;
  const bool isRuleSet = record->kind == RuleSetNode;
  auto* ruleSet = isRuleSet ? RecordAs<RuleSet>(record->object) : nullptr;
  auto* form = isRuleSet ? nullptr : RecordAs<SearchForm>(record->object);
  const std::string& original = isRuleSet ? ruleSet->name : form->name;
  const auto taken = [&](const std::string& name) {
    return isRuleSet ? !CheckRuleSetNameFree(config, name) : !CheckFormNameFree(config, name);
  };
  std::string proposed = msg::Text(62348, {original});
  for (int n = 2; taken(proposed); ++n)
    proposed = msg::Text(62348, {original}) + " " + std::to_string(n);
  RenameDialog::Check check = [&](const std::string& name, std::vector<std::string>& args) {
    if (isRuleSet) {
      std::vector<std::string> others;
      for (const auto& r : config.ruleSets) others.push_back(r->name);
      return CheckRuleSetName(name, others, args);
    }
    return CheckFormRecordName(name, CheckFormNameFree(config, name), args);
  };
  RenameDialog dialog(Q(msg::Text(isRuleSet ? 62347 : 62349)), proposed, check, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  QTreeWidgetItem* added = nullptr;
  if (isRuleSet) {
    RuleSet* copy = nullptr;
    if (const msg::Outcome made = DuplicateRuleSet(config, *ruleSet, dialog.name, &copy); !made) {
      msg::Show(made);
      return false;
    }
    AddRuleSetNodes(copy);
    added = ItemOf(copy);
  } else {
    SearchForm* copy = nullptr;
    if (const msg::Outcome made = DuplicateForm(config, *form, dialog.name, &copy); !made) {
      msg::Show(made);
      return false;
    }
    AddFormNodes(copy);
    added = ItemOf(copy);
  }
  MarkModified();
  if (added) {
    setCurrentItem(added);
    added->setSelected(true);
  }
  return true;
}

void CConfigTree::RenameFromPanel() {
  if (!selected_) return;
  Rename(selected_->item);
  if (panel_ && panel_->renameButton()) panel_->renameButton()->setFocus(Qt::OtherFocusReason);
}

namespace {

// The Add button of the panel of a node of `kind`; 0 for a kind whose panel adds no node.
int AddButtonOf(int kind) {
  switch (kind) {
    case RuleSetsRoot:
    case FormsRoot:
      return kIdRootListAddButton;
    case RuleSetNode:
      return kIdRuleSetAddRuleButton;
    case FormNode:
      return kIdFormAddGroupButton;
    case InputGroupNode:
      return kIdInputGroupAddFieldButton;
    default:
      return 0;
  }
}

}  // namespace

bool CConfigTree::CanAddBelow(const QTreeWidgetItem* item) {
  const TreeNodeRecord* record = RecordOf(item);
  return record && AddButtonOf(record->kind) != 0;
}

bool CConfigTree::AddBelow(QTreeWidgetItem* item) {
  if (!CanAddBelow(item)) return false;
  const int button = AddButtonOf(RecordOf(item)->kind);
  setCurrentItem(item);
  CPropertyPanel* panel = currentPanel();
  auto* add = panel ? panel->findChild<QPushButton*>(ObjectName(button)) : nullptr;
  if (!add || !add->isEnabled()) return false;
  add->click();
  return true;
}

bool CConfigTree::CanRemove(QTreeWidgetItem* item) {
  const TreeNodeRecord* record = RecordOf(item);
  const TreeNodeRecord* parent = item ? RecordOf(item->parent()) : nullptr;
  if (!record || !parent || IsNullRecord(record->object)) return false;
  // The parent's panel, built to look, not shown.
  // Rules have no nodes below them, so the parent is never a rule and needs no owner.
  std::unique_ptr<CPropertyPanel> panel(
      CreatePropertyPanel(this, parent->kind, parent->object, nullptr, nullptr));
  return panel && panel->ListsRecord(record->object);
}

bool CConfigTree::RemoveNode(QTreeWidgetItem* item) {
  if (!CanRemove(item)) return false;
  const RecordRef object = RecordOf(item)->object;
  const TreeNodeRecord* parent = RecordOf(item->parent());
  // The parent's own panel does the removal, so its rules apply; it is not shown, and
  // the node (and its shown panel) stays selected until the record goes.
  std::unique_ptr<CPropertyPanel> panel(
      CreatePropertyPanel(this, parent->kind, parent->object, nullptr, nullptr));
  if (!panel) return false;
  connect(panel.get(), &CPropertyPanel::modified, this, &CConfigTree::MarkModified);
  panel->RemoveListed(object);
  return ItemOf(object) == nullptr;
}

QMenu* CConfigTree::CreateContextMenu(QTreeWidgetItem* item) {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("treeContextMenu"));
  const TreeNodeRecord* record = RecordOf(item);
  auto text = [](int id) { return Q(std::string(msg::LoadString(id))); };
  QAction* add = menu->addAction(text(62330), this, [this, item] { AddBelow(item); });
  add->setObjectName(QStringLiteral("treeAdd"));
  add->setEnabled(CanAddBelow(item));
  QAction* rename = menu->addAction(text(62331), this, [this, item] { Rename(item); });
  rename->setObjectName(QStringLiteral("treeRename"));
  rename->setEnabled(record && !IsNullRecord(record->object));
  QAction* duplicate = menu->addAction(text(62346), this, [this, item] { Duplicate(item); });
  duplicate->setObjectName(QStringLiteral("treeDuplicate"));
  duplicate->setEnabled(CanDuplicate(item));
  QAction* remove = menu->addAction(text(62332), this, [this, item] { RemoveNode(item); });
  remove->setObjectName(QStringLiteral("treeRemove"));
  remove->setEnabled(CanRemove(item));
  return menu;
}

void CConfigTree::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item =
      event->reason() == QContextMenuEvent::Mouse ? itemAt(event->pos()) : currentItem();
  if (!item) return;
  // The menu is about the node it was opened on, so that node is selected first.
  setCurrentItem(item);
  std::unique_ptr<QMenu> menu(CreateContextMenu(item));
  const QPoint where = event->reason() == QContextMenuEvent::Mouse
                           ? event->globalPos()
                           : viewport()->mapToGlobal(visualItemRect(item).center());
  menu->exec(where);
}

bool CConfigTree::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip && ShowTipWhereCut(this, static_cast<QHelpEvent*>(event)))
    return true;
  return QTreeWidget::viewportEvent(event);
}

void CConfigTree::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
    event->accept();
    Rename(currentItem());
    return;
  }
  if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
    event->accept();
    RemoveNode(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CConfigTree::drawBranches(QPainter* painter, const QRect& rect,
                               const QModelIndex& index) const {
  // Dotted connecting lines, and a box with "+" (collapsed) or "-" (expanded) on every
  // node that has nodes below it; a click on the box opens or closes the node.
  const int indent = indentation();
  if (indent <= 0) return;
  QPen pen(palette().color(QPalette::Mid));
  pen.setStyle(Qt::DotLine);
  painter->save();
  painter->setPen(pen);
  const int midY = rect.top() + rect.height() / 2;
  // Levels from the item itself up to the top level, right to left.
  QModelIndex level = index;
  int column = rect.width() / indent - 1;
  bool first = true;
  while (level.isValid() && column >= 0) {
    const int x = rect.left() + column * indent + indent / 2;
    const QModelIndex parent = level.parent();
    const bool hasBelow = level.row() + 1 < model()->rowCount(parent);
    if (first) {
      painter->drawLine(x, rect.top(), x, hasBelow ? rect.bottom() : midY);
      painter->drawLine(x, midY, rect.left() + (column + 1) * indent - 2, midY);
      if (model()->hasChildren(level)) DrawExpandBox(painter, QPoint(x, midY), isExpanded(level));
      first = false;
    } else if (hasBelow) {
      painter->drawLine(x, rect.top(), x, rect.bottom());
    }
    level = parent;
    --column;
  }
  painter->restore();
}

void CConfigTree::DrawExpandBox(QPainter* painter, QPoint centre, bool expanded) const {
  painter->save();
  const QRect box(centre.x() - kExpandBoxHalf, centre.y() - kExpandBoxHalf, 2 * kExpandBoxHalf,
                  2 * kExpandBoxHalf);
  painter->setPen(QPen(palette().color(QPalette::Dark)));
  painter->setBrush(palette().color(QPalette::Base));
  painter->drawRect(box);
  painter->setPen(QPen(palette().color(QPalette::Text)));
  const int arm = kExpandBoxHalf - 2;
  painter->drawLine(centre.x() - arm, centre.y(), centre.x() + arm, centre.y());
  if (!expanded) painter->drawLine(centre.x(), centre.y() - arm, centre.x(), centre.y() + arm);
  painter->restore();
}
