# Orvelle search template: a NameFlow directory server.
#
# The set-up wizard adds the entry point "Root" (the server and port typed for this
# service, searched from the top of the server's naming context) as if it stood
# directly after the RuleSet line.
RuleSet: NameFlow Directory

Class: Country : country
Class: Organisation : organization
Class: Unit : organizationalUnit
Class: Person : person

SearchRule: Root : Country, Organisation, Person
SearchRule: Country : Organisation, Person
SearchRule: Organisation : Unit, Person
SearchRule: Unit : Unit, Person

Form: NameFlow People Search
FormTipString: Find people listed in the NameFlow directory
FormHelpString: Type all or part of a name. Add the organisation or country to narrow the search.
FormFieldGroup : Person : Person
FormField: Name : cn, sn
FormField: Email : mail
FormFieldGroup : Organisation : Organisation
FormField: Organisation Name : o
FormFieldGroup : Country : Country
FormField: Country Code : c

Form: NameFlow Organisation Search
FormTipString: Find organisations listed in the NameFlow directory
FormHelpString: Type all or part of the organisation's name. Add a country code to narrow the search.
FormFieldGroup : Organisation : Organisation
FormField: Name : o
FormField: Town : l
FormFieldGroup : Country : Country
FormField: Country Code : c
