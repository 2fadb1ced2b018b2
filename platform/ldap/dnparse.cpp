// DN parsing with ldap_str2dn: canonical forms, parents and the first RDN's value.
#include <ldap.h>

#include "ldapclient.h"

namespace ldapx {

namespace {

struct DnFree {
  void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using DnPtr = std::unique_ptr<LDAPRDN, DnFree>;

DnPtr Parse(const std::string& text) {
  LDAPDN dn = nullptr;
  if (ldap_str2dn(text.c_str(), &dn, LDAP_DN_FORMAT_LDAP) != LDAP_SUCCESS) return DnPtr();
  if (!dn) dn = static_cast<LDAPDN>(ldap_memcalloc(1, sizeof(LDAPRDN)));  // the empty DN
  return DnPtr(dn);
}

std::optional<std::string> ToText(LDAPDN dn) {
  char* out = nullptr;
  if (ldap_dn2str(dn, &out, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
  std::string text = out ? out : "";
  ldap_memfree(out);
  return text;
}

}  // namespace

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
