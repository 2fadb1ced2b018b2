// Tool tips that show an item's whole text where a list or tree cuts it off.
#pragma once

class QAbstractItemView;
class QHelpEvent;
class QModelIndex;

// For a tool-tip event on `view`'s viewport: when the text of the item under the pointer
// does not fit where it is shown (its column is too narrow, or the view shows only part
// of it), shows the whole text as a tool tip and returns true; otherwise hides any tool
// tip and returns false (the view then handles the event as usual).
bool ShowTipWhereCut(QAbstractItemView* view, QHelpEvent* event);

// Whether the text of the item at `index` of `view` is shown only in part.
bool IsTextCut(const QAbstractItemView* view, const QModelIndex& index);
