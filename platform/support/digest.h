// Content digests: what tells two stored versions of a file or entry apart.
#pragma once

#include <string>
#include <string_view>

namespace kvaro {

// The SHA-256 digest of `bytes`, as 64 lowercase hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace kvaro
