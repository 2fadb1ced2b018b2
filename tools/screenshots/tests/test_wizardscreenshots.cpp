// Every wizard page can be rendered to a picture. With WIZARD_SCREENSHOTS set to a
// folder the pictures are kept there (used for the documentation).
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include "tools/screenshots/wizardscreenshots.h"
#include "wizard/setupwizard.h"
#include "wizard/tests/wizardtestutil.h"

class WizardScreenshotsTest : public QObject {
  Q_OBJECT
 private slots:
  void everyPageRenders() {
    QTemporaryDir dir;
    const QByteArray keep = qgetenv("WIZARD_SCREENSHOTS");
    const std::string folder = keep.isEmpty() ? dir.path().toStdString() : keep.toStdString();
    const auto names = WizardShotNames();
    QCOMPARE(names.size(), size_t(8));
    QCOMPARE(RenderWizardScreenshots(folder, wiztest::Table()), 8);
    for (const std::string& name : names) {
      QImage image(QString::fromStdString(folder + "/" + name + ".png"));
      QVERIFY2(!image.isNull(), name.c_str());
      QVERIFY(image.width() > 300);
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
