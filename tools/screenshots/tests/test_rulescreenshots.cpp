// Pictures of the rule dialogs and panels can be made and written.
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tools/screenshots/screenshots_rules.h"

class TestRuleScreenshots : public QObject {
  Q_OBJECT

  kvaro::Oidtable table_;
  msg::RecordingSink sink_;
  std::unique_ptr<msg::ScopedSink> scoped_;

 private slots:
  void initTestCase() {
    // The program's own table, as the screenshot program loads it.
    QCOMPARE(ldapx::LoadOidtable(table_, ORVELLE_SOURCE_DIR "/resources/oidtable32"), 1);
    scoped_ = std::make_unique<msg::ScopedSink>(&sink_);
  }

  void screenshotsCoverEveryDialogAndPanelShape() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::vector<QString> written = WriteRuleScreenshots(folder.path(), table_);
    QCOMPARE(written.size(), size_t(8));
    for (const char* stem : {"add-rule-search-rule", "add-rule-entry-point", "add-object-class",
                             "add-child-search-rule", "set-start-point", "rule-set-panel",
                             "rule-panel-search-rule", "rule-panel-entry-point"}) {
      QImage image(folder.filePath(QString(stem) + ".png"));
      QVERIFY2(!image.isNull(), stem);
    }
    QCOMPARE(QImage(folder.filePath("rule-set-panel.png")).size(), QSize(480, 320));
    // The sample start point parses, so no warning was shown while building the pictures.
    QVERIFY(sink_.messages.empty());
  }
};

QTEST_MAIN(TestRuleScreenshots)
#include "test_rulescreenshots.moc"
