// Searches: plain and paged, read entry by entry within the read budget, and the searches
// of the root DSE and the subschema the program asks about.
#include <lber.h>
#include <ldap.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "platform/ldap/ldapwait.h"
#include "platform/ldap/session.h"

namespace ldapx {

namespace {

using namespace wait;

// What one search may still take in: its whole-operation deadline and how many entries,
// and how many bytes of them, it may still hold.
struct ReadBudget {
  Clock::time_point wholeBy;
  long long entries = kMaxReadEntries;
  long long bytes = kMaxReadBytes;
};

ReadBudget BudgetFor(const Timeouts& timeouts, Scope scope) {
  ReadBudget budget;
  budget.wholeBy = Clock::now() + std::chrono::seconds(timeouts.WholeSeconds());
  // A search of one entry that brings more is no answer to what was asked.
  if (scope == Scope::Base) budget.entries = 1;
  return budget;
}

// Takes the entries of search `msgid` into `entries` one by one as they arrive, so a large
// result does not pile up inside libldap; `seconds` bounds the wait for each next message
// and `budget` the whole read. On success `done` holds the search's final result message;
// otherwise the search is abandoned and the error that ended the wait is returned
// (kReadTooLong, kTooManyEntries when the budget ran out).
int ReadEntries(LDAP* ld, int msgid, int seconds, ReadBudget& budget, std::vector<Entry>& entries,
                MessagePtr& done) {
  while (true) {
    MessagePtr res;
    int type = 0;
    const Clock::time_point idleBy = After(seconds);
    const bool wholeFirst = budget.wholeBy < idleBy;
    int rc = NextMessage(ld, msgid, LDAP_MSG_ONE, wholeFirst ? budget.wholeBy : idleBy, res, &type);
    if (rc == LDAP_TIMEOUT && wholeFirst) rc = kReadTooLong;
    if (rc == LDAP_SUCCESS && type == LDAP_RES_SEARCH_ENTRY) {
      Entry& entry = entries.emplace_back(ToEntry(ld, res.get()));
      budget.bytes -= Footprint(entry);
      if (--budget.entries < 0 || budget.bytes < 0) rc = kTooManyEntries;
    }
    if (rc != LDAP_SUCCESS) {
      GiveUp(ld, msgid, rc);
      return rc;
    }
    if (type == LDAP_RES_SEARCH_RESULT) {
      done = std::move(res);
      return LDAP_SUCCESS;
    }
    // References and intermediate responses are not used.
  }
}

}  // namespace

SearchResult Connection::Search(const std::string& base, Scope scope, const std::string& filter,
                                const std::vector<std::string>& attributes, bool typesOnly) {
  SearchResult result;
  diagnostic_.clear();
  LDAP* ld = Ld(ld_);
  if (!Connected(ld)) {
    result.code = Gone();
    return result;
  }
  std::vector<char*> attrs = AttributeList(attributes);
  int msgid = -1;
  int rc = ldap_search_ext(ld, base.c_str(), static_cast<int>(scope), filter.c_str(),
                           attributes.empty() ? nullptr : attrs.data(), typesOnly ? 1 : 0, nullptr,
                           nullptr, nullptr, 0, &msgid);
  if (rc != LDAP_SUCCESS) {
    result.code = Gone(rc);
    return result;
  }
  MessagePtr done;
  ReadBudget budget = BudgetFor(timeouts_, scope);
  rc = ReadEntries(ld, msgid, timeouts_.operationSeconds, budget, result.entries, done);
  Lost(rc);
  result.code = rc == LDAP_SUCCESS ? ResultCode(ld, done.get(), &diagnostic_) : rc;
  if (result.code != LDAP_SUCCESS) result.entries.clear();
  return result;
}

SearchResult Connection::SearchPaged(const std::string& base, Scope scope,
                                     const std::string& filter,
                                     const std::vector<std::string>& attributes, bool typesOnly,
                                     int pageSize) {
  SearchResult result;
  diagnostic_.clear();
  LDAP* ld = Ld(ld_);
  if (!Connected(ld)) {
    result.code = Gone();
    return result;
  }
  std::vector<char*> attrs = AttributeList(attributes);
  std::string cookie;
  // One budget for all pages: a server that hands out page after page without end is
  // given up like one that never ends a single answer.
  ReadBudget budget = BudgetFor(timeouts_, scope);
  auto fail = [&](int code) {
    result.code = code;
    result.entries.clear();
    return result;
  };
  while (true) {
    LDAPControl* page = nullptr;
    berval cookieValue{static_cast<ber_len_t>(cookie.size()), cookie.data()};
    // Critical: a server that cannot page must refuse the search rather than answer it
    // in one piece, which its size limit could cut.
    int rc = ldap_create_page_control(ld, static_cast<ber_int_t>(pageSize),
                                      cookie.empty() ? nullptr : &cookieValue, 1, &page);
    if (rc != LDAP_SUCCESS) return fail(Gone(rc));
    LDAPControl* controls[] = {page, nullptr};
    int msgid = -1;
    rc = ldap_search_ext(ld, base.c_str(), static_cast<int>(scope), filter.c_str(),
                         attributes.empty() ? nullptr : attrs.data(), typesOnly ? 1 : 0, controls,
                         nullptr, nullptr, 0, &msgid);
    ldap_control_free(page);
    if (rc != LDAP_SUCCESS) return fail(Gone(rc));
    {
      MessagePtr res;
      rc = ReadEntries(ld, msgid, timeouts_.operationSeconds, budget, result.entries, res);
      Lost(rc);
      if (rc != LDAP_SUCCESS) return fail(rc);
      int code = LDAP_OTHER;
      char* text = nullptr;
      LDAPControl** returned = nullptr;
      rc = ldap_parse_result(ld, res.get(), &code, nullptr, &text, nullptr, &returned, 0);
      LdapString owned(text);
      diagnostic_ = text ? text : "";
      if (rc != LDAP_SUCCESS) code = rc;
      std::string next;
      bool paged = false;
      if (code == LDAP_SUCCESS && returned) {
        if (LDAPControl* answer = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr)) {
          ber_int_t estimate = 0;
          berval nextCookie{0, nullptr};
          if (ldap_parse_pageresponse_control(ld, answer, &estimate, &nextCookie) == LDAP_SUCCESS) {
            paged = true;
            if (nextCookie.bv_val) next.assign(nextCookie.bv_val, nextCookie.bv_len);
            ber_memfree(nextCookie.bv_val);
          }
        }
      }
      ldap_controls_free(returned);
      if (code != LDAP_SUCCESS) return fail(code);
      // Without a response control the server did not page; it reported success, so
      // the result is whole.
      if (!paged || next.empty()) {
        result.code = LDAP_SUCCESS;
        return result;
      }
      cookie = std::move(next);
    }
  }
}

Subschema ReadSubschema(Connection& connection) {
  Subschema schema;
  const SearchResult dse =
      connection.Search("", Scope::Base, "(objectClass=*)", {"subschemaSubentry"});
  std::string dn = "cn=Subschema";
  if (dse.code == kSuccess && !dse.entries.empty())
    if (const Attribute* a = dse.entries.front().Find("subschemaSubentry"); a && !a->values.empty())
      dn = a->values.front();
  // Operational attributes: a search for all user attributes would not return them.
  const SearchResult entry = connection.Search(dn, Scope::Base, "(objectClass=subschema)",
                                               {"attributeTypes", "objectClasses"});
  schema.code = entry.code;
  if (entry.code != kSuccess || entry.entries.empty()) return schema;
  if (const Attribute* a = entry.entries.front().Find("attributeTypes"))
    schema.attributeTypes = a->values;
  if (const Attribute* a = entry.entries.front().Find("objectClasses"))
    schema.objectClasses = a->values;
  return schema;
}

bool OffersControl(Connection& connection, const std::string& oid, int* error) {
  const SearchResult dse =
      connection.Search("", Scope::Base, "(objectClass=*)", {"supportedControl"});
  if (error) *error = dse.code;
  if (dse.code != kSuccess || dse.entries.empty()) return false;
  const Attribute* controls = dse.entries.front().Find("supportedControl");
  return controls &&
         std::find(controls->values.begin(), controls->values.end(), oid) != controls->values.end();
}

SearchResult ReadEntryRights(Connection& connection, const std::string& base,
                             const std::string& authzDn) {
  SearchResult result;
  LDAP* ld = Ld(connection.native());
  if (!Connected(ld)) {
    result.code = LDAP_SERVER_DOWN;
    return result;
  }
  // The control's value: the subject as an authorization identity.
  const std::string subject = "dn:" + authzDn;
  BerBufferPtr ber(ber_alloc_t(LBER_USE_DER));
  berval value{0, nullptr};
  if (!ber ||
      ber_printf(ber.get(), "o", subject.data(), static_cast<ber_len_t>(subject.size())) == -1 ||
      ber_flatten2(ber.get(), &value, 0) != 0) {
    result.code = LDAP_ENCODING_ERROR;
    return result;
  }
  LDAPControl control{};
  control.ldctl_oid = const_cast<char*>(kEffectiveRightsOid);
  control.ldctl_value = value;
  control.ldctl_iscritical = 1;
  LDAPControl* controls[] = {&control, nullptr};
  std::vector<std::string> wanted = {"entryLevelRights"};
  std::vector<char*> attrs = AttributeList(wanted);
  int msgid = -1;
  int rc = ldap_search_ext(ld, base.c_str(), LDAP_SCOPE_SUBTREE, "(objectClass=*)", attrs.data(), 0,
                           controls, nullptr, nullptr, 0, &msgid);
  if (rc != LDAP_SUCCESS) {
    result.code = rc;
    return result;
  }
  MessagePtr done;
  ReadBudget budget = BudgetFor(connection.timeouts(), Scope::Subtree);
  rc = ReadEntries(ld, msgid, connection.timeouts().operationSeconds, budget, result.entries, done);
  result.code = rc == LDAP_SUCCESS ? ResultCode(ld, done.get()) : rc;
  if (result.code != LDAP_SUCCESS) result.entries.clear();
  return result;
}

}  // namespace ldapx
