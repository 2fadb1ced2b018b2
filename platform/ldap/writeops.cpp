// The write operations of a staged save: the root DSE's extensions, LDAP transactions
// (RFC 5805), renames and adds sent inside a transaction. Kept apart from the basic
// connection operations; every wait is bounded by the connection's operation time-out.
#include <lber.h>
#include <ldap.h>
#include <sys/time.h>

#include <algorithm>
#include <list>
#include <memory>
#include <unordered_map>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/modarray.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

// A request sent inside a transaction is answered at once with "specify okay" (or, by
// some servers, success); it runs only when the transaction is committed.
bool Accepted(int code) { return code == LDAP_SUCCESS || code == kTxnSpecifyOkay; }

// Waits for the final answer of `msgid`; on time-out the request is abandoned. The
// answer is handed back in `out`.
int WaitFor(LDAP* ld, int msgid, int seconds, MessagePtr& out) {
  LDAPMessage* raw = nullptr;
  int type = 0;
  const int rc = wait::AwaitMessage(ld, msgid, LDAP_MSG_ALL, wait::After(seconds), &raw, &type);
  out.reset(raw);
  if (rc != kSuccess) {
    if (rc == kTimeout || rc == kCancelled) ldap_abandon_ext(ld, msgid, nullptr, nullptr);
    return rc;
  }
  return ResultCode(ld, out.get());
}

// The critical control that puts a request into transaction `id`.
class TxnControl {
 public:
  explicit TxnControl(const std::string* id) {
    if (!id) return;
    control_.ldctl_oid = const_cast<char*>(LDAP_CONTROL_TXN_SPEC);
    // Never null, also for an empty identifier: the value must be present.
    control_.ldctl_value.bv_val = const_cast<char*>(id->c_str());
    control_.ldctl_value.bv_len = id->size();
    control_.ldctl_iscritical = 1;
    list_[0] = &control_;
  }
  LDAPControl** get() { return list_[0] ? list_ : nullptr; }

 private:
  LDAPControl control_{};
  LDAPControl* list_[2] = {nullptr, nullptr};
};

}  // namespace

bool SupportsTransactions(Connection& connection, int* error) {
  const SearchResult dse =
      connection.Search("", Scope::Base, "(objectClass=*)", {"supportedExtension"});
  if (error) *error = dse.code;
  if (dse.code != kSuccess || dse.entries.empty()) return false;
  const Attribute* ext = dse.entries.front().Find("supportedExtension");
  if (!ext) return false;
  return std::find(ext->values.begin(), ext->values.end(), LDAP_EXOP_TXN_START) !=
         ext->values.end();
}

int StartTransaction(Connection& connection, std::string& id) {
  LDAP* ld = Ld(connection);
  int msgid = -1;
  int rc = ldap_txn_start(ld, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  MessagePtr res;
  rc = WaitFor(ld, msgid, connection.timeouts().operationSeconds, res);
  if (rc != LDAP_SUCCESS) return rc;
  berval* data = nullptr;
  rc = ldap_parse_extended_result(ld, res.get(), nullptr, &data, 0);
  if (rc != LDAP_SUCCESS) return rc;
  // OpenLDAP runs one transaction per connection and names it with an empty identifier.
  id.clear();
  if (data && data->bv_val) id.assign(data->bv_val, data->bv_len);
  ber_bvfree(data);
  return LDAP_SUCCESS;
}

int EndTransaction(Connection& connection, const std::string& id, bool commit, int* failedMsgId,
                   int seconds) {
  if (failedMsgId) *failedMsgId = -1;
  LDAP* ld = Ld(connection);
  berval txn{id.size(), const_cast<char*>(id.data())};
  int msgid = -1;
  int rc = ldap_txn_end(ld, commit ? 1 : 0, &txn, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  MessagePtr res;
  rc = WaitFor(ld, msgid, seconds > 0 ? seconds : connection.timeouts().operationSeconds, res);
  if (!res) return rc;
  // The answer of a failed commit names the request that failed by its message id:
  // txnEndRes ::= SEQUENCE { messageID MessageID OPTIONAL, ... }.
  berval* data = nullptr;
  if (ldap_parse_extended_result(ld, res.get(), nullptr, &data, 0) == LDAP_SUCCESS && data) {
    BerElement* ber = ber_init(data);
    if (ber) {
      ber_len_t len = 0;
      ber_int_t failed = -1;
      if (ber_scanf(ber, "{") != LBER_ERROR && ber_peek_tag(ber, &len) == LBER_INTEGER &&
          ber_scanf(ber, "i", &failed) != LBER_ERROR && failedMsgId)
        *failedMsgId = failed;
      ber_free(ber, 1);
    }
    ber_bvfree(data);
  }
  return rc;
}

int Rename(Connection& connection, const std::string& dn, const std::string& newRdn,
           const std::string* txnId) {
  LDAP* ld = Ld(connection);
  TxnControl control(txnId);
  int msgid = -1;
  const int rc =
      ldap_rename(ld, dn.c_str(), newRdn.c_str(), nullptr, 1, control.get(), nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  MessagePtr res;
  const int code = WaitFor(ld, msgid, connection.timeouts().operationSeconds, res);
  return txnId && code == kTxnSpecifyOkay ? LDAP_SUCCESS : code;
}

int AddInTransaction(Connection& connection, const std::string& txnId,
                     const std::vector<Connection::AddRequest>& requests, int window,
                     const BatchHooks& hooks, int* failedIndex, std::vector<int>* msgIds) {
  LDAP* ld = Ld(connection);
  TxnControl control(&txnId);
  if (window < 1) window = 1;
  if (failedIndex) *failedIndex = -1;
  if (msgIds) msgIds->assign(requests.size(), -1);
  // The server queues each request in the order it takes it up, and may take up the
  // requests of one connection in any order: a request is sent only once the one it
  // must follow (`after`) is queued, so the commit runs them in a good order.
  std::vector<char> queued(requests.size(), 0);
  std::list<size_t> pending;
  for (size_t i = 0; i < requests.size(); ++i) pending.push_back(i);
  const size_t lookahead = 256 + static_cast<size_t>(window) * 4;
  std::unordered_map<int, size_t> inFlight;
  long answered = 0;
  long sent = 0;
  int result = LDAP_SUCCESS;
  int first = -1;
  auto fail = [&](size_t i, int code) {
    if (first < 0 || static_cast<int>(i) < first) {
      first = static_cast<int>(i);
      result = code;
    }
  };
  // How often the progress and cancel hooks are consulted.
  constexpr long kReportEvery = 64;

  while (true) {
    size_t looked = 0;
    for (auto it = pending.begin(); result == LDAP_SUCCESS && it != pending.end() &&
                                    inFlight.size() < static_cast<size_t>(window) &&
                                    looked < lookahead;) {
      const size_t i = *it;
      const int after = requests[i].after;
      if (after >= 0 && static_cast<size_t>(after) < i && !queued[after]) {
        ++looked;
        ++it;
        continue;
      }
      if (sent % kReportEvery == 0 && hooks.cancelled && hooks.cancelled()) {
        result = kCancelled;
        break;
      }
      ModArray mods(requests[i].mods);
      int msgid = -1;
      const int rc =
          ldap_add_ext(ld, requests[i].dn.c_str(), mods.get(), control.get(), nullptr, &msgid);
      if (rc != LDAP_SUCCESS) {
        fail(i, rc);
        break;
      }
      if (msgIds) (*msgIds)[i] = msgid;
      inFlight.emplace(msgid, i);
      it = pending.erase(it);
      ++sent;
    }
    if (inFlight.empty()) {
      if (result == LDAP_SUCCESS && !pending.empty()) fail(pending.front(), LDAP_OTHER);
      break;
    }
    LDAPMessage* raw = nullptr;
    int type = 0;
    const int waited =
        wait::AwaitMessage(ld, LDAP_RES_ANY, LDAP_MSG_ALL,
                           wait::After(connection.timeouts().operationSeconds), &raw, &type);
    MessagePtr res(raw);
    if (waited != kSuccess) {
      const int code = waited;
      const bool abandon = waited == kTimeout || waited == kCancelled;
      size_t lowest = requests.size();
      for (const auto& [msgid, i] : inFlight) {
        if (abandon) ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        lowest = std::min(lowest, i);
      }
      fail(lowest, code);
      break;
    }
    const auto found = inFlight.find(ldap_msgid(res.get()));
    if (found == inFlight.end()) continue;
    const size_t i = found->second;
    inFlight.erase(found);
    const int code = ResultCode(ld, res.get());
    if (Accepted(code)) {
      queued[i] = 1;
    } else {
      fail(i, code);
    }
    ++answered;
    if (hooks.progress && (answered % kReportEvery == 0 || inFlight.empty()))
      hooks.progress(answered);
  }
  if (failedIndex) *failedIndex = result == kCancelled ? -1 : first;
  return result;
}

}  // namespace ldapx
