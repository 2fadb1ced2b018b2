// The program side of bench/run: builds synthetic configurations and times the
// program's own load, save and tree-fill paths. Each command prints one line of
// "key value" pairs (times in milliseconds) for the script to collect.
//
//   orvelle_bench count N
//   orvelle_bench ldif N SUBTREE_DN OUT.ldif
//   orvelle_bench dir-seed N HOST PORT SUBTREE_DN BIND_DN PASSWORD
//   orvelle_bench dir-load N HOST PORT SUBTREE_DN BIND_DN PASSWORD
//                 (over TLS with BENCH_SECURITY=ldaps|starttls and BENCH_CA_FILE=FILE)
//   orvelle_bench dir-save N HOST PORT SUBTREE_DN BIND_DN PASSWORD
//   orvelle_bench dir-changes N HOST PORT SUBTREE_DN BIND_DN PASSWORD
//                 (saves of what changed: one field, one rule set of 50 entries added,
//                 then both taken back; the version check and PendingChanges)
//   orvelle_bench files N DIR RUNS
//   orvelle_bench fill N RUNS
//   orvelle_bench memory N HOST PORT SUBTREE_DN BIND_DN PASSWORD
//   orvelle_bench startup SETTINGS_FILE      (BENCH_T0_NS: the caller's clock at exec)
//
// dir-load and memory check that the loaded configuration has exactly N entries; every
// command exits with status 1 and a reason on stderr when something did not work.
#include <sys/resource.h>

#include <QApplication>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/mainframe.h"
#include "app/startup.h"
#include "editor/configtree.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorysave.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "store/directory/version.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "store/store.h"
#include "tests/support/shownstore.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "orvelle_bench: %s\n", why.c_str());
  std::exit(1);
}

// Messages are collected, not shown; a run that produced any is a failed run.
class CountingSink : public msg::Sink {
 public:
  msg::Answer Show(const msg::Message& m) override {
    if (first.empty()) first = std::to_string(m.id) + ": " + m.text;
    ++count;
    return msg::Answer::Ok;
  }
  int count = 0;
  std::string first;
};

const char* const kPlaces[] = {"Head Office", "Research",      "Sales",         "Zürich Branch",
                               "Logistics",   "Customer Care", "Göteborg Site", "Finance",
                               "Engineering", "Lyon Campus",   "Legal",         "Support"};

// A configuration of exactly `entries` directory entries (rule sets, rules, forms,
// groups and fields). Each unit is one rule set of six rules that search for each
// other and two forms over it: 19 entries. The rest goes into extra fields.
void Generate(testsupport::KeptConfiguration& c, int entries) {
  int count = 0;
  int unit = 0;
  InputGroup* last = nullptr;
  while (count + 19 <= entries) {
    ++unit;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " %04d", unit);
    const std::string place = std::string(kPlaces[unit % 12]) + suffix;
    auto set = std::make_unique<RuleSet>(place);
    RuleSet* rs = set.get();
    auto addClass = [&](const std::string& name, std::vector<std::string> classes) {
      SearchRule r(rs, name, {}, classes);
      rs->AddRule(&r);
      return rs->FindRule(name);
    };
    SearchRule root(
        rs, "Root", {},
        std::string("ldap://dir" + std::to_string(unit % 7) + ".example.com:389/o=" + place));
    rs->AddRule(&root);
    SearchRule* person = addClass("Person", {"person", "inetOrgPerson"});
    SearchRule* org = addClass("Organisation", {"organization"});
    SearchRule* ou = addClass("Org Unit", {"organizationalUnit"});
    SearchRule* group = addClass("Group", {"groupOfNames"});
    SearchRule* device = addClass("Printer", {"device"});
    group->AddSearchableRule(person);
    ou->AddSearchableRule(person);
    ou->AddSearchableRule(group);
    ou->AddSearchableRule(device);
    org->AddSearchableRule(ou);
    org->AddSearchableRule(person);
    rs->FindRule("Root")->AddSearchableRule(org);
    rs->FindRule("Root")->AddSearchableRule(ou);
    c.ruleSets.push_back(std::move(set));
    count += 7;

    auto target = std::make_unique<InputGroup>("Person details", person);
    target->AddField("Name", "", {"cn", "sn"});
    target->AddField("Mail", "", {"mail"});
    target->AddField("Phone", "", {"telephoneNumber"});
    auto ownedWhere = std::make_unique<InputGroup>("Location", ou);
    InputGroup* where = ownedWhere.get();
    where->AddField("Department", "", {"ou"});
    where->AddField("City", "", {"l"});
    auto people = std::make_unique<SearchForm>("Find people in " + place, rs, std::move(target));
    people->AddInputGroup(std::move(ownedWhere));
    people->toolTip = "Search the people of " + place;
    people->helpString = "Enter a name, a mail address or a phone number.";
    c.searchForms.push_back(std::move(people));
    count += 8;
    last = where;

    auto groups = std::make_unique<InputGroup>("Group details", group);
    groups->AddField("Group name", "", {"cn"});
    groups->AddField("Description", "", {"description"});
    auto groupForm = std::make_unique<SearchForm>("Find groups in " + place, rs, std::move(groups));
    groupForm->toolTip = "Search the groups of " + place;
    c.searchForms.push_back(std::move(groupForm));
    count += 4;
  }
  if (!last && count < entries) Fail("at least 19 entries are needed");
  for (int i = 1; count < entries; ++i, ++count)
    last->AddField("Extra " + std::to_string(i), "", {"description"});
}

int CountEntries(const Configuration& c) {
  int n = 0;
  for (const auto& rs : c.ruleSets) n += 1 + static_cast<int>(rs->rules.size());
  for (const auto& f : c.searchForms) {
    n += 1;
    std::vector<const InputGroup*> groups{f->targetGroup.get()};
    for (const auto& g : f->inputGroups) groups.push_back(g.get());
    for (const InputGroup* g : groups)
      if (g) n += 1 + static_cast<int>(g->fields.size());
  }
  return n;
}

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable table;
  static bool loaded = false;
  if (!loaded) {
    if (!ldapx::LoadOidtable(table, std::string(BENCH_SOURCE_DIR) + "/resources/oidtable32"))
      Fail("cannot read resources/oidtable32");
    loaded = true;
  }
  return table;
}

struct Server {
  std::string host;
  int port = 0;
  std::string subtreeDn, bindDn, password;
};

Server ServerArgs(char** argv) {
  return Server{argv[3], std::atoi(argv[4]), argv[5], argv[6], argv[7]};
}

class FixedPrompt : public directory::CredentialsPrompt {
 public:
  FixedPrompt(std::string dn, std::string pw) : dn_(std::move(dn)), pw_(std::move(pw)) {}
  void Tell(const msg::Problems& problems) override { msg::Show(problems); }
  bool Ask(std::string& dn, std::string& password) override {
    if (asked_++) return false;  // a second question means the bind failed
    dn = dn_;
    password = pw_;
    return true;
  }

 private:
  std::string dn_, pw_;
  int asked_ = 0;
};

// Start-up's directory load (logon without the dialog, then the subtree). BENCH_SECURITY
// and BENCH_CA_FILE stand for the settings "Server Security" and "CA Certificate File".
double LoadFromServer(testsupport::KeptConfiguration& c, const Server& s, int expected) {
  c.session.directory.server.address = s.host;
  c.session.directory.server.port = s.port;
  if (const char* security = std::getenv("BENCH_SECURITY"))
    c.session.directory.server.security = security;
  if (const char* caFile = std::getenv("BENCH_CA_FILE"))
    c.session.directory.server.caCertificateFile = caFile;
  c.session.directory.subtreeDn = s.subtreeDn;
  CountingSink sink;
  msg::ScopedSink scoped(&sink);
  FixedPrompt prompt(s.bindDn, s.password);
  const auto t0 = Clock::now();
  const auto result = directory::LoadFromDirectory(c.session.directory, c, Table(), prompt);
  const auto t1 = Clock::now();
  if (result != directory::LoadResult::Loaded) Fail("directory load did not log on");
  if (sink.count) Fail("directory load warned: " + sink.first);
  if (CountEntries(c) != expected)
    Fail("directory load gave " + std::to_string(CountEntries(c)) + " entries, not " +
         std::to_string(expected));
  return Ms(t0, t1);
}

int DirCommand(const std::string& cmd, int n, const Server& s) {
  if (cmd == "dir-load") {
    testsupport::KeptConfiguration c;
    std::printf("dir_load_ms %.3f\n", LoadFromServer(c, s, n));
    return 0;
  }
  testsupport::KeptConfiguration c;
  Generate(c, n);
  CountingSink sink;
  msg::ScopedSink scoped(&sink);
  const std::string url = "ldap://" + s.host + ":" + std::to_string(s.port) + "/" + s.subtreeDn;
  c.session.directory = testsupport::LogonAs(s.bindDn, s.password);
  if (!testsupport::Shown(directory::ConnectConfiguration(c.session.directory, url)))
    Fail("cannot connect: " + sink.first);
  c.session.directory.subtreeDn = s.subtreeDn;
  // The time of each stage of a save, for the phase figures: the reads before the first
  // write, the staging adds, the two renames; then the old copy's removal, which the
  // editor runs while the user goes on and orvelle-config before it ends.
  std::vector<std::pair<directory::SaveStage, Clock::time_point>> stages;
  directory::SaveOptions options;
  directory::OldCopy old;
  options.onStage = [&](directory::SaveStage s) { stages.emplace_back(s, Clock::now()); };
  options.leaveOldCopy = &old;
  if (const char* txn = std::getenv("BENCH_TRANSACTIONS")) options.useTransactions = *txn == '1';
  const auto t0 = Clock::now();
  const bool ok = cmd == "dir-seed"
                      ? testsupport::Shown(directory::SaveWithRootEntry(c.session.directory, c))
                      : testsupport::Shown(
                            directory::SaveConfiguration(c.session.directory, c, nullptr, options));
  const auto t1 = Clock::now();
  const bool removed = testsupport::Shown(directory::RemoveOldCopy(old));
  const auto t2 = Clock::now();
  if (!ok || !removed || sink.count) Fail("directory save failed: " + sink.first);
  std::printf("dir_save_ms %.3f dir_wait_ms %.3f", Ms(t0, t2), Ms(t0, t1));
  auto at = [&](directory::SaveStage s) {
    for (const auto& [stage, t] : stages)
      if (stage == s) return t;
    return t1;
  };
  if (cmd == "dir-save")
    std::printf(" read_ms %.3f staging_ms %.3f renames_ms %.3f delete_ms %.3f",
                Ms(t0, at(directory::SaveStage::Checked)),
                Ms(at(directory::SaveStage::Checked), at(directory::SaveStage::Staged)),
                Ms(at(directory::SaveStage::Staged), at(directory::SaveStage::Swapped)),
                Ms(t1, t2));
  std::printf("\n");
  return 0;
}

// The entries a save wrote: those whose stored version changed, added or removed.
long Written(const directory::DirectoryState& before, const directory::DirectoryState& after) {
  std::map<std::string, std::string> was;
  for (const auto& e : before.entries) was[directory::DnKey(e.dn)] = e.stamp;
  long written = 0;
  for (const auto& e : after.entries) {
    const auto it = was.find(directory::DnKey(e.dn));
    if (it == was.end() || it->second != e.stamp) ++written;
    if (it != was.end()) was.erase(it);
  }
  return written + static_cast<long>(was.size());
}

int ChangesCommand(int n, const Server& s) {
  testsupport::KeptConfiguration c;
  const double load = LoadFromServer(c, s, n);
  store::Session session;
  session.startupMode = StartupMode::kDirectory;
  session.directory = c.session.directory;
  ldapx::Connection& conn = *session.directory.connection;
  CountingSink sink;
  msg::ScopedSink scoped(&sink);

  auto t0 = Clock::now();
  directory::DirectoryState state = directory::ReadDirectoryState(conn, s.subtreeDn);
  const double check = Ms(t0, Clock::now());
  if (state.code != ldapx::kSuccess) Fail("version not read");

  // Saves `c` as it is now; the time and the entries written.
  const auto save = [&](double& ms, long& written) {
    const directory::DirectoryState before = directory::ReadDirectoryState(conn, s.subtreeDn);
    const auto a = Clock::now();
    if (!testsupport::Shown(store::Save(session, c))) Fail("save of changes failed: " + sink.first);
    ms = Ms(a, Clock::now());
    written = Written(before, directory::ReadDirectoryState(conn, s.subtreeDn));
  };

  InputField& field = *c.searchForms.front()->targetGroup->fields.front();
  const std::vector<std::string> filters = field.filterAttributes;
  field.filterAttributes.push_back("uid");
  t0 = Clock::now();
  const auto pending = store::PendingChanges(session, c);
  const double pendingMs = Ms(t0, Clock::now());
  if (!pending || pending->changed != 1) Fail("PendingChanges did not count one change");
  double fieldMs = 0, setMs = 0, backMs = 0;
  long fieldWrites = 0, setWrites = 0, backWrites = 0;
  save(fieldMs, fieldWrites);

  auto set = std::make_unique<RuleSet>("Bench Fifty");
  for (int i = 0; i < 49; ++i)
    set->AddRule(std::make_unique<SearchRule>(set.get(), "Rule " + std::to_string(i),
                                              std::vector<SearchRule*>{},
                                              std::vector<std::string>{"person"}));
  RuleSet* added = c.AddRuleSet(std::move(set));
  save(setMs, setWrites);

  field.filterAttributes = filters;
  c.DetachRuleSet(added);
  save(backMs, backWrites);
  if (sink.count) Fail("changes: " + sink.first);
  std::printf(
      "load_ms %.3f check_ms %.3f pending_ms %.3f field_ms %.3f field_writes %ld set_ms %.3f "
      "set_writes %ld back_ms %.3f back_writes %ld\n",
      load, check, pendingMs, fieldMs, fieldWrites, setMs, setWrites, backMs, backWrites);
  return 0;
}

int FilesCommand(int n, const std::string& dir, int runs) {
  testsupport::KeptConfiguration c;
  Generate(c, n);
  c.session.configurationDirectory = dir;
  CountingSink sink;
  msg::ScopedSink scoped(&sink);
  std::vector<double> saves, loads;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    if (!SaveToFiles(c, c.session.configurationDirectory)) Fail("local save failed: " + sink.first);
    const auto t1 = Clock::now();
    testsupport::KeptConfiguration back;
    back.session.configurationDirectory = dir;
    if (!LoadFromFiles(back, back.session.configurationDirectory, Table()))
      Fail("local load failed");
    const auto t2 = Clock::now();
    if (CountEntries(back) != n) Fail("local load gave a different configuration");
    saves.push_back(Ms(t0, t1));
    loads.push_back(Ms(t1, t2));
  }
  if (sink.count) Fail("local files: " + sink.first);
  std::printf("files_save_ms %.3f files_load_ms %.3f\n", Median(saves), Median(loads));
  return 0;
}

int FillCommand(int argc, char** argv, int n, int runs) {
  QApplication qapp(argc, argv);
  testsupport::KeptConfiguration c;
  Generate(c, n);
  std::vector<double> fills;
  for (int i = 0; i < runs; ++i) {
    CConfigTree tree(c, Table());
    const auto t0 = Clock::now();
    tree.Fill();
    fills.push_back(Ms(t0, Clock::now()));
  }
  std::printf("fill_ms %.3f\n", Median(fills));
  return 0;
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int MemoryCommand(int argc, char** argv, int n, const Server& s) {
  QApplication qapp(argc, argv);
  const long before = PeakKb();
  testsupport::KeptConfiguration c;
  LoadFromServer(c, s, n);
  CConfigTree tree(c, Table());
  tree.Fill();
  tree.show();
  QApplication::processEvents();
  std::printf("peak_kb %ld qt_base_kb %ld\n", PeakKb(), before);
  return 0;
}

// From the caller's clock at exec (BENCH_T0_NS, CLOCK_REALTIME) to the main window
// shown and filled, through the program's own start-up.
int StartupCommand(int argc, char** argv, const std::string& settingsFile) {
  const char* t0env = std::getenv("BENCH_T0_NS");
  if (!t0env) Fail("BENCH_T0_NS is not set");
  const long long t0 = std::atoll(t0env);
  setenv("ORVELLE_SETTINGS", settingsFile.c_str(), 1);
  QApplication qapp(argc, argv);
  CountingSink sink;
  msg::ScopedSink scoped(&sink);
  ApplicationObject app;
  bool shown = false;
  app.runEditor = [&](ApplicationObject& a) {
    CMainFrame frame(a.configuration, a.session, a.oidtable, [](Configuration&) { return true; });
    frame.show();
    frame.repaint();
    frame.tree()->Fill();
    while (!frame.windowHandle() || !frame.windowHandle()->isExposed())
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    QApplication::processEvents();
    shown = frame.isVisible();
    return 0;
  };
  app.runWizard = [](ApplicationObject&) { return 3; };
  if (RunStartup(app, {}) != 0 || !shown) Fail("start-up did not open the editor: " + sink.first);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const long long t1 = now.tv_sec * 1000000000LL + now.tv_nsec;
  std::printf("startup_ms %.3f\n", (t1 - t0) / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Fail("usage: see the head of bench/orvelle_bench.cpp");
  const std::string cmd = argv[1];
  if (cmd == "startup") return StartupCommand(argc, argv, argv[2]);
  const int n = std::atoi(argv[2]);
  if (n <= 0) Fail("bad entry count");
  if (cmd == "count") {
    testsupport::KeptConfiguration c;
    Generate(c, n);
    std::printf("entries %d rulesets %zu forms %zu\n", CountEntries(c), c.ruleSets.size(),
                c.searchForms.size());
    return 0;
  }
  if (cmd == "ldif" && argc == 5) {
    testsupport::KeptConfiguration c;
    Generate(c, n);
    c.session.directory.subtreeDn = argv[3];
    std::string text;
    if (!testsupport::Shown(directory::ConfigurationLdif(c, c.session.directory.subtreeDn, text)))
      Fail("configuration does not pass its checks");
    std::ofstream(argv[4], std::ios::binary) << text;
    return 0;
  }
  if ((cmd == "dir-seed" || cmd == "dir-load" || cmd == "dir-save") && argc == 8)
    return DirCommand(cmd, n, ServerArgs(argv));
  if (cmd == "memory" && argc == 8) return MemoryCommand(argc, argv, n, ServerArgs(argv));
  if (cmd == "dir-changes" && argc == 8) return ChangesCommand(n, ServerArgs(argv));
  if (cmd == "files" && argc == 5) return FilesCommand(n, argv[3], std::atoi(argv[4]));
  if (cmd == "fill" && argc == 4) return FillCommand(argc, argv, n, std::atoi(argv[3]));
  Fail("unknown command or wrong arguments: " + cmd);
}
