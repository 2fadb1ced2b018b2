// Sample configurations built in code, for the tests of the editor, the stores and the
// main window.
#pragma once

#include <memory>

#include "model/configuration.h"

namespace sample {

// Rule sets "Standard" (rules "Root" (entry point), "Person", "Org") and "Other"
// (rule "Thing"); forms "People" (Standard: target group "Person details" with fields
// "Name" and "Mail", further groups "Employer" and "Site") and "Things" (Other: target
// group "Thing details" with field "Label").
void FillStandard(Configuration& configuration);

// One rule set "Standard" (search rules "Person" and "Room", entry point "Root") and one
// form "People": target group "Who" (Person) and further groups "A" (Person) and "B"
// (Room). Fields: Who has "Name" (cn, sn); A has "Phone" (telephoneNumber) and "Email"
// (mail); B has "Room Name" (cn).
void FillPeople(Configuration& configuration);

// `ruleSets` rule sets of `rulesPerSet` rules each and one form per rule set with a
// target group of `fieldsPerGroup` fields: a configuration of about
// ruleSets * (2 + rulesPerSet + fieldsPerGroup) entries.
void FillLarge(Configuration& configuration, int ruleSets, int rulesPerSet, int fieldsPerGroup);

}  // namespace sample
