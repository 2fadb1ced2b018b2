// Every wizard page can be rendered to a picture. With WIZARD_SCREENSHOTS set to a
// folder the pictures are kept there (used for the documentation).
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include "tests/support/imagecheck.h"
#include "tools/screenshots/wizardscreenshots.h"
#include "wizard/setupwizard.h"
#include "wizard/tests/wizardtestutil.h"

class WizardScreenshotsTest : public QObject {
  Q_OBJECT
 private slots:
  // Each page's picture is the whole wizard on that page: as large as the wizard, with
  // something drawn, and unlike every other page's picture.
  void everyPageIsPictured() {
    QTemporaryDir dir;
    const QByteArray keep = qgetenv("WIZARD_SCREENSHOTS");
    const std::string folder = keep.isEmpty() ? dir.path().toStdString() : keep.toStdString();
    const auto names = WizardShotNames();
    QCOMPARE(names.size(), size_t(8));
    QCOMPARE(RenderWizardScreenshots(folder, wiztest::Table()), 8);
    std::vector<QImage> pictures;
    for (const std::string& name : names) {
      const QImage image = QImage(QString::fromStdString(folder + "/" + name + ".png"))
                               .convertToFormat(QImage::Format_ARGB32);
      QVERIFY2(!image.isNull(), name.c_str());
      auto wizard = MakeWizardShot(name, wiztest::Table());
      QVERIFY(wizard);
      const QPixmap shown = wizard->grab();
      QCOMPARE(image.size(), shown.size());
      QVERIFY2(testsupport::ColourCount(image) > 2, name.c_str());
      for (size_t i = 0; i < pictures.size(); ++i)
        QVERIFY2(image != pictures[i],
                 qPrintable(QString::fromStdString(name + " looks like " + names[i])));
      pictures.push_back(image);
    }
  }

  void shotsShowTheirPage() {
    const auto names = WizardShotNames();
    for (int i = 0; i < 8; ++i) {
      auto w = MakeWizardShot(names[size_t(i)], wiztest::Table());
      QVERIFY(w);
      QCOMPARE(w->currentIndex(), i);
    }
    QVERIFY(!MakeWizardShot("no_such_page", wiztest::Table()));
  }
};

QTEST_MAIN(WizardScreenshotsTest)
#include "test_wizardscreenshots.moc"
