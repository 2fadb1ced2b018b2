// The directory client: a thin RAII layer over OpenLDAP's libldap. The rest of the
// program talks to the directory only through this header; it never sees ldap.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ldapx {

// LDAP result codes the program looks at by name.
inline constexpr int kSuccess = 0;
inline constexpr int kServerDown = -1;  // LDAP_SERVER_DOWN
inline constexpr int kTimeout = -5;     // LDAP_TIMEOUT
inline constexpr int kNoSuchObject = 32;
inline constexpr int kInsufficientAccess = 50;
inline constexpr int kAlreadyExists = 68;
// Not an LDAP code: a request of a batch that was never sent (see AddMany).
inline constexpr int kNotSent = -1000;

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

// Time limits of a connection. The connect limit bounds the TCP connect; the operation
// limit bounds the wait for every answer, so a server that stops answering fails the
// operation instead of blocking the program.
struct Timeouts {
  int connectSeconds = 10;
  int operationSeconds = 60;
};

// An open connection (ldap_initialize on ldap://host:port, connected at once).
// Closing (the destructor) unbinds.
class Connection {
 public:
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens a connection to host:port and connects at once, so an unreachable server
  // fails here. Null on failure; `error` (when given) receives the result code.
  static std::unique_ptr<Connection> Open(const std::string& host, int port,
                                          const Timeouts& timeouts = {}, int* error = nullptr);

  // Sets LDAP_OPT_PROTOCOL_VERSION. Connections start with version 3; current servers
  // refuse version 2 binds.
  void SetProtocolVersion(int version);
  // The limits used from now on (the connect limit matters only for a reconnect).
  void SetTimeouts(const Timeouts& timeouts);
  const Timeouts& timeouts() const { return timeouts_; }
  // Simple bind; empty DN and password bind anonymously. Returns the result code.
  int SimpleBind(const std::string& dn, const std::string& password);
  // Synchronous search. `attributes` empty asks for all user attributes; `typesOnly`
  // asks for attribute types without values.
  SearchResult Search(const std::string& base, Scope scope, const std::string& filter,
                      const std::vector<std::string>& attributes = {}, bool typesOnly = false);
  int Add(const std::string& dn, const ModList& mods);
  int Delete(const std::string& dn);

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
  int AddMany(const std::vector<AddRequest>& requests, int window, int* failedIndex,
              std::vector<int>* codes = nullptr);
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
  void* ld_;
  Timeouts timeouts_;
};

// ldap_explode_dn / ldap_explode_rdn with attribute types kept; nullopt when the text
// is not a DN (RDN). An empty RDN, or text with a NUL byte, is no RDN (DN) and never
// reaches the library.
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

// ldap_url_parse: the host, port (0 when absent) and DN of an LDAP URL.
struct UrlDesc {
  std::string scheme;
  std::string host;
  int port = 0;
  std::string dn;
};
std::optional<UrlDesc> ParseUrl(const std::string& url);

// RFC 4514 escaping of an attribute value for a DN, and RFC 4515 escaping of an
// assertion value for a search filter. Names of letters, digits and inner spaces
// come back unchanged.
std::string EscapeDnValue(std::string_view value);
std::string EscapeFilterValue(std::string_view value);

// One definition of the schema description syntax (RFC 4512), parsed by libldap.
struct SchemaDefinition {
  std::string oid;
  std::vector<std::string> names;
};
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

}  // namespace ldapx
