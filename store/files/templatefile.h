// The line-oriented text format of templates and local configuration files.
//
//   RuleSet: People
//   Base: Root : ldap://dirhost:389/o=Sample
//   Class: Person : person
//   SearchRule: Root : Person
//   Form: Find a person
//   FormTipString: ...
//   FormHelpString: ...
//   FormFieldGroup : Person details : Person
//   FormField: Name : cn, sn
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/configuration.h"
#include "store/files/folderversion.h"

namespace kvaro {
class Oidtable;
class LineReader;
}  // namespace kvaro

// Where a reader puts the lines that follow: the rule set, form and input group named last
// (null before the first). They carry over from one text to the next read by the same
// reader.
struct ReaderCursors {
  RuleSet* ruleSet = nullptr;
  SearchForm* form = nullptr;
  InputGroup* group = nullptr;
};

struct DroppedLine {
  size_t line = 0;   // from 1
  std::string text;  // without its indentation
  int reason = 0;    // msg::id::kDrop...
  std::string detail;
};

// Reads text into a configuration's rule sets and forms, using and moving its own cursors.
// Never fails and never shows a message: lines it cannot use are skipped, and noted
// (dropped()). Records are found and added through the model's name indexes, so reading
// is linear in the text.
class TemplateReader {
 public:
  TemplateReader(Configuration& configuration, const kvaro::Oidtable& table);

  // The cursors after the texts read so far.
  const ReaderCursors& cursors() const { return cursors_; }
  // The lines of the last text read that were not read, or not wholly, in line order
  // within each pass (extra lines are not counted).
  const std::vector<DroppedLine>& dropped() const { return dropped_; }

  // Reads an open file once, then runs the four passes over its lines ("RuleSet" lines;
  // the extra lines; "Class" lines; everything). `extraLines` are handled as if they
  // stood in the file after its "RuleSet" line.
  void Read(kvaro::LineReader& file, const std::vector<std::string>& extraLines = {});
  // The same for text held in memory. A UTF-8 byte-order mark at its start is ignored.
  void ReadText(std::string_view text, const std::vector<std::string>& extraLines = {});

 private:
  enum class Pass { RuleSetOnly, ClassOnly, All };
  void ReadLines(const std::vector<std::string_view>& lines,
                 const std::vector<std::string>& extraLines);
  void HandleLine(std::string_view line, Pass pass, size_t number);
  // Notes that the line being handled was not read, or not wholly (see dropped()).
  void Drop(int reason, std::string detail = {});

  Configuration& config_;
  const kvaro::Oidtable& table_;
  ReaderCursors cursors_;
  // The line being handled (its number from 1; 0 while nothing is to be told of it).
  size_t line_ = 0;
  std::string_view text_;
  std::vector<DroppedLine> dropped_;
  // The line ("Class" or "Base") each rule of the text being read was made from.
  std::unordered_map<const SearchRule*, size_t> ruleLines_;
};

// The text of each record, appended to `out`: what the reader reads back as the record.
// Writes nothing and returns the problem when the check of the record, or of one it
// holds, fails. A rule set writes its rules' definitions ("Class" and "Base" lines, in
// the set's order) before their "SearchRule" lines; a form its target group first.
msg::Outcome WriteText(const RuleSet& ruleSet, std::string& out);
msg::Outcome WriteText(const SearchRule& rule, std::string& out);
msg::Outcome WriteText(const SearchForm& form, std::string& out);
msg::Outcome WriteText(const InputGroup& group, std::string& out);
msg::Outcome WriteText(const InputField& field, std::string& out);
// The two parts of a rule's text: the "Base" or "Class" line, and the "SearchRule" line
// (nothing when no rule is searchable).
void WriteDefinitionText(const SearchRule& rule, std::string& out);
void WriteSearchableText(const SearchRule& rule, std::string& out);

// The text of one local configuration file: the rule set's text, then the text of every
// form whose ruleSet is it, in searchForms order. Writes nothing and returns the problem
// when a record fails its check.
msg::Outcome RuleSetFileText(const Configuration& configuration, const RuleSet& ruleSet,
                             std::string& out);

// "RuleSet=" + name.
std::string RuleSetFileName(const std::string& ruleSetName);

// True when the text has a "RuleSet" line (as the reader takes one: the keyword, a colon
// and a name that is not empty), which makes a "RuleSet=" file a configuration file. Other files
// under such a name (notes, text in another encoding, a first line with a typing error) are not
// read and never written over or removed by a save.
bool HoldsRuleSet(std::string_view text);

// True when "RuleSet=" + name names a file inside the configuration folder: the name is
// not empty, not "." or "..", holds no "/" and no NUL, and the file name is at most 255
// bytes long.
bool IsUsableRuleSetFileName(const std::string& ruleSetName);

// The first record whose text would not read back as it is, as "rule set > rule" or
// "form > group > field" (names of the records that hold it first), and in `reasonId`
// the string-table id of the reason. Empty when the whole configuration can be written
// and read back unchanged (rules come back search rules first, then entry points, in
// their order; nothing else moves).
std::string TextFormatProblem(const Configuration& configuration, int* reasonId = nullptr);

// The largest "RuleSet=" file a load reads (64 MB); a larger one fails the load.
inline constexpr size_t kMaxRuleSetFileSize = size_t(64) << 20;

// Reads the file at `path` whole into `text`, the way a load reads a "RuleSet=" file:
// only a regular file (or a link to one) of at most kMaxRuleSetFileSize bytes, opened so
// that a FIFO or device can never block the read.
enum class FileRead { Ok, NotRegular, Failed };
FileRead ReadRegularFile(const std::string& path, std::string& text, int& error);

// How many "RuleSet=" files the folder holds that a save into it would replace or
// remove: the regular files (or links to them) that hold a rule set (HoldsRuleSet). Sets
// `count` and returns 0; a folder that does not exist holds none. Otherwise returns the
// system's error number (the folder cannot be opened or listed, or such a file cannot
// be read).
int CountRuleSetFiles(const std::string& folder, size_t& count);

// Saves the configuration as local files in `folder`, all or nothing:
// every record is checked first; the files are written into a new folder beside it
// together with links to every file of the folder that is not a "RuleSet=" file, flushed
// to disk, and the new folder takes the old one's place in one exchange of the two
// folders. "RuleSet=" files of rule sets no longer in the configuration are gone
// afterwards; every other file stays. Where the file system cannot exchange folders,
// the files are renamed into the folder one by one and a failure puts the old ones
// back. One save at a time per folder: a second waits up to 10 s, then fails. On failure
// returns the one message that says why (with the system's reason), for the caller to
// show.
//
// Only files whose text changes are written; the others keep their inode and times, and
// a save that changes nothing touches nothing. Without `loaded` the folder is made to
// hold exactly this configuration's files. With `loaded` (the state LoadFromFiles gave
// for this configuration, or the last save's) the save writes only what changed since
// then: files of rule sets whose text differs from `loaded` are written, those in
// `loaded` but no longer in the configuration are removed, and every other file is left
// as it is, also one that someone else wrote meanwhile. When a file the save would write
// or remove was changed, added or removed by someone else since `loaded`, nothing is
// written and the message names those files. After a save `*loaded` is the state this
// save left.
msg::Outcome SaveToFiles(const Configuration& configuration, const std::string& folder,
                         localfiles::FolderState* loaded = nullptr);
