// What a load (or the last save) of the configuration read from the directory, kept
// beside the configuration so that the next save can write only what changed and notice
// what someone else wrote meanwhile: per record, by its identity, the DN of its entry,
// a digest of what a save writes there and the entry's stored version.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"

namespace directory {

struct DirectoryState;

// The kinds of records, as their entries are told apart.
enum class RecordKind : char {
  RuleSet = 's',
  Rule = 'r',
  Form = 'f',
  Group = 'g',
  Field = 'i',
};

// A record as a save writes it: its entry's DN and attributes, where it sits, and the
// digest of its name and attributes.
struct RecordEntry {
  RecordId id = 0;
  RecordId parent = 0;  // 0: the configuration root
  RecordKind kind = RecordKind::RuleSet;
  std::string name;
  std::string dn;
  ldapx::ModList mods;
  std::uint64_t digest = 0;
  long parentIndex = -1;  // index of the parent in the same list; -1: the root
  std::string top;        // the name of the rule set or form the record belongs to
  RecordId ref = 0;       // the record it names: a form's rule set, a group's rule
};

// Every record of `configuration` below `rootDn`, parents before children: each rule set
// with its rules in order, then each form with its target group, further groups and
// their fields (the order of a whole save).
std::vector<RecordEntry> LayOutRecords(const Configuration& configuration,
                                       const std::string& rootDn);

// The digest of a record's name and attributes as LayOutRecords computes it.
std::uint64_t RecordDigest(std::string_view name, const ldapx::ModList& mods);

// What a load left of one record.
struct LoadedRecord {
  RecordId parent = 0;
  RecordKind kind = RecordKind::RuleSet;
  std::string name;
  std::string dn;
  std::uint64_t digest = 0;
  std::string stamp;  // the entry's version as DirectoryState keeps it
  std::string order;  // the value an assertion checks (entryCSN or entryUSN); may be empty
  std::string top;
  ldapx::ModList mods;  // the attributes as stored, to put back when a save is undone
  long position = 0;    // in the order of LayOutRecords
};

// Per record id: what identifies its stored version (LoadedRecord::digest, parent).
struct RecordMark {
  std::uint64_t digest = 0;
  RecordId parent = 0;
};
using RecordMarks = std::unordered_map<RecordId, RecordMark>;

// The marks of every record of `configuration`.
RecordMarks MarkRecords(const Configuration& configuration);

// Records added, changed (renamed or moved included) and removed from `marks` to
// `configuration`, by identity.
struct ChangeCounts {
  long added = 0, changed = 0, removed = 0;
  bool operator==(const ChangeCounts&) const = default;
};
ChangeCounts CountChanges(const RecordMarks& marks, const Configuration& configuration);

struct LoadedState {
  // False until a load or save filled it: the next save is a whole one.
  bool known = false;
  std::string rootDn;
  // The server's kind of versions (DirectoryState::kind) and whether it offers the
  // assertion control.
  char stampKind = 0;
  bool assertion = false;
  // True when a save of changes alone cannot keep the stored entries as a whole save
  // would leave them: entries below the root that became no record (`leftOut`), or
  // records without an entry of their own (two of one name).
  bool wholeOnly = false;
  std::vector<std::string> leftOut;
  std::unordered_map<RecordId, LoadedRecord> records;
};

// The state of `configuration` as stored below `rootDn` now, from `stored` (a read of the
// subtree's versions). `assertion`: whether the server offers the assertion control.
LoadedState CaptureState(const Configuration& configuration, const std::string& rootDn,
                         const DirectoryState& stored, bool assertion);

// `state`, captured with `stored`, made the state of `other` (a configuration loaded
// elsewhere): each record of `other` whose entry would have the DN of a record of
// `stored` takes that record's place, so that a save of `other` writes only what differs
// from `stored` by name.
LoadedState RebaseState(const LoadedState& state, const Configuration& stored,
                        const Configuration& other);

// CountChanges from what `state` keeps.
ChangeCounts CountChanges(const LoadedState& state, const Configuration& configuration);

}  // namespace directory
