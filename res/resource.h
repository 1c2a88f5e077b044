// Resource and command identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ABOUT_DIALOG 100
#define IDS_ABOUT_ITEM 101
#define IDD_MAIN_DIALOG 102
#define IDI_APP_ICON 128
#define IDM_ABOUT 0x0010
#define IDC_FORMAT_LIST 1000
#define IDC_CAPACITY_LIST 1001
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
