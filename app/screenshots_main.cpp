// orvelle_screenshots: renders the program's windows into PNG files.
//
//   orvelle_screenshots OUTPUT_FOLDER [NAME...]
//
// Each entry of Shots() below is one picture: a name (the file name without ".png")
// and a function that builds the window to render over a sample configuration. Add a
// window by adding one entry. With NAMEs only those shots are rendered; "--list"
// prints the names.
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "addfilterattributedialog.h"
#include "addinputfielddialog.h"
#include "addinputgroupdialog.h"
#include "addobjectclassdialog.h"
#include "addruledialog.h"
#include "childruledialog.h"
#include "configtree.h"
#include "configuration.h"
#include "datafiles.h"
#include "mainframe.h"
#include "messages.h"
#include "oidtable.h"
#include "panes.h"
#include "sampleconfig_h3.h"
#include "startpointdialog.h"

namespace {

// What every shot may use: a sample configuration, the attribute table and, once
// asked for, a filled main window.
struct Context {
  Configuration configuration;
  kvaro::Oidtable table;
  std::unique_ptr<CMainFrame> frame;

  CMainFrame& Frame() {
    if (!frame) {
      frame = std::make_unique<CMainFrame>(configuration, table,
                                           [](Configuration&) { return true; });
      frame->resize(760, 480);
      frame->show();
      frame->tree()->Fill();
    }
    return *frame;
  }
  // The main window with the node at `path` selected (captions from the root down).
  QWidget* FrameAt(const QStringList& path) {
    CMainFrame& f = Frame();
    CConfigTree* tree = f.tree();
    QTreeWidgetItem* item = nullptr;
    for (const QString& caption : path) {
      QTreeWidgetItem* next = nullptr;
      const int count = item ? item->childCount() : tree->topLevelItemCount();
      for (int i = 0; i < count && !next; ++i) {
        QTreeWidgetItem* candidate = item ? item->child(i) : tree->topLevelItem(i);
        if (candidate->text(0) == caption) next = candidate;
      }
      if (!next) return nullptr;
      item = next;
    }
    tree->setCurrentItem(item);
    tree->setFocus();
    return &f;
  }
};

struct Shot {
  const char* name;
  // Builds (or finds) the window to render; null when it cannot be made.
  std::function<QWidget*(Context&)> make;
  // Whether the shot owns the widget it returns (dialogs) or not (the main window).
  bool owned = true;
};

template <class Dialog, class... Args>
std::function<QWidget*(Context&)> MakeDialog(Args... args) {
  return [=](Context&) -> QWidget* { return new Dialog(args...); };
}

std::vector<Shot> Shots() {
  const QStringList ruleSets{"Rule Sets"};
  const QStringList standard{"Rule Sets", "Standard"};
  const QStringList people{"Forms", "People (Standard)"};
  return {
      // The main window and its panels.
      {"mainframe", [](Context& c) -> QWidget* { return &c.Frame(); }, false},
      {"panel_rulesets", [=](Context& c) { return c.FrameAt(ruleSets); }, false},
      {"panel_ruleset", [=](Context& c) { return c.FrameAt(standard); }, false},
      {"panel_rule_search", [=](Context& c) { return c.FrameAt(standard + QStringList{"Person"}); },
       false},
      {"panel_rule_entrypoint",
       [=](Context& c) { return c.FrameAt(standard + QStringList{"Root"}); }, false},
      {"panel_formlist", [](Context& c) { return c.FrameAt({"Forms"}); }, false},
      {"panel_form", [=](Context& c) { return c.FrameAt(people); }, false},
      {"panel_inputgroup",
       [=](Context& c) { return c.FrameAt(people + QStringList{"Person details"}); }, false},
      {"panel_inputfield",
       [=](Context& c) { return c.FrameAt(people + QStringList{"Person details", "Name"}); },
       false},
      {"about", [](Context&) -> QWidget* { return new CAboutDialog(); }},
      // Editing dialogs.
      {"dialog_addrule", [](Context& c) -> QWidget* { return new AddRuleDialog(c.table); }},
      {"dialog_addobjectclass",
       [](Context& c) -> QWidget* { return new AddObjectClassDialog(c.table); }},
      {"dialog_childrule",
       [](Context&) -> QWidget* {
         return new ChildRuleDialog(std::vector<std::string>{"Person", "Org"});
       }},
      {"dialog_startpoint",
       [](Context& c) -> QWidget* {
         return new StartPointDialog("ldap://dirhost:389/o=Sample", c.table);
       }},
      {"dialog_addfilterattribute",
       [](Context& c) -> QWidget* { return new AddFilterAttributeDialog(c.table); }},
      {"dialog_addinputgroup",
       [](Context&) -> QWidget* {
         return new AddInputGroupDialog(std::vector<std::string>{"Person", "Org"});
       }},
      {"dialog_addinputfield",
       [](Context& c) -> QWidget* { return new AddInputFieldDialog(c.table); }},
  };
}

bool Render(Context& context, const Shot& shot, const QString& folder) {
  QWidget* widget = shot.make(context);
  if (!widget) {
    std::fprintf(stderr, "%s: could not be built\n", shot.name);
    return false;
  }
  widget->show();
  // Let layouts, deferred deletions and the first paint happen.
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QString path = QDir(folder).filePath(QString::fromLatin1(shot.name) + ".png");
  const bool saved = widget->grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  if (shot.owned) {
    widget->close();
    delete widget;
  }
  return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  msg::ConsoleSink console;
  msg::ScopedSink sink(&console);
  const std::vector<Shot> shots = Shots();
  const QStringList args = app.arguments().mid(1);
  if (args.contains(QStringLiteral("--list"))) {
    for (const Shot& shot : shots) std::printf("%s\n", shot.name);
    return 0;
  }
  if (args.isEmpty()) {
    std::fprintf(stderr, "usage: orvelle_screenshots OUTPUT_FOLDER [NAME...] | --list\n");
    return 2;
  }
  const QString folder = args.front();
  QDir().mkpath(folder);
  const QStringList wanted = args.mid(1);

  Context context;
  context.table.Load(kvaro::FindDataFile("oidtable32"));
  sample::FillStandard(context.configuration);
  int failures = 0;
  for (const Shot& shot : shots) {
    if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(shot.name))) continue;
    if (!Render(context, shot, folder)) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
