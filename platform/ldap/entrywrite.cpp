// The single checked write: an add, modify, delete or rename of one entry, optionally
// bound to the entry's state by the assertion control.
#include <lber.h>
#include <ldap.h>

#include <memory>
#include <string>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/modarray.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

// The critical assertion control for `filter`; none when the filter is empty or does
// not parse (then `valid` is false).
class AssertionControl {
 public:
  AssertionControl(LDAP* ld, const std::string& filter) {
    if (filter.empty()) return;
    if (ldap_create_assertion_control_value(ld, const_cast<char*>(filter.c_str()),
                                            &control_.ldctl_value) != LDAP_SUCCESS) {
      valid_ = false;
      return;
    }
    control_.ldctl_oid = const_cast<char*>(LDAP_CONTROL_ASSERT);
    control_.ldctl_iscritical = 1;
    list_[0] = &control_;
  }
  ~AssertionControl() {
    if (control_.ldctl_value.bv_val) ber_memfree(control_.ldctl_value.bv_val);
  }
  AssertionControl(const AssertionControl&) = delete;
  AssertionControl& operator=(const AssertionControl&) = delete;
  LDAPControl** get() { return list_[0] ? list_ : nullptr; }
  bool valid() const { return valid_; }

 private:
  LDAPControl control_{};
  LDAPControl* list_[2] = {nullptr, nullptr};
  bool valid_ = true;
};

}  // namespace

int WriteEntry(Connection& connection, const EntryWrite& write, std::string* diagnostic) {
  if (diagnostic) diagnostic->clear();
  LDAP* ld = Ld(connection);
  if (!ld) return kServerDown;
  AssertionControl assertion(ld, write.assertion);
  if (!assertion.valid()) return LDAP_FILTER_ERROR;
  int msgid = -1;
  int rc = LDAP_SUCCESS;
  switch (write.kind) {
    case EntryWrite::Kind::Add: {
      ModArray array(write.mods);
      rc = ldap_add_ext(ld, write.dn.c_str(), array.get(), assertion.get(), nullptr, &msgid);
      break;
    }
    case EntryWrite::Kind::Modify: {
      ModArray array(write.mods, LDAP_MOD_REPLACE);
      rc = ldap_modify_ext(ld, write.dn.c_str(), array.get(), assertion.get(), nullptr, &msgid);
      break;
    }
    case EntryWrite::Kind::Delete:
      rc = ldap_delete_ext(ld, write.dn.c_str(), assertion.get(), nullptr, &msgid);
      break;
    case EntryWrite::Kind::Rename:
      rc = ldap_rename(ld, write.dn.c_str(), write.newRdn.c_str(),
                       write.newSuperior.empty() ? nullptr : write.newSuperior.c_str(),
                       write.deleteOldRdn ? 1 : 0, assertion.get(), nullptr, &msgid);
      break;
  }
  if (rc != LDAP_SUCCESS) return rc;
  LDAPMessage* raw = nullptr;
  int type = 0;
  const int waited = wait::AwaitMessage(
      ld, msgid, LDAP_MSG_ALL, wait::After(connection.timeouts().operationSeconds), &raw, &type);
  MessagePtr res(raw);
  if (waited != kSuccess) {
    if (waited == kTimeout || waited == kCancelled) ldap_abandon_ext(ld, msgid, nullptr, nullptr);
    return waited;
  }
  const int code = ResultCode(ld, res.get(), diagnostic);
  connection.referrals_.clear();
  if (code == LDAP_REFERRAL) connection.referrals_ = ReferralUrls(ld, res.get());
  return code;
}

}  // namespace ldapx
