#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "platform/support/linereader.h"
#include "platform/support/qstringlist.h"

class TestTextUtils : public QObject {
  Q_OBJECT
 private slots:
  void splitTrimsEveryPiece() {
    kvaro::QStringList list;
    QCOMPARE(list.SetSplitString(" Class :\tPerson :  person , top ", ':'), 3);
    QCOMPARE(list[0], std::string("Class"));
    QCOMPARE(list[1], std::string("Person"));
    QCOMPARE(list[2], std::string("person , top"));
    kvaro::QStringList names;
    names.SetSplitString(list[2], ',');
    QCOMPARE(names.size(), size_t(2));
    QCOMPARE(names[1], std::string("top"));
  }

  void splitKeepsEmptyPieces() {
    kvaro::QStringList list;
    QCOMPARE(list.SetSplitString("a::b:", ':'), 4);
    QCOMPARE(list[1], std::string());
    QCOMPARE(list[3], std::string());
    QCOMPARE(list.SetSplitString("", ','), 1);
    QCOMPARE(list[0], std::string());
    // A list that is used again starts afresh.
    QCOMPARE(list.SetSplitString("x", ','), 1);
    QCOMPARE(list[0], std::string("x"));
  }

  void trimAndJoin() {
    QCOMPARE(std::string(kvaro::Trim(" \t a b \t")), std::string("a b"));
    QCOMPARE(std::string(kvaro::Trim(" \t ")), std::string());
    QCOMPARE(kvaro::Join({"cn", "sn", "mail"}, ", "), std::string("cn, sn, mail"));
    QCOMPARE(kvaro::Join({}, ", "), std::string());
  }

  void lineReaderHandlesLineEnds() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("f").toStdString();
    std::ofstream(path, std::ios::binary) << "one\r\ntwo\n\nlast without end";
    kvaro::LineReader reader(path);
    QVERIFY(reader.IsOpen());
    std::string line;
    std::vector<std::string> lines;
    while (reader.ReadExtendedString(line) == 1) lines.push_back(line);
    QCOMPARE(lines, (std::vector<std::string>{"one", "two", "", "last without end"}));
    QCOMPARE(reader.ReadExtendedString(line), 0);
    reader.Rewind();
    QCOMPARE(reader.ReadExtendedString(line), 1);
    QCOMPARE(line, std::string("one"));
  }

  void lineReaderWithoutFile() {
    kvaro::LineReader reader;
    std::string line;
    QCOMPARE(reader.ReadExtendedString(line), 0);
    QVERIFY(!reader.Open("/nonexistent/file"));
    QCOMPARE(reader.ReadExtendedString(line), 0);
  }
};

QTEST_GUILESS_MAIN(TestTextUtils)
#include "test_textutils.moc"
