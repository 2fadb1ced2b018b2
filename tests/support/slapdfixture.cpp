#include "slapdfixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

namespace testsupport {

namespace {

bool WriteFile(const QString& path, const std::string& text) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

bool PortAnswers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string ModuleDir() {
  for (const char* d : {"/usr/lib/ldap", "/usr/lib/x86_64-linux-gnu/ldap", "/usr/lib64/openldap",
                        "/usr/lib/openldap", "/usr/libexec/openldap"}) {
    if (QFileInfo::exists(QString(d) + "/back_mdb.so") ||
        QFileInfo::exists(QString(d) + "/back_mdb.la"))
      return d;
  }
  return {};
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

std::string FindProgram(const std::string& name) {
  QString path = QStandardPaths::findExecutable(QString::fromStdString(name));
  if (path.isEmpty())
    path = QStandardPaths::findExecutable(QString::fromStdString(name),
                                          {"/usr/sbin", "/usr/bin", "/usr/local/sbin"});
  return path.toStdString();
}

SlapdFixture::SlapdFixture() : SlapdFixture(Options{}) {}

SlapdFixture::SlapdFixture(const Options& options) { ok_ = Start(options); }

SlapdFixture::~SlapdFixture() { Stop(); }

std::string SlapdFixture::url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }

std::string SlapdFixture::folder() const { return dir_ ? dir_->path().toStdString() : ""; }

bool SlapdFixture::Start(const Options& options) {
  const std::string slapd = qEnvironmentVariableIsSet("SLAPD")
                                ? qEnvironmentVariable("SLAPD").toStdString()
                                : FindProgram("slapd");
  if (slapd.empty()) {
    error_ =
        "slapd was not found: install the slapd package (apt-get install slapd) or set "
        "SLAPD to the program's path. The directory tests need a real server.";
    return false;
  }
  const std::string slapadd = FindProgram("slapadd");
  const std::string schemaDir = "/etc/ldap/schema";
  const std::string ownSchema = std::string(ORVELLE_TEST_SOURCE_DIR) + "/schema/orvelle.schema";
  for (const std::string& f : {schemaDir + "/core.schema", schemaDir + "/cosine.schema",
                               schemaDir + "/inetorgperson.schema", ownSchema}) {
    if (!QFileInfo::exists(QString::fromStdString(f))) {
      error_ = "schema file missing: " + f;
      return false;
    }
  }
  const std::string modules = ModuleDir();
  if (modules.empty()) {
    error_ = "the slapd mdb backend module (back_mdb) was not found";
    return false;
  }

  dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/orvelle-slapd-XXXXXX");
  if (!dir_->isValid()) {
    error_ = "cannot create a temporary folder for slapd";
    return false;
  }
  const QString dir = dir_->path();
  QDir(dir).mkpath("data");
  const std::string d = dir.toStdString();

  std::string conf;
  conf += "include " + schemaDir + "/core.schema\n";
  conf += "include " + schemaDir + "/cosine.schema\n";
  conf += "include " + schemaDir + "/inetorgperson.schema\n";
  conf += "include " + ownSchema + "\n";
  conf += "pidfile " + d + "/slapd.pid\n";
  if (options.threads > 0) conf += "threads " + std::to_string(options.threads) + "\n";

  conf += "modulepath " + modules + "\nmoduleload back_mdb\n";
  conf += "database mdb\nmaxsize 1073741824\n";
  conf += "suffix \"o=Sample\"\nrootdn \"cn=admin,o=Sample\"\nrootpw secret\n";
  conf += "directory " + d + "/data\n";
  // No fsync per write: the data is thrown away anyway.
  conf += "dbnosync\n";
  conf += "access to attrs=userPassword by anonymous auth by * none\n";
  for (const std::string& dn : options.refuseDelete)
    conf += "access to dn.exact=\"" + dn + "\" attrs=entry by * read\n";
  for (const std::string& rule : options.accessRules) conf += rule + "\n";
  conf += "access to * by dn.exact=\"cn=writer,o=Sample\" write by * read\n";
  if (!WriteFile(dir + "/slapd.conf", conf)) {
    error_ = "cannot write " + d + "/slapd.conf";
    return false;
  }

  std::string ldif =
      "dn: o=Sample\nobjectClass: organization\no: Sample\n\n"
      "dn: cn=writer,o=Sample\nobjectClass: organizationalRole\n"
      "objectClass: simpleSecurityObject\ncn: writer\nuserPassword: writerpw\n\n";
  ldif += options.extraLdif;
  WriteFile(dir + "/base.ldif", ldif);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LDAPNOINIT", "1");
  {
    QProcess add;
    add.setProcessEnvironment(env);
    add.setProcessChannelMode(QProcess::MergedChannels);
    add.start(
        QString::fromStdString(slapadd.empty() ? slapd : slapadd),
        slapadd.empty()
            ? QStringList{"-T", "add", "-f", dir + "/slapd.conf", "-q", "-l", dir + "/base.ldif"}
            : QStringList{"-f", dir + "/slapd.conf", "-q", "-l", dir + "/base.ldif"});
    if (!add.waitForFinished(30000) || add.exitStatus() != QProcess::NormalExit ||
        add.exitCode() != 0) {
      error_ = "slapadd failed to create the base entries: " + add.readAll().toStdString();
      return false;
    }
  }

  return Launch(true);
}

bool SlapdFixture::Launch(bool newPort) {
  const std::string slapd = qEnvironmentVariableIsSet("SLAPD")
                                ? qEnvironmentVariable("SLAPD").toStdString()
                                : FindProgram("slapd");
  const QString dir = dir_->path();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LDAPNOINIT", "1");
  // A port that another program takes between our look-up and slapd's bind makes slapd
  // exit at once; then try another (a restart keeps its port and tries again).
  for (int attempt = 0; attempt < (newPort ? 5 : 100); ++attempt) {
    if (newPort) port_ = FreeLoopbackPort();
    if (port_ == 0) {
      error_ = "no free loopback port";
      return false;
    }
    process_ = std::make_unique<QProcess>();
    process_->setProcessEnvironment(env);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardOutputFile(dir + "/slapd.log", QIODevice::Append);
    // A test that crashes must not leave its server running: the kernel stops slapd when
    // the test process dies.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_->start(
        QString::fromStdString(slapd),
        {"-f", dir + "/slapd.conf", "-h", QString("ldap://127.0.0.1:%1/").arg(port_), "-d", "0"});
    if (!process_->waitForStarted(10000)) {
      error_ = "slapd could not be started: " + process_->errorString().toStdString();
      return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
      if (process_->state() != QProcess::Running) break;
      if (PortAnswers(port_)) return true;
      QThread::msleep(5);
    }
    QFile log(dir + "/slapd.log");
    log.open(QIODevice::ReadOnly);
    error_ = "slapd did not start listening on port " + std::to_string(port_) + ":\n" +
             log.readAll().toStdString();
    Stop();
    if (!newPort) QThread::msleep(50);
  }
  return false;
}

void SlapdFixture::Kill() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
  process_.reset();
}

bool SlapdFixture::Restart() {
  if (!dir_) return false;
  Stop();
  ok_ = Launch(false);
  return ok_;
}

void SlapdFixture::Stop() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(10000)) {
      process_->kill();
      process_->waitForFinished(5000);
    }
  }
  process_.reset();
}

std::unique_ptr<ldapx::Connection> SlapdFixture::Connect(bool asAdmin,
                                                         const ldapx::Timeouts& timeouts) const {
  if (!ok_) return nullptr;
  auto conn = ldapx::Connection::Open(host(), port_, timeouts);
  if (!conn) return nullptr;
  const int rc = asAdmin ? conn->SimpleBind(adminDn(), adminPassword())
                         : conn->SimpleBind(writerDn(), writerPassword());
  if (rc != ldapx::kSuccess) return nullptr;
  return conn;
}

}  // namespace testsupport
