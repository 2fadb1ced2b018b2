// The title bars of the property panels, judged by the pixels they show.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QtTest>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/propertypanel.h"
#include "model/configuration.h"
#include "tests/support/editorpanes.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/widgethelpers.h"

namespace {

// How many pixels of `image` have exactly the colour `colour`.
int CountPixels(const QImage& image, const QColor& colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) == colour) ++count;
    }
  }
  return count;
}

}  // namespace

class TestPanelTitles : public QObject {
  Q_OBJECT

 private slots:
  void titleColours_data() {
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<int>("titleId");
    QTest::addColumn<bool>("coloured");
    QTest::newRow("rule sets") << QStringList{"Rule Sets"} << kIdRootListTitle << true;
    QTest::newRow("rule set") << QStringList{"Rule Sets", "Standard"} << kIdRuleSetTitle << true;
    QTest::newRow("rule") << QStringList{"Rule Sets", "Standard", "Person"} << kIdRuleTitle << true;
    QTest::newRow("form") << QStringList{"Forms", "People (Standard)"} << kIdFormTitle << true;
    QTest::newRow("input group") << QStringList{"Forms", "People (Standard)", "Person details"}
                                 << kIdInputGroupTitle << true;
    QTest::newRow("input field") << QStringList{"Forms", "People (Standard)", "Person details",
                                                "Name"}
                                 << kIdInputFieldTitle << true;
    // The form list keeps the default static colours.
    QTest::newRow("form list") << QStringList{"Forms"} << kIdRootListTitle << false;
  }

  void titleColours() {
    QFETCH(QStringList, path);
    QFETCH(int, titleId);
    QFETCH(bool, coloured);
    Configuration config;
    sample::FillStandard(config);
    testsupport::EditorPanes editor(config);
    editor.tree()->Fill();
    QTreeWidgetItem* node = testsupport::ItemAt(editor.tree()->invisibleRootItem(), path);
    QVERIFY(node);
    editor.Select(node);
    QVERIFY(QTest::qWaitForWindowExposed(&editor.right));
    auto* title = editor.Find<QLabel>(titleId);
    QVERIFY(title);
    QVERIFY(title->isVisible());
    QCOMPARE(title->frameShadow(), QFrame::Sunken);

    // Rendered as it shows in the pane, with whatever style the application has.
    const QImage image = editor.right.grab().toImage().copy(
        QRect(title->mapTo(&editor.right, QPoint(0, 0)), title->size()));
    const QRect inside = image.rect().adjusted(3, 3, -3, -3);
    const QImage body = image.copy(inside);
    const QColor background = coloured ? CPropertyPanel::kTitleBackground
                                       : QApplication::palette(title).color(QPalette::Window);
    const QColor text = coloured ? CPropertyPanel::kTitleText
                                 : QApplication::palette(title).color(QPalette::WindowText);
    // Most of the bar is background; the text leaves a good number of pixels of its
    // own colour.
    QVERIFY2(CountPixels(body, background) > body.width() * body.height() / 2,
             qPrintable(QStringLiteral("background %1 not dominant; corner pixel %2")
                            .arg(background.name(), body.pixelColor(1, 1).name())));
    QVERIFY2(CountPixels(body, text) >= 20,
             qPrintable(QStringLiteral("too few text pixels of %1").arg(text.name())));
  }
};

QTEST_MAIN(TestPanelTitles)
#include "test_paneltitles.moc"
