// What the files of the LDAP layer share about libldap's session (never included outside
// platform/ldap): owners of libldap's objects, the questions asked of a session and of an
// answer, and the decoding of entries.
#pragma once

#include <lber.h>
#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace ldapx {

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

inline LDAP* Ld(void* p) { return static_cast<LDAP*>(p); }
inline LDAP* Ld(const Connection& c) { return static_cast<LDAP*>(c.native()); }

// The session's last result code (LDAP_OPT_RESULT_CODE); LDAP_OTHER when it holds none or
// success, so a failure never reads as success.
int SessionError(LDAP* ld);

// The session's diagnostic message (LDAP_OPT_DIAGNOSTIC_MESSAGE), empty when none.
std::string Diagnostic(LDAP* ld);

// False once libldap has dropped the connection. libldap would then open a new one by
// itself on the next request, unbound and without the socket time-outs; requests are
// refused instead.
bool Connected(LDAP* ld);

// The result code carried by a final answer message, and the server's diagnostic
// message (when `diagnostic` is given); frees nothing.
int ResultCode(LDAP* ld, LDAPMessage* res, std::string* diagnostic = nullptr);

// The referral URLs of a final answer (empty when it names none); frees nothing.
std::vector<std::string> ReferralUrls(LDAP* ld, LDAPMessage* res);

// libldap's null-terminated list of attribute names; it points into `attributes`, which
// must outlive it.
std::vector<char*> AttributeList(const std::vector<std::string>& attributes);

// ---- Entries (entry.cpp) ----

// The entry of a search-entry message, its DN and each attribute's values in the order
// sent; an entry without DN or attributes when the message does not decode.
Entry ToEntry(LDAP* ld, LDAPMessage* msg);

// About what an entry costs in memory, allocations included: what a read's byte limit
// counts, so that it bounds the process's growth and not only the bytes received.
long long Footprint(const Entry& entry);

}  // namespace ldapx
