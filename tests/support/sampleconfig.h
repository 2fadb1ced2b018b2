// Sample configurations for editor window tests.
#pragma once

#include <memory>

#include "model/configuration.h"

namespace sample {

// Rule sets "Standard" (rules "Root" (entry point), "Person", "Org") and "Other"
// (rule "Thing"); forms "People" (Standard: target group "Person details" with fields
// "Name" and "Mail", further groups "Employer" and "Site") and "Things" (Other: target
// group "Thing details" with field "Label").
void FillStandard(Configuration& configuration);

// `ruleSets` rule sets of `rulesPerSet` rules each and one form per rule set with a
// target group of `fieldsPerGroup` fields: a configuration of about
// ruleSets * (2 + rulesPerSet + fieldsPerGroup) entries.
void FillLarge(Configuration& configuration, int ruleSets, int rulesPerSet, int fieldsPerGroup);

}  // namespace sample
