// Resource and control identifiers of the storage file's own commands: the overlays' icons, the wait dialog with
// its animations, and the "Orrisafe tools" page.
#pragma once

// Icon groups in resource order after the product's icon (IDI_PRODUCT, 1): the three overlays, icon indexes 1 to 3.
#define IDI_FROZEN_OVERLAY 2
#define IDI_INACCESSIBLE_OVERLAY 3
#define IDI_KEY_OVERLAY 4

// The tools page and its group icons.
#define IDD_TOOLS_PAGE 120
#define IDI_KEY_MANAGEMENT 121
#define IDI_DEFRAGMENTATION 122
#define IDI_FREEZING 130

#define IDC_VIEW_KEY 1011
#define IDC_DEFRAGMENT 1012
#define IDC_INSTALL_KEY 1013
#define IDC_FREEZE 1017
#define IDC_UNFREEZE 1018
#define IDC_ATTACH_KEY 1021
#define IDC_DETACH_KEY 1022
#define IDC_EXPORT_KEY 1023
#define IDC_UNINSTALL_KEY 1024

// The wait dialog and the animations it plays.
#define IDD_WAIT 123
#define IDR_ANALYSIS_ANIMATION 124
#define IDR_DEFRAGMENTATION_ANIMATION 125
#define IDC_WAIT_ANIMATION 1014
#define IDC_WAIT_TEXT 1015
