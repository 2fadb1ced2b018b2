// What a check, a load or a save returns: problems as message ids with their arguments,
// not shown yet. Header-only, so that a layer which returns them (the model) needs no
// library for it.
#pragma once

#include <string>
#include <vector>

namespace msg {

enum class Icon { Information, Warning, Error, Question };

// A message not shown yet: what a check, a load or a save found wrong, for the caller to
// show.
struct Problem {
  int id = 0;
  std::vector<std::string> args;
  Icon icon = Icon::Warning;
  // The arguments are already made safe and may hold lines (see FormatPrepared).
  bool prepared = false;
  bool operator==(const Problem&) const = default;
};
using Problems = std::vector<Problem>;

// What a check, a writer or a store returns: the problems found, in the order found.
// True when there is none, so `if (!record.Check())` reads "when the check fails".
struct Outcome {
  Outcome() = default;
  Outcome(Problem problem) { problems.push_back(std::move(problem)); }
  explicit operator bool() const { return problems.empty(); }
  // The message ids, in order.
  std::vector<int> Ids() const {
    std::vector<int> ids;
    for (const Problem& problem : problems) ids.push_back(problem.id);
    return ids;
  }
  Problems problems;
};

}  // namespace msg
