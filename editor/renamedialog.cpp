#include "renamedialog.h"

RenameDialog::RenameDialog(const QString& title, const std::string& current, Check check,
                           QWidget* parent)
    : NameDialog(QStringLiteral("RenameDialog"), title, QStringLiteral("New &Name"), current,
                 std::move(check), parent) {}
