#include <QTest>

#include "platform/ldap/dn.h"
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
    for (const std::string& text : {std::string(), std::string("\0cn=x", 5),
                                    std::string("cn=\xd5,o=Sample"), std::string("cn")})
      QVERIFY(!ldapx::SplitFirstRdn(text));
    const auto rdn = ldapx::ExplodeRdn("cn=a+sn=b");
    QVERIFY(rdn);
    QCOMPARE(rdn->size(), size_t(2));
  }

  // A DN parsed once: its text as libldap writes it, its RDNs, its parent and its first
  // RDN's first component; text that is no DN gives nothing.
  void dnParse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("normal");
    QTest::addColumn<int>("rdns");
    QTest::addColumn<QByteArray>("parent");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("value");
    auto row = [](const char* name, QByteArray text, bool valid, QByteArray normal = {},
                  int rdns = 0, QByteArray parent = {}, QByteArray type = {},
                  QByteArray value = {}) {
      QTest::newRow(name) << text << valid << normal << rdns << parent << type << value;
    };
    row("plain", "cn=Rule,ou=Set,o=Sample", true, "cn=Rule,ou=Set,o=Sample", 3, "ou=Set,o=Sample",
        "cn", "Rule");
    row("escaped comma", "cn=a\\,b,o=Sample", true, "cn=a\\2Cb,o=Sample", 2, "o=Sample", "cn",
        "a,b");
    row("escaped hex pair", "cn=a\\2Cb,o=Sample", true, "cn=a\\2Cb,o=Sample", 2, "o=Sample", "cn",
        "a,b");
    row("quoted value", "cn=\"a,b\",o=Sample", true, "cn=a\\2Cb,o=Sample", 2, "o=Sample", "cn",
        "a,b");
    row("multi-valued RDN", "cn=a+sn=b,o=Sample", true, "cn=a+sn=b,o=Sample", 2, "o=Sample", "cn",
        "a");
    row("hex value", "cn=#04024869,o=Sample", true, "cn=#04024869,o=Sample", 2, "o=Sample", "cn",
        QByteArray("\x04\x02Hi", 4));
    row("case kept", "CN=Rule,O=Sample", true, "CN=Rule,O=Sample", 2, "O=Sample", "CN", "Rule");
    row("blanks around", "cn = a  b , o = Sample", true, "cn=a  b,o=Sample", 2, "o=Sample", "cn",
        "a  b");
    row("UTF-8", "cn=M\xc3\xbcller,o=Sample", true, "cn=M\\C3\\BCller,o=Sample", 2, "o=Sample",
        "cn", "M\xc3\xbcller");
    row("semicolons", "cn=a;o=Sample", true, "cn=a,o=Sample", 2, "o=Sample", "cn", "a");
    row("one RDN", "o=Sample", true, "o=Sample", 1, "", "o", "Sample");
    row("root", "", true, "", 0, "");
    row("no value", "cn", false);
    row("no type", "=a,o=Sample", false);
    row("empty RDN", "cn=a,,o=Sample", false);
    row("open component", "cn=a+,o=Sample", false);
    row("trailing backslash", "cn=a\\", false);
    row("hex value without digits", "cn=# !,o=Sample", false);
    row("no UTF-8", "cn=\xd5,o=Sample", false);
    row("NUL", QByteArray("cn=a\0b,o=Sample", 16), false);
  }
  void dnParse() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    const auto dn = ldapx::Dn::Parse(std::string_view(text.constData(), size_t(text.size())));
    QCOMPARE(bool(dn), valid);
    if (!dn) return;
    QFETCH(QByteArray, normal);
    QFETCH(int, rdns);
    QFETCH(QByteArray, parent);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, value);
    QCOMPARE(QByteArray::fromStdString(dn->Text()), normal);
    QCOMPARE(int(dn->size()), rdns);
    QCOMPARE(QByteArray::fromStdString(dn->Parent().Text()), parent);
    QCOMPARE(dn->IsRoot(), rdns == 0);
    if (rdns == 0) return;
    QCOMPARE(QByteArray::fromStdString(dn->Rdn().front().type), type);
    QCOMPARE(QByteArray::fromStdString(dn->Rdn().front().value), value);
    // The parent is the DN one RDN shorter, and reads back as the same DN.
    QVERIFY(dn->IsChildOf(dn->Parent()));
    QVERIFY(*ldapx::Dn::Parse(dn->Parent().Text()) == dn->Parent());
    QVERIFY(*ldapx::Dn::Parse(dn->Text()) == *dn);
    // The first RDN read alone is the same, and the text after it is the parent.
    const std::string written = text.toStdString();
    const auto split = ldapx::SplitFirstRdn(written);
    QVERIFY(split);
    QCOMPARE(split->rdn.size(), dn->Rdn().size());
    QCOMPARE(QByteArray::fromStdString(split->rdn.front().type), type);
    QCOMPARE(QByteArray::fromStdString(split->rdn.front().value), value);
    QVERIFY(ldapx::Dn::Parse(split->parent) == dn->Parent());
  }

  // Two DNs compared as the directory compares names: equal, the first below the second
  // (at any depth), the first directly below it.
  void dnCompare_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("same");
    QTest::addColumn<bool>("below");
    QTest::addColumn<bool>("child");
    auto row = [](const char* name, QByteArray a, QByteArray b, bool same, bool below, bool child) {
      QTest::newRow(name) << a << b << same << below << child;
    };
    row("case of types and values", "CN=Rule,O=Sample", "cn=rule,o=sample", true, false, false);
    row("blanks in values", "cn=  a   b ,o=Sample", "cn=a b,o=Sample", true, false, false);
    row("blanks after separators", "cn=a, o=Sample", "cn=a,o=Sample", true, false, false);
    row("order in an RDN", "cn=a+sn=b,o=Sample", "SN=B+CN=A,o=Sample", true, false, false);
    row("escape forms", "cn=a\\,b,o=Sample", "cn=a\\2cb,o=Sample", true, false, false);
    row("quoted and escaped", "cn=\"a,b\",o=Sample", "cn=a\\,b,o=Sample", true, false, false);
    row("hex values", "cn=#04024869,o=Sample", "CN=#04024869,O=sample", true, false, false);
    row("hex and text", "cn=#04024869,o=Sample", "cn=Hi,o=Sample", false, false, false);
    row("UTF-8, ASCII letters folded", "cn=M\xc3\xbcLLER,o=Sample", "cn=m\xc3\xbcller,o=Sample",
        true, false, false);
    row("UTF-8, other letters as written", "cn=\xc3\xbc,o=Sample", "cn=\xc3\x9c,o=Sample", false,
        false, false);
    row("other value", "cn=a,o=Sample", "cn=b,o=Sample", false, false, false);
    row("other type", "cn=a,o=Sample", "ou=a,o=Sample", false, false, false);
    row("child", "cn=a,ou=Set,o=Sample", "OU=set, o=Sample", false, true, true);
    row("grandchild", "cn=a,ou=Set,o=Sample", "o=SAMPLE", false, true, false);
    row("below the root", "o=Sample", "", false, true, true);
    row("not below itself", "o=Sample", "o=Sample", true, false, false);
    row("parent below its child", "o=Sample", "cn=a,o=Sample", false, false, false);
    row("escaped comma is no parent", "cn=a\\,o=Sample", "o=Sample", false, false, false);
    row("multi-valued is no parent", "cn=a+o=Sample", "o=Sample", false, false, false);
  }
  void dnCompare() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, same);
    QFETCH(bool, below);
    QFETCH(bool, child);
    const auto x = ldapx::Dn::Parse(a.toStdString());
    const auto y = ldapx::Dn::Parse(b.toStdString());
    QVERIFY(x && y);
    QCOMPARE(*x == *y, same);
    QCOMPARE(*y == *x, same);
    QCOMPARE(x->Key() == y->Key(), same);
    QCOMPARE(x->IsDescendantOf(*y), below);
    QCOMPARE(x->IsChildOf(*y), child);
  }
};

QTEST_GUILESS_MAIN(TestDnCheck)
#include "test_dncheck.moc"
