// The connection part of the LDAP layer: open, bind, search, add, delete and the
// pipelined batches. Every libldap object is owned by a RAII holder; every wait for an
// answer is bounded by the connection's operation time-out.
#include <ldap.h>
#include <sys/time.h>

#include <functional>
#include <list>
#include <memory>
#include <unordered_map>

#include "ldapclient.h"

namespace ldapx {

namespace {

struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;

struct MemFree {
  void operator()(char* p) const { ldap_memfree(p); }
};
using LdapString = std::unique_ptr<char, MemFree>;

struct BerFree {
  void operator()(BerElement* b) const { ber_free(b, 0); }
};
using BerPtr = std::unique_ptr<BerElement, BerFree>;

struct ValuesFree {
  void operator()(berval** v) const { ldap_value_free_len(v); }
};
using ValuesPtr = std::unique_ptr<berval*, ValuesFree>;

LDAP* Ld(void* p) { return static_cast<LDAP*>(p); }

timeval Seconds(int s) {
  timeval tv{};
  tv.tv_sec = s > 0 ? s : 1;
  return tv;
}

int SessionError(LDAP* ld) {
  int code = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
  return code == LDAP_SUCCESS ? LDAP_OTHER : code;
}

// The result code carried by a final answer message; frees nothing.
int ResultCode(LDAP* ld, LDAPMessage* res) {
  int code = LDAP_OTHER;
  const int rc = ldap_parse_result(ld, res, &code, nullptr, nullptr, nullptr, nullptr, 0);
  return rc == LDAP_SUCCESS ? code : rc;
}

// Waits for the final answer of `msgid`; on time-out the request is abandoned.
int WaitFor(LDAP* ld, int msgid, int seconds) {
  timeval tv = Seconds(seconds);
  LDAPMessage* raw = nullptr;
  const int type = ldap_result(ld, msgid, LDAP_MSG_ALL, &tv, &raw);
  MessagePtr res(raw);
  if (type == 0) {
    ldap_abandon_ext(ld, msgid, nullptr, nullptr);
    return LDAP_TIMEOUT;
  }
  if (type < 0) return SessionError(ld);
  return ResultCode(ld, res.get());
}

// The LDAPMod array of an add, owning everything it points to. libldap only reads it.
class ModArray {
 public:
  explicit ModArray(const ModList& list) {
    const auto& attrs = list.attributes();
    values_.resize(attrs.size());
    pointers_.resize(attrs.size());
    mods_.resize(attrs.size());
    for (size_t i = 0; i < attrs.size(); ++i) {
      for (const std::string& v : attrs[i].values)
        values_[i].push_back(berval{v.size(), const_cast<char*>(v.data())});
      for (berval& bv : values_[i]) pointers_[i].push_back(&bv);
      pointers_[i].push_back(nullptr);
      LDAPMod& mod = mods_[i];
      mod.mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
      mod.mod_type = const_cast<char*>(attrs[i].type.c_str());
      mod.mod_bvalues = pointers_[i].data();
    }
    for (LDAPMod& m : mods_) array_.push_back(&m);
    array_.push_back(nullptr);
  }
  LDAPMod** get() { return array_.data(); }

 private:
  std::vector<std::vector<berval>> values_;
  std::vector<std::vector<berval*>> pointers_;
  std::vector<LDAPMod> mods_;
  std::vector<LDAPMod*> array_;
};

Entry ToEntry(LDAP* ld, LDAPMessage* msg) {
  Entry entry;
  if (LdapString dn{ldap_get_dn(ld, msg)}) entry.dn = dn.get();
  BerElement* rawBer = nullptr;
  LdapString name{ldap_first_attribute(ld, msg, &rawBer)};
  BerPtr ber(rawBer);
  while (name) {
    Attribute attr;
    attr.type = name.get();
    if (ValuesPtr vals{ldap_get_values_len(ld, msg, name.get())}) {
      for (berval** v = vals.get(); *v; ++v) attr.values.emplace_back((*v)->bv_val, (*v)->bv_len);
    }
    entry.attributes.push_back(std::move(attr));
    name.reset(ldap_next_attribute(ld, msg, ber.get()));
  }
  return entry;
}

// Runs a batch of requests with at most `window` in flight. `send` starts request i and
// returns its message id, or a negative LDAP code when it could not be sent.
// `needs[i]` lists the earlier requests that must have succeeded before request i is
// sent (may be shorter than `count`: the rest need nothing).
int RunBatch(LDAP* ld, size_t count, int window, const std::vector<std::vector<int>>& needs,
             int seconds, const std::function<int(size_t, int*)>& send, int* failedIndex,
             std::vector<int>* codesOut) {
  std::vector<int> codes(count, kNotSent);
  std::vector<bool> dropped(count, false);
  std::list<size_t> pending;
  for (size_t i = 0; i < count; ++i) pending.push_back(i);
  std::unordered_map<int, size_t> inFlight;
  if (window < 1) window = 1;
  // How far past blocked requests the sender looks for one it may send.
  const size_t lookahead = 256 + static_cast<size_t>(window) * 4;
  bool stop = false;

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
        if (drop) {
          dropped[i] = true;  // a prerequisite failed or was dropped: never sent
          it = pending.erase(it);
          continue;
        }
        if (wait) {  // a prerequisite is not answered yet
          ++looked;
          ++it;
          continue;
        }
        int msgid = -1;
        const int rc = send(i, &msgid);
        it = pending.erase(it);
        if (rc != LDAP_SUCCESS) {
          fail(i, rc);
          break;
        }
        inFlight.emplace(msgid, i);
      }
    }
    if (inFlight.empty()) break;

    timeval tv = Seconds(seconds);
    LDAPMessage* raw = nullptr;
    const int type = ldap_result(ld, LDAP_RES_ANY, LDAP_MSG_ALL, &tv, &raw);
    MessagePtr res(raw);
    if (type <= 0) {
      const int code = type == 0 ? LDAP_TIMEOUT : SessionError(ld);
      for (const auto& [msgid, i] : inFlight) {
        if (type == 0) ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        codes[i] = code;
      }
      inFlight.clear();
      stop = true;
      break;
    }
    const auto found = inFlight.find(ldap_msgid(res.get()));
    if (found == inFlight.end()) continue;  // an answer to nothing of ours
    const size_t i = found->second;
    inFlight.erase(found);
    const int code = ResultCode(ld, res.get());
    codes[i] = code;
    if (code != LDAP_SUCCESS) stop = true;
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

}  // namespace

const Attribute* Entry::Find(std::string_view type) const {
  for (const Attribute& a : attributes) {
    if (a.type.size() != type.size()) continue;
    bool same = true;
    for (size_t i = 0; i < type.size() && same; ++i) {
      const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
      same = lower(a.type[i]) == lower(type[i]);
    }
    if (same) return &a;
  }
  return nullptr;
}

ModList& ModList::Add(std::string type, std::vector<std::string> values) {
  attributes_.push_back(Attribute{std::move(type), std::move(values)});
  return *this;
}

Connection::~Connection() {
  if (ld_) ldap_unbind_ext(Ld(ld_), nullptr, nullptr);
}

std::unique_ptr<Connection> Connection::Open(const std::string& host, int port,
                                             const Timeouts& timeouts, int* error) {
  auto setError = [error](int code) {
    if (error) *error = code;
  };
  if (host.empty()) {
    setError(LDAP_PARAM_ERROR);
    return nullptr;
  }
  // An IPv6 address needs brackets in the URL.
  const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
  const std::string url = "ldap://" + (v6 ? "[" + host + "]" : host) + ":" +
                          std::to_string(port > 0 ? port : LDAP_PORT);
  LDAP* ld = nullptr;
  int rc = ldap_initialize(&ld, url.c_str());
  if (rc != LDAP_SUCCESS || !ld) {
    setError(rc != LDAP_SUCCESS ? rc : LDAP_PARAM_ERROR);
    return nullptr;
  }
  std::unique_ptr<Connection> conn(new Connection(ld, timeouts));
  int version = LDAP_VERSION3;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld, LDAP_OPT_CONNECT_ASYNC, LDAP_OPT_OFF);
  conn->SetTimeouts(timeouts);
  rc = ldap_connect(ld);
  if (rc != LDAP_SUCCESS) {
    setError(rc);
    return nullptr;
  }
  setError(LDAP_SUCCESS);
  return conn;
}

void Connection::SetProtocolVersion(int version) {
  ldap_set_option(Ld(ld_), LDAP_OPT_PROTOCOL_VERSION, &version);
}

void Connection::SetTimeouts(const Timeouts& timeouts) {
  timeouts_ = timeouts;
  timeval connect = Seconds(timeouts.connectSeconds);
  ldap_set_option(Ld(ld_), LDAP_OPT_NETWORK_TIMEOUT, &connect);
  timeval op = Seconds(timeouts.operationSeconds);
  ldap_set_option(Ld(ld_), LDAP_OPT_TIMEOUT, &op);
}

int Connection::SimpleBind(const std::string& dn, const std::string& password) {
  berval cred{password.size(), const_cast<char*>(password.data())};
  int msgid = -1;
  const int rc =
      ldap_sasl_bind(Ld(ld_), dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  return WaitFor(Ld(ld_), msgid, timeouts_.operationSeconds);
}

SearchResult Connection::Search(const std::string& base, Scope scope, const std::string& filter,
                                const std::vector<std::string>& attributes, bool typesOnly) {
  SearchResult result;
  std::vector<char*> attrs;
  for (const std::string& a : attributes) attrs.push_back(const_cast<char*>(a.c_str()));
  attrs.push_back(nullptr);
  int msgid = -1;
  LDAP* ld = Ld(ld_);
  int rc = ldap_search_ext(ld, base.c_str(), static_cast<int>(scope), filter.c_str(),
                           attributes.empty() ? nullptr : attrs.data(), typesOnly ? 1 : 0, nullptr,
                           nullptr, nullptr, 0, &msgid);
  if (rc != LDAP_SUCCESS) {
    result.code = rc;
    return result;
  }
  // Entries are taken one by one as they arrive, so a large result does not pile up
  // inside libldap; the time-out applies to the wait for each next message.
  while (true) {
    timeval tv = Seconds(timeouts_.operationSeconds);
    LDAPMessage* raw = nullptr;
    const int type = ldap_result(ld, msgid, LDAP_MSG_ONE, &tv, &raw);
    MessagePtr res(raw);
    if (type == 0) {
      ldap_abandon_ext(ld, msgid, nullptr, nullptr);
      result.code = LDAP_TIMEOUT;
      result.entries.clear();
      return result;
    }
    if (type < 0) {
      result.code = SessionError(ld);
      result.entries.clear();
      return result;
    }
    if (type == LDAP_RES_SEARCH_ENTRY) {
      result.entries.push_back(ToEntry(ld, res.get()));
    } else if (type == LDAP_RES_SEARCH_RESULT) {
      result.code = ResultCode(ld, res.get());
      if (result.code != LDAP_SUCCESS) result.entries.clear();
      return result;
    }
    // References and intermediate responses are not used.
  }
}

int Connection::Add(const std::string& dn, const ModList& mods) {
  ModArray array(mods);
  int msgid = -1;
  const int rc = ldap_add_ext(Ld(ld_), dn.c_str(), array.get(), nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  return WaitFor(Ld(ld_), msgid, timeouts_.operationSeconds);
}

int Connection::Delete(const std::string& dn) {
  int msgid = -1;
  const int rc = ldap_delete_ext(Ld(ld_), dn.c_str(), nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  return WaitFor(Ld(ld_), msgid, timeouts_.operationSeconds);
}

int Connection::AddMany(const std::vector<AddRequest>& requests, int window, int* failedIndex,
                        std::vector<int>* codes) {
  std::vector<std::vector<int>> after(requests.size());
  for (size_t i = 0; i < requests.size(); ++i)
    if (requests[i].after >= 0) after[i].push_back(requests[i].after);
  LDAP* ld = Ld(ld_);
  auto send = [&](size_t i, int* msgid) {
    ModArray array(requests[i].mods);
    return ldap_add_ext(ld, requests[i].dn.c_str(), array.get(), nullptr, nullptr, msgid);
  };
  return RunBatch(ld, requests.size(), window, after, timeouts_.operationSeconds, send, failedIndex,
                  codes);
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
                  codes);
}

}  // namespace ldapx
