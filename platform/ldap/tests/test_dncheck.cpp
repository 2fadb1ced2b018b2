#include <QTest>

#include "platform/ldap/dncheck.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"

namespace {
const std::string kShipped = std::string(ORVELLE_SOURCE_DIR) + "/resources/oidtable32";
}

class TestDnCheck : public QObject {
  Q_OBJECT
 private slots:
  // Well-formed UTF-8 only: no overlong forms, surrogates, code points beyond U+10FFFF,
  // cut or stray continuation bytes.
  void utf8Check_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("wellFormed");
    struct Case {
      const char* name;
      const char* bytes;
      bool wellFormed;
    };
    for (const Case& c :
         std::initializer_list<Case>{{"ASCII", "plain", true},
                                     {"two bytes", "M\xc3\xbcller", true},
                                     {"three bytes, lowest after E0", "\xe0\xa0\x80", true},
                                     {"last before the surrogates", "\xed\x9f\xbf", true},
                                     {"four bytes, lowest after F0", "\xf0\x90\x80\x80", true},
                                     {"U+10FFFF", "\xf4\x8f\xbf\xbf", true},
                                     {"overlong two bytes", "\xc0\xaf", false},
                                     {"overlong three bytes", "\xe0\x9f\xbf", false},
                                     {"surrogate", "\xed\xa0\x80", false},
                                     {"overlong four bytes", "\xf0\x8f\xbf\xbf", false},
                                     {"beyond U+10FFFF", "\xf4\x90\x80\x80", false},
                                     {"cut at the end", "ab\xe2\x82", false},
                                     {"stray continuation",
                                      "a\x80"
                                      "b",
                                      false},
                                     {"Latin-1 byte", "M\xfcller", false}})
      QTest::newRow(c.name) << QByteArray(c.bytes) << c.wellFormed;
  }
  void utf8Check() {
    QFETCH(QByteArray, text);
    QFETCH(bool, wellFormed);
    QCOMPARE(ldapx::IsUtf8(std::string_view(text.constData(), size_t(text.size()))), wellFormed);
    // A DN value holding the text is valid only when the text is well-formed.
    kvaro::Oidtable table;
    ldapx::LoadOidtable(table, kShipped);
    QCOMPARE(kvaro::IsValidDn("cn=" + text.toStdString() + ",o=Sample", table), wellFormed);
  }

  void dnCheck_data() {
    QTest::addColumn<QByteArray>("dn");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QByteArray("cn=Orvelle Configuration, o=Sample") << true;
    QTest::newRow("multi-valued RDN") << QByteArray("cn=a+sn=b,o=Sample") << true;
    QTest::newRow("escaped comma") << QByteArray("cn=a\\, b,o=Sample") << true;
    // A value may hold "=": the check looks at parsed values, not at the text.
    QTest::newRow("escaped equals sign") << QByteArray("cn=a\\=b,o=Sample") << true;
    QTest::newRow("equals sign") << QByteArray("cn=a=b,o=Sample") << true;
    QTest::newRow("equals sign, multi-valued RDN") << QByteArray("cn=x=y+sn=z,o=Sample") << true;
    QTest::newRow("equals sign, unknown type") << QByteArray("xyz=a=b,o=Sample") << false;
    QTest::newRow("unknown type") << QByteArray("nosuchtype=a,o=Sample") << false;
    QTest::newRow("empty value") << QByteArray("cn=,o=Sample") << false;
    QTest::newRow("empty RDN between") << QByteArray("cn=x,,o=y") << false;
    QTest::newRow("trailing comma") << QByteArray("cn=x,") << false;
    QTest::newRow("only a comma") << QByteArray(",") << false;
    QTest::newRow("only a plus") << QByteArray("+") << false;
    QTest::newRow("RDN ending in plus") << QByteArray("cn=a+,o=x") << false;
    QTest::newRow("no equals sign") << QByteArray("Sample") << false;
    QTest::newRow("unterminated quote") << QByteArray("cn=\"abc,o=x") << false;
    QTest::newRow("bad hex value") << QByteArray("cn=#zz") << false;
    QTest::newRow("UTF-8 value") << QByteArray("cn=M\xc3\xbcller,o=Sample") << true;
    QTest::newRow("hex value") << QByteArray("cn=#04024869,o=Sample") << true;
    // libldap cannot write such values back as text: its explode calls then return an
    // empty list (which passed for a valid DN), leak, or free wild pointers.
    QTest::newRow("Latin-1 byte") << QByteArray("cn=M\xfcller,o=Sample") << false;
    QTest::newRow("Latin-1 byte, one RDN") << QByteArray("cn=\xd5") << false;
    QTest::newRow("escaped byte that is no UTF-8") << QByteArray("cn=a\\D5,o=Sample") << false;
    QTest::newRow("found by fuzzing") << QByteArray("cEQUALIUALI=xEQ\325ALI") << false;
    // The library reads up to a NUL only; what follows must not make a DN valid.
    QTest::newRow("NUL inside") << QByteArray("cn=x\0,,,", 8) << false;
  }
  void dnCheck() {
    QFETCH(QByteArray, dn);
    QFETCH(bool, valid);
    kvaro::Oidtable table;
    QCOMPARE(ldapx::LoadOidtable(table, kShipped), 1);
    QCOMPARE(kvaro::IsValidDn(dn.toStdString(), table), valid);
  }

  // The DN helpers refuse values libldap cannot write back instead of reaching its
  // failing (leaking) path.
  void valuesThatAreNoUtf8AreNoDn() {
    QVERIFY(!ldapx::NormalizeDn("cn=\xd5,o=Sample"));
    QVERIFY(!ldapx::ParentDn("cn=a\\D5,o=Sample"));
    QVERIFY(!ldapx::FirstRdn("cn=\xd5"));
    QVERIFY(!ldapx::ExplodeRdn("cn=\xd5"));
    QVERIFY(!ldapx::ExplodeDn("cn=\xd5"));
    QCOMPARE(ldapx::NormalizeDn("CN=M\xc3\xbcller , o=Sample").value_or(""),
             std::string("CN=M\\C3\\BCller,o=Sample"));
    QCOMPARE(ldapx::ExplodeDn("").value_or(std::vector<std::string>{"x"}).size(), size_t(0));
  }

  // libldap ends the process on an empty RDN; the wrapper must refuse it first.
  void anEmptyRdnNeverReachesTheLibrary() {
    QVERIFY(!ldapx::ExplodeRdn(""));
    QVERIFY(!ldapx::ExplodeRdn(std::string("\0cn=x", 5)));
    const auto rdn = ldapx::ExplodeRdn("cn=a+sn=b");
    QVERIFY(rdn);
    QCOMPARE(rdn->size(), size_t(2));
  }
};

QTEST_GUILESS_MAIN(TestDnCheck)
#include "test_dncheck.moc"
