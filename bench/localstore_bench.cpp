// Times loading and saving a large configuration in local files.
//
//   localstore_bench [RECORDS]     (default 10000)
//   localstore_bench --mutual N    N rules that all search each other (default 100)
//   localstore_bench --wide N      one rule set of N rules and one form of N groups
//
// Builds a configuration of about RECORDS records (rule sets, rules, forms, input
// groups and fields), saves it to a temporary folder, loads it back and saves the
// loaded copy again, then repeats with twice as many records so the growth can be
// read off the figures. The oidtable32 of the source tree supplies the names.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "tests/support/shownstore.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Per rule set: 50 rules, 15 forms of 3 groups with 2 fields each: 201 records.
constexpr int kRulesPerSet = 50;
constexpr int kFormsPerSet = 15;
constexpr int kRecordsPerSet = 1 + kRulesPerSet + kFormsPerSet * (1 + 3 * (1 + 2));

size_t Build(Configuration& c, int records) {
  const int sets = std::max(1, records / kRecordsPerSet);
  const char* classes[] = {"person", "organizationalUnit", "inetOrgPerson", "organization"};
  const char* attributes[] = {"cn", "sn", "mail", "ou", "telephoneNumber", "uid"};
  size_t count = 0;
  for (int s = 0; s < sets; ++s) {
    c.ruleSets.push_back(std::make_unique<RuleSet>("Set " + std::to_string(s)));
    RuleSet* set = c.ruleSets.back().get();
    ++count;
    for (int r = 0; r < kRulesPerSet; ++r) {
      if (r == 0) {
        const SearchRule root(set, "Root", {}, std::string("ldap://dirhost:389/o=Sample"));
        set->AddRule(&root);
      } else {
        std::vector<SearchRule*> searchable;
        // Rule 1 has no searchable rules of its own, so every copy stays small.
        if (r > 1) searchable.push_back(set->rules[1].get());
        const SearchRule rule(set, "Rule " + std::to_string(r), searchable,
                              std::vector<std::string>{classes[r % 4], "top"});
        set->AddRule(&rule);
      }
      ++count;
    }
    for (int f = 0; f < kFormsPerSet; ++f) {
      auto form =
          std::make_unique<SearchForm>("Form " + std::to_string(s) + "." + std::to_string(f), set);
      form->toolTip = "Find entries: set " + std::to_string(s);
      form->helpString = "Type part of a name";
      ++count;
      for (int g = 0; g < 3; ++g) {
        auto group = std::make_unique<InputGroup>(
            "Group " + std::to_string(g),
            set->rules[static_cast<size_t>(1 + (f + g) % (kRulesPerSet - 1))].get());
        for (int i = 0; i < 2; ++i)
          group->AddField("Field " + std::to_string(i), "",
                          {attributes[(g + i) % 6], attributes[(g + i + 1) % 6]});
        count += 3;
        if (g == 0)
          form->SetTargetGroup(std::move(group));
        else
          form->AddInputGroup(std::move(group));
      }
      c.searchForms.push_back(std::move(form));
    }
  }
  return count;
}

bool RunOnce(const kvaro::Oidtable& table, int records) {
  const fs::path base =
      fs::temp_directory_path() / ("localstore_bench." + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "a");
  fs::create_directories(base / "b");

  testsupport::KeptConfiguration original;
  auto t = Clock::now();
  const size_t count = Build(original, records);
  const double build = Millis(t);

  original.session.configurationDirectory = (base / "a").string();
  t = Clock::now();
  if (!SaveToFiles(original, original.session.configurationDirectory)) return false;
  const double save = Millis(t);

  testsupport::KeptConfiguration loaded;
  loaded.session.configurationDirectory = original.session.configurationDirectory;
  t = Clock::now();
  if (!LoadFromFiles(loaded, loaded.session.configurationDirectory, table)) return false;
  const double load = Millis(t);

  loaded.session.configurationDirectory = (base / "b").string();
  t = Clock::now();
  if (!SaveToFiles(loaded, loaded.session.configurationDirectory)) return false;
  const double resave = Millis(t);

  uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(base / "b")) bytes += e.file_size();
  std::printf(
      "%7zu records  %4zu files  %8.1f KiB   build %7.1f ms   save %7.1f ms   "
      "load %7.1f ms   save again %7.1f ms\n",
      count, loaded.ruleSets.size(), static_cast<double>(bytes) / 1024.0, build, save, load,
      resave);
  fs::remove_all(base);
  return loaded.searchForms.size() == original.searchForms.size();
}

// N rules of one set that all search each other (N * N links), with one form: times the
// save and the load and reports the process's peak memory.
bool RunMutual(const kvaro::Oidtable& table, int rules) {
  const fs::path base =
      fs::temp_directory_path() / ("localstore_bench." + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  testsupport::KeptConfiguration original;
  original.ruleSets.push_back(std::make_unique<RuleSet>("Mutual"));
  RuleSet* set = original.ruleSets.back().get();
  for (int r = 0; r < rules; ++r) {
    const SearchRule rule(set, "Rule " + std::to_string(r), {}, std::vector<std::string>{"person"});
    set->AddRule(&rule);
  }
  for (const auto& r : set->rules)
    for (const auto& s : set->rules) r->AddSearchableRule(s.get());
  auto group = std::make_unique<InputGroup>("Who", set->rules[0].get());
  group->AddField("Name", "", {"cn"});
  original.searchForms.push_back(std::make_unique<SearchForm>("Find", set, std::move(group)));
  original.session.configurationDirectory = base.string();
  auto t = Clock::now();
  if (!SaveToFiles(original, original.session.configurationDirectory)) return false;
  const double save = Millis(t);
  testsupport::KeptConfiguration loaded;
  loaded.session.configurationDirectory = base.string();
  t = Clock::now();
  if (LoadFromFiles(loaded, loaded.session.configurationDirectory, table) != 1) return false;
  const double load = Millis(t);
  // Copies of every rule, as adding a rule to a set makes them.
  t = Clock::now();
  RuleSet copy("Copy");
  for (const auto& r : loaded.ruleSets[0]->rules) copy.AddRule(r.get());
  const double copied = Millis(t);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%5d mutual rules  save %7.1f ms   load %7.1f ms   copy %7.1f ms   peak %6.1f MB\n",
              rules, save, load, copied, static_cast<double>(usage.ru_maxrss) / 1024.0);
  fs::remove_all(base);
  return copy.rules.size() == size_t(rules);
}

// One rule set of N rules (each searching the one before) and one form of N groups: the
// shape where look-ups by name in lists cost the square of N.
bool RunWide(const kvaro::Oidtable& table, int rules) {
  const fs::path base =
      fs::temp_directory_path() / ("localstore_bench." + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  testsupport::KeptConfiguration original;
  original.ruleSets.push_back(std::make_unique<RuleSet>("Wide"));
  RuleSet* set = original.ruleSets.back().get();
  auto form = std::make_unique<SearchForm>("Find", set);
  for (int r = 0; r < rules; ++r) {
    const SearchRule rule(set, "Rule " + std::to_string(r), {}, std::vector<std::string>{"person"});
    set->AddRule(&rule);
    if (r) set->rules.back()->AddSearchableRule(set->rules[size_t(r) - 1].get());
    auto group =
        std::make_unique<InputGroup>("Group " + std::to_string(r), set->rules.back().get());
    group->AddField("Name", "", {"cn"});
    if (r == 0)
      form->SetTargetGroup(std::move(group));
    else
      form->inputGroups.push_back(std::move(group));
  }
  original.searchForms.push_back(std::move(form));
  original.session.configurationDirectory = base.string();
  auto t = Clock::now();
  if (!SaveToFiles(original, original.session.configurationDirectory)) return false;
  const double save = Millis(t);
  testsupport::KeptConfiguration loaded;
  loaded.session.configurationDirectory = base.string();
  t = Clock::now();
  if (LoadFromFiles(loaded, loaded.session.configurationDirectory, table) != 1) return false;
  const double load = Millis(t);
  std::printf("%7d rules and %7d groups  save %7.1f ms   load %7.1f ms\n", rules, rules, save,
              load);
  fs::remove_all(base);
  return loaded.searchForms[0]->inputGroups.size() == size_t(rules) - 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc > 1 && std::string(argv[1]) == "--wide") {
    kvaro::Oidtable table;
    if (!ldapx::LoadOidtable(table, std::string(BENCH_SOURCE_DIR) + "/resources/oidtable32"))
      return 1;
    return RunWide(table, argc > 2 ? std::atoi(argv[2]) : 50000) ? 0 : 1;
  }
  if (argc > 1 && std::string(argv[1]) == "--mutual") {
    kvaro::Oidtable table;
    if (!ldapx::LoadOidtable(table, std::string(BENCH_SOURCE_DIR) + "/resources/oidtable32"))
      return 1;
    return RunMutual(table, argc > 2 ? std::atoi(argv[2]) : 100) ? 0 : 1;
  }
  const int records = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (records <= 0) {
    std::fprintf(stderr, "usage: localstore_bench [RECORDS]\n");
    return 2;
  }
  kvaro::Oidtable table;
  if (!ldapx::LoadOidtable(table, std::string(BENCH_SOURCE_DIR) + "/resources/oidtable32")) {
    std::fprintf(stderr, "localstore_bench: cannot read the attribute table\n");
    return 1;
  }
  msg::ConsoleSink console;
  msg::ScopedSink scoped(&console);
  for (int n : {records, 2 * records, 4 * records})
    if (!RunOnce(table, n)) {
      std::fprintf(stderr, "localstore_bench: the round trip failed\n");
      return 1;
    }
  return 0;
}
