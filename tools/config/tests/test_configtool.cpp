#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/testfiles.h"
#include "tests/support/workedexample.h"

namespace fs = std::filesystem;

using testsupport::kWorkedExample;
using testsupport::ReadFile;
using Result = testsupport::ProgramResult;

class TestConfigTool : public QObject {
  Q_OBJECT

  QString program_ = QStringLiteral(ORVELLE_BINARY_DIR "/bin/orvelle-config");

  Result Run(const QStringList& arguments, const QString& folder = {}) {
    return testsupport::RunProgram(program_, arguments, folder, 30000);
  }

  static QString Write(const QTemporaryDir& dir, const std::string& name, const std::string& text) {
    std::ofstream(fs::path(dir.path().toStdString()) / name, std::ios::binary) << text;
    return dir.path();
  }

 private slots:
  void initTestCase() {
    QVERIFY2(QFile::exists(program_), "build the orvelle-config target first");
  }

  void usage() {
    const Result help = Run({"--help"});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.contains("orvelle-config [OPTIONS] copy SOURCE TARGET"));
    QCOMPARE(Run({}).code, 2);
    QCOMPARE(Run({"verify", "."}).code, 2);
    QCOMPARE(Run({"check"}).code, 2);
    QCOMPARE(Run({"copy", "."}).code, 2);
    QCOMPARE(Run({"check", ".", "extra"}).code, 2);
    const Result bad = Run({"--frobnicate", "check", "."});
    QCOMPARE(bad.code, 2);
    QVERIFY(bad.err.contains("unknown option '--frobnicate'"));
    QCOMPARE(Run({"check", ".", "--oidtable"}).code, 2);
    QCOMPARE(Run({"version"}).code, 2);
    QCOMPARE(Run({"check", ".", "--if-version", "f1-0-0"}).code, 2);
  }

  void checkAGoodConfiguration() {
    QTemporaryDir dir;
    Write(dir, "RuleSet=People", kWorkedExample);
    // From another folder, and with the option after the operand.
    const Result r = Run({"check", dir.path(), "--oidtable",
                          QStringLiteral(ORVELLE_SOURCE_DIR "/resources/oidtable32")},
                         QDir::tempPath());
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains("1 rule sets, 3 rules, 1 search forms, 2 input groups, 2 input "
                            "fields; every check passed."),
             qPrintable(r.out));
    QVERIFY(r.err.isEmpty());
    QCOMPARE(Run({"check", dir.path()}, "/").code, 0);  // the installed table is found
  }

  void checkReportsEveryFailingRecord() {
    QTemporaryDir dir;
    Write(dir, "RuleSet=S",
          "RuleSet: S\nClass: P : person\nForm: F\nFormFieldGroup: G : P\n"
          "FormField: Odd : noSuchType\nFormField: Also : bogus\nForm: NoTarget\n");
    const Result r = Run({"check", dir.path()});
    QCOMPARE(r.code, 1);
    QVERIFY(r.out.contains("3 checks failed."));
    QVERIFY(
        r.err.contains("Orvelle32Setup: Input field 'Odd' has no defined filter attribute "
                       "types. At least one is required."));
    QVERIFY(r.err.contains("Search form 'NoTarget' has no target rule."));
  }

  void sourcesThatHoldNoConfiguration() {
    QTemporaryDir dir;
    Result r = Run({"check", dir.path()});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("No configuration could be loaded from"));
    r = Run({"check", dir.filePath("missing")});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("is not a folder"));
    r = Run({"check", "ldap://dirhost/o=Sample"});
    QCOMPARE(r.code, 1);
    r = Run({"--oidtable", dir.filePath("none"), "check", dir.path()});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("could not be read"));
  }

  // ldif writes the root DN into every entry: one that is not a DN is a usage error and
  // no LDIF is printed.
  void ldifRootDn_data() {
    QTest::addColumn<QString>("rootDn");
    QTest::addColumn<int>("code");
    QTest::newRow("a DN") << "cn=Orvelle Configuration, o=Sample" << 0;
    QTest::newRow("empty") << "" << 2;
    QTest::newRow("blanks") << "   " << 2;
    QTest::newRow("no type") << "Orvelle Configuration" << 2;
    QTest::newRow("empty RDN") << "cn=Orvelle Configuration,,o=Sample" << 2;
    QTest::newRow("unterminated quote") << "cn=\"Orvelle,o=Sample" << 2;
    QTest::newRow("trailing comma") << "cn=Orvelle Configuration," << 2;
  }
  void ldifRootDn() {
    QFETCH(QString, rootDn);
    QFETCH(int, code);
    QTemporaryDir dir;
    Write(dir, "RuleSet=People", kWorkedExample);
    const Result r = Run({"ldif", dir.path(), "--root-dn", rootDn});
    QCOMPARE(r.code, code);
    if (code == 0) {
      QVERIFY2(r.out.contains("\ndn: cn=Orvelle Configuration, o=Sample\n"), qPrintable(r.out));
      return;
    }
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.contains("is not a DN"), qPrintable(r.err));
  }

  // A long name with control characters reaches the terminal escaped and cut (one
  // argument may hold at most 128 kB).
  void messagesShowNamesSafely() {
    QTemporaryDir dir;
    const std::string name = "\x1b[2J" + std::string(100000, 'n');
    const Result r = Run({"check", QString::fromStdString(name)}, dir.path());
    QCOMPARE(r.code, 1);
    QVERIFY(!r.err.contains(QChar(0x1b)));
    QVERIFY2(r.err.contains("\\x1b[2J" + QString(150, 'n')), qPrintable(r.err.left(300)));
    QVERIFY(r.err.contains(QString(QChar(0x2026))));
    QVERIFY(r.err.size() < 2000);
    // The tool's own complaints about its arguments are made safe the same way.
    const Result bad = Run({"--\x1b]0;x\x07"});
    QCOMPARE(bad.code, 2);
    QVERIFY(!bad.err.contains(QChar(0x1b)));
    QVERIFY(bad.err.contains("unknown option '--\\x1b]0;x\\x07'"));
  }

  // What a save would refuse or the load read only in part fails the command before
  // anything is printed: ldif is held to the checks of a save to the directory, and check
  // names every line the load cut or left out.
  void whatNoStoreTakesFails_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("named");
    const QByteArray rest = "Class: P : person\nFormFieldGroup: G : P\nFormField: N : cn\n";
    QTest::newRow("ldif of a form name that is not UTF-8") << "ldif"
                                                           << "RuleSet: S\nForm: Gr\xF6\xDF"
                                                              "e\n" +
                                                                  rest
                                                           << "not valid UTF-8";
    QTest::newRow("check of a field name holding a NUL")
        << "check"
        << "RuleSet: S\nForm: F\n" + rest + QByteArray("FormField: M\0x : sn\n", 20)
        << "holds a NUL character";
    QTest::newRow("check of a rule set name cut at a colon")
        << "check"
        << "RuleSet: S:T\nForm: F\n" + rest << "read as rule set 'S'";
  }
  void whatNoStoreTakesFails() {
    QFETCH(QString, command);
    QFETCH(QByteArray, text);
    QFETCH(QString, named);
    QTemporaryDir dir;
    Write(dir, "RuleSet=S", text.toStdString());
    QStringList arguments{command, dir.path()};
    if (command == "ldif")
      arguments << "--root-dn"
                << "cn=Orvelle Configuration,o=Sample";
    const Result r = Run(arguments);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(named), qPrintable(r.err));
    if (command == "ldif") QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
  }

  // copy --if-version writes only while TARGET is at the version a script read: what
  // someone else did in between stops it with status 3, naming the change, and nothing
  // is written.
  void copyIfVersion_data() {
    QTest::addColumn<QString>("meanwhile");  // what someone else does to TARGET
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("named");
    QTest::newRow("nothing") << "" << 0 << "";
    QTest::newRow("file changed") << "change" << 3 << "rule set 'People' was changed";
    QTest::newRow("file added") << "add" << 3 << "rule set 'Extra' was added";
    QTest::newRow("file removed") << "remove" << 3 << "files removed: 1";
  }
  void copyIfVersion() {
    QFETCH(QString, meanwhile);
    QFETCH(int, code);
    QFETCH(QString, named);
    QTemporaryDir source, next, target;
    Write(source, "RuleSet=People", kWorkedExample);
    std::string changed = kWorkedExample;
    changed.replace(changed.find("Search for people"), 17, "Search for persons");
    Write(next, "RuleSet=People", changed);
    const std::string folder = target.path().toStdString();
    QCOMPARE(Run({"copy", source.path(), target.path()}).code, 0);
    Write(target, "RuleSet=Other", "RuleSet: Other\n");
    const Result version = Run({"version", target.path()});
    QCOMPARE(version.code, 0);
    const QString token = version.out.trimmed();
    QVERIFY(!token.isEmpty() && !token.contains(' '));
    QCOMPARE(Run({"version", target.path()}).out.trimmed(), token);

    if (meanwhile == "change")
      std::ofstream(folder + "/RuleSet=People", std::ios::app) << "\n";
    else if (meanwhile == "add")
      Write(target, "RuleSet=Extra", "RuleSet: Extra\nClass: Person : person\n");
    else if (meanwhile == "remove")
      fs::remove(folder + "/RuleSet=Other");
    const auto before = testsupport::Snapshot(folder);
    const Result r = Run({"copy", next.path(), target.path(), "--if-version", token});
    QVERIFY2(r.code == code, qPrintable(r.err));
    if (code == 3) {
      QVERIFY2(r.err.contains(named), qPrintable(r.err));
      QVERIFY(testsupport::Snapshot(folder) == before);
      QVERIFY(r.out.isEmpty());
    } else {
      QVERIFY(ReadFile(fs::path(folder) / "RuleSet=People").find("Search for persons") !=
              std::string::npos);
      QVERIFY(Run({"version", target.path()}).out.trimmed() != token);
    }
  }

  void copyWritesAFixedPoint() {
    QTemporaryDir source, target;
    Write(source, "RuleSet=People", kWorkedExample);
    const QString first = target.filePath("first/nested");
    Result r = Run({"copy", source.path(), first});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.startsWith("Copied "));
    const std::string copy = ReadFile(fs::path(first.toStdString()) / "RuleSet=People");
    QVERIFY(copy.find("Class: Person : person\nClass: Unit") != std::string::npos);
    // The rules in the order of the source's lines.
    QVERIFY(copy.rfind("RuleSet: People\nBase: Root", 0) == 0);
    r = Run({"copy", first, target.filePath("second")});
    QCOMPARE(r.code, 0);
    QCOMPARE(ReadFile(fs::path(target.filePath("second").toStdString()) / "RuleSet=People"), copy);
  }

  // Output that does not reach its file (here a full disk) fails the command with the
  // system's reason, whether the first write fails or the last flush: a script must not
  // keep a cut LDIF backup as a good one.
  void outputThatCannotBeWrittenFails_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("rules");  // rules of an added rule set, for a longer output
    const QString rootDn = "--root-dn=cn=Orvelle Configuration, o=Sample";
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("check") << QStringList{"check", "SOURCE"} << 0;
    QTest::newRow("ldif") << QStringList{"ldif", "SOURCE", rootDn} << 0;
    QTest::newRow("long ldif") << QStringList{"ldif", "SOURCE", rootDn} << 2000;
    QTest::newRow("copy") << QStringList{"copy", "SOURCE", "TARGET"} << 0;
    QTest::newRow("version") << QStringList{"version", "SOURCE"} << 0;
  }
  void outputThatCannotBeWrittenFails() {
    QFETCH(QStringList, arguments);
    QFETCH(int, rules);
    QTemporaryDir source, target;
    Write(source, "RuleSet=People", kWorkedExample);
    std::string many = "RuleSet: Many\n";
    for (int i = 0; i < rules; ++i) many += "Class: Rule " + std::to_string(i) + " : person\n";
    if (rules > 0) Write(source, "RuleSet=Many", many);
    arguments.replaceInStrings("SOURCE", source.path());
    arguments.replaceInStrings("TARGET", target.filePath("copy"));
    arguments << "--oidtable" << QStringLiteral(ORVELLE_SOURCE_DIR "/resources/oidtable32");
    QProcess p;
    p.setStandardOutputFile("/dev/full");
    p.start(program_, arguments);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(err.contains("orvelle-config: cannot write the output: " +
                          QString::fromLocal8Bit(std::strerror(ENOSPC))),
             qPrintable(err));
  }

  void aRefusedCopyLeavesTheTargetAlone() {
    QTemporaryDir source, target;
    Write(source, "RuleSet=S",
          "RuleSet: S\nClass: P : person\nForm: F\nFormFieldGroup: G : P\nFormField: N : bogus\n");
    Write(target, "RuleSet=S", "RuleSet: S\nthe old file\n");
    // The load dropped the field's only attribute type: the copy stops there, and with
    // --allow-warnings at the record check that follows.
    Result r = Run({"copy", source.path(), target.path()});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("dropped records"), qPrintable(r.err));
    r = Run({"copy", source.path(), target.path(), "--allow-warnings"});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("Input field 'N'"), qPrintable(r.err));
    QCOMPARE(ReadFile(fs::path(target.path().toStdString()) / "RuleSet=S"),
             std::string("RuleSet: S\nthe old file\n"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
  }
};

QTEST_GUILESS_MAIN(TestConfigTool)
#include "test_configtool.moc"
