#include "platform/support/utf8.h"

namespace kvaro {

Utf8Lead Utf8LeadOf(unsigned char c) {
  if (c >= 0xc2 && c <= 0xdf) return {1};
  if (c == 0xe0) return {2, 0xa0};
  if ((c >= 0xe1 && c <= 0xec) || c == 0xee || c == 0xef) return {2};
  if (c == 0xed) return {2, 0x80, 0x9f};
  if (c == 0xf0) return {3, 0x90};
  if (c >= 0xf1 && c <= 0xf3) return {3};
  if (c == 0xf4) return {3, 0x80, 0x8f};
  return {};
}

bool IsUtf8(std::string_view text) {
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    Utf8Lead lead = Utf8LeadOf(c);
    const int need = lead.continuation;
    if (need == 0 || n - i <= static_cast<size_t>(need)) return false;
    for (int k = 1; k <= need; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + k]);
      if (b < lead.lo || b > lead.hi) return false;
      lead.lo = 0x80, lead.hi = 0xbf;
    }
    i += need + 1;
  }
  return true;
}

}  // namespace kvaro
