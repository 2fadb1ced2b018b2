// The base of every property panel of the editor's right pane: the dark blue title bar,
// the fonts, the push buttons, report lists (rows inserted at the top) and name lists
// (rows appended), Remove buttons that follow the list selection, and the layout helpers
// whose sizes come from text extents.
#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <climits>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "editor/recordref.h"

class QAbstractItemView;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;
class CConfigTree;

class CPropertyPanel : public QWidget {
  Q_OBJECT

 public:
  // Colour of the title bar (background) and of its text.
  static constexpr QColor kTitleBackground = QColor(0, 0, 127);
  static constexpr QColor kTitleText = QColor(255, 255, 255);
  // Width of the 3-D edge (the SM_CXEDGE / SM_CYEDGE metrics of the classic look).
  static constexpr int kEdge = 2;

  // A panel titled `title` (its window title) in `parent`; `tree` may be null for the
  // panels that never change the tree. The panel's objectName is "100".
  CPropertyPanel(CConfigTree* tree, const QString& title, QWidget* parent);
  ~CPropertyPanel() override;

  CConfigTree* tree() const { return tree_; }
  // The Rename button of a panel that shows one record's name, or null.
  QPushButton* renameButton() const { return renameButton_; }
  // "MS Sans Serif" stand-ins: the platform sans-serif face, 14 pixels high.
  const QFont& normalFont() const { return normalFont_; }
  const QFont& boldFont() const { return boldFont_; }

  // Extent of `text` in the default font of a plain device context (a bold 16-pixel
  // sans-serif face), which is what every layout rule measures in.
  static QSize TextExtent(const QString& text);

  // Whether the panel fills its background with the button-face colour (default true).
  void setPaintsBackground(bool on) { paintsBackground_ = on; }
  bool paintsBackground() const { return paintsBackground_; }

  // The record row `row` stands for (its Qt::UserRole data); empty when there is no such
  // row or the row stands for no record.
  static RecordRef RowData(QAbstractItemView* list, int row);
  // The record of row `row` when it is a `Record`, else null.
  template <class Record>
  static Record* RowRecord(QAbstractItemView* list, int row) {
    return RecordAs<Record>(RowData(list, row));
  }
  // Index of the selected row, or -1.
  static int SelectedRow(QAbstractItemView* list);
  // The record of the selected row of `list` (its row data) while `records` still holds
  // it, with that row in `row`; null without a selection or when the record has gone.
  template <class Record>
  static Record* SelectedRecord(QAbstractItemView* list,
                                const std::vector<std::unique_ptr<Record>>& records, int& row) {
    row = SelectedRow(list);
    if (row < 0) return nullptr;
    Record* record = RowRecord<Record>(list, row);
    for (const auto& held : records)
      if (held.get() == record) return record;
    return nullptr;
  }
  // The same for a list of references to records held elsewhere.
  template <class Record>
  static Record* SelectedRecord(QAbstractItemView* list, const std::vector<Record*>& records,
                                int& row) {
    row = SelectedRow(list);
    if (row < 0) return nullptr;
    Record* record = RowRecord<Record>(list, row);
    for (const Record* held : records)
      if (held == record) return record;
    return nullptr;
  }
  // First-column text of row `row` ("" when there is no such row).
  static QString RowText(QAbstractItemView* list, int row);
  static int RowCount(QAbstractItemView* list);
  // Deletes row `row` (nothing when out of range) and leaves no row selected or current.
  static void DeleteRow(QAbstractItemView* list, int row);
  // Removes every row.
  static void ClearRows(QAbstractItemView* list);
  // Refuses `text` as a new row because the list holds it already: shows message `id`
  // with `text`, then selects that row and puts the focus on the list.
  static void RefuseListed(int id, QAbstractItemView* list, const QString& text);

  // Report list: inserts a row at `index` (0 = top; -1 = the end) with one text per
  // column and `data` as row data. Returns the index used.
  static int InsertReportRow(QTreeWidget* list, int index, const QStringList& texts,
                             const RecordRef& data = {});
  // Name list: appends a row (or inserts at `index`) with `text` and `data`.
  static int InsertNameRow(QListWidget* list, const QString& text, const RecordRef& data = {},
                           int index = -1);

  // Whether a list with a Remove button (LinkRemoveButton) has a row for `record`.
  bool ListsRecord(const RecordRef& record) const;
  // Selects the row of `record` in that list and presses its Remove button, so the
  // panel's own rules apply. Nothing when no such list holds the record.
  void RemoveListed(const RecordRef& record);

 signals:
  // Emitted after the panel changed the model (the tree tracks unsaved changes by it).
  void modified();
  // Rename was pressed: the tree renames the record the panel shows.
  void renameRequested();

 protected:
  // Creates the title static `id` with the bold font; `coloured` gives it white text on
  // dark blue, otherwise it shows in the default static colours. Focusable, sunken edge,
  // left-aligned.
  QLabel* CreateTitle(int id, const QString& text, bool coloured = true);
  // A push button with the normal font. Remove buttons are created disabled.
  QPushButton* CreateButton(int id, const QString& text, bool enabled = true);
  // The Rename button (text 62220): a push button that emits renameRequested().
  QPushButton* CreateRenameButton(int id);
  // A plain static (label) with the normal font.
  QLabel* CreateLabel(int id, const QString& text);
  // A report list: single selection, full-row select, selection shown when unfocused,
  // left-aligned columns of the given (text, width) pairs.
  QTreeWidget* CreateReportList(int id, const std::vector<std::pair<QString, int>>& columns);
  // A name list: single column of names flowing top to bottom, then into further
  // columns, single selection.
  QListWidget* CreateNameList(int id);
  // Enables `remove` exactly while `list` has a selected row; clicking where no row is
  // clears the selection, and the Delete key in the list presses `remove`.
  void LinkRemoveButton(QAbstractItemView* list, QPushButton* remove);
  // An Add button (`addId`), a Remove button (`removeId`, linked by LinkRemoveButton) and
  // the name list `listId` they work on, created in this order. A click on Add calls
  // `onAdd`, one on Remove `onRemove` (nothing for an empty function).
  std::tuple<QPushButton*, QPushButton*, QListWidget*> CreateEditableNameList(
      int addId, const QString& addText, int removeId, const QString& removeText, int listId,
      const std::function<void()>& onAdd = {}, const std::function<void()>& onRemove = {});

  // The standard arrangement: title across the top, buttons in a row below it, `list`
  // filling the rest. Sizes from text extents; the list shrinks first.
  void LayoutStandard(QLabel* title, const std::vector<QPushButton*>& buttons, QWidget* list,
                      int cx, int cy);
  // Places the title at (6, 6) across the panel; returns its bottom edge (y + height).
  // A title the panel cuts off shows whole as its tool tip.
  int PlaceTitle(QLabel* title, int cx);
  // Places `buttons` in a row at (x, top), `gap` apart, each as wide as its label extent
  // plus 6 edges and as high as the first label's extent plus 4 edges; a button that would
  // cross `right` starts a new row below. Returns the bottom of the last row.
  int PlaceButtonRow(const std::vector<QPushButton*>& buttons, int x, int top, int gap = 8,
                     int right = INT_MAX);

 public:
  // The least height a list is given when the panel is short (two rows of text).
  static int MinimumListHeight();
  // The size the panel needs at width `cx` so that no control overlaps another or sticks
  // out of the panel: the bounds of its controls laid out with the lists at their least
  // height, plus a margin. The pane scrolls where it is smaller than this.
  QSize RequiredSize(int cx);

  // Space between wrapped button rows, and the margin RequiredSize keeps at the edges.
  static constexpr int kWrapGap = 6;
  static constexpr int kMargin = 6;

 protected:
  // Called on every size change (and by Relayout) with the new client size.
  virtual void LayoutControls(int cx, int cy);
  // Lays the controls out for the current size.
  void Relayout();
  // Remove of a list of owned records: the selected row's record, while `records` still
  // holds it, leaves the tree (when the panel has one), then `records` and the list, and
  // the change is reported. The row's own record goes, even should two share a name.
  // Nothing without a selection.
  template <class Record>
  void RemoveSelectedRecord(QAbstractItemView* list,
                            std::vector<std::unique_ptr<Record>>& records) {
    int row = -1;
    Record* record = SelectedRecord(list, records, row);
    if (!record) return;
    RemoveTreeNodesOf(record);
    std::erase_if(records, [record](const auto& held) { return held.get() == record; });
    DeleteRow(list, row);
    NotifyModified();
  }
  // Takes the nodes of `record` out of the tree; nothing for a panel without a tree.
  void RemoveTreeNodesOf(const RecordRef& record);
  // Emits modified().
  void NotifyModified() { emit modified(); }

  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The row of `record` in a list linked to a Remove button: the list, its button and
  // the row (-1 when none).
  struct Listed {
    QAbstractItemView* list = nullptr;
    QPushButton* remove = nullptr;
    int row = -1;
  };
  Listed Find(const RecordRef& record) const;

  CConfigTree* tree_;
  std::vector<std::pair<QAbstractItemView*, QPushButton*>> removeLinks_;
  QPushButton* renameButton_ = nullptr;
  QFont normalFont_;
  QFont boldFont_;
  bool paintsBackground_ = true;
};
