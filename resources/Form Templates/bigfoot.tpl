# Orvelle search template: the BigFoot Internet directory of people.
#
# The service needs no information from the administrator: its server is fixed here.
RuleSet: BigFoot Directory

Base: Root : ldap://ldap.bigfoot.com:389/
Class: Person : person

SearchRule: Root : Person

Form: BigFoot People Search
FormTipString: Find people listed in the BigFoot Internet directory
FormHelpString: Type a name, a mail address or both.
FormFieldGroup : Person : Person
FormField: Name : cn, sn, givenName
FormField: Email : mail
