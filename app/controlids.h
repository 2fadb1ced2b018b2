// Control ids of the main frame and the About box (see widgets/controlids.h). The menu
// commands are CMainFrame::Command.
#pragma once

#include "widgets/controlids.h"

// The main frame.
inline constexpr int kIdSplitter = 59648;
inline constexpr int kIdStatusBar = 59393;
inline constexpr int kIdStatusMessagePane = 57345;
inline constexpr int kIdCapsIndicator = 59137;
inline constexpr int kIdNumIndicator = 59138;
inline constexpr int kIdScrollIndicator = 59139;
inline constexpr int kIdSecurityIndicator = 1066;
inline constexpr int kIdServerIndicator = 1067;

// The About box.
inline constexpr int kIdAboutDialog = 100;
inline constexpr int kIdAboutPicture = 1048;
