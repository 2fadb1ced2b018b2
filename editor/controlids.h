// Control ids of the editor's windows: the tree, the property panels and the dialogs
// (see widgets/controlids.h). Each panel and dialog numbers its own controls, so the same
// value names different controls in different windows.
#pragma once

#include "widgets/controlids.h"

// The two panes.
inline constexpr int kIdConfigTree = 1024;
inline constexpr int kIdPropertyPanel = 100;

// The root list panels ("Rule Sets", "Form List Properties").
inline constexpr int kIdRootListAddButton = 100;
inline constexpr int kIdRootListRemoveButton = 101;
inline constexpr int kIdRootListList = 102;
inline constexpr int kIdRootListTitle = 103;

// The panel of a record without properties of its own.
inline constexpr int kIdPlainPanelTitle = 103;

// The rule set panel.
inline constexpr int kIdRuleSetAddRuleButton = 100;
inline constexpr int kIdRuleSetRemoveRuleButton = 101;
inline constexpr int kIdRuleSetTitle = 102;
inline constexpr int kIdRuleSetRuleList = 103;
inline constexpr int kIdRuleSetRenameButton = 104;

// The rule panel. A search rule shows the object class group, an entry point the start
// point group, both under the same group id.
inline constexpr int kIdRuleAddClassButton = 100;
inline constexpr int kIdRuleRemoveClassButton = 101;
inline constexpr int kIdRuleClassList = 102;
inline constexpr int kIdRuleAddSearchRuleButton = 103;
inline constexpr int kIdRuleRemoveSearchRuleButton = 104;
inline constexpr int kIdRuleSearchRuleList = 105;
inline constexpr int kIdRuleSetStartPointButton = 106;
inline constexpr int kIdRuleTitle = 107;
inline constexpr int kIdRuleNameLabel = 108;
inline constexpr int kIdRuleNameEdit = 109;
inline constexpr int kIdRuleSearchGroup = 110;
inline constexpr int kIdRuleSecondGroup = 111;
inline constexpr int kIdRuleBaseLabel = 112;
inline constexpr int kIdRuleBaseEdit = 113;
inline constexpr int kIdRuleHostLabel = 114;
inline constexpr int kIdRuleHostEdit = 115;
inline constexpr int kIdRulePortLabel = 116;
inline constexpr int kIdRulePortEdit = 117;
inline constexpr int kIdRuleRenameButton = 118;

// The form panel.
inline constexpr int kIdFormSetTargetButton = 100;
inline constexpr int kIdFormAddGroupButton = 101;
inline constexpr int kIdFormRemoveGroupButton = 102;
inline constexpr int kIdFormGroupList = 103;
inline constexpr int kIdFormTargetRuleLabel = 104;
inline constexpr int kIdFormTargetClassesLabel = 105;
inline constexpr int kIdFormTitle = 106;
inline constexpr int kIdFormRenameButton = 107;
// The form's tool tip and help text, each with its label.
inline constexpr int kIdFormToolTipLabel = 108;
inline constexpr int kIdFormToolTipEdit = 109;
inline constexpr int kIdFormHelpLabel = 110;
inline constexpr int kIdFormHelpEdit = 111;

// The input group panel.
inline constexpr int kIdInputGroupAddFieldButton = 100;
inline constexpr int kIdInputGroupRemoveFieldButton = 101;
inline constexpr int kIdInputGroupFieldList = 102;
inline constexpr int kIdInputGroupTitle = 103;
inline constexpr int kIdInputGroupRenameButton = 104;

// The input field panel.
inline constexpr int kIdInputFieldAddAttributeButton = 100;
inline constexpr int kIdInputFieldRemoveAttributeButton = 101;
inline constexpr int kIdInputFieldAttributeList = 102;
inline constexpr int kIdInputFieldTitle = 103;
inline constexpr int kIdInputFieldRenameButton = 104;

// The dialogs.
inline constexpr int kIdAddFilterAttributeDialog = 135;
inline constexpr int kIdAddInputFieldDialog = 136;
inline constexpr int kIdAddInputGroupDialog = 137;
inline constexpr int kIdStartPointDialog = 141;
inline constexpr int kIdChildRuleDialog = 142;
inline constexpr int kIdAddObjectClassDialog = 143;
inline constexpr int kIdAddRuleDialog = 144;

// The name edit and choice of the name dialogs.
inline constexpr int kIdNameEdit = 1000;
inline constexpr int kIdNameChoiceCombo = 1001;

// The start-point edits, the same in "Set Start Point" and in the entry-point part of
// "Add Rule".
inline constexpr int kIdSearchBaseEdit = 1000;
inline constexpr int kIdHostEdit = 1001;
inline constexpr int kIdPortEdit = 1002;

// "Add Rule".
inline constexpr int kIdAddRuleNameEdit = 1003;
inline constexpr int kIdAddRuleEntryPointGroup = 1011;
inline constexpr int kIdAddRuleSearchRuleRadio = 1012;
inline constexpr int kIdAddRuleEntryPointRadio = 1013;
inline constexpr int kIdAddRuleSearchRuleGroup = 1014;
inline constexpr int kIdAddRuleClassList = 1015;
inline constexpr int kIdAddRuleAddClassButton = 1016;
inline constexpr int kIdAddRuleRemoveClassButton = 1017;

// "Add Form Group Field".
inline constexpr int kIdAddFieldNameEdit = 1000;
inline constexpr int kIdAddFieldAttributeList = 1001;
inline constexpr int kIdAddFieldAttributeGroup = 1002;
inline constexpr int kIdAddFieldDefaultEdit = 1003;
// The note below the default value: the stores keep none.
inline constexpr int kIdAddFieldDefaultNote = 1004;
inline constexpr int kIdAddFieldAddAttributeButton = 3;
inline constexpr int kIdAddFieldRemoveAttributeButton = 4;

// "Add Child Search Rule".
inline constexpr int kIdChildRuleCombo = 1008;
