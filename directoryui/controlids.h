// Control ids of the logon and "Please Wait..." windows (see widgets/controlids.h).
#pragma once

#include "widgets/controlids.h"

// The logon dialog.
inline constexpr int kIdLogonDialog = 152;
inline constexpr int kIdLogonUserDnEdit = 1032;
inline constexpr int kIdLogonPasswordEdit = 1033;
inline constexpr int kIdLogonSecurityText = 1065;

// "Please Wait...".
inline constexpr int kIdPleaseWaitDialog = 153;
inline constexpr int kIdPleaseWaitHeading = 1034;
inline constexpr int kIdPleaseWaitMessage = 1035;
inline constexpr int kIdPleaseWaitProgress = 1036;
