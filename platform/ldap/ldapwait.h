// Waiting for answers inside the LDAP layer (never included outside platform/ldap). Every
// wait of the layer goes through AwaitMessage, so that it is bounded and sees the user's
// cancel (CancelScope) within one slice; code that sends its own requests on
// Connection::native() waits with it too.
#pragma once

#include <ldap.h>

#include <chrono>

namespace ldapx::wait {

using Clock = std::chrono::steady_clock;

// The deadline `seconds` from now (at least one second).
Clock::time_point After(int seconds);

// True when a CancelScope of this thread asks to stop.
bool CancelRequested();

// Waits for the next message of `msgid` (LDAP_RES_ANY: of any request; `all` as for
// ldap_result) until `deadline`, in slices of at most 100 ms. kSuccess with the message
// in `*out` (free it with ldap_msgfree) and its type in `*type`; otherwise kTimeout,
// kCancelled or the session's error, with *out null. The request is not abandoned.
int AwaitMessage(LDAP* ld, int msgid, int all, Clock::time_point deadline, LDAPMessage** out,
                 int* type);

}  // namespace ldapx::wait
