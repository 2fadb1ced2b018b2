// The program's settings: the registry key
//   HKEY_LOCAL_MACHINE\Software\Merrowick\Orvelle 3.0\Startup
// kept in a text file in the form regedit exports ("REGEDIT4", "[key path]" sections,
// "name"="text" and "name"=dword:hhhhhhhh lines). The user's own file is
// $ORVELLE_SETTINGS, by default $XDG_CONFIG_HOME/orvelle/settings.reg
// (~/.config/orvelle/settings.reg). When it does not exist, the system-wide defaults
// the package installs are read instead: orvelle/settings.reg in the folders of
// $XDG_CONFIG_DIRS (/etc/xdg/orvelle/settings.reg).
//
// The program reads the key and writes values into it, but never creates the key or
// deletes anything: the installer writes the file. Writes always go to the user's own
// file; when only a system-wide file exists, it is first copied there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace store {
struct Session;
}

namespace settings {

// Value types, with the registry's numbers.
inline constexpr int kRegSz = 1;
inline constexpr int kRegDword = 4;

inline constexpr const char* kRootKey = "HKEY_LOCAL_MACHINE\\Software\\Merrowick\\Orvelle 3.0";

// The user's own settings file: $ORVELLE_SETTINGS, else the default above. Writes go
// here.
std::string SettingsFilePath();

// The user's own folder of the XDG rules for configuration files or for data:
// $XDG_CONFIG_HOME or $XDG_DATA_HOME when set and not empty (a relative one too), else
// ~/.config or ~/.local/share, else, when $HOME is unset or empty, `fallback`.
enum class UserFolder { kConfig, kData };
std::string UserBaseDirectory(UserFolder folder, const char* fallback);

// The system-wide settings files, in search order: orvelle/settings.reg in each
// absolute folder of $XDG_CONFIG_DIRS (colon-separated; /etc/xdg when unset or empty).
std::vector<std::string> SystemSettingsFilePaths();

// The file the settings are read from: the user's own file when it exists, else the
// first system-wide file that exists, else the user's own file (which then fails to
// open).
std::string SettingsFileToRead();

// A "Configuration Directory" value as a folder of the user running the program, so
// that one system-wide default serves every account. A leading "~", "$HOME" or
// "${HOME}" becomes the home folder ($HOME, else the account's home); a leading
// "$XDG_DATA_HOME" or "${XDG_DATA_HOME}" becomes $XDG_DATA_HOME when it is an absolute
// path, else ~/.local/share. Each form must be the whole value or be followed by "/".
// Anything else is returned unchanged.
std::string ExpandFolder(const std::string& value);

// An open key of the settings file. Values are read from the file as it is when they
// are asked for; writes rewrite the file through a temporary file and a rename, so the
// file is never left half-written.
class SettingsKey {
 public:
  SettingsKey(std::string file, std::string path)
      : file_(std::move(file)), path_(std::move(path)) {}

  // Opens the key `path` (components separated by "\") of the settings file `file`,
  // one component at a time; null when the file or any component is missing.
  static std::unique_ptr<SettingsKey> Open(const std::string& file, const std::string& path);

  // The text of string value `name`; nullopt when missing or not a string.
  std::optional<std::string> ReadString(const std::string& name) const;
  // The 32-bit value `name`; nullopt when missing or not a dword.
  std::optional<uint32_t> ReadDword(const std::string& name) const;
  // Sets value `name` in this key (replacing a value of that name, or adding it at the
  // end of the key's section). False when the file cannot be read or rewritten.
  bool WriteString(const std::string& name, const std::string& value);
  bool WriteDword(const std::string& name, uint32_t value);

  const std::string& path() const { return path_; }
  // The file values are read from.
  const std::string& file() const { return file_; }

  // Sends writes to `file` instead of the file the key was opened in. The first write
  // copies the opened file to `file` (its folder created when missing; an existing
  // `file` is never replaced by the copy) and from then on reads and writes `file`.
  void SetWriteFile(std::string file) { writeFile_ = std::move(file); }

 private:
  bool WriteLine(const std::string& name, const std::string& line);
  bool MoveToWriteFile();
  std::string file_;
  std::string path_;
  std::string writeFile_;
};

// Opens `keyName` below HKEY_LOCAL_MACHINE\Software\Merrowick\Orvelle 3.0 in
// SettingsFileToRead(), with writes sent to the user's own file (SetWriteFile); null for
// an empty name or when the key cannot be opened.
std::unique_ptr<SettingsKey> OpenSettingsKey(const std::string& keyName);

// Reads the start-up settings into `session` (startupMode, then by mode either
// configurationDirectory, or the directory's subtreeDn, server address and port, then the
// optional "Server Security" and "CA Certificate File" into the server's security ("none"
// when missing) and caCertificateFile). 1 when every
// needed value was read, 0 when one is missing (values read before it stay set).
// When the key itself cannot be opened, shows message 61280, sets *keyMissing (the
// caller ends the program with exit code 1) and returns 0.
int ReadSettings(store::Session& session, bool* keyMissing = nullptr);

// How long the program waits for the directory server, in seconds: "Connect Timeout"
// (the connect and the bind) and "Operation Timeout" (a search or a save without any
// answer), dwords of the start-up key. A value may lengthen a limit, never shorten it;
// missing values keep the defaults.
struct ConnectionLimits {
  int connectSeconds = 10;
  int operationSeconds = 30;
};
ConnectionLimits ReadConnectionLimits();

// Sets value `valueName` of `key`: `type` kRegSz takes `data` as text (a terminating NUL
// included or not), kRegDword takes exactly 4 bytes. 1 on success; 0 after showing
// message 61284 with the value name.
int WriteSetting(SettingsKey* key, const std::string& valueName, int type,
                 std::span<const std::byte> data);

// What the program records after a set-up that put the configuration into the
// directory: "Server Address", then "Server Port", then "Configuration Subtree DN", then
// "Server Security" and "CA Certificate File"; a failed write stops the sequence. 1 when
// all were written.
int WriteDirectorySettings(const store::Session& session);

// regedit's quoting of a string value: `"` and `\` are escaped with "\".
std::string QuoteValue(const std::string& text);

}  // namespace settings
