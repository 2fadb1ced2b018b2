// The worked example of the configuration text format, shared by the tests that read,
// write, copy and store it.
#pragma once

#include <string>

namespace testsupport {

namespace example {

// The rule set "People": entry point "Root" with links to the rules "Person" and "Unit".
inline constexpr const char* kRules =
    "RuleSet: People\n"
    "Base: Root : ldap://dirhost:389/o=Sample\n"
    "SearchRule: Root : Person, Unit\n"
    "Class: Person : person\n"
    "Class: Unit : organizationalUnit\n"
    "SearchRule: Unit : Person\n"
    "\n";
// The same as the program writes it: the rules in the order of their lines, then every
// link after the rules.
inline constexpr const char* kRulesWritten =
    "RuleSet: People\n"
    "Base: Root : ldap://dirhost:389/o=Sample\n"
    "Class: Person : person\n"
    "Class: Unit : organizationalUnit\n"
    "SearchRule: Root : Person, Unit\n"
    "SearchRule: Unit : Person\n"
    "\n";
// The form "Find a person" with its first input group, then its second.
inline constexpr const char* kFormHead =
    "Form: Find a person\n"
    "FormTipString: Search for people\n"
    "FormHelpString: Type part of a name\n"
    "FormFieldGroup : Person details : Person\n"
    "FormField: Name : cn, sn\n";
inline constexpr const char* kDepartmentGroup =
    "FormFieldGroup : Department : Unit\n"
    "FormField: Department : ou\n";

}  // namespace example

// One rule set "People" and one form "Find a person" with two input groups.
inline const std::string kWorkedExample =
    std::string(example::kRules) + example::kFormHead + example::kDepartmentGroup;

// What the program writes for the worked example.
inline const std::string kWorkedExampleCopy =
    std::string(example::kRulesWritten) + example::kFormHead + example::kDepartmentGroup;

// The smallest useful configuration: one rule set with one rule and one form over it.
inline const std::string kSmallExample =
    std::string("RuleSet: People\nClass: Person : person\n\n") + example::kFormHead;

}  // namespace testsupport
