// Resource ids of the item commands' dialogs: the corrupted-files list and the item's "General" page.
#pragma once

#define IDD_CORRUPTED_FILES 118
#define IDC_CORRUPTED_CLOSE 1002
#define IDC_CORRUPTED_TREE 1003
#define IDC_CORRUPTED_DELETE 1004
#define IDC_CORRUPTED_LINE 1018
#define IDC_CORRUPTED_HEADING 1019

#define IDD_ITEM_GENERAL 119
#define IDC_ITEM_ICON 1006
#define IDC_ITEM_TYPE 1007
#define IDC_ITEM_NAME 1008
#define IDC_ITEM_COMMENT 1009
#define IDC_ITEM_SIZE 1010
#define IDC_ITEM_TYPE_LABEL 1011
#define IDC_ITEM_SIZE_LABEL 1012
#define IDC_ITEM_COMMENT_LABEL 1013
