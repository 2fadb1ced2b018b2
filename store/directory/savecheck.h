// The checks a directory save runs on its entry plan before anything is written: what the
// server would refuse part-way (names clashing as the server compares them, empty names,
// empty or non-UTF-8 Directory String values) and what would not load back as it was
// saved (names holding the "$" that separates joined lists, or a NUL).
#pragma once

#include <string>

#include "model/configuration.h"
#include "store/directory/entrylayout.h"

namespace directory {

// The key under which the server tells DNs apart: attribute types and cn-style values
// (caseIgnoreMatch: surrounding blanks dropped, inner runs of blanks made one, ASCII
// letters folded); nullopt when the text is not a DN.
std::optional<std::string> MatchKey(const std::string& dn);

// Checks `plan` (the entries of `configuration` below `subtreeDn`, in writing order).
// One message (62132-62136, 62264) naming the record; none when the directory can take
// every entry and the configuration loads back as saved.
msg::Outcome CheckEntryPlan(const Configuration& configuration, const std::string& subtreeDn,
                            const EntryPlan& plan);

}  // namespace directory
