// Loads from read-only copies while large configurations are saved through their
// provider (a throwaway slapd provider and two syncrepl copies on loopback). Two reader
// processes load from both copies without pause, as clients near each copy would; each
// load is counted as the old configuration, the new one, or anything else (a mix, none,
// an error). Prints one table. Not part of the test suite (bench/replicas runs it).
//
//   replica_bench [ENTRIES [ROUNDS]]     the measurement (default 10000 entries, 3 saves)
//   replica_bench read ROOT BIND_DN PASSWORD PORT...
//                                        one reader: loads from each PORT in turn until
//                                        killed, one line per load on standard output
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "tests/support/replicatedslapd.h"
#include "tests/support/sampleconfig.h"
#include "tests/support/testoidtable.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRoot = "cn=Orvelle Configuration,o=Sample";
// FillLarge's entries per rule set: the set, 20 rules, a form, its group and 10 fields.
constexpr int kRules = 20;
constexpr int kPerSet = kRules + 13;

// Milliseconds on the system's monotonic clock, which every process on the machine
// shares, so the readers' times and the saves' times compare.
long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

size_t Hash(const std::string& text) { return std::hash<std::string>{}(text); }

// One reader process: loads from each port in turn, forever. Each load is one line:
// "PORT START END HASH TEXT", TEXT being what was served when it is not a configuration
// (none, warnings, error: ...; on one line), else "-".
int ReadCommand(const std::string& root, const std::string& bindDn, const std::string& password,
                const std::vector<int>& ports) {
  const kvaro::Oidtable& table = testsupport::DirectoryOidtable();
  for (size_t i = 0;; ++i) {
    const int port = ports[i % ports.size()];
    const long long start = NowMs();
    std::string served = "error: no logon";
    auto conn = ldapx::Connection::Open("127.0.0.1", port, ldapx::Timeouts{2, 30});
    if (conn && conn->SimpleBind(bindDn, password) == ldapx::kSuccess)
      served = testsupport::ServedConfiguration(*conn, root, table);
    const bool text = served.rfind("version: 1\n", 0) != 0;
    std::string shown = text ? served.substr(0, 200) : "-";
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    std::printf("%d %lld %lld %zu %s\n", port, start, NowMs(), Hash(served), shown.c_str());
    std::fflush(stdout);
  }
}

struct Load {
  int port = 0;
  long long start = 0, end = 0;
  size_t hash = 0;
  std::string text;
};

std::vector<Load> ParseLoads(const QByteArray& output) {
  std::vector<Load> loads;
  for (const QByteArray& line : output.split('\n')) {
    Load l;
    char text[256] = {0};
    if (std::sscanf(line.constData(), "%d %lld %lld %zu %255[^\n]", &l.port, &l.start, &l.end,
                    &l.hash, text) == 5) {
      l.text = text;
      loads.push_back(l);
    }
  }
  return loads;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool Save(testsupport::SlapdFixture& provider, const Configuration& c) {
  directory::Session s;
  s.server.address = "127.0.0.1";
  s.server.port = provider.port();
  s.server.bindDn = provider.adminDn();
  s.password = provider.adminPassword();
  s.subtreeDn = kRoot;
  directory::Logon logon = directory::OpenAndBind(s.server, s.password, ldapx::Timeouts{2, 30});
  s.connection = std::move(logon.connection);
  return s.connection && directory::SaveConfiguration(s, c, nullptr).ok;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "replica_bench: %s\n", why.c_str());
  return 1;
}

int MeasureCommand(const char* self, int entries, int rounds) {
  testsupport::ReplicatedSlapd r;
  if (!r.ok()) return Fail(r.error());
  // Two configurations of about `entries` entries that differ in every form: the saves
  // alternate between them.
  const int sets = std::max(1, entries / kPerSet);
  Configuration configs[2];
  std::string texts[2];
  for (int i = 0; i < 2; ++i) {
    configs[i].oidtable = &testsupport::DirectoryOidtable();
    sample::FillLarge(configs[i], sets, kRules, 10 - i);
    texts[i] = testsupport::ConfigurationText(configs[i], kRoot);
  }
  const std::map<size_t, int> which{{Hash(texts[0]), 0}, {Hash(texts[1]), 1}};
  // Entries of the larger configuration: one "dn:" line each.
  long written = 0;
  for (size_t at = 0; (at = texts[0].find("dn:", at)) != std::string::npos; at += 3)
    written += at == 0 || texts[0][at - 1] == '\n';
  if (!Save(r.provider(), configs[0])) return Fail("the first save failed");
  if (r.WaitForCopies(60) < 0) return Fail("the copies did not take up the first save");

  const QStringList copies{QString::number(r.copy().port()), QString::number(r.lostCopy().port())};
  QProcess readers[2];
  for (int i = 0; i < 2; ++i) {
    QStringList args{"read", QString::fromStdString(kRoot),
                     QString::fromStdString(r.provider().adminDn()),
                     QString::fromStdString(r.provider().adminPassword())};
    // The two readers start at different copies.
    args << copies[i] << copies[1 - i];
    readers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
    readers[i].start(self, args);
    if (!readers[i].waitForStarted(10000)) return Fail("a reader did not start");
  }
  QByteArray output[2];
  const auto collect = [&] {
    for (int i = 0; i < 2; ++i) {
      readers[i].waitForReadyRead(0);
      output[i] += readers[i].readAllStandardOutput();
    }
  };
  // Each copy has served the configuration `want` to each reader since `since`.
  const auto servedEverywhere = [&](int want, long long since) {
    for (int i = 0; i < 2; ++i)
      for (const QString& port : copies) {
        bool seen = false;
        for (const Load& l : ParseLoads(output[i]))
          seen = seen || (l.port == port.toInt() && l.start >= since && which.count(l.hash) &&
                          which.at(l.hash) == want);
        if (!seen) return false;
      }
    return true;
  };
  for (int waited = 0; !servedEverywhere(0, 0) && waited < 600; ++waited) {
    QThread::msleep(50);
    collect();
  }
  if (!servedEverywhere(0, 0)) return Fail("the readers never loaded the first configuration");

  struct Round {
    long long start, end;
    double saveMs, caughtUpMs;
    double firstNewMs[2];  // per copy: the end of the first load of the new one, after the save
  };
  std::vector<Round> done;
  for (int round = 1; round <= rounds; ++round) {
    const int next = round % 2;
    Round rd{};
    rd.start = NowMs();
    if (!Save(r.provider(), configs[next])) return Fail("a save through the provider failed");
    rd.end = NowMs();
    rd.saveMs = static_cast<double>(rd.end - rd.start);
    const long caughtUp = r.WaitForCopies(30);
    if (caughtUp < 0) return Fail("the copies did not catch up within 30 s");
    rd.caughtUpMs = static_cast<double>(NowMs() - rd.end);
    for (int waited = 0; !servedEverywhere(next, rd.start) && waited < 600; ++waited) {
      QThread::msleep(50);
      collect();
    }
    for (int c = 0; c < 2; ++c) {
      rd.firstNewMs[c] = -1;
      for (const QByteArray& out : output)
        for (const Load& l : ParseLoads(out))
          if (l.port == copies[c].toInt() && l.start >= rd.start && which.count(l.hash) &&
              which.at(l.hash) == next &&
              (rd.firstNewMs[c] < 0 || l.end - rd.end < rd.firstNewMs[c]))
            rd.firstNewMs[c] = static_cast<double>(l.end - rd.end);
    }
    done.push_back(rd);
    QThread::msleep(500);
    collect();
  }
  for (QProcess& reader : readers) {
    reader.kill();
    reader.waitForFinished(5000);
  }
  collect();
  // One more save with nobody reading: how soon the copies hold it on an idle machine.
  const long long quietStart = NowMs();
  if (!Save(r.provider(), configs[(rounds + 1) % 2])) return Fail("the last save failed");
  const double quietSaveMs = static_cast<double>(NowMs() - quietStart);
  const long long quietEnd = NowMs();
  if (r.WaitForCopies(30) < 0) return Fail("the copies did not catch up within 30 s");
  const double quietCaughtUpMs = static_cast<double>(NowMs() - quietEnd);

  long total = 0, during = 0, others = 0;
  long kinds[2] = {0, 0};
  std::string firstOther;
  for (const QByteArray& out : output)
    for (const Load& l : ParseLoads(out)) {
      ++total;
      for (const Round& rd : done)
        if (l.end >= rd.start && l.start <= rd.end + static_cast<long long>(rd.caughtUpMs)) {
          ++during;
          break;
        }
      const auto it = which.find(l.hash);
      if (it != which.end()) {
        ++kinds[it->second];
      } else if (others++ == 0) {
        firstOther = l.text;
      }
    }
  std::vector<double> saves, caught, firstNew;
  for (const Round& rd : done) {
    saves.push_back(rd.saveMs);
    caught.push_back(rd.caughtUpMs);
    for (double ms : rd.firstNewMs) firstNew.push_back(ms);
  }
  std::printf("Loads from two read-only copies (2 reader processes, without pause) during %d\n",
              rounds);
  std::printf(
      "whole saves through the provider of %ld entries (%d rule sets), slapd on "
      "loopback:\n",
      written, sets);
  std::printf("  save through the provider, median (ms)               %8.0f\n", Median(saves));
  std::printf("  copies hold every change, after the save, median (ms) %8.0f (max %.0f)\n",
              Median(caught), *std::max_element(caught.begin(), caught.end()));
  std::printf("  first load of the new one from a copy, median (ms)    %8.0f (max %.0f)\n",
              Median(firstNew), *std::max_element(firstNew.begin(), firstNew.end()));
  std::printf("  without readers: save (ms)                            %8.0f\n", quietSaveMs);
  std::printf("  without readers: copies hold every change after (ms)  %8.0f\n", quietCaughtUpMs);
  std::printf("  loads in all                                          %8ld\n", total);
  std::printf("  loads while a save ran or the copies caught up        %8ld\n", during);
  std::printf("  loads of the old or the new configuration             %8ld\n",
              kinds[0] + kinds[1]);
  std::printf("  loads of anything else (goal 0)                       %8ld%s%s\n", others,
              others ? ", first: " : "", firstOther.c_str());
  return others == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc >= 6 && std::string(argv[1]) == "read") {
    std::vector<int> ports;
    for (int i = 5; i < argc; ++i) ports.push_back(std::atoi(argv[i]));
    return ReadCommand(argv[2], argv[3], argv[4], ports);
  }
  const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (entries <= 0 || rounds <= 0) return Fail("usage: replica_bench [ENTRIES [ROUNDS]]");
  return MeasureCommand(argv[0], entries, rounds);
}
