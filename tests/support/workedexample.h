// The worked example of the configuration text format, shared by the tests that read,
// write, copy and store it.
#pragma once

namespace testsupport {

// One rule set "People" (entry point "Root" with links to the rules "Person" and "Unit")
// and one form "Find a person" with two input groups.
inline constexpr const char* kWorkedExample =
    "RuleSet: People\n"
    "Base: Root : ldap://dirhost:389/o=Sample\n"
    "SearchRule: Root : Person, Unit\n"
    "Class: Person : person\n"
    "Class: Unit : organizationalUnit\n"
    "SearchRule: Unit : Person\n"
    "\n"
    "Form: Find a person\n"
    "FormTipString: Search for people\n"
    "FormHelpString: Type part of a name\n"
    "FormFieldGroup : Person details : Person\n"
    "FormField: Name : cn, sn\n"
    "FormFieldGroup : Department : Unit\n"
    "FormField: Department : ou\n";

// What the program writes for the worked example: the reading order creates the
// "Class" rules before the entry point, and every link is written after the rules.
inline constexpr const char* kWorkedExampleCopy =
    "RuleSet: People\n"
    "Class: Person : person\n"
    "Class: Unit : organizationalUnit\n"
    "Base: Root : ldap://dirhost:389/o=Sample\n"
    "SearchRule: Unit : Person\n"
    "SearchRule: Root : Person, Unit\n"
    "\n"
    "Form: Find a person\n"
    "FormTipString: Search for people\n"
    "FormHelpString: Type part of a name\n"
    "FormFieldGroup : Person details : Person\n"
    "FormField: Name : cn, sn\n"
    "FormFieldGroup : Department : Unit\n"
    "FormField: Department : ou\n";

// The smallest useful configuration: one rule set with one rule and one form over it.
inline constexpr const char* kSmallExample =
    "RuleSet: People\n"
    "Class: Person : person\n"
    "\n"
    "Form: Find a person\n"
    "FormTipString: Search for people\n"
    "FormHelpString: Type part of a name\n"
    "FormFieldGroup : Person details : Person\n"
    "FormField: Name : cn, sn\n";

}  // namespace testsupport
