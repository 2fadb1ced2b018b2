// Well-formed UTF-8: what the directory accepts in a Directory String, and what the
// messages show as text.
#pragma once

#include <string_view>

namespace kvaro {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or code points
// beyond U+10FFFF): what the directory accepts in a Directory String.
bool IsUtf8(std::string_view text);

// The well-formed UTF-8 sequences a byte may lead (Unicode's table 3-7): how many
// continuation bytes follow it, and the range of the first of them (the others lie in
// 0x80..0xbf). An ASCII byte and a byte that cannot lead a sequence need none.
struct Utf8Lead {
  int continuation = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xbf;
};
Utf8Lead Utf8LeadOf(unsigned char lead);

}  // namespace kvaro
