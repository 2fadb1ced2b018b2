// The settings-file reader: the input is the settings file. Start-up's read runs on it;
// when the key opens, a value written must read back as written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "fuzz/fuzzsupport.h"
#include "model/configuration.h"
#include "store/store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::QuietMessages();
  static const std::string file = fuzzsupport::TempFolder() + "/settings.reg";
  static const bool environment = ::setenv("ORVELLE_SETTINGS", file.c_str(), 1) == 0;
  if (!environment) std::abort();
  fuzzsupport::WriteFile(file, fuzzsupport::AsText(data, size));

  store::Session session;
  bool keyMissing = false;
  (void)settings::ReadSettings(session, &keyMissing);

  auto key = settings::OpenSettingsKey("Startup");
  if (!key) return 0;
  const std::string address = "dir\"host\\ \t=[x]";
  if (key->WriteString("Server Address", address)) {
    const auto back = key->ReadString("server address");
    if (!back || *back != address) {
      std::fprintf(stderr, "fuzz_settings: \"Server Address\" written as '%s', read as '%s'\n",
                   address.c_str(), back ? back->c_str() : "(missing)");
      std::abort();
    }
  }
  if (key->WriteDword("Server Port", 0x1234abcd)) {
    const auto back = key->ReadDword("Server Port");
    if (!back || *back != 0x1234abcd) {
      std::fprintf(stderr, "fuzz_settings: \"Server Port\" did not read back\n");
      std::abort();
    }
  }
  return 0;
}
