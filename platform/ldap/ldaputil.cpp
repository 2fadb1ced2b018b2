// The parts of the LDAP layer that need no connection: error texts, DN and URL parsing,
// escaping, schema definitions.
#include <ldap.h>
#include <ldap_schema.h>

#include <cstdio>

#include "ldapclient.h"

namespace ldapx {

std::string ErrorText(int code) {
  if (code == kCancelled) return "Cancelled";
  if (code == kNotSent) return "Not sent";
  if (code == kTlsFailed) return "TLS failed";
  if (code == kCertificateUntrusted) return "Certificate not trusted";
  if (code == kCertificateExpired) return "Certificate expired";
  if (code == kCertificateWrongHost) return "Certificate for another host";
  if (code == kStartTlsRefused) return "StartTLS refused";
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

namespace {

std::optional<std::vector<std::string>> Explode(char** parts) {
  if (!parts) return std::nullopt;
  std::vector<std::string> out;
  for (char** p = parts; *p; ++p) out.emplace_back(*p);
  ldap_value_free(parts);
  return out;
}

}  // namespace

std::optional<std::vector<std::string>> ExplodeDn(const std::string& dn) {
  return Explode(ldap_explode_dn(dn.c_str(), 0));
}

std::optional<std::vector<std::string>> ExplodeRdn(const std::string& rdn) {
  return Explode(ldap_explode_rdn(rdn.c_str(), 0));
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

std::string EscapeDnValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool first = i == 0, last = i + 1 == value.size();
    if (c == 0) {
      out += "\\00";
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

std::string EscapeFilterValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (const char ch : value) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == 0) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "\\%02x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
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

std::optional<SchemaDefinition> ParseAttributeType(const std::string& text) {
  int code = 0;
  const char* err = nullptr;
  LDAPAttributeType* at = ldap_str2attributetype(text.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
  if (!at) return std::nullopt;
  SchemaDefinition def = FromNames(at->at_oid, at->at_names);
  ldap_attributetype_free(at);
  return def;
}

std::optional<SchemaDefinition> ParseObjectClass(const std::string& text) {
  int code = 0;
  const char* err = nullptr;
  LDAPObjectClass* oc = ldap_str2objectclass(text.c_str(), &code, &err, LDAP_SCHEMA_ALLOW_ALL);
  if (!oc) return std::nullopt;
  SchemaDefinition def = FromNames(oc->oc_oid, oc->oc_names);
  ldap_objectclass_free(oc);
  return def;
}

}  // namespace ldapx
