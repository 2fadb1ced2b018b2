// The all-or-nothing save of a configuration folder: every file of the new configuration
// written into a new folder beside it, which then takes the old folder's place.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/savetags.h"
#include "store/files/folderio.h"
#include "store/files/templatefile.h"

using namespace localfiles;

namespace {

// Test hook: with ORVELLE_SAVE_KILL_AT=N in the environment, the process kills itself
// (SIGKILL) at the N-th step of a save: after each file written or carried over, before
// and after the folders are exchanged. Lets the tests stop a save at a known point.
class SaveSteps {
 public:
  SaveSteps() {
    const char* value = std::getenv("ORVELLE_SAVE_KILL_AT");
    killAt_ = value ? std::strtol(value, nullptr, 10) : 0L;
  }
  void operator()() {
    if (killAt_ > 0 && ++step_ == killAt_) ::raise(SIGKILL);
  }

 private:
  long killAt_ = 0;
  long step_ = 0;
};

// Test hook: ORVELLE_SAVE_NO_EXCHANGE=1 makes the save act as on a file system that
// cannot exchange two folders.
bool ExchangeDisabled() {
  const char* value = std::getenv("ORVELLE_SAVE_NO_EXCHANGE");
  return value && *value == '1';
}

// True when `name` is `tag` followed by a RandomTag.
bool IsSaveName(std::string_view name, std::string_view tag) {
  return StartsWith(name, tag) && kvaro::IsRandomTag(name.substr(tag.size()));
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

mode_t DefaultFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// True when `name` in `dirFd` is where a file system is mounted, a bind mount included:
// a copy would leave what is mounted behind, and a removal would reach into it.
bool IsMountPoint(int dirFd, const std::string& name) {
  struct statx sx {};
  if (::statx(dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  // Kernels before 5.8 do not tell; another device is a mount point at least.
  struct stat here {
  }, there{};
  return ::fstat(dirFd, &here) == 0 &&
         ::fstatat(dirFd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         here.st_dev != there.st_dev;
}

// Removes `name` in `dirFd` with everything below it. Best effort: what cannot be
// removed stays for the next save to try again. Never goes into another file system
// mounted below.
void RemoveTree(int dirFd, const std::string& name) {
  if (IsMountPoint(dirFd, name)) return;
  if (::unlinkat(dirFd, name.c_str(), 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  Fd sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (sub) {
    std::vector<DirEntry> entries;
    ListFolder(sub.get(), entries);
    for (const DirEntry& e : entries) RemoveTree(sub.get(), e.name);
  }
  ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
}

// Copies `name` from one folder into another (a folder with everything below it, a
// symbolic link as a link, a file with its contents), keeping modes and, where allowed,
// owners. For what a hard link cannot carry. False with errno set on failure; EXDEV for
// a mount point (IsMountPoint), which a copy would leave behind.
bool CopyEntry(int fromDir, int toDir, const std::string& name) {
  if (IsMountPoint(fromDir, name)) {
    errno = EXDEV;
    return false;
  }
  struct stat st {};
  if (::fstatat(fromDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlinkat(fromDir, name.c_str(), target.data(), target.size());
    if (n < 0) return false;
    target.resize(static_cast<size_t>(n));
    if (::symlinkat(target.c_str(), toDir, name.c_str()) != 0) return false;
    (void)::fchownat(toDir, name.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
    return true;
  }
  if (S_ISDIR(st.st_mode)) {
    if (::mkdirat(toDir, name.c_str(), 0700) != 0) return false;
    Fd from(::openat(fromDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Fd to(::openat(toDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!from || !to) return false;
    std::vector<DirEntry> entries;
    if (!ListFolder(from.get(), entries)) return false;
    for (const DirEntry& e : entries) {
      if (::linkat(from.get(), e.name.c_str(), to.get(), e.name.c_str(), 0) == 0) continue;
      if (!CopyEntry(from.get(), to.get(), e.name)) return false;
    }
    (void)::fchown(to.get(), st.st_uid, st.st_gid);
    return ::fchmod(to.get(), st.st_mode & 07777) == 0;
  }
  if (S_ISFIFO(st.st_mode)) {
    if (::mkfifoat(toDir, name.c_str(), st.st_mode & 07777) != 0) return false;
    (void)::fchownat(toDir, name.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
    return true;
  }
  if (!S_ISREG(st.st_mode)) {
    if (::mknodat(toDir, name.c_str(), st.st_mode, st.st_rdev) != 0) return false;
    (void)::fchownat(toDir, name.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
    return true;
  }
  Fd from(::openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!from) return false;
  Fd to(::openat(toDir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!to) return false;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(from.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (!WriteAll(to.get(), std::string_view(buffer, static_cast<size_t>(n)))) return false;
  }
  (void)::fchown(to.get(), st.st_uid, st.st_gid);
  return ::fchmod(to.get(), st.st_mode & 07777) == 0;
}

// One file of the new configuration.
struct NewFile {
  std::string name;  // "RuleSet=" + rule set name
  std::string text;
};

// Why a save stopped: the message id, the file or folder it names and the system's error.
struct SaveError {
  int id = 0;
  std::string path;
  int error = 0;
};

// A file this save would write or remove that someone else wrote since `loaded`: how
// it stood then and now (null: there was no such file).
struct Conflict {
  std::string name;
  const std::string* then;
  const std::string* now;
};

const std::string* DigestOf(const FolderState& state, const std::string& name) {
  const auto it = state.digests.find(name);
  return it == state.digests.end() ? nullptr : &it->second;
}

bool SameDigest(const std::string* a, const std::string* b) {
  return a == b || (a && b && *a == *b);
}

class LocalSave {
 public:
  LocalSave(std::string folder, std::vector<NewFile> files, FolderState* loaded)
      : folder_(std::move(folder)), files_(std::move(files)), loaded_(loaded) {}

  // Nothing wrong when saved; else the one message that says why.
  msg::Outcome Run() {
    if (Save()) {
      if (loaded_) Remember();
      return {};
    }
    if (!conflicts_.empty()) return ConflictProblem();
    if (error_.id == msg::id::kSaveBusy || error_.id == msg::id::kNotRegularFile ||
        error_.id == msg::id::kWouldOverwriteOtherFile)
      return msg::Problem{error_.id, {error_.path}, msg::Icon::Error};
    const bool read = error_.id == msg::id::kCannotCheckFile;
    return msg::Problem{error_.id,
                        {error_.path, read ? ReadReason(error_.error) : Reason(error_.error)},
                        msg::Icon::Error};
  }

 private:
  bool Fail(int id, std::string path, int error) {
    error_ = {id, std::move(path), error};
    return false;
  }

  bool Save() {
    // The real folder: a configuration folder reached through a symbolic link is replaced
    // where it is, and the link stays.
    char* real = ::realpath(folder_.c_str(), nullptr);
    if (!real) return Fail(msg::id::kCannotCreateFile, folder_, errno);
    const std::string path = real;
    std::free(real);
    struct stat folderStat {};
    if (::stat(path.c_str(), &folderStat) != 0)
      return Fail(msg::id::kCannotCreateFile, folder_, errno);
    if (!S_ISDIR(folderStat.st_mode)) return Fail(msg::id::kCannotCreateFile, folder_, ENOTDIR);
    parentPath_ = ParentFolder(path);
    base_ = path.substr(path.rfind('/') + 1);

    parent_ = Fd(::open(parentPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent_) return Fail(msg::id::kCannotCreateFile, parentPath_, errno);
    if (!Lock()) return Fail(msg::id::kSaveBusy, folder_, 0);
    old_ = Fd(::openat(parent_.get(), base_.empty() ? "." : base_.c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!old_) return Fail(msg::id::kCannotCreateFile, folder_, errno);
    if (::fstat(old_.get(), &folderStat) != 0)
      return Fail(msg::id::kCannotCreateFile, folder_, errno);
    // The new folder is made beside this one, so its own permissions are checked here: a
    // folder the user may not write is not written, however its parent is set.
    if (::faccessat(old_.get(), ".", W_OK, AT_EACCESS) != 0)
      return Fail(msg::id::kCannotCreateFile, folder_, errno);

    RemoveLeftovers();
    std::vector<DirEntry> entries;
    if (!ListFolder(old_.get(), entries)) return Fail(msg::id::kCannotCreateFile, folder_, errno);
    if (!SortEntries(entries)) return false;
    if (!Plan(entries)) return false;
    if (write_.empty() && remove_.empty()) return true;  // the folder holds it already

    if (!base_.empty() && !ExchangeDisabled()) {
      const int result = SaveByExchange(folderStat);
      if (result >= 0) return result == 1;
    }
    return SaveByRenames();
  }

  // Waits up to 10 s for the lock of the parent folder, so two saves never mix. (Test
  // hook: ORVELLE_SAVE_LOCK_WAIT_MS shortens the wait.)
  bool Lock() {
    long waitMs = 10000;
    if (const char* value = std::getenv("ORVELLE_SAVE_LOCK_WAIT_MS"))
      waitMs = std::min(waitMs, std::strtol(value, nullptr, 10));
    return WaitForFlock(parent_.get(), LOCK_EX, std::chrono::milliseconds(waitMs),
                        std::chrono::milliseconds(20));
  }

  // Removes what earlier saves left behind when they were stopped: new folders beside
  // the folder, temporary and backup files inside it. Only names exactly as a save
  // makes them (the tag, then RandomTag's ten characters) are taken for leftovers.
  void RemoveLeftovers() {
    const std::string tag = "." + base_ + std::string(kNewFolderTag);
    std::vector<DirEntry> entries;
    if (!base_.empty() && ListFolder(parent_.get(), entries))
      for (const DirEntry& e : entries)
        if (IsSaveName(e.name, tag)) RemoveTree(parent_.get(), e.name);
    entries.clear();
    if (ListFolder(old_.get(), entries))
      for (const DirEntry& e : entries)
        if (IsSaveName(e.name, kTempFileTag) || IsSaveName(e.name, kBackupTag))
          ::unlinkat(old_.get(), e.name.c_str(), 0);
  }

  // Reads what the folder's "RuleSet=" entries hold now (current_) and which of them hold
  // a rule set (ruleSetFiles_, which a save may replace or remove). An entry under a name
  // the save writes that is not such a file is refused: a special file, or a file that
  // holds no rule set. So is a "RuleSet=" file that cannot be read to tell.
  bool SortEntries(const std::vector<DirEntry>& entries) {
    std::unordered_set<std::string_view> written;
    for (const NewFile& f : files_) written.insert(f.name);
    std::string text;
    for (const DirEntry& e : entries) {
      bool ruleSetFile = false;
      if (StartsWith(e.name, kPrefix)) {
        int error = 0;
        switch (KindOf(old_.get(), e.name, text, error)) {
          case FileKind::RuleSet:
            ruleSetFile = true;
            current_.digests[e.name] = FileDigest(text);
            if (struct stat st{}; ::fstatat(old_.get(), e.name.c_str(), &st, 0) == 0)
              oldModes_[e.name] = st;
            break;
          case FileKind::Other:
            if (written.count(e.name))
              return Fail(msg::id::kWouldOverwriteOtherFile, InFolder(folder_, e.name), 0);
            current_.digests[e.name] = FileDigest(text);
            break;
          case FileKind::Special:
            if (written.count(e.name))
              return Fail(msg::id::kNotRegularFile, InFolder(folder_, e.name), 0);
            break;
          case FileKind::Unreadable:
            return Fail(msg::id::kCannotCheckFile, InFolder(folder_, e.name), error);
          case FileKind::Gone:
            gone_.insert(e.name);
            continue;  // removed meanwhile: nothing to keep or replace
        }
      }
      if (ruleSetFile) ruleSetFiles_.insert(e.name);
    }
    return true;
  }

  // Decides which files this save writes (write_) and removes (remove_), as SaveToFiles
  // describes; every other entry of the folder is carried over as it is. False when
  // someone else wrote a file that would be written or removed (conflicts_).
  bool Plan(const std::vector<DirEntry>& entries) {
    std::unordered_set<std::string_view> newNames;
    for (const NewFile& file : files_) {
      newNames.insert(file.name);
      const std::string digest = FileDigest(file.text);
      const std::string* now = DigestOf(current_, file.name);
      if (now && *now == digest) {
        inPlace_.emplace_back(file.name, digest);
        continue;
      }
      if (loaded_) {
        const std::string* then = DigestOf(*loaded_, file.name);
        // Not changed here since the load: what the folder holds now stays.
        if (then && *then == digest) continue;
        if (!SameDigest(then, now)) {
          conflicts_.push_back({file.name, then, now});
          continue;
        }
      }
      write_.push_back({&file, digest});
    }
    for (const std::string& name : ruleSetFiles_) {
      if (newNames.count(name)) continue;
      if (loaded_) {
        const std::string* then = DigestOf(*loaded_, name);
        if (!then) continue;  // someone else's new file: not this save's to remove
        const std::string* now = DigestOf(current_, name);
        if (!SameDigest(then, now)) {
          conflicts_.push_back({name, then, now});
          continue;
        }
      }
      remove_.push_back(name);
    }
    if (!conflicts_.empty()) return false;
    std::unordered_set<std::string_view> replaced(remove_.begin(), remove_.end());
    for (const auto& w : write_)
      if (current_.digests.count(w.file->name)) replaced.insert(w.file->name);
    for (const DirEntry& e : entries) {
      if (gone_.count(e.name)) continue;
      if (replaced.count(e.name))
        ours_.push_back(e.name);
      else
        carried_.push_back(e);
    }
    return true;
  }

  // Brings *loaded_ to what this save left: the files it wrote or found as it would have
  // written them, without those it removed or found removed. Files it left alone keep
  // the digest of the load, so that a later save still notices their change.
  void Remember() {
    for (const auto& [name, digest] : inPlace_) loaded_->digests[name] = digest;
    for (const auto& w : write_) loaded_->digests[w.file->name] = w.digest;
    for (const std::string& name : remove_) loaded_->digests.erase(name);
    std::unordered_set<std::string_view> newNames;
    for (const NewFile& file : files_) newNames.insert(file.name);
    for (auto it = loaded_->digests.begin(); it != loaded_->digests.end();) {
      if (!newNames.count(it->first) && !current_.digests.count(it->first))
        it = loaded_->digests.erase(it);
      else
        ++it;
    }
  }

  // The refusal that names every file someone else wrote, with what they did to it.
  msg::Outcome ConflictProblem() const {
    std::vector<std::string> lines;
    for (const Conflict& c : conflicts_) {
      const int id = !c.then  ? msg::id::kRuleSetAdded
                     : !c.now ? msg::id::kRuleSetRemoved
                              : msg::id::kRuleSetChanged;
      lines.push_back(msg::Text(id, {c.name.substr(kPrefix.size())}) + " (" +
                      msg::Displayable(InFolder(folder_, c.name)) + ")");
    }
    std::string list;
    for (const std::string& line : lines) list += (list.empty() ? "" : "\n") + line;
    return msg::Problem{
        msg::id::kChangedSinceLoad, {msg::Displayable(folder_), list}, msg::Icon::Error, true};
  }

  // Mode and owner for a new file: those of the file it replaces, else a new file's.
  void FileModeFor(const std::string& name, mode_t& mode, uid_t& uid, gid_t& gid,
                   bool& chown) const {
    const auto it = oldModes_.find(name);
    chown = it != oldModes_.end();
    mode = chown ? (it->second.st_mode & 07777) : DefaultFileMode();
    if (chown) {
      uid = it->second.st_uid;
      gid = it->second.st_gid;
    }
  }

  bool WriteFile(int dirFd, const std::string& tempName, const NewFile& file) {
    mode_t mode;
    uid_t uid = 0;
    gid_t gid = 0;
    bool chown = false;
    FileModeFor(file.name, mode, uid, gid, chown);
    Fd fd(::openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) return Fail(msg::id::kCannotCreateFile, InFolder(folder_, file.name), errno);
    if (!WriteAll(fd.get(), file.text))
      return Fail(msg::id::kCannotUpdateFile, InFolder(folder_, file.name), errno);
    if (chown) (void)::fchown(fd.get(), uid, gid);
    if (::fchmod(fd.get(), mode) != 0)
      return Fail(msg::id::kCannotUpdateFile, InFolder(folder_, file.name), errno);
    if (::close(fd.Release()) != 0)
      return Fail(msg::id::kCannotUpdateFile, InFolder(folder_, file.name), errno);
    return true;
  }

  // Flushes everything written to the folder's file system to disk: one journal commit
  // for the whole save instead of one per file.
  bool Flush(int dirFd, const std::string& what) {
    if (::syncfs(dirFd) != 0 || ::fsync(dirFd) != 0)
      return Fail(msg::id::kCannotUpdateFile, what, errno);
    return true;
  }

  // 1 saved, 0 failed (error_ set), -1 the folders cannot be exchanged here: nothing
  // was changed and the caller saves file by file instead.
  int SaveByExchange(const struct stat& folderStat) {
    std::string newName;
    for (int i = 0; i < 100; ++i) {
      newName = "." + base_ + std::string(kNewFolderTag) + kvaro::RandomTag();
      if (::mkdirat(parent_.get(), newName.c_str(), 0700) == 0) break;
      if (errno == EEXIST) continue;
      // A folder whose parent takes no new entries is saved in place.
      if (errno == EACCES || errno == EPERM || errno == ENAMETOOLONG) return -1;
      Fail(msg::id::kCannotCreateFile, folder_, errno);
      return 0;
    }
    newName_ = newName;
    Fd fresh(
        ::openat(parent_.get(), newName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fresh) return Abandon(msg::id::kCannotCreateFile, folder_, errno);
    for (const auto& w : write_) {
      if (!WriteFile(fresh.get(), w.file->name, *w.file)) return Abandon();
      SaveStep_();
    }
    for (const DirEntry& e : carried_) {
      // A hard link carries a file over at no cost; what cannot be linked is copied.
      if (::linkat(old_.get(), e.name.c_str(), fresh.get(), e.name.c_str(), 0) != 0 &&
          !CopyEntry(old_.get(), fresh.get(), e.name)) {
        // A file system mounted inside the folder must stay where it is: the files are
        // saved into the folder itself instead.
        if (errno == EXDEV) {
          Abandon();
          return -1;
        }
        return Abandon(msg::id::kCannotCreateFile, InFolder(folder_, e.name), errno);
      }
      SaveStep_();
    }
    // The folder keeps its owner and permissions. Where the owner cannot be kept, the
    // files are saved into the folder itself instead.
    if ((folderStat.st_uid != ::geteuid() || folderStat.st_gid != ::getegid()) &&
        ::fchown(fresh.get(), folderStat.st_uid, folderStat.st_gid) != 0) {
      fresh.Reset();
      RemoveTree(parent_.get(), newName_);
      newName_.clear();
      return -1;
    }
    if (::fchmod(fresh.get(), folderStat.st_mode & 07777) != 0)
      return Abandon(msg::id::kCannotUpdateFile, folder_, errno);
    // The new files are on disk before the new folder becomes the configuration.
    if (!Flush(fresh.get(), folder_)) return Abandon();
    SaveStep_();
    if (::renameat2(parent_.get(), newName.c_str(), parent_.get(), base_.c_str(),
                    RENAME_EXCHANGE) != 0) {
      const int e = errno;
      fresh.Reset();
      RemoveTree(parent_.get(), newName_);
      newName_.clear();
      if (e == EINVAL || e == ENOSYS || e == EBUSY || e == ENOTSUP || e == EXDEV) return -1;
      Fail(msg::id::kCannotUpdateFile, folder_, e);
      return 0;
    }
    // The exchange itself is made durable; a failure here changes nothing for the next
    // load, which already sees the new folder.
    (void)::fsync(parent_.get());
    SaveStep_();
    // `newName` now holds the old configuration. An entry that appeared in it while the
    // save ran is not ours: it moves into the folder; where it cannot, the old folder
    // stays beside it as ".<folder>.orvelle-kept-*", which no save removes.
    std::unordered_set<std::string_view> known(ours_.begin(), ours_.end());
    for (const DirEntry& e : carried_) known.insert(e.name);
    std::vector<DirEntry> now;
    bool keep = !ListFolder(old_.get(), now);
    for (const DirEntry& e : now) {
      if (known.count(e.name)) continue;
      if (::renameat2(old_.get(), e.name.c_str(), fresh.get(), e.name.c_str(), RENAME_NOREPLACE) !=
          0)
        keep = true;
    }
    if (keep) {
      const std::string kept = "." + base_ + ".orvelle-kept-" + kvaro::RandomTag();
      ::renameat(parent_.get(), newName.c_str(), parent_.get(), kept.c_str());
    } else {
      RemoveTree(parent_.get(), newName);
    }
    newName_.clear();
    return 1;
  }

  // Removes the unfinished new folder; 0 (failed) for SaveByExchange.
  int Abandon(int id = 0, std::string path = {}, int error = 0) {
    if (id) Fail(id, std::move(path), error);
    RemoveTree(parent_.get(), newName_);
    newName_.clear();
    return 0;
  }

  // Saves into the folder itself: every file is written under a temporary name and
  // flushed, then renamed into place, and the files of rule sets no longer in the
  // configuration are removed. Each replaced or removed file is kept as a hard-linked
  // backup until the end, so a failure puts every old file back. (A process killed in
  // the middle of the renames can leave a mix; only the exchange of whole folders rules
  // that out.)
  bool SaveByRenames() {
    std::vector<std::pair<std::string, const NewFile*>> temps;
    auto removeTemps = [&] {
      for (const auto& t : temps) ::unlinkat(old_.get(), t.first.c_str(), 0);
    };
    for (const auto& w : write_) {
      const NewFile& file = *w.file;
      std::string temp;
      do {
        temp = std::string(kTempFileTag) + kvaro::RandomTag();
      } while (::faccessat(old_.get(), temp.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0);
      temps.emplace_back(temp, &file);
      if (!WriteFile(old_.get(), temp, file)) {
        removeTemps();
        return false;
      }
      SaveStep_();
    }
    if (!Flush(old_.get(), folder_)) {
      removeTemps();
      return false;
    }
    // Done steps: (target, backup or empty when there was no old file).
    std::vector<std::pair<std::string, std::string>> done;
    auto backUp = [&](const std::string& target, std::string& backup) {
      if (!oldModes_.count(target)) return true;
      backup = std::string(kBackupTag) + kvaro::RandomTag();
      return ::linkat(old_.get(), target.c_str(), old_.get(), backup.c_str(), 0) == 0;
    };
    auto rollBack = [&](int id, const std::string& target, int error) {
      for (auto it = done.rbegin(); it != done.rend(); ++it) {
        if (it->second.empty())
          ::unlinkat(old_.get(), it->first.c_str(), 0);
        else
          ::renameat(old_.get(), it->second.c_str(), old_.get(), it->first.c_str());
      }
      removeTemps();
      (void)::fsync(old_.get());
      return Fail(id, InFolder(folder_, target), error);
    };
    for (const auto& [temp, file] : temps) {
      std::string backup;
      if (!backUp(file->name, backup))
        return rollBack(msg::id::kCannotUpdateFile, file->name, errno);
      if (::renameat(old_.get(), temp.c_str(), old_.get(), file->name.c_str()) != 0) {
        const int e = errno;
        if (!backup.empty()) ::unlinkat(old_.get(), backup.c_str(), 0);
        return rollBack(msg::id::kCannotUpdateFile, file->name, e);
      }
      done.emplace_back(file->name, backup);
      SaveStep_();
    }
    for (const std::string& name : remove_) {
      std::string backup;
      if (!backUp(name, backup)) return rollBack(msg::id::kCannotUpdateFile, name, errno);
      if (::unlinkat(old_.get(), name.c_str(), 0) != 0) {
        const int e = errno;
        ::unlinkat(old_.get(), backup.c_str(), 0);
        return rollBack(msg::id::kCannotUpdateFile, name, e);
      }
      // Undoing a removal is putting the backup back under the name.
      done.emplace_back(name, backup);
    }
    // The new names must be on disk before the backups of the old files go.
    if (::fsync(old_.get()) != 0) {
      const int e = errno;
      rollBack(msg::id::kCannotUpdateFile, std::string(), e);
      return Fail(msg::id::kCannotUpdateFile, folder_, e);
    }
    for (const auto& step : done)
      if (!step.second.empty()) ::unlinkat(old_.get(), step.second.c_str(), 0);
    return true;
  }

  std::string folder_;
  std::vector<NewFile> files_;
  std::string parentPath_;
  std::string base_;
  Fd parent_;
  Fd old_;
  std::string newName_;
  FolderState* loaded_;
  FolderState current_;
  std::set<std::string> ruleSetFiles_;
  std::set<std::string> gone_;  // listed, but removed before they could be read
  struct Write {
    const NewFile* file;
    std::string digest;
  };
  std::vector<Write> write_;
  std::vector<std::string> remove_;
  std::vector<std::pair<std::string, std::string>> inPlace_;  // already as written: name, digest
  std::vector<Conflict> conflicts_;
  std::vector<std::string> ours_;  // the entries written_ replaces and remove_ removes
  std::vector<DirEntry> carried_;
  std::unordered_map<std::string, struct stat> oldModes_;
  SaveError error_;
  SaveSteps SaveStep_;
};

// Runs every check a save needs before anything is written: the record checks in the
// order the files would be written, then the names and the text form. Returns the first
// failure.
msg::Outcome CheckBeforeSave(
    const Configuration& configuration,
    const std::unordered_map<const RuleSet*, std::vector<const SearchForm*>>& formsBySet) {
  std::unordered_set<std::string_view> names;
  for (const auto& ruleSet : configuration.ruleSets) {
    if (!IsUsableRuleSetFileName(ruleSet->name))
      return msg::Problem{msg::id::kUnusableRuleSetFileName, {ruleSet->name}, msg::Icon::Error};
    if (!names.insert(ruleSet->name).second)
      return msg::Problem{msg::id::kTwoRuleSetsSameName, {ruleSet->name}, msg::Icon::Error};
    if (msg::Outcome checked = ruleSet->Check(); !checked) return checked;
    for (const auto& rule : ruleSet->rules)
      if (msg::Outcome checked = rule->Check(); !checked) return checked;
    const auto forms = formsBySet.find(ruleSet.get());
    if (forms == formsBySet.end()) continue;
    for (const SearchForm* form : forms->second) {
      if (msg::Outcome checked = form->Check(); !checked) return checked;
      std::vector<const InputGroup*> groups{form->targetGroup.get()};
      for (const auto& g : form->inputGroups) groups.push_back(g.get());
      for (const InputGroup* group : groups) {
        if (msg::Outcome checked = group->Check(); !checked) return checked;
        for (const auto& field : group->fields)
          if (msg::Outcome checked = field->Check(); !checked) return checked;
      }
    }
  }
  int reason = 0;
  const std::string problem = TextFormatProblem(configuration, &reason);
  if (!problem.empty())
    return msg::Problem{msg::id::kTextCannotHold, {problem, msg::Text(reason)}, msg::Icon::Error};
  return {};
}

}  // namespace

msg::Outcome SaveToFiles(const Configuration& configuration, const std::string& folder,
                         localfiles::FolderState* loaded) {
  std::unordered_map<const RuleSet*, std::vector<const SearchForm*>> formsBySet;
  for (const auto& form : configuration.searchForms)
    formsBySet[form->ruleSet].push_back(form.get());
  if (msg::Outcome checked = CheckBeforeSave(configuration, formsBySet); !checked) return checked;
  if (folder.empty()) return msg::Problem{msg::id::kNoConfigurationFolder, {}, msg::Icon::Error};
  // Every text is made before anything on disk is touched.
  std::vector<NewFile> files;
  files.reserve(configuration.ruleSets.size());
  for (const auto& ruleSet : configuration.ruleSets) {
    NewFile file{RuleSetFileName(ruleSet->name), {}};
    WriteText(*ruleSet, file.text);
    const auto forms = formsBySet.find(ruleSet.get());
    if (forms != formsBySet.end())
      for (const SearchForm* form : forms->second) WriteText(*form, file.text);
    files.push_back(std::move(file));
  }
  return LocalSave(folder, std::move(files), loaded).Run();
}
