// Several servers that hold one configuration: a provider and read-only copies kept by
// syncrepl, and a mirror-mode pair that both take writes (tests/support/replicatedslapd).
// The logon falls through to the next server of a list; a save through a copy comes back
// as a referral, written nowhere, and goes to the provider only when asked; and a copy (or
// the other mirror) serves the old configuration or the new one, never a mix and never
// none, while a save runs.
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "platform/ldap/serversettings.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/directory/readonlycopy.h"
#include "store/store.h"
#include "tests/support/replicatedslapd.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/shownstore.h"
#include "tests/support/stallserver.h"
#include "tests/support/testoidtable.h"

using testsupport::ReplicatedSlapd;
using testsupport::SlapdFixture;

namespace {

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";
const ldapx::Timeouts kLimits{2, 10};

const kvaro::Oidtable& Table() { return testsupport::DirectoryOidtable(); }

#define REQUIRE_REPLICAS(var)                           \
  ReplicatedSlapd& var = testsupport::SharedReplicas(); \
  QVERIFY2(var.ok(), var.error().c_str())

#define REQUIRE_MIRRORS(var)                                    \
  testsupport::MirrorSlapd& var = testsupport::SharedMirrors(); \
  QVERIFY2(var.ok(), var.error().c_str())

// What a configuration is, as the entries a save writes: equal text, equal configuration.
std::string Fingerprint(const Configuration& c) { return testsupport::ConfigurationText(c, kRoot); }

std::string Fingerprint(int ruleSets, int rules, int fields) {
  Configuration c;
  c.oidtable = &Table();
  sample::FillLarge(c, ruleSets, rules, fields);
  return Fingerprint(c);
}

directory::Session AdminOn(SlapdFixture& server, ldapx::Security security = ldapx::Security::None) {
  directory::Session s;
  s.server.address = "127.0.0.1";
  s.server.port = security == ldapx::Security::Ldaps ? server.ldapsPort() : server.port();
  s.server.security = ldapx::SecurityName(security);
  s.server.caCertificateFile = server.caFile();
  s.server.bindDn = server.adminDn();
  s.password = server.adminPassword();
  s.subtreeDn = kRoot;
  return s;
}

bool Connect(directory::Session& s) {
  directory::Logon logon = directory::OpenAndBind(s.server, s.password, kLimits);
  s.connection = std::move(logon.connection);
  return s.connection != nullptr;
}

// The configuration `server` serves now (testsupport::ServedConfiguration).
std::string Served(SlapdFixture& server) {
  return testsupport::ServedConfiguration(server, kRoot, Table());
}

// Saves FillLarge(ruleSets, rules, fields) through `server`.
msg::Result SaveOn(SlapdFixture& server, int ruleSets, int rules, int fields,
                   const directory::SaveOptions& options = {}) {
  directory::Session s = AdminOn(server);
  if (!Connect(s)) return msg::Result(false);
  Configuration c;
  c.oidtable = &Table();
  sample::FillLarge(c, ruleSets, rules, fields);
  return directory::SaveConfiguration(s, c, nullptr, options);
}

// Saves FillLarge(ruleSets, rules, fields) through the provider.
msg::Result SaveOnProvider(ReplicatedSlapd& r, int ruleSets, int rules, int fields,
                           const directory::SaveOptions& options = {}) {
  return SaveOn(r.provider(), ruleSets, rules, fields, options);
}

// Loads `servers` without pause, each from a thread of its own, while `during` runs and
// then until each served `after` (at most `seconds` after `during` returned). The loads
// that `fits` did not take: the first of them, or empty.
std::string LoadWhile(const std::vector<SlapdFixture*>& servers,
                      const std::function<bool(const std::string&)>& fits, const std::string& after,
                      const std::function<void()>& during, int seconds) {
  std::atomic<bool> stop{false};
  std::atomic<int> fresh{0};
  std::vector<std::string> others(servers.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < servers.size(); ++i)
    threads.emplace_back([&, i] {
      bool seen = false;
      while (!stop) {
        const std::string served = Served(*servers[i]);
        if (served == after && !seen) {
          seen = true;
          ++fresh;
        } else if (served != after && !fits(served) && others[i].empty()) {
          others[i] = served.substr(0, 300);
        }
      }
    });
  during();
  QElapsedTimer timer;
  timer.start();
  while (fresh < static_cast<int>(servers.size()) && timer.elapsed() < seconds * 1000LL)
    QThread::msleep(5);
  stop = true;
  for (std::thread& t : threads) t.join();
  for (const std::string& other : others)
    if (!other.empty()) return other;
  return fresh < static_cast<int>(servers.size()) ? "(the new configuration never came)"
                                                  : std::string();
}

// The rule sets and forms of a configuration text (ConfigurationText), each as the
// sorted texts of its entries, by the name of its entry below the root; nullopt for a
// text that is no configuration (none, warnings, an error). Sorted, since between two
// writes of a save of changes a written entry may load after siblings it precedes,
// until the save has written those again.
std::optional<std::map<std::string, std::string>> Records(const std::string& text) {
  if (text.rfind("version: 1\n", 0) != 0) return std::nullopt;
  const size_t rootRdns = ldapx::ExplodeDn(kRoot)->size();
  std::map<std::string, std::vector<std::string>> blocks;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\n\n", at);
    end = end == std::string::npos ? text.size() : end + 2;
    const std::string block = text.substr(at, end - at);
    at = end;
    if (block.rfind("dn: ", 0) != 0) continue;
    const auto rdns = ldapx::ExplodeDn(block.substr(4, block.find('\n') - 4));
    if (!rdns || rdns->size() <= rootRdns) continue;
    blocks[(*rdns)[rdns->size() - rootRdns - 1]].push_back(block);
  }
  std::map<std::string, std::string> records;
  for (auto& [name, texts] : blocks) {
    std::sort(texts.begin(), texts.end());
    for (const std::string& t : texts) records[name] += t;
  }
  return records;
}

}  // namespace

class ReplicaTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { msg::SetSink(nullptr); }

  // The logon takes the first server of the list that answers; one that is down,
  // accepts nothing or never answers the bind costs at most the connect limit. A bind
  // that is refused is the answer: the next server is not asked.
  void logonTriesEachServerInTurn_data() {
    QTest::addColumn<QString>("address");   // {dead} {stall} {full} {provider} {copy}
    QTest::addColumn<QString>("password");  // empty: the right one
    QTest::addColumn<QString>("answers");   // the server that answered, or "" for none
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("lastTried");
    QTest::addColumn<int>("seconds");  // at most
    QTest::newRow("first down") << "127.0.0.1:{dead} 127.0.0.1:{provider}"
                                << ""
                                << "{provider}" << 0 << "{provider}" << 1;
    QTest::newRow("first never answers the bind") << "127.0.0.1:{stall} 127.0.0.1:{copy}"
                                                  << ""
                                                  << "{copy}" << 0 << "{copy}" << 3;
    QTest::newRow("first accepts no connection") << "127.0.0.1:{full},127.0.0.1:{copy}"
                                                 << ""
                                                 << "{copy}" << 0 << "{copy}" << 3;
    QTest::newRow("none answers") << "127.0.0.1:{dead} 127.0.0.1:{stall}"
                                  << ""
                                  << "" << -5 << "{stall}" << 3;
    QTest::newRow("refused bind ends the list") << "127.0.0.1:{copy} 127.0.0.1:{provider}"
                                                << "wrong"
                                                << "" << 49 << "{copy}" << 1;
  }
  void logonTriesEachServerInTurn() {
    REQUIRE_REPLICAS(r);
    QFETCH(QString, address);
    QFETCH(QString, password);
    QFETCH(QString, answers);
    QFETCH(int, code);
    QFETCH(QString, lastTried);
    QFETCH(int, seconds);
    testsupport::StallServer stall(testsupport::StallServer::Mode::Silent);
    testsupport::StallServer full(testsupport::StallServer::Mode::NoAccept);
    auto ports = [&](QString text) {
      text.replace("{dead}", QString::number(r.deadPort()));
      text.replace("{stall}", QString::number(stall.port()));
      text.replace("{full}", QString::number(full.port()));
      text.replace("{provider}", QString::number(r.provider().port()));
      text.replace("{copy}", QString::number(r.copy().port()));
      return text;
    };
    directory::Session s = AdminOn(r.provider());
    s.server.address = ports(address).toStdString();
    QElapsedTimer timer;
    timer.start();
    const directory::Logon logon = directory::OpenAndBind(
        s.server, password.isEmpty() ? s.password : password.toStdString(), kLimits);
    const qint64 ms = timer.elapsed();
    qInfo("%s: %lld ms", QTest::currentDataTag(), ms);
    QVERIFY2(ms <= seconds * 1000LL, std::to_string(ms).c_str());
    QCOMPARE(logon.code, code);
    QCOMPARE(logon.connection != nullptr, !answers.isEmpty());
    QCOMPARE(QString::number(logon.port), ports(lastTried));
    if (logon.connection) QCOMPARE(QString::number(logon.connection->port()), ports(answers));
  }

  // A save through a read-only copy writes nothing anywhere and returns the referral;
  // the provider then takes it over a logon with the same DN and password, never less
  // encrypted than the session was. The copies converge on loopback within 2 s.
  void saveThroughACopyIsReferred_data() {
    QTest::addColumn<QString>("through");  // copy, copy-ldaps, lost
    QTest::addColumn<int>("followed");     // message id of the failed follow, 0: saved
    QTest::newRow("copy, plain text") << "copy" << 0;
    QTest::newRow("copy over LDAPS, provider without TLS")
        << "copy-ldaps" << msg::id::kProviderFailed;
    QTest::newRow("copy that refers to nothing") << "lost" << msg::id::kProviderFailed;
  }
  void saveThroughACopyIsReferred() {
    REQUIRE_REPLICAS(r);
    QFETCH(QString, through);
    QFETCH(int, followed);
    QVERIFY(SaveOnProvider(r, 2, 2, 2).ok);
    QVERIFY(r.WaitForCopies(10) >= 0);
    const std::string before = Fingerprint(2, 2, 2);
    const bool lost = through == "lost";
    SlapdFixture& copy = lost ? r.lostCopy() : r.copy();
    directory::Session s =
        AdminOn(copy, through == "copy-ldaps" ? ldapx::Security::Ldaps : ldapx::Security::None);
    QVERIFY(Connect(s));
    Configuration c;
    c.oidtable = &Table();
    sample::FillLarge(c, 3, 3, 3);
    const msg::Result refused = directory::SaveConfiguration(s, c);
    QVERIFY(!refused.ok);
    QCOMPARE(refused.Ids(), std::vector<int>{msg::id::kReadOnlyCopy});
    const auto provider = directory::ReadOnlyCopyReferral(refused);
    QVERIFY(provider);
    const auto url = ldapx::ParseUrl(*provider);
    QVERIFY(url);
    QCOMPARE(url->port, lost ? r.deadPort() : r.provider().port());
    QCOMPARE(Served(r.provider()), before);
    QCOMPARE(Served(copy), before);

    QElapsedTimer timer;
    timer.start();
    const msg::Result connected = directory::ConnectToProvider(s, *provider, kLimits);
    if (followed != 0) {
      QCOMPARE(connected.Ids(), std::vector<int>{followed});
      // Never less encrypted: the provider's ldap:// URL is taken only with StartTLS.
      if (through == "copy-ldaps")
        QVERIFY(connected.problems.front().reason.find("StartTLS") != std::string::npos);
      QVERIFY(timer.elapsed() <= 3000);
      QCOMPARE(Served(r.provider()), before);
      return;
    }
    QVERIFY(connected.ok);
    QCOMPARE(s.connection->port(), r.provider().port());
    QVERIFY(directory::SaveConfiguration(s, c).ok);
    const long converged = r.WaitForCopies(10);
    qInfo("copies converged %ld ms after the save", converged);
    QVERIFY(converged >= 0 && converged <= 2000);
    QCOMPARE(Served(r.copy()), Fingerprint(3, 3, 3));
    QCOMPARE(Served(r.lostCopy()), Fingerprint(3, 3, 3));
  }

  // Between the two renames of a swap (on the provider for a moment, on a copy until it
  // replays the second) the root is missing while the old one stands beside it under its
  // marked name: a load waits for the new root instead of loading nothing. Without such
  // an old root a missing root loads as no configuration at once, as it always did.
  void loadWaitsOutASwap_data() {
    QTest::addColumn<QString>("awayName");  // where the root is while the load starts
    QTest::addColumn<int>("backAfterMs");   // -1: it stays away
    QTest::addColumn<bool>("loads");        // the configuration, else none
    QTest::addColumn<int>("atMostMs");
    QTest::newRow("between the renames")
        << "Orvelle Configuration.orvelle-old-20261209-x" << 300 << true << 2500;
    QTest::newRow("a save killed between them")
        << "Orvelle Configuration.orvelle-old-20261209-x" << -1 << false << 4500;
    QTest::newRow("no old root beside it") << "Elsewhere" << 300 << false << 1000;
  }
  void loadWaitsOutASwap() {
    REQUIRE_REPLICAS(r);
    QFETCH(QString, awayName);
    QFETCH(int, backAfterMs);
    QFETCH(bool, loads);
    QFETCH(int, atMostMs);
    QVERIFY(SaveOnProvider(r, 2, 2, 2).ok);
    directory::Session admin = AdminOn(r.provider());
    QVERIFY(Connect(admin));
    const std::string away = "cn=" + ldapx::EscapeDnValue(awayName.toStdString());
    QCOMPARE(ldapx::Rename(*admin.connection, kRoot, away), ldapx::kSuccess);
    std::thread back([&] {
      if (backAfterMs < 0) return;
      QThread::msleep(static_cast<unsigned long>(backAfterMs));
      ldapx::Rename(*admin.connection, away + ",o=Sample", "cn=Orvelle Configuration");
    });
    QElapsedTimer timer;
    timer.start();
    const std::string served = Served(r.provider());
    const qint64 ms = timer.elapsed();
    back.join();
    if (backAfterMs < 0)
      QCOMPARE(ldapx::Rename(*admin.connection, away + ",o=Sample", "cn=Orvelle Configuration"),
               ldapx::kSuccess);
    qInfo("%s: %lld ms", QTest::currentDataTag(), ms);
    QCOMPARE(served, loads ? Fingerprint(2, 2, 2) : std::string("none"));
    QVERIFY(ms <= atMostMs);
  }

  // While a save runs on the provider, two readers load from the two copies without a
  // pause: every load gives the old configuration or the new one, whole; never a mix,
  // never none. A save whose provider is killed half way leaves the copies at the old
  // one; a copy started after the save refreshes to the new one.
  void copiesServeOldOrNew_data() {
    QTest::addColumn<int>("oldSets");  // rule sets of the old configuration
    QTest::addColumn<int>("newSets");  // and of the new one (about 30 entries each)
    QTest::addColumn<bool>("killProvider");
    // Many quick loads of a small configuration around the swap.
    QTest::newRow("small to large") << 2 << 60 << false;
    // Reads of more than one page (500 entries) that may straddle the swap.
    QTest::newRow("two pages to two pages") << 18 << 18 << false;
    QTest::newRow("provider killed half way") << 2 << 60 << true;
  }
  void copiesServeOldOrNew() {
    REQUIRE_REPLICAS(r);
    QFETCH(int, oldSets);
    QFETCH(int, newSets);
    QFETCH(bool, killProvider);
    // ORVELLE_REPLICA_RULESETS sets the size of the new configuration for measurements.
    const int sets = qEnvironmentVariableIntValue("ORVELLE_REPLICA_RULESETS") > 0
                         ? qEnvironmentVariableIntValue("ORVELLE_REPLICA_RULESETS")
                         : newSets;
    QVERIFY(SaveOnProvider(r, oldSets, 20, 9).ok);
    QVERIFY(r.WaitForCopies(20) >= 0);
    const std::string before = Fingerprint(oldSets, 20, 9);
    const std::string after = Fingerprint(sets, 20, 10);

    struct Reader {
      SlapdFixture* server;
      std::atomic<long> loads{0}, old{0}, fresh{0};
      std::atomic<qint64> firstFresh{-1};
      std::string other;  // the first load that was neither
      std::atomic<long> others{0};
    };
    Reader readers[2];
    readers[0].server = &r.copy();
    readers[1].server = &r.lostCopy();
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (Reader& reader : readers)
      threads.emplace_back([&, rd = &reader] {
        while (!stop) {
          const std::string served = Served(*rd->server);
          ++rd->loads;
          if (served == before) {
            ++rd->old;
          } else if (served == after) {
            ++rd->fresh;
            qint64 none = -1;
            rd->firstFresh.compare_exchange_strong(none, clock.elapsed());
          } else if (rd->others++ == 0) {
            rd->other = served.substr(0, 300);
          }
        }
      });
    directory::SaveOptions options;
    options.onStage = [&](directory::SaveStage stage) {
      if (killProvider && stage == directory::SaveStage::StagingHalfway) r.provider().Kill();
    };
    const qint64 startedAt = clock.elapsed();
    const msg::Result saved = SaveOnProvider(r, sets, 20, 10, options);
    const qint64 savedAt = clock.elapsed();
    qInfo("the save took %lld ms", savedAt - startedAt);
    QCOMPARE(saved.ok, !killProvider);
    // Readers go on until both saw the new configuration (or a second, for the kill).
    while (clock.elapsed() - savedAt < (killProvider ? 1000 : 10000) &&
           (killProvider || readers[0].firstFresh < 0 || readers[1].firstFresh < 0))
      QThread::msleep(5);
    QThread::msleep(200);
    stop = true;
    for (std::thread& t : threads) t.join();
    for (Reader& reader : readers) {
      qInfo(
          "copy on port %d: %ld loads, %ld old, %ld new, %ld neither; new %lld ms after the "
          "save returned",
          reader.server->port(), reader.loads.load(), reader.old.load(), reader.fresh.load(),
          reader.others.load(), reader.firstFresh < 0 ? -1 : reader.firstFresh - savedAt);
      QVERIFY2(reader.others == 0, reader.other.c_str());
      QVERIFY(reader.loads > 2);
      if (killProvider) {
        QCOMPARE(reader.fresh.load(), 0L);
      } else {
        QVERIFY(reader.firstFresh >= 0);
      }
    }
    if (killProvider) {
      // The copies keep the old configuration; once the provider is back, the next save
      // reaches them.
      QVERIFY(r.RestartProvider());
      QCOMPARE(Served(r.copy()), before);
      QVERIFY(SaveOnProvider(r, 3, 3, 3).ok);
      QVERIFY(r.WaitForCopies(20) >= 0);
      QCOMPARE(Served(r.copy()), Fingerprint(3, 3, 3));
      QCOMPARE(Served(r.lostCopy()), Fingerprint(3, 3, 3));
      return;
    }
    if (oldSets != 2) return;
    // A copy that starts now takes up the new configuration in its refresh.
    SlapdFixture::Options late;
    late.consumerOf = r.provider().port();
    SlapdFixture lateCopy(late);
    QVERIFY2(lateCopy.ok(), lateCopy.error().c_str());
    QElapsedTimer refresh;
    refresh.start();
    while (Served(lateCopy) != after && refresh.elapsed() < 20000) QThread::msleep(20);
    qInfo("a copy started after the save served it after %lld ms", refresh.elapsed());
    QCOMPARE(Served(lateCopy), after);
  }

  // A save of what changed, through the provider: it writes record by record, so a copy
  // may serve some of its changes before the others, but each load is a configuration
  // that loads without warnings, each rule set and form in it as it was or as saved (in
  // the order of its entries, see Records); the last load gives the new one, in order.
  void changesServeEachRecordOldOrNew() {
    REQUIRE_REPLICAS(r);
    QVERIFY(SaveOnProvider(r, 6, 5, 3).ok);
    QVERIFY(r.WaitForCopies(20) >= 0);
    store::Session session;
    session.startupMode = StartupMode::kDirectory;
    session.directory = testsupport::LogonAs(r.provider().adminDn(), r.provider().adminPassword());
    Configuration c;
    QVERIFY(directory::LoadConfigurationFromUrl(session.directory, c, Table(),
                                                ReplicatedSlapd::Url(r.provider(), kRoot), kLimits,
                                                nullptr, true)
                .ok);
    const auto old = Records(Fingerprint(c));
    QVERIFY(old);
    // A modify of a rule and of a form, a field added to a form (the form is replaced),
    // a rule set added (moved in whole) with a form that searches it, a form removed.
    c.FindRuleSet("Set 1")->FindRule("Rule 2")->objectClasses = {"room", "device"};
    c.FindForm("Form 0")->helpString = "help";
    c.FindForm("Form 2")->targetGroup->AddField("Extra", "", {"cn"});
    auto added = std::make_unique<RuleSet>("Added");
    for (int i = 0; i < 5; ++i)
      added->AddRule(std::make_unique<SearchRule>(added.get(), "R" + std::to_string(i),
                                                  std::vector<SearchRule*>{},
                                                  std::vector<std::string>{"person"}));
    RuleSet* set = c.AddRuleSet(std::move(added));
    auto group = std::make_unique<InputGroup>("Finder", set->FindRule("R0"));
    group->AddField("Who", "", {"cn"});
    c.AddForm(std::make_unique<SearchForm>("Form added", set, std::move(group)));
    c.DetachForm(c.FindForm("Form 4"));
    const std::string after = Fingerprint(c);
    const auto fresh = Records(after);
    // The entry of a rule set the save does not touch keeps its version: no whole save.
    const auto version = [&] {
      auto conn = r.provider().Connect();
      if (!conn) return std::vector<std::string>{};
      const ldapx::SearchResult read =
          conn->Search("cn=Set 0," + kRoot, ldapx::Scope::Base, "(objectClass=*)", {"entryCSN"});
      const ldapx::Attribute* csn =
          read.entries.empty() ? nullptr : read.entries[0].Find("entryCSN");
      return csn ? csn->values : std::vector<std::string>{};
    };
    const std::vector<std::string> before = version();
    QVERIFY(!before.empty());
    const auto fits = [&](const std::string& served) {
      const auto records = Records(served);
      if (!records) return false;
      for (const auto& [name, text] : *records) {
        const auto was = old->find(name);
        const auto is = fresh->find(name);
        if ((was == old->end() || was->second != text) &&
            (is == fresh->end() || is->second != text))
          return false;
      }
      return true;
    };
    msg::Result saved(false);
    const std::string other = LoadWhile(
        {&r.copy(), &r.lostCopy()}, fits, after, [&] { saved = store::Save(session, c); }, 10);
    const std::string why = saved.problems.empty()
                                ? std::string()
                                : msg::Text(saved.problems.front().id, saved.problems.front().args);
    QVERIFY2(saved.ok, why.c_str());
    QVERIFY2(other.empty(), other.c_str());
    QCOMPARE(version(), before);
  }

  // A save through either server of a mirror-mode pair: loads from both, without pause
  // while it runs, give the old configuration or the new one, whole, and both then the new.
  void mirrorsServeOldOrNew_data() {
    QTest::addColumn<int>("target");
    QTest::newRow("save through the first") << 0;
    QTest::newRow("save through the second") << 1;
  }
  void mirrorsServeOldOrNew() {
    REQUIRE_MIRRORS(m);
    QFETCH(int, target);
    QVERIFY(SaveOn(m.mirror(1 - target), 2, 5, 3).ok);
    QVERIFY(m.WaitForMirrors(20) >= 0);
    const std::string before = Fingerprint(2, 5, 3);
    const std::string after = Fingerprint(5 + target, 5, 3);
    QCOMPARE(Served(m.mirror(target)), before);
    msg::Result saved(false);
    const std::string other = LoadWhile(
        {&m.mirror(0), &m.mirror(1)}, [&](const std::string& served) { return served == before; },
        after, [&] { saved = SaveOn(m.mirror(target), 5 + target, 5, 3); }, 10);
    QVERIFY(saved.ok);
    QVERIFY2(other.empty(), other.c_str());
  }

  // A host list "first second" of a mirror pair: the logon takes the first; once it is
  // gone, the second, which serves what was saved through the first and takes a save
  // that the first holds too once it is back.
  void mirrorListFailsOver() {
    REQUIRE_MIRRORS(m);
    QVERIFY(SaveOn(m.mirror(0), 3, 3, 3).ok);
    QVERIFY(m.WaitForMirrors(20) >= 0);
    const std::string list = "127.0.0.1:" + std::to_string(m.mirror(0).port()) +
                             " 127.0.0.1:" + std::to_string(m.mirror(1).port());
    directory::Session s = AdminOn(m.mirror(0));
    s.server.address = list;
    QVERIFY(Connect(s));
    QCOMPARE(s.connection->port(), m.mirror(0).port());
    m.mirror(0).Kill();
    directory::Session next = AdminOn(m.mirror(0));
    next.server.address = list;
    QVERIFY(Connect(next));
    QCOMPARE(next.connection->port(), m.mirror(1).port());
    Configuration c;
    c.oidtable = &Table();
    msg::Problems warnings;
    QVERIFY(directory::LoadSubtree(c, kRoot, Table(), *next.connection, warnings));
    QVERIFY(warnings.empty());
    QCOMPARE(Fingerprint(c), Fingerprint(3, 3, 3));
    Configuration changed;
    changed.oidtable = &Table();
    sample::FillLarge(changed, 4, 3, 3);
    QVERIFY(directory::SaveConfiguration(next, changed).ok);
    QVERIFY(m.mirror(0).Restart());
    QVERIFY(m.WaitForMirrors(20) >= 0);
    QCOMPARE(Served(m.mirror(0)), Fingerprint(4, 3, 3));
  }
};

QTEST_GUILESS_MAIN(ReplicaTest)
#include "test_replicas.moc"
