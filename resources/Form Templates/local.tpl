# Orvelle search template: the organisation's own directory server.
#
# The set-up wizard adds the entry point "Root" (the server, port and search base typed
# for this service) as if it stood directly after the RuleSet line, so the SearchRule
# line for Root below finds it.
RuleSet: Local Directory

Class: Person : person
Class: Organisation : organization
Class: Department : organizationalUnit
Class: Place : locality

SearchRule: Root : Person, Organisation, Department, Place
SearchRule: Organisation : Person, Department, Place
SearchRule: Department : Person, Department
SearchRule: Place : Person, Organisation, Department

Form: Local People Search
FormTipString: Find people in your organisation by name, mail address or telephone number
FormHelpString: Type all or part of a name. Fill in a department or organisation as well to narrow the search.
FormFieldGroup : Person : Person
FormField: Name : cn, sn, givenName
FormField: Email : mail
FormField: Telephone : telephoneNumber, mobile
FormField: Job Title : title
FormFieldGroup : Department : Department
FormField: Department Name : ou
FormFieldGroup : Organisation : Organisation
FormField: Organisation Name : o

Form: Local Organisation Search
FormTipString: Find organisations by name or place
FormHelpString: Type all or part of the organisation's name, or the town it is in.
FormFieldGroup : Organisation : Organisation
FormField: Name : o
FormField: Description : description
FormFieldGroup : Place : Place
FormField: Town : l
FormField: Region : st

Form: Local Department Search
FormTipString: Find departments and the people in them
FormHelpString: Type all or part of the department's name. Fill in the organisation to narrow the search.
FormFieldGroup : Department : Department
FormField: Name : ou
FormField: Description : description
FormFieldGroup : Organisation : Organisation
FormField: Organisation Name : o
