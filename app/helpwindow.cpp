#include "app/helpwindow.h"

#include <QFile>
#include <QStringList>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "platform/support/messages.h"
#include "widgets/artwork.h"

QString UserHelpText() {
  QFile file(QStringLiteral(":/help/README.md"));
  if (!file.open(QIODevice::ReadOnly)) return QString();
  const QString readme = QString::fromUtf8(file.readAll());
  static const QStringList kDeveloperSections = {
      QStringLiteral("Screenshots"), QStringLiteral("Building and testing"),
      QStringLiteral("The source folders"), QStringLiteral("Benchmarks")};
  QStringList kept;
  bool keep = true;
  bool inCode = false;
  for (const QString& line : readme.split(QLatin1Char('\n'))) {
    // A "## " inside a fenced block is not a heading.
    if (line.startsWith(QStringLiteral("```"))) inCode = !inCode;
    if (!inCode && line.startsWith(QStringLiteral("## ")))
      keep = !kDeveloperSections.contains(line.mid(3).trimmed());
    if (keep) kept << line;
  }
  return kept.join(QLatin1Char('\n'));
}

CHelpWindow::CHelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("helpWindow"));
  setWindowTitle(QString::fromStdString(msg::Text(62333)));
  setWindowIcon(art::ApplicationIcon());
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("helpText"));
  browser_->setOpenLinks(false);
  browser_->setMarkdown(UserHelpText());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(720, 560);
}
