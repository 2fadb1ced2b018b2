// Finding, reading and working controls by their object names in widget tests. Header
// only: the test support library itself does not link Qt Widgets.
#pragma once

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTreeWidget>

#include "widgets/controlids.h"

namespace testsupport {

// The child of `parent` named `name`; stops the test run when there is none, since every
// later step would only report the same missing control.
template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
  if (!child) qFatal("no control %s", name);
  return child;
}

// The child of `parent` with control id `id` (see Child above).
template <typename T>
T* Child(QWidget* parent, int id) {
  return Child<T>(parent, ObjectName(id).toLatin1().constData());
}

// Clicks button `id` of `parent` with the mouse.
inline void Click(QWidget* parent, const char* id) {
  QTest::mouseClick(Child<QPushButton>(parent, id), Qt::LeftButton);
}
inline void Click(QWidget* parent, int id) {
  QTest::mouseClick(Child<QPushButton>(parent, id), Qt::LeftButton);
}

// Empties line edit `editId` of `parent` and types `text` into it.
inline void Type(QWidget* parent, const char* editId, const QString& text) {
  auto* edit = Child<QLineEdit>(parent, editId);
  edit->clear();
  QTest::keyClicks(edit, text);
}
inline void Type(QWidget* parent, int editId, const QString& text) {
  auto* edit = Child<QLineEdit>(parent, editId);
  edit->clear();
  QTest::keyClicks(edit, text);
}

// The texts of the rows of `list`, top to bottom.
inline QStringList Rows(const QListWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
  return rows;
}

// The texts of column `column` of `list`'s top-level rows, top to bottom.
inline QStringList Column(const QTreeWidget* list, int column) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(column);
  return rows;
}

// The first-column captions of `parent`'s children, in order.
inline QStringList Captions(const QTreeWidgetItem* parent) {
  QStringList out;
  for (int i = 0; parent && i < parent->childCount(); ++i) out << parent->child(i)->text(0);
  return out;
}

// The item reached from `from` by following the child captions of `path` (null when one
// of them is missing).
inline QTreeWidgetItem* ItemAt(QTreeWidgetItem* from, const QStringList& path) {
  QTreeWidgetItem* item = from;
  for (const QString& caption : path) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; item && i < item->childCount() && !next; ++i) {
      if (item->child(i)->text(0) == caption) next = item->child(i);
    }
    item = next;
  }
  return item;
}

}  // namespace testsupport
