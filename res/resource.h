// Identifiers of the program's resources.
#pragma once

#define IDS_APP_TITLE 103
#define IDC_ZAR 109          // string: the window class name; menu: the main menu
#define IDI_ZAR 107
#define IDI_SMALL 108
#define IDD_MAIN_PANES 130
#define IDC_MODULE_LIST 1005
#define IDC_EVENT_TREE 1011
#define IDM_EXIT 105
#define IDM_FILE 32771
