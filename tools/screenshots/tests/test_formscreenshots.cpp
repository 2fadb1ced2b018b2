// Pictures of the form dialogs and panels can be made and written.
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "editor/tests/test_formhelpers.h"
#include "tools/screenshots/screenshots_forms.h"

class TestFormScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void everyWindowIsPictured() {
    kvaro::Oidtable table;
    formtest::LoadSmallTable(table);
    std::vector<FormShot> shots;
    AddFormScreenshots(shots, table);
    QStringList stems;
    for (const auto& [stem, image] : shots) {
      stems << stem;
      QVERIFY2(!image.isNull(), qPrintable(stem));
      QVERIFY2(image.width() >= 100 && image.height() >= 60, qPrintable(stem));
    }
    QCOMPARE(stems,
             (QStringList{"add-filter-attribute", "add-form-input-group", "add-form-group-field",
                          "form-panel", "input-group-panel", "input-field-panel"}));
    // The panels are grabbed at the size asked for.
    QCOMPARE(shots[3].second.size() / shots[3].second.devicePixelRatio(), QSize(480, 320));
  }

  void picturesAreWritten() {
    kvaro::Oidtable table;
    formtest::LoadSmallTable(table);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // ORVELLE_SCREENSHOT_DIR keeps the pictures (for the documentation).
    const QString keep = qEnvironmentVariable("ORVELLE_SCREENSHOT_DIR");
    const std::vector<QString> written =
        WriteFormScreenshots(keep.isEmpty() ? folder.filePath("shots") : keep, table);
    QCOMPARE(written.size(), size_t(6));
    for (const QString& path : written) {
      QVERIFY2(QFileInfo(path).size() > 0, qPrintable(path));
      QImage image(path);
      QVERIFY2(!image.isNull(), qPrintable(path));
    }
  }
};

QTEST_MAIN(TestFormScreenshots)
#include "test_formscreenshots.moc"
