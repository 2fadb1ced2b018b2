// The checks a directory save runs on its entry plan before anything is written: what the
// server would refuse part-way (names clashing as the server compares them, empty names,
// empty or non-UTF-8 Directory String values) and what would not load back as it was
// saved (names holding the "$" that separates joined lists, or a NUL).
#pragma once

#include <string>

#include "model/configuration.h"
#include "store/directory/entrylayout.h"

namespace directory {

// Checks `plan` (the entries of `configuration` below `subtreeDn`, in writing order).
// One message (62132-62136, 62264) naming the record; none when the directory can take
// every entry and the configuration loads back as saved.
msg::Outcome CheckEntryPlan(const Configuration& configuration, const std::string& subtreeDn,
                            const EntryPlan& plan);

// The same for a plan of some records: `forms` are those whose fields' attribute type
// names are checked.
msg::Outcome CheckEntryPlan(const std::vector<const SearchForm*>& forms,
                            const std::string& subtreeDn, const EntryPlan& plan);

}  // namespace directory
