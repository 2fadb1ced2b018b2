// DNs parsed with ldap_str2dn: the Dn value and the text helpers built on it.
#include "platform/ldap/dn.h"

#include <ldap.h>

#include <algorithm>
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

// The parsed DN; null when `text` is no DN or holds a value that ldap_dn2str could not
// turn back into text that reads as the same DN (one that is not UTF-8, an empty "#"). A NUL would
// end the text for the library.
DnPtr Parse(std::string_view text) {
  if (text.find('\0') != std::string::npos) return DnPtr();
  LDAPDN dn = nullptr;
  const std::string owned(text);
  if (ldap_str2dn(owned.c_str(), &dn, LDAP_DN_FORMAT_LDAP) != LDAP_SUCCESS) return DnPtr();
  if (!dn) dn = static_cast<LDAPDN>(ldap_memcalloc(1, sizeof(LDAPRDN)));  // the empty DN
  DnPtr parsed(dn);
  if (!ValuesAreUtf8(parsed.get())) return DnPtr();
  // libldap reads "#" followed by no hex digit as an empty BER value, and writes that back
  // as a lone "#", which it cannot read: such a value makes no DN.
  for (LDAPRDN* rdn = parsed.get(); *rdn; ++rdn)
    for (LDAPAVA** ava = *rdn; *ava; ++ava)
      if (((*ava)->la_flags & LDAP_AVA_BINARY) && (*ava)->la_value.bv_len == 0) return DnPtr();
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

std::string ValueKey(const LDAPAVA& ava) {
  const std::string_view value(ava.la_value.bv_val, ava.la_value.bv_len);
  if (!(ava.la_flags & LDAP_AVA_BINARY)) return MatchValue(value);
  static const char kHex[] = "0123456789abcdef";
  std::string key = "#";
  for (const char c : value) {
    key += kHex[static_cast<unsigned char>(c) >> 4];
    key += kHex[static_cast<unsigned char>(c) & 0xf];
  }
  return key;
}

}  // namespace

struct Dn::Parsed {
  DnPtr dn;
  std::vector<std::vector<Ava>> rdns;
  std::vector<std::string> keys;
};

std::string MatchValue(std::string_view value) {
  std::string out;
  bool blank = false;
  for (const char c : value) {
    if (c == ' ') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

std::optional<Dn> Dn::Parse(std::string_view text) {
  DnPtr dn = ldapx::Parse(text);
  // A DN libldap cannot write back as text is none either.
  if (!dn || !ToText(dn.get())) return std::nullopt;
  auto parsed = std::make_shared<Parsed>();
  std::vector<std::string> parts;
  for (LDAPRDN* rdn = dn.get(); *rdn; ++rdn) {
    std::vector<Ava>& avas = parsed->rdns.emplace_back();
    parts.clear();
    for (LDAPAVA** ava = *rdn; *ava; ++ava) {
      Ava& one =
          avas.emplace_back(Ava{std::string((*ava)->la_attr.bv_val, (*ava)->la_attr.bv_len),
                                std::string((*ava)->la_value.bv_val, (*ava)->la_value.bv_len)});
      std::string part;
      for (const char c : one.type)
        part += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      part += '=';
      part += ValueKey(**ava);
      parts.push_back(std::move(part));
    }
    std::sort(parts.begin(), parts.end());
    std::string key;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i) key += '+';
      key += parts[i];
    }
    parsed->keys.push_back(std::move(key));
  }
  parsed->dn = std::move(dn);
  const size_t count = parsed->rdns.size();
  return Dn(std::move(parsed), 0, count);
}

std::string Dn::Text() const {
  if (IsRoot()) return std::string();
  // The whole parse was turned back into text once already, at Parse.
  return ToText(parsed_->dn.get() + first_).value_or(std::string());
}

const std::vector<Ava>& Dn::Rdn() const {
  static const std::vector<Ava> kNone;
  return IsRoot() ? kNone : parsed_->rdns[first_];
}

std::string Dn::RdnText() const {
  if (IsRoot()) return std::string();
  return ldapx::RdnText(parsed_->dn.get()[first_]).value_or(std::string());
}

Dn Dn::Parent() const { return Dn(parsed_, IsRoot() ? first_ : first_ + 1, size_); }

const std::string& Dn::RdnKey(size_t i) const { return parsed_->keys[i]; }

bool Dn::IsDescendantOf(const Dn& ancestor) const {
  if (size() <= ancestor.size()) return false;
  const size_t skip = size() - ancestor.size();
  for (size_t i = 0; i < ancestor.size(); ++i)
    if (RdnKey(first_ + skip + i) != ancestor.RdnKey(ancestor.first_ + i)) return false;
  return true;
}

bool Dn::IsChildOf(const Dn& parent) const {
  return size() == parent.size() + 1 && IsDescendantOf(parent);
}

std::string Dn::Key() const {
  std::string key;
  for (size_t i = first_; i < size_; ++i) {
    if (i > first_) key += ',';
    key += RdnKey(i);
  }
  return key;
}

bool operator==(const Dn& a, const Dn& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a.RdnKey(a.first_ + i) != b.RdnKey(b.first_ + i)) return false;
  return true;
}

std::optional<RdnSplit> SplitFirstRdn(const std::string& text) {
  // ldap_str2rdn ends the process on an empty RDN; a NUL would end the text for it.
  if (text.empty() || text.find('\0') != std::string::npos) return std::nullopt;
  LDAPRDN parsed = nullptr;
  char* next = nullptr;
  if (ldap_str2rdn(text.c_str(), &parsed, &next, LDAP_DN_FORMAT_LDAP) != LDAP_SUCCESS || !next)
    return std::nullopt;
  std::optional<RdnSplit> out;
  if (parsed && ValuesAreUtf8(parsed)) {
    out.emplace();
    for (LDAPAVA** ava = parsed; *ava && out; ++ava) {
      // An empty "#" value makes no DN (see Parse).
      if (((*ava)->la_flags & LDAP_AVA_BINARY) && (*ava)->la_value.bv_len == 0)
        out.reset();
      else
        out->rdn.push_back(Ava{std::string((*ava)->la_attr.bv_val, (*ava)->la_attr.bv_len),
                               std::string((*ava)->la_value.bv_val, (*ava)->la_value.bv_len)});
    }
  }
  ldap_rdnfree(parsed);
  if (!out) return out;
  // `next` is at the separator after the RDN, or at the end.
  size_t at = static_cast<size_t>(next - text.c_str());
  if (at < text.size() && text[at] != ',' && text[at] != ';') return std::nullopt;
  if (at < text.size()) ++at;
  while (at < text.size() && text[at] == ' ') ++at;
  out->parent = std::string_view(text).substr(at);
  return out;
}

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
  const auto parsed = Dn::Parse(dn);
  if (!parsed) return std::nullopt;
  return parsed->Text();
}

std::optional<std::string> ParentDn(const std::string& dn) {
  const auto parsed = Dn::Parse(dn);
  if (!parsed) return std::nullopt;
  return parsed->Parent().Text();
}

std::optional<Ava> FirstRdn(const std::string& dn) {
  const auto parsed = Dn::Parse(dn);
  if (!parsed || parsed->Rdn().size() != 1) return std::nullopt;
  return parsed->Rdn().front();
}

std::optional<std::vector<std::vector<Ava>>> SplitDn(const std::string& dn) {
  const auto parsed = Dn::Parse(dn);
  if (!parsed) return std::nullopt;
  std::vector<std::vector<Ava>> out;
  for (Dn at = *parsed; !at.IsRoot(); at = at.Parent()) out.push_back(at.Rdn());
  return out;
}

}  // namespace ldapx
