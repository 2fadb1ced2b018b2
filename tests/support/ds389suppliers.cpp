#include "tests/support/ds389suppliers.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

#include "platform/ldap/dn.h"

namespace testsupport {

namespace {

const std::string kReplicaDn = "cn=replica,cn=o\\3DSample,cn=mapping tree,cn=config";
const std::string kManagerDn = "cn=replication manager,cn=config";
const std::string kManagerPassword = "replication secret";
// Every entry, those of class ldapSubEntry (conflict copies) too.
const std::string kEveryEntry = "(|(objectClass=*)(objectClass=ldapSubEntry))";

// The marker entry a supplier writes to, whose value shows on the other how far it got.
std::string MarkerDn(int i) { return "cn=replication marker " + std::to_string(i) + ",o=Sample"; }

// Entries below o=Sample that replication keeps for itself, the users and the markers.
bool Kept(const std::string& dn) {
  const std::string key = ldapx::NormalizeDn(dn).value_or(dn);
  std::string lower = key;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return lower == "o=sample" || lower == "cn=writer,o=sample" || lower == "cn=reader,o=sample" ||
         lower.rfind("cn=repl keep alive", 0) == 0 || lower.rfind("cn=replication marker", 0) == 0;
}

// Every entry below o=Sample but those Kept, each with its attributes as one text, sorted.
std::vector<std::string> Contents(Ds389Fixture& server) {
  auto conn = server.Connect();
  if (!conn) return {"(no connection)"};
  const ldapx::SearchResult all = conn->Search("o=Sample", ldapx::Scope::Subtree, kEveryEntry,
                                               {"*", "nsds5ReplConflict", "nsUniqueId"});
  if (all.code != ldapx::kSuccess) return {"(search failed)"};
  std::vector<std::string> out;
  for (const ldapx::Entry& e : all.entries) {
    if (Kept(e.dn)) continue;
    std::vector<std::string> parts;
    for (const ldapx::Attribute& a : e.attributes) {
      std::string type = a.type;
      std::transform(type.begin(), type.end(), type.begin(),
                     [](unsigned char c) { return char(std::tolower(c)); });
      std::vector<std::string> values = a.values;
      std::sort(values.begin(), values.end());
      for (const std::string& v : values) parts.push_back(type + ": " + v);
    }
    std::sort(parts.begin(), parts.end());
    std::string text = ldapx::NormalizeDn(e.dn).value_or(e.dn);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const std::string& p : parts) text += "\n" + p;
    // Replication writes the DN in a conflict marker as each server spells it.
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    out.push_back(std::move(text));
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Value(Ds389Fixture& server, const std::string& dn) {
  auto conn = server.Connect();
  if (!conn) return {};
  const ldapx::SearchResult r =
      conn->Search(dn, ldapx::Scope::Base, "(objectClass=*)", {"description"});
  if (r.code != ldapx::kSuccess || r.entries.empty()) return {};
  const ldapx::Attribute* a = r.entries.front().Find("description");
  return a && !a->values.empty() ? a->values.front() : std::string();
}

// What the agreement `name` of `server` last said about its work.
std::string AgreementStatus(Ds389Fixture& server, const std::string& name) {
  auto conn = server.Connect();
  if (!conn) return "(no connection)";
  const ldapx::SearchResult r = conn->Search("cn=" + name + "," + kReplicaDn, ldapx::Scope::Base,
                                             "(objectClass=*)", {"nsds5replicaLastUpdateStatus"});
  if (r.code != ldapx::kSuccess || r.entries.empty()) return "(no agreement)";
  const ldapx::Attribute* a = r.entries.front().Find("nsds5replicaLastUpdateStatus");
  return name + ": " + (a && !a->values.empty() ? a->values.front() : std::string("(none)"));
}

}  // namespace

Ds389Suppliers::Ds389Suppliers() {
  first_ = std::make_unique<Ds389Fixture>();
  if (!first_->ok()) {
    skip_ = SkipWithoutServer(*first_);
    error_ = "first supplier: " + first_->error();
    return;
  }
  second_ = std::make_unique<Ds389Fixture>();
  if (!second_->ok()) {
    skip_ = SkipWithoutServer(*second_);
    error_ = "second supplier: " + second_->error();
    return;
  }
  // The markers go with the first server's data to the second.
  if (auto conn = first_->Connect()) {
    for (int i = 0; i < 2; ++i) {
      ldapx::ModList mods;
      mods.Add("objectClass", {"top", "organizationalRole"})
          .Add("cn", {"replication marker " + std::to_string(i)})
          .Add("description", {"0"});
      if (conn->Add(MarkerDn(i), mods) != ldapx::kSuccess) {
        error_ = "cannot add the replication markers";
        return;
      }
    }
  }
  if (!EnableReplica(*first_, 1) || !EnableReplica(*second_, 2) ||
      !AddAgreement(*first_, *second_, "to second") || !Initialise(*first_, "to second") ||
      !AddAgreement(*second_, *first_, "to first"))
    return;
  if (WaitForConvergence(30) < 0) {
    error_ = "the suppliers did not converge within 30 s after the set-up";
    return;
  }
  ok_ = true;
}

Ds389Suppliers::~Ds389Suppliers() = default;

bool Ds389Suppliers::EnableReplica(Ds389Fixture& server, int id) {
  auto conn = server.Connect();
  if (!conn) {
    error_ = "no connection to " + server.url();
    return false;
  }
  ldapx::ModList manager;
  manager.Add("objectClass", {"top", "inetUser", "netscapeServer", "nsAccount"})
      .Add("cn", {"replication manager"})
      .Add("uid", {"replication manager"})
      .Add("userPassword", {kManagerPassword});
  ldapx::ModList changelog;
  changelog.Add("objectClass", {"top", "extensibleObject"})
      .Add("cn", {"changelog"})
      .Add("nsslapd-changelogmaxage", {"7d"});
  ldapx::ModList replica;
  replica.Add("objectClass", {"top", "nsds5Replica"})
      .Add("cn", {"replica"})
      .Add("nsDS5ReplicaRoot", {"o=Sample"})
      .Add("nsDS5Flags", {"1"})
      .Add("nsDS5ReplicaType", {"3"})  // a supplier: takes writes and keeps a changelog
      .Add("nsDS5ReplicaId", {std::to_string(id)})
      .Add("nsDS5ReplicaBindDN", {kManagerDn})
      // A supplier that could not reach the other, or found it busy, tries again after
      // this many seconds, doubled each time up to the maximum (by default 3 and 300).
      .Add("nsds5ReplicaBackoffMin", {"1"})
      .Add("nsds5ReplicaBackoffMax", {"2"});
  const std::pair<const std::string*, const ldapx::ModList*> entries[] = {
      {&kManagerDn, &manager},
      {nullptr, &changelog},
      {&kReplicaDn, &replica},
  };
  const std::string changelogDn = "cn=changelog,cn=userRoot,cn=ldbm database,cn=plugins,cn=config";
  for (const auto& [dn, mods] : entries) {
    const std::string& target = dn ? *dn : changelogDn;
    const int rc = conn->Add(target, *mods);
    if (rc != ldapx::kSuccess && rc != ldapx::kAlreadyExists) {
      error_ = "cannot add " + target + " on " + server.url() + ": " + ldapx::ErrorText(rc) + " " +
               conn->diagnostic();
      return false;
    }
  }
  return true;
}

bool Ds389Suppliers::AddAgreement(Ds389Fixture& from, Ds389Fixture& to, const std::string& name) {
  auto conn = from.Connect();
  if (!conn) {
    error_ = "no connection to " + from.url();
    return false;
  }
  ldapx::ModList mods;
  mods.Add("objectClass", {"top", "nsds5ReplicationAgreement"})
      .Add("cn", {name})
      .Add("nsDS5ReplicaRoot", {"o=Sample"})
      .Add("nsDS5ReplicaHost", {"127.0.0.1"})
      .Add("nsDS5ReplicaPort", {std::to_string(to.port())})
      .Add("nsDS5ReplicaBindMethod", {"SIMPLE"})
      .Add("nsDS5ReplicaTransportInfo", {"LDAP"})
      .Add("nsDS5ReplicaBindDN", {kManagerDn})
      .Add("nsDS5ReplicaCredentials", {kManagerPassword});
  const int rc = conn->Add("cn=" + name + "," + kReplicaDn, mods);
  if (rc != ldapx::kSuccess) {
    error_ =
        "cannot add the agreement " + name + ": " + ldapx::ErrorText(rc) + " " + conn->diagnostic();
    return false;
  }
  return true;
}

bool Ds389Suppliers::Initialise(Ds389Fixture& from, const std::string& name) {
  auto conn = from.Connect();
  if (!conn) return false;
  const std::string dn = "cn=" + name + "," + kReplicaDn;
  ldapx::ModList start;
  start.Add("nsds5BeginReplicaRefresh", {"start"});
  if (conn->Replace(dn, start) != ldapx::kSuccess) {
    error_ = "cannot start the initialisation of the second supplier: " + conn->diagnostic();
    return false;
  }
  // The attribute goes once the total update is over; its status then says how it went.
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 60000) {
    const ldapx::SearchResult r =
        conn->Search(dn, ldapx::Scope::Base, "(objectClass=*)",
                     {"nsds5BeginReplicaRefresh", "nsds5replicaLastInitStatus"});
    if (r.code != ldapx::kSuccess || r.entries.empty()) break;
    if (!r.entries.front().Find("nsds5BeginReplicaRefresh")) {
      const ldapx::Attribute* status = r.entries.front().Find("nsds5replicaLastInitStatus");
      const std::string text = status && !status->values.empty() ? status->values.front() : "";
      if (text.find("succeeded") != std::string::npos) return true;
      error_ = "the initialisation of the second supplier failed: " + text;
      return false;
    }
    QThread::msleep(20);
  }
  error_ = "the initialisation of the second supplier did not end within 60 s";
  return false;
}

bool Ds389Suppliers::SetReplicating(bool on) {
  const std::pair<Ds389Fixture*, std::string> agreements[] = {{first_.get(), "to second"},
                                                              {second_.get(), "to first"}};
  for (const auto& [server, name] : agreements) {
    auto conn = server->Connect();
    ldapx::ModList mods;
    mods.Add("nsds5ReplicaEnabled", {on ? "on" : "off"});
    if (!conn || conn->Replace("cn=" + name + "," + kReplicaDn, mods) != ldapx::kSuccess)
      return false;
  }
  return true;
}

long Ds389Suppliers::WaitForConvergence(int seconds, bool sameEntries) {
  QElapsedTimer timer;
  timer.start();
  // Each supplier sends its changes in the order it made them: once the other holds its
  // latest marker value, it holds everything before it.
  const std::string value = std::to_string(++round_);
  for (int i = 0; i < 2; ++i) {
    auto conn = supplier(i).Connect();
    ldapx::ModList mods;
    mods.Add("description", {value});
    if (!conn || conn->Replace(MarkerDn(i), mods) != ldapx::kSuccess) return -1;
  }
  qint64 kicked = 0;
  while (timer.elapsed() < seconds * 1000LL) {
    // An agreement that met an error waits before it tries again, longer each time; one
    // that is switched off and on again tries at once.
    if (timer.elapsed() - kicked > 3000) {
      kicked = timer.elapsed();
      if (!SetReplicating(false) || !SetReplicating(true)) return -1;
    }
    if (Value(*second_, MarkerDn(0)) == value && Value(*first_, MarkerDn(1)) == value) {
      if (!sameEntries) return static_cast<long>(timer.elapsed());
      const std::vector<std::string> a = Contents(*first_), b = Contents(*second_);
      if (a == b) return static_cast<long>(timer.elapsed());
      const auto [x, y] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
      difference_ =
          "first: " + (x == a.end() ? "(end)" : *x) + "\nsecond: " + (y == b.end() ? "(end)" : *y);
    } else {
      difference_ = "the markers did not come across: " + AgreementStatus(*first_, "to second") +
                    "; " + AgreementStatus(*second_, "to first");
    }
    QThread::msleep(20);
  }
  return -1;
}

bool Ds389Suppliers::Clear() {
  if (!SetReplicating(true)) return false;
  for (Ds389Fixture* server : {first_.get(), second_.get()}) {
    auto conn = server->Connect();
    if (!conn || !DeleteSubtreeEntries(*conn, "o=Sample", kEveryEntry, Kept)) return false;
    if (server == first_.get() && WaitForConvergence(30, false) < 0) return false;
  }
  return WaitForConvergence(30) >= 0;
}

Ds389Suppliers& SharedSuppliers() {
  static Ds389Suppliers suppliers;
  return suppliers;
}

}  // namespace testsupport
