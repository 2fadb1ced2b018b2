// A reference to one model record of the editor: what a tree node shows and what a row of
// a panel's list stands for. Empty (std::monostate) for the two roots of the tree and for
// rows that stand for no record.
#pragma once

#include <QMetaType>
#include <type_traits>
#include <variant>

class RuleSet;
class SearchRule;
class SearchForm;
class InputGroup;
class InputField;

using RecordRef =
    std::variant<std::monostate, RuleSet*, SearchRule*, SearchForm*, InputGroup*, InputField*>;

// The record `ref` holds when it is a `Record`, else null.
template <class Record>
Record* RecordAs(const RecordRef& ref) {
  Record* const* record = std::get_if<Record*>(&ref);
  return record ? *record : nullptr;
}

// True when `ref` refers to no record: empty, or a null pointer of any record type.
inline bool IsNullRecord(const RecordRef& ref) {
  return std::visit(
      [](auto record) {
        if constexpr (std::is_same_v<decltype(record), std::monostate>) {
          return true;
        } else {
          return record == nullptr;
        }
      },
      ref);
}

// Rows keep their record in a QVariant.
Q_DECLARE_METATYPE(RecordRef)
