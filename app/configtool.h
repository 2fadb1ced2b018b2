// orvelle-config: checks a stored configuration, or copies it from one store to another,
// without a screen.
//
//   orvelle-config check SOURCE
//   orvelle-config copy SOURCE TARGET
//   options: --oidtable FILE, --help
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "configuration.h"
#include "oidtable.h"

namespace configtool {

// Stores the tool can reach besides configuration folders. The directory layer plugs
// its loader and saver in here; an operand with a URL scheme they do not take is
// refused.
struct Stores {
  // True when `operand` names a store this hook handles (e.g. an ldap:// URL).
  std::function<bool(const std::string& operand)> handlesUrl;
  // Loads the configuration of `operand` into `configuration`; 1 when loaded (after
  // showing its own messages when not).
  std::function<int(const std::string& operand, Configuration& configuration,
                    const kvaro::Oidtable& table)>
      load;
  // Saves `configuration` to `operand`; true when saved.
  std::function<bool(const std::string& operand, Configuration& configuration)> save;
};

// Loads SOURCE as start-up would (a configuration folder, or a store of `stores`).
// 1 when a configuration was loaded; else shows why and returns 0.
int LoadSource(const std::string& source, Configuration& configuration,
               const kvaro::Oidtable& table, const Stores& stores);

// Saves to TARGET as the program's Save would. A missing target folder is created.
// True when saved; else the failing step has shown its message.
bool SaveTarget(const std::string& target, Configuration& configuration, const Stores& stores);

// Runs every record's check (rule sets, rules, forms, input groups, input fields),
// each failure shown as its own message. Returns the number of failed checks.
int CheckAll(const Configuration& configuration);

// The whole tool: parses `arguments` (without the program name), writes results to
// `out` and messages to the current message sink (standard error for the console).
// Returns 0 on success, 1 on failure, 2 on a usage error.
int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
        const Stores& stores = {});

}  // namespace configtool
