// orvelle-config: checks a stored configuration, or copies it from one store to another,
// without a screen.
//
//   orvelle-config check SOURCE
//   orvelle-config copy SOURCE TARGET
//   orvelle-config ldif SOURCE
//   orvelle-config oidtable URL
//   orvelle-config version SOURCE
//   options: --oidtable FILE, --bind-dn DN, --password-file FILE, --root-dn DN,
//            --starttls, --ca-file FILE, --allow-warnings, --if-version TOKEN,
//            --follow-referrals, --help
#pragma once

#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"
#include "store/store.h"

namespace configtool {

// How to log on to a directory operand (an ldap:// or ldaps:// URL whose DN is the
// configuration root entry): server.bindDn and password (both empty: an anonymous bind),
// server.security and server.caCertificateFile (an ldaps:// URL always means LDAPS). The
// URL gives the rest.
using Credentials = directory::Session;

// Loads SOURCE as start-up would: a configuration folder, or an ldap:// URL (logged on
// with `credentials`, warnings shown as messages; the server's schema joins `table`
// first, as at the program's logon). 1 when a configuration was loaded, and *loadedFrom
// (when given) is where from; else shows why and returns 0.
int LoadSource(const std::string& source, Configuration& configuration, kvaro::Oidtable& table,
               const Credentials& credentials, store::Session* loadedFrom = nullptr);

// Saves to TARGET as the program's Save would: a folder (created when missing; only
// files whose text changes are written) or an ldap:// URL (its root entry written first
// when the directory lacks it). A URL that holds a configuration gets only the
// differences to it, records matched by name, unless `whole` asks for the staged save of
// the whole. True when saved; else the failing step has shown its message. A server that
// holds a read-only copy refuses the save naming the server that takes changes (nothing
// is written anywhere); with `followReferrals` the save goes there instead, logged on as
// on the copy with security never weaker. `savedVersion` (may be null) receives the
// version of a directory TARGET as the save left it, read over the save's connection
// (empty for a folder).
bool SaveTarget(const std::string& target, Configuration& configuration,
                const Credentials& credentials, bool whole = false, bool followReferrals = false,
                std::string* savedVersion = nullptr);

// Reads the version token of SOURCE (a folder, see localfiles::FolderToken, or an
// ldap:// URL, see directory::DirectoryToken; a folder or subtree that does not exist
// has the token of an empty one). False after the message that says why.
bool ReadVersion(const std::string& source, const Credentials& credentials, std::string& token);

// SaveTarget, only while TARGET is at version `version`: when it is not, nothing is
// written and the message names what changed since (NotAtVersion). A folder is held to
// that version until the save is done; a directory's version is read just before the
// save, over the connection the save uses.
enum class SaveResult { Saved, Failed, NotAtVersion };
// `followReferrals` as for SaveTarget; the version is then read again on the server
// referred to, before the save there.
SaveResult SaveTargetAtVersion(const std::string& target, Configuration& configuration,
                               const Credentials& credentials, const std::string& version,
                               bool followReferrals = false, std::string* savedVersion = nullptr);

// Waits until every URL of `replicas` (servers that replicate a directory TARGET) serves
// `version`, asking each about ten times a second, for at most `seconds` in all. True
// when all do; else the message names the first that did not (kReplicaBehind) or could
// not be asked (kReplicaUnreachable).
bool WaitForReplicas(const std::vector<std::string>& replicas, const std::string& version,
                     const Credentials& credentials, int seconds);

// Runs every record's check (rule sets, rules, forms, input groups, input fields),
// each failure shown as its own message. Returns the number of failed checks.
int CheckAll(const Configuration& configuration);

// Buffered output to a file descriptor (the tool's standard output) that remembers why a
// write failed. The first failed write is sticky: later output is dropped, and every
// sync (each flush of a stream on this buffer) fails again with errno set to that
// failure's error, so whoever flushes last can name the reason (a full disk, a closed pipe).
class DescriptorOutput : public std::streambuf {
 public:
  explicit DescriptorOutput(int fd);
  ~DescriptorOutput() override;
  DescriptorOutput(const DescriptorOutput&) = delete;
  DescriptorOutput& operator=(const DescriptorOutput&) = delete;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  // Writes what the buffer holds; false (with error_ set) when a write failed, now or before.
  bool Drain();

  int fd_;
  int error_ = 0;
  char buffer_[8192];
};

// The whole tool: parses `arguments` (without the program name), writes results to
// `out` and messages to the current message sink (standard error for the console).
// Returns 0 on success, 1 on failure (for check also when the load warned, unless
// --allow-warnings; for every command also when `out` could not be written: the reason,
// the errno of the failed flush, goes to `err`), 2 on a usage error (a --root-dn that is
// not a DN included), 3 when copy --if-version found TARGET at another version.
int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace configtool
