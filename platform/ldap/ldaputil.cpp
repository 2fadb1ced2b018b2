// The parts of the LDAP layer that need no connection: error texts, DN and URL parsing,
// escaping, schema definitions.
#include <ldap.h>
#include <ldap_schema.h>
#include <strings.h>

#include <cstdio>
// clang-format off
#include <ldif.h>  // after <cstdio>: it uses FILE without declaring it
// clang-format on

#include "platform/ldap/dnguard.h"
#include "platform/ldap/ldapclient.h"
#include "platform/ldap/serversettings.h"

namespace ldapx {

static_assert(kSuccess == LDAP_SUCCESS && kServerDown == LDAP_SERVER_DOWN &&
              kTimeout == LDAP_TIMEOUT && kDecodingError == LDAP_DECODING_ERROR &&
              kConnectError == LDAP_CONNECT_ERROR && kProtocolError == LDAP_PROTOCOL_ERROR &&
              kSizeLimitExceeded == LDAP_SIZELIMIT_EXCEEDED && kReferral == LDAP_REFERRAL &&
              kAdminLimitExceeded == LDAP_ADMINLIMIT_EXCEEDED &&
              kUnavailableCriticalExtension == LDAP_UNAVAILABLE_CRITICAL_EXTENSION &&
              kNoSuchObject == LDAP_NO_SUCH_OBJECT &&
              kInsufficientAccess == LDAP_INSUFFICIENT_ACCESS &&
              kUnwillingToPerform == LDAP_UNWILLING_TO_PERFORM &&
              kNotAllowedOnNonLeaf == LDAP_NOT_ALLOWED_ON_NONLEAF &&
              kAlreadyExists == LDAP_ALREADY_EXISTS &&
              kAffectsMultipleDsas == LDAP_AFFECTS_MULTIPLE_DSAS && kOther == LDAP_OTHER &&
              kConfidentialityRequired == LDAP_CONFIDENTIALITY_REQUIRED &&
              kTxnSpecifyOkay == LDAP_TXN_SPECIFY_OKAY);

std::string ErrorText(int code) {
  if (code == kCancelled) return "Cancelled";
  if (code == kNotSent) return "Not sent";
  if (code == kTlsFailed) return "TLS failed";
  if (code == kCertificateUntrusted) return "Certificate not trusted";
  if (code == kCertificateExpired) return "Certificate expired";
  if (code == kCertificateWrongHost) return "Certificate for another host";
  if (code == kStartTlsRefused) return "StartTLS refused";
  if (code == kMessageTooLarge) return "Message too large";
  if (code == kReadTooLong) return "Read took too long";
  if (code == kTooManyEntries) return "Too many entries";
  const char* text = ldap_err2string(code);
  return text ? text : "Unknown error";
}

std::optional<Security> ParseSecurity(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == "none") return Security::None;
  if (lower == "starttls") return Security::StartTls;
  if (lower == "ldaps") return Security::Ldaps;
  return std::nullopt;
}

const char* SecurityName(Security security) {
  switch (security) {
    case Security::StartTls:
      return "starttls";
    case Security::Ldaps:
      return "ldaps";
    case Security::None:
      break;
  }
  return "none";
}

TlsOptions ServerSettings::Tls() const {
  // A typing error in the settings must not send the password in clear.
  return TlsOptions{ParseSecurity(security).value_or(Security::StartTls), caCertificateFile};
}

std::optional<std::vector<HostPort>> ParseHostList(std::string_view address, int defaultPort) {
  std::vector<HostPort> hosts;
  size_t at = 0;
  const auto separator = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  while (at < address.size()) {
    if (separator(address[at])) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < address.size() && !separator(address[end])) ++end;
    const std::string_view item = address.substr(at, end - at);
    at = end;
    HostPort hp;
    std::string_view portText;
    if (item.front() == '[') {
      const size_t close = item.find(']');
      if (close == std::string_view::npos || close == 1) return std::nullopt;
      hp.host = std::string(item.substr(1, close - 1));
      const std::string_view rest = item.substr(close + 1);
      if (!rest.empty()) {
        if (rest.front() != ':') return std::nullopt;
        portText = rest.substr(1);
        if (portText.empty()) return std::nullopt;
      }
    } else {
      const size_t colon = item.find(':');
      if (colon != std::string_view::npos && item.find(':', colon + 1) == std::string_view::npos) {
        hp.host = std::string(item.substr(0, colon));
        portText = item.substr(colon + 1);
        if (hp.host.empty() || portText.empty()) return std::nullopt;
      } else {
        hp.host = std::string(item);  // a name, or a bare IPv6 address
      }
    }
    if (portText.empty()) {
      hp.port = defaultPort;
    } else {
      long long port = 0;
      for (const char c : portText) {
        if (c < '0' || c > '9' || port > 65535) return std::nullopt;
        port = port * 10 + (c - '0');
      }
      if (!IsValidPort(port)) return std::nullopt;
      hp.port = static_cast<int>(port);
    }
    hosts.push_back(std::move(hp));
  }
  if (hosts.empty()) return std::nullopt;
  return hosts;
}

std::string HostListText(const std::vector<HostPort>& hosts) {
  std::string text;
  for (const HostPort& hp : hosts) {
    if (!text.empty()) text += ' ';
    const bool v6 = hp.host.find(':') != std::string::npos && hp.host.front() != '[';
    text += v6 ? "[" + hp.host + "]" : hp.host;
    text += ":" + std::to_string(hp.port);
  }
  return text;
}

std::vector<HostPort> ServerSettings::Hosts() const {
  return ParseHostList(address, port).value_or(std::vector<HostPort>{});
}

std::optional<UrlDesc> ParseUrl(const std::string& url) {
  LDAPURLDesc* desc = nullptr;
  if (ldap_url_parse(url.c_str(), &desc) != LDAP_URL_SUCCESS || !desc) return std::nullopt;
  UrlDesc out;
  if (desc->lud_scheme) out.scheme = desc->lud_scheme;
  if (desc->lud_host) out.host = desc->lud_host;
  out.port = desc->lud_port;
  if (desc->lud_dn) out.dn = desc->lud_dn;
  ldap_free_urldesc(desc);
  return out;
}

std::string MakeUrl(const std::string& scheme, const std::string& host, int port,
                    const std::string& dn) {
  LDAPURLDesc desc{};
  desc.lud_scheme = const_cast<char*>(scheme.c_str());
  desc.lud_host = host.empty() ? nullptr : const_cast<char*>(host.c_str());
  desc.lud_port = port;
  desc.lud_dn = const_cast<char*>(dn.c_str());
  desc.lud_scope = LDAP_SCOPE_DEFAULT;
  char* text = ldap_url_desc2str(&desc);
  if (!text) return {};
  std::string out = text;
  ldap_memfree(text);
  // The library leaves out the "/" before an empty DN; the URL names the root DSE either
  // way, and the text formats have always written it.
  if (dn.empty() && out.back() != '/') out += '/';
  return out;
}

std::string EscapeDnValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool first = i == 0, last = i + 1 == value.size();
    const bool edge = first || last;
    if (c == 0 || (edge && (c == '\t' || c == '\r' || c == '\n'))) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "\\%02X", c);
      out += hex;
    } else if (c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';' ||
               c == '=' || (first && (c == '#' || c == ' ')) || (last && c == ' ')) {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string LdifLine(std::string_view type, std::string_view value) {
  // Lines of 76 columns, continuation lines one blank and 75 columns.
  constexpr ber_len_t kWidth = 76;
  const std::string name(type);
  char* line = ldif_put_wrap(LDIF_PUT_VALUE, name.c_str(), value.data(), value.size(), kWidth);
  if (!line) return std::string();
  std::string out(line);
  ber_memfree(line);
  return out;
}

std::string EscapeFilterValue(std::string_view value) {
  berval in{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())};
  berval out{0, nullptr};
  if (ldap_bv2escaped_filter_value(&in, &out) != 0 || !out.bv_val) return std::string();
  std::string escaped(out.bv_val, out.bv_len);
  ber_memfree(out.bv_val);
  return escaped;
}

namespace {

SchemaDefinition FromNames(const char* oid, char** names) {
  SchemaDefinition def;
  if (oid) def.oid = oid;
  if (names)
    for (char** n = names; *n; ++n) def.names.emplace_back(*n);
  return def;
}

}  // namespace

std::string SchemaDefinitionProblem(std::string_view text) {
  if (text.size() > kMaxSchemaDefinition)
    return "longer than " + std::to_string(kMaxSchemaDefinition) + " bytes";
  size_t first = text.find_first_not_of(" \t");
  size_t last = text.find_last_not_of(" \t");
  if (first == std::string_view::npos || text[first] != '(' || text[last] != ')')
    return "not enclosed in parentheses";
  int depth = 0;
  bool quoted = false;
  for (size_t i = first; i <= last; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7f) return "control character";
    // Quoted strings stand apart, with a blank or a parenthesis on either side: libldap
    // leaks on a quote that follows an OID directly ("SYNTAX 1.'c'").
    const auto apart = [](char n) { return n == ' ' || n == '\t' || n == '(' || n == ')'; };
    if (quoted) {
      if (c == '\'') {
        quoted = false;
        if (i == last || !apart(text[i + 1])) return "quoted string not set apart by blanks";
      }
      continue;
    }
    // An extension ("X-NAME") must be followed by a quoted string or a list of them:
    // libldap leaks the extension's name when it is not. A word starts where libldap's
    // tokenizer starts one: after a blank, a parenthesis or "$", and after the length of
    // an OID ("1.2{5}X-A" is an OID with a length, then the word "X-A").
    const bool tokenStart = i == first || text[i - 1] == ' ' || text[i - 1] == '\t' ||
                            text[i - 1] == '(' || text[i - 1] == ')' || text[i - 1] == '$' ||
                            text[i - 1] == '}';
    // A numeric OID holds digits and dots only: libldap splits "5X-" into an OID and an
    // extension without a value, and leaks the extension's name.
    if (tokenStart && c >= '0' && c <= '9') {
      size_t j = i;
      while (j <= last && ((text[j] >= '0' && text[j] <= '9') || text[j] == '.')) ++j;
      if (j <= last && !apart(text[j]) && text[j] != '{' && text[j] != '}' && text[j] != '$' &&
          text[j] != '\'')
        return "malformed numeric OID";
      i = j - 1;
      continue;
    }
    // A syntax is one OID with an optional length, never a list: libldap leaks on
    // "SYNTAX ('a')".
    if (tokenStart && last - i >= 6 && strncasecmp(text.data() + i, "SYNTAX", 6) == 0 &&
        (text[i + 6] == ' ' || text[i + 6] == '\t' || text[i + 6] == '(')) {
      const size_t k = text.find_first_not_of(" \t", i + 6);
      if (k != std::string_view::npos && text[k] == '(') return "SYNTAX followed by a list";
    }
    if (tokenStart && (c == 'X' || c == 'x') && i + 1 <= last && text[i + 1] == '-') {
      size_t j = i;
      while (j <= last && text[j] != ' ' && text[j] != '\t' && text[j] != '(' && text[j] != ')' &&
             text[j] != '\'')
        ++j;
      size_t k = text.find_first_not_of(" \t", j);
      const bool list = k != std::string_view::npos && k <= last && text[k] == '(';
      if (list) k = text.find_first_not_of(" \t", k + 1);
      if (k == std::string_view::npos || k > last || text[k] != '\'')
        return "extension without a quoted value";
      // A list holds quoted strings only: libldap leaks the extension's name on anything
      // else in it ("X-A ( 'a' b )").
      if (list) {
        size_t m = k;
        while (m <= last && text[m] == '\'') {
          const size_t close = text.find('\'', m + 1);
          if (close == std::string_view::npos || close > last) break;
          m = text.find_first_not_of(" \t", close + 1);
          if (m == std::string_view::npos || m > last) break;
        }
        if (m == std::string_view::npos || m > last || text[m] != ')')
          return "extension list holding more than quoted strings";
      }
      // Letters, digits, "-" and "_" only: libldap stops at a NUL or other byte inside
      // the name and leaks the part it took.
      for (size_t n = i + 2; n < j; ++n) {
        const unsigned char e = static_cast<unsigned char>(text[n]);
        const bool nameChar = (e >= 'a' && e <= 'z') || (e >= 'A' && e <= 'Z') ||
                              (e >= '0' && e <= '9') || e == '-' || e == '_';
        if (!nameChar) return "malformed extension name";
      }
      i = j - 1;
      continue;
    }
    switch (c) {
      case '\'':
        if (i == first || !apart(text[i - 1])) return "quoted string not set apart by blanks";
        quoted = true;
        break;
      case '(':
        if (++depth > 2) return "parentheses nested too deep";
        break;
      case ')':
        if (--depth < 0) return "unbalanced parentheses";
        if (depth == 0 && i != last) return "text after the closing parenthesis";
        break;
      case '{': {
        size_t j = i + 1;
        while (j <= last && j - i <= 10 && text[j] >= '0' && text[j] <= '9') ++j;
        if (j == i + 1 || j > last || text[j] != '}') return "unbalanced braces";
        i = j;
        break;
      }
      case '}':
        return "unbalanced braces";
      default:
        break;
    }
  }
  if (quoted) return "unterminated quoted string";
  if (depth != 0) return "unbalanced parentheses";
  return {};
}

namespace {

// The text followed by a run of NULs. Fuzzing caught libldap's attribute-type parser
// reading a few bytes past the terminating NUL of a definition whose shape is sound;
// with the padding such a read stays inside the buffer and finds the end again.
std::string Padded(const std::string& text) {
  std::string padded = text;
  padded.append(64, '\0');
  return padded;
}

}  // namespace

std::optional<SchemaDefinition> ParseAttributeType(const std::string& text) {
  if (!SchemaDefinitionProblem(text).empty()) return std::nullopt;
  int code = 0;
  const char* err = nullptr;
  const std::string padded = Padded(text);
  LDAPAttributeType* at =
      ldap_str2attributetype(padded.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
  if (!at) return std::nullopt;
  SchemaDefinition def = FromNames(at->at_oid, at->at_names);
  ldap_attributetype_free(at);
  return def;
}

std::optional<SchemaDefinition> ParseObjectClass(const std::string& text) {
  if (!SchemaDefinitionProblem(text).empty()) return std::nullopt;
  int code = 0;
  const char* err = nullptr;
  const std::string padded = Padded(text);
  LDAPObjectClass* oc = ldap_str2objectclass(padded.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
  if (!oc) return std::nullopt;
  SchemaDefinition def = FromNames(oc->oc_oid, oc->oc_names);
  ldap_objectclass_free(oc);
  return def;
}

namespace {

std::optional<SchemaDefinition> ParseDefinition(kvaro::SchemaKind kind,
                                                const std::string& definition,
                                                std::string* problem) {
  // The shape is checked here as well as in the parse, so that the error can say why.
  *problem = SchemaDefinitionProblem(definition);
  if (!problem->empty()) return std::nullopt;
  return kind == kvaro::SchemaKind::AttributeType ? ParseAttributeType(definition)
                                                  : ParseObjectClass(definition);
}

}  // namespace

int LoadOidtable(kvaro::Oidtable& table, const std::string& path) {
  return table.Load(path, ParseDefinition);
}

int LoadOidtableText(kvaro::Oidtable& table, std::string_view text) {
  return table.LoadText(text, ParseDefinition);
}

}  // namespace ldapx
