// What a message shows: names made safe to display, and one icon per message wherever it
// is raised.
#include <unistd.h>

#include <QTemporaryFile>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "platform/support/messages.h"

namespace {
QByteArray B(const char* text, int size = -1) { return QByteArray(text, size); }
const QByteArray kEllipsis = "\xe2\x80\xa6";
const QByteArray kReplacement = "\xef\xbf\xbd";
}  // namespace

class TestMessages : public QObject {
  Q_OBJECT
 private slots:
  // What a name looks like inside a message.
  void displayable_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("plain") << B("People") << B("People");
    QTest::newRow("UTF-8 kept") << B("M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x98\x80")
                                << B("M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x98\x80");
    QTest::newRow("backslash kept") << B("cn=a\\,b") << B("cn=a\\,b");
    QTest::newRow("line break") << B("a\nb") << B("a\\nb");
    QTest::newRow("tab and return") << B("a\tb\rc") << B("a\\tb\\rc");
    QTest::newRow("C0 and DEL") << B("\x01x\x1b[31m\x7f") << B("\\x01x\\x1b[31m\\x7f");
    QTest::newRow("NUL does not end it") << B("a\0b", 3) << B("a\\x00b");
    QTest::newRow("C1 control") << B("a\xc2\x85z") << B("a\\u0085z");
    QTest::newRow("right-to-left override") << B("x\xe2\x80\xaey") << B("x\\u202ey");
    QTest::newRow("lone continuation byte") << B("a\x80z") << B("a") + kReplacement + B("z");
    QTest::newRow("Latin-1 byte") << B("M\xfcller") << B("M") + kReplacement + B("ller");
    QTest::newRow("truncated sequence at the end") << B("ab\xe2\x82") << B("ab") + kReplacement;
    QTest::newRow("truncated sequence then ASCII") << B("\xe2\x82z") << kReplacement + B("z");
    QTest::newRow("overlong slash") << B("\xc0\xaf") << kReplacement + kReplacement;
    QTest::newRow("surrogate") << B("\xed\xa0\x80") << kReplacement + kReplacement + kReplacement;
    QTest::newRow("beyond U+10FFFF")
        << B("\xf4\x90\x80\x80") << kReplacement + kReplacement + kReplacement + kReplacement;
    QTest::newRow("exactly 200") << QByteArray(200, 'x') << QByteArray(200, 'x');
    QTest::newRow("201 cut") << QByteArray(201, 'x') << QByteArray(200, 'x') + kEllipsis;
    QTest::newRow("1 MB cut") << QByteArray(1 << 20, 'x') << QByteArray(200, 'x') + kEllipsis;
    // Characters, not bytes, are counted; an escape is one character.
    QTest::newRow("cut counts characters")
        << QByteArray(150, 'y').append(QByteArray("\xc3\xa9").repeated(60))
        << QByteArray(150, 'y').append(QByteArray("\xc3\xa9").repeated(50)) + kEllipsis;
    QTest::newRow("cut after escapes")
        << QByteArray(300, '\n') << QByteArray("\\n").repeated(200) + kEllipsis;
  }
  void displayable() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, shown);
    const std::string out = msg::Displayable(value.toStdString());
    QCOMPARE(QByteArray::fromStdString(out), shown);
    // The same text comes out of every message built with it.
    QCOMPARE(QByteArray::fromStdString(msg::Format("[%s]", {value.toStdString()})),
             "[" + shown + "]");
  }

  void theFormatItselfKeepsItsLineBreaks() {
    QCOMPARE(msg::Format("one\n%s\ntwo", {"a\nb"}), std::string("one\na\\nb\ntwo"));
    QCOMPARE(msg::DisplayableLines({"a", "b\x01"}), std::string("a\nb\\x01"));
    QCOMPARE(msg::FormatPrepared("%s!", {msg::DisplayableLines({"x", "y"})}), std::string("x\ny!"));
    std::vector<std::string> many(60, "n");
    const std::string listed = msg::DisplayableLines(many);
    QCOMPARE(int(std::count(listed.begin(), listed.end(), '\n')), 50);
    QVERIFY(QByteArray::fromStdString(listed).endsWith(kEllipsis));
  }

  // The console sink writes the whole text, and no control character but line breaks
  // and tabs reaches the terminal, whoever built the message.
  void theConsoleSinkPrintsNoControlCharacters() {
    QTemporaryFile capture;
    QVERIFY(capture.open());
    std::fflush(stderr);
    const int saved = ::dup(2);
    QVERIFY(saved >= 0);
    QVERIFY(::dup2(capture.handle(), 2) >= 0);
    msg::ConsoleSink console;
    console.Show(msg::Message{1, std::string("line\none\0after NUL \x1b]0;title\x07 \xff", 31)});
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    const QByteArray written = capture.readAll();
    QCOMPARE(written, QByteArray("Orvelle32Setup: line\none\\x00after NUL \\x1b]0;title\\x07 ") +
                          kReplacement + "\n");
  }

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

QTEST_GUILESS_MAIN(TestMessages)
#include "test_messages.moc"
