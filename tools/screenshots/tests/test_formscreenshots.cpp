// Pictures of the form dialogs and panels can be made and written.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "editor/tests/test_formhelpers.h"
#include "tests/support/imagecheck.h"
#include "tools/screenshots/screenshots_forms.h"

class TestFormScreenshots : public QObject {
  Q_OBJECT

 private:
  kvaro::Oidtable table_;
  std::vector<FormShot> shots_;

 private slots:
  void initTestCase() {
    formtest::LoadSmallTable(table_);
    AddFormScreenshots(shots_, table_);
  }

  // Every dialog and panel is pictured once, each picture showing something of its own.
  void everyWindowIsPictured() {
    const std::vector<FormShot>& shots = shots_;
    QStringList stems;
    for (size_t i = 0; i < shots.size(); ++i) {
      const auto& [stem, image] = shots[i];
      stems << stem;
      QVERIFY2(testsupport::ColourCount(image) > 2, qPrintable(stem));
      for (size_t j = 0; j < i; ++j)
        QVERIFY2(image != shots[j].second, qPrintable(stem + " looks like " + shots[j].first));
    }
    QCOMPARE(stems,
             (QStringList{"add-filter-attribute", "add-form-input-group", "add-form-group-field",
                          "form-panel", "input-group-panel", "input-field-panel"}));
    // The panels are grabbed at the size asked for.
    for (size_t i = 3; i < shots.size(); ++i)
      QCOMPARE(shots[i].second.size() / shots[i].second.devicePixelRatio(), QSize(480, 320));
  }

  // The files written are those pictures, under their stems.
  void picturesAreWritten() {
    const std::vector<FormShot>& shots = shots_;
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // ORVELLE_SCREENSHOT_DIR keeps the pictures (for the documentation).
    const QString keep = qEnvironmentVariable("ORVELLE_SCREENSHOT_DIR");
    const QString target = keep.isEmpty() ? folder.filePath("shots") : keep;
    const std::vector<QString> written = WriteFormScreenshots(target, table_);
    QCOMPARE(written.size(), shots.size());
    for (size_t i = 0; i < written.size(); ++i) {
      QCOMPARE(written[i], QDir(target).filePath(shots[i].first + ".png"));
      const QImage image(written[i]);
      QCOMPARE(image.size(), shots[i].second.size());
      QVERIFY2(testsupport::ColourCount(image) > 2, qPrintable(written[i]));
    }
  }
};

QTEST_MAIN(TestFormScreenshots)
#include "test_formscreenshots.moc"
