// Every dialog's texts fit where they are shown, at the font resolution the process runs
// with: each label's text, wrapped as the label wraps it, fits the label's rectangle, lies
// inside the window and is not covered by another control. ctest runs it twice: at the
// usual 96 dots per inch, and at 144 (QT_FONT_DPI with Qt's own scaling off), the larger
// text setting of a desktop, under which the dialogs are built as a user would see them.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QScreen>
#include <QtTest>
#include <functional>
#include <map>
#include <memory>

#include "app/mainframe.h"
#include "directoryui/credentialsdialog.h"
#include "directoryui/pleasewaitdialog.h"
#include "editor/addfilterattributedialog.h"
#include "editor/addformdialog.h"
#include "editor/addinputfielddialog.h"
#include "editor/addinputgroupdialog.h"
#include "editor/addobjectclassdialog.h"
#include "editor/addruledialog.h"
#include "editor/addrulesetdialog.h"
#include "editor/childruledialog.h"
#include "editor/renamedialog.h"
#include "editor/startpointdialog.h"
#include "platform/support/messages.h"
#include "store/directory/directorylogon.h"
#include "tests/support/testoidtable.h"
#include "tools/screenshots/wizardscreenshots.h"
#include "wizard/setupwizard.h"

namespace {

using Make = std::function<std::unique_ptr<QWidget>()>;

const kvaro::Oidtable& Table() { return testsupport::DirectoryOidtable(); }

// The windows to check, by name.
std::map<QString, Make> Windows() {
  std::map<QString, Make> windows = {
      {"logon, plain text",
       [] {
         auto dialog = std::make_unique<CredentialsDialog>();
         dialog->SetSecurityText(directory::LogonSecurityText(ldapx::Security::None));
         return dialog;
       }},
      {"logon, StartTLS",
       [] {
         auto dialog = std::make_unique<CredentialsDialog>();
         dialog->SetSecurityText(directory::LogonSecurityText(ldapx::Security::StartTls));
         return dialog;
       }},
      {"please wait",
       [] {
         auto wait = std::make_unique<PleaseWaitDialog>();
         wait->Show(QString::fromUtf8(msg::LoadString(61282)),
                    QString::fromUtf8(msg::LoadString(62011)));
         wait->SetProgress(240, 640);
         return wait;
       }},
      {"add rule set",
       [] { return std::make_unique<AddRuleSetDialog>(std::vector<std::string>{}); }},
      {"rename",
       [] {
         return std::make_unique<RenameDialog>(
             QStringLiteral("Rename Rule"), "Person",
             [](const std::string&, std::vector<std::string>&) { return 0; });
       }},
      {"add form",
       [] { return std::make_unique<AddFormDialog>(std::vector<std::string>{"Standard"}); }},
      {"add rule", [] { return std::make_unique<AddRuleDialog>(Table()); }},
      {"add object class", [] { return std::make_unique<AddObjectClassDialog>(Table()); }},
      {"child rule",
       [] { return std::make_unique<ChildRuleDialog>(std::vector<std::string>{"Person"}); }},
      {"start point",
       [] { return std::make_unique<StartPointDialog>("ldap://dirhost:389/o=Sample", Table()); }},
      {"add filter attribute", [] { return std::make_unique<AddFilterAttributeDialog>(Table()); }},
      {"add input group",
       [] { return std::make_unique<AddInputGroupDialog>(std::vector<std::string>{"Person"}); }},
      {"add input field", [] { return std::make_unique<AddInputFieldDialog>(Table()); }},
  };
  windows["about"] = [] { return std::make_unique<CAboutDialog>(); };
  windows["duplicate"] = [] {
    return std::make_unique<RenameDialog>(
        QString::fromStdString(msg::Text(62347)), msg::Text(62348, {"Standard"}),
        [](const std::string&, std::vector<std::string>&) { return 0; });
  };
  windows["add search service"] = [] {
    auto wizard = std::make_unique<SetupWizard>(Table());
    wizard->AddServicesOnly();
    return wizard;
  };
  for (const std::string& page : WizardShotNames()) {
    windows[QString::fromStdString(page)] = [page] {
      std::unique_ptr<QWidget> wizard = MakeWizardShot(page, Table());
      return wizard;
    };
  }
  return windows;
}

// The text of `label` as drawn: its rectangle inside the label's contents, in `window`'s
// coordinates, and whether it fits the contents.
struct DrawnText {
  QRect rect;
  QSize needed;
  bool fits = false;
};
DrawnText Drawn(const QLabel* label, const QWidget* window) {
  const QRect contents = label->contentsRect();
  int flags = int(label->alignment()) | Qt::TextShowMnemonic;
  if (label->wordWrap()) flags |= Qt::TextWordWrap;
  const QFontMetrics metrics(label->font());
  // Measured from the top without a height limit (centred in a tall rectangle, a
  // fractional line height would round up to one pixel more than the text needs), then
  // placed as the alignment places it.
  const int measure = (flags & ~int(Qt::AlignVertical_Mask)) | Qt::AlignTop;
  const QRect needed = metrics.boundingRect(
      QRect(contents.topLeft(), QSize(contents.width(), 1 << 20)), measure, label->text());
  DrawnText drawn;
  drawn.needed = needed.size();
  drawn.fits = needed.width() <= contents.width() && needed.height() <= contents.height();
  const QRect placed = metrics.boundingRect(contents, flags, label->text());
  drawn.rect = QRect(label->mapTo(window, placed.topLeft()), placed.size());
  return drawn;
}

bool IsAncestor(const QWidget* ancestor, const QWidget* widget) {
  for (const QWidget* up = widget; up; up = up->parentWidget())
    if (up == ancestor) return true;
  return false;
}

}  // namespace

class TestDialogTexts : public QObject {
  Q_OBJECT

 private slots:
  // The resolution asked for is the one the fonts are measured at: a platform that ignored
  // QT_FONT_DPI would check the usual size twice.
  void initTestCase() {
    const int asked = qEnvironmentVariableIntValue("QT_FONT_DPI");
    if (asked > 0) QCOMPARE(qRound(QApplication::primaryScreen()->logicalDotsPerInchY()), asked);
  }

  void textsFit_data() {
    QTest::addColumn<QString>("window");
    const int percent = qRound(QApplication::primaryScreen()->logicalDotsPerInchY() * 100 / 96);
    for (const auto& [name, make] : Windows())
      QTest::addRow("%s at %d %%", qPrintable(name), percent) << name;
  }
  void textsFit() {
    QFETCH(QString, window);
    msg::RecordingSink sink;
    msg::ScopedSink scoped(&sink);
    std::unique_ptr<QWidget> shown = Windows().at(window)();
    QVERIFY(shown);
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
    for (int i = 0; i < 5; ++i) QApplication::processEvents();

    const QRect inside = shown->rect();
    const QList<QWidget*> controls = shown->findChildren<QWidget*>();
    QStringList faults;
    for (QLabel* label : shown->findChildren<QLabel*>()) {
      if (!label->isVisibleTo(shown.get()) || label->text().isEmpty()) continue;
      const QString text = label->text().left(40);
      const DrawnText drawn = Drawn(label, shown.get());
      if (!drawn.fits)
        faults << QStringLiteral("'%1' is cut off (needs %2 x %3, has %4 x %5)")
                      .arg(text)
                      .arg(drawn.needed.width())
                      .arg(drawn.needed.height())
                      .arg(label->contentsRect().width())
                      .arg(label->contentsRect().height());
      if (!inside.contains(drawn.rect))
        faults << QStringLiteral("'%1' reaches outside the window").arg(text);
      for (QWidget* other : controls) {
        // Only what is drawn over the label counts: controls, not the frames around it.
        if (!other->isVisibleTo(shown.get()) || IsAncestor(other, label) ||
            IsAncestor(label, other))
          continue;
        if (!qobject_cast<QAbstractButton*>(other) && !qobject_cast<QLabel*>(other) &&
            other->inherits("QLineEdit") == false &&
            other->inherits("QAbstractItemView") == false && other->inherits("QComboBox") == false)
          continue;
        const QRect otherRect(other->mapTo(shown.get(), QPoint(0, 0)), other->size());
        if (qobject_cast<QLabel*>(other)) {
          // Another label covers only its own text.
          const QLabel* otherLabel = static_cast<QLabel*>(other);
          if (otherLabel->text().isEmpty() ||
              !drawn.rect.intersects(Drawn(otherLabel, shown.get()).rect))
            continue;
        } else if (!drawn.rect.intersects(otherRect)) {
          continue;
        }
        faults << QStringLiteral("'%1' lies under %2 '%3'")
                      .arg(text, QString::fromLatin1(other->metaObject()->className()),
                           other->objectName());
      }
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
  }
};

QTEST_MAIN(TestDialogTexts)
#include "test_dialogtexts.moc"
