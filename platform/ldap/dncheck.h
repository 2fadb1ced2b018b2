#pragma once

#include <string>

namespace kvaro {

class Oidtable;

// True when `dn` is a DN whose every RDN component is "type=value" with an attribute
// type the table knows and a non-empty value. Callers skip the check for an empty DN.
bool IsValidDn(const std::string& dn, const Oidtable& table);

}  // namespace kvaro
