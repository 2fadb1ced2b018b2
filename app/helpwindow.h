// The help window F1 opens: the user's part of the README (what the program does, its
// commands, settings, storage modes, orvelle-config, installing), without the sections
// for developers.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

// The README's text for users, in Markdown: its opening and every "## " section but
// those for developers (screenshots, building and testing, source folders, benchmarks).
QString UserHelpText();

class CHelpWindow : public QWidget {
  Q_OBJECT

 public:
  // Object name "helpWindow"; the text browser is "helpText".
  explicit CHelpWindow(QWidget* parent = nullptr);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};
