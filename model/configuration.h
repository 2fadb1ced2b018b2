// The configuration and its records: rule sets of search rules, and search forms with
// input groups and input fields. Plain C++; names are narrow (UTF-8) strings compared
// byte-wise. Every record's Check() returns what keeps the record from being stored (a
// message id with its arguments); the caller shows it. The model shows no message.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/support/messageids.h"
#include "platform/support/messages.h"

namespace ldapx {
class Connection;
}
namespace kvaro {
class Oidtable;
}

class RuleSet;
class SearchRule;
class SearchForm;
class InputGroup;
class InputField;

// The kinds of named records, for the name rules below.
enum class NameKind { RuleSet, Rule, Form, InputGroup, InputField };
// Where a name must be storable: in the text files, in the directory, or in both (what a
// name typed in the editor must satisfy, so the configuration can be saved anywhere).
enum class NameStore { Text, Directory, Any };

// True when `store` can hold `name` as the name of a record of `kind` and give it back
// unchanged. Every name: no blank (space or tab) at either end, no ":" (the text format
// splits lines at it), no line break or NUL. Rule names: no "," (lists of rule names in
// the text format). For the directory also: not empty, no control character, and rule,
// input group and input field names no "$" (the directory's lists split at it). Rule-set
// names must also make a file name: not empty, not "." or "..", no "/", and "RuleSet=" +
// name at most 255 bytes.
bool IsStorableName(NameKind kind, std::string_view name, NameStore store = NameStore::Any);

// What a rule is: an entry point (an LDAP URI where searches start) or a search rule
// (entries denoted by object classes). The values are those the stores write.
enum RuleType : int { RuleTypeEntryPoint = 0, RuleTypeSearchRule = 1 };

class SearchRule {
 public:
  // An entry point: references to `searchable` go into searchableRules.
  SearchRule(RuleSet* owner, std::string name, const std::vector<SearchRule*>& searchable,
             std::string uri);
  // A search rule denoting entries by object classes.
  SearchRule(RuleSet* owner, std::string name, const std::vector<SearchRule*>& searchable,
             std::vector<std::string> objectClasses);
  // Copies name, owner and type; an entry point copies its URI (and no searchable
  // rules), a search rule its object classes and its references to searchable rules.
  SearchRule(const SearchRule& other);
  SearchRule& operator=(const SearchRule&) = delete;
  virtual ~SearchRule();

  // Nothing keeps a rule from being stored.
  msg::Outcome Check() const { return {}; }
  int GetLdapUri(std::string& out) const;
  int SetLdapUri(const std::string& uri);
  // 0 when a rule of that name is already searchable; else stores a reference to it and
  // returns 1.
  int AddSearchableRule(const SearchRule* rule);
  int RemoveSearchableRule(const std::string& name);
  void GetSearchableRules(std::vector<SearchRule*>& out) const;
  void GetObjectClasses(std::vector<std::string>& out) const;
  int AddObjectClass(const std::string& name);
  int RemoveObjectClass(const std::string& name);
  // Appends the record's text lines (see templatefile.h); writes nothing and returns the
  // problem when the check of this record or of one it holds fails.
  msg::Outcome WriteText(std::string& out) const;
  // The two parts of that text: the "Base" or "Class" line, and the "SearchRule" line
  // (nothing when no rule is searchable). A rule set writes all definitions first.
  void WriteDefinitionText(std::string& out) const;
  void WriteSearchableText(std::string& out) const;

  std::string name;
  RuleType ruleType = RuleTypeSearchRule;
  std::string ldapUri;
  std::vector<std::string> objectClasses;
  // The rules (of the same set) this rule can search for. Only their names are used, so
  // each entry is a reference by name: a record holding the rule's name, type and owner
  // and nothing else, never searchable rules of its own. Copying a rule therefore costs
  // one small record per link, however the rules search each other.
  std::vector<std::unique_ptr<SearchRule>> searchableRules;
  RuleSet* ownerRuleSet = nullptr;

  // A reference by name to `rule`, as searchableRules holds them.
  static std::unique_ptr<SearchRule> ReferenceTo(const SearchRule& rule);
};

class RuleSet {
 public:
  explicit RuleSet(std::string name, std::vector<std::unique_ptr<SearchRule>> rules = {});
  RuleSet(const RuleSet&) = delete;
  RuleSet& operator=(const RuleSet&) = delete;
  virtual ~RuleSet();

  // Nothing wrong when the set holds a rule; else message 61281.
  msg::Outcome Check() const;
  SearchRule* FindRule(const std::string& name) const;
  // 0 when a rule of the same name exists; else appends a copy of `rule` and returns 1.
  // The caller keeps `rule`.
  int AddRule(const SearchRule* rule);
  void GetRules(std::vector<SearchRule*>& out) const;
  // Appends the record's text lines (see templatefile.h); writes nothing and returns the
  // problem when the check of this record or of one it holds fails.
  msg::Outcome WriteText(std::string& out) const;

  std::string name;
  std::vector<std::unique_ptr<SearchRule>> rules;
};

class InputField {
 public:
  InputField(std::string name, std::string defaultValue, std::vector<std::string> filterAttributes);
  virtual ~InputField() = default;

  int AddFilterAttribute(const std::string& name);
  int RemoveFilterAttribute(const std::string& name);
  void GetFilterAttributes(std::vector<std::string>& out) const;
  // Nothing wrong when the field has a filter attribute; else message 61260.
  msg::Outcome Check() const;
  // Appends the record's text lines (see templatefile.h); writes nothing and returns the
  // problem when the check of this record or of one it holds fails.
  msg::Outcome WriteText(std::string& out) const;

  std::string name;
  std::string defaultValue;
  std::vector<std::string> filterAttributes;
};

class InputGroup {
 public:
  InputGroup(std::string name, SearchRule* searchRule,
             std::vector<std::unique_ptr<InputField>> fields = {});
  InputGroup(const InputGroup&) = delete;
  InputGroup& operator=(const InputGroup&) = delete;
  virtual ~InputGroup();

  // Nothing wrong when the group has a field; else message 61262.
  msg::Outcome Check() const;
  InputField* FindField(const std::string& name) const;
  int AddField(const std::string& name, const std::string& defaultValue,
               const std::vector<std::string>& attributes);
  int RemoveField(const std::string& name);
  // Appends the record's text lines (see templatefile.h); writes nothing and returns the
  // problem when the check of this record or of one it holds fails.
  msg::Outcome WriteText(std::string& out) const;

  std::string name;
  SearchRule* searchRule = nullptr;
  std::vector<std::unique_ptr<InputField>> fields;
};

class SearchForm {
 public:
  SearchForm(std::string name, RuleSet* ruleSet, std::unique_ptr<InputGroup> targetGroup = nullptr,
             std::vector<std::unique_ptr<InputGroup>> inputGroups = {});
  SearchForm(const SearchForm&) = delete;
  SearchForm& operator=(const SearchForm&) = delete;
  virtual ~SearchForm();

  // Nothing wrong when the form has a target group; else message 61265.
  msg::Outcome Check() const;
  // Destroys the current target group and takes `group` over.
  void SetTargetGroup(std::unique_ptr<InputGroup> group);
  // 0 when this very group is already held (it stays held once); else takes it over and
  // returns 1.
  int AddInputGroup(std::unique_ptr<InputGroup> group);
  // Removes and destroys the first further group named `name` (never the target).
  int RemoveInputGroup(const std::string& name);
  // Removes and destroys this very group (a further group, not the target); 0 when absent.
  int RemoveInputGroup(const InputGroup* group);
  void GetInputGroups(std::vector<InputGroup*>& out) const;
  // Appends the record's text lines (see templatefile.h); writes nothing and returns the
  // problem when the check of this record or of one it holds fails.
  msg::Outcome WriteText(std::string& out) const;

  const std::string& GetName() const { return name; }
  RuleSet* GetRuleSet() const { return ruleSet; }
  InputGroup* GetTargetGroup() const { return targetGroup.get(); }
  std::string& GetToolTip() { return toolTip; }
  std::string& GetHelpString() { return helpString; }

  std::string name;
  RuleSet* ruleSet = nullptr;
  std::unique_ptr<InputGroup> targetGroup;
  std::vector<std::unique_ptr<InputGroup>> inputGroups;
  std::string toolTip;
  std::string helpString;
};

// What Configuration::Load() and its directory hook return.
// A configuration was loaded.
inline constexpr int kLoaded = 1;
// No configuration is there (or no server is configured): the set-up wizard may make one.
inline constexpr int kNothingLoaded = 0;
// A configuration is there but could not be read; it must not be replaced.
inline constexpr int kLoadUnreadable = -1;
// The administrator ended the load (Cancel in the logon dialog): the program ends.
inline constexpr int kLoadCancelled = -2;

// Where the configuration is kept; the settings file names these "file" and "ldap".
enum class StartupMode { kFiles, kDirectory };

// Where a configuration is kept and how it is reached: what the settings hold (the
// start-up mode, the folder, the server and how its connection is protected), the
// credentials and the open connection. The records do not depend on it.
struct Session {
  // Where the configuration is kept: in the directory or in local files.
  StartupMode startupMode = StartupMode::kFiles;
  std::string serverAddress;
  int serverPort = 0;
  // How the connection to the server is protected, as the settings name it: "none",
  // "starttls" or "ldaps"; and the file of the certificates that are trusted to sign the
  // server's certificate (empty: the system's store).
  std::string serverSecurity = "none";
  std::string caCertificateFile;
  std::string subtreeDn;
  std::string bindDn;
  std::string bindPassword;
  // The open, bound connection (owned here so it is closed at exit).
  std::shared_ptr<ldapx::Connection> connection;
  std::string configurationDirectory;
};

// The records (rule sets and search forms) with the session they are kept by. Code that
// needs only the session (the settings, the logon) takes a Session.
class Configuration : public Session {
 public:
  Configuration();
  Configuration(const Configuration&) = delete;
  Configuration& operator=(const Configuration&) = delete;
  virtual ~Configuration();

  // What Load() calls: the settings read (returns 1 when the settings were read) and the
  // directory load (kLoaded, kNothingLoaded or kLoadCancelled). The application supplies
  // both.
  struct LoadHooks {
    std::function<int(Configuration&)> readSettings;
    std::function<int(Configuration&)> loadFromDirectory;
  };
  // Reads the settings, then loads from the directory (StartupMode::kDirectory) or from the local
  // files. kLoaded when a configuration was loaded; kLoadUnreadable from the local files
  // when one could not be read (see LoadFromFiles); kLoadCancelled when the directory
  // hook says the administrator cancelled. The local files' problems go to *problems.
  int Load(const LoadHooks& hooks, const kvaro::Oidtable& table, msg::Problems* problems);
  // Reads every "RuleSet=*" file of configurationDirectory (see templatefile.h); 1 when
  // the result has at least one rule set and one form, else clears and returns 0 (no
  // configuration). -1 when a "RuleSet=" file could not be read whole: the configuration
  // there must not be replaced by a new one. What the caller should show (the file and
  // the system's reason; files that are not regular files) is appended to *problems when
  // given.
  int LoadFromFiles(const kvaro::Oidtable& table, msg::Problems* problems = nullptr);

  // Destroys every rule set and form; the session stays.
  void Clear();
  RuleSet* FindRuleSet(const std::string& name) const;
  // Takes the rule set (form) out of the list without destroying it; the caller owns it.
  std::unique_ptr<RuleSet> DetachRuleSet(RuleSet* ruleSet);
  std::unique_ptr<SearchForm> DetachForm(SearchForm* form);
  // The forms whose ruleSet is `ruleSet`, in list order.
  std::vector<SearchForm*> FormsUsing(const RuleSet* ruleSet) const;

  std::vector<std::unique_ptr<RuleSet>> ruleSets;
  std::vector<std::unique_ptr<SearchForm>> searchForms;
  // The attribute table the configuration was loaded with, when known (not owned). A save
  // to text refuses object-class and attribute-type names it does not know, since reading
  // the text back would drop them.
  const kvaro::Oidtable* oidtable = nullptr;
};
