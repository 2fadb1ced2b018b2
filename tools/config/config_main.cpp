// orvelle-config: the command-line companion of orvelle32setup.
#include <iostream>

#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "tools/config/configtool.h"

int main(int argc, char* argv[]) {
  kvaro::SetProgramPath(argv[0]);
  msg::ConsoleSink console;
  msg::ScopedSink scoped(&console);
  return configtool::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
