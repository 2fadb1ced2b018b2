#include "store/files/folderversion.h"

#include <fcntl.h>

#include <cerrno>
#include <set>

#include "platform/support/digest.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/files/folderio.h"

namespace localfiles {

namespace {

constexpr size_t kNameDigits = 8;
constexpr size_t kContentDigits = 12;

std::vector<std::string_view> SplitDashes(std::string_view token) {
  std::vector<std::string_view> parts;
  while (true) {
    const size_t dash = token.find('-');
    parts.push_back(token.substr(0, dash));
    if (dash == std::string_view::npos) return parts;
    token.remove_prefix(dash + 1);
  }
}

bool IsHex(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

std::string FileDigest(std::string_view text) { return kvaro::Sha256Hex(text); }

msg::Outcome ReadFolderState(const std::string& folder, FolderState& state) {
  state.digests.clear();
  Fd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd) {
    if (errno == ENOENT) return {};
    return msg::Problem{msg::id::kCannotReadFile, {folder, Reason(errno)}, msg::Icon::Error};
  }
  std::vector<DirEntry> entries;
  if (!ListFolder(dirFd.get(), entries))
    return msg::Problem{msg::id::kCannotReadFile, {folder, Reason(errno)}, msg::Icon::Error};
  std::string text;
  for (const DirEntry& e : entries) {
    if (!StartsWith(e.name, kPrefix)) continue;
    int error = 0;
    switch (KindOf(dirFd.get(), e.name, text, error)) {
      case FileKind::RuleSet:
      case FileKind::Other:
        state.digests[e.name] = FileDigest(text);
        break;
      case FileKind::Unreadable:
        return msg::Problem{msg::id::kCannotReadFile,
                            {InFolder(folder, e.name), ReadReason(error)},
                            msg::Icon::Error};
      case FileKind::Special:
      case FileKind::Gone:
        break;
    }
  }
  return {};
}

std::string FolderToken(const FolderState& state) {
  std::string all;
  std::string files;
  for (const auto& [name, digest] : state.digests) {
    all += name;
    all += '\0';
    all += digest;
    all += '\0';
    files += '-';
    files += kvaro::Sha256Hex(name).substr(0, kNameDigits);
    files += digest.substr(0, kContentDigits);
  }
  return "f1-" + std::to_string(state.digests.size()) + "-" + kvaro::Sha256Hex(all).substr(0, 16) +
         files;
}

std::optional<std::vector<FileChange>> FolderChangesSince(std::string_view token,
                                                          const FolderState& now) {
  const std::vector<std::string_view> parts = SplitDashes(token);
  if (parts.size() < 3 || parts[0] != "f1" || !IsHex(parts[2])) return std::nullopt;
  if (parts[1] != std::to_string(parts.size() - 3)) return std::nullopt;
  std::map<std::string, std::string, std::less<>> then;  // name digest -> content digest
  for (size_t i = 3; i < parts.size(); ++i) {
    if (parts[i].size() != kNameDigits + kContentDigits || !IsHex(parts[i])) return std::nullopt;
    then[std::string(parts[i].substr(0, kNameDigits))] = std::string(parts[i].substr(kNameDigits));
  }
  std::vector<FileChange> changes;
  if (token == FolderToken(now)) return changes;
  std::set<std::string> seen;
  for (const auto& [name, digest] : now.digests) {
    const std::string key = kvaro::Sha256Hex(name).substr(0, kNameDigits);
    seen.insert(key);
    const auto it = then.find(key);
    if (it == then.end())
      changes.push_back({FileChange::Kind::Added, name});
    else if (it->second != digest.substr(0, kContentDigits))
      changes.push_back({FileChange::Kind::Changed, name});
  }
  for (const auto& entry : then)
    if (!seen.count(entry.first)) changes.push_back({FileChange::Kind::Removed, {}});
  return changes;
}

}  // namespace localfiles
