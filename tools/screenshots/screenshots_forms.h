// Pictures of the form dialogs and panels for the documentation: each window is built
// over a small sample configuration, filled in as an administrator would, and grabbed.
#pragma once

#include <QImage>
#include <QString>
#include <utility>
#include <vector>

namespace kvaro {
class Oidtable;
}

// One picture: a file-name stem ("form-panel") and the grabbed image.
using FormShot = std::pair<QString, QImage>;

// Appends a picture of each form dialog (Add Filter Attribute, Add Form Input Group, Add
// Form Group Field) and of the form, input group and input field panels. `table` should
// know "cn", "sn" and "mail" so the dialogs show an accepted entry.
void AddFormScreenshots(std::vector<FormShot>& shots, const kvaro::Oidtable& table);

// Writes the pictures of AddFormScreenshots as "<stem>.png" into `folder`; returns the
// paths written (a picture that cannot be written is left out).
std::vector<QString> WriteFormScreenshots(const QString& folder, const kvaro::Oidtable& table);
