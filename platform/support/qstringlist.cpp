#include "platform/support/qstringlist.h"

namespace kvaro {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

int QStringList::SetSplitString(std::string_view text, char separator) {
  clear();
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      emplace_back(Trim(text.substr(start)));
      break;
    }
    emplace_back(Trim(text.substr(start, end - start)));
    start = end + 1;
  }
  return static_cast<int>(size());
}

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += separator;
    out += items[i];
  }
  return out;
}

}  // namespace kvaro
