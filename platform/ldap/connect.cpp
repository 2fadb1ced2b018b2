// Name look-up and connect: the TCP connection made within the connect limit, libldap's
// session put on it, the options of the session and the bind.
#include <fcntl.h>
#include <ldap.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openldap.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

using namespace wait;

struct AddrInfoFree {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;

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

}  // namespace

Connection::~Connection() {
  if (ld_) ldap_unbind_ext(Ld(ld_), nullptr, nullptr);
}

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
  conn->port_ = port;
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

}  // namespace ldapx
