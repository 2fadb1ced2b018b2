#include "directorysave.h"

#include <functional>
#include <unordered_map>

#include "directoryload.h"
#include "entrylayout.h"
#include "messages.h"
#include "qerror.h"
#include "templatefile.h"

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

 private:
  PleaseWait* wait_;
};

std::string Lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Key(const std::string& dn) { return Lowered(ldapx::NormalizeDn(dn).value_or(dn)); }

}  // namespace

bool DeleteSubtree(ldapx::Connection& connection, const std::string& dn, bool deleteSelf) {
  // One search lists the whole subtree; the entries are then deleted in the order a
  // level-by-level walk would take them: each child's subtree, children before their
  // parent, siblings in the server's order.
  const ldapx::SearchResult all = ReadSubtree(connection, dn, {"1.1"}, true);
  if (all.code != ldapx::kSuccess) {
    msg::Show(61263, {dn, kvaro::QError(all.code).Text()}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  const std::string baseKey = Key(dn);
  std::unordered_map<std::string, std::vector<const std::string*>> children;
  for (const ldapx::Entry& e : all.entries) {
    if (e.dn.empty() || Key(e.dn) == baseKey) continue;
    children[Key(ldapx::ParentDn(e.dn).value_or(""))].push_back(&e.dn);
  }
  std::vector<std::string> order;
  order.reserve(all.entries.size());
  std::function<void(const std::string&)> walk = [&](const std::string& key) {
    auto it = children.find(key);
    if (it == children.end()) return;
    for (const std::string* child : it->second) {
      walk(Key(*child));
      order.push_back(*child);
    }
  };
  walk(baseKey);
  if (deleteSelf) order.push_back(dn);

  // One at a time: a refused delete must leave every later entry in place, which
  // requests already in flight could not guarantee.
  int failed = -1;
  const int rc = connection.DeleteMany(order, 1, &failed);
  if (rc == ldapx::kSuccess) return true;
  msg::Show(61264, {order[failed], kvaro::QError(rc).Text()}, msg::Buttons::Ok,
            msg::Icon::Error);
  return false;
}

bool SaveConfiguration(Configuration& configuration, PleaseWait* wait) {
  if (configuration.startupMode != 1) return SaveToFiles(configuration);

  WaitGuard guard(wait);
  guard.Show(std::string(msg::LoadString(62010)));
  if (!CheckConfiguration(configuration)) return false;
  if (!configuration.connection) {
    msg::Show(61263, {configuration.subtreeDn, kvaro::QError(ldapx::kServerDown).Text()},
              msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  ldapx::Connection& conn = *configuration.connection;
  if (!DeleteSubtree(conn, configuration.subtreeDn, false)) return false;

  guard.SetMessage(std::string(msg::LoadString(62011)));
  EntryPlan ruleSets;
  int previous = -1;
  for (const auto& rs : configuration.ruleSets)
    previous = PlanRuleSet(*rs, configuration.subtreeDn, previous, ruleSets);
  if (!WritePlan(conn, ruleSets)) return false;

  guard.SetMessage(std::string(msg::LoadString(62012)));
  EntryPlan forms;
  previous = -1;
  for (const auto& f : configuration.searchForms)
    previous = PlanForm(*f, configuration.subtreeDn, previous, forms);
  return WritePlan(conn, forms);
}

}  // namespace directory
