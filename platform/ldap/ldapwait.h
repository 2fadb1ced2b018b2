// Waiting for answers inside the LDAP layer (never included outside platform/ldap). Every
// wait of the layer goes through AwaitMessage, so that it is bounded and sees the user's
// cancel (CancelScope) within one slice; code that sends its own requests on
// Connection::native() waits with it too.
//
// The TCP connection is made by the layer (not by libldap), so that the connect can be
// bounded and cancelled, and its socket gets receive and send time-outs of one short
// slice: libldap reads a message with blocking read() calls, and a server that sends
// half a message and stalls would otherwise hold the program in read() for ever. With the
// time-outs such a read returns EAGAIN after one slice, which libldap takes as "nothing
// more yet". Every wait for an answer is then a loop of short ldap_result() calls that
// looks at the deadline and the user's cancel between them.
#pragma once

#include <ldap.h>
#include <sys/time.h>

#include <chrono>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/session.h"

namespace ldapx::wait {

using Clock = std::chrono::steady_clock;

// The longest a wait goes without looking at the cancel check and the deadline.
inline constexpr auto kSlice = std::chrono::milliseconds(100);

// The deadline `seconds` from now (at least one second).
Clock::time_point After(int seconds);

// True when a CancelScope of this thread asks to stop.
bool CancelRequested();

timeval ToTimeval(Clock::duration d);

// The next slice of a wait that ends at `deadline`.
Clock::duration Slice(Clock::time_point deadline);

// Waits for the next message of `msgid` (LDAP_RES_ANY: of any request; `all` as for
// ldap_result) until `deadline`, in slices of at most 100 ms. kSuccess with the message
// in `*out` (free it with ldap_msgfree) and its type in `*type`; otherwise kTimeout,
// kCancelled or the session's error, with *out null. The request is not abandoned.
int AwaitMessage(LDAP* ld, int msgid, int all, Clock::time_point deadline, LDAPMessage** out,
                 int* type);

// AwaitMessage with the message owned by `out`.
int NextMessage(LDAP* ld, int msgid, int all, Clock::time_point deadline, MessagePtr& out,
                int* type);

// A wait that ended without an answer gives the request up.
void GiveUp(LDAP* ld, int msgid, int code);

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

}  // namespace ldapx::wait
