// The directory client: a thin RAII layer over OpenLDAP's libldap. The rest of the
// program talks to the directory only through this header; it never sees ldap.h.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/support/oidtable.h"
#include "platform/support/utf8.h"

namespace ldapx {

// LDAP result codes the program looks at by name (the values of ldap.h, checked against
// it where the layer is built).
inline constexpr int kSuccess = 0;
inline constexpr int kServerDown = -1;     // LDAP_SERVER_DOWN
inline constexpr int kTimeout = -5;        // LDAP_TIMEOUT
inline constexpr int kDecodingError = -4;  // LDAP_DECODING_ERROR: an answer that is no LDAP
inline constexpr int kConnectError = -11;  // LDAP_CONNECT_ERROR
inline constexpr int kProtocolError = 2;   // LDAP_PROTOCOL_ERROR
inline constexpr int kSizeLimitExceeded = 4;
inline constexpr int kReferral = 10;
inline constexpr int kAdminLimitExceeded = 11;
inline constexpr int kUnavailableCriticalExtension = 12;
inline constexpr int kNoSuchObject = 32;
inline constexpr int kInsufficientAccess = 50;
inline constexpr int kUnwillingToPerform = 53;
inline constexpr int kNotAllowedOnNonLeaf = 66;
inline constexpr int kAlreadyExists = 68;
inline constexpr int kAffectsMultipleDsas = 71;
inline constexpr int kOther = 80;
// Not an LDAP code: a request of a batch that was never sent (see AddMany).
inline constexpr int kNotSent = -1000;
// Not an LDAP code: the user cancelled the wait (see CancelScope).
inline constexpr int kCancelled = -1001;
// Not LDAP codes: TLS could not be set up on the connection, so nothing was sent in
// clear. The server's certificate is not signed by a trusted authority, has expired (or is
// not valid yet), was issued for another host name, or the TLS set-up failed otherwise
// (the handshake, an unreadable CA file). The reason says why in the words of libldap and
// the TLS library.
inline constexpr int kTlsFailed = -1002;
inline constexpr int kCertificateUntrusted = -1004;
inline constexpr int kCertificateExpired = -1005;
inline constexpr int kCertificateWrongHost = -1006;
// Not an LDAP code: the server answered the StartTLS request with a refusal (it does not
// offer TLS on this port); the reason holds the server's answer.
inline constexpr int kStartTlsRefused = -1003;
// The server refuses the request without an encrypted connection.
inline constexpr int kConfidentialityRequired = 13;
// Not LDAP codes: a read that the client ends because it outgrew what the program can
// ever ask for. The server announced a message larger than kMaxIncomingMessage; a search
// went on longer than its whole-operation limit (Timeouts::wholeSeconds) although answers
// kept coming; a search returned more than kMaxReadEntries entries or kMaxReadBytes of
// them (a search of one entry, Scope::Base, more than one). The connection is of no
// further use after the first.
inline constexpr int kMessageTooLarge = -1007;
inline constexpr int kReadTooLong = -1008;
inline constexpr int kTooManyEntries = -1009;
inline constexpr long long kMaxIncomingMessage = 64ll * 1024 * 1024;
inline constexpr long long kMaxReadEntries = 1000000;
inline constexpr long long kMaxReadBytes = 128ll * 1024 * 1024;

inline constexpr int kLdapPort = 389;
inline constexpr int kLdapsPort = 636;

// How a connection is protected: not at all, by StartTLS before the bind (RFC 4513), or
// by TLS from the first byte (ldaps).
enum class Security { None, StartTls, Ldaps };

// The settings' and the command line's names: "none", "starttls", "ldaps" (any case);
// nullopt for anything else.
std::optional<Security> ParseSecurity(std::string_view text);
const char* SecurityName(Security security);

// TLS for a connection. The server's certificate is always checked (a certificate that
// fails the check ends the connection before anything else is sent), including that it
// was issued for the host name or address the connection was opened with. The trust
// anchors are the certificates of `caFile` when given, else the system's store.
struct TlsOptions {
  Security security = Security::None;
  std::string caFile;
};

// Text of a result code (ldap_err2string).
std::string ErrorText(int code);

// One attribute of an entry with its values, in the order the server sent them.
struct Attribute {
  std::string type;
  std::vector<std::string> values;
};

// One entry of a search result.
struct Entry {
  std::string dn;  // empty when the server sent none
  std::vector<Attribute> attributes;
  // First attribute whose type equals `type` case-insensitively, or null.
  const Attribute* Find(std::string_view type) const;
};

struct SearchResult {
  int code = kSuccess;
  std::vector<Entry> entries;
};

enum class Scope { Base = 0, OneLevel = 1, Subtree = 2 };

// An attribute list for an add: ordered attributes, each with its values. Turned into
// libldap's NULL-terminated LDAPMod array only inside the connection.
class ModList {
 public:
  ModList& Add(std::string type, std::vector<std::string> values);
  const std::vector<Attribute>& attributes() const { return attributes_; }

 private:
  std::vector<Attribute> attributes_;
};

// Time limits of a connection. The connect limit bounds the TCP connect and, again, the
// bind; the operation limit bounds how long a search or write may go without any answer
// from the server (every complete message counts as progress), so a server that stops
// answering, also in the middle of a message, fails the operation with kTimeout instead
// of blocking the program.
//
// The whole-operation limit bounds one search from its request to its last answer (all
// pages of a paged search), however steadily the server keeps answering: a server that
// never ends its answer is given up after it, with kReadTooLong. 0 means ten times the
// operation limit.
struct Timeouts {
  int connectSeconds = 10;
  int operationSeconds = 30;
  int wholeSeconds = 0;
  int WholeSeconds() const {
    return wholeSeconds > 0 ? wholeSeconds : 10 * std::max(1, operationSeconds);
  }
};

// Asked while a wait runs; true ends the wait with kCancelled. Called on the waiting
// thread, so it must be safe to call there (e.g. read an atomic flag).
using CancelCheck = std::function<bool()>;

// While alive, every wait of the LDAP layer on the constructing thread (connect, bind,
// search, writes) asks `check` at least every 100 ms and ends with kCancelled once it
// returns true; the request in flight is abandoned. Scopes nest; an empty check makes the
// waits inside it uncancellable again (for steps that must run to the end once begun).
class CancelScope {
 public:
  explicit CancelScope(CancelCheck check);
  ~CancelScope();
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  const CancelCheck* previous_;
  CancelCheck check_;
};

// An open connection (ldap_initialize on ldap://host:port, connected at once).
// Closing (the destructor) unbinds.
struct EntryWrite;

class Connection {
 public:
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens a connection to host:port and connects at once, so an unreachable server
  // fails here, within the connect limit (kTimeout) or when cancelled (kCancelled). Null
  // on failure; `error` (when given) receives the result code, `reason` the system's
  // reason (e.g. "Connection refused"; empty when there is none). Port 0 means the
  // scheme's default; any other port outside IsValidPort fails with LDAP_PARAM_ERROR (-9).
  static std::unique_ptr<Connection> Open(const std::string& host, int port,
                                          const Timeouts& timeouts = {}, int* error = nullptr,
                                          std::string* reason = nullptr);
  // The same with TLS as `tls` asks: for Ldaps the TLS handshake runs right after the TCP
  // connect (port 0 means 636), for StartTls the StartTLS request and the handshake run
  // before Open returns, so a later bind never crosses the network in clear. A failed
  // certificate check gives kCertificateUntrusted, kCertificateExpired or
  // kCertificateWrongHost, another TLS failure kTlsFailed, a refused StartTLS
  // kStartTlsRefused, each with the reason; the handshake is bounded by the connect limit.
  static std::unique_ptr<Connection> Open(const std::string& host, int port, const TlsOptions& tls,
                                          const Timeouts& timeouts = {}, int* error = nullptr,
                                          std::string* reason = nullptr);

  // True when the connection runs over TLS.
  bool encrypted() const;
  // The host and port the connection was opened to, as Open was given them (the port
  // with the scheme's default filled in).
  const std::string& host() const { return host_; }
  int port() const { return port_; }

  // Sets LDAP_OPT_PROTOCOL_VERSION. Connections start with version 3; current servers
  // refuse version 2 binds.
  void SetProtocolVersion(int version);
  // The limits used from now on (the connect limit matters only for a reconnect).
  void SetTimeouts(const Timeouts& timeouts);
  const Timeouts& timeouts() const { return timeouts_; }
  // Simple bind; empty DN and password bind anonymously. The first bind ends within the
  // connect limit counted from the start of Open (so connect and bind together take no
  // longer), a later one within the connect limit. Returns the result code; diagnostic()
  // then holds the server's message.
  int SimpleBind(const std::string& dn, const std::string& password);
  // The server's diagnostic message of the last final answer (empty when it sent none).
  const std::string& diagnostic() const { return diagnostic_; }
  // The URLs of the last answer that was a referral (kReferral: the server holds a
  // read-only copy, or not the entry, and names where to go), as the server sent them;
  // kept until the next referral, also from a failed request of a batch (AddMany,
  // WriteInOrder, DeleteMany). Nothing is ever sent to them by this layer.
  const std::vector<std::string>& referrals() const { return referrals_; }
  // Synchronous search. `attributes` empty asks for all user attributes; `typesOnly`
  // asks for attribute types without values.
  SearchResult Search(const std::string& base, Scope scope, const std::string& filter,
                      const std::vector<std::string>& attributes = {}, bool typesOnly = false);
  // The same search with the simple paged results control (RFC 2696, marked critical):
  // `pageSize` entries per request, request after request until the server's cookie
  // comes back empty; the operation limit applies to each wait as above. Any page that
  // ends in an error (a size or administrative limit too) fails the whole search: code
  // holds the error and no entries are returned, so a cut result is never taken whole.
  SearchResult SearchPaged(const std::string& base, Scope scope, const std::string& filter,
                           const std::vector<std::string>& attributes, bool typesOnly,
                           int pageSize);
  int Add(const std::string& dn, const ModList& mods);
  int Delete(const std::string& dn);
  // Replaces each attribute of `mods` in the entry at `dn` with the values given there.
  int Replace(const std::string& dn, const ModList& mods);

  // Pipelined writes: sends requests without waiting for each answer, keeping at most
  // `window` requests in flight. A request with `after` >= 0 is sent only once request
  // `after` (an earlier index) has succeeded: the server may run requests of one
  // connection in any order, so whatever must happen first (a parent's add, the add of
  // a sibling whose position must be kept) is named there. Requests are otherwise sent
  // in list order. At the first failed answer nothing more is sent; the answers still
  // in flight are collected. Returns the code of the first failure in list order
  // (kSuccess when all succeeded); `failedIndex` receives its index (or -1); `codes`
  // (when given) receives each request's code, kNotSent for those never sent.
  struct AddRequest {
    std::string dn;
    ModList mods;
    int after = -1;
  };
  // What AddMany may do besides.
  struct AddHooks {
    // An attribute of each added entry to hand back with its answer (the post-read
    // control of RFC 4527, not critical: a server without it adds all the same and hands
    // back nothing). Empty: none.
    std::string postRead;
    // Called for each request that succeeded, with the first value of postRead (empty
    // when the server sent none). May be empty.
    std::function<void(size_t index, const std::string& value)> onAdded;
    // Asked before each request is sent; true leaves it, and every request that waits
    // for it, unsent (kNotSent), which is no failure. May be empty.
    std::function<bool(size_t index)> skip;
  };
  // With `spacing`, two adds are sent at least that far apart: a server that runs the
  // requests of a connection in several threads then takes them up in the order sent far
  // more often (slapd numbers its changes as each thread takes one up). `hooks` (may be
  // null) as described there.
  int AddMany(const std::vector<AddRequest>& requests, int window, int* failedIndex,
              std::vector<int>* codes = nullptr,
              std::chrono::microseconds spacing = std::chrono::microseconds(0),
              const AddHooks* hooks = nullptr);
  // One write of WriteInOrder: the add of request `index`, or (`touch`) a modify of the
  // entry it added that replaces one attribute with the values it was added with, which
  // leaves the entry as it was but gives it a new change sequence number. `tag` is the
  // caller's, handed back with the answer.
  struct OrderedWrite {
    size_t index = 0;
    bool touch = false;
    unsigned tag = 0;
  };
  struct OrderedHooks {
    std::string postRead;   // as in AddHooks
    std::string touchType;  // the attribute a touch replaces (in every request's mods)
    // The next write to send; nothing when none may go before more answers are in.
    std::function<std::optional<OrderedWrite>()> next;
    // Each answer: the write, its code, the first value of postRead (empty: none).
    std::function<void(const OrderedWrite&, int code, const std::string& value)> answered;
  };
  // Sends the writes hooks.next hands out as they come, at least `spacing` apart and at
  // most `window` in flight, looking at the answers between two sends, until it hands out
  // nothing while none is in flight. At the first failed answer nothing more is sent and
  // the answers still in flight are collected. Returns the first failure's code (kSuccess
  // when none); `failed` (may be null) receives its write.
  int WriteInOrder(const std::vector<AddRequest>& requests, int window,
                   std::chrono::microseconds spacing, const OrderedHooks& hooks,
                   OrderedWrite* failed);
  // The same for deletes; `after` lists, per DN, the index that must succeed first
  // (may be empty: plain list order within the window).
  int DeleteMany(const std::vector<std::string>& dns, int window, int* failedIndex,
                 std::vector<int>* codes = nullptr, const std::vector<int>& after = {});
  // The same with several prerequisites per DN: `needs[i]` lists the earlier indexes
  // whose deletes must have succeeded before DN i is sent (a parent waits for all its
  // children).
  int DeleteMany(const std::vector<std::string>& dns, const std::vector<std::vector<int>>& needs,
                 int window, int* failedIndex, std::vector<int>* codes = nullptr);

  // libldap's LDAP* for code inside this layer; opaque elsewhere.
  void* native() const { return ld_; }

 private:
  explicit Connection(void* ld, Timeouts timeouts) : ld_(ld), timeouts_(timeouts) {}
  // Waits for the final answer of `msgid` until `deadline`.
  int Wait(int msgid, std::chrono::steady_clock::time_point deadline);
  // Keeps why the connection was dropped when it was the client's own doing (a message
  // over the limit), so the requests that follow say that instead of "server down".
  void Lost(int code) {
    if (code == kMessageTooLarge) lost_ = code;
  }
  int Gone(int code = kServerDown) const {
    return code == kServerDown && lost_ != kSuccess ? lost_ : code;
  }
  // Sets up TLS on the open connection as `tls` asks; LDAP_SUCCESS or the code of Open.
  int StartTls(const TlsOptions& tls, std::string* why);
  void* ld_;
  std::string host_;  // as the caller gave it: the name the certificate must carry
  int port_ = 0;
  std::vector<std::string> referrals_;
  // The single checked write keeps a referral's URLs as the other writes do.
  friend int WriteEntry(Connection& connection, const EntryWrite& write, std::string* diagnostic);
  Timeouts timeouts_;
  std::string diagnostic_;
  int lost_ = kSuccess;
  // The first bind must be done when the connect limit, counted from the start of Open,
  // runs out; later binds get the whole limit.
  std::optional<std::chrono::steady_clock::time_point> firstBindBy_;
};

// The RDNs of a DN (the components of an RDN) as LDAPv3 text, attribute types kept;
// nullopt when the text is not a DN (RDN). An empty RDN, or text with a NUL byte, is no
// RDN (DN) and never reaches the library.
std::optional<std::vector<std::string>> ExplodeDn(const std::string& dn);
std::optional<std::vector<std::string>> ExplodeRdn(const std::string& rdn);

// A DN in one canonical text form (RFC 4514 string, no spaces after separators), and
// the same form of its parent (empty for a one-RDN DN); nullopt when not a DN.
std::optional<std::string> NormalizeDn(const std::string& dn);
std::optional<std::string> ParentDn(const std::string& dn);
// The attribute type and the unescaped value of the first RDN when it has exactly one
// component; nullopt otherwise.
struct Ava {
  std::string type;
  std::string value;
};
std::optional<Ava> FirstRdn(const std::string& dn);

// One LDIF (RFC 2849) attribute line ending in "\n", folded at 76 columns: "type: value",
// "type:" for an empty value, or "type:: " and the value in base64 where libldap's
// ldif_put_wrap asks for it: a value that starts with a blank, ":" or "<", ends with a
// blank, or holds a byte other than printable ASCII and the blank; and always for the
// attributes libldap keeps secret (userPassword). Reads back as the value given.
std::string LdifLine(std::string_view type, std::string_view value);

// The TCP ports a server can listen on: 1..65535. The one check of a port number for the
// settings, the connections and the dialogs.
inline constexpr bool IsValidPort(long long port) { return port >= 1 && port <= 65535; }

// An LDAP URL made by libldap (ldap_url_desc2str) from its parts: an IPv6 host comes in
// brackets, the port is left out when 0, an empty DN still gets its "/" (the form
// "ldap://host:389/"), and the DN is percent-encoded where the URL
// syntax needs it ("?" and "%" among others), so ParseUrl gives every part back as it
// was. `scheme` is "ldap" or "ldaps". Empty when libldap cannot make one.
std::string MakeUrl(const std::string& scheme, const std::string& host, int port,
                    const std::string& dn);

// ldap_url_parse: the host, port (0 when absent) and DN of an LDAP URL.
struct UrlDesc {
  std::string scheme;
  std::string host;
  int port = 0;
  std::string dn;
};
std::optional<UrlDesc> ParseUrl(const std::string& url);

// The UTF-8 check of the support layer, under the names the directory code has always
// used: a DN's or an attribute's value must be UTF-8 to reach the library.
using kvaro::IsUtf8;
using kvaro::Utf8Lead;
using kvaro::Utf8LeadOf;

// RFC 4514 escaping of an attribute value for a DN, and RFC 4515 escaping of an
// assertion value for a search filter (ldap_bv2escaped_filter_value: "*", "(", ")",
// the backslash, control characters and every byte outside ASCII as a backslash and two
// hex digits; empty only when memory ran out). Names of letters, digits and inner
// spaces come back unchanged. A DN value keeps its blanks at both ends: leading and
// trailing spaces, tabs, CR and LF are escaped, since a DN parser drops them otherwise.
std::string EscapeDnValue(std::string_view value);
std::string EscapeFilterValue(std::string_view value);

// One definition of the schema description syntax (RFC 4512), parsed by libldap.
using kvaro::SchemaDefinition;
// Why `text` cannot be a schema definition, or empty when its shape is sound: one
// "( ... )" group with nothing after it, parentheses nested at most two deep, every
// quoted string closed and set apart by blanks or parentheses, "{" only as a length
// "{digits}", every extension ("X-...")
// followed by a quoted string or a list of them, no control characters but tabs,
// at most kMaxSchemaDefinition bytes. libldap's parser reads past the end of some
// definitions that fail these rules and leaks on others, so it only sees those that pass.
inline constexpr size_t kMaxSchemaDefinition = 16384;
std::string SchemaDefinitionProblem(std::string_view text);
// Parses an AttributeTypeDescription / ObjectClassDescription; nullopt when it does
// not parse (SchemaDefinitionProblem is checked first).
std::optional<SchemaDefinition> ParseAttributeType(const std::string& text);
std::optional<SchemaDefinition> ParseObjectClass(const std::string& text);

// The attribute table filled from the file `path` (LoadOidtableText: from text in the
// same syntax), every definition parsed by ParseAttributeType or ParseObjectClass and a
// definition that fails SchemaDefinitionProblem reported with that problem; as
// kvaro::Oidtable::Load and LoadText otherwise.
int LoadOidtable(kvaro::Oidtable& table, const std::string& path);
int LoadOidtableText(kvaro::Oidtable& table, std::string_view text);

// ---- Writes of a staged save (writeops.cpp) ----

// The answer to a request sent inside a transaction: queued, runs at the commit.
inline constexpr int kTxnSpecifyOkay = 0x4120;

// Whether the server offers LDAP transactions (the root DSE lists the start-transaction
// extended operation 1.3.6.1.1.21.1). `error` receives the code of the root DSE read.
bool SupportsTransactions(Connection& connection, int* error = nullptr);

// The attribute types and object classes of the server's subschema entry (RFC 4512),
// one definition per value as the server wrote it. The entry is the one the root DSE
// names in subschemaSubentry (slapd: cn=Subschema, 389 DS: cn=schema); code is that of
// the failing search, kSuccess otherwise.
struct Subschema {
  int code = kSuccess;
  std::vector<std::string> attributeTypes;
  std::vector<std::string> objectClasses;
};
Subschema ReadSubschema(Connection& connection);

// The OID of the simple paged results control (RFC 2696).
inline constexpr const char* kPagedResultsOid = "1.2.840.113556.1.4.319";
// True when the server's root DSE lists `oid` among its supportedControl values; `error`
// (optional) receives the code of that search.
bool OffersControl(Connection& connection, const std::string& oid, int* error = nullptr);

// The OID of the get-effective-rights control, which 389 Directory Server offers and
// slapd does not.
inline constexpr const char* kEffectiveRightsOid = "1.3.6.1.4.1.42.2.27.9.5.2";
// Every entry of the subtree at `base` with the rights the server grants `authzDn` on it,
// as the attribute entryLevelRights (letters: "a" add below it, "d" delete, "n" rename,
// "v" view), read with the get-effective-rights control marked critical. A server that
// does not offer the control fails the search (see OffersControl).
SearchResult ReadEntryRights(Connection& connection, const std::string& base,
                             const std::string& authzDn);

// Starts a transaction; `id` receives its identifier. Returns the result code.
int StartTransaction(Connection& connection, std::string& id);

// Commits (or, with `commit` false, aborts) transaction `id`. On a failed commit
// `failedMsgId` receives the message id of the request that failed when the server
// names it (else -1). `seconds` bounds the wait (0: the operation time-out); a commit
// runs every queued request, so its wait may need to be longer than one request's.
int EndTransaction(Connection& connection, const std::string& id, bool commit,
                   int* failedMsgId = nullptr, int seconds = 0);

// Renames `dn` (its whole subtree with it) to the new RDN under the same parent, the
// old RDN's values removed. With `txnId` the rename is queued in that transaction
// (slapd 2.5.13 aborts on a subtree rename inside a transaction: not used with it).
int Rename(Connection& connection, const std::string& dn, const std::string& newRdn,
           const std::string* txnId = nullptr);

// What a long batch reports and asks: `progress(answered)` now and then; `cancelled()`
// before sending, and true stops the batch (kCancelled).
struct BatchHooks {
  std::function<void(long)> progress;
  std::function<bool()> cancelled;
};

// Sends every add inside transaction `txnId`, at most `window` unanswered at a time.
// The server answers each at once and runs them at the commit in the order it queued
// them, so a request is sent only once its `after` request is queued. Returns kSuccess when every
// request was queued, else the first failure (kCancelled on cancel); `failedIndex` receives the
// failing request's index; `msgIds` each request's message id (to map a failed commit's
// id back to its request).
int AddInTransaction(Connection& connection, const std::string& txnId,
                     const std::vector<Connection::AddRequest>& requests, int window,
                     const BatchHooks& hooks, int* failedIndex, std::vector<int>* msgIds);

// The attribute type and value of every component of every RDN of a DN, values
// unescaped; nullopt when the text is not a DN.
std::optional<std::vector<std::vector<Ava>>> SplitDn(const std::string& dn);

// The OID of the assertion control (RFC 4528): a write that runs only while its entry
// matches a filter.
inline constexpr const char* kAssertionOid = "1.3.6.1.1.12";
// The answer to a write whose entry no longer matched its assertion.
inline constexpr int kAssertionFailed = 122;

// One write of a single entry, sent on its own.
struct EntryWrite {
  enum class Kind { Add, Modify, Delete, Rename };
  Kind kind = Kind::Modify;
  std::string dn;
  // Add: the entry's attributes. Modify: each attribute is replaced by the values given
  // (an attribute without values is removed).
  ModList mods;
  // Rename: the new RDN, below `newSuperior` (empty: the same parent), and whether the
  // old RDN's values go.
  std::string newRdn;
  std::string newSuperior;
  bool deleteOldRdn = true;
  // Non-empty: an LDAP filter the entry must match for the write to run (the assertion
  // control, critical); otherwise the answer is kAssertionFailed and nothing changes.
  std::string assertion;
};

// Sends `write` and waits for its answer within the operation limit. Returns the result
// code; `diagnostic` (may be null) receives the server's message.
int WriteEntry(Connection& connection, const EntryWrite& write, std::string* diagnostic = nullptr);

}  // namespace ldapx
