#include "app/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/atomicfile.h"
#include "platform/support/messages.h"
#include "platform/support/qstringlist.h"
#include "store/store.h"

namespace settings {

namespace fs = std::filesystem;

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

std::optional<std::vector<std::string>> ReadLines(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    // Every carriage return at the end goes: a rewrite ends lines with "\n" alone, and a
    // line that keeps a "\r" would read differently afterwards (a section or not).
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (in.bad()) return std::nullopt;
  return lines;
}

// The key path of a "[...]" section line, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = kvaro::Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  return kvaro::Trim(line.substr(1, line.size() - 2));
}

// A value line: "name"=data. Returns false for anything else.
bool ParseValueLine(std::string_view line, std::string& name, std::string_view& data) {
  line = kvaro::Trim(line);
  if (line.empty() || line.front() != '"') return false;
  name.clear();
  size_t i = 1;
  for (; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    name.push_back(line[i]);
  }
  if (i >= line.size()) return false;
  const std::string_view rest = kvaro::Trim(line.substr(i + 1));
  if (rest.empty() || rest.front() != '=') return false;
  data = kvaro::Trim(rest.substr(1));
  return true;
}

std::optional<std::string> ParseString(std::string_view data) {
  if (data.size() < 2 || data.front() != '"' || data.back() != '"') return std::nullopt;
  std::string out;
  for (size_t i = 1; i + 1 < data.size(); ++i) {
    if (data[i] == '\\' && i + 2 < data.size()) ++i;
    out.push_back(data[i]);
  }
  return out;
}

std::optional<uint32_t> ParseDword(std::string_view data) {
  constexpr std::string_view prefix = "dword:";
  if (data.size() <= prefix.size() || !EqualNoCase(data.substr(0, prefix.size()), prefix))
    return std::nullopt;
  const std::string digits(data.substr(prefix.size()));
  if (digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return std::nullopt;
  return static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

// The data of value `name` in key `path` (the last definition wins, as on import).
std::optional<std::string> FindValue(const std::vector<std::string>& lines, const std::string& path,
                                     const std::string& name) {
  std::optional<std::string> found;
  bool inKey = false;
  std::string valueName;
  std::string_view data;
  for (const std::string& line : lines) {
    if (auto section = SectionOf(line)) {
      inKey = EqualNoCase(*section, path);
      continue;
    }
    if (inKey && ParseValueLine(line, valueName, data) && EqualNoCase(valueName, name))
      found = std::string(data);
  }
  return found;
}

// True when key `path` exists: a section names it or a key below it.
bool KeyExists(const std::vector<std::string>& lines, const std::string& path) {
  for (const std::string& line : lines) {
    auto section = SectionOf(line);
    if (!section) continue;
    if (EqualNoCase(*section, path)) return true;
    if (section->size() > path.size() && (*section)[path.size()] == '\\' &&
        EqualNoCase(section->substr(0, path.size()), path))
      return true;
  }
  return false;
}

}  // namespace

std::string QuoteValue(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string UserBaseDirectory(UserFolder folder, const char* fallback) {
  const bool config = folder == UserFolder::kConfig;
  const QByteArray xdg = qgetenv(config ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME");
  // A relative value has always been taken as it is (Qt releases differ on whether they
  // ignore it), and without a home QStandardPaths answers below "/".
  if (!xdg.isEmpty() && !xdg.startsWith('/')) return xdg.toStdString();
  if (xdg.isEmpty() && qEnvironmentVariableIsEmpty("HOME")) return fallback;
  return QFile::encodeName(
             QStandardPaths::writableLocation(config ? QStandardPaths::GenericConfigLocation
                                                     : QStandardPaths::GenericDataLocation))
      .toStdString();
}

std::string SettingsFilePath() {
  if (const char* path = std::getenv("ORVELLE_SETTINGS"); path && *path) return path;
  return UserBaseDirectory(UserFolder::kConfig, ".config") + "/orvelle/settings.reg";
}

std::vector<std::string> SystemSettingsFilePaths() {
  QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
  // The user's own folder comes first; the rest are the folders of $XDG_CONFIG_DIRS.
  if (!dirs.isEmpty() &&
      dirs.front() == QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
    dirs.removeFirst();
  std::vector<std::string> files;
  for (QString folder : dirs) {
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    // Relative (and empty) entries are invalid by the XDG rules and would depend on the
    // working folder; QStandardPaths passes them on in some Qt releases.
    if (folder.startsWith(u'/'))
      files.push_back(QFile::encodeName(folder).toStdString() + "/orvelle/settings.reg");
  }
  return files;
}

std::string SettingsFileToRead() {
  const std::string own = SettingsFilePath();
  std::error_code ec;
  if (fs::exists(own, ec)) return own;
  for (const std::string& file : SystemSettingsFilePaths()) {
    if (fs::is_regular_file(file, ec)) return file;
  }
  return own;
}

namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir)
    return account->pw_dir;
  return {};
}

// When `value` starts with `word` followed by "/" or nothing, the rest after `word`.
std::optional<std::string> AfterPrefix(const std::string& value, std::string_view word) {
  if (value.compare(0, word.size(), word) != 0) return std::nullopt;
  if (value.size() > word.size() && value[word.size()] != '/') return std::nullopt;
  return value.substr(word.size());
}

}  // namespace

std::string ExpandFolder(const std::string& value) {
  for (std::string_view word : {"~", "$HOME", "${HOME}"}) {
    if (auto rest = AfterPrefix(value, word)) {
      const std::string home = HomeFolder();
      return home.empty() ? value : home + *rest;
    }
  }
  for (std::string_view word : {"$XDG_DATA_HOME", "${XDG_DATA_HOME}"}) {
    if (auto rest = AfterPrefix(value, word)) {
      if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + *rest;
      const std::string home = HomeFolder();
      return home.empty() ? value : home + "/.local/share" + *rest;
    }
  }
  return value;
}

std::unique_ptr<SettingsKey> SettingsKey::Open(const std::string& file, const std::string& path) {
  const auto lines = ReadLines(file);
  if (!lines) return nullptr;
  kvaro::QStringList components;
  components.SetSplitString(path, '\\');
  std::string opened;
  for (const std::string& component : components) {
    if (component.empty()) return nullptr;
    opened += opened.empty() ? component : "\\" + component;
    if (!KeyExists(*lines, opened)) return nullptr;
  }
  return std::make_unique<SettingsKey>(file, opened);
}

std::optional<std::string> SettingsKey::ReadString(const std::string& name) const {
  const auto lines = ReadLines(file_);
  if (!lines) return std::nullopt;
  const auto data = FindValue(*lines, path_, name);
  return data ? ParseString(*data) : std::nullopt;
}

std::optional<uint32_t> SettingsKey::ReadDword(const std::string& name) const {
  const auto lines = ReadLines(file_);
  if (!lines) return std::nullopt;
  const auto data = FindValue(*lines, path_, name);
  return data ? ParseDword(*data) : std::nullopt;
}

bool SettingsKey::WriteString(const std::string& name, const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) return false;
  return WriteLine(name, QuoteValue(name) + "=" + QuoteValue(value));
}

bool SettingsKey::WriteDword(const std::string& name, uint32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
  return WriteLine(name, QuoteValue(name) + "=dword:" + digits);
}

bool SettingsKey::MoveToWriteFile() {
  std::ifstream in(file_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in || in.bad()) return false;
  const fs::path target(writeFile_);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string temp = (folder / ".settings-XXXXXX").string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  const std::string copy = text.str();
  std::string_view rest = copy;
  bool ok = true;
  while (ok && !rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      rest.remove_prefix(static_cast<size_t>(n));
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  // link() rather than rename(): a user file that appeared meanwhile is the user's own
  // and is written to as it is, never replaced by the copy.
  const bool linked = ok && (::link(temp.c_str(), writeFile_.c_str()) == 0 || errno == EEXIST);
  fs::remove(temp, ec);
  if (!linked) return false;
  file_ = writeFile_;
  return true;
}

bool SettingsKey::WriteLine(const std::string& name, const std::string& newLine) {
  if (!writeFile_.empty() && writeFile_ != file_ && !MoveToWriteFile()) return false;
  auto lines = ReadLines(file_);
  if (!lines || !KeyExists(*lines, path_)) return false;
  bool inKey = false;
  bool replaced = false;
  size_t insertAt = std::string::npos;  // after the last line of the key's last section
  std::string valueName;
  std::string_view data;
  for (size_t i = 0; i < lines->size(); ++i) {
    const std::string& line = (*lines)[i];
    if (auto section = SectionOf(line)) {
      inKey = EqualNoCase(*section, path_);
      if (inKey) insertAt = i + 1;
      continue;
    }
    if (!inKey) continue;
    if (ParseValueLine(line, valueName, data) && EqualNoCase(valueName, name)) {
      (*lines)[i] = newLine;
      replaced = true;
    }
    if (!kvaro::Trim(line).empty()) insertAt = i + 1;
  }
  if (!replaced) {
    if (insertAt == std::string::npos) {
      // The key exists only through keys below it: give it a section of its own.
      lines->push_back("");
      lines->push_back("[" + path_ + "]");
      lines->push_back(newLine);
    } else {
      lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
    }
  }
  std::string text;
  for (const std::string& line : *lines) text += line + "\n";
  return kvaro::WriteFileAtomically(file_, text);
}

std::unique_ptr<SettingsKey> OpenSettingsKey(const std::string& keyName) {
  if (keyName.empty()) return nullptr;
  auto key = SettingsKey::Open(SettingsFileToRead(), std::string(kRootKey) + "\\" + keyName);
  if (key) key->SetWriteFile(SettingsFilePath());
  return key;
}

int ReadSettings(store::Session& session, bool* keyMissing) {
  if (keyMissing) *keyMissing = false;
  const auto key = OpenSettingsKey("Startup");
  if (!key) {
    msg::Show(msg::id::kSettingsMissing, {}, msg::Buttons::Ok, msg::Icon::Error);
    if (keyMissing) *keyMissing = true;
    return 0;
  }
  const auto mode = key->ReadString("Startup Mode");
  if (!mode) return 0;
  session.startupMode = *mode == "file" ? StartupMode::kFiles : StartupMode::kDirectory;
  if (session.startupMode == StartupMode::kFiles) {
    const auto folder = key->ReadString("Configuration Directory");
    if (!folder) return 0;
    session.configurationDirectory = ExpandFolder(*folder);
    return 1;
  }
  const auto dn = key->ReadString("Configuration Subtree DN");
  if (!dn) return 0;
  session.directory.subtreeDn = *dn;
  const auto address = key->ReadString("Server Address");
  if (!address) return 0;
  ldapx::ServerSettings& server = session.directory.server;
  server.address = *address;
  const auto port = key->ReadDword("Server Port");
  if (!port || !ldapx::IsValidPort(*port)) return 0;
  server.port = static_cast<int>(*port);
  // Optional: settings written before connections could be encrypted have neither value
  // and keep connecting in plain text.
  server.security = key->ReadString("Server Security").value_or("none");
  server.caCertificateFile = key->ReadString("CA Certificate File").value_or("");
  return 1;
}

ConnectionLimits ReadConnectionLimits() {
  ConnectionLimits limits;
  const auto key = OpenSettingsKey("Startup");
  if (!key) return limits;
  // A day at most: beyond that a wait is a hang by another name.
  static constexpr uint32_t kLongest = 24 * 60 * 60;
  auto lengthen = [&key](const char* name, int& seconds) {
    const auto value = key->ReadDword(name);
    if (value && *value > static_cast<uint32_t>(seconds))
      seconds = static_cast<int>(std::min(*value, kLongest));
  };
  lengthen("Connect Timeout", limits.connectSeconds);
  lengthen("Operation Timeout", limits.operationSeconds);
  return limits;
}

int WriteSetting(SettingsKey* key, const std::string& valueName, int type,
                 std::span<const std::byte> data) {
  bool ok = false;
  if (key && data.data()) {
    if (type == kRegSz) {
      std::string text(data.size(), '\0');
      std::memcpy(text.data(), data.data(), data.size());
      if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
      ok = key->WriteString(valueName, text);
    } else if (type == kRegDword && data.size() == 4) {
      uint32_t value;
      std::memcpy(&value, data.data(), 4);
      ok = key->WriteDword(valueName, value);
    }
  }
  if (ok) return 1;
  msg::Show(61284, {valueName}, msg::Buttons::Ok, msg::Icon::Error);
  return 0;
}

int WriteDirectorySettings(const store::Session& session) {
  auto key = OpenSettingsKey("Startup");
  const ldapx::ServerSettings& server = session.directory.server;
  const std::string& address = server.address;
  if (!WriteSetting(key.get(), "Server Address", kRegSz,
                    std::as_bytes(std::span(address.c_str(), address.size() + 1))))
    return 0;
  const uint32_t port = static_cast<uint32_t>(server.port);
  if (!WriteSetting(key.get(), "Server Port", kRegDword, std::as_bytes(std::span(&port, 1))))
    return 0;
  const std::string& dn = session.directory.subtreeDn;
  if (!WriteSetting(key.get(), "Configuration Subtree DN", kRegSz,
                    std::as_bytes(std::span(dn.c_str(), dn.size() + 1))))
    return 0;
  const std::string& security = server.security;
  if (!WriteSetting(key.get(), "Server Security", kRegSz,
                    std::as_bytes(std::span(security.c_str(), security.size() + 1))))
    return 0;
  // An empty CA file is written too, so that a file named by an earlier set-up is not
  // trusted any longer.
  const std::string& caFile = server.caCertificateFile;
  if (!WriteSetting(key.get(), "CA Certificate File", kRegSz,
                    std::as_bytes(std::span(caFile.c_str(), caFile.size() + 1))))
    return 0;
  return 1;
}

}  // namespace settings
