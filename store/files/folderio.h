// What the load and the save of a configuration folder share: the names in the folder,
// open folders and files as RAII handles, reading one file whole without ever blocking on
// a special file, and the lock a save holds while it replaces the folder.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace localfiles {

inline constexpr std::string_view kPrefix = "RuleSet=";
// Names of this program's own temporary entries. None of them starts with "RuleSet=",
// so nothing left behind is ever loaded as configuration.
inline constexpr std::string_view kNewFolderTag = ".orvelle-new-";  // beside the folder
inline constexpr std::string_view kTempFileTag = ".orvelle-save-";  // inside the folder
inline constexpr std::string_view kBackupTag = ".orvelle-backup-";  // inside the folder

inline bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

inline std::string Reason(int error) { return std::strerror(error); }

// The reason a "RuleSet=" file could not be read. EFBIG is also what the reader's own
// size limit gives, so that one says which limit it is.
std::string ReadReason(int error);

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

struct DirEntry {
  std::string name;
  unsigned char type;  // DT_*; DT_UNKNOWN on file systems that do not tell
};

// The entries of an open folder (not "." and ".."); false with errno set on failure.
bool ListFolder(int dirFd, std::vector<DirEntry>& out);

enum class ReadResult { Ok, NotRegular, Failed, Vanished };

// Reads the regular file `name` of the folder whole into `text`. Special files are never
// opened in a way that could block or be read without end: the type is looked at before
// opening, the file is opened without blocking and looked at again before reading.
ReadResult ReadWhole(int dirFd, const std::string& name, std::string& text, int& error);

// The folder that holds `path` (a path without a trailing slash).
std::string ParentFolder(const std::string& path);

// Takes `operation` (LOCK_SH or LOCK_EX) on `fd`, asking again every `poll` up to
// `limit`. False when the limit ran out or the lock cannot be had at all.
bool WaitForFlock(int fd, int operation, std::chrono::milliseconds limit,
                  std::chrono::milliseconds poll);

// What a "RuleSet=" entry of a folder is, read whole into `text` (`error` set when
// Unreadable): a configuration file (HoldsRuleSet), another regular file, a special file
// (ReadResult::NotRegular), one that cannot be read, or one removed meanwhile.
enum class FileKind { RuleSet, Other, Special, Unreadable, Gone };
FileKind KindOf(int dirFd, const std::string& name, std::string& text, int& error);

// `name` in `folder`, as a path.
std::string InFolder(const std::string& folder, const std::string& name);

}  // namespace localfiles
