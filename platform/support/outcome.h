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
  // Shown below the message's text after a blank line when not empty: why it failed, in
  // the server's or the system's words (see directory::ReasonText).
  std::string reason = {};
  bool operator==(const Problem&) const = default;
};
using Problems = std::vector<Problem>;

// What a check, a writer or a store returns: the problems found, in the order found.
// True when there is none, so `if (!record.Check())` reads "when the check fails".
struct Result;
struct Outcome {
  Outcome() = default;
  Outcome(Problem problem) { problems.push_back(std::move(problem)); }
  explicit Outcome(const Result& result);
  explicit operator bool() const { return problems.empty(); }
  // The message ids, in order.
  std::vector<int> Ids() const {
    std::vector<int> ids;
    for (const Problem& problem : problems) ids.push_back(problem.id);
    return ids;
  }
  Problems problems;
};

// What an operation returns that can succeed and still have something to say (a load
// that left records out, a save whose old copy stayed): whether it did, and the messages
// for the caller to show, in order; on failure the last one says why (none when the user
// cancelled).
struct Result {
  Result() = default;
  Result(bool done) : ok(done) {}
  // A failure that says why with `outcome`'s problems (none: a cancel).
  Result(Outcome outcome) : ok(bool(outcome)), problems(std::move(outcome.problems)) {}
  explicit operator bool() const { return ok; }
  std::vector<int> Ids() const { return Outcome{*this}.Ids(); }
  // Appends `more`'s problems; the result fails when `more` did.
  Result& Add(Outcome more) {
    if (!more) ok = false;
    for (Problem& p : more.problems) problems.push_back(std::move(p));
    return *this;
  }
  bool ok = false;
  Problems problems;
};

inline Outcome::Outcome(const Result& result) : problems(result.problems) {}

}  // namespace msg
