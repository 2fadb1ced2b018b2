// The helpers that hand DNs, URLs, ports and whole files to the libraries: what each
// must give back unchanged; and the words a result code reads as.
#include <lber.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
// clang-format off
#include <ldif.h>  // after <cstdio> and <lber.h>: it uses FILE and ber_len_t
// clang-format on

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/qerror.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/atomicfile.h"
#include "platform/support/messages.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

class TestLibraryHelpers : public QObject {
  Q_OBJECT
 private slots:
  // A value escaped for a DN comes back from the DN parser as it was; blanks and line
  // breaks at either end were dropped by the parser before.
  void dnValueRoundTrip_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("line feed first") << QByteArray("\nb");
    QTest::newRow("line feed last") << QByteArray("b\n");
    QTest::newRow("tab first") << QByteArray("\tb");
    QTest::newRow("tab last") << QByteArray("b\t");
    QTest::newRow("carriage return first") << QByteArray("\rb");
    QTest::newRow("carriage return last") << QByteArray("b\r");
    QTest::newRow("only a line feed") << QByteArray("\n");
    QTest::newRow("CR LF at both ends") << QByteArray("\r\nb\r\n");
    QTest::newRow("line feed inside") << QByteArray("a\nb");
    QTest::newRow("space first and last") << QByteArray(" b ");
    QTest::newRow("number sign first") << QByteArray("#b");
    QTest::newRow("equals sign") << QByteArray("a=b");
    QTest::newRow("separators") << QByteArray("a,b+c;d<e>\"f\\");
    QTest::newRow("NUL inside") << QByteArray("a\0b", 3);
    QTest::newRow("UTF-8") << QByteArray("M\xc3\xbcller");
  }
  void dnValueRoundTrip() {
    QFETCH(QByteArray, value);
    const std::string v = value.toStdString();
    const auto rdn = ldapx::FirstRdn("cn=" + ldapx::EscapeDnValue(v) + ",o=Sample");
    QVERIFY(rdn);
    QCOMPARE(rdn->type, std::string("cn"));
    QCOMPARE(QByteArray::fromStdString(rdn->value), value);
  }

  // Every part of a URL made from parts comes back from the URL parser unchanged; a DN
  // with "?" was cut there before, an IPv6 host lost its brackets.
  // A filter's assertion value as libldap escapes it: the filter's own characters,
  // control characters and bytes outside ASCII.
  void filterValueEscapes_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << QByteArray("Rule 1") << QByteArray("Rule 1");
    QTest::newRow("specials") << QByteArray("a*b(c)d\\e") << QByteArray("a\\2Ab\\28c\\29d\\5Ce");
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QByteArray("a\\00b");
    QTest::newRow("control") << QByteArray("a\tb") << QByteArray("a\\09b");
    QTest::newRow("UTF-8") << QByteArray("M\xc3\xbcller") << QByteArray("M\\C3\\BCller");
  }
  void filterValueEscapes() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, escaped);
    const std::string out =
        ldapx::EscapeFilterValue(std::string_view(value.constData(), size_t(value.size())));
    QCOMPARE(QByteArray::fromStdString(out), escaped);
  }

  void urlRoundTrip_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("dn");
    QTest::newRow("plain") << "ldap"
                           << "dirhost" << 389 << "o=Sample";
    QTest::newRow("question mark in the DN") << "ldap"
                                             << "dirhost" << 389 << "o=A?b,c=US";
    QTest::newRow("percent sign in the DN") << "ldap"
                                            << "dirhost" << 389 << "o=100%";
    QTest::newRow("number sign and blanks") << "ldap"
                                            << "dirhost" << 389 << "ou=#1 Team, o=Sample";
    QTest::newRow("escaped comma") << "ldaps"
                                   << "dirhost" << 636 << "cn=a\\, b,o=Sample";
    QTest::newRow("UTF-8 DN") << "ldap"
                              << "dirhost" << 389 << "cn=M\u00fcller,o=Sample";
    QTest::newRow("IPv6 host") << "ldap"
                               << "::1" << 389 << "";
    QTest::newRow("IPv6 host and DN") << "ldap"
                                      << "fe80::1" << 1389 << "o=x?y";
    QTest::newRow("no DN") << "ldap"
                           << "dirhost" << 65535 << "";
  }
  void urlRoundTrip() {
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, dn);
    const std::string url =
        ldapx::MakeUrl(scheme.toStdString(), host.toStdString(), port, dn.toStdString());
    const auto back = ldapx::ParseUrl(url);
    QVERIFY2(back, url.c_str());
    QCOMPARE(QString::fromStdString(back->scheme), scheme);
    QCOMPARE(QString::fromStdString(back->host), host);
    QCOMPARE(back->port, port);
    QCOMPARE(QString::fromStdString(back->dn), dn);
  }

  void urlText() {
    QCOMPARE(ldapx::MakeUrl("ldap", "::1", 389, ""), std::string("ldap://[::1]:389/"));
    QCOMPARE(ldapx::MakeUrl("ldap", "dirhost", 389, "o=Sample"),
             std::string("ldap://dirhost:389/o=Sample"));
    QCOMPARE(ldapx::MakeUrl("ldap", "dirhost", 389, "o=A?b"),
             std::string("ldap://dirhost:389/o=A%3Fb"));
  }

  // A port outside 1..65535 never reaches the network: Open refuses it at once instead of
  // connecting somewhere else.
  void connectionRefusesPortsOutsideTheRange_data() {
    QTest::addColumn<int>("port");
    QTest::newRow("negative") << -1;
    QTest::newRow("one too many") << 65536;
    QTest::newRow("far too many") << (1 << 30);
  }
  void connectionRefusesPortsOutsideTheRange() {
    QFETCH(int, port);
    int error = 0;
    QVERIFY(!ldapx::Connection::Open("127.0.0.1", port, ldapx::Timeouts{1, 1}, &error));
    QCOMPARE(error, -9);  // LDAP_PARAM_ERROR
  }

  // "Server Address" names one server or several; each may name its port, the others
  // take the default. The list read back as text reads the same again.
  void hostLists_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("hosts");  // host:port blank-separated; "-" not a list
    QTest::newRow("one name") << "ldap.example.org"
                              << "ldap.example.org:389";
    QTest::newRow("name and port") << "ldap.example.org:1389"
                                   << "ldap.example.org:1389";
    QTest::newRow("blanks and ports") << "  ldap1  ldap2:1389\tldap3 "
                                      << "ldap1:389 ldap2:1389 ldap3:389";
    QTest::newRow("commas, as libldap's lists") << "a,b:636"
                                                << "a:389 b:636";
    QTest::newRow("IPv6 bare") << "::1"
                               << "[::1]:389";
    QTest::newRow("IPv6 with port") << "[::1]:1389 127.0.0.1"
                                    << "[::1]:1389 127.0.0.1:389";
    QTest::newRow("empty") << ""
                           << "-";
    QTest::newRow("only blanks") << "  , "
                                 << "-";
    QTest::newRow("port not a number") << "a b:ldap"
                                       << "-";
    QTest::newRow("port out of range") << "a:65536"
                                       << "-";
    QTest::newRow("port zero") << "a:0"
                               << "-";
    QTest::newRow("colon without port") << "a:"
                                        << "-";
    QTest::newRow("port without host") << ":389"
                                       << "-";
    QTest::newRow("bracket not closed") << "[::1:389"
                                        << "-";
    QTest::newRow("text after bracket") << "[::1]x"
                                        << "-";
  }
  void hostLists() {
    QFETCH(QString, address);
    QFETCH(QString, hosts);
    const auto list = ldapx::ParseHostList(address.toStdString(), 389);
    if (hosts == "-") {
      QVERIFY(!list);
      return;
    }
    QVERIFY(list);
    const std::string text = ldapx::HostListText(*list);
    QCOMPARE(QString::fromStdString(text), hosts);
    QCOMPARE(ldapx::ParseHostList(text, 1), list);
  }

  // The new text replaces the old whole; a file that was there keeps its mode, a new
  // private one is the owner's alone.
  void atomicWriteReplacesAndKeepsTheMode() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("settings.reg").toStdString();
    std::ofstream(path) << "old";
    QCOMPARE(::chmod(path.c_str(), 0640), 0);
    std::string why;
    QVERIFY(kvaro::WriteFileAtomically(path, std::string("new\0text", 8), &why));
    QCOMPARE(ReadAll(path), std::string("new\0text", 8));
    QCOMPARE(ModeOf(path), mode_t(0640));

    const std::string fresh = dir.filePath("backup.ldif").toStdString();
    QVERIFY(kvaro::WriteFileAtomically(fresh, "dn: o=x\n", &why, true));
    QCOMPARE(ModeOf(fresh), mode_t(0600));
    // Nothing else is left in the folder.
    QCOMPARE(
        std::distance(fs::directory_iterator(dir.path().toStdString()), fs::directory_iterator()),
        std::ptrdiff_t(2));
  }

  // A folder that cannot take the temporary file: the old text stays, the reason is told.
  // Root writes anywhere, so the write runs as an unprivileged user then.
  void atomicWriteFailureLeavesTheOldFile() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/locked";
    fs::create_directory(folder);
    const std::string path = folder + "/settings.reg";
    std::ofstream(path) << "old";
    const bool root = ::geteuid() == 0;
    QCOMPARE(::chmod(dir.path().toUtf8().constData(), 0755), 0);
    if (root) QCOMPARE(::chown(folder.c_str(), 65534, 65534), 0);
    QCOMPARE(::chmod(folder.c_str(), 0500), 0);
    auto refused = [&path] {
      std::string why;
      return !kvaro::WriteFileAtomically(path, "new", &why) && !why.empty();
    };
    bool wasRefused = false;
    if (root) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        ::_exit(refused() ? 0 : 1);
      }
      int status = -1;
      ::waitpid(pid, &status, 0);
      wasRefused = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    } else {
      wasRefused = refused();
    }
    QCOMPARE(::chmod(folder.c_str(), 0700), 0);
    QVERIFY(wasRefused);
    QCOMPARE(ReadAll(path), std::string("old"));
    QCOMPARE(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
             std::ptrdiff_t(1));
  }

  // LDIF attribute lines as backups hold them, and the library's LDIF reader reads each
  // back as the value written.
  void ldifLines_data() {
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("line");
    const QByteArray b200(200, 'b');
    QTest::newRow("plain") << QByteArray("cn") << QByteArray("Orvelle Configuration")
                           << QByteArray("cn: Orvelle Configuration\n");
    QTest::newRow("empty") << QByteArray("a") << QByteArray("") << QByteArray("a:\n");
    QTest::newRow("inner blanks") << QByteArray("a") << QByteArray("x  $ y")
                                  << QByteArray("a: x  $ y\n");
    QTest::newRow("leading blank")
        << QByteArray("a") << QByteArray(" x") << QByteArray("a:: IHg=\n");
    QTest::newRow("leading colon")
        << QByteArray("a") << QByteArray(":x") << QByteArray("a:: Ong=\n");
    QTest::newRow("leading <") << QByteArray("a") << QByteArray("<x") << QByteArray("a:: PHg=\n");
    QTest::newRow("trailing blank")
        << QByteArray("a") << QByteArray("x ") << QByteArray("a:: eCA=\n");
    QTest::newRow("UTF-8") << QByteArray("ovHelpString") << QByteArray("Größe: ")
                           << QByteArray("ovHelpString:: R3LDtsOfZTog\n");
    QTest::newRow("tab") << QByteArray("a") << QByteArray("x\ty") << QByteArray("a:: eAl5\n");
    QTest::newRow("NUL") << QByteArray("a") << QByteArray("x\0y", 3) << QByteArray("a:: eAB5\n");
    QTest::newRow("folded at 76 columns") << QByteArray("description") << b200
                                          << "description: " + b200.left(63) + "\n " +
                                                 b200.mid(63, 75) + "\n " + b200.mid(138) + "\n";
  }
  void ldifLines() {
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, line);
    const std::string written = ldapx::LdifLine(type.toStdString(), value.toStdString());
    QCOMPARE(QByteArray::fromStdString(written), line);
    std::string unfolded = written.substr(0, written.size() - 1);
    for (size_t at; (at = unfolded.find("\n ")) != std::string::npos;) unfolded.erase(at, 2);
    berval readType{}, readValue{};
    int freeValue = 0;
    QCOMPARE(ldif_parse_line2(unfolded.data(), &readType, &readValue, &freeValue), 0);
    QCOMPARE(QByteArray(readType.bv_val, static_cast<qsizetype>(readType.bv_len)), type);
    QCOMPARE(QByteArray(readValue.bv_val, static_cast<qsizetype>(readValue.bv_len)), value);
    if (freeValue) ber_memfree(readValue.bv_val);
  }

  // A result code reads as the directory library's words for it; our own waits that ran
  // out or were cancelled read as our messages, since no server said anything.
  void errorTextsAreWords_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("success") << 0 << "Success";
    QTest::newRow("no such object") << 32 << "No such object";
    QTest::newRow("invalid credentials") << 49 << "Invalid credentials";
    QTest::newRow("time-out") << ldapx::kTimeout << QString::fromStdString(msg::Text(62191));
    QTest::newRow("cancelled") << ldapx::kCancelled << QString::fromStdString(msg::Text(62192));
  }
  void errorTextsAreWords() {
    QFETCH(int, code);
    QFETCH(QString, text);
    QVERIFY(!text.isEmpty());
    QCOMPARE(QString::fromStdString(kvaro::QError(code).Text()), text);
    std::string printed = "overwritten";
    kvaro::QError(code).Print(printed);
    QCOMPARE(QString::fromStdString(printed), text);
  }
};

QTEST_GUILESS_MAIN(TestLibraryHelpers)
#include "test_libraryhelpers.moc"
