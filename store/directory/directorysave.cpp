#include "store/directory/directorysave.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/ldap/qerror.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "platform/support/savetags.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorystore.h"
#include "store/directory/entrylayout.h"
#include "store/directory/inplacesave.h"
#include "store/directory/leftovers.h"
#include "store/directory/orderedwrite.h"
#include "store/directory/renamecheck.h"
#include "store/directory/savecheck.h"
#include "store/directory/subtreedelete.h"

namespace directory {

namespace {

// Closes the window on every way out of the save.
class WaitGuard {
 public:
  explicit WaitGuard(PleaseWait* wait) : wait_(wait) {}
  ~WaitGuard() {
    if (wait_) wait_->Close();
  }
  void Show(const std::string& message) {
    if (wait_) wait_->Show(std::string(msg::LoadString(61282)), message);
  }
  void SetMessage(const std::string& message) {
    if (wait_) wait_->SetMessage(message);
  }
  void SetProgress(long done, long total) {
    if (wait_) wait_->SetProgress(done, total);
  }
  bool Cancelled() const { return wait_ && wait_->CancelRequested(); }

 private:
  PleaseWait* wait_;
};

constexpr int kServerDown = ldapx::kServerDown;
constexpr int kConnectError = ldapx::kConnectError;
// Adds in flight within one transaction.
constexpr int kTxnWindow = 512;

bool IsLost(int code) { return code == kServerDown || code == kConnectError; }

// Refusals that mean "not here" rather than "not this": the entry beside the root or a
// subtree rename is not allowed (access, a server that cannot do it, another server's
// part of the tree). The save then writes in place instead.
bool RefusedHere(int code) {
  switch (code) {
    case ldapx::kReferral:
    case ldapx::kNoSuchObject:  // the parent is not held by this server
    case ldapx::kInsufficientAccess:
    case ldapx::kUnwillingToPerform:
    case ldapx::kNotAllowedOnNonLeaf:
    case ldapx::kAffectsMultipleDsas:
      return true;
    default:
      return false;
  }
}

class DirectorySaver {
 public:
  DirectorySaver(Session& session, const Configuration& configuration, PleaseWait* wait,
                 const SaveOptions& options)
      : session_(session), config_(configuration), wait_(wait), options_(options) {}

  bool Run() {
    WaitGuard guard(wait_);
    guard_ = &guard;
    guard.Show(std::string(msg::LoadString(62011)));
    if (!Keep(CheckConfiguration(config_))) return false;
    rootDn_ = session_.subtreeDn;
    plan_ = PlanConfiguration(config_, rootDn_);
    if (!Keep(CheckEntryPlan(config_, rootDn_, plan_))) return false;
    total_ = static_cast<long>(plan_.size()) + 1;
    firstForm_ = plan_.size();
    for (size_t i = 0; i < plan_.size(); ++i)
      if (IsForm(plan_[i])) {
        firstForm_ = i;
        break;
      }

    if (!ReadRoot()) return false;
    Stage(SaveStage::Checked);
    ldapx::Connection& conn = *session_.connection;
    WriteHooks hooks;
    hooks.progress = [this](long done) { Progress(done); };
    hooks.cancelled = [this] { return CancelNow(); };
    writer_ = std::make_unique<OrderedWriter>(conn, options_, std::move(hooks));

    const auto rdn = ldapx::FirstRdn(rootDn_);
    const auto parent = ldapx::ParentDn(rootDn_);
    if (!rdn || !parent || parent->empty()) return InPlace(rootDn_, ldapx::kInsufficientAccess);
    rdnType_ = rdn->type;
    rdnValue_ = rdn->value;
    parentDn_ = *parent;
    token_ = kvaro::TimedTag();
    stagingDn_ = Rdn(std::string(kSaveMark)) + "," + parentDn_;
    oldRdn_ = rdnType_ + "=" + ldapx::EscapeDnValue(OldCopyValue(rdnValue_, rootEntry_));
    oldDn_ = oldRdn_ + "," + parentDn_;
    transactions_ = options_.useTransactions && ldapx::SupportsTransactions(conn);
    // A server that leaves part of a renamed subtree behind would drop entries of the
    // configuration at the swap: there the save writes in place, or straight to the
    // root's DN when nothing is stored yet.
    if (RenamesPartial()) {
      if (!std::exchange(session_.partialRenamesTold, true))
        problems_.push_back(msg::Problem{msg::id::kPartialSubtreeRenames,
                                         {ldapx::HostListText({{conn.host(), conn.port()}})},
                                         msg::Icon::Warning});
      if (exists_) return InPlace(rootDn_, ldapx::kUnwillingToPerform);
      direct_ = true;
      stagingDn_ = rootDn_;
      transactions_ = false;
    }

    int failed = -1;
    const int rc = WriteStaging(failed);
    if (rc == ldapx::kCancelled) {
      Discard();  // what was added before the cancel (nothing inside a transaction)
      return Cancelled();
    }
    if (rc == ldapx::kReferral && failed == 0) return ReadOnlyCopy();
    if (rc != ldapx::kSuccess) {
      if (failed == 0 && RefusedHere(rc) && exists_) return InPlace(stagingDn_, rc);
      if (direct_ && failed == 0) {  // the root's add: nothing of this save stands
        if (rc == ldapx::kAlreadyExists) return ChangedMeanwhile(rc);
        Show(62137, {rootDn_, kvaro::QError(rc).Text()});
        return false;
      }
      Discard();
      // Every entry below the staged root is added below one added before it: one that is
      // gone was taken by another save (as a leftover of a failed one).
      if (rc == ldapx::kNoSuchObject && failed > 0) return ChangedMeanwhile(rc);
      const std::string dn = failed > 0 ? plan_[failed - 1].dn : rootDn_;
      Show(62137, {dn, kvaro::QError(rc).Text()});
      return false;
    }
    Stage(SaveStage::Staged);
    if (guard.Cancelled()) {
      Discard();
      return Cancelled();
    }
    if (!StillToSwap()) {
      Discard();
      return false;
    }
    if (!Swap()) return false;
    Stage(SaveStage::Swapped);
    guard.SetProgress(total_, total_);
    guard.SetMessage(std::string(msg::LoadString(62010)));
    // What earlier saves left beside the root may be many thousands of entries: their
    // removal goes with the old copy's, after the save where the options ask for that.
    if (options_.leaveOldCopy) {
      OldCopy& copy = *options_.leaveOldCopy;
      copy.dn = exists_ ? oldDn_ : std::string();
      copy.leftoversOf = rootDn_;
      copy.leftoverSeconds = options_.oldLeftoverSeconds;
      copy.server = session_.server;
      copy.timeouts = session_.connection->timeouts();
      copy.password = session_.password;
      return true;
    }
    std::string where;
    const int del =
        exists_ ? RemoveOldRoot(*session_.connection, oldDn_, rootDn_, &where) : ldapx::kSuccess;
    ClearLeftovers(*session_.connection, rootDn_, options_.oldLeftoverSeconds);
    // The old copy, named by its unique id, is one of the leftovers: 389 Directory Server
    // may refuse its removal once (with "other" where replication left a glue entry below
    // it) and take it at the second try. Only what still stands is reported.
    if (del != ldapx::kSuccess && OldCopyStands())
      problems_.push_back(
          msg::Problem{62139, {where, kvaro::QError(del).Text()}, msg::Icon::Warning});
    return true;
  }

 private:
  static bool IsForm(const PlannedEntry& e) {
    for (const ldapx::Attribute& a : e.mods.attributes())
      if (SameIgnoringCase(a.type, "objectClass"))
        for (const std::string& v : a.values)
          if (SameIgnoringCase(v, "ovSearchForm")) return true;
    return false;
  }

  // What the save has to say, for its caller to show.
  void Show(int id, std::vector<std::string> args) {
    problems_.push_back(msg::Problem{id, std::move(args), msg::Icon::Error});
  }
  bool Keep(msg::Result result) {
    for (msg::Problem& p : result.problems) problems_.push_back(std::move(p));
    return result.ok;
  }

  void Stage(SaveStage stage) {
    if (options_.onStage) options_.onStage(stage);
  }

  std::string Rdn(const std::string& mark) const {
    return rdnType_ + "=" + ldapx::EscapeDnValue(rdnValue_ + mark + token_);
  }
  std::string RootRdn() const { return rdnType_ + "=" + ldapx::EscapeDnValue(rdnValue_); }

  bool Reconnect() {
    if (auto failed = directory::Reconnect(session_)) {
      problems_.push_back(std::move(*failed));
      return false;
    }
    return true;
  }

  // Reads the root entry (opening the connection again when it was lost) and refuses a
  // target that is not ours.
  bool ReadRoot() {
    if (!session_.connection && !Reconnect()) return false;
    std::vector<std::string> attributes = UniqueIdAttributes();
    attributes.push_back("*");
    ldapx::SearchResult root =
        session_.connection->Search(rootDn_, ldapx::Scope::Base, "(objectClass=*)", attributes);
    if (IsLost(root.code)) {
      if (!Reconnect()) return false;
      root =
          session_.connection->Search(rootDn_, ldapx::Scope::Base, "(objectClass=*)", attributes);
    }
    if (root.code == ldapx::kNoSuchObject) {
      exists_ = false;
      return true;
    }
    if (root.code != ldapx::kSuccess) {
      problems_.push_back(
          ReasonProblem(62121, {rootDn_}, root.code, session_.connection->diagnostic()));
      return false;
    }
    if (root.entries.empty()) {  // there, but hidden from this user
      Show(62121, {rootDn_});
      return false;
    }
    if (!IsConfigurationRoot(root.entries.front())) {
      Show(62130, {rootDn_});
      return false;
    }
    exists_ = true;
    rootEntry_ = std::move(root.entries.front());
    return true;
  }

  // The staged entries: the new root (a copy of every attribute of the stored root, its
  // naming value the marked one) and the plan below it.
  std::vector<ldapx::Connection::AddRequest> StagingRequests() const {
    std::vector<ldapx::Connection::AddRequest> requests;
    requests.reserve(plan_.size() + 1);
    ldapx::ModList rootMods;
    if (exists_) {
      const std::string staged = rdnValue_ + std::string(kSaveMark) + token_;
      for (const ldapx::Attribute& a : rootEntry_.attributes) {
        if (a.values.empty() || IsUniqueIdAttribute(a.type)) continue;
        std::vector<std::string> values = a.values;
        if (SameIgnoringCase(a.type, rdnType_)) values.push_back(staged);
        rootMods.Add(a.type, std::move(values));
      }
    } else {
      rootMods = RootAttributes();
    }
    requests.push_back({stagingDn_, std::move(rootMods), -1});
    EntryPlan staged;
    int previous = -1;
    for (const auto& rs : config_.ruleSets)
      previous = PlanRuleSet(*rs, stagingDn_, previous, staged);
    for (const auto& f : config_.searchForms) previous = PlanForm(*f, stagingDn_, previous, staged);
    for (PlannedEntry& e : staged)
      requests.push_back({std::move(e.dn), std::move(e.mods), e.after >= 0 ? e.after + 1 : 0});
    return requests;
  }

  void Progress(long done) {
    if (done > 0) rootAnswered_ = true;
    guard_->SetProgress(done, total_);
    if (!halfway_ && done * 2 >= total_) {
      halfway_ = true;
      Stage(SaveStage::StagingHalfway);
    }
    if (!formsShown_ && done > static_cast<long>(firstForm_)) {
      formsShown_ = true;
      guard_->SetMessage(std::string(msg::LoadString(62012)));
    }
  }

  int WriteStaging(int& failed) {
    ldapx::Connection& conn = *session_.connection;
    const std::vector<ldapx::Connection::AddRequest> requests = StagingRequests();
    failed = -1;
    if (transactions_) {
      std::string txn;
      if (ldapx::StartTransaction(conn, txn) == ldapx::kSuccess) {
        ldapx::BatchHooks hooks;
        hooks.progress = [this](long done) { Progress(done); };
        hooks.cancelled = [this] { return guard_->Cancelled(); };
        std::vector<int> msgIds;
        int rc = ldapx::AddInTransaction(conn, txn, requests, kTxnWindow, hooks, &failed, &msgIds);
        if (rc == ldapx::kSuccess && guard_->Cancelled()) rc = ldapx::kCancelled;
        if (rc != ldapx::kSuccess) {
          ldapx::EndTransaction(conn, txn, false);
          return rc;
        }
        // The commit runs every queued add: allow it time in proportion.
        const int seconds =
            conn.timeouts().operationSeconds + static_cast<int>(requests.size() / 200);
        int failedId = -1;
        rc = ldapx::EndTransaction(conn, txn, true, &failedId, seconds);
        if (rc != ldapx::kSuccess) {
          for (size_t i = 0; i < msgIds.size(); ++i)
            if (msgIds[i] == failedId) failed = static_cast<int>(i);
        }
        return rc;
      }
      transactions_ = false;  // offered but refused: go on without
    }
    return writer_->AddInOrder(requests, stagingDn_, 0, failed, true);
  }

  int RemoveSubtree(const std::string& dn, bool self, std::string* failedDn = nullptr) {
    return directory::RemoveSubtree(*session_.connection, dn, self, failedDn);
  }

  // The save in place (SaveInPlace), where the directory refused `refusedDn` with
  // `refusal`; that refusal stands when nothing is stored.
  // What the caller holds the stored configuration to, checked once more (beforeSwap).
  bool StillToSwap() {
    if (!options_.beforeSwap || checkedBeforeSwap_) return true;
    checkedBeforeSwap_ = true;
    return Keep(options_.beforeSwap());
  }

  bool InPlace(const std::string& refusedDn, int refusal) {
    if (!exists_) {  // nothing stored to keep: the refusal stands
      Show(62137, {refusedDn, kvaro::QError(refusal).Text()});
      return false;
    }
    if (!StillToSwap()) return false;
    InPlaceTarget target;
    target.connection = session_.connection.get();
    target.rootDn = rootDn_;
    target.bindDn = session_.server.bindDn;
    target.plan = &plan_;
    target.token = token_;
    target.backupFolder = options_.backupFolder;
    target.setMessage = [this](const std::string& text) { guard_->SetMessage(text); };
    target.cancelled = [this] { return guard_->Cancelled(); };
    // The progress of its writes starts past the half way.
    halfway_ = true;
    return Keep(SaveInPlace(target, *writer_));
  }

  // Removes the staging subtree after a failure before the swap (nothing of it may be
  // there; a failure here leaves a marked leftover for the next save). Written straight
  // to the root's DN, it is ours only once the root's add succeeded.
  void Discard() {
    if (!direct_ || rootAnswered_) RemoveSubtree(stagingDn_, true);
  }
  // Whether the server leaves entries behind when it renames a subtree; Cancel ends the
  // check's waits.
  bool RenamesPartial() {
    ldapx::CancelScope scope([this] { return guard_->Cancelled(); });
    return CheckSubtreeRenames(session_) == SubtreeRenames::Partial;
  }
  // Written straight to the root's DN, a cancel waits for the root's answer: until then,
  // what stands there may be another save's.
  bool CancelNow() const { return (!direct_ || rootAnswered_) && guard_->Cancelled(); }
  bool OldCopyStands() {
    const ldapx::SearchResult old =
        session_.connection->Search(oldDn_, ldapx::Scope::Base, "(objectClass=*)", {"1.1"});
    return old.code != ldapx::kNoSuchObject;
  }

  // The server refused the save's first write with a referral: it holds a read-only
  // copy, and nothing was written. The caller decides whether to save where it points.
  bool ReadOnlyCopy() {
    const ldapx::Connection& conn = *session_.connection;
    if (conn.referrals().empty()) {
      Show(62137, {stagingDn_, kvaro::QError(ldapx::kReferral).Text()});
      return false;
    }
    Show(msg::id::kReadOnlyCopy,
         {ldapx::HostListText({{conn.host(), conn.port()}}), conn.referrals().front()});
    return false;
  }

  // The administrator asked for it, so it is told as a fact, not as an error.
  bool Cancelled() {
    problems_.push_back(msg::Problem{62143, {}, msg::Icon::Information});
    return false;
  }

  // Makes the staged subtree the configuration: the stored root renamed away and the
  // staged one to the root's DN.
  bool Swap() {
    ldapx::Connection& conn = *session_.connection;
    if (direct_) return true;
    if (!exists_) {
      const int rc = ldapx::Rename(conn, stagingDn_, RootRdn());
      if (rc == ldapx::kSuccess) return true;
      Discard();
      if (rc == ldapx::kAlreadyExists) return ChangedMeanwhile(rc);
      Show(62138, {rootDn_, kvaro::QError(rc).Text()});
      return false;
    }
    // Two renames, not one transaction: slapd 2.5 goes down now and then when it
    // commits a transaction holding renames. Between them the root is missing for a
    // moment; a failure of the second puts the first back.
    int rc = ldapx::kSuccess;
    rc = ldapx::Rename(conn, rootDn_, oldRdn_);
    if (rc != ldapx::kSuccess) {
      Discard();
      // The root was read at the start: gone now, another save is between its renames.
      if (rc == ldapx::kNoSuchObject) return ChangedMeanwhile(rc);
      if (RefusedHere(rc)) return InPlace(rootDn_, rc);
      Show(62138, {rootDn_, kvaro::QError(rc).Text()});
      return false;
    }
    Stage(SaveStage::BetweenRenames);
    rc = ldapx::Rename(conn, stagingDn_, RootRdn());
    if (rc == ldapx::kSuccess) return true;
    const int undo = ldapx::Rename(conn, oldDn_, RootRdn());
    Discard();
    // Another save put its root in place meanwhile (the old copy then keeps its marked
    // name, for a later save to remove, unless that save took it already), or took the
    // staged subtree.
    if ((rc == ldapx::kAlreadyExists || rc == ldapx::kNoSuchObject) &&
        (undo == ldapx::kSuccess || undo == ldapx::kAlreadyExists || undo == ldapx::kNoSuchObject))
      return ChangedMeanwhile(rc);
    if (undo != ldapx::kSuccess) {
      Show(62145, {oldDn_, kvaro::QError(undo).Text()});
      return false;
    }
    Show(62138, {rootDn_, kvaro::QError(rc).Text()});
    return false;
  }

  // Another save changed the configuration while this one ran: this one stops, and says
  // so rather than what the directory answered.
  bool ChangedMeanwhile(int code) {
    Show(62146, {rootDn_, kvaro::QError(code).Text()});
    return false;
  }

  Session& session_;
  const Configuration& config_;

 public:
  msg::Problems problems_;

 private:
  PleaseWait* wait_;
  const SaveOptions& options_;
  WaitGuard* guard_ = nullptr;
  std::string rootDn_;
  EntryPlan plan_;
  long total_ = 0;
  size_t firstForm_ = 0;
  bool halfway_ = false;
  bool checkedBeforeSwap_ = false;
  bool formsShown_ = false;
  bool exists_ = false;
  ldapx::Entry rootEntry_;
  std::string rdnType_, rdnValue_, parentDn_, token_, stagingDn_, oldRdn_, oldDn_;
  bool transactions_ = false;
  bool direct_ = false;        // written straight to the root's DN (see Run)
  bool rootAnswered_ = false;  // an add of the staging was answered with success
  std::unique_ptr<OrderedWriter> writer_;
};

}  // namespace

std::string DefaultBackupFolder() { return kvaro::DataHome() + "/orvelle/backups"; }

msg::Result SaveConfiguration(Session& session, const Configuration& configuration,
                              PleaseWait* wait, const SaveOptions& options) {
  DirectorySaver saver(session, configuration, wait, options);
  msg::Result result = saver.Run();
  result.problems = std::move(saver.problems_);
  return result;
}

}  // namespace directory