#include "tests/support/slapdfixture.h"

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
#include <cctype>
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

const char* const kSchemaDir = "/etc/ldap/schema";

// Fills in the project's one slapd.conf template (shared with scripts/directory-server
// and bench/run). On failure `conf` holds the reason.
bool SlapdConfiguration(const std::string& dir, const std::string& modules,
                        const std::string& global, const std::string& access, std::string& conf) {
  const QString path = QString(ORVELLE_TEST_SOURCE_DIR) + "/tests/support/slapd.conf.in";
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    conf = "cannot read the slapd configuration template " + path.toStdString();
    return false;
  }
  QString text = QString::fromUtf8(f.readAll());
  text.replace("@GLOBAL@\n", QString::fromStdString(global));
  text.replace("@ACCESS@\n", QString::fromStdString(access));
  text.replace("@SCHEMA_DIR@", kSchemaDir);
  text.replace("@ORVELLE_SCHEMA@", QString(ORVELLE_TEST_SOURCE_DIR) + "/schema/orvelle.schema");
  text.replace("@DIR@", QString::fromStdString(dir));
  text.replace("@MODULE_DIR@", QString::fromStdString(modules));
  text.replace("@SUFFIX@", "o=Sample");
  text.replace("@ADMIN_PASSWORD@", "secret");
  conf = text.toStdString();
  return true;
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

std::string SlapdFixture::folder() const { return dir_ ? dir_->path().toStdString() : ""; }

std::string SlapdFixture::caFile() const {
  return ldapsPort_ > 0 ? folder() + "/tls/ca.pem" : std::string();
}

std::string SlapdFixture::log() const {
  QFile f(QString::fromStdString(folder() + "/slapd.log"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

int SlapdFixture::bindCount() const {
  const std::string text = log();
  int count = 0;
  for (size_t at = text.find(" BIND dn="); at != std::string::npos;
       at = text.find(" BIND dn=", at + 1))
    ++count;
  return count;
}

// A CA, and a server certificate signed by it (or by a second CA) for 127.0.0.1 (or for
// another name), valid for a day (or already expired), all made with openssl.
bool SlapdFixture::MakeCertificates(Options::Tls tls) {
  const std::string openssl = FindProgram("openssl");
  if (openssl.empty()) {
    error_ = "openssl was not found: install the openssl package; the TLS tests need it";
    return false;
  }
  const QString dir = dir_->path() + "/tls";
  QDir().mkpath(dir);
  auto run = [&](const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromStdString(openssl), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
      error_ = "openssl " + args.join(' ').toStdString() + " failed: " + p.readAll().toStdString();
      return false;
    }
    return true;
  };
  const QStringList ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
  auto makeCa = [&](const QString& name, const QString& subject) {
    return run(QStringList{"req", "-x509"} + ecKey +
               QStringList{"-keyout", name + ".key", "-out", name + ".pem", "-days", "2", "-subj",
                           subject});
  };
  if (!makeCa("ca", "/CN=Orvelle Test CA")) return false;
  if (tls == Options::Tls::OtherCa && !makeCa("otherca", "/CN=Some Other CA")) return false;
  const bool otherHost = tls == Options::Tls::OtherHost;
  if (!run(QStringList{"req"} + ecKey +
           QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                       otherHost ? "/CN=ldap.other.invalid" : "/CN=127.0.0.1"}))
    return false;
  const std::string ext =
      std::string("basicConstraints=CA:FALSE\n") + "keyUsage=digitalSignature,keyEncipherment\n" +
      "extendedKeyUsage=serverAuth\n" +
      "subjectAltName=" + (otherHost ? "DNS:ldap.other.invalid" : "IP:127.0.0.1") + "\n";
  if (!WriteFile(dir + "/server.ext", ext)) return false;
  const QString issuer = tls == Options::Tls::OtherCa ? "otherca" : "ca";
  // A negative validity gives a certificate whose end lies before its start: expired.
  const QString days = tls == Options::Tls::Expired ? "-1" : "1";
  return run({"x509", "-req", "-in", "server.csr", "-CA", issuer + ".pem", "-CAkey",
              issuer + ".key", "-CAcreateserial", "-out", "server.pem", "-days", days, "-extfile",
              "server.ext"});
}

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
  const std::string schemaDir = kSchemaDir;
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

  if (options.tls != Options::Tls::NoTls && !MakeCertificates(options.tls)) return false;
  options_ = options;
  if (!WriteConfiguration()) return false;

  std::string ldif =
      "dn: o=Sample\nobjectClass: organization\no: Sample\n\n"
      "dn: cn=writer,o=Sample\nobjectClass: organizationalRole\n"
      "objectClass: simpleSecurityObject\ncn: writer\nuserPassword: writerpw\n\n"
      "dn: cn=reader,o=Sample\nobjectClass: organizationalRole\n"
      "objectClass: simpleSecurityObject\ncn: reader\nuserPassword: readerpw\n\n";
  ldif += options.extraLdif;
  WriteFile(dir + "/base.ldif", ldif);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LDAPNOINIT", "1");
  // A copy starts empty: its provider's refresh brings every entry with its own state.
  if (options.consumerOf == 0 || (options.mirrorMode && options.serverId == 1)) {
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

  options_ = options;
  return Launch(true);
}

bool SlapdFixture::WriteConfiguration() {
  const std::string d = folder();
  std::string global;
  if (options_.threads > 0) global += "threads " + std::to_string(options_.threads) + "\n";
  if (options_.tls != Options::Tls::NoTls) {
    global += "TLSCACertificateFile " + d + "/tls/ca.pem\n";
    global += "TLSCertificateFile " + d + "/tls/server.pem\n";
    global += "TLSCertificateKeyFile " + d + "/tls/server.key\n";
    if (options_.requireTls) global += "security tls=1\n";
  }
  std::string access;
  for (const std::string& dn : options_.refuseDelete)
    access += "access to dn.exact=\"" + dn + "\" attrs=entry by * read\n";
  for (const std::string& rule : options_.accessRules) access += rule + "\n";
  std::string database;
  if (options_.provider) {
    const std::string module = ModuleDir() + "/syncprov";
    global += "moduleload " + module +
              (QFileInfo::exists(QString::fromStdString(module + ".la")) ? ".la" : ".so") + "\n";
    database += "overlay syncprov\nsyncprov-checkpoint 100 1\n";
  }
  if (options_.mirrorMode) global += "serverID " + std::to_string(options_.serverId) + "\n";
  // A copy finds each entry it is sent by its entryUUID: without the index every change
  // would read the whole database.
  if (options_.provider || options_.consumerOf > 0)
    database = "index entryCSN,entryUUID eq\n" + database;
  if (options_.consumerOf > 0) {
    const std::string provider = "ldap://127.0.0.1:" + std::to_string(options_.consumerOf);
    database += "syncrepl rid=001 provider=" + provider +
                " bindmethod=simple binddn=\"cn=admin,o=Sample\" credentials=secret"
                " searchbase=\"o=Sample\" type=refreshAndPersist retry=\"1 +\" timeout=2"
                " network-timeout=1\n";
    if (options_.mirrorMode)
      database += "mirrormode on\n";
    else
      database +=
          "updateref " + (options_.updateRef.empty() ? provider : options_.updateRef) + "\n";
  }
  std::string conf;
  if (!SlapdConfiguration(d, ModuleDir(), global, access, conf)) {
    error_ = conf;
    return false;
  }
  // The lines of the database section go last, after its access rules.
  conf += database;
  if (!WriteFile(QString::fromStdString(d + "/slapd.conf"), conf)) {
    error_ = "cannot write " + d + "/slapd.conf";
    return false;
  }
  return true;
}

bool SlapdFixture::RefuseDelete(const std::string& dn) {
  if (!dir_) return false;
  options_.refuseDelete.push_back(dn);
  ++addedRefusals_;
  return WriteConfiguration() && Restart();
}

bool SlapdFixture::RefuseAdd(const std::string& name) {
  if (!dir_) return false;
  // slapd matches the regular expression against the normalised DN.
  std::string pattern;
  for (char c : name) {
    if (std::isalpha(static_cast<unsigned char>(c)))
      pattern += std::string("[") + static_cast<char>(std::toupper(c)) +
                 static_cast<char>(std::tolower(c)) + "]";
    else if (std::isalnum(static_cast<unsigned char>(c)) || c == ' ')
      pattern += c;
    else
      return false;  // kept simple: the tests refuse plain names
  }
  return AddAccessRule("access to dn.regex=\"^cn=" + pattern + ",\" attrs=entry by * read");
}

bool SlapdFixture::AddAccessRule(const std::string& rule) {
  if (!dir_) return false;
  options_.accessRules.push_back(rule);
  ++addedRules_;
  return WriteConfiguration() && Restart();
}

bool SlapdFixture::ResetRules() {
  if (addedRefusals_ == 0 && addedRules_ == 0) return true;
  options_.refuseDelete.resize(options_.refuseDelete.size() - addedRefusals_);
  options_.accessRules.resize(options_.accessRules.size() - addedRules_);
  addedRefusals_ = 0;
  addedRules_ = 0;
  return WriteConfiguration() && Restart();
}

bool SlapdFixture::Launch(bool newPort) {
  const std::string slapd = qEnvironmentVariableIsSet("SLAPD")
                                ? qEnvironmentVariable("SLAPD").toStdString()
                                : FindProgram("slapd");
  const QString dir = dir_->path();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LDAPNOINIT", "1");
  // A port that another program takes between our look-up and slapd's bind makes slapd
  // exit at once; then try another (a restart keeps its ports and tries again).
  const Options& options = options_;
  for (int attempt = 0; attempt < (newPort ? 5 : 100); ++attempt) {
    if (newPort) {
      port_ = options.port > 0 && attempt == 0 ? options.port : FreeLoopbackPort();
      ldapsPort_ = options.tls != Options::Tls::NoTls ? FreeLoopbackPort() : 0;
    }
    if (port_ == 0 || (options.tls != Options::Tls::NoTls && ldapsPort_ == 0)) {
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
    QString listeners = QString("ldap://127.0.0.1:%1/").arg(port_);
    if (ldapsPort_ > 0) listeners += QString(" ldaps://127.0.0.1:%1/").arg(ldapsPort_);
    process_->start(QString::fromStdString(slapd), {"-f", dir + "/slapd.conf", "-h", listeners,
                                                    "-d", options.logStats ? "256" : "0"});
    if (!process_->waitForStarted(10000)) {
      error_ = "slapd could not be started: " + process_->errorString().toStdString();
      return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
      if (process_->state() != QProcess::Running) break;
      if (PortAnswers(port_) && (ldapsPort_ == 0 || PortAnswers(ldapsPort_))) return true;
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

}  // namespace testsupport
