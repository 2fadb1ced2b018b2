#include "fuzz/fuzzsupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"

namespace fuzzsupport {

namespace {

class DiscardSink : public msg::Sink {
 public:
  msg::Answer Show(const msg::Message&) override { return msg::Answer::Ok; }
};

std::string MakeTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvelle-fuzz-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

struct TempFolderOwner {
  std::string path = MakeTempFolder();
  ~TempFolderOwner() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

void QuietMessages() {
  static DiscardSink sink;
  static bool installed = false;
  if (!installed) {
    msg::SetSink(&sink);
    installed = true;
  }
}

const kvaro::Oidtable& Table() {
  static kvaro::Oidtable* table = [] {
    auto* t = new kvaro::Oidtable;
    if (!ldapx::LoadOidtable(*t, ORVELLE_SOURCE_DIR "/resources/oidtable32") ||
        t->AttributeTypeCount() == 0) {
      std::fprintf(stderr, "fuzz: cannot load resources/oidtable32\n");
      std::abort();
    }
    return t;
  }();
  return *table;
}

const std::string& TempFolder() {
  static TempFolderOwner owner;
  return owner.path;
}

void WriteFile(const std::string& path, std::string_view data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

}  // namespace fuzzsupport
