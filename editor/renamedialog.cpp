#include "editor/renamedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/support/messages.h"
#include "widgets/dialogparts.h"
RenameDialog::RenameDialog(const QString& title, const std::string& current, Check check,
                           QWidget* parent)
    : NameDialog(QStringLiteral("RenameDialog"), title, QStringLiteral("New &Name"), current,
                 std::move(check), parent) {}
