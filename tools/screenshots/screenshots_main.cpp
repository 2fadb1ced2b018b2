// orvelle_screenshots: renders the program's windows into PNG files.
//
//   orvelle_screenshots OUTPUT_FOLDER [NAME...]
//
// Each entry of Shots() below is one picture: a name (the file name without ".png")
// and a function that makes its image. Names say what is shown: "mainframe", "panel_*"
// (the main window with that node selected), "dialog_*", "window_*", "about" and
// "wizard_<page>_*". The filled-in editing dialogs come from the editor's picture
// builders, the wizard pages from the wizard's. Add a window by adding one entry. With
// NAMEs only those shots are rendered; "--list" prints the names.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/mainframe.h"
#include "directoryui/credentialsdialog.h"
#include "directoryui/pleasewaitdialog.h"
#include "editor/addformdialog.h"
#include "editor/addrulesetdialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/panes.h"
#include "editor/renamedialog.h"
#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "tests/support/sampleconfig.h"
#include "tools/screenshots/screenshots_forms.h"
#include "tools/screenshots/screenshots_rules.h"
#include "tools/screenshots/wizardscreenshots.h"
#include "widgets/messagebox.h"
#include "wizard/setupwizard.h"

namespace {

// What every shot may use: a sample configuration, the attribute table and, once
// asked for, a filled main window and the editor's pictures.
struct Context {
  Configuration configuration;
  store::Session session;
  kvaro::Oidtable table;
  std::unique_ptr<CMainFrame> frame;
  // The editor's pictures by their stem, made on first use.
  std::map<QString, QImage> editorShots;

  CMainFrame& Frame() {
    if (!frame) {
      frame = std::make_unique<CMainFrame>(configuration, session, table,
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
  // The editor's picture `stem`; a null image when there is none of that stem.
  QImage EditorShot(const QString& stem) {
    if (editorShots.empty()) {
      std::vector<RuleShot> rules;
      AddRuleScreenshots(rules, table);
      for (auto& [name, image] : rules) editorShots[name] = image;
      std::vector<FormShot> forms;
      AddFormScreenshots(forms, table);
      for (auto& [name, image] : forms) editorShots[name] = image;
    }
    auto found = editorShots.find(stem);
    return found == editorShots.end() ? QImage() : found->second;
  }
};

// Shows `widget`, lets layouts, deferred deletions and the first paint happen, and grabs
// it. Null widgets give a null image.
QImage Grab(QWidget* widget) {
  if (!widget) return QImage();
  widget->show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  return widget->grab().toImage();
}

// Grabs a window the shot builds and destroys it afterwards.
template <class Make>
QImage GrabOwned(Make make) {
  std::unique_ptr<QWidget> widget(make());
  QImage image = Grab(widget.get());
  if (widget) widget->close();
  return image;
}

struct Shot {
  std::string name;
  // Makes the picture; a null image when it cannot be made.
  std::function<QImage(Context&)> make;
};

std::vector<Shot> Shots() {
  const QStringList ruleSets{"Rule Sets"};
  const QStringList standard{"Rule Sets", "Standard"};
  const QStringList people{"Forms", "People (Standard)"};
  auto frameAt = [](QStringList path) {
    return [path](Context& c) { return Grab(c.FrameAt(path)); };
  };
  // The main window at `size` (the smallest it allows when empty) with the node at
  // `path` selected; the window goes back to its usual size afterwards.
  auto frameSized = [](QStringList path, QSize size) {
    return [path, size](Context& c) {
      CMainFrame& frame = c.Frame();
      frame.resize(size.isEmpty() ? QSize(1, 1) : size);
      const QImage image = Grab(c.FrameAt(path));
      frame.resize(760, 480);
      return image;
    };
  };
  auto editor = [](const char* stem) {
    return [stem](Context& c) { return c.EditorShot(QString::fromLatin1(stem)); };
  };
  std::vector<Shot> shots = {
      // The main window and its panels.
      {"mainframe", [](Context& c) { return Grab(&c.Frame()); }},
      {"panel_rulesets", frameAt(ruleSets)},
      {"panel_ruleset", frameAt(standard)},
      {"panel_rule_search", frameAt(standard + QStringList{"Person"})},
      {"panel_rule_entrypoint", frameAt(standard + QStringList{"Root"})},
      {"panel_formlist", frameAt({"Forms"})},
      {"panel_form", frameAt(people)},
      {"panel_inputgroup", frameAt(people + QStringList{"Person details"})},
      {"panel_inputfield", frameAt(people + QStringList{"Person details", "Name"})},
      // The window's default size and its smallest: nothing is cut off, the pane scrolls.
      {"panel_rule_search_640x480", frameSized(standard + QStringList{"Person"}, {640, 480})},
      {"panel_rule_search_smallest", frameSized(standard + QStringList{"Person"}, {})},
      {"panel_formlist_640x480", frameSized({"Forms"}, {640, 480})},
      {"panel_formlist_smallest", frameSized({"Forms"}, {})},
      {"about", [](Context&) { return GrabOwned([] { return new CAboutDialog(); }); }},
      // Directory logon and the window shown while the directory is busy.
      {"dialog_credentials",
       [](Context&) {
         return GrabOwned([] {
           auto* dialog = new CredentialsDialog();
           dialog->SetValues("cn=Manager, o=Sample", "secret");
           return dialog;
         });
       }},
      {"window_pleasewait",
       [](Context&) {
         return GrabOwned([] {
           auto* wait = new PleaseWaitDialog();
           wait->Show(QString::fromUtf8(msg::LoadString(61282)),
                      QString::fromUtf8(msg::LoadString(62011)));
           wait->SetProgress(240, 640);
           return wait;
         });
       }},
      // Editing dialogs, filled in as an administrator would.
      {"dialog_addruleset",
       [](Context& c) {
         return GrabOwned([&c] {
           std::vector<std::string> names;
           for (const auto& ruleSet : c.configuration.ruleSets) names.push_back(ruleSet->name);
           auto* dialog = new AddRuleSetDialog(names);
           if (auto* edit = dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit)))
             edit->setText(QStringLiteral("Yellow Pages"));
           return dialog;
         });
       }},
      {"dialog_rename",
       [](Context&) {
         return GrabOwned([] {
           return new RenameDialog(QStringLiteral("Rename Rule"), "Person",
                                   [](const std::string&, std::vector<std::string>&) { return 0; });
         });
       }},
      {"dialog_addform",
       [](Context& c) {
         return GrabOwned([&c] {
           std::vector<std::string> names;
           for (const auto& ruleSet : c.configuration.ruleSets) names.push_back(ruleSet->name);
           auto* dialog = new AddFormDialog(names);
           if (auto* edit = dialog->findChild<QLineEdit*>(ObjectName(kIdNameEdit)))
             edit->setText(QStringLiteral("Find a room"));
           return dialog;
         });
       }},
      {"dialog_duplicate",
       [](Context&) {
         return GrabOwned([] {
           return new RenameDialog(QString::fromStdString(msg::Text(62347)),
                                   msg::Text(62348, {"Standard"}),
                                   [](const std::string&, std::vector<std::string>&) { return 0; });
         });
       }},
      // Save found that someone else changed what it would write.
      {"dialog_saveconflict",
       [](Context&) {
         return GrabOwned([] {
           const std::string text = msg::FormatPrepared(
               msg::LoadString(62339),
               {msg::Displayable("/home/admin/.local/share/orvelle/configuration"),
                msg::DisplayableLines(
                    {msg::Text(62352, {"Standard"}), msg::Text(62355, {"People"})})});
           return NewMessageBox(
               msg::Message{62339, text, msg::Buttons::ReloadSaveAnywayCancel, msg::Icon::Question},
               nullptr);
         });
       }},
      // The Edit menu after an edit: Undo names it.
      {"menu_edit_undo",
       [](Context& c) {
         CMainFrame& frame = c.Frame();
         SearchForm* form = c.configuration.FindForm("People");
         if (!form || !frame.tree()->RemoveForm(form)) return QImage();
         QApplication::processEvents();
         QMenu* edit = frame.menuBar()->findChild<QMenu*>(QStringLiteral("menuEdit"));
         if (!edit) return QImage();
         edit->popup(frame.mapToGlobal(QPoint(40, 20)));
         const QImage image = Grab(edit);
         edit->hide();
         frame.tree()->Undo();
         return image;
       }},
      // File > Add Search Service...: the wizard from its services page.
      {"wizard_addservice",
       [](Context& c) {
         SetupWizard wizard(c.table);
         wizard.AddServicesOnly();
         return Grab(&wizard);
       }},
      {"dialog_addrule_search", editor("add-rule-search-rule")},
      {"dialog_addrule_entrypoint", editor("add-rule-entry-point")},
      {"dialog_addobjectclass", editor("add-object-class")},
      {"dialog_childrule", editor("add-child-search-rule")},
      {"dialog_startpoint", editor("set-start-point")},
      {"dialog_addfilterattribute", editor("add-filter-attribute")},
      {"dialog_addinputgroup", editor("add-form-input-group")},
      {"dialog_addinputfield", editor("add-form-group-field")},
  };
  // The set-up wizard, page by page.
  for (const std::string& name : WizardShotNames()) {
    shots.push_back({name, [name](Context& c) {
                       std::unique_ptr<SetupWizard> wizard = MakeWizardShot(name, c.table);
                       QImage image = Grab(wizard.get());
                       return image;
                     }});
  }
  return shots;
}

bool Render(Context& context, const Shot& shot, const QString& folder) {
  const QImage image = shot.make(context);
  if (image.isNull()) {
    std::fprintf(stderr, "%s: could not be built\n", shot.name.c_str());
    return false;
  }
  const QString path = QDir(folder).filePath(QString::fromStdString(shot.name) + ".png");
  const bool saved = image.save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<Shot> shots = Shots();
  // Listing needs no window system, so scripts can ask without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--list") {
      for (const Shot& shot : shots) std::printf("%s\n", shot.name.c_str());
      return 0;
    }
  }
  QApplication app(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  msg::ConsoleSink console;
  msg::ScopedSink sink(&console);
  const QStringList args = app.arguments().mid(1);
  if (args.isEmpty()) {
    std::fprintf(stderr, "usage: orvelle_screenshots OUTPUT_FOLDER [NAME...] | --list\n");
    return 2;
  }
  const QString folder = args.front();
  QDir().mkpath(folder);
  const QStringList wanted = args.mid(1);
  for (const QString& name : wanted) {
    bool known = false;
    for (const Shot& shot : shots) known = known || QString::fromStdString(shot.name) == name;
    if (!known) {
      std::fprintf(stderr, "%s: no such picture (see --list)\n", qPrintable(name));
      return 2;
    }
  }

  Context context;
  ldapx::LoadOidtable(context.table, kvaro::FindDataFile("oidtable32"));
  sample::FillStandard(context.configuration);
  int failures = 0;
  for (const Shot& shot : shots) {
    if (!wanted.isEmpty() && !wanted.contains(QString::fromStdString(shot.name))) continue;
    if (!Render(context, shot, folder)) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
