// Distinguished names as values: parsed once by libldap, compared as the directory
// compares the names of entries.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace ldapx {

// A DN parsed by ldap_str2dn. Copies share the parse; a parent is the same parse seen
// from its second RDN on, so walking up a DN parses nothing again.
class Dn {
 public:
  // The DN written as `text` (LDAPv3, and the older forms libldap reads: ";" between
  // RDNs, quoted values), or nullopt when it is none. Text with a NUL byte or a value
  // that is not UTF-8 is no DN, nor is a DN libldap cannot write back. "" is the root DN.
  static std::optional<Dn> Parse(std::string_view text);

  // How many RDNs; 0 for the root DN.
  size_t size() const { return size_ - first_; }
  bool IsRoot() const { return size() == 0; }

  // The DN as RFC 4514 text without blanks after the separators (ldap_dn2str), the form
  // NormalizeDn gives; "" for the root DN.
  std::string Text() const;
  // The first RDN's components, values unescaped (a "#hex" value as its bytes); empty
  // for the root DN.
  const std::vector<Ava>& Rdn() const;
  // The first RDN as text (ldap_rdn2str).
  std::string RdnText() const;
  // The DN one level up; the root DN for a DN of one RDN (and for the root DN).
  Dn Parent() const;
  // True when this DN names an entry below `ancestor`, however deep (a DN is not below
  // itself); IsChildOf: exactly one level below.
  bool IsDescendantOf(const Dn& ancestor) const;
  bool IsChildOf(const Dn& parent) const;

  // The normalised form DNs compare by, as the directory matches the naming attributes
  // (caseIgnoreMatch): attribute types in lower case; each value with its blanks at both
  // ends dropped, inner runs of blanks made one and ASCII letters in lower case (other
  // letters as written); a "#hex" value as "#" and its bytes in lower-case hex; the
  // components of a multi-valued RDN in sorted order. Equal keys, equal DNs.
  std::string Key() const;
  friend bool operator==(const Dn& a, const Dn& b);

 private:
  struct Parsed;
  Dn(std::shared_ptr<const Parsed> parsed, size_t first, size_t size)
      : parsed_(std::move(parsed)), first_(first), size_(size) {}
  // The key of RDN `i` of the parse.
  const std::string& RdnKey(size_t i) const;
  std::shared_ptr<const Parsed> parsed_;
  size_t first_ = 0;
  size_t size_ = 0;
};

// The first RDN of the DN written as `text`, read by ldap_str2rdn without the rest: its
// components as Dn::Rdn gives them, and the parent DN as written (after the separator
// and the blanks that follow it; empty after the last RDN). Nullopt when the text does
// not start with an RDN whose values Dn::Parse takes. The rest is not read: it is a DN
// only when Dn::Parse says so. Much cheaper than Dn::Parse for a long DN.
struct RdnSplit {
  std::vector<Ava> rdn;
  std::string_view parent;
};
std::optional<RdnSplit> SplitFirstRdn(const std::string& text);
// The parent would point into a string about to go away.
std::optional<RdnSplit> SplitFirstRdn(std::string&& text) = delete;

// A value of a naming attribute in the form Dn::Key compares it by: blanks at both ends
// dropped, inner runs of blanks made one, ASCII letters in lower case.
std::string MatchValue(std::string_view value);

}  // namespace ldapx
