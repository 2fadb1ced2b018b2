// The configuration tree of the editor's left pane: "Forms" and "Rule Sets" with every
// record below them. Selecting a node shows that node's property panel in the right pane;
// panels keep the tree in step with the model through the Add and Remove operations.
#pragma once

#include <QPointer>
#include <QTreeWidget>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "editor/panes.h"
#include "editor/recordref.h"

class Configuration;
class RuleSet;
class SearchRule;
class SearchForm;
class InputGroup;
class InputField;
class CPropertyPanel;
class EditHistory;
class QMenu;
class QUndoStack;
namespace kvaro {
class Oidtable;
}

enum TreeNodeKind : int {
  RuleSetsRoot = 0,
  FormsRoot = 1,
  RuleSetNode = 2,
  RuleNode = 3,
  FormNode = 4,
  InputGroupNode = 5,
  InputFieldNode = 6,
};

// One per tree item; the item's Qt::UserRole data points to it.
struct TreeNodeRecord {
  int kind = RuleSetsRoot;
  QTreeWidgetItem* item = nullptr;
  // The model record the node shows (not owned); empty for the two roots.
  RecordRef object;
};

Q_DECLARE_METATYPE(TreeNodeRecord*)

class CConfigTree : public QTreeWidget {
  Q_OBJECT

 public:
  // A tree over `configuration` with the two roots ("Rule Sets" inserted first, so
  // "Forms" shows above it) and nothing below them until Fill().
  CConfigTree(Configuration& configuration, const kvaro::Oidtable& table,
              QWidget* parent = nullptr);
  ~CConfigTree() override;

  // Where panels are shown; without one, panels are children of the tree's parent.
  void SetRightPane(OVS_RHSClientWnd* pane);
  OVS_RHSClientWnd* rightPane() const { return rightPane_; }

  // Builds every node below the roots from the configuration's rule sets and forms.
  // Called once after the configuration was loaded (or loaded again): the undo history
  // starts anew there.
  void Fill();
  // Removes every node below the roots and the shown panel, leaving the two roots: called
  // before the configuration's records are replaced (a reload), then Fill().
  void Empty();

  // Add a node for a rule set (form) the configuration has just taken, as the first child
  // of "Rule Sets" ("Forms"), and expand that root. A form's caption is FormCaption.
  void AddRuleSetNode(RuleSet* ruleSet);
  void AddFormNode(SearchForm* form);
  // Add a node as the first child of the parent record's first node and expand the
  // parent. Nothing happens when the parent has no node.
  void AddRuleNode(RuleSet* ruleSet, SearchRule* rule);
  // AddRuleSetNode (AddFormNode) with the nodes of every record below the rule set (form),
  // as Fill makes them.
  void AddRuleSetNodes(RuleSet* ruleSet);
  void AddFormNodes(SearchForm* form);
  void AddInputGroupNode(SearchForm* form, InputGroup* group);
  void AddInputFieldNode(InputGroup* group, InputField* field);

  // Takes the rule set out of the configuration, removes its nodes and destroys it.
  // Refused (false, after a message naming them) while forms or input groups still use
  // it or its rules.
  bool RemoveRuleSet(RuleSet* ruleSet);
  // Captions of the forms that use `ruleSet` or one of its rules (none: it may go).
  std::vector<std::string> FormsUsing(const RuleSet* ruleSet) const;
  // Takes the form out of the configuration, removes its nodes and destroys it. False
  // when the configuration does not hold it.
  bool RemoveForm(SearchForm* form);
  // Removes every node that shows `record`, with its subtree; the caller destroys the
  // record. A panel showing a removed node goes as well.
  void RemoveNodesOf(const RecordRef& record);

  // Rename of the record shown by `item` (a rule set, rule, form, input group or input
  // field): asks for the new name with the "Rename" dialog, which refuses a name the
  // record's Add dialog would refuse or that a record of the same kind in the same place
  // already has. On OK the record and every reference to it take the new name, the
  // captions and the shown panel follow, and the configuration counts as changed. True
  // when the name changed. F2 on a node and the panels' Rename buttons come here.
  bool Rename(QTreeWidgetItem* item);

  // Duplicate of the rule set or form shown by `item`: asks for the copy's name ("Copy of"
  // the name, made unique) with the name rules of Rename, then adds the copy (see
  // DuplicateRuleSet and DuplicateForm) with its nodes and selects it. True when a copy
  // was added.
  bool Duplicate(QTreeWidgetItem* item);
  static bool CanDuplicate(const QTreeWidgetItem* item);

  // Remove of the record shown by `item`, as the Remove button of the panel that lists it
  // (the parent node's panel) removes it: with that panel's question and refusals. True
  // when the record went. The Delete key and the context menu's Remove come here.
  bool RemoveNode(QTreeWidgetItem* item);
  // Whether RemoveNode can remove the record of `item` (roots and a form's target group
  // are not listed by any panel's Remove).
  bool CanRemove(QTreeWidgetItem* item);
  // Add... of the context menu: selects `item` and presses the Add button of its panel
  // (Add Rule Set, Add Rule, Add Form, Add Group, Add Input). False for a node whose panel
  // adds nothing below it.
  bool AddBelow(QTreeWidgetItem* item);
  static bool CanAddBelow(const QTreeWidgetItem* item);
  // The context menu of `item`: Add..., Rename, Duplicate... and Remove, each enabled where
  // it applies.
  // The caller owns the menu.
  QMenu* CreateContextMenu(QTreeWidgetItem* item);

  Configuration& configuration() const { return configuration_; }
  const kvaro::Oidtable& oidtable() const { return table_; }
  // The panel shown now, or null.
  CPropertyPanel* currentPanel() const;
  // The record of the node whose panel is shown, or null.
  const TreeNodeRecord* selectedRecord() const { return selected_; }

  // Unsaved changes: set by every panel change and every removal, cleared after a save.
  // Each user action that changed the configuration becomes one undo step, recorded once
  // control is back in the event loop (or before the next undo, redo or save), so that
  // an action that reports several changes is one step.
  void MarkModified();
  // Whether the configuration differs from the loaded or last saved one: an edit made
  // and not undone back to that state.
  bool isModified() const { return modified_; }
  // False: the configuration as it is now was saved (the undo history's clean state).
  // True: as MarkModified.
  void SetModified(bool modified);
  // Undo and redo of one edit (Ctrl+Z, Ctrl+Shift+Z): the configuration as before (after)
  // it, with the tree built again and the node of the same record selected. False when
  // there is nothing to undo (redo).
  bool Undo();
  bool Redo();
  // The undo history, for the Edit menu's actions and their texts.
  QUndoStack* undoStack() const;

  // The first node that shows `record` ("Rule Sets" when `record` is empty).
  QTreeWidgetItem* ItemOf(const RecordRef& record) const;
  QTreeWidgetItem* ruleSetsRoot() const { return ruleSetsRoot_; }
  QTreeWidgetItem* formsRoot() const { return formsRoot_; }
  // The rule set a rule node's panel is shown for: the first rule set that is the rule's
  // ownerRuleSet and whose first rule of that name is this very rule; else null.
  RuleSet* OwnerOf(const SearchRule* rule) const;
  // Number of node records (one per item).
  size_t recordCount() const { return records_.size(); }

  // Caption of a form node: "name (rule set name)".
  static QString FormCaption(const SearchForm& form);

 signals:
  // The unsaved-changes state changed.
  void modifiedChanged(bool modified);

 protected:
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Tool tips: a caption the pane cuts off shows whole.
  bool viewportEvent(QEvent* event) override;

 private:
  TreeNodeRecord* NewRecord(int kind, const RecordRef& object, const QString& caption,
                            QTreeWidgetItem* parent);
  // A record with a new item that becomes the first child of `parent` (none when null).
  TreeNodeRecord* NewDetachedRecord(int kind, const RecordRef& object, const QString& caption,
                                    QTreeWidgetItem* parent);
  void AddChildNode(const RecordRef& parent, int kind, const RecordRef& child,
                    const std::string& caption);
  void RemoveItemsOf(const RecordRef& object);
  void OnCurrentItemChanged(QTreeWidgetItem* current);
  void ShowPanelFor(TreeNodeRecord* record);
  void RemovePanel();
  // Builds the shown panel again from the model (after a rename).
  void RefreshPanel();
  // Sets every node's caption from its record again.
  void RefreshCaptions();
  // The caption of a node of `kind` showing `object`.
  QString CaptionOf(int kind, const RecordRef& object) const;
  // Rename pressed in the shown panel: renames its record, then gives the focus back to
  // the (new) panel's Rename button.
  void RenameFromPanel();
  static void Expand(QTreeWidgetItem* item);
  // Half the side of the expand box drawn at `centre` ("+" when collapsed, "-" when
  // expanded).
  static constexpr int kExpandBoxHalf = 4;
  void DrawExpandBox(QPainter* painter, QPoint centre, bool expanded) const;
  static TreeNodeRecord* RecordOf(const QTreeWidgetItem* item);
  // The selected item, or null.
  QTreeWidgetItem* SelectedItem() const;

  Configuration& configuration_;
  const kvaro::Oidtable& table_;
  QPointer<OVS_RHSClientWnd> rightPane_;
  QTreeWidgetItem* ruleSetsRoot_ = nullptr;
  QTreeWidgetItem* formsRoot_ = nullptr;
  std::list<std::unique_ptr<TreeNodeRecord>> records_;
  TreeNodeRecord* selected_ = nullptr;
  QPointer<CPropertyPanel> panel_;
  bool modified_ = false;
  // An edit was reported and is not recorded in the history yet.
  bool editPending_ = false;
  EditHistory* history_ = nullptr;
  // Records a reported edit in the history.
  void CommitEdit();
  void UpdateModified();
  // Builds the nodes (Fill without touching the history).
  void FillNodes();
  // Puts `state` in place of the configuration's records (undo, redo).
  void RestoreState(const Configuration& state);
};

// Builds the panel for a node of `kind` showing `object` (the factory in panelfactory.cpp).
// `owner` is the owning rule set for a rule node. Null when the kind has no panel.
CPropertyPanel* CreatePropertyPanel(CConfigTree* tree, int kind, const RecordRef& object,
                                    RuleSet* owner, QWidget* parent);
