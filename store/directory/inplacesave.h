// The save in place, where the directory refuses the entry beside the root or the subtree
// rename that the staged save needs: a durable LDIF backup of the stored subtree first
// (without what replication left in it, LeftByReplication), then the entries below the
// root deleted and the new ones written; on failure the backup is put back.
#pragma once

#include <functional>
#include <string>

#include "platform/ldap/ldapclient.h"
#include "platform/support/outcome.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"

namespace directory {

class OrderedWriter;

// What the save in place works on and with.
struct InPlaceTarget {
  ldapx::Connection* connection = nullptr;
  std::string rootDn;               // the stored configuration root entry, which stays
  std::string bindDn;               // the logon's, whose rights are read
  const EntryPlan* plan = nullptr;  // the new entries below the root, in writing order
  std::string token;                // the save's kvaro::TimedTag, part of the backup's file name
  // Where the backup goes (empty: DefaultBackupFolder()).
  std::string backupFolder;
  // Shows a new message in the "Please Wait..." window, and tells whether the user asked
  // to cancel (both may be empty).
  std::function<void(const std::string&)> setMessage;
  std::function<bool()> cancelled;
};

// Saves `target.plan` in place of the entries below the stored root, writing with
// `writer`. A cancel is taken until the first stored entry is deleted (then message
// 62143). Succeeds when the new configuration is stored; else one message: the backup could not be
// written (62142), the stored subtree could not be read (62121), the user may not delete or add
// what it must (62147), or the save failed and the backup was put back (62140) or could
// not be put back whole (62141).
msg::Result SaveInPlace(const InPlaceTarget& target, OrderedWriter& writer);

}  // namespace directory
