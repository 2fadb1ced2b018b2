#include <QTest>

#include "platform/support/savetags.h"

class TestSaveTags : public QObject {
  Q_OBJECT

 private slots:
  // The user's data folder. "-" leaves a variable unset.
  void dataHome_data() {
    QTest::addColumn<QByteArray>("xdgDataHome");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absolute XDG") << QByteArray("/data/x") << QByteArray("/home/me") << "/data/x";
    QTest::newRow("XDG kept as written") << QByteArray("/data/x/") << QByteArray("-") << "/data/x/";
    QTest::newRow("home") << QByteArray("-") << QByteArray("/home/me") << "/home/me/.local/share";
    QTest::newRow("empty XDG") << QByteArray("") << QByteArray("/home/me")
                               << "/home/me/.local/share";
    QTest::newRow("relative XDG ignored")
        << QByteArray("data") << QByteArray("/home/me") << "/home/me/.local/share";
    QTest::newRow("no home") << QByteArray("-") << QByteArray("-") << "./.local/share";
    QTest::newRow("empty home, relative XDG")
        << QByteArray("data") << QByteArray("") << "./.local/share";
  }
  void dataHome() {
    QFETCH(QByteArray, xdgDataHome);
    QFETCH(QByteArray, home);
    QFETCH(QString, expected);
    const auto set = [](const char* name, const QByteArray& value) {
      if (value == "-")
        qunsetenv(name);
      else
        qputenv(name, value);
    };
    set("XDG_DATA_HOME", xdgDataHome);
    set("HOME", home);
    QCOMPARE(QString::fromStdString(kvaro::DataHome()), expected);
  }
};

QTEST_GUILESS_MAIN(TestSaveTags)
#include "test_savetags.moc"
