// The directory load from arbitrary entries, without a server. The input is read as
// LDIF-like lines: an optional first line "base: DN" (default below), then entries, each
// starting with "dn: DN" and followed by "type: value" lines; other lines are skipped.
#include <string>
#include <string_view>

#include "fuzz/fuzzsupport.h"
#include "model/configuration.h"
#include "store/directory/directoryload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::QuietMessages();
  Configuration configuration;
  std::string subtreeDn = "cn=Orvelle Configuration, o=Sample";
  ldapx::SearchResult result;
  std::string_view text = fuzzsupport::AsText(data, size);
  bool first = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    const std::string_view type = line.substr(0, colon);
    const std::string value(line.substr(colon + 2));
    if (first && type == "base") {
      subtreeDn = value;
    } else if (type == "dn") {
      result.entries.push_back(ldapx::Entry{value, {}});
    } else if (!result.entries.empty()) {
      auto& attributes = result.entries.back().attributes;
      if (attributes.empty() || attributes.back().type != type)
        attributes.push_back(ldapx::Attribute{std::string(type), {}});
      attributes.back().values.push_back(value);
    }
    first = false;
  }
  msg::Problems warnings;
  directory::LoadEntries(configuration, subtreeDn, fuzzsupport::Table(), result, warnings);
  return 0;
}
