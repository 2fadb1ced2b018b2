// Named ids of the string-table messages the records, the local store and the start-up
// report. The numbers are fixed: they are the string table's.
#pragma once

namespace msg::id {

// A record's check ("Rule set '%s' contains no rules...", and so on).
inline constexpr int kFieldWithoutFilterAttribute = 61260;
inline constexpr int kGroupWithoutFields = 61262;
inline constexpr int kFormWithoutTarget = 61265;
inline constexpr int kRuleSetWithoutRules = 61281;
// The settings key is missing.
inline constexpr int kSettingsMissing = 61280;

// The local store: a file or folder could not be created or written (with the path and
// the system's reason).
inline constexpr int kCannotCreateFile = 62013;
inline constexpr int kCannotUpdateFile = 62014;
// Refusals before anything is written.
inline constexpr int kUnusableRuleSetFileName = 62100;
inline constexpr int kTextCannotHold = 62101;
inline constexpr int kTwoRuleSetsSameName = 62102;
inline constexpr int kNoConfigurationFolder = 62103;
// The reasons kTextCannotHold gives.
inline constexpr int kReasonName = 62161;
inline constexpr int kReasonText = 62162;
inline constexpr int kReasonClasses = 62163;
inline constexpr int kReasonLink = 62164;
inline constexpr int kReasonTwice = 62165;
// Reading and locking the folder.
inline constexpr int kNotRegularFile = 62166;
inline constexpr int kCannotReadFile = 62167;
// The reason a file over the size limit gives (with the system's text for EFBIG).
inline constexpr int kReasonTooLarge = 62261;
inline constexpr int kSaveBusy = 62168;
// A "RuleSet=" file that holds no rule set: not read, and a save leaves it alone.
inline constexpr int kNotConfigurationFile = 62169;
inline constexpr int kWouldOverwriteOtherFile = 62240;
inline constexpr int kCannotCheckFile = 62241;
// Lines of a "RuleSet=" file that a load left out: the file and the list of lines, each
// as kLineNotRead (number, text, reason), then kMoreLinesNotRead.
inline constexpr int kLinesNotRead = 62250;
inline constexpr int kMoreLinesNotRead = 62251;
inline constexpr int kLineNotRead = 62257;
// Why a line was not read, or not wholly (each text takes the detail).
inline constexpr int kDropUnknownNames = 62252;  // names the attribute table does not know
inline constexpr int kDropNoRecord = 62253;      // no rule set, form or group to read it into
inline constexpr int kDropNoRule = 62254;        // names rules its rule set does not hold
inline constexpr int kDropSameName = 62255;      // a record of that name was read before
inline constexpr int kDropNotFormat = 62256;     // not a line of the text format
inline constexpr int kDropNul = 62262;           // holds a NUL character
// Read, but not wholly: the rule set's name ends at the next ":" (the detail is the name).
inline constexpr int kDropRuleSetNameCut = 62263;

// Versions and the lost-update guard: a save or copy refused because someone else wrote
// the configuration (the place and a list of lines), and the lines that list what changed.
inline constexpr int kChangedSinceLoad = 62350;
inline constexpr int kRuleSetAdded = 62351;
inline constexpr int kRuleSetChanged = 62352;
inline constexpr int kRuleSetRemoved = 62353;
inline constexpr int kFilesRemoved = 62354;
inline constexpr int kFormChanged = 62355;
inline constexpr int kEntryChanged = 62356;
inline constexpr int kEntriesRemoved = 62357;
inline constexpr int kConfigurationChanged = 62358;
inline constexpr int kNotAtVersion = 62359;
// The version of a directory configuration could not be read (DN, error text), or the
// server keeps nothing that changes with every write (the URL).
inline constexpr int kVersionUnreadable = 62360;
inline constexpr int kNoVersionAttributes = 62361;
// Lines of a refusal to save: a search form someone else added or removed.
inline constexpr int kFormAdded = 62362;
inline constexpr int kFormRemoved = 62363;
// A save of the changes alone stopped at a write the server refused (DN, error), and
// taking back what it had written failed too (DN, error): part of it is stored.
inline constexpr int kChangesPartlyWritten = 62364;
// A save of the changes alone wrote everything but removals, and a removal was refused
// (DN, error, the DNs not removed).
inline constexpr int kChangesRemovalFailed = 62365;
// The configuration root is missing and the configuration a stopped save renamed away
// beside it was loaded instead (the root's DN, the DN it was loaded from).
inline constexpr int kRootRenamedAway = 62366;

// A save that reached a read-only copy (the copy's server, the URL of the server that
// takes changes), the question whether to save there instead, and why that failed.
inline constexpr int kReadOnlyCopy = 62305;
inline constexpr int kSaveOnProvider = 62306;
inline constexpr int kProviderFailed = 62307;
inline constexpr int kProviderUnusable = 62308;
// A copy that waited for its replicas: one did not serve the saved version in time (the
// replica, the seconds, its version, the saved one), or could not be asked.
inline constexpr int kReplicaBehind = 62309;
inline constexpr int kReplicaUnreachable = 62310;
// Entries that replication between servers that both take writes left in the subtree
// (conflict copies of records, glue entries for removed ones): not loaded, and the next
// save removes them (the list of DNs).
inline constexpr int kReplicationLeftovers = 62311;
// The server moves only part of a renamed subtree: the save writes in place.
inline constexpr int kPartialSubtreeRenames = 62312;

}  // namespace msg::id
