// DN parsing with ldap_str2dn: canonical forms, parents and the first RDN's value.
#include <ldap.h>

#include <string_view>
#include <vector>

#include "platform/ldap/dnguard.h"
#include "platform/ldap/ldapclient.h"

namespace ldapx {

bool ValuesAreUtf8(LDAPRDN rdn) {
  if (!rdn) return true;
  for (LDAPAVA** ava = rdn; *ava; ++ava) {
    // Values written as "#hex" are BER and shown as hex again; every other value is text.
    if ((*ava)->la_flags & LDAP_AVA_BINARY) continue;
    if (!IsUtf8(std::string_view((*ava)->la_value.bv_val, (*ava)->la_value.bv_len))) return false;
  }
  return true;
}

bool ValuesAreUtf8(LDAPDN dn) {
  if (!dn) return true;
  for (LDAPRDN* rdn = dn; *rdn; ++rdn)
    if (!ValuesAreUtf8(*rdn)) return false;
  return true;
}

namespace {

struct DnFree {
  void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using DnPtr = std::unique_ptr<LDAPRDN, DnFree>;

// The parsed DN; null when `text` is no DN or holds a value that is not UTF-8 (which
// ldap_dn2str could not turn back into text). A NUL would end the text for the library.
DnPtr Parse(const std::string& text) {
  if (text.find('\0') != std::string::npos) return DnPtr();
  LDAPDN dn = nullptr;
  if (ldap_str2dn(text.c_str(), &dn, LDAP_DN_FORMAT_LDAP) != LDAP_SUCCESS) return DnPtr();
  if (!dn) dn = static_cast<LDAPDN>(ldap_memcalloc(1, sizeof(LDAPRDN)));  // the empty DN
  DnPtr parsed(dn);
  if (!ValuesAreUtf8(parsed.get())) return DnPtr();
  return parsed;
}

std::optional<std::string> ToText(LDAPDN dn) {
  char* out = nullptr;
  if (ldap_dn2str(dn, &out, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
  std::string text = out ? out : "";
  ldap_memfree(out);
  return text;
}

// One RDN as LDAPv3 text.
std::optional<std::string> RdnText(LDAPRDN rdn) {
  char* out = nullptr;
  if (ldap_rdn2str(rdn, &out, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY) != LDAP_SUCCESS)
    return std::nullopt;
  std::string text = out ? out : "";
  ldap_memfree(out);
  return text;
}

}  // namespace

std::optional<std::vector<std::string>> ExplodeDn(const std::string& dn) {
  DnPtr parsed = Parse(dn);
  if (!parsed) return std::nullopt;
  std::vector<std::string> out;
  for (LDAPRDN* rdn = parsed.get(); *rdn; ++rdn) {
    auto text = RdnText(*rdn);
    if (!text) return std::nullopt;
    out.push_back(std::move(*text));
  }
  return out;
}

std::optional<std::vector<std::string>> ExplodeRdn(const std::string& rdn) {
  // ldap_str2rdn ends the process on an empty RDN.
  if (rdn.empty() || rdn.find('\0') != std::string::npos) return std::nullopt;
  LDAPRDN parsed = nullptr;
  char* next = nullptr;
  if (ldap_str2rdn(rdn.c_str(), &parsed, &next, LDAP_DN_FORMAT_LDAP) != LDAP_SUCCESS)
    return std::nullopt;
  std::optional<std::vector<std::string>> out;
  if (parsed && ValuesAreUtf8(parsed)) {
    out.emplace();
    for (LDAPAVA** ava = parsed; *ava && out; ++ava) {
      LDAPAVA* one[] = {*ava, nullptr};
      auto text = RdnText(one);
      if (text)
        out->push_back(std::move(*text));
      else
        out.reset();
    }
  }
  ldap_rdnfree(parsed);
  return out;
}

std::optional<std::string> NormalizeDn(const std::string& dn) {
  DnPtr parsed = Parse(dn);
  if (!parsed) return std::nullopt;
  return ToText(parsed.get());
}

std::optional<std::string> ParentDn(const std::string& dn) {
  DnPtr parsed = Parse(dn);
  if (!parsed) return std::nullopt;
  if (!parsed.get()[0]) return std::string();
  return ToText(parsed.get() + 1);
}

std::optional<Ava> FirstRdn(const std::string& dn) {
  DnPtr parsed = Parse(dn);
  if (!parsed || !parsed.get()[0]) return std::nullopt;
  LDAPRDN rdn = parsed.get()[0];
  if (!rdn[0] || rdn[1]) return std::nullopt;
  const LDAPAVA* ava = rdn[0];
  Ava out;
  out.type.assign(ava->la_attr.bv_val, ava->la_attr.bv_len);
  out.value.assign(ava->la_value.bv_val, ava->la_value.bv_len);
  return out;
}

std::optional<std::vector<std::vector<Ava>>> SplitDn(const std::string& dn) {
  DnPtr parsed = Parse(dn);
  if (!parsed) return std::nullopt;
  std::vector<std::vector<Ava>> out;
  for (LDAPRDN* rdn = parsed.get(); *rdn; ++rdn) {
    std::vector<Ava> avas;
    for (LDAPAVA** ava = *rdn; *ava; ++ava)
      avas.push_back(Ava{std::string((*ava)->la_attr.bv_val, (*ava)->la_attr.bv_len),
                         std::string((*ava)->la_value.bv_val, (*ava)->la_value.bv_len)});
    out.push_back(std::move(avas));
  }
  return out;
}

}  // namespace ldapx
