// Small string utilities of the support library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvaro {

// A list of strings, walked from head to tail, with positional look-up.
class QStringList : public std::vector<std::string> {
 public:
  // Fills the list with the pieces of `text` between `separator` characters, in order,
  // each without surrounding blanks (spaces and tabs). Empty pieces are kept, so
  // "a::b" gives three pieces and "" gives one empty piece. Returns the count.
  int SetSplitString(std::string_view text, char separator);
};

// `text` without leading and trailing spaces and tabs.
std::string_view Trim(std::string_view text);

// Joins `items` with `separator` between them.
std::string Join(const std::vector<std::string>& items, std::string_view separator);

}  // namespace kvaro
