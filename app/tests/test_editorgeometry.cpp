// Nothing in the editor's panels and dialogs is cut off or overlaps another control:
// every visible widget lies inside its parent, the controls of a panel do not overlap
// (a group box holds the controls drawn over it entirely), and where a panel needs more
// room than its pane has, the pane scrolls to all of it. Checked for every kind of
// panel at the window's default size and at its smallest.
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "app/mainframe.h"
#include "editor/addfilterattributedialog.h"
#include "editor/addformdialog.h"
#include "editor/addinputfielddialog.h"
#include "editor/addinputgroupdialog.h"
#include "editor/addobjectclassdialog.h"
#include "editor/addruledialog.h"
#include "editor/addrulesetdialog.h"
#include "editor/childruledialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "editor/startpointdialog.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/widgethelpers.h"

using testsupport::ItemAt;

namespace {

QString Name(const QWidget* w) {
  return QStringLiteral("%1 '%2'").arg(w->metaObject()->className(), w->objectName());
}

// Faults of `root`'s visible descendants: outside their parent, or (among the direct
// children of `root`) overlapping a sibling that is not a group box holding them.
QStringList GeometryFaults(QWidget* root) {
  QStringList faults;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root) || w->isWindow()) continue;
    const QWidget* parent = w->parentWidget();
    // A scroll area's contents may be larger than its viewport: that is what it scrolls.
    if (auto* area = qobject_cast<const QScrollArea*>(parent ? parent->parentWidget() : nullptr);
        area && area->widget() == w)
      continue;
    if (!parent->rect().contains(w->geometry()))
      faults << QStringLiteral("%1 at %2 outside %3 %4")
                    .arg(Name(w))
                    .arg(QVariant(w->geometry()).toString(), Name(parent))
                    .arg(QVariant(parent->rect()).toString());
  }
  QList<QWidget*> children;
  for (QWidget* w : root->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isVisibleTo(root) && !w->isWindow()) children << w;
  }
  for (int i = 0; i < children.size(); ++i) {
    for (int j = i + 1; j < children.size(); ++j) {
      const QRect a = children[i]->geometry(), b = children[j]->geometry();
      if (!a.intersects(b)) continue;
      const bool aHolds = qobject_cast<QGroupBox*>(children[i]) && a.contains(b);
      const bool bHolds = qobject_cast<QGroupBox*>(children[j]) && b.contains(a);
      if (!aHolds && !bHolds)
        faults << QStringLiteral("%1 overlaps %2").arg(Name(children[i]), Name(children[j]));
    }
  }
  return faults;
}

}  // namespace

class TestEditorGeometry : public QObject {
  Q_OBJECT

 private slots:
  void panelsFitTheirPane_data() {
    QTest::addColumn<QStringList>("node");
    QTest::addColumn<bool>("smallest");
    const std::pair<const char*, QStringList> nodes[] = {
        {"rule sets", {"Rule Sets"}},
        {"forms", {"Forms"}},
        {"rule set", {"Rule Sets", "Standard"}},
        {"search rule", {"Rule Sets", "Standard", "Person"}},
        {"entry point", {"Rule Sets", "Standard", "Root"}},
        {"form", {"Forms", "People (Standard)"}},
        {"input group", {"Forms", "People (Standard)", "Person details"}},
        {"input field", {"Forms", "People (Standard)", "Person details", "Name"}},
    };
    for (const auto& [name, path] : nodes) {
      QTest::addRow("%s at 640x480", name) << path << false;
      QTest::addRow("%s at the smallest size", name) << path << true;
    }
  }
  void panelsFitTheirPane() {
    QFETCH(QStringList, node);
    QFETCH(bool, smallest);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    testsupport::KeptConfiguration config;
    sample::FillStandard(config);
    // A form caption much wider than the list.
    config.searchForms.push_back(std::make_unique<SearchForm>(
        "A search form with a name far longer than the list is wide", config.ruleSets[0].get()));
    kvaro::Oidtable table;
    CMainFrame frame(config, config.session, table, [](Configuration&) { return true; });
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.tree()->Fill();
    if (smallest) {
      frame.resize(1, 1);
      QCOMPARE(frame.frameGeometry().size(), CMainFrame::kMinimumSize);
    } else {
      QCOMPARE(frame.size(), QSize(640, 480));
    }
    CConfigTree* tree = frame.tree();
    QTreeWidgetItem* root = node.front() == "Forms" ? tree->formsRoot() : tree->ruleSetsRoot();
    tree->setCurrentItem(ItemAt(root, node.mid(1)));
    CPropertyPanel* panel = tree->currentPanel();
    QVERIFY(panel);
    QCoreApplication::processEvents();

    const QStringList faults = GeometryFaults(panel) + GeometryFaults(&frame);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));
    // The pane reaches all of a panel larger than itself by scrolling.
    QScrollArea* scroller = frame.rightPane()->scroller();
    const QSize viewport = scroller->viewport()->size();
    QCOMPARE(scroller->horizontalScrollBar()->maximum(),
             std::max(0, panel->width() - viewport.width()));
    QCOMPARE(scroller->verticalScrollBar()->maximum(),
             std::max(0, panel->height() - viewport.height()));
    QVERIFY(panel->width() >= viewport.width() && panel->height() >= viewport.height());
    if (!smallest) {
      // At the default size only the narrow splitter default may cost a scroll bar.
      qInfo("%s: panel %dx%d in a %dx%d pane", qPrintable(node.join('/')), panel->width(),
            panel->height(), viewport.width(), viewport.height());
    }
    // Read-only values show from their start.
    for (QLineEdit* edit : panel->findChildren<QLineEdit*>()) QCOMPARE(edit->cursorPosition(), 0);
    // Rows wider than a name list scroll sideways instead of being cut off.
    if (node == QStringList{"Forms"}) {
      auto* list = panel->findChild<QListWidget*>(ObjectName(kIdRootListList));
      list->scrollToItem(list->item(list->count() - 1));
      const QRect row = list->visualItemRect(list->item(list->count() - 1));
      const int contentWidth = list->horizontalScrollBar()->maximum() + list->viewport()->width();
      QVERIFY2(row.width() <= contentWidth, "the longest row cannot be scrolled to");
      QVERIFY(list->fontMetrics().horizontalAdvance(list->item(list->count() - 1)->text()) <=
              row.width());
    }
  }

  void dialogsFitAtTheirSize() {
    kvaro::Oidtable table;
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.push_back(std::make_unique<AddRuleDialog>(table));
    dialogs.push_back(std::make_unique<StartPointDialog>("ldap://h:389/o=Sample", table));
    dialogs.push_back(std::make_unique<AddObjectClassDialog>(table));
    dialogs.push_back(std::make_unique<ChildRuleDialog>(std::vector<std::string>{"Person"}));
    dialogs.push_back(std::make_unique<AddFilterAttributeDialog>(table));
    dialogs.push_back(std::make_unique<AddInputFieldDialog>(table));
    dialogs.push_back(std::make_unique<AddInputGroupDialog>(std::vector<std::string>{"Person"}));
    dialogs.push_back(std::make_unique<AddFormDialog>(std::vector<std::string>{"Standard"}));
    dialogs.push_back(std::make_unique<AddRuleSetDialog>(std::vector<std::string>{}));
    for (auto& dialog : dialogs) {
      dialog->show();
      QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
      // Each at its own size and at the least its layout allows.
      for (bool least : {false, true}) {
        if (least) dialog->resize(dialog->minimumSizeHint());
        QCoreApplication::processEvents();
        const QStringList faults = GeometryFaults(dialog.get());
        QVERIFY2(faults.isEmpty(), qPrintable(dialog->windowTitle() + ":\n" + faults.join("\n")));
      }
    }
  }
};

QTEST_MAIN(TestEditorGeometry)
#include "test_editorgeometry.moc"
