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

#include <string>
#include <string_view>
#include <vector>

#include "configuration.h"

namespace kvaro {
class Oidtable;
class LineReader;
}  // namespace kvaro

// Reads text into a configuration's rule sets and forms, using and moving its reader
// cursors. Never fails and never shows a message: lines it cannot use are skipped.
class TemplateReader {
 public:
  TemplateReader(Configuration& configuration, const kvaro::Oidtable& table);

  // Reads an open file in four passes ("RuleSet" lines; the extra lines; "Class" lines;
  // everything). `extraLines` are handled as if they stood in the file after its
  // "RuleSet" line.
  void Read(kvaro::LineReader& file, const std::vector<std::string>& extraLines = {});
  // The same for text held in memory.
  void ReadText(std::string_view text, const std::vector<std::string>& extraLines = {});

 private:
  enum class Pass { RuleSetOnly, ClassOnly, All };
  void HandleLine(std::string_view line, Pass pass);

  Configuration& config_;
  const kvaro::Oidtable& table_;
};

// The text of one local configuration file: the rule set's text, then the text of every
// form whose ruleSet is it, in searchForms order. False (after the check's message)
// when a record fails its check.
bool RuleSetFileText(const Configuration& configuration, const RuleSet& ruleSet, std::string& out);

// "RuleSet=" + name.
std::string RuleSetFileName(const std::string& ruleSetName);

// True when "RuleSet=" + name names a file inside the configuration folder: the name is
// not empty, not "." or "..", and holds no "/" and no NUL.
bool IsUsableRuleSetFileName(const std::string& ruleSetName);

// The name of the first record whose text would not read back as it is: a name with a
// ":" or a line break (rule set names also with blanks at either end), a rule,
// object-class or attribute name with a ",", a tool tip, help text or URI with a line
// break. Empty when the whole configuration can be written.
std::string TextFormatProblem(const Configuration& configuration);

// Saves the configuration as local files in configurationDirectory. Every record is
// checked before any file is touched, and every file is written to a temporary file in
// the same folder and renamed into place, so a refused or failed save leaves every
// existing file as it was. Shows one message and returns false on failure.
bool SaveToFiles(const Configuration& configuration);
