// The table of attribute types and object classes that names are checked against.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kvaro {

// One attribute type: its OID and every name it goes by (first name first).
struct QAttrT {
  std::string oid;
  std::vector<std::string> names;
};

// One object class: its OID and every name it goes by.
struct QOC {
  std::string oid;
  std::vector<std::string> names;
};

// What the table needs to know of one definition: its OID and names.
struct SchemaDefinition {
  std::string oid;
  std::vector<std::string> names;
};

enum class SchemaKind { AttributeType, ObjectClass };

// Parses one definition of the schema description syntax of RFC 4512; nullopt when it is
// none, and then `problem` may say why in a few words (it stays empty otherwise).
using SchemaParser = std::function<std::optional<SchemaDefinition>(
    SchemaKind kind, const std::string& definition, std::string* problem)>;

// The attribute-type and object-class table. The file holds definitions in the
// schema description syntax of RFC 4512, one per logical line, each starting with
// "attributetype" or "objectclass" (OpenLDAP's schema file keywords; a definition may
// continue on lines that begin with white space). "#" lines are comments. Names are
// matched case-insensitively, as LDAP matches them.
class Oidtable {
 public:
  Oidtable();
  ~Oidtable();
  Oidtable(const Oidtable&) = delete;
  Oidtable& operator=(const Oidtable&) = delete;

  // Fills the table from the file `path`, each definition read by `parse`; 1 when the file
  // was read, 0 when it could not be opened. Definitions that do not parse are skipped
  // (see LoadErrors()). The LDAP layer's LoadOidtable gives libldap's parser.
  int Load(const std::string& path, const SchemaParser& parse);
  // Adds definitions from text (same syntax as the file); returns how many were added.
  int LoadText(std::string_view text, const SchemaParser& parse);

  // The attribute type named `name`, or null. Every name of one type gives the same record.
  const QAttrT* str2at(std::string_view name) const;
  // The object class named `name`, or null.
  const QOC* str2oc(std::string_view name) const;

  size_t AttributeTypeCount() const { return attributeTypes_.size(); }
  size_t ObjectClassCount() const { return objectClasses_.size(); }
  // Definitions skipped by the loads so far, each as "line N: text".
  const std::vector<std::string>& LoadErrors() const { return errors_; }
  void Clear();

 private:
  std::vector<std::unique_ptr<QAttrT>> attributeTypes_;
  std::vector<std::unique_ptr<QOC>> objectClasses_;
  std::unordered_map<std::string, const QAttrT*> atByName_;
  std::unordered_map<std::string, const QOC*> ocByName_;
  std::vector<std::string> errors_;
};

}  // namespace kvaro
