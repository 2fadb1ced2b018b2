// The local store against the real file system: saves stopped by SIGKILL at known and
// random points, two saves at once, special and unreadable files, read-only and full
// file systems. Saves run in child processes so they can be killed.
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/files/templatefile.h"
#include "tests/support/shownstore.h"
#include "tests/support/testfiles.h"

namespace fs = std::filesystem;

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

using Strings = std::vector<std::string>;

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable table;
  if (table.AttributeTypeCount() == 0)
    ldapx::LoadOidtable(table, std::string(ORVELLE_SOURCE_DIR) + "/resources/oidtable32");
  return table;
}

using testsupport::LoadShown;
using testsupport::SaveShown;

std::string SetName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "S%04d", i);
  return name;
}

// `sets` rule sets S0000..., each with two rules and one form whose tool tip is `tag`.
void Build(testsupport::KeptConfiguration& c, int sets, const std::string& tag) {
  for (int i = 0; i < sets; ++i) {
    c.ruleSets.push_back(std::make_unique<RuleSet>(SetName(i)));
    RuleSet* rs = c.ruleSets.back().get();
    const SearchRule person(rs, "Person", {}, Strings{"person"});
    rs->AddRule(&person);
    const SearchRule root(rs, "Root", {}, std::string("ldap://h:389/o=x"));
    rs->AddRule(&root);
    rs->FindRule("Root")->AddSearchableRule(rs->FindRule("Person"));
    auto target = std::make_unique<InputGroup>("Who", rs->FindRule("Person"));
    target->AddField("Name", "", {"cn"});
    c.searchForms.push_back(std::make_unique<SearchForm>("F" + SetName(i), rs, std::move(target)));
    c.searchForms.back()->toolTip = tag;
  }
}

// What a load of `folder` gives: "tag:count" when every rule set's form carries the same
// tag and the sets are S0000 to S<count-1>; otherwise a description of the mix.
std::string Version(const std::string& folder) {
  testsupport::KeptConfiguration c;
  c.session.configurationDirectory = folder;
  msg::RecordingSink sink;
  msg::ScopedSink scoped(&sink);
  const int loaded = LoadShown(c, Table());
  if (loaded == 0) return "no configuration";
  if (loaded != 1)
    return "load failed: " + (sink.messages.empty() ? std::string() : sink.messages[0].text);
  std::map<std::string, int> tags;
  for (const auto& f : c.searchForms) ++tags[f->toolTip];
  for (size_t i = 0; i < c.ruleSets.size(); ++i)
    if (c.ruleSets[i]->name != SetName(int(i))) return "set " + c.ruleSets[i]->name;
  if (tags.size() != 1 || size_t(tags.begin()->second) != c.ruleSets.size())
    return "mixed: " + std::to_string(tags.size()) + " tags";
  return tags.begin()->first + ":" + std::to_string(c.ruleSets.size());
}

// Names in `folder` and its parent that a save uses for its temporary entries.
Strings Leftovers(const fs::path& folder) {
  Strings found;
  for (const fs::path& dir : {folder, folder.parent_path()})
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().find(".orvelle-") != std::string::npos)
        found.push_back(e.path().string());
  return found;
}

// Unmounts every mount below `root`, also one a failed save moved elsewhere.
void UnmountBelow(const std::string& root) {
  std::ifstream mounts("/proc/self/mounts");
  std::vector<std::string> points;
  std::string device, point, rest;
  while (mounts >> device >> point && std::getline(mounts, rest))
    if (point.rfind(root, 0) == 0) points.push_back(point);
  for (auto it = points.rbegin(); it != points.rend(); ++it) ::umount2(it->c_str(), MNT_DETACH);
}

// Runs `body` in a child process and returns its wait status.
template <typename Body>
int InChild(Body body, const char* killAt = nullptr) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (killAt) ::setenv("ORVELLE_SAVE_KILL_AT", killAt, 1);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

bool SaveVersion(const std::string& folder, int sets, const std::string& tag) {
  testsupport::KeptConfiguration c;
  Build(c, sets, tag);
  c.session.configurationDirectory = folder;
  msg::RecordingSink sink;
  msg::ScopedSink scoped(&sink);
  return bool(SaveShown(c));
}

// Drops root in a child: the file modes then count as they do for a user.
void BecomeNobody() {
  ::setgroups(0, nullptr);
  if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
}

const char* const kGoodFile =
    "RuleSet: Good\nClass: P : person\nForm: F\nFormFieldGroup : G : P\nFormField: N : cn\n";

}  // namespace

class TestLocalStore : public QObject {
  Q_OBJECT
 private slots:
  // A save of 100 rule sets over one of 120, killed after N steps (each file written,
  // each file carried over, the flush, the exchange): the folder reads as the old
  // configuration or the new one, whole; the next save removes what the killed one left.
  void aKilledSaveLeavesOldOrNewWhole_data() {
    QTest::addColumn<QString>("killAt");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first file") << "1"
                                << "old:120";
    QTest::newRow("middle") << "50"
                            << "old:120";
    QTest::newRow("last file") << "100"
                               << "old:120";
    QTest::newRow("while carrying over") << "102"
                                         << "old:120";
    QTest::newRow("flushed, before the exchange") << "104"
                                                  << "old:120";
    QTest::newRow("after the exchange") << "105"
                                        << "new:100";
    QTest::newRow("not killed") << "0"
                                << "new:100";
  }
  void aKilledSaveLeavesOldOrNewWhole() {
    QFETCH(QString, killAt);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 120, "old"));
    // Files that are not ours: carried over by every save.
    WriteFile(folder / "notes.txt", "mine");
    fs::create_directories(folder / "sub" / "deeper");
    WriteFile(folder / "sub" / "deeper" / "file", "deep");
    fs::create_symlink("notes.txt", folder / "link");
    ::chmod(folder.c_str(), 0751);
    const bool root = ::geteuid() == 0;
    if (root) QCOMPARE(::chown(folder.c_str(), 65534, 65534), 0);

    const std::string step = killAt.toStdString();
    const int status = InChild([&] { return SaveVersion(folder.string(), 100, "new"); },
                               step == "0" ? nullptr : step.c_str());
    if (step != "0") {
      QVERIFY(WIFSIGNALED(status));
      QCOMPARE(WTERMSIG(status), SIGKILL);
    } else {
      QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    QCOMPARE(QString::fromStdString(Version(folder.string())), expected);

    // The next save completes and leaves nothing temporary behind.
    QVERIFY(SaveVersion(folder.string(), 80, "next"));
    QCOMPARE(Version(folder.string()), std::string("next:80"));
    QCOMPARE(Leftovers(folder), Strings{});
    QVERIFY(!fs::exists(folder / "RuleSet=S0100"));  // removed rule sets stay removed
    QCOMPARE(ReadFile(folder / "notes.txt"), std::string("mine"));
    QCOMPARE(ReadFile(folder / "sub" / "deeper" / "file"), std::string("deep"));
    QCOMPARE(fs::read_symlink(folder / "link"), fs::path("notes.txt"));
    struct stat st {};
    QCOMPARE(::stat(folder.c_str(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0751);
    if (root) QCOMPARE(int(st.st_uid), 65534);
  }

  // Saves killed at random moments, over and over: never a mix.
  void savesKilledAtRandomMomentsNeverMix() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 400, "a"));
    std::mt19937 random(12345);
    for (int round = 0; round < 6; ++round) {
      std::fflush(nullptr);
      const pid_t pid = ::fork();
      if (pid == 0) {
        for (int i = 0;; ++i) SaveVersion(folder.string(), i % 2 ? 400 : 350, i % 2 ? "a" : "b");
      }
      ::usleep(std::uniform_int_distribution<int>(5000, 60000)(random));
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      const std::string version = Version(folder.string());
      QVERIFY2(version == "a:400" || version == "b:350", version.c_str());
    }
  }

  // Loads while another process saves again and again: each load reads one whole
  // configuration, never part of each.
  void loadsDuringSavesReadOneWholeConfiguration() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 150, "a"));
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0;; ++i) SaveVersion(folder.string(), i % 2 ? 150 : 120, i % 2 ? "a" : "b");
    }
    std::map<std::string, int> seen;
    for (int i = 0; i < 40; ++i) ++seen[Version(folder.string())];
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    for (const auto& [version, count] : seen)
      QVERIFY2(version == "a:150" || version == "b:120", version.c_str());
  }

  // Two saves into one folder at the same time: one waits for the other; the result is
  // one of the two, whole.
  void twoSavesAtOnceNeverMix() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    for (int round = 0; round < 3; ++round) {
      std::fflush(nullptr);
      const pid_t a = ::fork();
      if (a == 0) ::_exit(SaveVersion(folder.string(), 120, "a") ? 0 : 1);
      const pid_t b = ::fork();
      if (b == 0) ::_exit(SaveVersion(folder.string(), 80, "b") ? 0 : 1);
      int sa = 0, sb = 0;
      ::waitpid(a, &sa, 0);
      ::waitpid(b, &sb, 0);
      QVERIFY(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
      QVERIFY(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
      const std::string version = Version(folder.string());
      QVERIFY2(version == "a:120" || version == "b:80", version.c_str());
      QCOMPARE(Leftovers(folder), Strings{});
    }
  }

  // While another save holds the lock, a save waits; when the lock is not given up in
  // time, it fails with a message and changes nothing.
  void aSaveWaitsForTheLockThenGivesUp() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 5, "old"));
    const int parent = ::open(dir.path().toStdString().c_str(), O_RDONLY | O_DIRECTORY);
    QCOMPARE(::flock(parent, LOCK_EX), 0);
    auto save = [&] {
      ::setenv("ORVELLE_SAVE_LOCK_WAIT_MS", "300", 1);
      testsupport::KeptConfiguration c;
      Build(c, 4, "new");
      c.session.configurationDirectory = folder.string();
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      const bool saved = bool(SaveShown(c));
      return saved ? 2 : sink.Ids() == std::vector<int>{62168} ? 1 : 0;
    };
    int status = InChild([&] { return save() == 1; });
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(Version(folder.string()), std::string("old:5"));

    // Given up within the wait, the lock lets the waiting save through.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(save() == 2 ? 0 : 1);
    ::usleep(100000);
    ::flock(parent, LOCK_UN);
    ::waitpid(pid, &status, 0);
    ::close(parent);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(Version(folder.string()), std::string("new:4"));
  }

  // Where the folders cannot be exchanged, the files are renamed in one by one: the
  // folder itself stays (same inode), removed rule sets go, other files stay.
  void withoutExchangeTheFilesAreReplacedInPlace() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 30, "old"));
    WriteFile(folder / "notes.txt", "mine");
    WriteFile(folder / ".orvelle-save-0a1b2c3d4e", "from a killed save");
    struct stat before {};
    ::stat(folder.c_str(), &before);
    const int status = InChild([&] {
      ::setenv("ORVELLE_SAVE_NO_EXCHANGE", "1", 1);
      return SaveVersion(folder.string(), 20, "new");
    });
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat after {};
    ::stat(folder.c_str(), &after);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(Version(folder.string()), std::string("new:20"));
    QCOMPARE(ReadFile(folder / "notes.txt"), std::string("mine"));
    QCOMPARE(Leftovers(folder), Strings{});
  }

  // Saving file by file, a failure half-way puts back every file already replaced. The
  // failure is real: one old file is made immutable, so it cannot be replaced.
  void withoutExchangeAFailureHalfWayPutsTheOldFilesBack() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 10, "old"));
    const fs::path stuck = folder / "RuleSet=S0005";
    const int fd = ::open(stuck.c_str(), O_RDONLY);
    int flags = 0;
    const bool locked = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                        ::ioctl(fd, FS_IOC_SETFLAGS, &(flags = flags | FS_IMMUTABLE_FL)) == 0;
    if (!locked) {
      ::close(fd);
      QSKIP("cannot make a file immutable here (needs root on a file system that has it)");
    }
    const int status = InChild([&] {
      ::setenv("ORVELLE_SAVE_NO_EXCHANGE", "1", 1);
      testsupport::KeptConfiguration c;
      Build(c, 12, "new");
      c.session.configurationDirectory = folder.string();
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      return !SaveShown(c) && sink.Ids() == std::vector<int>{62014} &&
             sink.messages[0].text.find(std::strerror(EPERM)) != std::string::npos &&
             sink.messages[0].text.find("RuleSet=S0005") != std::string::npos;
    });
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(Version(folder.string()), std::string("old:10"));
    QCOMPARE(Leftovers(folder), Strings{});
  }

  // A configuration folder reached through a symbolic link is replaced where it is.
  void aLinkedFolderStaysALink() {
    QTemporaryDir dir;
    const fs::path real = fs::path(dir.path().toStdString()) / "real";
    const fs::path link = fs::path(dir.path().toStdString()) / "link";
    fs::create_directory(real);
    fs::create_directory_symlink(real, link);
    QVERIFY(SaveVersion(link.string(), 3, "x"));
    QVERIFY(fs::is_symlink(link));
    QCOMPARE(Version(real.string()), std::string("x:3"));
  }

  // Special files are named in a warning, never opened in a way that blocks, and the
  // rest of the folder loads.
  void specialFilesAreRefusedWithoutBlocking_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
    QTest::newRow("folder") << "folder";
    QTest::newRow("broken link") << "broken";
  }
  void specialFilesAreRefusedWithoutBlocking() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=Good", kGoodFile);
    const fs::path special = folder / "RuleSet=Special";
    if (kind == "fifo") QCOMPARE(::mkfifo(special.c_str(), 0644), 0);
    if (kind == "zero") fs::create_symlink("/dev/zero", special);
    if (kind == "folder") fs::create_directory(special);
    if (kind == "broken") fs::create_symlink(folder / "missing", special);
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    ::alarm(20);  // a blocked read ends the test instead of hanging it
    QCOMPARE(LoadShown(c, Table()), 1);
    ::alarm(0);
    QCOMPARE(sink.Ids(), std::vector<int>{62166});
    QVERIFY(sink.messages[0].text.find(special.string()) != std::string::npos);
    QCOMPARE(c.ruleSets.size(), size_t(1));

    // A save carries the special file over and never writes over it.
    sink.messages.clear();
    QVERIFY(SaveShown(c));
    QVERIFY(fs::exists(fs::symlink_status(special)));
    c.ruleSets[0]->name = "Special";
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids(), std::vector<int>{62166});
  }

  // A "RuleSet=" file the user cannot read fails the load, naming it and the reason.
  // Run as another user: root reads every file whatever its mode.
  void anUnreadableFileFailsTheLoad() {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    ::chmod(folder.c_str(), 0755);
    WriteFile(folder / "RuleSet=Good", kGoodFile);
    WriteFile(folder / "RuleSet=Secret", kGoodFile);
    ::chmod((folder / "RuleSet=Good").c_str(), 0644);
    ::chmod((folder / "RuleSet=Secret").c_str(), 0000);
    if (::geteuid() != 0) QSKIP("needs root to run the load as another user");
    const int status = InChild([&] {
      BecomeNobody();
      testsupport::KeptConfiguration c;
      c.session.configurationDirectory = folder.string();
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      const int loaded = LoadShown(c, Table());
      return loaded == -1 && sink.Ids() == std::vector<int>{62167} &&
             sink.messages[0].text.find("RuleSet=Secret") != std::string::npos &&
             sink.messages[0].text.find(std::strerror(EACCES)) != std::string::npos &&
             c.ruleSets.empty();
    });
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
  }

  // A file that cannot be read fails the load with the system's reason; only one over the
  // size limit speaks of that limit. /proc/self/mem fails every read at offset 0, for
  // root too.
  void aFileThatCannotBeReadFailsTheLoadWithTheReason_data() {
    QTest::addColumn<bool>("huge");
    QTest::addColumn<int>("error");
    QTest::newRow("larger than the limit") << true << EFBIG;
    QTest::newRow("read fails") << false << EIO;
  }
  void aFileThatCannotBeReadFailsTheLoadWithTheReason() {
    QFETCH(bool, huge);
    QFETCH(int, error);
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=Good", kGoodFile);
    if (huge) {
      WriteFile(folder / "RuleSet=Bad", kGoodFile);
      fs::resize_file(folder / "RuleSet=Bad", kMaxRuleSetFileSize + 1);  // sparse
    } else {
      fs::create_symlink("/proc/self/mem", folder / "RuleSet=Bad");
    }
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QCOMPARE(LoadShown(c, Table()), -1);
    QCOMPARE(sink.Ids(), std::vector<int>{62167});
    const std::string& text = sink.messages[0].text;
    QVERIFY2(text.find("RuleSet=Bad") != std::string::npos, text.c_str());
    QVERIFY2(text.find(std::strerror(error)) != std::string::npos, text.c_str());
    QCOMPARE(text.find("64 MB") != std::string::npos, huge);
  }

  void aByteOrderMarkIsIgnored() {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    WriteFile(folder / "RuleSet=A", std::string("\xEF\xBB\xBF") + kGoodFile);
    WriteFile(folder / "RuleSet=B",
              "\xEF\xBB\xBFRuleSet: Other\nClass: Q : person\nForm: G\n"
              "FormFieldGroup : H : Q\nFormField: M : sn\n");
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    QCOMPARE(LoadShown(c, Table()), 1);
    QCOMPARE(c.ruleSets.size(), size_t(2));
    QCOMPARE(c.ruleSets[1]->name, std::string("Other"));
    QCOMPARE(c.searchForms[1]->ruleSet, c.ruleSets[1].get());
    QCOMPARE(c.ruleSets[1]->rules.size(), size_t(1));
  }

  // A "RuleSet=" file that holds no rule set is named in a warning and not read; a save
  // neither removes it nor writes over it, while it replaces the files that do hold one.
  void filesThatHoldNoRuleSetAreLeftAlone_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("notes") << QByteArray("my notes about the rule sets\n");
    QTest::newRow("typing error in the first line")
        << QByteArray("Ruleset: Zed\nClass: Z : person\nForm: FZ\n");
    QTest::newRow("UTF-16") << QByteArray("\xFF\xFER\0u\0l\0e\0S\0e\0t\0:\0 \0Z\0\n\0", 24);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("rule set line without a name") << QByteArray("RuleSet:\nmy notes\n");
  }
  void filesThatHoldNoRuleSetAreLeftAlone() {
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    const std::string other = text.toStdString();
    WriteFile(folder / "RuleSet=Good", kGoodFile);
    WriteFile(folder / "RuleSet=Removed", "RuleSet: Removed\nClass: P : person\n");
    WriteFile(folder / "RuleSet=Other", other);
    testsupport::KeptConfiguration c;
    c.session.configurationDirectory = folder.string();
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    QCOMPARE(LoadShown(c, Table()), 1);
    QCOMPARE(sink.Ids(), std::vector<int>{62169});
    QVERIFY(sink.messages[0].text.find("RuleSet=Other") != std::string::npos);
    QCOMPARE(c.ruleSets.size(), size_t(2));
    QCOMPARE(c.ruleSets[0]->rules.size(), size_t(1));  // nothing of Other joined Good

    sink.messages.clear();
    c.ruleSets.pop_back();  // Removed
    QVERIFY(SaveShown(c));
    QVERIFY(!fs::exists(folder / "RuleSet=Removed"));
    QCOMPARE(ReadFile(folder / "RuleSet=Other"), other);

    const auto before = testsupport::Snapshot(folder.string());
    c.ruleSets[0]->name = "Other";
    QVERIFY(!SaveShown(c));
    QCOMPARE(sink.Ids(), std::vector<int>{62240});
    QCOMPARE(testsupport::Snapshot(folder.string()), before);
  }

  // Leftovers of stopped saves are removed by the next save; entries that only look like
  // them are someone else's and stay.
  void onlyTheSavesOwnLeftoversAreRemoved() {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "cfg";
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 2, "old"));
    const Strings ours = {folder.parent_path() / ".cfg.orvelle-new-0123456789",
                          folder / ".orvelle-save-abcdefghij",
                          folder / ".orvelle-backup-k0k0k0k0k0"};
    const Strings others = {
        folder.parent_path() / ".cfg.orvelle-new-mybackup", folder / ".orvelle-backup-of-my-stuff",
        folder / ".orvelle-save-ABCDEFGHIJ", folder / ".orvelle-save-abcdefghijk"};
    WriteFile(ours[0] + "/RuleSet=S0000", "old");  // a new folder of a stopped save
    WriteFile(ours[1], "half");
    WriteFile(ours[2], "backup");
    for (const std::string& path : others)
      WriteFile(path + (path == others[0] ? "/data" : ""), "x");
    QVERIFY(SaveVersion(folder.string(), 2, "new"));
    QCOMPARE(Version(folder.string()), std::string("new:2"));
    for (const std::string& path : ours) QVERIFY2(!fs::exists(path), path.c_str());
    for (const std::string& path : others) QVERIFY2(fs::exists(path), path.c_str());
  }

  // A file system mounted inside the folder (a bind mount of a folder elsewhere
  // included) stays mounted where it was, with its files: the save writes into the
  // folder itself instead of replacing the folder.
  void aFileSystemMountedInsideStaysWhole_data() {
    QTest::addColumn<bool>("bind");
    QTest::newRow("tmpfs") << false;
    QTest::newRow("bind mount of a folder elsewhere") << true;
  }
  void aFileSystemMountedInsideStaysWhole() {
    QFETCH(bool, bind);
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString()) / "cfg";
    const fs::path elsewhere = fs::path(dir.path().toStdString()) / "elsewhere";
    fs::create_directory(folder);
    fs::create_directory(elsewhere);
    QVERIFY(SaveVersion(folder.string(), 2, "old"));
    const fs::path mountPoint = folder / "archive";
    fs::create_directory(mountPoint);
    if (::geteuid() != 0 ||
        (bind ? ::mount(elsewhere.c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr)
              : ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k,mode=0755")) != 0)
      QSKIP("mounting is not allowed here (needs root)");
    WriteFile(mountPoint / "kept", "archived");
    const bool saved = SaveVersion(folder.string(), 3, "new");
    struct statx sx {};
    ::statx(AT_FDCWD, mountPoint.c_str(), 0, STATX_BASIC_STATS, &sx);
    const std::string kept = ReadFile(mountPoint / "kept");
    UnmountBelow(dir.path().toStdString());
    QVERIFY(saved);
    QVERIFY((sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0);  // still mounted there
    QCOMPARE(kept, std::string("archived"));
    QCOMPARE(Version(folder.string()), std::string("new:3"));
    QCOMPARE(Leftovers(folder), Strings{});
    if (bind) QCOMPARE(ReadFile(elsewhere / "kept"), std::string("archived"));
  }

  // Failures of the file system are reported with the system's reason, and the folder
  // is left as it was.
  void fileSystemFailuresCarryTheReason_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("error");
    QTest::newRow("read-only folder") << "readonly" << EACCES;
    QTest::newRow("read-only folder of the user, writable parent") << "readonlyown" << EACCES;
    QTest::newRow("a file where the folder should be") << "file" << ENOTDIR;
    QTest::newRow("missing folder") << "missing" << ENOENT;
    QTest::newRow("folder name too long") << "long" << ENAMETOOLONG;
    QTest::newRow("full file system") << "full" << ENOSPC;
    QTest::newRow("read-only file system") << "rofs" << EROFS;
  }
  void fileSystemFailuresCarryTheReason() {
    QFETCH(QString, kind);
    QFETCH(int, error);
    QTemporaryDir dir;
    fs::path folder = fs::path(dir.path().toStdString()) / "configuration";
    ::chmod(dir.path().toStdString().c_str(), 0755);
    fs::create_directory(folder);
    QVERIFY(SaveVersion(folder.string(), 2, "old"));
    bool mounted = false;
    const fs::path mountPoint = fs::path(dir.path().toStdString()) / "small";
    if (kind == "full" || kind == "rofs") {
      fs::create_directory(mountPoint);
      if (::geteuid() != 0 ||
          ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
        QSKIP("mounting a small tmpfs is not allowed here (needs root)");
      mounted = true;
      folder = mountPoint / "configuration";
      fs::create_directory(folder);
      QVERIFY(SaveVersion(folder.string(), 2, "old"));
      if (kind == "rofs")
        QCOMPARE(::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
    }
    if (kind == "readonlyown") {
      QVERIFY(::chown(folder.c_str(), 65534, 65534) == 0);
      ::chmod(folder.c_str(), 0555);
      ::chmod(dir.path().toStdString().c_str(), 0777);
    }
    if (kind == "file") {
      folder = fs::path(dir.path().toStdString()) / "plain";
      WriteFile(folder, "not a folder");
    }
    if (kind == "missing") folder = fs::path(dir.path().toStdString()) / "missing";
    if (kind == "long") folder = fs::path(dir.path().toStdString()) / std::string(300, 'n');
    const std::map<std::string, std::string> before = [&] {
      std::map<std::string, std::string> files;
      if (std::error_code ec; fs::is_directory(folder, ec))
        for (const auto& e : fs::directory_iterator(folder))
          files[e.path().filename().string()] = ReadFile(e.path());
      return files;
    }();

    const int status = InChild([&] {
      if (kind == "readonly" || kind == "readonlyown") BecomeNobody();
      testsupport::KeptConfiguration c;
      Build(c, 2, "new");
      // A tool tip too large for the small file system.
      if (kind == "full") c.searchForms[0]->toolTip = "new" + std::string(200000, 'x') + "y";
      c.session.configurationDirectory = folder.string();
      msg::RecordingSink sink;
      msg::ScopedSink scoped(&sink);
      const bool saved = bool(SaveShown(c));
      if (saved || sink.messages.size() != 1) return false;
      const std::string& text = sink.messages[0].text;
      return text.find(std::strerror(error)) != std::string::npos &&
             text.find(msg::Displayable(folder.string())) != std::string::npos;
    });
    std::map<std::string, std::string> after;
    if (std::error_code ec; fs::is_directory(folder, ec))
      for (const auto& e : fs::directory_iterator(folder))
        after[e.path().filename().string()] = ReadFile(e.path());
    if (mounted) {
      const Strings left = Leftovers(folder);
      ::umount2(mountPoint.c_str(), MNT_DETACH);
      QCOMPARE(left, Strings{});
    }
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(after, before);
  }
};

QTEST_GUILESS_MAIN(TestLocalStore)
#include "test_localstore.moc"
