// Writes: the single add, delete and replace, and the pipelined batches that keep several
// requests in flight.
#include <lber.h>
#include <ldap.h>
#include <strings.h>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/modarray.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

using namespace wait;

// Runs a batch of requests with at most `window` in flight. `send` starts request i and
// returns its message id, or a negative LDAP code when it could not be sent.
// `needs[i]` lists the earlier requests that must have succeeded before request i is
// sent (may be shorter than `count`: the rest need nothing). `skip` (may be empty) is
// asked before each send: true leaves the request and those that need it unsent, which
// is no failure. `succeeded` (may be empty) sees each successful answer. `referrals`
// receives the URLs of an answer that was a referral.
int RunBatch(LDAP* ld, size_t count, int window, const std::vector<std::vector<int>>& needs,
             int seconds, const std::function<int(size_t, int*)>& send, int* failedIndex,
             std::vector<int>* codesOut, std::vector<std::string>& referrals,
             const std::function<bool(size_t)>& skip = {},
             const std::function<void(size_t, LDAPMessage*)>& succeeded = {}) {
  std::vector<int> codes(count, kNotSent);
  std::vector<bool> dropped(count, false);
  bool stop = false;
  std::list<size_t> pending;
  for (size_t i = 0; i < count; ++i) pending.push_back(i);
  std::unordered_map<int, size_t> inFlight;
  if (window < 1) window = 1;
  if (!Connected(ld)) {
    stop = true;
    if (count > 0) codes[0] = LDAP_SERVER_DOWN;
  }
  // How far past blocked requests the sender looks for one it may send.
  const size_t lookahead = 256 + static_cast<size_t>(window) * 4;

  auto fail = [&](size_t i, int code) {
    codes[i] = code;
    stop = true;
  };

  while (true) {
    if (!stop) {
      size_t looked = 0;
      for (auto it = pending.begin(); it != pending.end() &&
                                      inFlight.size() < static_cast<size_t>(window) &&
                                      looked < lookahead;) {
        const size_t i = *it;
        bool drop = false, wait = false;
        if (i < needs.size()) {
          for (const int dep : needs[i]) {
            if (dep < 0 || static_cast<size_t>(dep) >= i) continue;
            if (dropped[dep] || (codes[dep] != kNotSent && codes[dep] != LDAP_SUCCESS)) {
              drop = true;
              break;
            }
            if (codes[dep] == kNotSent) wait = true;
          }
        }
        if (drop || (skip && skip(i))) {
          dropped[i] = true;  // a prerequisite failed or was dropped: never sent
          it = pending.erase(it);
          continue;
        }
        if (wait) {  // a prerequisite is not answered yet
          ++looked;
          ++it;
          continue;
        }
        if (CancelRequested()) {
          fail(i, kCancelled);
          break;
        }
        int msgid = -1;
        const int rc = send(i, &msgid);
        // The socket did not take the previous request whole within one slice: it stays
        // queued in libldap, which finishes it while waiting for answers below; this one
        // is sent again after that.
        if (rc == LDAP_BUSY && !inFlight.empty()) break;
        it = pending.erase(it);
        if (rc != LDAP_SUCCESS) {
          fail(i, rc);
          break;
        }
        inFlight.emplace(msgid, i);
      }
    }
    if (inFlight.empty()) break;

    MessagePtr res;
    int type = 0;
    const int waited = NextMessage(ld, LDAP_RES_ANY, LDAP_MSG_ALL, After(seconds), res, &type);
    if (waited != LDAP_SUCCESS) {
      GiveUpAll(ld, waited, inFlight, [&](size_t i) { codes[i] = waited; });
      inFlight.clear();
      stop = true;
      break;
    }
    const auto found = inFlight.find(ldap_msgid(res.get()));
    if (found == inFlight.end()) continue;  // an answer to nothing of ours
    const size_t i = found->second;
    inFlight.erase(found);
    const int code = ResultCode(ld, res.get());
    if (code == LDAP_REFERRAL) referrals = ReferralUrls(ld, res.get());
    codes[i] = code;
    if (code != LDAP_SUCCESS) stop = true;
    if (code == LDAP_SUCCESS && succeeded) succeeded(i, res.get());
  }

  int result = LDAP_SUCCESS;
  int first = -1;
  for (size_t i = 0; i < count; ++i) {
    if (codes[i] != LDAP_SUCCESS && codes[i] != kNotSent) {
      result = codes[i];
      first = static_cast<int>(i);
      break;
    }
  }
  if (failedIndex) *failedIndex = first;
  if (codesOut) *codesOut = std::move(codes);
  return result;
}

// The first value of `attribute` in the post-read control of an add's answer; empty
// when there is none.
std::string PostReadValue(LDAP* ld, LDAPMessage* res, const std::string& attribute) {
  LDAPControl** returned = nullptr;
  int code = LDAP_OTHER;
  if (ldap_parse_result(ld, res, &code, nullptr, nullptr, nullptr, &returned, 0) != LDAP_SUCCESS)
    return {};
  std::string value;
  if (LDAPControl* c = ldap_control_find(LDAP_CONTROL_POST_READ, returned, nullptr)) {
    // The value is the entry as a search would return it: its DN, then its attributes.
    BerBufferPtr ber(ber_init(&c->ldctl_value));
    berval name{0, nullptr};
    if (ber && ber_scanf(ber.get(), "{m{", &name) != LBER_ERROR) {
      while (value.empty() && ber_scanf(ber.get(), "{m", &name) != LBER_ERROR) {
        BerVarray values = nullptr;
        if (ber_scanf(ber.get(), "[W]", &values) == LBER_ERROR) break;
        if (values && values[0].bv_val && name.bv_len == attribute.size() &&
            strncasecmp(name.bv_val, attribute.c_str(), name.bv_len) == 0)
          value.assign(values[0].bv_val, values[0].bv_len);
        ber_bvarray_free(values);
      }
    }
  }
  ldap_controls_free(returned);
  return value;
}

// The post-read control (RFC 4527, not critical: a server without it writes all the
// same) asking for one attribute; none when `attribute` is empty.
class PostReadControl {
 public:
  explicit PostReadControl(const std::string& attribute) {
    if (attribute.empty()) return;
    BerBufferPtr ber(ber_alloc_t(LBER_USE_DER));
    char* attributes[2] = {const_cast<char*>(attribute.c_str()), nullptr};
    berval value{0, nullptr};
    if (ber && ber_printf(ber.get(), "{v}", attributes) != -1 &&
        ber_flatten2(ber.get(), &value, 1) == 0) {
      encoded_.reset(value.bv_val);
      control_.ldctl_oid = const_cast<char*>(LDAP_CONTROL_POST_READ);
      control_.ldctl_value = value;
      control_.ldctl_iscritical = 0;
      list_[0] = &control_;
    }
  }
  // The server controls of a request; null when none.
  LDAPControl** get() { return list_[0] ? list_ : nullptr; }

 private:
  std::unique_ptr<char, decltype(&ber_memfree)> encoded_{nullptr, &ber_memfree};
  LDAPControl control_{};
  LDAPControl* list_[2] = {nullptr, nullptr};
};

}  // namespace

ModList& ModList::Add(std::string type, std::vector<std::string> values) {
  attributes_.push_back(Attribute{std::move(type), std::move(values)});
  return *this;
}

int Connection::Add(const std::string& dn, const ModList& mods) {
  diagnostic_.clear();
  if (!Connected(Ld(ld_))) return Gone();
  ModArray array(mods);
  int msgid = -1;
  const int rc = ldap_add_ext(Ld(ld_), dn.c_str(), array.get(), nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return Gone(rc);
  return Wait(msgid, After(timeouts_.operationSeconds));
}

int Connection::Delete(const std::string& dn) {
  diagnostic_.clear();
  if (!Connected(Ld(ld_))) return Gone();
  int msgid = -1;
  const int rc = ldap_delete_ext(Ld(ld_), dn.c_str(), nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return Gone(rc);
  return Wait(msgid, After(timeouts_.operationSeconds));
}

int Connection::Replace(const std::string& dn, const ModList& mods) {
  diagnostic_.clear();
  if (!Connected(Ld(ld_))) return LDAP_SERVER_DOWN;
  ModArray array(mods, LDAP_MOD_REPLACE);
  int msgid = -1;
  const int rc = ldap_modify_ext(Ld(ld_), dn.c_str(), array.get(), nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  return Wait(msgid, After(timeouts_.operationSeconds));
}

int Connection::AddMany(const std::vector<AddRequest>& requests, int window, int* failedIndex,
                        std::vector<int>* codes, std::chrono::microseconds spacing,
                        const AddHooks* hooks) {
  std::vector<std::vector<int>> after(requests.size());
  for (size_t i = 0; i < requests.size(); ++i)
    if (requests[i].after >= 0) after[i].push_back(requests[i].after);
  LDAP* ld = Ld(ld_);
  PostReadControl readBack(hooks ? hooks->postRead : std::string());
  Clock::time_point nextSend{};
  auto send = [&](size_t i, int* msgid) {
    if (spacing.count() > 0) {
      // Short and bounded (the spacing times the batch): the answers wait in the socket.
      std::this_thread::sleep_until(nextSend);
      nextSend = Clock::now() + spacing;
    }
    ModArray array(requests[i].mods);
    return ldap_add_ext(ld, requests[i].dn.c_str(), array.get(), readBack.get(), nullptr, msgid);
  };
  std::function<bool(size_t)> skip;
  std::function<void(size_t, LDAPMessage*)> succeeded;
  if (hooks) {
    skip = hooks->skip;
    if (hooks->onAdded)
      succeeded = [&](size_t i, LDAPMessage* res) {
        hooks->onAdded(i, readBack.get() ? PostReadValue(ld, res, hooks->postRead) : std::string());
      };
  }
  return RunBatch(ld, requests.size(), window, after, timeouts_.operationSeconds, send, failedIndex,
                  codes, referrals_, skip, succeeded);
}

int Connection::WriteInOrder(const std::vector<AddRequest>& requests, int window,
                             std::chrono::microseconds spacing, const OrderedHooks& hooks,
                             OrderedWrite* failed) {
  LDAP* ld = Ld(ld_);
  if (!Connected(ld)) return Gone();
  PostReadControl readBack(hooks.postRead);
  std::unordered_map<int, OrderedWrite> inFlight;
  if (window < 1) window = 1;
  int result = LDAP_SUCCESS;
  const auto fail = [&](const OrderedWrite& w, int code) {
    if (result != LDAP_SUCCESS) return;
    result = code;
    if (failed) *failed = w;
  };
  std::optional<OrderedWrite> ready;  // handed out, not sent yet
  Clock::time_point nextSend{};
  Clock::time_point lastAnswer = Clock::now();
  while (true) {
    if (result == LDAP_SUCCESS && !ready && inFlight.size() < static_cast<size_t>(window))
      ready = hooks.next();
    if (result == LDAP_SUCCESS && ready && inFlight.size() < static_cast<size_t>(window) &&
        Clock::now() >= nextSend) {
      if (CancelRequested()) {
        fail(*ready, kCancelled);
        ready.reset();
      } else {
        const AddRequest& r = requests[ready->index];
        int msgid = -1;
        int rc = LDAP_SUCCESS;
        if (!ready->touch) {
          ModArray array(r.mods);
          rc = ldap_add_ext(ld, r.dn.c_str(), array.get(), readBack.get(), nullptr, &msgid);
        } else {
          ModList touched;
          for (const Attribute& a : r.mods.attributes())
            if (a.type.size() == hooks.touchType.size() &&
                strncasecmp(a.type.c_str(), hooks.touchType.c_str(), a.type.size()) == 0)
              touched.Add(a.type, a.values);
          ModArray array(touched, LDAP_MOD_REPLACE);
          rc = ldap_modify_ext(ld, r.dn.c_str(), array.get(), readBack.get(), nullptr, &msgid);
        }
        // The socket did not take the request whole: libldap finishes it while waiting
        // for answers below, and this one goes again after that.
        if (rc == LDAP_BUSY && !inFlight.empty()) {
          nextSend = Clock::now() + spacing;
        } else if (rc != LDAP_SUCCESS) {
          fail(*ready, rc);
          ready.reset();
        } else {
          if (inFlight.empty()) lastAnswer = Clock::now();
          inFlight.emplace(msgid, *ready);
          ready.reset();
          nextSend = Clock::now() + spacing;
          continue;
        }
      }
    }
    if (inFlight.empty()) {
      if (result != LDAP_SUCCESS || !ready) break;
      std::this_thread::sleep_until(nextSend);
      continue;
    }
    // Until the next send is due, or (with nothing to send) until the operation limit
    // runs out without any answer.
    const Clock::time_point limit =
        lastAnswer + std::chrono::seconds(std::max(1, timeouts_.operationSeconds));
    const bool sendDue =
        result == LDAP_SUCCESS && ready && inFlight.size() < static_cast<size_t>(window);
    const Clock::time_point until = sendDue ? std::min(limit, nextSend) : limit;
    MessagePtr res;
    int type = 0;
    const int waited = NextMessage(ld, LDAP_RES_ANY, LDAP_MSG_ALL, until, res, &type);
    if (waited == LDAP_TIMEOUT && until < limit) continue;
    if (waited != LDAP_SUCCESS) {
      GiveUpAll(ld, waited, inFlight, [&](const OrderedWrite& w) { fail(w, waited); });
      break;
    }
    const auto found = inFlight.find(ldap_msgid(res.get()));
    if (found == inFlight.end()) continue;  // an answer to nothing of ours
    const OrderedWrite w = found->second;
    inFlight.erase(found);
    lastAnswer = Clock::now();
    const int code = ResultCode(ld, res.get());
    if (code == LDAP_REFERRAL) referrals_ = ReferralUrls(ld, res.get());
    if (code != LDAP_SUCCESS) fail(w, code);
    if (hooks.answered)
      hooks.answered(w, code,
                     code == LDAP_SUCCESS && readBack.get()
                         ? PostReadValue(ld, res.get(), hooks.postRead)
                         : std::string());
  }
  return result;
}

int Connection::DeleteMany(const std::vector<std::string>& dns, int window, int* failedIndex,
                           std::vector<int>* codes, const std::vector<int>& after) {
  std::vector<std::vector<int>> needs(after.size());
  for (size_t i = 0; i < after.size(); ++i)
    if (after[i] >= 0) needs[i].push_back(after[i]);
  return DeleteMany(dns, needs, window, failedIndex, codes);
}

int Connection::DeleteMany(const std::vector<std::string>& dns,
                           const std::vector<std::vector<int>>& needs, int window, int* failedIndex,
                           std::vector<int>* codes) {
  LDAP* ld = Ld(ld_);
  auto send = [&](size_t i, int* msgid) {
    return ldap_delete_ext(ld, dns[i].c_str(), nullptr, nullptr, msgid);
  };
  return RunBatch(ld, dns.size(), window, needs, timeouts_.operationSeconds, send, failedIndex,
                  codes, referrals_);
}

}  // namespace ldapx
