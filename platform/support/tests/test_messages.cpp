// A message shows with the same icon wherever it is raised, whatever icon the caller
// asks for; messages the icon table does not list keep the caller's.
#include <QtTest>

#include "messages.h"

class TestMessages : public QObject {
  Q_OBJECT

 private slots:
  void oneIconPerMessage_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("icon");
    // Connection and input errors that were shown as information in one place and as
    // errors in another; the logon failure; a warning; a question.
    QTest::newRow("61275 port") << 61275 << int(msg::Icon::Error);
    QTest::newRow("61276 logon") << 61276 << int(msg::Icon::Error);
    QTest::newRow("61277 connect") << 61277 << int(msg::Icon::Error);
    QTest::newRow("61278 DN") << 61278 << int(msg::Icon::Error);
    QTest::newRow("61253 name") << 61253 << int(msg::Icon::Error);
    QTest::newRow("61255 no search rule") << 61255 << int(msg::Icon::Warning);
    QTest::newRow("62151 unsaved") << 62151 << int(msg::Icon::Question);
    QTest::newRow("62177 remove rule set") << 62177 << int(msg::Icon::Question);
  }
  void oneIconPerMessage() {
    QFETCH(int, id);
    QFETCH(int, icon);
    QVERIFY(!msg::LoadString(id).empty());
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    for (msg::Icon asked :
         {msg::Icon::Information, msg::Icon::Warning, msg::Icon::Error, msg::Icon::Question}) {
      msg::Show(id, {}, msg::Buttons::Ok, asked);
    }
    QCOMPARE(sink.messages.size(), size_t(4));
    for (const msg::Message& shown : sink.messages) QCOMPARE(int(shown.icon), icon);
  }

  void unlistedMessageKeepsTheCallersIcon() {
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    msg::Show(12345, {}, msg::Buttons::Ok, msg::Icon::Warning);
    QCOMPARE(int(sink.messages.at(0).icon), int(msg::Icon::Warning));
  }
};

QTEST_MAIN(TestMessages)
#include "test_messages.moc"
