// Loading the "RuleSet=" files of the configuration folder, and the start-up load that
// reads them unless the settings name the directory.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/files/folderio.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"

using namespace localfiles;

namespace {

// The lines a file's read left out, for the warning that names them: the first ten, and
// how many more; made safe to show, one a line.
std::string DroppedText(const std::vector<DroppedLine>& dropped) {
  constexpr size_t kShown = 10;
  std::vector<const DroppedLine*> lines;
  for (const DroppedLine& d : dropped) lines.push_back(&d);
  std::stable_sort(lines.begin(), lines.end(),
                   [](const DroppedLine* a, const DroppedLine* b) { return a->line < b->line; });
  std::string out;
  for (size_t i = 0; i < lines.size() && i < kShown; ++i) {
    const DroppedLine& d = *lines[i];
    // A long line is shortened; the line number finds it.
    const std::string text = d.text.size() > 80 ? d.text.substr(0, 77) + "..." : d.text;
    if (i) out += "\n";
    out += msg::Text(msg::id::kLineNotRead,
                     {std::to_string(d.line), text, msg::Text(d.reason, {d.detail})});
  }
  if (lines.size() > kShown)
    out += "\n" + msg::Text(msg::id::kMoreLinesNotRead, {std::to_string(lines.size() - kShown)});
  return out;
}

constexpr int kReadsBeforeLock = 3;

// Takes the lock a save holds while it replaces `folder` (its parent folder's), shared,
// waiting for a running save up to 10 seconds. Nothing when it cannot be had: the read
// then goes on as before, starting again whenever a save replaced the folder.
Fd LockSavesOut(const std::string& folder) {
  char* real = ::realpath(folder.c_str(), nullptr);
  if (!real) return Fd();
  const std::string path = real;
  std::free(real);
  Fd fd(::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Polled often: a save that follows another takes the lock again within milliseconds.
  if (!fd ||
      !WaitForFlock(fd.get(), LOCK_SH, std::chrono::seconds(10), std::chrono::milliseconds(1)))
    return Fd();
  return fd;
}

}  // namespace

FileRead ReadRegularFile(const std::string& path, std::string& text, int& error) {
  error = 0;
  switch (ReadWhole(AT_FDCWD, path, text, error)) {
    case ReadResult::Ok:
      return FileRead::Ok;
    case ReadResult::NotRegular:
      return FileRead::NotRegular;
    case ReadResult::Vanished:
      error = ENOENT;
      return FileRead::Failed;
    case ReadResult::Failed:
      break;
  }
  return FileRead::Failed;
}

int CountRuleSetFiles(const std::string& folder, size_t& count) {
  count = 0;
  Fd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd) return errno == ENOENT ? 0 : errno;
  std::vector<DirEntry> entries;
  if (!ListFolder(dirFd.get(), entries)) return errno;
  std::string text;
  for (const DirEntry& e : entries) {
    if (!StartsWith(e.name, kPrefix)) continue;
    int error = 0;
    const FileKind kind = KindOf(dirFd.get(), e.name, text, error);
    if (kind == FileKind::Unreadable) return error;  // a save would be refused there too
    if (kind == FileKind::RuleSet) ++count;
  }
  return 0;
}

int LoadFromFiles(Configuration& configuration, const std::string& configurationDirectory,
                  const kvaro::Oidtable& table, msg::Problems* problems,
                  localfiles::FolderState* read) {
  msg::Problems found;
  auto report = [&](int id, std::vector<std::string> args, msg::Icon icon) {
    found.push_back(msg::Problem{id, std::move(args), icon});
  };
  FolderState state;
  auto done = [&](int result) {
    if (read) *read = result == 1 ? std::move(state) : FolderState{};
    if (problems) problems->insert(problems->end(), found.begin(), found.end());
    return result;
  };
  // The folder is named by path; the process's working folder is never changed.
  const std::string folder = configurationDirectory.empty() ? "." : configurationDirectory;
  if (!configuration.oidtable) configuration.oidtable = &table;
  // A save that replaces the folder while it is read removes the files of the old one;
  // reading again then gives the new configuration whole.
  Fd saveLock;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (attempt) {
      configuration.Clear();
      found.clear();  // what an abandoned read found does not count
      state.digests.clear();
    }
    // Saves that follow each other faster than the folder is read would replace it
    // during every read: after a few such reads, hold off the next save while reading.
    if (attempt == kReadsBeforeLock) saveLock = LockSavesOut(folder);
    // Every file is opened through this one handle, so all of them come from the same
    // folder even when a save exchanges it meanwhile.
    Fd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd) {
      if (errno == ENOENT) return done(0);
      report(msg::id::kCannotReadFile, {folder, Reason(errno)}, msg::Icon::Error);
      return done(-1);
    }
    std::vector<DirEntry> entries;
    if (!ListFolder(dirFd.get(), entries)) {
      report(msg::id::kCannotReadFile, {folder, Reason(errno)}, msg::Icon::Error);
      return done(-1);
    }
    std::vector<std::string> names;
    for (DirEntry& e : entries)
      if (StartsWith(e.name, kPrefix)) names.push_back(std::move(e.name));
    // Byte-wise order, so every start reads the files in the same order.
    std::sort(names.begin(), names.end());

    TemplateReader reader(configuration, table);
    bool vanished = false;
    std::string text;
    for (const std::string& name : names) {
      int error = 0;
      switch (KindOf(dirFd.get(), name, text, error)) {
        case FileKind::RuleSet:
          state.digests[name] = FileDigest(text);
          reader.ReadText(text);
          if (!reader.dropped().empty())
            found.push_back(msg::Problem{
                msg::id::kLinesNotRead,
                {msg::Displayable(InFolder(folder, name)), DroppedText(reader.dropped())},
                msg::Icon::Warning,
                true});
          break;
        case FileKind::Other:
          state.digests[name] = FileDigest(text);
          report(msg::id::kNotConfigurationFile, {InFolder(folder, name)}, msg::Icon::Warning);
          break;
        case FileKind::Special:
          report(msg::id::kNotRegularFile, {InFolder(folder, name)}, msg::Icon::Warning);
          break;
        case FileKind::Unreadable:
          configuration.Clear();
          report(msg::id::kCannotReadFile, {InFolder(folder, name), ReadReason(error)},
                 msg::Icon::Error);
          return done(-1);
        case FileKind::Gone:
          vanished = true;
          break;
      }
      if (vanished) break;
    }
    if (vanished) continue;
    // A save may have put another folder in this one's place while it was read (and
    // emptied this one, so that it reads as holding nothing): read the new one.
    struct stat read {
    }, now{};
    if (::fstat(dirFd.get(), &read) == 0 && ::stat(folder.c_str(), &now) == 0 &&
        (read.st_ino != now.st_ino || read.st_dev != now.st_dev))
      continue;
    if (!configuration.ruleSets.empty() && !configuration.searchForms.empty()) return done(1);
    configuration.Clear();
    return done(0);
  }
  configuration.Clear();
  report(msg::id::kCannotReadFile, {folder, Reason(EAGAIN)}, msg::Icon::Error);
  return done(-1);
}
