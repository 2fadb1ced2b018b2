// Temporary: the table loader arrives with the support-library work.
#include "oidtable.h"
namespace kvaro {
Oidtable::Oidtable() = default;
Oidtable::~Oidtable() = default;
int Oidtable::Load(const std::string&) { return 0; }
int Oidtable::LoadText(std::string_view) { return 0; }
const QAttrT* Oidtable::str2at(std::string_view) const { return nullptr; }
const QOC* Oidtable::str2oc(std::string_view) const { return nullptr; }
void Oidtable::Clear() {}
}  // namespace kvaro
