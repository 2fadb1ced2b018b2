// Running the build's orvelle-config from the tests of the tool.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "tests/support/slapdfixture.h"
#include "tests/support/testfiles.h"

namespace configtooltest {

using Result = testsupport::ProgramResult;

inline const QString kProgram = QStringLiteral(ORVELLE_BINARY_DIR "/bin/orvelle-config");

// Runs the tool with `arguments` and the source tree's attribute table.
inline Result Run(QStringList arguments) {
  arguments << "--oidtable" << QStringLiteral(ORVELLE_SOURCE_DIR "/resources/oidtable32");
  return testsupport::RunProgram(kProgram, arguments);
}

// What the tests of the tool against a directory share: the server, a folder for their
// files, and runs of the tool.
class DirectoryToolTest : public QObject {
 protected:
  static Result Run(const QStringList& arguments) { return configtooltest::Run(arguments); }
  // Runs logged on as the server's administrator with the password in `passwordFile`.
  Result RunLoggedOn(QStringList arguments, const QString& passwordFile) const {
    arguments << "--bind-dn" << QString::fromStdString(slapd_->adminDn()) << "--password-file"
              << passwordFile;
    return Run(arguments);
  }

  std::unique_ptr<testsupport::SlapdFixture> slapd_;
  QTemporaryDir dir_;
};

}  // namespace configtooltest
