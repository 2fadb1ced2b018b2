// Saves and loads of the local-file store as the program does them: what the store
// returns is shown through the message interface, so tests can record it.
#pragma once

#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"

namespace testsupport {

inline msg::Outcome SaveShown(const Configuration& c) {
  msg::Outcome saved = SaveToFiles(c);
  msg::Show(saved);
  return saved;
}

inline int LoadShown(Configuration& c, const kvaro::Oidtable& table) {
  msg::Problems problems;
  const int loaded = LoadFromFiles(c, table, &problems);
  msg::Show(problems);
  return loaded;
}

}  // namespace testsupport
