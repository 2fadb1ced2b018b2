#include "tools/config/configtool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <thread>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/serversettings.h"
#include "platform/support/datafiles.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorystore.h"
#include "store/directory/readonlycopy.h"
#include "store/directory/version.h"
#include "store/files/folderio.h"
#include "store/files/folderversion.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "store/store.h"

namespace configtool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: orvelle-config [OPTIONS] check SOURCE\n"
    "       orvelle-config [OPTIONS] copy SOURCE TARGET\n"
    "       orvelle-config [OPTIONS] ldif SOURCE\n"
    "       orvelle-config [OPTIONS] oidtable URL\n"
    "       orvelle-config [OPTIONS] version SOURCE\n"
    "\n"
    "  check SOURCE         load the configuration of SOURCE as orvelle32setup does at\n"
    "                       start-up and run the check of every record\n"
    "  copy SOURCE TARGET   load SOURCE and save it to TARGET as File Save does\n"
    "                       (with --if-version TOKEN only while TARGET is at that version)\n"
    "  ldif SOURCE          print, as LDIF, the entries a save to the directory adds\n"
    "  oidtable URL         print the attribute table (the installed one, or --oidtable)\n"
    "                       with the attribute types and object classes of the server's\n"
    "                       schema that it lacks added, in the table's file syntax\n"
    "  version SOURCE       print the version of the configuration SOURCE holds: one word\n"
    "                       that changes with every write of it\n"
    "\n"
    "SOURCE and TARGET are configuration folders (the \"RuleSet=*\" files) or LDAP URLs\n"
    "whose DN is the configuration root entry, for example\n"
    "  ldap://dirhost:389/cn=Orvelle%20Configuration,o=Sample\n"
    "The host of a URL may be a list of servers that hold the same configuration,\n"
    "separated by commas, each with its own port or the URL's default, tried in order:\n"
    "  ldap://ldap1.example.org,ldap2.example.org:1389/cn=Orvelle%20Configuration,o=Sample\n"
    "Copying to a URL that holds a configuration writes only the differences (records\n"
    "matched by name; --whole replaces it as a whole); the root entry is written\n"
    "first when the directory does not hold it yet. An ldaps:// URL (port 636\n"
    "when it names none) is encrypted from the first byte; the server's certificate is\n"
    "always checked, also against the host name of the URL.\n"
    "\n"
    "Options (before or after the operands):\n"
    "  --oidtable FILE      attribute-type and object-class table to check names\n"
    "                       against (default: the installed \"oidtable32\")\n"
    "  --bind-dn DN         DN to log on to the directory with (default: anonymous)\n"
    "  --password-file FILE the password for --bind-dn: the first line of FILE\n"
    "                       (passwords are never taken from the command line)\n"
    "  --root-dn DN         for ldif of a folder: the DN of the configuration root entry\n"
    "  --starttls           encrypt ldap:// connections with StartTLS before the logon\n"
    "                       (refused when the server does not offer it)\n"
    "  --ca-file FILE       trust the certificate authorities of FILE (PEM) for the\n"
    "                       server's certificate (default: the system's store)\n"
    "  --allow-warnings     pass, copy or print although the load dropped records\n"
    "                       with warnings (by default such a load fails check, copy\n"
    "                       and ldif before anything is written)\n"
    "  --if-version TOKEN   for copy: write nothing, and exit with status 3, unless\n"
    "                       TARGET is still at version TOKEN (what version printed)\n"
    "  --whole              for copy to a URL: replace the configuration as a whole\n"
    "                       instead of writing only the differences\n"
    "  --wait-replicas URL  for copy to a directory: return only once the replica URL\n"
    "                       (the same configuration on another server; may be given\n"
    "                       again) serves the version just saved\n"
    "  --wait-limit SECONDS how long --wait-replicas waits in all (default 60); a replica\n"
    "                       still behind then fails the copy (status 1), which stays saved\n"
    "  --follow-referrals   for copy: when TARGET's server holds a read-only copy, save\n"
    "                       on the server it names instead (logged on the same way, never\n"
    "                       less encrypted); without it such a copy fails, naming that\n"
    "                       server, and nothing is written\n"
    "  --help               show this text\n"
    "\n"
    "Exit status: 0 success, 1 failure (also a load with warnings; check: a failed\n"
    "record check), 2 usage error (also a --root-dn that is not a DN), 3 copy: TARGET\n"
    "is no longer at the version --if-version names (nothing was written).\n";

bool IsUrl(const std::string& operand) { return operand.find("://") != std::string::npos; }

bool IsLdapUrl(const std::string& operand) {
  return operand.rfind("ldap://", 0) == 0 || operand.rfind("ldaps://", 0) == 0;
}

// Whether a bind with a password to `url` would cross the network in clear.
bool PlainTextToRemote(const std::string& url, const ldapx::TlsOptions& tls) {
  if (url.rfind("ldap://", 0) != 0 || tls.security != ldapx::Security::None) return false;
  const auto desc = directory::ParseConfigurationUrl(url);
  if (!desc) return false;
  const auto hosts = ldapx::ParseHostList(desc->host, desc->port);
  if (!hosts) return false;
  for (const ldapx::HostPort& hp : *hosts) {
    const std::string& host = hp.host;
    if (!(host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1")) return true;
  }
  return false;
}

// Passes every message on to the sink that was current and counts the warnings among
// them: a load that warned has dropped what it warned about.
class WarningCounter : public msg::Sink {
 public:
  WarningCounter() : next_(msg::CurrentSink()), scoped_(this) {}
  msg::Answer Show(const msg::Message& message) override {
    if (message.icon == msg::Icon::Warning) ++warnings;
    return next_.Show(message);
  }
  int warnings = 0;

 private:
  msg::Sink& next_;
  msg::ScopedSink scoped_;
};

}  // namespace

int LoadSource(const std::string& source, Configuration& configuration, kvaro::Oidtable& table,
               const Credentials& credentials, store::Session* loadedFrom) {
  configuration.oidtable = &table;
  store::Session session;
  if (IsLdapUrl(source)) {
    session.startupMode = StartupMode::kDirectory;
    session.directory = credentials;
    const msg::Result loaded = directory::LoadConfigurationFromUrl(session.directory, configuration,
                                                                   table, source, {}, &table);
    msg::Show(loaded);
    if (!loaded) return 0;
    if (loadedFrom) *loadedFrom = std::move(session);
    return 1;
  }
  if (IsUrl(source)) {
    msg::Show(62106, {source}, msg::Buttons::Ok, msg::Icon::Error);
    return 0;
  }
  std::error_code ec;
  if (!fs::is_directory(source, ec)) {
    msg::Show(62107, {source}, msg::Buttons::Ok, msg::Icon::Error);
    return 0;
  }
  session.configurationDirectory = source;
  msg::Problems problems;
  const int loaded = store::Load(session, configuration, table, {}, &problems);
  msg::Show(problems);
  if (loaded > 0) {
    if (loadedFrom) *loadedFrom = std::move(session);
    return 1;
  }
  if (loaded < 0) return 0;  // the load named the file it could not read
  msg::Show(62104, {source}, msg::Buttons::Ok, msg::Icon::Error);
  return 0;
}

namespace {

// A save refused by a read-only copy goes, with followReferrals, to the server the copy
// names: logged on there as on the copy (never with weaker security), and saved there
// when `check` (may be empty) passes over the new connection. Otherwise the refusal
// stands. One step only: a server that refers further is not followed.
msg::Result SaveOnProvider(directory::Session& session, const Configuration& configuration,
                           msg::Result saved, bool followReferrals,
                           const std::function<msg::Result()>& check = {}) {
  const auto provider = directory::ReadOnlyCopyReferral(saved);
  if (!provider || !followReferrals) return saved;
  saved.problems.pop_back();
  msg::Show(saved);  // what the refused save said before its refusal
  const ldapx::Timeouts timeouts =
      session.connection ? session.connection->timeouts() : ldapx::Timeouts{};
  if (msg::Result connected = directory::ConnectToProvider(session, *provider, timeouts);
      !connected)
    return connected;
  if (check)
    if (msg::Result checked = check(); !checked) return checked;
  return directory::SaveWithRootEntry(session, configuration);
}

// Loads what the target `session` is connected to holds, matched to the records of
// `configuration` by name, as the state a save of changes goes on from: the save then
// writes the differences (or the whole, where it must). The target's own warnings do not
// matter; what it cannot load is replaced.
void HoldToTarget(directory::Session& session, const Configuration& configuration) {
  Configuration held;
  held.oidtable = configuration.oidtable;
  msg::Problems ignored;
  if (configuration.oidtable &&
      directory::LoadSession(session, held, *configuration.oidtable, ignored) &&
      session.loaded.known)
    session.loaded = directory::RebaseState(session.loaded, held, configuration);
  else
    session.loaded = {};
}

// The version of the directory configuration `session` saved to, read over its
// connection; empty when it cannot be read.
std::string SavedVersion(const directory::Session& session) {
  if (!session.connection) return {};
  const directory::DirectoryState state =
      directory::ReadDirectoryState(*session.connection, session.subtreeDn);
  return state.code == ldapx::kSuccess && state.kind != 0 ? directory::DirectoryToken(state)
                                                          : std::string();
}

}  // namespace

bool WaitForReplicas(const std::vector<std::string>& replicas, const std::string& version,
                     const Credentials& credentials, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (const std::string& url : replicas) {
    directory::Session replica = credentials;
    std::string serves;
    while (true) {
      if (!replica.connection) {
        msg::RecordingSink quiet;  // a replica that is not up yet is asked again
        msg::ScopedSink scoped(&quiet);
        directory::ConnectConfiguration(replica, url, ldapx::Timeouts{2, 5});
      }
      if (replica.connection) {
        const directory::DirectoryState state =
            directory::ReadDirectoryState(*replica.connection, replica.subtreeDn);
        if (state.code == ldapx::kSuccess && state.kind != 0) {
          serves = directory::DirectoryToken(state);
          if (serves == version) break;
        } else {
          replica.connection.reset();
        }
      }
      if (std::chrono::steady_clock::now() >= until) {
        if (serves.empty())
          msg::Show(msg::id::kReplicaUnreachable, {url, std::to_string(seconds)}, msg::Buttons::Ok,
                    msg::Icon::Error);
        else
          msg::Show(msg::id::kReplicaBehind, {url, std::to_string(seconds), serves, version},
                    msg::Buttons::Ok, msg::Icon::Error);
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  return true;
}

bool SaveTarget(const std::string& target, Configuration& configuration,
                const Credentials& credentials, bool whole, bool followReferrals,
                std::string* savedVersion) {
  store::Session session;
  if (IsLdapUrl(target)) {
    session.startupMode = StartupMode::kDirectory;
    session.directory = credentials;
    msg::Result saved;
    if (whole) {
      saved = SaveOnProvider(
          session.directory, configuration,
          directory::SaveConfigurationToUrl(session.directory, configuration, target),
          followReferrals);
    } else {
      const msg::Result connected = directory::ConnectConfiguration(session.directory, target);
      msg::Show(connected);
      if (!connected) return false;
      HoldToTarget(session.directory, configuration);
      saved = SaveOnProvider(session.directory, configuration, store::Save(session, configuration),
                             followReferrals);
    }
    msg::Show(saved);
    if (saved && savedVersion) *savedVersion = SavedVersion(session.directory);
    return bool(saved);
  }
  if (IsUrl(target)) {
    msg::Show(62106, {target}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  std::error_code ec;
  fs::create_directories(target, ec);
  session.configurationDirectory = target;
  const msg::Result saved = store::Save(session, configuration);
  msg::Show(saved);
  return bool(saved);
}

namespace {

// The lines that name what changed in a folder since `token`.
std::string FolderChangeLines(const std::string& token, const localfiles::FolderState& now) {
  std::vector<std::string> lines;
  size_t removed = 0;
  if (const auto changes = localfiles::FolderChangesSince(token, now)) {
    for (const localfiles::FileChange& change : *changes) {
      const std::string name =
          change.name.substr(std::min(change.name.size(), localfiles::kPrefix.size()));
      switch (change.kind) {
        case localfiles::FileChange::Kind::Added:
          lines.push_back(msg::Text(msg::id::kRuleSetAdded, {name}));
          break;
        case localfiles::FileChange::Kind::Changed:
          lines.push_back(msg::Text(msg::id::kRuleSetChanged, {name}));
          break;
        case localfiles::FileChange::Kind::Removed:
          ++removed;
          break;
      }
    }
  }
  if (removed) lines.push_back(msg::Text(msg::id::kFilesRemoved, {std::to_string(removed)}));
  if (lines.empty()) lines.push_back(msg::Text(msg::id::kConfigurationChanged));
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// Reads the state of the configuration folder `folder`; false after the message.
bool ReadFolder(const std::string& folder, localfiles::FolderState& state) {
  std::error_code ec;
  if (fs::exists(folder, ec) && !fs::is_directory(folder, ec)) {
    msg::Show(62107, {folder}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  const msg::Outcome read = localfiles::ReadFolderState(folder, state);
  msg::Show(read);
  return bool(read);
}

// Reads the state of the directory configuration `session` is connected to; false after
// the message.
bool ReadDirectory(const directory::Session& session, const std::string& url,
                   directory::DirectoryState& state) {
  state = directory::ReadDirectoryState(*session.connection, session.subtreeDn);
  if (state.code != ldapx::kSuccess) {
    msg::Show(msg::id::kVersionUnreadable, {session.subtreeDn, ldapx::ErrorText(state.code)},
              msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  if (state.kind == 0) {
    msg::Show(msg::id::kNoVersionAttributes, {url}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  return true;
}

void ShowNotAtVersion(const std::string& target, const std::string& version,
                      const std::string& lines) {
  msg::ShowPrepared(msg::id::kNotAtVersion,
                    {msg::Displayable(target), msg::Displayable(version), lines}, msg::Buttons::Ok,
                    msg::Icon::Error);
}

}  // namespace

bool ReadVersion(const std::string& source, const Credentials& credentials, std::string& token) {
  if (IsLdapUrl(source)) {
    directory::Session server = credentials;
    const msg::Result connected = directory::ConnectConfiguration(server, source);
    msg::Show(connected);
    if (!connected) return false;
    directory::DirectoryState state;
    if (!ReadDirectory(server, source, state)) return false;
    token = directory::DirectoryToken(state);
    return true;
  }
  if (IsUrl(source)) {
    msg::Show(62106, {source}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  localfiles::FolderState state;
  if (!ReadFolder(source, state)) return false;
  token = localfiles::FolderToken(state);
  return true;
}

SaveResult SaveTargetAtVersion(const std::string& target, Configuration& configuration,
                               const Credentials& credentials, const std::string& version,
                               bool followReferrals, std::string* savedVersion) {
  if (IsLdapUrl(target)) {
    // The version is read over the connection the save then uses, after the load of what
    // the target holds and just before the save: the same version then means the load
    // read that version, and the save of the differences checks it.
    store::Session stored;
    stored.startupMode = StartupMode::kDirectory;
    stored.directory = credentials;
    directory::Session& session = stored.directory;
    const msg::Result connected = directory::ConnectConfiguration(session, target);
    msg::Show(connected);
    if (!connected) return SaveResult::Failed;
    bool notAtVersion = false;
    // False when the configuration is not at `version` (shown) or its version could not
    // be read.
    auto atVersion = [&]() -> bool {
      directory::DirectoryState state;
      if (!ReadDirectory(session, target, state)) return false;
      if (directory::DirectoryToken(state) == version) return true;
      std::string lines;
      const auto changes = directory::DirectoryChangesSince(version, state);
      if (changes)
        for (const std::string& line :
             directory::DescribeChanges(*session.connection, session.subtreeDn, *changes))
          lines += (lines.empty() ? "" : "\n") + line;
      if (lines.empty()) lines = msg::Text(msg::id::kConfigurationChanged);
      ShowNotAtVersion(target, version, lines);
      notAtVersion = true;
      return false;
    };
    HoldToTarget(session, configuration);
    if (!atVersion()) return notAtVersion ? SaveResult::NotAtVersion : SaveResult::Failed;
    // Where the copy refers the save on, the version is read there again first.
    const msg::Result saved =
        SaveOnProvider(session, configuration, store::Save(stored, configuration), followReferrals,
                       [&] { return msg::Result(atVersion()); });
    msg::Show(saved);
    // Someone else wrote what the save would write after the version was read.
    if (!saved && !saved.problems.empty() &&
        saved.problems.front().id == msg::id::kChangedSinceLoad)
      notAtVersion = true;
    if (notAtVersion) return SaveResult::NotAtVersion;
    if (saved && savedVersion) *savedVersion = SavedVersion(session);
    return saved ? SaveResult::Saved : SaveResult::Failed;
  }
  if (IsUrl(target)) {
    msg::Show(62106, {target}, msg::Buttons::Ok, msg::Icon::Error);
    return SaveResult::Failed;
  }
  localfiles::FolderState state;
  if (!ReadFolder(target, state)) return SaveResult::Failed;
  if (localfiles::FolderToken(state) != version) {
    ShowNotAtVersion(target, version, FolderChangeLines(version, state));
    return SaveResult::NotAtVersion;
  }
  std::error_code ec;
  fs::create_directories(target, ec);
  // The state just read is what the save holds the folder to: a file written since is
  // named by the save's refusal, and nothing is written.
  const msg::Outcome saved = SaveToFiles(configuration, target, &state);
  msg::Show(saved);
  if (saved) return SaveResult::Saved;
  return saved.Ids() == std::vector<int>{msg::id::kChangedSinceLoad} ? SaveResult::NotAtVersion
                                                                     : SaveResult::Failed;
}

int CheckAll(const Configuration& configuration) {
  int failed = 0;
  // Every failed check is shown, in the order of the records.
  auto count = [&failed](const msg::Outcome& checked) {
    msg::Show(checked);
    failed += checked ? 0 : 1;
  };
  for (const auto& ruleSet : configuration.ruleSets) {
    count(ruleSet->Check());
    for (const auto& rule : ruleSet->rules) count(rule->Check());
  }
  for (const auto& form : configuration.searchForms) {
    count(form->Check());
    std::vector<const InputGroup*> groups;
    if (form->targetGroup) groups.push_back(form->targetGroup.get());
    for (const auto& group : form->inputGroups) groups.push_back(group.get());
    for (const InputGroup* group : groups) {
      count(group->Check());
      for (const auto& field : group->fields) count(field->Check());
    }
  }
  return failed;
}

DescriptorOutput::DescriptorOutput(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

DescriptorOutput::~DescriptorOutput() { Drain(); }

bool DescriptorOutput::Drain() {
  const char* next = pbase();
  while (error_ == 0 && next < pptr()) {
    const ssize_t written = ::write(fd_, next, size_t(pptr() - next));
    if (written > 0) {
      next += written;
    } else if (written < 0 && errno != EINTR) {
      error_ = errno;
    } else if (written == 0) {
      error_ = EIO;  // nothing taken and no reason given: retrying would never end
    }
  }
  setp(buffer_, buffer_ + sizeof buffer_);
  return error_ == 0;
}

DescriptorOutput::int_type DescriptorOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int DescriptorOutput::sync() {
  if (Drain()) return 0;
  errno = error_;
  return -1;
}

namespace {

// What the command line asks for.
struct Options {
  std::vector<std::string> operands;
  std::string oidtablePath;
  std::string passwordFile;
  std::string rootDn;
  bool rootDnGiven = false;
  bool allowWarnings = false;
  bool followReferrals = false;
  std::vector<std::string> waitReplicas;
  int waitSeconds = 60;
  std::string ifVersion;
  bool ifVersionGiven = false;
  bool whole = false;
  Credentials credentials;
};

// Arguments are bytes, not text: each byte goes into the parser as the character of the
// same number, so that names in any encoding come back unchanged.
QString Latin1(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string Bytes(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), size_t(bytes.size()));
}

// Parses `arguments` into `options`. -1 to go on; else the exit status, after the usage
// (--help) or the complaint about the first argument in error.
int ParseArguments(const std::vector<std::string>& arguments, Options& options, std::ostream& out,
                   std::ostream& err) {
  const QCommandLineOption help(QStringList{"h", "help"});
  const QCommandLineOption allowWarnings("allow-warnings");
  const QCommandLineOption starttls("starttls");
  const QCommandLineOption followReferrals("follow-referrals");
  const QCommandLineOption waitReplicas("wait-replicas", {}, "URL");
  const QCommandLineOption waitLimit("wait-limit", {}, "SECONDS");
  const QCommandLineOption oidtable("oidtable", {}, "FILE");
  const QCommandLineOption bindDn("bind-dn", {}, "DN");
  const QCommandLineOption passwordFile("password-file", {}, "FILE");
  const QCommandLineOption rootDn("root-dn", {}, "DN");
  const QCommandLineOption caFile("ca-file", {}, "FILE");
  const QCommandLineOption ifVersion("if-version", {}, "TOKEN");
  const QCommandLineOption whole("whole");
  QCommandLineParser parser;
  parser.addOptions({help, allowWarnings, starttls, followReferrals, waitReplicas, waitLimit,
                     oidtable, bindDn, passwordFile, rootDn, caFile, ifVersion, whole});
  QStringList list{QStringLiteral("orvelle-config")};
  for (const std::string& a : arguments) list << Latin1(a);
  const bool parsed = parser.parse(list);

  // The parser reports every problem at once; the tool names the first argument in
  // error, and --help counts when it comes before that one.
  const std::vector<QCommandLineOption> valued = {oidtable, bindDn,    passwordFile, rootDn,
                                                  caFile,   ifVersion, waitLimit,    waitReplicas};
  auto takesValue = [&](const QString& name) {
    for (const QCommandLineOption& o : valued)
      if (o.names().contains(name)) return true;
    return false;
  };
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == "--") break;
    if (a.size() < 2 || a[0] != '-') continue;
    if (a[1] == '-') {
      const std::string name = a.substr(2, a.find('=') - 2);
      const bool hasValue = a.find('=') != std::string::npos;
      if (name == "help" && !hasValue) {
        out << kUsage;
        return 0;
      }
      if (takesValue(Latin1(name))) {
        if (hasValue) continue;
        if (i + 1 >= arguments.size()) {
          err << "orvelle-config: " << a << " needs a value\n" << kUsage;
          return 2;
        }
        ++i;  // the value, whatever it looks like
        continue;
      }
      // A switch given a value is no option the tool knows either.
      if ((name != "allow-warnings" && name != "starttls" && name != "whole" &&
           name != "follow-referrals") ||
          hasValue) {
        err << "orvelle-config: unknown option '" << msg::Displayable(a) << "'\n" << kUsage;
        return 2;
      }
      continue;
    }
    if (a == "-h") {
      out << kUsage;
      return 0;
    }
    err << "orvelle-config: unknown option '" << msg::Displayable(a) << "'\n" << kUsage;
    return 2;
  }
  if (!parsed) {  // every argument in error is caught above
    err << "orvelle-config: " << msg::Displayable(Bytes(parser.errorText())) << "\n" << kUsage;
    return 2;
  }

  for (const QString& operand : parser.positionalArguments())
    options.operands.push_back(Bytes(operand));
  options.allowWarnings = parser.isSet(allowWarnings);
  options.followReferrals = parser.isSet(followReferrals);
  for (const QString& url : parser.values(waitReplicas)) options.waitReplicas.push_back(Bytes(url));
  if (parser.isSet(waitLimit)) {
    bool number = false;
    options.waitSeconds = parser.value(waitLimit).toInt(&number);
    if (!number || options.waitSeconds < 1) {
      err << "orvelle-config: --wait-limit takes a number of seconds (at least 1)\n" << kUsage;
      return 2;
    }
  }
  if (parser.isSet(starttls))
    options.credentials.server.security = ldapx::SecurityName(ldapx::Security::StartTls);
  options.oidtablePath = Bytes(parser.value(oidtable));
  options.credentials.server.bindDn = Bytes(parser.value(bindDn));
  options.passwordFile = Bytes(parser.value(passwordFile));
  options.rootDnGiven = parser.isSet(rootDn);
  options.rootDn = Bytes(parser.value(rootDn));
  options.credentials.server.caCertificateFile = Bytes(parser.value(caFile));
  options.ifVersionGiven = parser.isSet(ifVersion);
  options.ifVersion = Bytes(parser.value(ifVersion));
  options.whole = parser.isSet(whole);
  return -1;
}

// The tool without the final check of `out` (see Run).
int RunCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  Options options;
  if (const int status = ParseArguments(arguments, options, out, err); status >= 0) return status;
  const std::vector<std::string>& operands = options.operands;
  const std::string& oidtablePath = options.oidtablePath;
  const std::string& passwordFile = options.passwordFile;
  const std::string& rootDn = options.rootDn;
  const bool rootDnGiven = options.rootDnGiven;
  const bool allowWarnings = options.allowWarnings;
  Credentials& credentials = options.credentials;
  if (operands.empty()) {
    err << "orvelle-config: no command given\n" << kUsage;
    return 2;
  }
  const std::string& command = operands[0];
  const size_t needed =
      command == "check" || command == "ldif" || command == "oidtable" || command == "version" ? 2
      : command == "copy"                                                                      ? 3
                                                                                               : 0;
  if (needed == 0) {
    err << "orvelle-config: unknown command '" << msg::Displayable(command) << "'\n" << kUsage;
    return 2;
  }
  if (operands.size() != needed) {
    err << "orvelle-config: '" << msg::Displayable(command) << "' takes " << needed - 1
        << (needed == 2 ? " operand" : " operands") << "\n"
        << kUsage;
    return 2;
  }
  if (options.ifVersionGiven && command != "copy") {
    err << "orvelle-config: --if-version goes with copy only\n" << kUsage;
    return 2;
  }
  if (options.whole && command != "copy") {
    err << "orvelle-config: --whole goes with copy only\n" << kUsage;
    return 2;
  }
  if (options.followReferrals && command != "copy") {
    err << "orvelle-config: --follow-referrals goes with copy only\n" << kUsage;
    return 2;
  }
  if (!options.waitReplicas.empty() && (command != "copy" || !IsLdapUrl(operands[2]))) {
    err << "orvelle-config: --wait-replicas goes with copy to an LDAP URL only\n" << kUsage;
    return 2;
  }

  // A DN without a password would be an unauthenticated bind, which servers either refuse
  // with a puzzling message or accept with anonymous rights only; a password without a DN
  // would be silently ignored.
  if (credentials.server.bindDn.empty() != passwordFile.empty()) {
    err << "orvelle-config: --bind-dn DN and --password-file FILE go together (neither: an "
           "anonymous logon)\n";
    return 2;
  }
  if (!passwordFile.empty()) {
    std::ifstream in(passwordFile, std::ios::binary);
    if (!in) {
      err << "orvelle-config: cannot read the password file '" << msg::Displayable(passwordFile)
          << "'\n";
      return 1;
    }
    std::getline(in, credentials.password);
    if (!credentials.password.empty() && credentials.password.back() == '\r')
      credentials.password.pop_back();
    if (credentials.password.empty()) {
      err << "orvelle-config: the password file '" << msg::Displayable(passwordFile)
          << "' is empty; its first line must hold the password\n";
      return 1;
    }
    struct stat st {};
    if (::stat(passwordFile.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0)
      err << "orvelle-config: " << msg::Text(62210, {passwordFile}) << "\n";
    for (size_t i = 1; i < operands.size(); ++i) {
      if (IsLdapUrl(operands[i]) && PlainTextToRemote(operands[i], credentials.server.Tls()))
        err << "orvelle-config: " << msg::Text(62209, {operands[i]}) << "\n";
    }
  }
  if (command == "ldif" && !IsUrl(operands[1]) && !rootDnGiven) {
    err << "orvelle-config: ldif of a folder needs --root-dn DN (the configuration root "
           "entry, e.g. \"cn=Orvelle Configuration, o=Sample\")\n";
    return 2;
  }
  // The root entry's DN goes into every DN of the output; an empty or malformed one would
  // give LDIF that no server takes.
  if (rootDnGiven) {
    const auto normal = ldapx::NormalizeDn(rootDn);
    if (!normal || normal->empty()) {
      err << "orvelle-config: --root-dn '" << msg::Displayable(rootDn)
          << "' is not a DN (e.g. \"cn=Orvelle Configuration, o=Sample\")\n";
      return 2;
    }
  }

  if (command == "version") {
    std::string token;
    if (!ReadVersion(operands[1], credentials, token)) return 1;
    out << token << "\n";
    return 0;
  }

  // The table is looked up as start-up does; unlike start-up the tool stops when it is
  // missing, because every name would then be dropped and the result be misleading.
  kvaro::Oidtable table;
  const std::string tableFile =
      oidtablePath.empty() ? kvaro::FindDataFile("oidtable32") : oidtablePath;
  if (!ldapx::LoadOidtable(table, tableFile) || table.AttributeTypeCount() == 0) {
    msg::Show(62105, {tableFile}, msg::Buttons::Ok, msg::Icon::Error);
    return 1;
  }

  if (command == "oidtable") {
    if (!IsLdapUrl(operands[1])) {
      msg::Show(62106, {operands[1]}, msg::Buttons::Ok, msg::Icon::Error);
      return 1;
    }
    directory::Session server = credentials;
    const msg::Result connected = directory::ConnectConfiguration(server, operands[1]);
    msg::Show(connected);
    if (!connected) return 1;
    std::vector<std::string> added;
    if (directory::MergeServerSchema(table, *server.connection, &added) < 0) {
      err << "orvelle-config: cannot read the schema of " << msg::Displayable(operands[1]) << ": "
          << ldapx::ErrorText(ldapx::ReadSubschema(*server.connection).code) << "\n";
      return 1;
    }
    std::ifstream installed(tableFile, std::ios::binary);
    out << installed.rdbuf();
    out << "\n# From the schema of " << msg::Displayable(operands[1]) << ": " << added.size()
        << " definitions the table above lacks.\n";
    for (const std::string& line : added) out << line << "\n";
    return 0;
  }

  Configuration configuration;
  store::Session source;
  int warnings = 0;
  {
    WarningCounter counter;
    if (!LoadSource(operands[1], configuration, table, credentials, &source)) return 1;
    warnings = counter.warnings;
  }

  size_t rules = 0, groups = 0, fields = 0;
  for (const auto& ruleSet : configuration.ruleSets) rules += ruleSet->rules.size();
  for (const auto& form : configuration.searchForms) {
    const size_t n = form->inputGroups.size() + (form->targetGroup ? 1 : 0);
    groups += n;
    if (form->targetGroup) fields += form->targetGroup->fields.size();
    for (const auto& group : form->inputGroups) fields += group->fields.size();
  }
  const std::string summary =
      std::to_string(configuration.ruleSets.size()) + " rule sets, " + std::to_string(rules) +
      " rules, " + std::to_string(configuration.searchForms.size()) + " search forms, " +
      std::to_string(groups) + " input groups, " + std::to_string(fields) + " input fields";

  if (command == "check") {
    const int failed = CheckAll(configuration);
    out << msg::Displayable(operands[1]) << ": " << summary << "; ";
    if (warnings > 0)
      out << warnings << (warnings == 1 ? " load warning" : " load warnings") << " (records dropped"
          << (allowWarnings ? ", allowed" : "") << "); ";
    if (failed == 0) {
      out << "every check passed.\n";
      return warnings > 0 && !allowWarnings ? 1 : 0;
    }
    out << failed << (failed == 1 ? " check failed.\n" : " checks failed.\n");
    return 1;
  }

  // A copy or LDIF of what the load read would lose what it dropped, and a script that
  // goes on (removing the source, say) would lose it for good.
  if (warnings > 0 && !allowWarnings) {
    msg::Show(62260, {operands[1], command}, msg::Buttons::Ok, msg::Icon::Error);
    return 1;
  }

  if (command == "ldif") {
    std::string ldif;
    const msg::Outcome written = directory::ConfigurationLdif(
        configuration, rootDnGiven ? rootDn : source.directory.subtreeDn, ldif);
    msg::Show(written);
    if (!written) return 1;
    out << ldif;
    return 0;
  }

  // A configuration needs a rule set and a form (a folder without them is refused when
  // loaded); copying an empty one would replace the target's with nothing.
  if (configuration.ruleSets.empty() || configuration.searchForms.empty()) {
    msg::Show(62258, {operands[1], operands[2]}, msg::Buttons::Ok, msg::Icon::Error);
    return 1;
  }
  std::string savedVersion;
  if (options.ifVersionGiven) {
    const SaveResult saved =
        SaveTargetAtVersion(operands[2], configuration, credentials, options.ifVersion,
                            options.followReferrals, &savedVersion);
    if (saved == SaveResult::NotAtVersion) return 3;
    if (saved == SaveResult::Failed) return 1;
  } else if (!SaveTarget(operands[2], configuration, credentials, options.whole,
                         options.followReferrals, &savedVersion)) {
    return 1;
  }
  if (!options.waitReplicas.empty() &&
      !WaitForReplicas(options.waitReplicas, savedVersion, credentials, options.waitSeconds))
    return 1;
  out << "Copied " << msg::Displayable(operands[1]) << " to " << msg::Displayable(operands[2])
      << ": " << summary << ".\n";
  return 0;
}

}  // namespace

int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const int code = RunCommand(arguments, out, err);
  // What a script keeps of the output (an LDIF backup, the table) is only whole when every
  // write reached its file: a full disk or a closed pipe is a failure, not a short success.
  // A write that failed earlier has left the stream bad; the flush asks the buffer again,
  // and one that keeps its failure (DescriptorOutput) sets errno to the reason.
  bool failed = !out.good();
  out.clear();
  errno = 0;
  out.flush();
  const int error = errno;
  failed = failed || !out.good();
  if (!failed) return code;
  err << "orvelle-config: cannot write the output: "
      << (error != 0 ? std::strerror(error) : "write error") << "\n";
  return code == 0 ? 1 : code;
}

}  // namespace configtool
