#include "store/files/folderio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/files/templatefile.h"

namespace localfiles {

std::string ReadReason(int error) {
  if (error == EFBIG) return msg::Text(msg::id::kReasonTooLarge, {std::strerror(error)});
  return Reason(error);
}

bool ListFolder(int dirFd, std::vector<DirEntry>& out) {
  const int copy = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    const int e = errno;
    ::close(copy);
    errno = e;
    return false;
  }
  errno = 0;
  while (const dirent* d = ::readdir(dir)) {
    const std::string_view name = d->d_name;
    if (name != "." && name != "..") out.push_back({std::string(name), d->d_type});
    errno = 0;
  }
  const int e = errno;
  ::closedir(dir);
  errno = e;
  return e == 0;
}

ReadResult ReadWhole(int dirFd, const std::string& name, std::string& text, int& error) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, 0) != 0) {
    error = errno;
    struct stat link {};
    if (::fstatat(dirFd, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0)
      return S_ISLNK(link.st_mode) && error == ENOENT ? ReadResult::NotRegular : ReadResult::Failed;
    return error == ENOENT ? ReadResult::Vanished : ReadResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) return ReadResult::NotRegular;
  if (static_cast<uint64_t>(st.st_size) > kMaxRuleSetFileSize) {
    error = EFBIG;
    return ReadResult::Failed;
  }
  Fd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    error = errno;
    return error == ENOENT ? ReadResult::Vanished : ReadResult::Failed;
  }
  if (::fstat(fd.get(), &st) != 0) {
    error = errno;
    return ReadResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) return ReadResult::NotRegular;
  text.clear();
  text.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      return ReadResult::Failed;
    }
    if (n == 0) break;
    // A file that grows while it is read is held to the same limit.
    if (text.size() + static_cast<size_t>(n) > kMaxRuleSetFileSize) {
      error = EFBIG;
      return ReadResult::Failed;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  return ReadResult::Ok;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WaitForFlock(int fd, int operation, std::chrono::milliseconds limit,
                  std::chrono::milliseconds poll) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (::flock(fd, operation | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(poll);
  }
  return true;
}

FileKind KindOf(int dirFd, const std::string& name, std::string& text, int& error) {
  switch (ReadWhole(dirFd, name, text, error)) {
    case ReadResult::Ok:
      return HoldsRuleSet(text) ? FileKind::RuleSet : FileKind::Other;
    case ReadResult::NotRegular:
      return FileKind::Special;
    case ReadResult::Failed:
      return FileKind::Unreadable;
    case ReadResult::Vanished:
      break;
  }
  return FileKind::Gone;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace localfiles
