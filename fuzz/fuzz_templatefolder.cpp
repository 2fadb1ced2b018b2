// The local store load over a whole folder: the input is cut at each line "@@" into at
// most four pieces, each written as one "RuleSet=" file of a private folder, and the
// folder is loaded as start-up loads it. A loaded configuration is also written back
// as text, which exercises the writers on whatever the reader built.
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzzsupport.h"
#include "model/configuration.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::QuietMessages();
  const kvaro::Oidtable& table = fuzzsupport::Table();
  const std::string folder = fuzzsupport::TempFolder() + "/store";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directory(folder);

  std::string_view text = fuzzsupport::AsText(data, size);
  constexpr std::string_view kCut = "\n@@\n";
  for (int n = 0; n < 4; ++n) {
    const size_t cut = n == 3 ? std::string_view::npos : text.find(kCut);
    fuzzsupport::WriteFile(folder + "/RuleSet=" + std::to_string(n), text.substr(0, cut));
    if (cut == std::string_view::npos) break;
    text.remove_prefix(cut + kCut.size());
  }

  Configuration configuration;
  if (LoadFromFiles(configuration, folder, table)) {
    std::string out;
    for (const auto& ruleSet : configuration.ruleSets)
      RuleSetFileText(configuration, *ruleSet, out);
    (void)TextFormatProblem(configuration);
  }
  return 0;
}
