// The string table: every text the program shows, by its fixed id.
#include <string_view>
#include <unordered_map>

#include "platform/support/messages.h"

namespace msg {

namespace {

const std::unordered_map<int, std::string_view>& Table() {
  static const std::unordered_map<int, std::string_view> table = {
      {104, "Windows sockets initialization failed."},
      {147, "Directory Host Details"},
      {148, "Configuration Subtree Root"},
      {149, "Authentication Information"},
      {150, "Select Search Services"},
      {151, "Configuration Setup"},
      {156, "Summary"},
      {157, "Search Service Information"},
      {57344, "Orvelle32Setup"},
      {57345, "For Help, press F1"},
      {57600, "Create a New Orvelle Configuration.\nNew Configuration"},
      {57603, "Save Configuration to the Directory\nSave Configuration"},
      {57665, "Quit the application; prompts to save documents\nExit"},
      {57634, "Copy the selection and put it on the Clipboard\nCopy"},
      {57635, "Cut the selection and put it on the Clipboard\nCut"},
      {57637, "Insert Clipboard contents\nPaste"},
      {57643, "Undo the last action\nUndo"},
      {57644, "Redo the previously undone action\nRedo"},
      {57664, "Display program information, version number and copyright\nAbout"},
      {57669, "Display help for clicked on buttons, menus and windows\nHelp"},
      {57670, "List Help topics\nHelp Topics"},
      {57680, "Switch to the next window pane\nNext Pane"},
      {57681, "Switch back to the previous window pane\nPrevious Pane"},
      {59137, "CAP"},
      {59138, "NUM"},
      {59139, "SCRL"},
      {59393, "Show or hide the status bar\nToggle StatusBar"},
      {61204, "Rule Sets"},
      {61211, "Forms"},
      {61214, "Add Rule"},
      {61215, "Name"},
      {61216, "Type"},
      {61217, "Start Point"},
      {61218, "Search Rule"},
      {61219, "Name"},
      {61220, "Denoting Object Classes"},
      {61221, "Start Point"},
      {61222, "Search Base DN"},
      {61223, "Host"},
      {61224, "Port"},
      {61225, "Add Form"},
      {61226, "Remove Form"},
      {61227, "Input Group"},
      {61228, "Searches For..."},
      {61232, "Add Group"},
      {61233, "Remove Group"},
      {61234, "Add Input"},
      {61235, "Remove Input"},
      {61236, "Name"},
      {61237, "Filter Attributes"},
      {61238, "Add Filter"},
      {61239, "Remove Filter"},
      {61240, "Filter Attribute"},
      {61241, " Rule Set Properties: "},
      {61242, " Rule Properties: "},
      {61243, "Add Object Class"},
      {61244, "Remove Object Class"},
      {61245,
       "Warning!\n\nA bad directory entry point was found:\n\nLDAP URI: %s\nForm Search Class: %s"},
      {61246, "Can Search For..."},
      {61247, "Add Search Rule"},
      {61248, "Remove Search Rule"},
      {61249, " Form Properties: %s"},
      {61250, " Input Group Properties: %s"},
      {61251, " Input Field Properties: %s"},
      {61252, "An input field with name '%s' already exists! Please re-enter a unique field name."},
      {61253, "Names must be at least 3 characters long! Please re-enter before continuing..."},
      {61254,
       "Names may only contain alphanumeric characters or spaces! Please re-enter before "
       "continuing..."},
      {61255,
       "No usable search rules that can be applied to an input group! Please define a non-entry "
       "point search rule for rule set '%s' before proceeding..."},
      {61256, "Please enter a filter attribute for this input field before proceeding!"},
      {61257, "Set Target Group"},
      {61258, "Target by Search Rule: %s"},
      {61259, "Search Rule Object Classes: %s"},
      {61260, "Input field '%s' has no defined filter attribute types. At least one is required."},
      {61261, "Failed to add entry!\n\nDN: %s\nError: %s"},
      {61262, "No input fields defined for form input group '%s'!"},
      {61263, "Failed to delete children of entry!\n\nDN: %s\nError: %s"},
      {61264, "Failed to delete entry!\n\nDN: %s\nError: %s"},
      {61265, "Search form '%s' has no target rule. Please specify a target before proceeding."},
      {61267, "Set Start Point"},
      {61268, "At least one object class must be present! Please enter one before proceeding..."},
      {61269, "Search Rule Sets"},
      {61270, "Add Rule Set"},
      {61271, "Remove Rule Set"},
      {61273, "Search Forms"},
      {61275, "Invalid TCP/IP port number entered!"},
      {61276,
       "Couldn't connect to the directory using the given authentication\ndetails. Please verify "
       "that valid DN and passwords have\nbeen entered and that the directory server is alive "
       "before\nproceeding."},
      {61277,
       "Failed to connect to the directory server. Please verify the supplied\nhost address and "
       "port number before proceeding."},
      {61278, "The DN entered is invalid. Please verify the supplied DN before proceeding."},
      {61279, "You must check at least one directory service to\nadd to the configuration!"},
      {61280,
       "Some Orvelle application registry settings couldn't be located! A re-install is necessary "
       "for proper function."},
      {61281,
       "Rule set '%s' contains no rules. Either delete the rule set or\nadd some rules before "
       "proceeding."},
      {61282, "Accessing directory..."},
      {61283, "Please wait while the given host address and port number is verified..."},
      {61284,
       "Failed to write to registry! The key and value pair were:\n\nKey: "
       "/HKCU/Software/Merrowick/...\nValue: %s"},
      {61285,
       "Please wait while the Orvelle configuration root entry is written to the directory."},
      {61286, "Failed to create the configuration\nroot entry! Cannot continue..."},
      {61290, "Failed to read form from template file '%s'!"},
      {61293, "Not required"},
      {61296,
       "Couldn't save to the directory! Please check\nthat the directory server is up and "
       "running\nand then re-run this application."},
      {61297, "Selected search services:"},

      // Texts the string table gives no id of their own; they live in a private range.
      {62001,
       "Warning!\n\nInvalid object class found in form class:\n\nObject class: %s\nForm Class DN: "
       "%s"},
      {62002, "Warning!\n\nA badly defined form class was found:\n\nForm Class DN: %s"},
      {62003,
       "Warning!\n\nThe following named rule set is invalid:\n\nName: %s\nFound in Entry: %s"},
      {62004, "Warning!\n\nSearch form specified without a target rule:\n\nForm DN: %s"},
      {62005, "Warning!\n\nA form group input wasn't found:\n\nInput Name: %s\nForm Group DN: %s"},
      {62006, "Warning!\n\nThe following named rule is invalid:\n\nName: %s\nFound in Entry: %s"},
      {62007,
       "Warning!\n\nNo input fields found for form input group:\n\nInput Group Name: %s\nForm DN: "
       "%s"},
      {62008,
       "Warning!\n\nAn invalid attribute type was found in the configuration subtree:\n\nEntry DN: "
       "%s"},
      {62010, "Deleting current configuratio subtree..."},
      {62011, "Writing new search rule sets..."},
      {62012, "Writing new search forms..."},
      {62013,
       "Failed to create configuration file: \n\n%s\n\nPlease reinstall configuration from scratch "
       "before continuing.\n\nThe system's reason: %s"},
      {62014,
       "Configuration file updated failed:\n\n%s\n\nPlease reinstall configuration from scratch "
       "before continuing.\n\nThe system's reason: %s"},
      // Messages of this program's own (safety checks the original lacked).
      {62100,
       "The rule set name '%s' cannot be used as a file name. Names may not be empty, be \".\" or "
       "\"..\", or contain \"/\" or NUL characters.\n\nNothing was saved."},
      {62101,
       "'%s' cannot be stored in a configuration file and read back unchanged: %s\n\nNothing was "
       "saved."},
      {62102,
       "Two rule sets are named '%s'. Each rule set is saved to a file named after it, so the "
       "names must differ. Please rename one of them before saving.\n\nNothing was saved."},
      {62103,
       "No configuration folder is set (settings value \"Configuration Directory\"), so the "
       "configuration cannot be saved to local files.\n\nNothing was saved."},
      {62104,
       "No configuration could be loaded from '%s'. A configuration folder holds \"RuleSet=*\" "
       "files with at least one rule set and one search form."},
      {62105,
       "The attribute table '%s' could not be read. Without it every object class and attribute "
       "type name would be dropped; give the table with --oidtable FILE."},
      {62106,
       "'%s' is a URL of a kind this program cannot store a configuration in. Give a configuration "
       "folder or an ldap:// URL instead."},
      {62107,
       "'%s' is not a folder. Give the folder that holds the \"RuleSet=*\" configuration files."},
      // Directory save and load (62130-62149).
      {62130,
       "'%s' is not an Orvelle configuration: the entry exists but is not a configuration root "
       "entry (object class ovConfigurationRoot). Nothing was saved and nothing in the directory "
       "was changed.\n\nGive the DN of a configuration root entry, or of an entry that does not "
       "exist yet."},
      {62131,
       "'%s' does not hold an Orvelle configuration: the entry is not a configuration root entry "
       "(object class ovConfigurationRoot). Nothing was loaded.\n\nGive the DN of the "
       "configuration root entry, for example cn=Orvelle Configuration,o=Sample."},
      {62132,
       "Two records would be stored under the same directory name, which the directory does not "
       "allow (it compares names without regard to case or repeated blanks):\n\n%s\n%s\n\n"
       "Please rename one of them before saving.\n\nNothing was saved."},
      {62133,
       "A record has an empty name and cannot be stored in the directory:\n\nDN: %s\n\nPlease "
       "give it a name before saving.\n\nNothing was saved."},
      {62134,
       "The record\n\n%s\n\nwould be stored with an empty %s value, which the directory does "
       "not accept. Please fill it in before saving.\n\nNothing was saved."},
      {62135,
       "The record\n\n%s\n\nhas a name or a %s value that is not valid UTF-8 text, which the "
       "directory does not accept. Please re-enter it before saving.\n\nNothing was saved."},
      {62136,
       "The name '%s' contains \"$\", which separates the names of a list in the directory: it "
       "would come back as several names when the configuration is loaded.\n\nRecord: %s\n\n"
       "Please rename it before saving.\n\nNothing was saved."},
      {62264,
       "The name '%s' holds a NUL character, which no configuration may hold (the directory "
       "would store it as \"\\00\").\n\nRecord: %s\n\nPlease rename it before saving.\n\n"
       "Nothing was saved."},
      {62137,
       "The new configuration could not be written to the directory:\n\nDN: %s\nError: %s\n\n"
       "The stored configuration was not changed."},
      {62138,
       "The new configuration could not take the place of the stored one:\n\nDN: %s\nError: "
       "%s\n\nThe stored configuration was not changed. If another save ran at the same time, "
       "its configuration is the stored one now."},
      {62139,
       "The configuration was saved, but the previous configuration could not be removed "
       "completely:\n\nDN: %s\nError: %s\n\nNothing is lost; a later save removes it."},
      {62140,
       "The configuration could not be saved:\n\nDN: %s\nError: %s\n\nThe stored "
       "configuration was put back from the backup written before the save:\n\n%s"},
      {62141,
       "The configuration could not be saved:\n\nDN: %s\nError: %s\n\nThe stored "
       "configuration could not be put back completely. These entries are missing, or not as "
       "they were:\n\n%s\n\nThe backup written before the save holds them all:\n\n%s\n\n"
       "Load the entries that are missing from it with ldapadd, or save again."},
      {62142,
       "The directory does not allow the new configuration to be written beside the stored one, "
       "so it would have to be written in its place; but no backup of the stored configuration "
       "could be written first:\n\n%s\n\nNothing was saved."},
      {62143, "The save was cancelled. The stored configuration was not changed."},
      {62144,
       "The connection to the directory server was lost and could not be opened again:\n\n"
       "Error: %s\n\nThe stored configuration was not changed. Your changes are kept; save "
       "again when the server can be reached."},
      {62145,
       "The stored configuration could not be renamed back after a failed save:\n\nDN: "
       "%s\nError: %s\n\nIt is kept whole under that DN. Save again to store a configuration "
       "at its usual place."},
      {62146,
       "Another save changed the configuration\n\n%s\n\nwhile this one was running (the "
       "directory answered: %s), so your changes were not saved. The directory keeps the "
       "configuration of the other save.\n\nReload the configuration, make your changes again "
       "and save."},
      {62147,
       "The directory does not allow the new configuration to be written beside the stored "
       "one, and it would refuse part-way to write it in its place: the access rights it "
       "reports for\n\n%s\n\ndo not allow the deletion of these entries (of the root entry: "
       "adding entries below it):\n\n%s\n\nNothing was saved and nothing in the directory "
       "was changed. Ask the directory's administrator for these rights, or save as a user "
       "who has them."},
      // Names the stores can hold, and the local files (62160-62169).
      {62160,
       "The name '%s' cannot be stored. Names may not be empty, begin or end with a blank, or "
       "contain \":\", \"$\" or control characters such as line breaks; rule names may not "
       "contain \",\" either, and a rule set name must also be usable as a file name (not \".\" "
       "or \"..\", no \"/\", at most 247 bytes). Please re-enter before continuing..."},
      {62161,
       "names may not contain \":\", line breaks or NUL characters or begin or end with a blank, "
       "rule names no \",\" either, and a rule set name must be usable as a file name."},
      {62162,
       "tool tips, help texts and start points may not contain line breaks or begin or end with "
       "a blank, and a start point may not have blanks next to a \":\"."},
      {62163,
       "a search rule needs at least one object class, and object-class and attribute-type "
       "names must be known to the attribute table and hold no \":\", \",\" or blanks at "
       "either end."},
      {62164,
       "it refers to a rule that is not in its rule set (or twice to the same rule), or the "
       "form's rule set is not saved with it."},
      {62165, "another record of the same kind in the same place has the same name."},
      {62166,
       "'%s' is not a regular file (it is a folder, FIFO, device, socket or broken link). It is "
       "not read as a configuration file, and a save never writes over it."},
      {62167,
       "The configuration could not be read: '%s' could not be read.\n\nThe system's reason: %s"},
      {62168,
       "Another save to '%s' is running and did not end within 10 seconds, so nothing was "
       "saved. Please save again later."},
      {62169,
       "'%s' holds no \"RuleSet:\" line, so it is not read as a configuration file (it may be "
       "a note, text in another encoding, or a file whose first line has a typing error). A "
       "save leaves it as it is."},
      // Editor window (62150-62159).
      {62150,
       "The rule set '%s' cannot be removed because these search forms still use it or its "
       "rules:\n\n%s\n\nRemove those forms first, then remove the rule set."},
      {62151, "The configuration has unsaved changes.\n\nDo you want to save them before closing?"},
      // Rule panels (62170-62179).
      {62170,
       "The search rule '%s' must keep at least one object class: a search rule without one is "
       "dropped when the configuration is loaded again. Add the object class that should replace "
       "it first, then remove this one."},
      {62171,
       "A rule named '%s' already exists in rule set '%s', so nothing was added. Add the rule "
       "again under another name."},
      {62172, "A rule set named '%s' already exists. Please enter a unique rule set name."},
      {62173,
       "The rule set name '%s' cannot be used: the rule set is stored under its name, so it may "
       "not be \".\" or \"..\", begin or end with a blank, contain \"/\", \":\" or control "
       "characters such as line breaks, or be longer than 247 bytes. Please re-enter before "
       "continuing..."},
      // Start points and removal questions (62175-62179).
      {62175,
       "The search base '%s' cannot be stored in a start point: the characters \"?\", \"%\" "
       "and \"#\" have a meaning of their own in an LDAP URI. Please re-enter the search base."},
      {62176,
       "The host '%s' cannot be stored in a start point: a host name may not contain blanks, "
       "\"/\", \":\", \"?\", \"%\" or \"#\". Please re-enter the host."},
      {62177,
       "Remove the rule set '%s' with all of its rules?\n\nThe rule set is removed from the "
       "configuration when it is next saved."},
      {62178,
       "Remove the search form '%s' with all of its input groups and input fields?\n\nThe form "
       "is removed from the configuration when it is next saved."},
      // Form list panel (62180-62189).
      {62180, "A search form named '%s' already exists. Please enter a unique form name."},
      {62182, "The object class '%s' is in the list already, so it was not added again."},
      {62183, "The rule '%s' is one this rule can search for already, so it was not added again."},
      {62184,
       "The attribute type '%s' is a filter attribute of this field already, so it was not "
       "added again."},
      {62181,
       "There is no rule set a new search form could use. Add a rule set with at least one search "
       "rule first (Rule Sets, Add Rule Set), then add the form."},
      // Waiting for the directory server (62190-62199).
      {62190,
       "The directory server %s stopped answering: nothing came back within %s seconds.\n\nPlease "
       "check that the server is up and running and can be reached, then try again."},
      {62191, "the directory server stopped answering"},
      {62192, "cancelled"},
      {62193, "Reason: %s"},
      // Reads the client ends because they outgrew anything the program asks for.
      {62300,
       "the server sent a message larger than %s MB, more than any answer this program asks "
       "for can be; the connection was closed"},
      {62301,
       "the server kept sending but did not end its answer within the limit of one read (ten "
       "times the operation time-out)"},
      {62302,
       "the server sent more entries than one read may hold (%s entries or %s MB of them, or "
       "more than one entry for a read of a single entry)"},
      // Several servers and read-only copies (62303-62319).
      {62303, "Server: %s"},
      {62304,
       "The server address '%s' cannot be used. Please enter one or more host names or "
       "addresses separated by blanks, each followed by \":port\" where its port is not the "
       "one below (an IPv6 address with a port in brackets, as in [::1]:389)."},
      {62305,
       "The server %s holds a read-only copy of the configuration; changes are saved on %s.\n\n"
       "Nothing was saved."},
      {62306, "The server %s holds a read-only copy of the configuration.\n\nSave to %s instead?"},
      {62307,
       "The configuration could not be saved on %s, the server that takes the changes of the "
       "copy on %s.\n\nNothing was saved."},
      {62308,
       "The server %s named %s as the server that takes changes, which is no LDAP URL this "
       "program can connect to.\n\nNothing was saved."},
      {62309,
       "The configuration was saved, but the replica %s did not serve it within %s seconds: it "
       "serves version %s, the saved one is %s."},
      {62310,
       "The configuration was saved, but the replica %s could not be asked within %s seconds "
       "whether it serves it."},
      {62311,
       "Warning!\n\nReplication between servers that both take changes left these entries in "
       "the configuration subtree: second copies of records that were added or renamed on two "
       "servers at once, and stand-ins (glue) for records removed on one server while another "
       "added below them. They were not read (each with the entries below it), and the next "
       "save removes them:\n\n%s"},
      {62312,
       "The server %s leaves entries behind when it renames an entry with entries below it "
       "(389 Directory Server with its LMDB database does). The configuration was "
       "therefore saved entry by entry where it is stored, and a client that loads it "
       "during such a save may get it half written."},
      {62194, "Reason: %s (the server says: %s)"},
      {62195, "Cancel"},
      {62196, "Cancelling..."},
      {62198, "Reason: %s (%s)"},
      {62199, "Please wait while the configuration is saved..."},
      {62197,
       "Please wait while the logon details are verified and the configuration is loaded..."},
      // Encrypted connections (62200-62219).
      {62200, "Reason: %s (%s)"},
      {62201,
       "the server's certificate is not trusted: it was not issued by a certificate authority "
       "this computer trusts (give the authority's certificate as the CA certificate file)"},
      {62202, "the server's certificate has expired or is not valid yet"},
      {62203, "the server's certificate was issued for another host name than %s"},
      {62204, "the server does not offer StartTLS on this port"},
      {62205,
       "the server requires an encrypted connection (choose StartTLS or LDAPS as the connection "
       "security)"},
      {62206, "the encrypted connection could not be set up"},
      {62207, "Connection: encrypted (%s)"},
      {62208, "Connection: not encrypted"},
      {62209,
       "Warning: the password is sent in plain text to %s. Use an ldaps:// URL or --starttls "
       "so that it is encrypted."},
      {62210,
       "Warning: the password file %s can be read by other users of this computer (chmod 600 "
       "it)."},
      {62213, "The logon is sent encrypted (%s); the server's certificate is checked."},
      {62214,
       "The logon is sent in plain text: the password can be read on the network between "
       "here and the server."},
      {62215,
       "The logon to %s failed because the server did not answer it as an LDAP server does: "
       "its answer could not be understood (a protocol error), or it closed the connection "
       "without one. The DN and password were not checked.\n\nPlease check that the host and port "
       "name an LDAP server, and that the connection "
       "security fits the port (an LDAPS port, usually 636, needs LDAPS)."},
      {62216, "the server closed the connection instead of answering the logon"},
      // Renaming and removing in the editor; the wizard's subtree check (62220-62239).
      {62220, "Rename"},
      {62221, "Remove Rule"},
      {62222,
       "A rule named '%s' already exists in rule set '%s'. Please enter a unique rule name."},
      {62223,
       "An input group named '%s' already exists in search form '%s'. Please enter a unique "
       "group name."},
      {62224,
       "The rule '%s' cannot be removed because it is still used:\n\n%s\n\nRemove those uses "
       "first, then remove the rule."},
      {62225, "rule '%s' can search for it"},
      {62226, "input group '%s' of search form '%s' searches by it"},
      {62227,
       "The parent entry '%s' does not exist in the directory (or this user may not see it), so "
       "the configuration subtree cannot be added below it. Please enter the DN of an existing "
       "entry."},
      {62228,
       "'%s' already holds an Orvelle configuration.\n\nDo you want the new configuration to "
       "replace it? It is replaced when you press Finish; until then nothing in the directory is "
       "changed."},
      {62229,
       "'%s' exists but is not an Orvelle configuration (it is not a configuration root entry, "
       "object class ovConfigurationRoot). It is not replaced or written over. Please enter "
       "another parent DN."},
      {62230, "The entry '%s' could not be read to check it."},
      {62231, "Please wait while the parent entry is checked..."},
      {62232,
       "Please wait while the previous configuration is removed from the directory (Cancel "
       "leaves the rest for a later save to remove)..."},
      // Local files that are not configuration files (62240-62244).
      {62240,
       "Nothing was saved: the save would write over '%s', which holds no \"RuleSet:\" line "
       "and so is not a configuration file. Please rename or move that file, or give the rule "
       "set another name."},
      {62241,
       "Nothing was saved: '%s' could not be read to tell whether it is a configuration file "
       "that the save replaces.\n\nThe system's reason: %s"},
      // Lines of a local configuration file that a load leaves out (62250-62259).
      {62250,
       "Some lines of '%s' were not read, or not wholly, so the configuration lacks what they "
       "hold, and a save would leave it out:\n\n%s"},
      {62251, "(and %s more lines)"},
      {62252, "the attribute table does not know %s"},
      {62253, "it belongs to no rule set, search form or input group that was read"},
      {62254, "its rule set holds no rule %s (a rule must come before the lines that name it)"},
      {62255, "a record of the same name was read before it"},
      {62256, "it is not a line of the configuration text format"},
      {62257, "line %s: %s (%s)"},
      {62262, "it holds a NUL character, which no name or text of a configuration may hold"},
      {62263,
       "a rule set name ends at the next \":\", so it was read as rule set '%s' without the "
       "rest of the line"},
      {62261, "%s (configuration files larger than 64 MB are not read)"},
      {62259,
       "Warning!\n\nThese entries of the configuration subtree were not read (each with the "
       "entries below it), so the configuration lacks them, and the next save removes them:\n\n%s"},
      {62260,
       "Nothing was written: the load of '%s' dropped records (see the warnings), and '%s' "
       "would leave them out. Mend the source, or give --allow-warnings to go on with what was "
       "read."},
      {62258,
       "Nothing was copied: '%s' holds no configuration (no rule set with a search form), and a "
       "copy of it would replace the configuration of '%s' with an empty one."},
      // The wizard's templates and its check of the configuration folder (62245-62249).
      {62245, "The search-service template '%s' could not be read.\n\nThe system's reason: %s"},
      {62246,
       "The configuration was not created, because the template of at least one chosen search "
       "service could not be used. Nothing has been saved and no settings were written.\n\nThe "
       "templates are read from the folder '%s'."},
      {62247,
       "The folder '%s' already holds an Orvelle configuration (configuration files: "
       "%s).\n\nDo you want the new configuration to replace it? If you answer No, nothing in "
       "the folder is changed."},
      {62248,
       "The folder '%s' could not be read to check whether it already holds a configuration, so "
       "nothing is stored there.\n\nThe system's reason: %s"},
      {62249, "it is not a regular file (it is a folder, FIFO, device, socket or broken link)"},
      // Names of records (62320-62339).
      {62320,
       "The name '%s' cannot be used beside '%s': the directory does not tell names apart by "
       "case or by the blanks between words, so the two could not both be stored. Please "
       "enter another name."},
      {62321, "Save Configuration to the Configuration Folder\nSave Configuration"},
      {62322, "Connection: closed (a save connects again)"},
      {62323, "%s of %s"},
      // The editor for daily work (62324-62339).
      {62324,
       "Not stored: neither the directory nor the configuration files keep a default value."},
      {62325, "Tool Tip"},
      {62326, "Help Text"},
      {62327, "&Save"},
      {62328, "&Discard"},
      {62329, "&Cancel"},
      {62330, "&Add..."},
      {62331, "Re&name\tF2"},
      {62332, "Re&move\tDel"},
      {62333, "Orvelle32Setup Help"},
      // The set-up wizard's summary of a configuration in the directory.
      {62334, "Directory server: %s"},
      {62335, "Connection security: %s"},
      {62336, "Trusted certificates: %s"},
      {62337, "the system's certificate store"},
      {62338, "Configuration subtree: %s"},
      // The editor's save when someone else changed the stored configuration.
      {62339,
       "Since the configuration was loaded from '%s', someone else changed what your save "
       "would write or remove:\n\n%s\n\nReload: load the stored configuration again; your "
       "unsaved changes are lost.\nSave Anyway: store your configuration; it replaces their "
       "changes.\nCancel: keep editing; nothing is saved."},
      {62340, "&Reload"},
      {62341, "Save &Anyway"},
      {62342, "Saving: %s added, %s changed, %s removed."},
      {62343, "Saved: %s added, %s changed, %s removed."},
      {62344, "Saved: nothing had changed since the configuration was loaded."},
      {62345, "The configuration was loaded again; your unsaved changes were discarded."},
      // Duplicate of a rule set or form.
      {62346, "Du&plicate..."},
      {62347, "Duplicate Rule Set"},
      {62348, "Copy of %s"},
      {62349, "Duplicate Form"},
      // Undo and redo: the names of the edits.
      {62380, "Add %s %s"},
      {62381, "Remove %s %s"},
      {62382, "Rename %s %s"},
      {62383, "Change %s %s"},
      {62384, "Rule Set"},
      {62385, "Rule"},
      {62386, "Form"},
      {62387, "Input Group"},
      {62388, "Input Field"},
      {62389, "&Undo\tCtrl+Z"},
      {62390, "&Redo\tCtrl+Shift+Z"},
      {62391, "&Undo %s\tCtrl+Z"},
      {62392, "&Redo %s\tCtrl+Shift+Z"},
      // Adding a search service to the open configuration.
      {62393,
       "Nothing was added: the open configuration already has a rule set or search form named "
       "%s (names that differ only in the case of letters count as the same). Rename or "
       "remove those records first, then add the service again."},
      {62394, "Add Search Ser&vice..."},
      {32771,
       "Add a search service's rule set and search forms to the configuration\nAdd "
       "Search Service"},
      // Versions and the lost-update guard.
      {62350,
       "Nothing was saved: since the configuration was loaded from '%s', someone else changed "
       "what this save would write or remove:\n\n%s\n\nLoad the configuration again to see "
       "their changes, then make yours again."},
      {62351, "rule set '%s' was added"},
      {62352, "rule set '%s' was changed"},
      {62353, "rule set '%s' was removed"},
      {62354, "files removed: %s"},
      {62355, "search form '%s' was changed"},
      {62356, "entry '%s' was changed"},
      {62357, "entries removed: %s"},
      {62358, "the configuration was changed"},
      {62359, "Nothing was written: '%s' is no longer at version %s. Since then:\n\n%s"},
      {62360, "The version of the configuration could not be read:\n\nDN: %s\nError: %s"},
      {62361,
       "The server of '%s' keeps no attribute that changes with every write of an entry "
       "(entryCSN, entryUSN or modifyTimestamp), so its configuration has no version."},
      {62362, "search form '%s' was added"},
      {62363, "search form '%s' was removed"},
      {62364,
       "The changes could not be written to the directory:\n\nDN: %s\nError: %s\n\nTaking "
       "back what had been written failed too:\n\nDN: %s\nError: %s\n\nThe stored "
       "configuration holds part of the changes; each record is whole. Load it again to see "
       "what it holds, then make the rest of your changes again."},
      {62365,
       "The configuration was saved, but the directory refused to remove an entry:\n\nDN: "
       "%s\nError: %s\n\nThese records of the previous configuration are still stored:\n\n"
       "%s"},
      {62366,
       "The configuration entry %s is missing: a save was stopped after it had renamed the "
       "stored configuration away and before it had put the new one in its place.\n\nThe "
       "stored configuration was loaded from %s. Saving puts it back in place."},
      // Directory store messages.
      {62120,
       "'%s' is not the URL of a configuration in a directory. Give it as ldap://host:port/DN of "
       "the configuration root entry, for example "
       "ldap://dirhost:389/cn=Orvelle%20Configuration,o=Sample"},
      {62121,
       "The configuration subtree could not be read:\n\nDN: %s\n\nPlease verify that the entry "
       "exists and that the user may read it."},
      {62122,
       "Entries removed ahead of a refused delete could not be put back:\n\nDN: %s\nError: "
       "%s\n\nSave the configuration again once the directory accepts the changes, so that nothing "
       "is missing."},
  };
  return table;
}

}  // namespace

std::string_view LoadString(int id) {
  const auto& table = Table();
  auto it = table.find(id);
  return it == table.end() ? std::string_view{} : it->second;
}

}  // namespace msg
