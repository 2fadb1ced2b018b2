// Entry decoding: search answers turned into Entry values.
#include <lber.h>
#include <ldap.h>

#include <string>
#include <string_view>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/session.h"

namespace ldapx {

// The entry's encoding is walked once: the DN and each attribute's values are read in
// place (ldap_get_values_len would search the entry again from its start for every
// attribute).
Entry ToEntry(LDAP* ld, LDAPMessage* msg) {
  Entry entry;
  BerElement* rawBer = nullptr;
  berval dn{0, nullptr};
  const int rc = ldap_get_dn_ber(ld, msg, &rawBer, &dn);
  BerPtr ber(rawBer);  // allocated even when reading the DN fails
  if (rc != LDAP_SUCCESS) return entry;
  if (dn.bv_val) entry.dn.assign(dn.bv_val, dn.bv_len);
  while (true) {
    berval type{0, nullptr};
    BerVarray values = nullptr;
    if (ldap_get_attribute_ber(ld, msg, ber.get(), &type, &values) != LDAP_SUCCESS ||
        !type.bv_val) {
      ber_memfree(values);
      break;
    }
    Attribute& attr = entry.attributes.emplace_back();
    attr.type.assign(type.bv_val, type.bv_len);
    if (values) {
      for (berval* v = values; v->bv_val; ++v) attr.values.emplace_back(v->bv_val, v->bv_len);
      ber_memfree(values);
    }
  }
  return entry;
}

long long Footprint(const Entry& entry) {
  long long bytes = static_cast<long long>(sizeof(Entry) + entry.dn.size()) + 32;
  for (const Attribute& a : entry.attributes) {
    bytes += static_cast<long long>(sizeof(Attribute) + a.type.size()) + 48;
    for (const std::string& v : a.values)
      bytes += static_cast<long long>(sizeof(std::string) + v.size()) + 16;
  }
  return bytes;
}

const Attribute* Entry::Find(std::string_view type) const {
  for (const Attribute& a : attributes) {
    if (a.type.size() != type.size()) continue;
    bool same = true;
    for (size_t i = 0; i < type.size() && same; ++i) {
      const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
      same = lower(a.type[i]) == lower(type[i]);
    }
    if (same) return &a;
  }
  return nullptr;
}

}  // namespace ldapx
