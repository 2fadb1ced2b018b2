// TLS on an open connection: StartTLS or ldaps, the certificate check and the reasons
// given when it fails.
#include <gnutls/gnutls.h>
#include <ldap.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

using namespace wait;

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

}  // namespace

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

}  // namespace ldapx
