// Control ids of the set-up wizard: its frame and its pages (see widgets/controlids.h).
// Pages number their own controls, so the same value may name different controls on
// different pages.
#pragma once

#include "widgets/controlids.h"

// The frame. Cancel is the shared kIdCancel.
inline constexpr int kIdBack = 12323;
inline constexpr int kIdNext = 12324;
inline constexpr int kIdFinish = 12325;
inline constexpr int kIdWizardBitmap = 1053;
inline constexpr int kIdWizardSeparator = 1055;

// The pages' templates; a page's window is named "page" and its template id.
inline constexpr int kIdHostPage = 147;
inline constexpr int kIdSubtreePage = 148;
inline constexpr int kIdAuthPage = 149;
inline constexpr int kIdServicesPage = 150;
inline constexpr int kIdIntroPage = 151;
inline constexpr int kIdSummaryPage = 156;
inline constexpr int kIdServiceInfoPage = 157;
inline constexpr int kIdLocationPage = 160;

// The host and port rows of the server pages.
inline constexpr int kIdServerHostLabel = 1018;
inline constexpr int kIdServerPortLabel = 1020;
inline constexpr int kIdServerPortEdit = 1021;
inline constexpr int kIdServerHostEdit = 1022;

// "Before you begin...".
inline constexpr int kIdIntroSchemaText = 1002;
inline constexpr int kIdIntroReadmeText = 1005;
inline constexpr int kIdIntroHeading = 1007;

// Where the configuration is kept.
inline constexpr int kIdDirectoryRadio = 1058;
inline constexpr int kIdLocalFilesRadio = 1059;

// The directory server.
inline constexpr int kIdHostPortArrows = 1046;
inline constexpr int kIdSecurityLabel = 1060;
inline constexpr int kIdSecurityCombo = 1061;
inline constexpr int kIdCaFileLabel = 1062;
inline constexpr int kIdCaFileEdit = 1063;
inline constexpr int kIdCaFileBrowseButton = 1064;

// The logon to the directory server.
inline constexpr int kIdUserDnLabel = 1025;
inline constexpr int kIdPasswordLabel = 1026;
inline constexpr int kIdUserDnEdit = 1032;
inline constexpr int kIdPasswordEdit = 1033;

// The parent of the configuration subtree.
inline constexpr int kIdSubtreeRdnText = 1002;
inline constexpr int kIdParentDnLabel = 1023;
inline constexpr int kIdParentDnEdit = 1024;

// The search services.
inline constexpr int kIdServicesText = 1031;
inline constexpr int kIdServiceCheckList = 9999;

// The information a search service needs.
inline constexpr int kIdServiceInfoText = 1002;
inline constexpr int kIdServiceAccessText = 1005;
inline constexpr int kIdServiceStartText = 1007;
inline constexpr int kIdServicePortArrows = 1019;
inline constexpr int kIdServiceNameLabel = 1034;
inline constexpr int kIdServiceBaseEdit = 1041;
inline constexpr int kIdServiceBaseLabel = 1042;

// The summary.
inline constexpr int kIdSummaryEdit = 1000;
