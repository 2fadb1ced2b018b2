// Two administrators working on one configuration folder: each save writes only what its
// administrator changed, and refuses (writing nothing) where the other got there first.
#include <sys/stat.h>

#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/files/folderversion.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"

namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable table;
  if (table.AttributeTypeCount() == 0)
    ldapx::LoadOidtable(table, std::string(ORVELLE_SOURCE_DIR) + "/resources/oidtable32");
  return table;
}

// Adds rule set `name` (two rules) with one form "F<name>" whose tool tip is `tip`.
void AddSet(Configuration& c, const std::string& name, const std::string& tip) {
  c.ruleSets.push_back(std::make_unique<RuleSet>(name));
  RuleSet* rs = c.ruleSets.back().get();
  const SearchRule person(rs, "Person", {}, Strings{"person"});
  rs->AddRule(&person);
  const SearchRule root(rs, "Root", {}, std::string("ldap://h:389/o=x"));
  rs->AddRule(&root);
  rs->FindRule("Root")->AddSearchableRule(rs->FindRule("Person"));
  auto target = std::make_unique<InputGroup>("Who", rs->FindRule("Person"));
  target->AddField("Name", "", {"cn"});
  c.searchForms.push_back(std::make_unique<SearchForm>("F" + name, rs, std::move(target)));
  c.searchForms.back()->toolTip = tip;
}

SearchForm* FormOf(Configuration& c, const std::string& set) {
  for (auto& form : c.searchForms)
    if (form->ruleSet->name == set) return form.get();
  return nullptr;
}

// One administrator's change: what it does to the loaded configuration, and whether a
// configuration shows it.
struct Change {
  std::function<void(Configuration&)> apply;
  std::function<bool(Configuration&)> shows;
};

Change Edit(const std::string& set, const std::string& tip) {
  return {[=](Configuration& c) { FormOf(c, set)->toolTip = tip; },
          [=](Configuration& c) { return FormOf(c, set) && FormOf(c, set)->toolTip == tip; }};
}

Change Add(const std::string& set, const std::string& tip) {
  return {[=](Configuration& c) { AddSet(c, set, tip); },
          [=](Configuration& c) { return FormOf(c, set) && FormOf(c, set)->toolTip == tip; }};
}

Change Remove(const std::string& set) {
  return {[=](Configuration& c) {
            std::erase_if(c.searchForms, [&](const auto& f) { return f->ruleSet->name == set; });
            std::erase_if(c.ruleSets, [&](const auto& r) { return r->name == set; });
          },
          [=](Configuration& c) { return !FormOf(c, set); }};
}

// A load of `folder` as an administrator makes it, with the state the save hands back.
struct Session {
  Configuration configuration;
  localfiles::FolderState loaded;
};

std::unique_ptr<Session> Open(const std::string& folder) {
  auto s = std::make_unique<Session>();
  msg::Problems problems;
  if (LoadFromFiles(s->configuration, folder, Table(), &problems, &s->loaded) != 1) return nullptr;
  return s;
}

// Each file's content and modification time.
std::map<std::string, std::pair<std::string, timespec>> Snapshot(const std::string& folder) {
  std::map<std::string, std::pair<std::string, timespec>> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    struct stat st {};
    ::stat(e.path().c_str(), &st);
    std::ifstream in(e.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    files[e.path().filename().string()] = {text, st.st_mtim};
  }
  return files;
}

bool SameSnapshot(const std::map<std::string, std::pair<std::string, timespec>>& a,
                  const std::map<std::string, std::pair<std::string, timespec>>& b) {
  if (a.size() != b.size()) return false;
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
    if (i->first != j->first || i->second.first != j->second.first ||
        i->second.second.tv_sec != j->second.second.tv_sec ||
        i->second.second.tv_nsec != j->second.second.tv_nsec)
      return false;
  return true;
}

}  // namespace

class TestFolderVersion : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string folder_;

  // A folder holding rule sets S0, S1 and S2, every form's tool tip "base".
  void Seed(bool renames) {
    qputenv("ORVELLE_SAVE_NO_EXCHANGE", renames ? "1" : "0");
    folder_ = dir_.filePath(QString("cfg%1").arg(renames)).toStdString();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    Configuration c;
    for (const char* name : {"S0", "S1", "S2"}) AddSet(c, name, "base");
    QVERIFY(bool(SaveToFiles(c, folder_)));
  }

 private slots:
  void cleanup() { qunsetenv("ORVELLE_SAVE_NO_EXCHANGE"); }

  void twoAdministrators_data() {
    QTest::addColumn<int>("firstChange");
    QTest::addColumn<int>("secondChange");
    QTest::addColumn<QString>("refusal");  // what the second save's refusal names; empty: saved
    QTest::addColumn<bool>("renames");
    // Changes by index into the list in twoAdministrators().
    struct Row {
      const char* name;
      int first, second;
      const char* refusal;
    };
    const Row rows[] = {
        {"disjoint edits", 0, 1, ""},
        {"same set edited", 0, 2, "rule set 'S0' was changed"},
        {"same edit twice", 0, 0, ""},
        {"add beside an edit", 3, 1, ""},
        {"edit beside an add", 1, 3, ""},
        {"remove beside an edit", 5, 1, ""},
        {"edit of a removed set", 6, 1, "rule set 'S1' was removed"},
        {"removal of an edited set", 1, 6, "rule set 'S1' was changed"},
        {"same name added twice", 3, 4, "rule set 'New' was added"},
    };
    for (bool renames : {false, true})
      for (const Row& row : rows)
        QTest::addRow("%s%s", row.name, renames ? ", file by file" : "")
            << row.first << row.second << QString(row.refusal) << renames;
  }

  // Both load the same folder; the first saves, then the second. Nothing either saved
  // is lost: a second save that would undo the first's work is refused whole.
  void twoAdministrators() {
    QFETCH(int, firstChange);
    QFETCH(int, secondChange);
    QFETCH(QString, refusal);
    QFETCH(bool, renames);
    const std::vector<Change> changes = {Edit("S0", "A"), Edit("S1", "B"), Edit("S0", "B"),
                                         Add("New", "A"), Add("New", "B"), Remove("S2"),
                                         Remove("S1")};
    Seed(renames);
    auto first = Open(folder_);
    auto second = Open(folder_);
    QVERIFY(first && second);
    changes[firstChange].apply(first->configuration);
    changes[secondChange].apply(second->configuration);

    QVERIFY(bool(SaveToFiles(first->configuration, folder_, &first->loaded)));
    const auto afterFirst = Snapshot(folder_);
    const msg::Outcome saved = SaveToFiles(second->configuration, folder_, &second->loaded);
    QCOMPARE(bool(saved), refusal.isEmpty());
    if (!saved) {
      QCOMPARE(saved.Ids(), std::vector<int>{msg::id::kChangedSinceLoad});
      QVERIFY2(saved.problems[0].args[1].find(refusal.toStdString()) != std::string::npos,
               saved.problems[0].args[1].c_str());
      QVERIFY(SameSnapshot(afterFirst, Snapshot(folder_)));  // nothing written
    }

    auto now = Open(folder_);
    QVERIFY(now);
    QVERIFY(changes[firstChange].shows(now->configuration));
    if (saved) QVERIFY(changes[secondChange].shows(now->configuration));
    // A later save of the second administrator, now in step with its own save, still
    // keeps the first's work.
    if (saved) {
      QVERIFY(bool(SaveToFiles(second->configuration, folder_, &second->loaded)));
      auto again = Open(folder_);
      QVERIFY(changes[firstChange].shows(again->configuration));
    }
  }

  // A save of what was loaded changes nothing on disk: no file rewritten, none added.
  void unchangedSaveTouchesNothing() {
    for (bool renames : {false, true}) {
      Seed(renames);
      const auto before = Snapshot(folder_);
      struct stat folderBefore {};
      ::stat(folder_.c_str(), &folderBefore);
      auto s = Open(folder_);
      QVERIFY(s);
      QVERIFY(bool(SaveToFiles(s->configuration, folder_, &s->loaded)));
      QVERIFY(bool(SaveToFiles(s->configuration, folder_)));  // without the load's state too
      QVERIFY(SameSnapshot(before, Snapshot(folder_)));
      struct stat folderAfter {};
      ::stat(folder_.c_str(), &folderAfter);
      QCOMPARE(folderAfter.st_ino, folderBefore.st_ino);
      // One change writes that one file; the others keep their times.
      FormOf(s->configuration, "S1")->toolTip = "changed";
      QVERIFY(bool(SaveToFiles(s->configuration, folder_, &s->loaded)));
      const auto after = Snapshot(folder_);
      for (const auto& [name, file] : before)
        QCOMPARE(file.second.tv_nsec == after.at(name).second.tv_nsec &&
                     file.first == after.at(name).first,
                 name != "RuleSet=S1");
    }
  }

  // The folder's token stays while nothing changes, changes on any write, and names
  // what changed.
  void token() {
    Seed(false);
    localfiles::FolderState state;
    QVERIFY(bool(localfiles::ReadFolderState(folder_, state)));
    const std::string token = localfiles::FolderToken(state);
    QVERIFY(token.find_first_not_of("0123456789abcdef-f") == std::string::npos);
    localfiles::FolderState again;
    QVERIFY(bool(localfiles::ReadFolderState(folder_, again)));
    QCOMPARE(localfiles::FolderToken(again), token);
    QCOMPARE(localfiles::FolderChangesSince(token, again)->size(), size_t(0));

    {
      std::ofstream(folder_ + "/RuleSet=S0", std::ios::app) << "\n";
      std::ofstream(folder_ + "/RuleSet=Extra") << "RuleSet=Extra\n";
      fs::remove(folder_ + "/RuleSet=S2");
    }
    localfiles::FolderState now;
    QVERIFY(bool(localfiles::ReadFolderState(folder_, now)));
    QVERIFY(localfiles::FolderToken(now) != token);
    using K = localfiles::FileChange::Kind;
    // Added and changed files in name order, then the removed ones.
    const std::vector<localfiles::FileChange> expected = {
        {K::Added, "RuleSet=Extra"}, {K::Changed, "RuleSet=S0"}, {K::Removed, ""}};
    QVERIFY(*localfiles::FolderChangesSince(token, now) == expected);
    QVERIFY(!localfiles::FolderChangesSince("d1-c-1-x-0", now));
  }
};

QTEST_GUILESS_MAIN(TestFolderVersion)
#include "test_folderversion.moc"
