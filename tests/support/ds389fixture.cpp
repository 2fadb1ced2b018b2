#include "tests/support/ds389fixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "tests/support/slapdfixture.h"

namespace testsupport {

namespace {

const QString kInstance = "slapd-orvelle";

QString Script() { return QString(ORVELLE_TEST_SOURCE_DIR) + "/scripts/ds389-instance"; }

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Run(const QStringList& args, int timeoutMs, std::string& output) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LDAPNOINIT", "1");
  p.setProcessEnvironment(env);
  p.start("/bin/bash", QStringList{Script()} + args);
  const bool finished = p.waitForFinished(timeoutMs);
  if (!finished) {
    p.kill();
    p.waitForFinished(5000);
  }
  output = p.readAll().toStdString();
  return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool PortAnswers(int port) {
  auto conn = ldapx::Connection::Open("127.0.0.1", port, ldapx::Timeouts{1, 1});
  return conn != nullptr;
}

// The prepared, stopped instance every fixture copies, made on first use. Its folder
// name carries a hash of the set-up script and the schema, so a change of either makes
// a new one. Test executables running at the same time take turns through a lock file.
std::string PreparedInstance(std::string& error) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(FileBytes(Script()));
  hash.addData(FileBytes(QString(ORVELLE_TEST_SOURCE_DIR) + "/schema/389-ds/60orvelle.ldif"));
  const QString base = QDir::tempPath() + "/orvelle-389-" + QString::number(::getuid()) + "-" +
                       hash.result().toHex().left(12);
  const QString ready = base + "/ready";
  if (QFileInfo::exists(ready)) return base.toStdString();
  const int lock = ::open((base + ".lock").toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
    if (lock >= 0) ::close(lock);
    error = "cannot lock " + base.toStdString() + ".lock";
    return {};
  }
  std::string result = base.toStdString();
  if (!QFileInfo::exists(ready)) {
    const QString building = base + ".new";
    QDir(building).removeRecursively();
    QDir(base).removeRecursively();
    std::string output;
    if (!Run({"create", building}, 120000, output) || !QDir().rename(building, base)) {
      error = "the 389 Directory Server instance could not be made:\n" + output;
      QDir(building).removeRecursively();
      result.clear();
    } else {
      QFile(ready).open(QIODevice::WriteOnly);
    }
  }
  ::flock(lock, LOCK_UN);
  ::close(lock);
  return result;
}

}  // namespace

Ds389Fixture::Ds389Fixture() { ok_ = Start(); }

Ds389Fixture::~Ds389Fixture() { Stop(); }

std::string Ds389Fixture::folder() const {
  return dir_ ? dir_->path().toStdString() + "/instance" : std::string();
}

std::string Ds389Fixture::log() const {
  return FileBytes(QString::fromStdString(folder()) + "/var/log/dirsrv/" + kInstance + "/errors")
      .toStdString();
}

bool Ds389Fixture::Start() {
  if (FindProgram("ns-slapd").empty() || FindProgram("dscreate").empty()) {
    error_ =
        "389 Directory Server is not installed (apt-get install 389-ds-base python3-lib389); "
        "the tests against it are skipped";
    return false;
  }
  const std::string prepared = PreparedInstance(error_);
  if (prepared.empty()) return false;
  dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/orvelle-389-XXXXXX");
  if (!dir_->isValid()) {
    error_ = "cannot create a temporary folder for 389 Directory Server";
    return false;
  }
  port_ = FreeLoopbackPort();
  std::string output;
  if (port_ == 0 || !Run({"clone", QString::fromStdString(prepared),
                          QString::fromStdString(folder()), QString::number(port_)},
                         60000, output)) {
    error_ = "copying the prepared 389 Directory Server instance failed:\n" + output;
    return false;
  }
  return Launch();
}

bool Ds389Fixture::Launch() {
  process_ = std::make_unique<QProcess>();
  process_->setProcessChannelMode(QProcess::MergedChannels);
  process_->setStandardOutputFile(QString::fromStdString(folder()) + "/server.out",
                                  QIODevice::Append);
  // The script stops the server when its standard input ends, which the kernel does for
  // us when this process dies, however it dies.
  process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process_->start("/bin/bash", {Script(), "start", QString::fromStdString(folder())});
  if (!process_->waitForStarted(10000)) {
    error_ = "389 Directory Server could not be started: " + process_->errorString().toStdString();
    return false;
  }
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 30000) {
    if (process_->state() != QProcess::Running) break;
    if (PortAnswers(port_)) return true;
    QThread::msleep(20);
  }
  error_ = "389 Directory Server did not start listening on port " + std::to_string(port_) + ":\n" +
           FileBytes(QString::fromStdString(folder()) + "/server.out").toStdString() + log();
  Stop();
  return false;
}

void Ds389Fixture::Stop() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(30000)) {
      Kill();
      return;
    }
  }
  process_.reset();
}

void Ds389Fixture::Kill() {
  // The server itself, not only the script that watches it.
  bool okPid = false;
  const int pid =
      FileBytes(QString::fromStdString(folder()) + "/run/server.pid").trimmed().toInt(&okPid);
  if (okPid && pid > 1) ::kill(pid, SIGKILL);
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
  process_.reset();
  if (okPid && pid > 1) {
    // Wait until it is gone, so a restart finds the port and files free.
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i) QThread::msleep(10);
  }
}

bool Ds389Fixture::Restart() {
  if (!dir_) return false;
  Stop();
  ok_ = Launch();
  return ok_;
}

bool Ds389Fixture::ModifySuffixAcis(const std::string& change,
                                    const std::vector<std::string>& acis) {
  const std::string ldapmodify = FindProgram("ldapmodify");
  if (ldapmodify.empty()) {
    error_ = "ldapmodify was not found (apt-get install ldap-utils)";
    return false;
  }
  std::string ldif = "dn: " + suffix() + "\nchangetype: modify\n" + change + ": aci\n";
  for (const std::string& aci : acis) ldif += "aci: " + aci + "\n";
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LDAPNOINIT", "1");
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QString::fromStdString(ldapmodify),
          {"-x", "-H", QString::fromStdString(url()), "-D", QString::fromStdString(adminDn()), "-w",
           QString::fromStdString(adminPassword())});
  p.write(ldif.data(), static_cast<qint64>(ldif.size()));
  p.closeWriteChannel();
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    error_ = "ldapmodify failed: " + p.readAll().toStdString();
    return false;
  }
  return true;
}

bool Ds389Fixture::RefuseDelete(const std::string& dn) {
  // An ACI's target covers the whole subtree below it; the filter on the entry's own
  // name keeps its children deletable.
  const auto rdn = ldapx::FirstRdn(dn);
  if (!rdn) return false;
  const std::string aci = "(target=\"ldap:///" + dn + "\")(targetfilter=\"(" + rdn->type + "=" +
                          ldapx::EscapeFilterValue(rdn->value) +
                          ")\")(targetattr=\"*\")(version 3.0; acl \"refuse delete " +
                          std::to_string(refusals_.size()) + "\"; deny (delete) userdn=\"ldap:///" +
                          writerDn() + "\";)";
  if (!ModifySuffixAcis("add", {aci})) return false;
  refusals_.push_back(aci);
  return true;
}

bool Ds389Fixture::RefuseAdd(const std::string& name) {
  const std::string aci = "(targetfilter=\"(cn=" + ldapx::EscapeFilterValue(name) +
                          ")\")(targetattr=\"*\")(version 3.0; acl \"refuse add " +
                          std::to_string(refusals_.size()) + "\"; deny (add) userdn=\"ldap:///" +
                          writerDn() + "\";)";
  if (!ModifySuffixAcis("add", {aci})) return false;
  refusals_.push_back(aci);
  return true;
}

bool Ds389Fixture::RefuseAddOfNamesHolding(const std::string& part) {
  const std::string aci = "(targetfilter=\"(cn=*" + ldapx::EscapeFilterValue(part) +
                          "*)\")(targetattr=\"*\")(version 3.0; acl \"refuse add " +
                          std::to_string(refusals_.size()) + "\"; deny (add) userdn=\"ldap:///" +
                          writerDn() + "\";)";
  if (!ModifySuffixAcis("add", {aci})) return false;
  refusals_.push_back(aci);
  return true;
}

bool Ds389Fixture::ResetRules() {
  if (refusals_.empty()) return true;
  if (!ok_ && !Restart()) return false;
  if (!ModifySuffixAcis("delete", refusals_)) return false;
  refusals_.clear();
  return true;
}

}  // namespace testsupport
