// orvelle-config: the command-line companion of orvelle32setup.
#include <iostream>

#include "configtool.h"
#include "datafiles.h"
#include "messages.h"

int main(int argc, char* argv[]) {
  kvaro::SetProgramPath(argv[0]);
  msg::ConsoleSink console;
  msg::ScopedSink scoped(&console);
  return configtool::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
