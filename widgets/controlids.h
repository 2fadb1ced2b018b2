// Control ids: every widget that has one carries it as its object name, the id in decimal.
// The ids are fixed values; windows of other layers keep theirs in their own controlids.h.
#pragma once

#include <QString>

// The object name of the widget with control id `id`.
inline QString ObjectName(int id) { return QString::number(id); }

// The two dialog buttons every window shares.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
