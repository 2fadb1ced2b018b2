// Pictures of the rule dialogs and panels can be made and written.
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tools/screenshots/screenshots_rules.h"

namespace {

const char* const kSchema =
    "attributetype ( 2.5.4.3 NAME ( 'cn' 'commonName' ) SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "attributetype ( 2.5.4.6 NAME ( 'c' 'countryName' ) SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "attributetype ( 2.5.4.10 NAME ( 'o' 'organizationName' ) "
    "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "objectclass ( 2.5.6.0 NAME 'top' ABSTRACT )\n"
    "objectclass ( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST cn )\n"
    "objectclass ( 2.5.6.7 NAME 'organizationalPerson' SUP person STRUCTURAL )\n";

}  // namespace

class TestRuleScreenshots : public QObject {
  Q_OBJECT

  kvaro::Oidtable table_;
  msg::RecordingSink sink_;
  std::unique_ptr<msg::ScopedSink> scoped_;

 private slots:
  void initTestCase() {
    QVERIFY(table_.LoadText(kSchema) == 6);
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
