#include "editor/propertypanel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/cuttexttip.h"
#include "platform/support/messages.h"

namespace {

QFont PanelFont(bool bold) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(14);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  return font;
}

}  // namespace

CPropertyPanel::CPropertyPanel(CConfigTree* tree, const QString& title, QWidget* parent)
    : QWidget(parent), tree_(tree), normalFont_(PanelFont(false)), boldFont_(PanelFont(true)) {
  setObjectName(ObjectName(kIdPropertyPanel));
  setWindowTitle(title);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

CPropertyPanel::~CPropertyPanel() = default;

QSize CPropertyPanel::TextExtent(const QString& text) {
  // A device context without a selected font measures in the classic "System" font:
  // bold, 16 pixels high. That font is larger than the panels' own, which gives the
  // controls room around their texts.
  static const QFont measuring = [] {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(16);
    font.setBold(true);
    return font;
  }();
  QFontMetrics metrics(measuring);
  // An empty text still has the line height, as a device context measures it.
  if (text.isEmpty()) return QSize(0, metrics.height());
  return metrics.size(Qt::TextSingleLine, text);
}

RecordRef CPropertyPanel::RowData(QAbstractItemView* list, int row) {
  if (auto* tree = qobject_cast<QTreeWidget*>(list)) {
    QTreeWidgetItem* item = tree->topLevelItem(row);
    return item ? item->data(0, Qt::UserRole).value<RecordRef>() : RecordRef();
  }
  if (auto* names = qobject_cast<QListWidget*>(list)) {
    QListWidgetItem* item = names->item(row);
    return item ? item->data(Qt::UserRole).value<RecordRef>() : RecordRef();
  }
  return RecordRef();
}

int CPropertyPanel::SelectedRow(QAbstractItemView* list) {
  if (!list || !list->selectionModel()) return -1;
  const QModelIndexList rows = list->selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  int best = rows.front().row();
  for (const QModelIndex& index : rows) best = std::min(best, index.row());
  return best;
}

QString CPropertyPanel::RowText(QAbstractItemView* list, int row) {
  if (auto* tree = qobject_cast<QTreeWidget*>(list)) {
    QTreeWidgetItem* item = tree->topLevelItem(row);
    return item ? item->text(0) : QString();
  }
  if (auto* names = qobject_cast<QListWidget*>(list)) {
    QListWidgetItem* item = names->item(row);
    return item ? item->text() : QString();
  }
  return QString();
}

int CPropertyPanel::RowCount(QAbstractItemView* list) {
  if (auto* tree = qobject_cast<QTreeWidget*>(list)) return tree->topLevelItemCount();
  if (auto* names = qobject_cast<QListWidget*>(list)) return names->count();
  return 0;
}

void CPropertyPanel::DeleteRow(QAbstractItemView* list, int row) {
  if (row < 0 || row >= RowCount(list)) return;
  if (auto* tree = qobject_cast<QTreeWidget*>(list)) {
    delete tree->takeTopLevelItem(row);
  } else if (auto* names = qobject_cast<QListWidget*>(list)) {
    delete names->takeItem(row);
  }
  // The view selects a neighbour of a removed selected row; after a removal nothing is
  // selected, so the Remove button goes off and a second press removes nothing.
  if (list->selectionModel()) list->selectionModel()->clear();
}

void CPropertyPanel::RefuseListed(int id, QAbstractItemView* list, const QString& text) {
  msg::Show(id, {text.toStdString()});
  for (int row = 0; row < RowCount(list); ++row) {
    if (RowText(list, row) != text) continue;
    const QModelIndex index = list->model()->index(row, 0);
    list->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollTo(index);
    break;
  }
  list->setFocus(Qt::OtherFocusReason);
}

void CPropertyPanel::ClearRows(QAbstractItemView* list) {
  if (auto* tree = qobject_cast<QTreeWidget*>(list)) tree->clear();
  if (auto* names = qobject_cast<QListWidget*>(list)) names->clear();
}

int CPropertyPanel::InsertReportRow(QTreeWidget* list, int index, const QStringList& texts,
                                    const RecordRef& data) {
  auto* item = new QTreeWidgetItem(texts);
  item->setData(0, Qt::UserRole, QVariant::fromValue(data));
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  const int count = list->topLevelItemCount();
  if (index < 0 || index > count) index = count;
  list->insertTopLevelItem(index, item);
  return index;
}

int CPropertyPanel::InsertNameRow(QListWidget* list, const QString& text, const RecordRef& data,
                                  int index) {
  auto* item = new QListWidgetItem(text);
  item->setData(Qt::UserRole, QVariant::fromValue(data));
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  const int count = list->count();
  if (index < 0 || index > count) index = count;
  list->insertItem(index, item);
  return index;
}

QLabel* CPropertyPanel::CreateTitle(int id, const QString& text, bool coloured) {
  auto* title = new QLabel(text, this);
  title->setObjectName(ObjectName(id));
  title->setFont(boldFont_);
  title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  title->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  title->setLineWidth(1);
  title->setFocusPolicy(Qt::TabFocus);
  title->setTextFormat(Qt::PlainText);
  // Without roles of its own a widget takes the background role of the nearest ancestor
  // that set one: inside the pane's scroll area that is the button face, which would
  // paint the title in button colours whatever its palette says.
  title->setBackgroundRole(QPalette::Window);
  title->setForegroundRole(QPalette::WindowText);
  if (coloured) {
    QPalette palette = title->palette();
    palette.setColor(QPalette::Window, kTitleBackground);
    palette.setColor(QPalette::WindowText, kTitleText);
    title->setPalette(palette);
    title->setAutoFillBackground(true);
  }
  title->setGeometry(0, 0, 10, 10);
  return title;
}

QPushButton* CPropertyPanel::CreateButton(int id, const QString& text, bool enabled) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(ObjectName(id));
  button->setFont(normalFont_);
  button->setEnabled(enabled);
  button->setAutoDefault(false);
  button->setGeometry(0, 0, 10, 10);
  return button;
}

QPushButton* CPropertyPanel::CreateRenameButton(int id) {
  renameButton_ = CreateButton(id, QString::fromUtf8(msg::LoadString(62220)));
  connect(renameButton_, &QPushButton::clicked, this, &CPropertyPanel::renameRequested);
  return renameButton_;
}

QLabel* CPropertyPanel::CreateLabel(int id, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setObjectName(ObjectName(id));
  label->setFont(normalFont_);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(0, 0, 10, 10);
  return label;
}

QTreeWidget* CPropertyPanel::CreateReportList(int id,
                                              const std::vector<std::pair<QString, int>>& columns) {
  auto* list = new QTreeWidget(this);
  list->setObjectName(ObjectName(id));
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSortingEnabled(false);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setColumnCount(int(columns.size()));
  QStringList labels;
  for (const auto& column : columns) labels << column.first;
  list->setHeaderLabels(labels);
  list->header()->setStretchLastSection(false);
  list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list->header()->setSectionsMovable(false);
  for (int i = 0; i < int(columns.size()); ++i) list->setColumnWidth(i, columns[size_t(i)].second);
  // Rows keep showing as selected while the list has no focus.
  QPalette palette = list->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Inactive, QPalette::Button).darker(115));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::Text));
  list->setPalette(palette);
  list->setGeometry(0, 0, 10, 10);
  return list;
}

QListWidget* CPropertyPanel::CreateNameList(int id) {
  auto* list = new QListWidget(this);
  list->setObjectName(ObjectName(id));
  list->setViewMode(QListView::ListMode);
  list->setFlow(QListView::TopToBottom);
  list->setWrapping(true);
  list->setResizeMode(QListView::Adjust);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSortingEnabled(false);
  list->setMovement(QListView::Static);
  // Scrolled by the column, a column wider than the list could never be seen whole;
  // by the pixel, rows wider than the list scroll sideways to their end.
  list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  list->setGeometry(0, 0, 10, 10);
  return list;
}

void CPropertyPanel::LinkRemoveButton(QAbstractItemView* list, QPushButton* remove) {
  remove->setEnabled(false);
  auto update = [list, remove]() { remove->setEnabled(SelectedRow(list) >= 0); };
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, remove, update);
  // Rows removed or the model reset change the selection without always reporting it.
  connect(list->model(), &QAbstractItemModel::rowsRemoved, remove, update);
  connect(list->model(), &QAbstractItemModel::modelReset, remove, update);
  list->viewport()->installEventFilter(this);
  list->installEventFilter(this);
  removeLinks_.emplace_back(list, remove);
}

CPropertyPanel::Listed CPropertyPanel::Find(const RecordRef& record) const {
  if (IsNullRecord(record)) return {};
  for (const auto& [list, remove] : removeLinks_) {
    for (int row = 0; row < RowCount(list); ++row) {
      if (RowData(list, row) == record) return {list, remove, row};
    }
  }
  return {};
}

bool CPropertyPanel::ListsRecord(const RecordRef& record) const { return Find(record).row >= 0; }

void CPropertyPanel::RemoveListed(const RecordRef& record) {
  const Listed listed = Find(record);
  if (listed.row < 0) return;
  const QModelIndex index = listed.list->model()->index(listed.row, 0);
  listed.list->setCurrentIndex(index);
  listed.list->selectionModel()->select(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (listed.remove->isEnabled()) listed.remove->click();
}

std::tuple<QPushButton*, QPushButton*, QListWidget*> CPropertyPanel::CreateEditableNameList(
    int addId, const QString& addText, int removeId, const QString& removeText, int listId,
    const std::function<void()>& onAdd, const std::function<void()>& onRemove) {
  QPushButton* add = CreateButton(addId, addText);
  QPushButton* remove = CreateButton(removeId, removeText, false);
  QListWidget* list = CreateNameList(listId);
  LinkRemoveButton(list, remove);
  if (onAdd) connect(add, &QPushButton::clicked, this, onAdd);
  if (onRemove) connect(remove, &QPushButton::clicked, this, onRemove);
  return {add, remove, list};
}

bool CPropertyPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
      for (const auto& [list, remove] : removeLinks_) {
        if (list != watched) continue;
        if (remove->isEnabled()) remove->click();
        return true;
      }
    }
  }
  if (event->type() == QEvent::ToolTip) {
    auto* view = qobject_cast<QAbstractItemView*>(watched->parent());
    if (view && view->viewport() == watched &&
        ShowTipWhereCut(view, static_cast<QHelpEvent*>(event)))
      return true;
  }
  if (event->type() == QEvent::MouseButtonPress) {
    // A click where no row is clears the selection, as the classic list control does.
    auto* view = qobject_cast<QAbstractItemView*>(watched->parent());
    if (view && view->viewport() == watched) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (!view->indexAt(mouse->position().toPoint()).isValid()) view->clearSelection();
    }
  }
  return QWidget::eventFilter(watched, event);
}

int CPropertyPanel::PlaceTitle(QLabel* title, int cx) {
  const QSize extent = TextExtent(title->text());
  const int height = extent.height() + 3 * kEdge;
  title->setGeometry(6, 6, std::max(0, cx - 12), height);
  const bool cut =
      QFontMetrics(title->font()).horizontalAdvance(title->text()) > title->contentsRect().width();
  title->setToolTip(cut ? title->text() : QString());
  return 6 + height;
}

int CPropertyPanel::PlaceButtonRow(const std::vector<QPushButton*>& buttons, int x, int top,
                                   int gap, int right) {
  if (buttons.empty()) return top;
  const int height = TextExtent(buttons.front()->text()).height() + 4 * kEdge;
  const int left = x;
  for (QPushButton* button : buttons) {
    const int width = TextExtent(button->text()).width() + 6 * kEdge;
    // A button that would cross the right edge starts the next row, so that buttons
    // never overlap or stick out of their panel or group box.
    if (x > left && x + width > right) {
      x = left;
      top += height + kWrapGap;
    }
    button->setGeometry(x, top, width, height);
    x += width + gap;
  }
  return top + height;
}

int CPropertyPanel::MinimumListHeight() {
  return 2 * TextExtent(QStringLiteral("Name")).height() + 4 * kEdge;
}

void CPropertyPanel::LayoutStandard(QLabel* title, const std::vector<QPushButton*>& buttons,
                                    QWidget* list, int cx, int cy) {
  const int titleBottom = PlaceTitle(title, cx);
  const int buttonBottom = PlaceButtonRow(buttons, 8, titleBottom + 8, 8, cx - 8);
  const int top = buttonBottom + 8;
  list->setGeometry(8, top, std::max(0, cx - 16), std::max(MinimumListHeight(), cy - 8 - top));
}

QSize CPropertyPanel::RequiredSize(int cx) {
  // Lay out for the width with no height to spare: the lists take their least height
  // and the bounds of the controls are the room the panel needs.
  LayoutControls(cx, 0);
  QRect bounds;
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!child->isHidden()) bounds |= child->geometry();
  }
  LayoutControls(width(), height());
  if (bounds.isNull()) return QSize(0, 0);
  return QSize(bounds.right() + 1 + kMargin, bounds.bottom() + 1 + kMargin);
}

void CPropertyPanel::LayoutControls(int, int) {}

void CPropertyPanel::RemoveTreeNodesOf(const RecordRef& record) {
  if (tree_) tree_->RemoveNodesOf(record);
}

void CPropertyPanel::Relayout() { LayoutControls(width(), height()); }

void CPropertyPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutControls(width(), height());
}

void CPropertyPanel::paintEvent(QPaintEvent* event) {
  if (!paintsBackground_) {
    QWidget::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
}
