#include "templatefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "linereader.h"
#include "messages.h"
#include "oidtable.h"
#include "qstringlist.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRuleSetFilePrefix = "RuleSet=";

// Calls `handle` with every line of `text`, without its line end ("\n" or "\r\n").
template <typename Handler>
void ForEachLine(std::string_view text, Handler handle) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    handle(line);
    pos = end + 1;
  }
}

}  // namespace

// ---- Reading ----

TemplateReader::TemplateReader(Configuration& configuration, const kvaro::Oidtable& table)
    : config_(configuration), table_(table) {}

void TemplateReader::Read(kvaro::LineReader& file, const std::vector<std::string>& extraLines) {
  std::string line;
  auto pass = [&](Pass which) {
    file.Rewind();
    while (file.ReadExtendedString(line) == 1) HandleLine(line, which);
  };
  pass(Pass::RuleSetOnly);
  for (const std::string& extra : extraLines) HandleLine(extra, Pass::All);
  pass(Pass::ClassOnly);
  pass(Pass::All);
}

void TemplateReader::ReadText(std::string_view text, const std::vector<std::string>& extraLines) {
  ForEachLine(text, [&](std::string_view line) { HandleLine(line, Pass::RuleSetOnly); });
  for (const std::string& extra : extraLines) HandleLine(extra, Pass::All);
  ForEachLine(text, [&](std::string_view line) { HandleLine(line, Pass::ClassOnly); });
  ForEachLine(text, [&](std::string_view line) { HandleLine(line, Pass::All); });
}

void TemplateReader::HandleLine(std::string_view rawLine, Pass pass) {
  const size_t first = rawLine.find_first_not_of(" \t");
  if (first == std::string_view::npos) return;
  const std::string_view line = rawLine.substr(first);
  if (line.front() == '#') return;

  kvaro::QStringList pieces;
  pieces.SetSplitString(line, ':');
  const std::string& keyword = pieces[0];
  const size_t count = pieces.size();

  if (pass == Pass::RuleSetOnly && keyword != "RuleSet") return;
  if (pass == Pass::ClassOnly && keyword != "Class") return;

  RuleSet* ruleSet = config_.currentRuleSet;

  if (keyword == "RuleSet") {
    if (count < 2) return;
    if (ruleSet && ruleSet->name == pieces[1]) return;
    config_.ruleSets.push_back(std::make_unique<RuleSet>(pieces[1]));
    config_.currentRuleSet = config_.ruleSets.back().get();
  } else if (keyword == "Base") {
    if (count < 3 || !ruleSet) return;
    std::vector<std::string> uriPieces(pieces.begin() + 2, pieces.end());
    const SearchRule rule(ruleSet, pieces[1], {}, kvaro::Join(uriPieces, ":"));
    ruleSet->AddRule(&rule);
  } else if (keyword == "Class") {
    if (count != 3 || !ruleSet) return;
    kvaro::QStringList names;
    names.SetSplitString(pieces[2], ',');
    std::vector<std::string> known;
    for (const std::string& n : names)
      if (table_.str2oc(n)) known.push_back(n);
    if (known.empty()) return;
    const SearchRule rule(ruleSet, pieces[1], {}, std::move(known));
    ruleSet->AddRule(&rule);
  } else if (keyword == "SearchRule") {
    if (count < 3 || !ruleSet) return;
    SearchRule* rule = ruleSet->FindRule(pieces[1]);
    if (!rule) return;
    kvaro::QStringList names;
    names.SetSplitString(pieces[2], ',');
    for (const std::string& n : names)
      if (const SearchRule* searchable = ruleSet->FindRule(n)) rule->AddSearchableRule(searchable);
  } else if (keyword == "Form") {
    if (count != 2 || !ruleSet) return;
    config_.searchForms.push_back(std::make_unique<SearchForm>(pieces[1], ruleSet));
    config_.currentForm = config_.searchForms.back().get();
  } else if (keyword == "FormTipString" || keyword == "FormHelpString") {
    if (!config_.currentForm || count < 2) return;
    // The text is everything after the first colon, so a text that itself holds a
    // colon reads back as it was written.
    const std::string value(kvaro::Trim(line.substr(line.find(':') + 1)));
    (keyword == "FormTipString" ? config_.currentForm->toolTip : config_.currentForm->helpString) =
        value;
  } else if (keyword == "FormFieldGroup") {
    if (count != 3 || !config_.currentForm || !ruleSet) return;
    SearchRule* rule = ruleSet->FindRule(pieces[2]);
    if (!rule) return;
    auto* group = new InputGroup(pieces[1], rule);
    config_.currentGroup = group;
    SearchForm* form = config_.currentForm;
    if (!form->targetGroup) {
      form->SetTargetGroup(group);
    } else {
      form->AddInputGroup(group);
    }
  } else if (keyword == "FormField") {
    if (count != 3 || !config_.currentGroup) return;
    kvaro::QStringList names;
    names.SetSplitString(pieces[2], ',');
    std::vector<std::string> known;
    for (const std::string& n : names)
      if (table_.str2at(n)) known.push_back(n);
    config_.currentGroup->AddField(pieces[1], "", known);
  }
}

// ---- Writing ----

bool RuleSet::WriteText(std::string& out) const {
  if (!Check()) return false;
  out += "RuleSet: " + name + "\n";
  for (const auto& rule : rules) rule->WriteText(out);
  out += "\n";
  return true;
}

bool SearchRule::WriteText(std::string& out) const {
  if (!Check()) return false;
  if (ruleType == RuleTypeEntryPoint) {
    out += "Base: " + name + " : " + ldapUri + "\n";
  } else {
    out += "Class: " + name + " : " + kvaro::Join(objectClasses, ", ") + "\n";
  }
  if (!searchableRules.empty()) {
    std::vector<std::string> names;
    for (const auto& r : searchableRules) names.push_back(r->name);
    out += "SearchRule: " + name + " : " + kvaro::Join(names, ", ") + "\n";
  }
  return true;
}

bool SearchForm::WriteText(std::string& out) const {
  if (!Check()) return false;
  out += "Form: " + name + "\n";
  out += "FormTipString: " + toolTip + "\n";
  out += "FormHelpString: " + helpString + "\n";
  targetGroup->WriteText(out);
  for (const auto& group : inputGroups)
    if (!group->WriteText(out)) break;
  return true;
}

bool InputGroup::WriteText(std::string& out) const {
  if (!Check()) return false;
  out +=
      "FormFieldGroup : " + name + " : " + (searchRule ? searchRule->name : std::string()) + "\n";
  for (const auto& field : fields)
    if (!field->WriteText(out)) return false;
  return true;
}

bool InputField::WriteText(std::string& out) const {
  if (!Check()) return false;
  out += "FormField: " + name + " : " + kvaro::Join(filterAttributes, ", ") + "\n";
  return true;
}

namespace {

// The text of one file, with the forms of the rule set given in their list order.
bool FileText(const RuleSet& ruleSet, const std::vector<const SearchForm*>& forms,
              std::string& out) {
  if (!ruleSet.WriteText(out)) return false;
  for (const SearchForm* form : forms)
    if (!form->WriteText(out)) return false;
  return true;
}

// The forms of every rule set, in searchForms order, found in one walk of the list.
std::unordered_map<const RuleSet*, std::vector<const SearchForm*>> FormsBySet(
    const Configuration& configuration) {
  std::unordered_map<const RuleSet*, std::vector<const SearchForm*>> forms;
  for (const auto& form : configuration.searchForms) forms[form->ruleSet].push_back(form.get());
  return forms;
}

}  // namespace

bool RuleSetFileText(const Configuration& configuration, const RuleSet& ruleSet, std::string& out) {
  std::vector<const SearchForm*> forms;
  for (const auto& form : configuration.searchForms)
    if (form->ruleSet == &ruleSet) forms.push_back(form.get());
  return FileText(ruleSet, forms, out);
}

std::string RuleSetFileName(const std::string& ruleSetName) {
  return std::string(kRuleSetFilePrefix) + ruleSetName;
}

// ---- The local store ----

int Configuration::LoadFromFiles(const kvaro::Oidtable& table) {
  // The folder is named by path; the process's working folder is never changed.
  const fs::path folder =
      configurationDirectory.empty() ? fs::path(".") : fs::path(configurationDirectory);
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, kRuleSetFilePrefix.size(), kRuleSetFilePrefix) != 0) continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    names.push_back(name);
  }
  // Byte-wise order, so every start reads the files in the same order.
  std::sort(names.begin(), names.end());

  TemplateReader reader(*this, table);
  for (const std::string& name : names) {
    kvaro::LineReader file;
    if (!file.Open((folder / name).string())) continue;
    reader.Read(file);
  }
  if (!ruleSets.empty() && !searchForms.empty()) return 1;
  Clear();
  return 0;
}

std::string TextFormatProblem(const Configuration& configuration) {
  auto hasBreak = [](const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
  };
  auto badName = [&](const std::string& s) {
    return hasBreak(s) || s.find(':') != std::string::npos;
  };
  for (const auto& ruleSet : configuration.ruleSets) {
    const std::string& setName = ruleSet->name;
    if (badName(setName) ||
        (!setName.empty() && (setName.front() == ' ' || setName.back() == ' ' ||
                              setName.front() == '\t' || setName.back() == '\t')))
      return setName;
    for (const auto& rule : ruleSet->rules) {
      if (badName(rule->name) || rule->name.find(',') != std::string::npos) return rule->name;
      if (hasBreak(rule->ldapUri)) return rule->name;
      for (const auto& oc : rule->objectClasses)
        if (badName(oc) || oc.find(',') != std::string::npos) return rule->name;
    }
  }
  for (const auto& form : configuration.searchForms) {
    if (badName(form->name) || hasBreak(form->toolTip) || hasBreak(form->helpString))
      return form->name;
    std::vector<const InputGroup*> groups;
    if (form->targetGroup) groups.push_back(form->targetGroup.get());
    for (const auto& g : form->inputGroups) groups.push_back(g.get());
    for (const InputGroup* group : groups) {
      if (badName(group->name)) return group->name;
      for (const auto& field : group->fields) {
        if (badName(field->name)) return field->name;
        for (const auto& attr : field->filterAttributes)
          if (badName(attr) || attr.find(',') != std::string::npos) return field->name;
      }
    }
  }
  return {};
}

bool IsUsableRuleSetFileName(const std::string& ruleSetName) {
  return !ruleSetName.empty() && ruleSetName != "." && ruleSetName != ".." &&
         ruleSetName.find('/') == std::string::npos && ruleSetName.find('\0') == std::string::npos;
}

namespace {

// Runs every check a save needs before anything is written: the record checks in
// the order the files would be written, then the names. Shows the first failure.
bool CheckBeforeSave(
    const Configuration& configuration,
    const std::unordered_map<const RuleSet*, std::vector<const SearchForm*>>& formsBySet) {
  std::unordered_set<std::string> names;
  for (const auto& ruleSet : configuration.ruleSets) {
    if (!IsUsableRuleSetFileName(ruleSet->name)) {
      msg::Show(62100, {ruleSet->name}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
    if (!names.insert(ruleSet->name).second) {
      msg::Show(62102, {ruleSet->name}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
    if (!ruleSet->Check()) return false;
    for (const auto& rule : ruleSet->rules)
      if (!rule->Check()) return false;
    const auto forms = formsBySet.find(ruleSet.get());
    if (forms == formsBySet.end()) continue;
    for (const SearchForm* form : forms->second) {
      if (!form->Check()) return false;
      std::vector<const InputGroup*> groups{form->targetGroup.get()};
      for (const auto& g : form->inputGroups) groups.push_back(g.get());
      for (const InputGroup* group : groups) {
        if (!group->Check()) return false;
        for (const auto& field : group->fields)
          if (!field->Check()) return false;
      }
    }
  }
  const std::string problem = TextFormatProblem(configuration);
  if (!problem.empty()) {
    msg::Show(62101, {problem}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  return true;
}

// A file written under a temporary name in the target's folder, renamed over the
// target by Commit(). The temporary name never matches "RuleSet=*", so a file left
// behind by a crash is never loaded as configuration.
class PendingFile {
 public:
  explicit PendingFile(fs::path target) : target_(std::move(target)) {}
  ~PendingFile() { Discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file; false when the folder does not take new files.
  bool Create() {
    std::string pattern = (target_.parent_path() / ".orvelle-save-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    fd_ = fd;
    temp_ = pattern;
    // Same permissions as the file it replaces, or as a freshly created file would get.
    struct stat existing {};
    mode_t mode;
    if (::stat(target_.c_str(), &existing) == 0) {
      mode = existing.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
    return true;
  }

  // Writes all of `text` and closes the file; false on any failure. The data reaches
  // the disk with SyncFolder(), once for all files of a save.
  bool Write(std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text.remove_prefix(static_cast<size_t>(n));
    }
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

  bool Commit() {
    std::error_code ec;
    fs::rename(temp_, target_, ec);
    if (ec) return false;
    temp_.clear();
    return true;
  }

  void Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
      std::error_code ec;
      fs::remove(temp_, ec);
      temp_.clear();
    }
  }

  const fs::path& target() const { return target_; }

 private:
  fs::path target_;
  fs::path temp_;
  int fd_ = -1;
};

// Flushes everything written to the file system of `folder` to disk. One flush for the
// whole save costs one journal commit; a flush per file would cost one per rule set.
bool SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::syncfs(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool SaveToFiles(const Configuration& configuration) {
  const auto formsBySet = FormsBySet(configuration);
  if (!CheckBeforeSave(configuration, formsBySet)) return false;
  if (configuration.configurationDirectory.empty()) {
    msg::Show(62103, {}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  const fs::path folder = configuration.configurationDirectory;

  // Every file is written in full under a temporary name first; only when all of them
  // are written are they renamed into place.
  std::vector<std::unique_ptr<PendingFile>> pending;
  for (const auto& ruleSet : configuration.ruleSets) {
    auto file = std::make_unique<PendingFile>(folder / RuleSetFileName(ruleSet->name));
    if (!file->Create()) {
      msg::Show(62013, {file->target().string()}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
    std::string text;
    const auto forms = formsBySet.find(ruleSet.get());
    const bool written = FileText(
        *ruleSet, forms == formsBySet.end() ? std::vector<const SearchForm*>{} : forms->second,
        text);
    if (!written || !file->Write(text)) {
      msg::Show(62014, {file->target().string()}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
    pending.push_back(std::move(file));
  }
  // The new contents must be on disk before the renames replace the old files, or a
  // crash could leave empty files under the real names.
  if (!pending.empty() && !SyncFolder(folder)) {
    msg::Show(62014, {pending.front()->target().string()}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  for (auto& file : pending) {
    if (!file->Commit()) {
      msg::Show(62014, {file->target().string()}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
  }
  return true;
}
