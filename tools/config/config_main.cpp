// orvelle-config: the command-line companion of orvelle32setup.
#include <unistd.h>

#include <iostream>
#include <ostream>

#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "tools/config/configtool.h"

int main(int argc, char* argv[]) {
  kvaro::SetProgramPath(argv[0]);
  msg::ConsoleSink console;
  msg::ScopedSink scoped(&console);
  // Standard output through a buffer that keeps the reason of a failed write, which Run
  // reports; std::cout's stdio buffer would drop it.
  configtool::DescriptorOutput buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  return configtool::Run(std::vector<std::string>(argv + 1, argv + argc), out, std::cerr);
}
