// The connection part of the LDAP layer: open, bind, search, add, delete and the
// pipelined batches. Every libldap object is owned by a RAII holder.
//
// Waiting. The TCP connection is made here (not by libldap), so that the connect can be
// bounded and cancelled, and its socket gets receive and send time-outs of one short
// slice: libldap reads a message with blocking read() calls, and a server that sends
// half a message and stalls would otherwise hold the program in read() for ever. With the
// time-outs such a read returns EAGAIN after one slice, which libldap takes as "nothing
// more yet". Every wait for an answer is then a loop of short ldap_result() calls that
// looks at the deadline and the user's cancel between them.
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <ldap.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openldap.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/modarray.h"

namespace ldapx {

namespace {

using wait::After;
using wait::CancelRequested;
using wait::Clock;
// The longest a wait goes without looking at the cancel check and the deadline.
constexpr auto kSlice = std::chrono::milliseconds(100);

thread_local const CancelCheck* t_cancel = nullptr;

timeval ToTimeval(Clock::duration d) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(us / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
  return tv;
}

// The next slice of a wait that ends at `deadline`.
Clock::duration Slice(Clock::time_point deadline) {
  return std::max<Clock::duration>(Clock::duration::zero(),
                                   std::min<Clock::duration>(kSlice, deadline - Clock::now()));
}

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
// A BerElement with its own buffer (ber_init, ber_alloc_t).
struct BerBufferFree {
  void operator()(BerElement* b) const { ber_free(b, 1); }
};
using BerBufferPtr = std::unique_ptr<BerElement, BerBufferFree>;

struct AddrInfoFree {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;

LDAP* Ld(void* p) { return static_cast<LDAP*>(p); }

int SessionError(LDAP* ld) {
  int code = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
  return code == LDAP_SUCCESS ? LDAP_OTHER : code;
}

// What the TLS library found wrong with the server's certificate during the handshake
// of this thread. libldap checks the certificate itself, but reports only "unknown error"
// when a check fails; the same checks are asked of GnuTLS from inside the handshake, so
// the user learns which one failed.
struct CertificateReport {
  std::string host;
  unsigned handshakeMs = 0;  // the longest the handshake may take
  int fd = -1;               // the connection's socket
  bool checked = false;
  bool timedOut = false;  // the wait for handshake data ran out or was cancelled
  unsigned status = 0;    // gnutls_certificate_status_t bits
  std::string text;       // GnuTLS's description of `status`
};
thread_local CertificateReport* t_certificate = nullptr;

int ReportCertificate(gnutls_session_t session) {
  if (!t_certificate) return 0;
  unsigned status = 0;
  if (gnutls_certificate_verify_peers3(session, t_certificate->host.c_str(), &status) < 0) return 0;
  t_certificate->checked = true;
  t_certificate->status = status;
  gnutls_datum_t out{};
  if (status != 0 && gnutls_certificate_verification_status_print(
                         status, gnutls_certificate_type_get(session), &out, 0) == 0) {
    t_certificate->text.assign(reinterpret_cast<const char*>(out.data), out.size);
    gnutls_free(out.data);
    while (!t_certificate->text.empty() &&
           (t_certificate->text.back() == ' ' || t_certificate->text.back() == '\0'))
      t_certificate->text.pop_back();
  }
  // The verdict stays libldap's: it ends the handshake after this when a check failed.
  return 0;
}

// GnuTLS's wait for handshake data: in slices, so that the user's cancel ends it (as a
// time-out, which fails the handshake). 1 when data is there, 0 on time-out or cancel.
int WaitForHandshakeData(gnutls_transport_ptr_t, unsigned ms) {
  if (!t_certificate) return 1;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (true) {
    if (CancelRequested() || Clock::now() >= deadline) {
      t_certificate->timedOut = true;
      return 0;
    }
    pollfd p{t_certificate->fd, POLLIN, 0};
    const auto slice =
        std::chrono::duration_cast<std::chrono::milliseconds>(Slice(deadline)).count();
    const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(1, slice)));
    if (ready > 0) return 1;
    if (ready < 0 && errno != EINTR) return -1;
  }
}

// libldap's connect callback, called with its TLS session before the handshake. With
// GnuTLS that session object begins with the gnutls_session_t. libldap's own handshake
// loop does not end while a silent server keeps the socket reads returning "nothing
// yet", so GnuTLS gets the connect limit as its handshake time-out and waits for data
// through WaitForHandshakeData.
int HookCertificateCheck(LDAP*, void* session, void*, void*) {
  if (!session || !t_certificate) return 0;
  const gnutls_session_t tls = *static_cast<gnutls_session_t*>(session);
  gnutls_session_set_verify_function(tls, ReportCertificate);
  if (t_certificate->fd >= 0) {
    gnutls_transport_set_pull_timeout_function(tls, WaitForHandshakeData);
    gnutls_handshake_set_timeout(tls, t_certificate->handshakeMs);
  }
  return 0;
}

bool LibldapUsesGnutls() {
  static const bool gnutls = [] {
    char* name = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_X_TLS_PACKAGE, &name) != LDAP_OPT_SUCCESS || !name)
      return false;
    const bool is = std::strcmp(name, "GnuTLS") == 0;
    ldap_memfree(name);
    return is;
  }();
  return gnutls;
}

// liblber's TCP layer writes with write(), which raises SIGPIPE once the peer has closed
// the connection (a plain server on an ldaps:// port, a server killed mid-save) and ends
// the process. The same layer with send(MSG_NOSIGNAL) turns that into EPIPE, an error of
// the request, for every write of the connection: requests, TLS handshakes, abandons and
// the unbind.
ber_slen_t WriteWithoutSignal(Sockbuf_IO_Desc* sbiod, void* buf, ber_len_t len) {
  ber_socket_t fd = -1;
  ber_sockbuf_ctrl(sbiod->sbiod_sb, LBER_SB_OPT_GET_FD, &fd);
  return ::send(fd, buf, len, MSG_NOSIGNAL);
}

const Sockbuf_IO* TcpWithoutSignal() {
  static const Sockbuf_IO io = [] {
    Sockbuf_IO copy = ber_sockbuf_io_tcp;
    copy.sbi_write = WriteWithoutSignal;
    return copy;
  }();
  return &io;
}

// Puts the layers above on the connection's socket: writes without SIGPIPE, and incoming
// messages bounded by kMaxIncomingMessage (liblber refuses a longer one as soon as its
// length is read, before buffering any of it). False when the library refused.
bool GuardSocket(LDAP* ld) {
  Sockbuf* sb = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS || !sb) return false;
  ber_len_t most = static_cast<ber_len_t>(kMaxIncomingMessage);
  if (ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &most) != 1) return false;
  if (ber_sockbuf_remove_io(sb, &ber_sockbuf_io_tcp, LBER_SBIOD_LEVEL_PROVIDER) != 0) return false;
  // No setup argument: the socket stays the one the Sockbuf already holds.
  return ber_sockbuf_add_io(sb, const_cast<Sockbuf_IO*>(TcpWithoutSignal()),
                            LBER_SBIOD_LEVEL_PROVIDER, nullptr) == 0;
}

// The session's diagnostic message (LDAP_OPT_DIAGNOSTIC_MESSAGE), empty when none.
std::string Diagnostic(LDAP* ld) {
  char* raw = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw) != LDAP_OPT_SUCCESS) return {};
  LdapString owned(raw);
  return raw ? raw : "";
}

// False once libldap has dropped the connection. libldap would then open a new one by
// itself on the next request, unbound and without the socket time-outs; requests are
// refused instead.
bool Connected(LDAP* ld) {
  int fd = -1;
  return ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0;
}

// The result code carried by a final answer message, and the server's diagnostic
// message (when `diagnostic` is given); frees nothing.
int ResultCode(LDAP* ld, LDAPMessage* res, std::string* diagnostic = nullptr) {
  int code = LDAP_OTHER;
  char* text = nullptr;
  const int rc =
      ldap_parse_result(ld, res, &code, nullptr, diagnostic ? &text : nullptr, nullptr, nullptr, 0);
  LdapString owned(text);
  if (diagnostic) *diagnostic = text ? text : "";
  return rc == LDAP_SUCCESS ? code : rc;
}

int NextMessage(LDAP* ld, int msgid, int all, Clock::time_point deadline, MessagePtr& out,
                int* type) {
  LDAPMessage* raw = nullptr;
  const int rc = wait::AwaitMessage(ld, msgid, all, deadline, &raw, type);
  out.reset(raw);
  return rc;
}

// A wait that ended without an answer gives the request up.
void GiveUp(LDAP* ld, int msgid, int code) {
  if (code == LDAP_TIMEOUT || code == kCancelled || code == kReadTooLong || code == kTooManyEntries)
    ldap_abandon_ext(ld, msgid, nullptr, nullptr);
}

// The same for every request in flight (message id -> the caller's value); `each` sees
// each value. When the socket takes nothing more, each abandon would wait a slice in
// vain, so the first that fails ends the abandons.
template <typename InFlight, typename Each>
void GiveUpAll(LDAP* ld, int code, const InFlight& inFlight, Each each) {
  bool abandon = code == LDAP_TIMEOUT || code == kCancelled;
  for (const auto& [msgid, value] : inFlight) {
    if (abandon) abandon = ldap_abandon_ext(ld, msgid, nullptr, nullptr) == LDAP_SUCCESS;
    each(value);
  }
}

// Resolves `host`; numeric addresses at once, names in a helper thread so that the wait
// can be bounded and cancelled (the resolver's own time-outs are long). The helper is
// left to finish on its own when the wait ends first.
int Resolve(const std::string& host, int port, Clock::time_point deadline, AddrInfoPtr& out,
            std::string* reason) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  const std::string service = std::to_string(port);
  addrinfo* raw = nullptr;
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
  if (rc == 0) {
    out.reset(raw);
    return LDAP_SUCCESS;
  }
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    addrinfo* result = nullptr;
    ~Shared() {
      if (result) freeaddrinfo(result);
    }
  };
  auto shared = std::make_shared<Shared>();
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  std::thread([shared, host, service, hints] {
    addrinfo* res = nullptr;
    const int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->rc = r;
    shared->result = res;
    shared->finished = true;
    shared->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(shared->mutex);
  while (!shared->finished) {
    if (CancelRequested()) return kCancelled;
    if (Clock::now() >= deadline) return LDAP_TIMEOUT;
    shared->done.wait_for(lock, Slice(deadline));
  }
  if (shared->rc != 0) {
    if (reason) *reason = gai_strerror(shared->rc);
    return LDAP_SERVER_DOWN;
  }
  out.reset(shared->result);
  shared->result = nullptr;
  return LDAP_SUCCESS;
}

// Connects a TCP socket to one address, waiting in slices. kSuccess with the socket in
// `fd`; else kTimeout, kCancelled or kServerDown with errno in `error`.
int ConnectOne(const addrinfo& ai, Clock::time_point deadline, int* fd, int* error) {
  const int s = ::socket(ai.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    *error = errno;
    return LDAP_SERVER_DOWN;
  }
  int rc = LDAP_SUCCESS;
  if (::connect(s, ai.ai_addr, ai.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      *error = errno;
      rc = LDAP_SERVER_DOWN;
    } else {
      while (true) {
        if (CancelRequested()) {
          rc = kCancelled;
          break;
        }
        if (Clock::now() >= deadline) {
          rc = LDAP_TIMEOUT;
          break;
        }
        pollfd p{s, POLLOUT, 0};
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Slice(deadline)).count();
        const int ready = ::poll(&p, 1, static_cast<int>(ms));
        if (ready < 0 && errno != EINTR) {
          *error = errno;
          rc = LDAP_SERVER_DOWN;
          break;
        }
        if (ready > 0) {
          int soError = 0;
          socklen_t len = sizeof soError;
          ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len);
          if (soError != 0) {
            *error = soError;
            rc = LDAP_SERVER_DOWN;
          }
          break;
        }
      }
    }
  }
  if (rc != LDAP_SUCCESS) {
    ::close(s);
    return rc;
  }
  // Blocking from now on (libldap expects it), but no read or write blocks longer than
  // one slice.
  ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK);
  const timeval slice = ToTimeval(kSlice);
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
  const int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  *fd = s;
  return LDAP_SUCCESS;
}

// Walks the entry's encoding once: the DN and each attribute's values are read in place
// (ldap_get_values_len would search the entry again from its start for every attribute).
Entry ToEntry(LDAP* ld, LDAPMessage* msg) {
  Entry entry;
  BerElement* rawBer = nullptr;
  berval dn{0, nullptr};
  const int rc = ldap_get_dn_ber(ld, msg, &rawBer, &dn);
  BerPtr ber(rawBer);  // allocated even when reading the DN fails
  if (rc != LDAP_SUCCESS) return entry;
  if (dn.bv_val) entry.dn.assign(dn.bv_val, dn.bv_len);
  while (true) {
    berval type{0, nullptr};
    BerVarray values = nullptr;
    if (ldap_get_attribute_ber(ld, msg, ber.get(), &type, &values) != LDAP_SUCCESS ||
        !type.bv_val) {
      ber_memfree(values);
      break;
    }
    Attribute& attr = entry.attributes.emplace_back();
    attr.type.assign(type.bv_val, type.bv_len);
    if (values) {
      for (berval* v = values; v->bv_val; ++v) attr.values.emplace_back(v->bv_val, v->bv_len);
      ber_memfree(values);
    }
  }
  return entry;
}

// What one search may still take in: its whole-operation deadline and how many entries,
// and how many bytes of them, it may still hold.
struct ReadBudget {
  Clock::time_point wholeBy;
  long long entries = kMaxReadEntries;
  long long bytes = kMaxReadBytes;
};

ReadBudget BudgetFor(const Timeouts& timeouts, Scope scope) {
  ReadBudget budget;
  budget.wholeBy = Clock::now() + std::chrono::seconds(timeouts.WholeSeconds());
  // A search of one entry that brings more is no answer to what was asked.
  if (scope == Scope::Base) budget.entries = 1;
  return budget;
}

// About what an entry costs in memory, allocations included: what the read's byte limit
// counts, so that it bounds the process's growth and not only the bytes received.
long long Footprint(const Entry& entry) {
  long long bytes = static_cast<long long>(sizeof(Entry) + entry.dn.size()) + 32;
  for (const Attribute& a : entry.attributes) {
    bytes += static_cast<long long>(sizeof(Attribute) + a.type.size()) + 48;
    for (const std::string& v : a.values)
      bytes += static_cast<long long>(sizeof(std::string) + v.size()) + 16;
  }
  return bytes;
}

// Takes the entries of search `msgid` into `entries` one by one as they arrive, so a large
// result does not pile up inside libldap; `seconds` bounds the wait for each next message
// and `budget` the whole read. On success `done` holds the search's final result message;
// otherwise the search is abandoned and the error that ended the wait is returned
// (kReadTooLong, kTooManyEntries when the budget ran out).
int ReadEntries(LDAP* ld, int msgid, int seconds, ReadBudget& budget, std::vector<Entry>& entries,
                MessagePtr& done) {
  while (true) {
    MessagePtr res;
    int type = 0;
    const Clock::time_point idleBy = After(seconds);
    const bool wholeFirst = budget.wholeBy < idleBy;
    int rc = NextMessage(ld, msgid, LDAP_MSG_ONE, wholeFirst ? budget.wholeBy : idleBy, res, &type);
    if (rc == LDAP_TIMEOUT && wholeFirst) rc = kReadTooLong;
    if (rc == LDAP_SUCCESS && type == LDAP_RES_SEARCH_ENTRY) {
      Entry& entry = entries.emplace_back(ToEntry(ld, res.get()));
      budget.bytes -= Footprint(entry);
      if (--budget.entries < 0 || budget.bytes < 0) rc = kTooManyEntries;
    }
    if (rc != LDAP_SUCCESS) {
      GiveUp(ld, msgid, rc);
      return rc;
    }
    if (type == LDAP_RES_SEARCH_RESULT) {
      done = std::move(res);
      return LDAP_SUCCESS;
    }
    // References and intermediate responses are not used.
  }
}

// Runs a batch of requests with at most `window` in flight. `send` starts request i and
// returns its message id, or a negative LDAP code when it could not be sent.
// `needs[i]` lists the earlier requests that must have succeeded before request i is
// sent (may be shorter than `count`: the rest need nothing). `skip` (may be empty) is
// asked before each send: true leaves the request and those that need it unsent, which
// is no failure. `succeeded` (may be empty) sees each successful answer.
int RunBatch(LDAP* ld, size_t count, int window, const std::vector<std::vector<int>>& needs,
             int seconds, const std::function<int(size_t, int*)>& send, int* failedIndex,
             std::vector<int>* codesOut, const std::function<bool(size_t)>& skip = {},
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

// libldap's null-terminated list of attribute names; it points into `attributes`, which
// must outlive it.
std::vector<char*> AttributeList(const std::vector<std::string>& attributes) {
  std::vector<char*> list;
  for (const std::string& a : attributes) list.push_back(const_cast<char*>(a.c_str()));
  list.push_back(nullptr);
  return list;
}

}  // namespace

namespace wait {

Clock::time_point After(int seconds) {
  return Clock::now() + std::chrono::seconds(seconds > 0 ? seconds : 1);
}

bool CancelRequested() { return t_cancel && *t_cancel && (*t_cancel)(); }

int AwaitMessage(LDAP* ld, int msgid, int all, Clock::time_point deadline, LDAPMessage** out,
                 int* type) {
  *out = nullptr;
  while (true) {
    if (CancelRequested()) return kCancelled;
    if (Clock::now() >= deadline) return LDAP_TIMEOUT;
    timeval tv = ToTimeval(Slice(deadline));
    LDAPMessage* raw = nullptr;
    errno = 0;
    const int got = ldap_result(ld, msgid, all, &tv, &raw);
    // liblber refuses a message longer than the connection's limit with ERANGE, and
    // libldap then drops the connection as if the server had gone.
    const int readError = errno;
    if (got > 0) {
      *out = raw;
      *type = got;
      return LDAP_SUCCESS;
    }
    if (raw) ldap_msgfree(raw);
    if (got < 0) return readError == ERANGE ? kMessageTooLarge : SessionError(ld);
  }
}

}  // namespace wait

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

CancelScope::CancelScope(CancelCheck check) : previous_(t_cancel), check_(std::move(check)) {
  t_cancel = &check_;
}

CancelScope::~CancelScope() { t_cancel = previous_; }

std::unique_ptr<Connection> Connection::Open(const std::string& host, int port,
                                             const Timeouts& timeouts, int* error,
                                             std::string* reason) {
  return Open(host, port, TlsOptions{}, timeouts, error, reason);
}

std::unique_ptr<Connection> Connection::Open(const std::string& host, int port,
                                             const TlsOptions& tls, const Timeouts& timeouts,
                                             int* error, std::string* reason) {
  auto fail = [error, reason](int code, const std::string& why) {
    if (error) *error = code;
    if (reason) *reason = why;
    return nullptr;
  };
  if (host.empty() || (port != 0 && !IsValidPort(port))) return fail(LDAP_PARAM_ERROR, "");
  if (port == 0) port = tls.security == Security::Ldaps ? kLdapsPort : kLdapPort;
  const Clock::time_point deadline = After(timeouts.connectSeconds);
  AddrInfoPtr addresses;
  std::string why;
  int rc = Resolve(host, port, deadline, addresses, &why);
  if (rc != LDAP_SUCCESS) return fail(rc, why);
  int fd = -1;
  int lastError = ECONNREFUSED;
  rc = LDAP_SERVER_DOWN;
  for (const addrinfo* ai = addresses.get(); ai && rc == LDAP_SERVER_DOWN; ai = ai->ai_next)
    rc = ConnectOne(*ai, deadline, &fd, &lastError);
  if (rc != LDAP_SUCCESS) return fail(rc, rc == LDAP_SERVER_DOWN ? std::strerror(lastError) : "");

  // The library brackets an IPv6 address itself.
  const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  const std::string url =
      MakeUrl("ldap", bracketed ? host.substr(1, host.size() - 2) : host, port, "");
  LDAP* ld = nullptr;
  rc = ldap_init_fd(fd, LDAP_PROTO_TCP, url.c_str(), &ld);
  if (rc != LDAP_SUCCESS || !ld) {
    ::close(fd);
    return fail(rc != LDAP_SUCCESS ? rc : LDAP_LOCAL_ERROR, "");
  }
  std::unique_ptr<Connection> conn(new Connection(ld, timeouts));
  if (!GuardSocket(ld)) return fail(LDAP_LOCAL_ERROR, "");
  conn->firstBindBy_ = deadline;
  conn->host_ = host;
  int version = LDAP_VERSION3;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  conn->SetTimeouts(timeouts);
  if (tls.security != Security::None) {
    rc = conn->StartTls(tls, &why);
    if (rc != LDAP_SUCCESS) return fail(rc, why);
  }
  if (error) *error = LDAP_SUCCESS;
  if (reason) reason->clear();
  return conn;
}

int Connection::StartTls(const TlsOptions& tls, std::string* why) {
  LDAP* ld = Ld(ld_);
  // The options go on this handle only, and NEWCTX gives it its own TLS context built from
  // them, so a CA file of one connection never leaks into another.
  int demand = LDAP_OPT_X_TLS_DEMAND;
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
  if (!tls.caFile.empty()) {
    if (::access(tls.caFile.c_str(), R_OK) != 0) {
      *why = tls.caFile + ": " + std::strerror(errno);
      return kTlsFailed;
    }
    ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, tls.caFile.c_str());
    // Only the given file: no directory of anchors from ldap.conf.
    ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTDIR, nullptr);
  }
  int server = 0;
  if (ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &server) != LDAP_OPT_SUCCESS) {
    *why = Diagnostic(ld);
    if (why->empty() && !tls.caFile.empty()) *why = tls.caFile;
    return kTlsFailed;
  }

  if (tls.security == Security::StartTls) {
    if (CancelRequested()) return kCancelled;
    int msgid = -1;
    int rc = ldap_start_tls(ld, nullptr, nullptr, &msgid);
    if (rc != LDAP_SUCCESS) return rc;
    rc = Wait(msgid, firstBindBy_.value_or(After(timeouts_.connectSeconds)));
    if (rc == LDAP_TIMEOUT || rc == kCancelled || rc < 0) {
      *why = diagnostic_;
      return rc;
    }
    if (rc != LDAP_SUCCESS) {
      *why = diagnostic_.empty() ? ErrorText(rc) : diagnostic_;
      return kStartTlsRefused;
    }
  }
  if (CancelRequested()) return kCancelled;
  CertificateReport report;
  report.host = host_;
  report.handshakeMs = static_cast<unsigned>(std::max(1, timeouts_.connectSeconds)) * 1000u;
  ldap_get_option(ld, LDAP_OPT_DESC, &report.fd);
  if (LibldapUsesGnutls()) {
    ldap_set_option(ld, LDAP_OPT_X_TLS_CONNECT_CB, reinterpret_cast<void*>(&HookCertificateCheck));
    t_certificate = &report;
  }
  // libldap runs the handshake within the network time-out set by SetTimeouts, and checks
  // the certificate chain and the host name before it returns.
  const Clock::time_point handshakeStart = Clock::now();
  const int rc = ldap_install_tls(ld);
  t_certificate = nullptr;
  if (rc == LDAP_SUCCESS) return LDAP_SUCCESS;
  if (rc == LDAP_TIMEOUT) return LDAP_TIMEOUT;
  // GnuTLS's time-out and the cancel reach here only as a failed handshake.
  if (CancelRequested()) return kCancelled;
  // GnuTLS measures the handshake limit on its own clock, so our wait's verdict counts,
  // not a comparison of times.
  if (report.timedOut ||
      Clock::now() - handshakeStart >= std::chrono::milliseconds(report.handshakeMs))
    return LDAP_TIMEOUT;
  if (report.checked && report.status != 0) {
    *why = report.text;
    if (report.status & GNUTLS_CERT_UNEXPECTED_OWNER) return kCertificateWrongHost;
    if (report.status & (GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED))
      return kCertificateExpired;
    return kCertificateUntrusted;
  }
  *why = Diagnostic(ld);
  if (why->empty() || *why == "(unknown error code)") *why = ErrorText(rc);
  return kTlsFailed;
}

bool Connection::encrypted() const { return ld_ && ldap_tls_inplace(Ld(ld_)); }

void Connection::SetProtocolVersion(int version) {
  ldap_set_option(Ld(ld_), LDAP_OPT_PROTOCOL_VERSION, &version);
}

void Connection::SetTimeouts(const Timeouts& timeouts) {
  timeouts_ = timeouts;
  // The waits here keep their own deadlines; libldap's own limits bound whatever waits
  // it runs by itself.
  timeval connect = ToTimeval(std::chrono::seconds(std::max(1, timeouts.connectSeconds)));
  ldap_set_option(Ld(ld_), LDAP_OPT_NETWORK_TIMEOUT, &connect);
  timeval op = ToTimeval(std::chrono::seconds(std::max(1, timeouts.operationSeconds)));
  ldap_set_option(Ld(ld_), LDAP_OPT_TIMEOUT, &op);
}

int Connection::Wait(int msgid, Clock::time_point deadline) {
  LDAP* ld = Ld(ld_);
  MessagePtr res;
  int type = 0;
  const int rc = NextMessage(ld, msgid, LDAP_MSG_ALL, deadline, res, &type);
  if (rc != LDAP_SUCCESS) {
    Lost(rc);
    GiveUp(ld, msgid, rc);
    if (rc != LDAP_TIMEOUT && rc != kCancelled) {
      LdapString text;
      char* raw = nullptr;
      if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw) == LDAP_OPT_SUCCESS) {
        text.reset(raw);
        diagnostic_ = raw ? raw : "";
      }
    }
    return rc;
  }
  return ResultCode(ld, res.get(), &diagnostic_);
}

int Connection::SimpleBind(const std::string& dn, const std::string& password) {
  diagnostic_.clear();
  if (!Connected(Ld(ld_))) return Gone();
  if (CancelRequested()) return kCancelled;
  berval cred{password.size(), const_cast<char*>(password.data())};
  int msgid = -1;
  const int rc =
      ldap_sasl_bind(Ld(ld_), dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return Gone(rc);
  Clock::time_point deadline = After(timeouts_.connectSeconds);
  if (firstBindBy_) {
    // At least a moment for the answer, however long the connect took.
    deadline = std::max(*firstBindBy_, Clock::now() + std::chrono::milliseconds(500));
    firstBindBy_.reset();
  }
  return Wait(msgid, deadline);
}

SearchResult Connection::Search(const std::string& base, Scope scope, const std::string& filter,
                                const std::vector<std::string>& attributes, bool typesOnly) {
  SearchResult result;
  diagnostic_.clear();
  LDAP* ld = Ld(ld_);
  if (!Connected(ld)) {
    result.code = Gone();
    return result;
  }
  std::vector<char*> attrs = AttributeList(attributes);
  int msgid = -1;
  int rc = ldap_search_ext(ld, base.c_str(), static_cast<int>(scope), filter.c_str(),
                           attributes.empty() ? nullptr : attrs.data(), typesOnly ? 1 : 0, nullptr,
                           nullptr, nullptr, 0, &msgid);
  if (rc != LDAP_SUCCESS) {
    result.code = Gone(rc);
    return result;
  }
  MessagePtr done;
  ReadBudget budget = BudgetFor(timeouts_, scope);
  rc = ReadEntries(ld, msgid, timeouts_.operationSeconds, budget, result.entries, done);
  Lost(rc);
  result.code = rc == LDAP_SUCCESS ? ResultCode(ld, done.get(), &diagnostic_) : rc;
  if (result.code != LDAP_SUCCESS) result.entries.clear();
  return result;
}

SearchResult Connection::SearchPaged(const std::string& base, Scope scope,
                                     const std::string& filter,
                                     const std::vector<std::string>& attributes, bool typesOnly,
                                     int pageSize) {
  SearchResult result;
  diagnostic_.clear();
  LDAP* ld = Ld(ld_);
  if (!Connected(ld)) {
    result.code = Gone();
    return result;
  }
  std::vector<char*> attrs = AttributeList(attributes);
  std::string cookie;
  // One budget for all pages: a server that hands out page after page without end is
  // given up like one that never ends a single answer.
  ReadBudget budget = BudgetFor(timeouts_, scope);
  auto fail = [&](int code) {
    result.code = code;
    result.entries.clear();
    return result;
  };
  while (true) {
    LDAPControl* page = nullptr;
    berval cookieValue{static_cast<ber_len_t>(cookie.size()), cookie.data()};
    // Critical: a server that cannot page must refuse the search rather than answer it
    // in one piece, which its size limit could cut.
    int rc = ldap_create_page_control(ld, static_cast<ber_int_t>(pageSize),
                                      cookie.empty() ? nullptr : &cookieValue, 1, &page);
    if (rc != LDAP_SUCCESS) return fail(Gone(rc));
    LDAPControl* controls[] = {page, nullptr};
    int msgid = -1;
    rc = ldap_search_ext(ld, base.c_str(), static_cast<int>(scope), filter.c_str(),
                         attributes.empty() ? nullptr : attrs.data(), typesOnly ? 1 : 0, controls,
                         nullptr, nullptr, 0, &msgid);
    ldap_control_free(page);
    if (rc != LDAP_SUCCESS) return fail(Gone(rc));
    {
      MessagePtr res;
      rc = ReadEntries(ld, msgid, timeouts_.operationSeconds, budget, result.entries, res);
      Lost(rc);
      if (rc != LDAP_SUCCESS) return fail(rc);
      int code = LDAP_OTHER;
      char* text = nullptr;
      LDAPControl** returned = nullptr;
      rc = ldap_parse_result(ld, res.get(), &code, nullptr, &text, nullptr, &returned, 0);
      LdapString owned(text);
      diagnostic_ = text ? text : "";
      if (rc != LDAP_SUCCESS) code = rc;
      std::string next;
      bool paged = false;
      if (code == LDAP_SUCCESS && returned) {
        if (LDAPControl* answer = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
          ber_int_t estimate = 0;
          berval nextCookie{0, nullptr};
          if (ldap_parse_pageresponse_control(ld, answer, &estimate, &nextCookie) == LDAP_SUCCESS) {
            paged = true;
            if (nextCookie.bv_val) next.assign(nextCookie.bv_val, nextCookie.bv_len);
            ber_memfree(nextCookie.bv_val);
          }
        }
      }
      ldap_controls_free(returned);
      if (code != LDAP_SUCCESS) return fail(code);
      // Without a response control the server did not page; it reported success, so
      // the result is whole.
      if (!paged || next.empty()) {
        result.code = LDAP_SUCCESS;
        return result;
      }
      cookie = std::move(next);
    }
  }
}

Subschema ReadSubschema(Connection& connection) {
  Subschema schema;
  const SearchResult dse =
      connection.Search("", Scope::Base, "(objectClass=*)", {"subschemaSubentry"});
  std::string dn = "cn=Subschema";
  if (dse.code == kSuccess && !dse.entries.empty())
    if (const Attribute* a = dse.entries.front().Find("subschemaSubentry"); a && !a->values.empty())
      dn = a->values.front();
  // Operational attributes: a search for all user attributes would not return them.
  const SearchResult entry = connection.Search(dn, Scope::Base, "(objectClass=subschema)",
                                               {"attributeTypes", "objectClasses"});
  schema.code = entry.code;
  if (entry.code != kSuccess || entry.entries.empty()) return schema;
  if (const Attribute* a = entry.entries.front().Find("attributeTypes"))
    schema.attributeTypes = a->values;
  if (const Attribute* a = entry.entries.front().Find("objectClasses"))
    schema.objectClasses = a->values;
  return schema;
}

bool OffersControl(Connection& connection, const std::string& oid, int* error) {
  const SearchResult dse =
      connection.Search("", Scope::Base, "(objectClass=*)", {"supportedControl"});
  if (error) *error = dse.code;
  if (dse.code != kSuccess || dse.entries.empty()) return false;
  const Attribute* controls = dse.entries.front().Find("supportedControl");
  return controls &&
         std::find(controls->values.begin(), controls->values.end(), oid) != controls->values.end();
}

SearchResult ReadEntryRights(Connection& connection, const std::string& base,
                             const std::string& authzDn) {
  SearchResult result;
  LDAP* ld = Ld(connection.native());
  if (!Connected(ld)) {
    result.code = LDAP_SERVER_DOWN;
    return result;
  }
  // The control's value: the subject as an authorization identity.
  const std::string subject = "dn:" + authzDn;
  BerBufferPtr ber(ber_alloc_t(LBER_USE_DER));
  berval value{0, nullptr};
  if (!ber ||
      ber_printf(ber.get(), "o", subject.data(), static_cast<ber_len_t>(subject.size())) == -1 ||
      ber_flatten2(ber.get(), &value, 0) != 0) {
    result.code = LDAP_ENCODING_ERROR;
    return result;
  }
  LDAPControl control{};
  control.ldctl_oid = const_cast<char*>(kEffectiveRightsOid);
  control.ldctl_value = value;
  control.ldctl_iscritical = 1;
  LDAPControl* controls[] = {&control, nullptr};
  std::vector<std::string> wanted = {"entryLevelRights"};
  std::vector<char*> attrs = AttributeList(wanted);
  int msgid = -1;
  int rc = ldap_search_ext(ld, base.c_str(), LDAP_SCOPE_SUBTREE, "(objectClass=*)", attrs.data(), 0,
                           controls, nullptr, nullptr, 0, &msgid);
  if (rc != LDAP_SUCCESS) {
    result.code = rc;
    return result;
  }
  MessagePtr done;
  ReadBudget budget = BudgetFor(connection.timeouts(), Scope::Subtree);
  rc = ReadEntries(ld, msgid, connection.timeouts().operationSeconds, budget, result.entries, done);
  result.code = rc == LDAP_SUCCESS ? ResultCode(ld, done.get()) : rc;
  if (result.code != LDAP_SUCCESS) result.entries.clear();
  return result;
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

namespace {

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
                  codes, skip, succeeded);
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
                  codes);
}

}  // namespace ldapx
