// Waits and cancel: the bounded, cancellable wait for an answer that every request of the
// layer goes through, and the CancelScope that asks it to stop.
#include <ldap.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

thread_local const CancelCheck* t_cancel = nullptr;

}  // namespace

namespace wait {

timeval ToTimeval(Clock::duration d) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(us / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
  return tv;
}

Clock::duration Slice(Clock::time_point deadline) {
  return std::max<Clock::duration>(Clock::duration::zero(),
                                   std::min<Clock::duration>(kSlice, deadline - Clock::now()));
}

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

int NextMessage(LDAP* ld, int msgid, int all, Clock::time_point deadline, MessagePtr& out,
                int* type) {
  LDAPMessage* raw = nullptr;
  const int rc = AwaitMessage(ld, msgid, all, deadline, &raw, type);
  out.reset(raw);
  return rc;
}

void GiveUp(LDAP* ld, int msgid, int code) {
  if (code == LDAP_TIMEOUT || code == kCancelled || code == kReadTooLong || code == kTooManyEntries)
    ldap_abandon_ext(ld, msgid, nullptr, nullptr);
}

}  // namespace wait

using namespace wait;

CancelScope::CancelScope(CancelCheck check) : previous_(t_cancel), check_(std::move(check)) {
  t_cancel = &check_;
}

CancelScope::~CancelScope() { t_cancel = previous_; }

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
  const int code = ResultCode(ld, res.get(), &diagnostic_);
  if (code == LDAP_REFERRAL) referrals_ = ReferralUrls(ld, res.get());
  return code;
}

}  // namespace ldapx
