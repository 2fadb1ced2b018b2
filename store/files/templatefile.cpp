#include "store/files/templatefile.h"

#include <algorithm>

#include "platform/support/linereader.h"
#include "platform/support/messageids.h"
#include "platform/support/oidtable.h"
#include "platform/support/qstringlist.h"

namespace {

constexpr std::string_view kRuleSetFilePrefix = "RuleSet=";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The lines of `text`, without their line ends ("\n" or "\r\n"), as views into it.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

// The keyword of a line as the splitting would give it: up to the first ":", trimmed.
std::string_view Keyword(std::string_view line) {
  return kvaro::Trim(line.substr(0, line.find(':')));
}

}  // namespace

// ---- Reading ----

TemplateReader::TemplateReader(Configuration& configuration, const kvaro::Oidtable& table)
    : config_(configuration), table_(table) {}

void TemplateReader::Read(kvaro::LineReader& file, const std::vector<std::string>& extraLines) {
  // Read once: a file that changes while it is read cannot give the passes different text.
  std::string text;
  std::string line;
  file.Rewind();
  while (file.ReadExtendedString(line) == 1) {
    text += line;
    text += '\n';
  }
  ReadText(text, extraLines);
}

void TemplateReader::ReadText(std::string_view text, const std::vector<std::string>& extraLines) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  ReadLines(SplitLines(text), extraLines);
}

void TemplateReader::ReadLines(const std::vector<std::string_view>& lines,
                               const std::vector<std::string>& extraLines) {
  // Each text stands on its own: a line before the text's own "RuleSet", "Form" or
  // "FormFieldGroup" line must not land in a record of a text read earlier.
  cursors_ = {};
  dropped_.clear();
  ruleLines_.clear();
  for (std::string_view line : lines) HandleLine(line, Pass::RuleSetOnly, 0);
  std::unordered_map<const RuleSet*, size_t> rulesBefore;
  for (const auto& ruleSet : config_.ruleSets) rulesBefore[ruleSet.get()] = ruleSet->rules.size();
  for (const std::string& extra : extraLines) HandleLine(extra, Pass::All, 0);
  for (size_t i = 0; i < lines.size(); ++i) HandleLine(lines[i], Pass::ClassOnly, i + 1);
  for (size_t i = 0; i < lines.size(); ++i) HandleLine(lines[i], Pass::All, i + 1);
  // The passes make the search rules before the entry points, so that references find
  // them; the rules this text made are put back in the order of their lines (an extra
  // line's first), which is the order they were written in.
  for (const auto& ruleSet : config_.ruleSets) {
    const auto before = rulesBefore.find(ruleSet.get());
    auto& rules = ruleSet->rules;
    const size_t from = before == rulesBefore.end() ? 0 : std::min(before->second, rules.size());
    const auto lineOf = [this](const std::unique_ptr<SearchRule>& rule) {
      const auto found = ruleLines_.find(rule.get());
      return found == ruleLines_.end() ? size_t(0) : found->second;
    };
    if (std::is_sorted(rules.begin() + ptrdiff_t(from), rules.end(),
                       [&](const auto& a, const auto& b) { return lineOf(a) < lineOf(b); }))
      continue;
    std::stable_sort(rules.begin() + ptrdiff_t(from), rules.end(),
                     [&](const auto& a, const auto& b) { return lineOf(a) < lineOf(b); });
    ruleSet->ruleIndex.Invalidate();
  }
  ruleLines_.clear();
}

void TemplateReader::Drop(int reason, std::string detail) {
  if (line_ == 0) return;
  dropped_.push_back(DroppedLine{line_, std::string(text_), reason, std::move(detail)});
}

void TemplateReader::HandleLine(std::string_view rawLine, Pass pass, size_t number) {
  const size_t first = rawLine.find_first_not_of(" \t");
  if (first == std::string_view::npos) return;
  const std::string_view line = rawLine.substr(first);
  if (line.front() == '#') return;

  if (pass == Pass::RuleSetOnly && Keyword(line) != "RuleSet") return;
  if (pass == Pass::ClassOnly && Keyword(line) != "Class") return;

  kvaro::QStringList pieces;
  pieces.SetSplitString(line, ':');
  const std::string& keyword = pieces[0];
  const size_t count = pieces.size();
  // What a line loses is told once: "Class" lines in their own pass, where they make
  // their rules, every other line in the last pass.
  const bool tell = pass == Pass::ClassOnly || (pass == Pass::All && keyword != "Class");
  line_ = tell ? number : 0;
  text_ = line;

  // No store keeps a NUL (the directory would turn it into "\00"), so no record or text
  // is read from such a line.
  if (line.find('\0') != std::string_view::npos) return Drop(msg::id::kDropNul);

  RuleSet* ruleSet = cursors_.ruleSet;

  if (keyword == "RuleSet") {
    if (count < 2 || pieces[1].empty()) return Drop(msg::id::kDropNotFormat);
    // "RuleSet: a:b" has always been rule set "a"; the rest is named as left out.
    if (count > 2 && !kvaro::Trim(line.substr(line.find(':', line.find(':') + 1) + 1)).empty())
      Drop(msg::id::kDropRuleSetNameCut, pieces[1]);
    if (ruleSet && ruleSet->name == pieces[1]) return;
    // A rule set read from an earlier text goes on here (two files of one rule set).
    if (RuleSet* earlier = config_.FindRuleSet(pieces[1])) {
      cursors_.ruleSet = earlier;
      return;
    }
    cursors_.ruleSet = config_.AddRuleSet(std::make_unique<RuleSet>(pieces[1]));
  } else if (keyword == "Base") {
    if (count < 3) return Drop(msg::id::kDropNotFormat);
    if (!ruleSet) return Drop(msg::id::kDropNoRecord);
    std::vector<std::string> uriPieces(pieces.begin() + 2, pieces.end());
    if (SearchRule* made = ruleSet->AddRule(std::make_unique<SearchRule>(
            ruleSet, pieces[1], std::vector<SearchRule*>{}, kvaro::Join(uriPieces, ":"))))
      ruleLines_[made] = number;
    else
      Drop(msg::id::kDropSameName);
  } else if (keyword == "Class") {
    if (count != 3) return Drop(msg::id::kDropNotFormat);
    if (!ruleSet) return Drop(msg::id::kDropNoRecord);
    kvaro::QStringList names;
    names.SetSplitString(pieces[2], ',');
    std::vector<std::string> known, unknown;
    for (const std::string& n : names) (table_.str2oc(n) ? known : unknown).push_back(n);
    if (!unknown.empty()) Drop(msg::id::kDropUnknownNames, kvaro::Join(unknown, ", "));
    if (known.empty()) return;
    if (SearchRule* made = ruleSet->AddRule(std::make_unique<SearchRule>(
            ruleSet, pieces[1], std::vector<SearchRule*>{}, std::move(known))))
      ruleLines_[made] = number;
    else
      Drop(msg::id::kDropSameName);
  } else if (keyword == "SearchRule") {
    if (count < 3) return Drop(msg::id::kDropNotFormat);
    if (!ruleSet) return Drop(msg::id::kDropNoRecord);
    SearchRule* rule = ruleSet->FindRule(pieces[1]);
    if (!rule) return Drop(msg::id::kDropNoRule, pieces[1]);
    kvaro::QStringList names;
    names.SetSplitString(pieces[2], ',');
    std::vector<SearchRule*> found;
    std::vector<std::string> missing;
    for (const std::string& n : names) {
      if (SearchRule* searchable = ruleSet->FindRule(n)) {
        found.push_back(searchable);
      } else {
        missing.push_back(n);
      }
    }
    rule->AddSearchableRules(found);
    if (!missing.empty()) Drop(msg::id::kDropNoRule, kvaro::Join(missing, ", "));
  } else if (keyword == "Form") {
    // The lines after a form line that is not read belong to no form and no group.
    cursors_.form = nullptr;
    cursors_.group = nullptr;
    if (count != 2) return Drop(msg::id::kDropNotFormat);
    if (!ruleSet) return Drop(msg::id::kDropNoRecord);
    // Forms are found by name (and stored under it in the directory): a second form of a
    // name read before, from this text or another file of the same rule set, is not read.
    cursors_.form = config_.AddForm(std::make_unique<SearchForm>(pieces[1], ruleSet));
    if (!cursors_.form) return Drop(msg::id::kDropSameName);
  } else if (keyword == "FormTipString" || keyword == "FormHelpString") {
    if (count < 2) return Drop(msg::id::kDropNotFormat);
    if (!cursors_.form) return Drop(msg::id::kDropNoRecord);
    // The text is everything after the first colon, so a text that itself holds a
    // colon reads back as it was written.
    const std::string value(kvaro::Trim(line.substr(line.find(':') + 1)));
    (keyword == "FormTipString" ? cursors_.form->toolTip : cursors_.form->helpString) = value;
  } else if (keyword == "FormFieldGroup") {
    // The fields of a group that is not read are not read either.
    cursors_.group = nullptr;
    if (count != 3) return Drop(msg::id::kDropNotFormat);
    if (!cursors_.form || !ruleSet) return Drop(msg::id::kDropNoRecord);
    SearchRule* rule = ruleSet->FindRule(pieces[2]);
    if (!rule) return Drop(msg::id::kDropNoRule, pieces[2]);
    auto group = std::make_unique<InputGroup>(pieces[1], rule);
    cursors_.group = group.get();
    SearchForm* form = cursors_.form;
    if (!form->targetGroup) {
      form->SetTargetGroup(std::move(group));
    } else {
      // A group made just now cannot be in the list yet (AddInputGroup's only refusal).
      form->inputGroups.push_back(std::move(group));
    }
  } else if (keyword == "FormField") {
    if (count != 3) return Drop(msg::id::kDropNotFormat);
    if (!cursors_.group) return Drop(msg::id::kDropNoRecord);
    InputGroup* group = cursors_.group;
    // A name already in the group adds nothing.
    if (group->FindField(pieces[1])) return Drop(msg::id::kDropSameName);
    kvaro::QStringList names;
    names.SetSplitString(pieces[2], ',');
    std::vector<std::string> known, unknown;
    for (const std::string& n : names) (table_.str2at(n) ? known : unknown).push_back(n);
    if (!unknown.empty()) Drop(msg::id::kDropUnknownNames, kvaro::Join(unknown, ", "));
    group->AddField(std::make_unique<InputField>(pieces[1], "", std::move(known)));
  } else {
    Drop(msg::id::kDropNotFormat);
  }
}

bool HoldsRuleSet(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  // Line by line up to the first "RuleSet" line, usually the first line: a load asks this
  // of every file before reading it.
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || Keyword(line) != "RuleSet") continue;
    // The name, up to the next colon, as the reader splits the line.
    std::string_view name = line.substr(colon + 1);
    name = kvaro::Trim(name.substr(0, name.find(':')));
    if (!name.empty()) return true;
  }
  return false;
}

// ---- Writing ----

msg::Outcome WriteText(const RuleSet& ruleSet, std::string& out) {
  if (msg::Outcome checked = ruleSet.Check(); !checked) return checked;
  out += "RuleSet: " + ruleSet.name + "\n";
  // The reader finds a searchable rule only once every definition has been read, and
  // puts the rules in the order of their definition lines. So the definitions come in
  // the set's order, then every "SearchRule" line: the text reads back with the same
  // rules, links and order, and writing it again gives the same text.
  for (const auto& rule : ruleSet.rules) WriteDefinitionText(*rule, out);
  for (const auto& rule : ruleSet.rules) WriteSearchableText(*rule, out);
  out += "\n";
  return {};
}

void WriteDefinitionText(const SearchRule& rule, std::string& out) {
  if (rule.ruleType == RuleTypeEntryPoint) {
    out += "Base: " + rule.name + " : " + rule.ldapUri + "\n";
  } else {
    out += "Class: " + rule.name + " : " + kvaro::Join(rule.objectClasses, ", ") + "\n";
  }
}

void WriteSearchableText(const SearchRule& rule, std::string& out) {
  if (rule.searchableRules.empty()) return;
  out += "SearchRule: " + rule.name + " : ";
  for (size_t i = 0; i < rule.searchableRules.size(); ++i) {
    if (i) out += ", ";
    out += rule.searchableRules[i]->name;
  }
  out += "\n";
}

msg::Outcome WriteText(const SearchRule& rule, std::string& out) {
  if (msg::Outcome checked = rule.Check(); !checked) return checked;
  WriteDefinitionText(rule, out);
  WriteSearchableText(rule, out);
  return {};
}

msg::Outcome WriteText(const SearchForm& form, std::string& out) {
  if (msg::Outcome checked = form.Check(); !checked) return checked;
  const size_t start = out.size();
  out += "Form: " + form.name + "\n";
  out += "FormTipString: " + form.toolTip + "\n";
  out += "FormHelpString: " + form.helpString + "\n";
  // A group that cannot be written fails the whole form: half a form must not pass for
  // the form.
  msg::Outcome written = WriteText(*form.targetGroup, out);
  for (size_t i = 0; written && i < form.inputGroups.size(); ++i)
    written = WriteText(*form.inputGroups[i], out);
  if (!written) out.resize(start);
  return written;
}

msg::Outcome WriteText(const InputGroup& group, std::string& out) {
  if (msg::Outcome checked = group.Check(); !checked) return checked;
  const size_t start = out.size();
  out += "FormFieldGroup : " + group.name + " : " +
         (group.searchRule ? group.searchRule->name : std::string()) + "\n";
  for (const auto& field : group.fields) {
    if (msg::Outcome written = WriteText(*field, out); !written) {
      out.resize(start);
      return written;
    }
  }
  return {};
}

msg::Outcome WriteText(const InputField& field, std::string& out) {
  if (msg::Outcome checked = field.Check(); !checked) return checked;
  out += "FormField: " + field.name + " : " + kvaro::Join(field.filterAttributes, ", ") + "\n";
  return {};
}

msg::Outcome RuleSetFileText(const Configuration& configuration, const RuleSet& ruleSet,
                             std::string& out) {
  const size_t start = out.size();
  msg::Outcome written = WriteText(ruleSet, out);
  for (const auto& form : configuration.searchForms) {
    if (!written) break;
    if (form->ruleSet == &ruleSet) written = WriteText(*form, out);
  }
  if (!written) out.resize(start);
  return written;
}

std::string RuleSetFileName(const std::string& ruleSetName) {
  return std::string(kRuleSetFilePrefix) + ruleSetName;
}

bool IsUsableRuleSetFileName(const std::string& ruleSetName) {
  return !ruleSetName.empty() && ruleSetName != "." && ruleSetName != ".." &&
         ruleSetName.find('/') == std::string::npos &&
         ruleSetName.find('\0') == std::string::npos &&
         kRuleSetFilePrefix.size() + ruleSetName.size() <= 255;
}

// ---- What the text can hold ----

namespace {

bool HasLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A single value after the first colon (tool tip, help text): read back trimmed.
bool ReadsBackAsText(std::string_view s) { return !HasLineBreak(s) && kvaro::Trim(s) == s; }

// A start point: split at every ":", each piece trimmed, joined again with ":".
bool ReadsBackAsUri(const std::string& uri) {
  if (HasLineBreak(uri)) return false;
  kvaro::QStringList pieces;
  pieces.SetSplitString(uri, ':');
  return kvaro::Join(pieces, ":") == uri;
}

// An element of a "," list that the attribute table must know.
bool ReadsBackAsListName(const std::string& s) {
  return !s.empty() && !HasLineBreak(s) && kvaro::Trim(s) == s &&
         s.find_first_of(":,") == std::string::npos;
}

}  // namespace

std::string TextFormatProblem(const Configuration& configuration, int* reasonId) {
  int ignored = 0;
  int& reason = reasonId ? *reasonId : ignored;
  const kvaro::Oidtable* table = configuration.oidtable;
  auto fail = [&reason](int id, std::string where) {
    reason = id;
    return where;
  };
  constexpr int kName = msg::id::kReasonName, kText = msg::id::kReasonText,
                kClasses = msg::id::kReasonClasses, kLink = msg::id::kReasonLink,
                kTwice = msg::id::kReasonTwice;

  // The rules of every rule set by name, as the reader finds them again.
  std::unordered_map<const RuleSet*, std::unordered_map<std::string_view, const SearchRule*>> saved;
  for (const auto& ruleSet : configuration.ruleSets) {
    const std::string& setName = ruleSet->name;
    if (!IsStorableName(NameKind::RuleSet, setName, NameStore::Text)) return fail(kName, setName);
    auto& byName = saved[ruleSet.get()];
    for (const auto& rule : ruleSet->rules) {
      const std::string where = setName + " > " + rule->name;
      if (!IsStorableName(NameKind::Rule, rule->name, NameStore::Text)) return fail(kName, where);
      if (!byName.emplace(rule->name, rule.get()).second) return fail(kTwice, where);
      if (rule->ruleType == RuleTypeEntryPoint) {
        if (!ReadsBackAsUri(rule->ldapUri)) return fail(kText, where);
      } else {
        if (rule->objectClasses.empty()) return fail(kClasses, where);
        for (const auto& oc : rule->objectClasses)
          if (!ReadsBackAsListName(oc) || (table && !table->str2oc(oc)))
            return fail(kClasses, where);
      }
    }
    for (const auto& rule : ruleSet->rules) {
      std::unordered_set<std::string_view> linked;
      for (const auto& searchable : rule->searchableRules)
        if (!byName.count(searchable->name) || !linked.insert(searchable->name).second)
          return fail(kLink, setName + " > " + rule->name);
    }
  }
  for (const auto& form : configuration.searchForms) {
    const std::string& formName = form->name;
    if (!IsStorableName(NameKind::Form, formName, NameStore::Text)) return fail(kName, formName);
    if (!ReadsBackAsText(form->toolTip) || !ReadsBackAsText(form->helpString))
      return fail(kText, formName);
    // A form is written into its rule set's file only.
    const auto rules = saved.find(form->ruleSet);
    if (rules == saved.end()) return fail(kLink, formName);
    std::vector<const InputGroup*> groups;
    if (form->targetGroup) groups.push_back(form->targetGroup.get());
    for (const auto& g : form->inputGroups) groups.push_back(g.get());
    for (const InputGroup* group : groups) {
      const std::string where = formName + " > " + group->name;
      if (!IsStorableName(NameKind::InputGroup, group->name, NameStore::Text))
        return fail(kName, where);
      // The group's rule is found again by name in the form's rule set.
      const auto rule =
          group->searchRule ? rules->second.find(group->searchRule->name) : rules->second.end();
      if (rule == rules->second.end() || rule->second != group->searchRule)
        return fail(kLink, where);
      std::unordered_set<std::string_view> fieldNames;
      for (const auto& field : group->fields) {
        const std::string fieldWhere = where + " > " + field->name;
        if (!IsStorableName(NameKind::InputField, field->name, NameStore::Text))
          return fail(kName, fieldWhere);
        if (!fieldNames.insert(field->name).second) return fail(kTwice, fieldWhere);
        for (const auto& attr : field->filterAttributes)
          if (!ReadsBackAsListName(attr) || (table && !table->str2at(attr)))
            return fail(kClasses, fieldWhere);
      }
    }
  }
  reason = 0;
  return {};
}
